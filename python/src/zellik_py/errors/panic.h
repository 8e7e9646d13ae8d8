#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zellik::py {

// The panic exception class: derived directly from BaseException, not
// exported by the module. Created on first use; null with an error set if
// that fails.
PyObject* panic_type();

}  // namespace zellik::py
