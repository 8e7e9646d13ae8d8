// ExplorationInterrupted: the KeyboardInterrupt that stops an exploration,
// carrying what was found so far.

#include <utility>

#include "zellik_py/binding/class_file.h"
#include "zellik_py/explore/explore_classes.h"
#include "zellik_py/explore/result_forms.h"

namespace zellik::py {

namespace {

const char kDoc[] =
    "The KeyboardInterrupt (Ctrl-C) that stopped NetSim.explore, with what it had found so\n"
    "far as `result`, an ExplorationResult whose `stopped` is 'cancelled'. An exception\n"
    "of another class that a signal handler raises keeps its class and gets `result` too.";

// Made with the module and kept in its state, as the other exception
// classes are.
struct InterruptedClass {};

}  // namespace

void define_exploration_interrupted(PyObject* module) {
  PyObject*& cls = state_of_module(module).object(StateSlot<InterruptedClass>::index);
  if (cls == nullptr) {
    cls = check(PyErr_NewExceptionWithDoc("zellik_sim.ExplorationInterrupted", kDoc,
                                          PyExc_KeyboardInterrupt, nullptr));
  }
  check_status(PyModule_AddObjectRef(module, "ExplorationInterrupted", cls));
}

void raise_interrupted(explore::ExplorationResult partial) {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  Ref owned_type = Ref::steal(type);
  Ref owned_value = Ref::steal(value);
  Ref owned_traceback = Ref::steal(traceback);
  Ref result = exploration_result_to_py(std::move(partial));
  PyObject* interrupted_class = current_state().object(StateSlot<InterruptedClass>::index);
  if (type == PyExc_KeyboardInterrupt && value != nullptr) {
    // The same interrupt, as the class that types its `result`.
    Ref args = own(PyObject_GetAttrString(value, "args"));
    Ref interrupted = own(PyObject_Call(interrupted_class, args.get(), nullptr));
    if (traceback != nullptr) check_status(PyException_SetTraceback(interrupted.get(), traceback));
    owned_type = Ref::borrow(interrupted_class);
    owned_value = std::move(interrupted);
  }
  if (owned_value && PyObject_SetAttrString(owned_value.get(), "result", result.get()) < 0) {
    PyErr_Clear();
  }
  PyErr_Restore(owned_type.release(), owned_value.release(), owned_traceback.release());
  throw PythonError{};
}

}  // namespace zellik::py
