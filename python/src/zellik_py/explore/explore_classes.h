#pragma once

#include <span>
#include <string>
#include <vector>

#include "zellik/explore/behaviour.h"
#include "zellik/explore/explorer.h"
#include "zellik_py/binding/class_file.h"

namespace zellik::py {

// The explorer's classes, in the order the module lists them (module.cpp;
// ExplorationInterrupted comes with ExplorationResult), and the methods it
// adds to NetSim (net_explore.cpp): fingerprint and explore.
void define_declaration_classes(PyObject* module);
void define_terminal_state(PyObject* module);
void define_exploration_result(PyObject* module);
void define_state_view(PyObject* module);
std::span<const PyMethodDef> explorer_net_sim_methods();

// Conversions between the classes and the explorer's values.
const explore::Behaviour& behaviour_arg(PyObject* obj, const char* arg);
const explore::Outcome& outcome_arg(PyObject* obj, const char* arg);
const explore::Injection& injection_arg(PyObject* obj, const char* arg);
const explore::RequestAllowance& request_allowance_arg(PyObject* obj, const char* arg);
// A zellik_sim.properties.Property at `path` ("properties[2]"); a predicate's
// callable goes into `keep`, which must outlive the explorer (properties.cpp).
explore::Property property_arg(PyObject* obj, const std::string& path, std::vector<Ref>& keep);
Ref terminal_state_to_py(explore::TerminalState terminal);
Ref exploration_result_to_py(explore::ExplorationResult result);
// A fingerprint as a Python int (its 128 bits, high word first).
Ref fingerprint_to_py(const Fingerprint& f);

// The methods the explorer adds to NetSim (net_explore.cpp), with their
// docstrings.
extern const char kNetFingerprintDoc[];
extern const char kNetExploreDoc[];
PyObject* net_fingerprint(PyObject* self, PyObject* unused);
PyObject* net_explore(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
// One epoch, or a list of actions, in one call (net_execute.cpp).
extern const char kNetExecuteDoc[];
extern const char kNetDoActionsDoc[];
PyObject* net_execute(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* net_do_actions(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames);

}  // namespace zellik::py
