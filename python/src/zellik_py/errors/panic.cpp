#include "zellik_py/errors/panic.h"
#include "zellik_py/binding/guard.h"

namespace zellik::py {

PyObject* panic_type() {
  // Created on first use and kept for the life of the process.
  static PyObject* type = PyErr_NewExceptionWithDoc(
      "zellik_sim.PanicException",
      "An internal failure of the zellik_sim engine (a broken invariant).\n\n"
      "Derives from BaseException so that ordinary `except Exception` handlers\n"
      "do not swallow it.",
      PyExc_BaseException, nullptr);
  return type;
}

void raise_panic(const char* message) {
  PyObject* type = panic_type();
  if (type == nullptr) return;  // creating the class failed; that error is set
  PyErr_SetString(type, message);
}

}  // namespace zellik::py
