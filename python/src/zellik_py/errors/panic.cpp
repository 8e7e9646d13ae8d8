#include "zellik_py/errors/panic.h"

#include "zellik_py/binding/guard.h"
#include "zellik_py/binding/module_state.h"

namespace zellik::py {

namespace {
struct PanicClass {};
}  // namespace

PyObject* panic_type() {
  // Created on first use and kept in the module's state.
  PyObject*& type = current_state().object(StateSlot<PanicClass>::index);
  if (type == nullptr) {
    type = PyErr_NewExceptionWithDoc(
        "zellik_sim.PanicException",
        "An internal failure of the zellik_sim engine (a broken invariant).\n\n"
        "Derives from BaseException so that ordinary `except Exception` handlers\n"
        "do not swallow it.",
        PyExc_BaseException, nullptr);
  }
  return type;
}

void raise_panic(const char* message) {
  PyObject* type = nullptr;
  try {
    type = panic_type();
  } catch (const PythonError&) {
    return;  // no module in this interpreter; that error is set
  }
  if (type == nullptr) return;  // creating the class failed; that error is set
  PyErr_SetString(type, message);
}

}  // namespace zellik::py
