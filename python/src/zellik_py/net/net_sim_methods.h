#pragma once

// NetSim's methods, one part per file, each holding the net (net_hold.h)
// for the length of its call. net_sim.cpp joins the parts, in this order,
// with the methods the layers above add, into the class's one table: a file
// of new methods declares its part here and adds it to that list.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <span>

namespace zellik::py {

// do_action, run_step, run_until_blocked and undo_action (net_sim_actions.cpp).
std::span<const PyMethodDef> net_sim_action_methods();
// The queries: is_blocked, get_packet, packets, to_dot, ... (net_sim_queries.cpp).
std::span<const PyMethodDef> net_sim_query_methods();
// run_round and inject, an executor's loop in few calls (net_sim_rounds.cpp).
std::span<const PyMethodDef> net_sim_round_methods();
// Pickle, copy and fork (net_sim_snapshot.cpp).
std::span<const PyMethodDef> net_sim_snapshot_methods();

}  // namespace zellik::py
