#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zellik::py {

// The registration steps of the module body, in this order. Each adds
// its classes to `module` and throws PythonError at its first failure.
void register_exceptions(PyObject* module);
void register_graph_classes(PyObject* module);
void register_net_classes(PyObject* module);
// The explorer's classes (explore/explore_module.cpp).
void register_explore_classes(PyObject* module);

}  // namespace zellik::py
