#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <string>

#include "zellik/explore/behaviour.h"
#include "zellik/explore/explorer.h"
#include "zellik_py/binding/args.h"
#include "zellik_py/binding/boxed.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/guard.h"
#include "zellik_py/binding/methods.h"
#include "zellik_py/binding/ref.h"

namespace zellik::py {

// The explorer's classes, each defined by the file of its class and added
// to the module after the net classes (explore_module.cpp).
void define_outcome(PyObject* module);
void define_behaviour(PyObject* module);
void define_injection(PyObject* module);
void define_request_allowance(PyObject* module);
void define_terminal_state(PyObject* module);
void define_exploration_result(PyObject* module);
void register_explore_classes(PyObject* module);

// Conversions between the classes and the explorer's values.
const explore::Outcome& outcome_arg(PyObject* obj, const char* arg);
const explore::Behaviour& behaviour_arg(PyObject* obj, const char* arg);
const explore::Injection& injection_arg(PyObject* obj, const char* arg);
const explore::RequestAllowance& request_allowance_arg(PyObject* obj, const char* arg);
Ref outcome_to_py(const explore::Outcome& outcome);
std::string outcome_repr(const explore::Outcome& outcome);
Ref terminal_state_to_py(explore::TerminalState terminal);
Ref exploration_result_to_py(explore::Result result);
// A fingerprint as a Python int (its 128 bits, high word first).
Ref fingerprint_to_py(const Fingerprint& f);

// A count: an int not below 0. ValueError "{what} is negative ({value})"
// for a negative one, TypeError for anything but an int.
std::uint64_t count_arg(PyObject* obj, const std::string& what);

// The methods the explorer adds to NetSim (net_explore.cpp), with their
// docstrings.
extern const char kNetFingerprintDoc[];
extern const char kNetExploreDoc[];
PyObject* net_fingerprint(PyObject* self, PyObject* unused);
PyObject* net_explore(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace zellik::py
