#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <functional>

#include "zellik/net/net_sim.h"
#include "zellik_py/binding/args.h"
#include "zellik_py/binding/boxed.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/guard.h"
#include "zellik_py/binding/methods.h"
#include "zellik_py/binding/ref.h"

namespace zellik::py {

// The net classes, each defined by the file of its class (or small family)
// and added to the module by register_net_classes in the module's order.
// Their conversions are in net_convert.h, identifiers in identifiers.h.
void define_packet_location(PyObject* module);
void define_epoch_state(PyObject* module);
void define_packet(PyObject* module);
void define_salvo(PyObject* module);
void define_orphaned_packet_info(PyObject* module);
void define_epoch(PyObject* module);
void define_net_action(PyObject* module);
void define_net_event(PyObject* module);
void define_response_data(PyObject* module);
void define_net_sim(PyObject* module);
// The module-level function that rebuilds engine records from their pickled
// bytes (records.cpp).
void define_record_functions(PyObject* module);

// Calls `use` with the engine of a NetSim object, held shared meanwhile: how
// the methods other layers add to NetSim reach it (net_sim.cpp).
Ref with_net(PyObject* self, const std::function<Ref(const NetSim&)>& use);

}  // namespace zellik::py
