#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zellik::py {

// Adds the module's exception classes to `module`, first of all its
// classes; throws PythonError at the first failure.
void register_exceptions(PyObject* module);

}  // namespace zellik::py
