#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <span>

namespace zellik::py {

// The module body, in the module's order: each step adds its class (or
// small family of classes) to `module`, defined by the file of that class,
// and throws PythonError at its first failure. A new class is one line here
// and one in kDefinitions (module.cpp).

void register_exceptions(PyObject* module);

// Graph classes (graph/).
void define_packet_count(PyObject* module);
void define_packet_count_n(PyObject* module);
void define_max_salvos(PyObject* module);
void define_max_salvos_finite(PyObject* module);
void define_port_slot_spec(PyObject* module);
void define_port_slot_spec_finite(PyObject* module);
void define_port_state(PyObject* module);
void define_port_state_numeric(PyObject* module);
void define_salvo_condition_term(PyObject* module);
void define_dependency_request_trigger(PyObject* module);
void define_dependency_request_config(PyObject* module);
void define_port(PyObject* module);
void define_port_type(PyObject* module);
void define_port_ref(PyObject* module);
void define_edge(PyObject* module);
void define_salvo_condition(PyObject* module);
void define_node(PyObject* module);
void define_validation_error_info(PyObject* module);
void define_graph(PyObject* module);

// Net classes (net/). NetSim takes the methods the layers above add to it.
void define_packet_location(PyObject* module);
void define_epoch_state(PyObject* module);
void define_packet(PyObject* module);
void define_salvo(PyObject* module);
void define_orphaned_packet_info(PyObject* module);
void define_epoch(PyObject* module);
void define_net_action(PyObject* module);
void define_net_event(PyObject* module);
void define_response_data(PyObject* module);
void define_net_sim(PyObject* module, std::span<const PyMethodDef> more_methods);
// The module-level function that rebuilds engine records from their pickled
// bytes (records.cpp).
void define_record_functions(PyObject* module);

// The explorer's classes (explore/), and the methods it adds to NetSim
// (net_explore.cpp): fingerprint and explore.
void define_declaration_classes(PyObject* module);
void define_terminal_state(PyObject* module);
void define_exploration_result(PyObject* module);
std::span<const PyMethodDef> explorer_net_sim_methods();

}  // namespace zellik::py
