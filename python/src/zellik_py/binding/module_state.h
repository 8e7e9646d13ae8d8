#pragma once

// The module's state: everything the module makes when it is imported (its
// classes, its exception classes) and every Python object it keeps between
// calls (interned names, the ulid class last seen, the graph's name cache).
// Each module object owns one; an interpreter imports the module once, so
// each interpreter has its own, and nothing Python is shared between
// interpreters.
//
// A piece of state is reached by its slot, an index given to it when the
// extension is loaded (StateSlot), so a layer adds state of its own without
// the binding knowing what it is:
//
//   struct KnownUlidClass {};
//   PyObject*& known = current_state().object(StateSlot<KnownUlidClass>::index);
//
// Code that has no object of the module at hand finds the state with
// current_state(): the state of the interpreter running the call.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

namespace zellik::py {

// A new slot number, or `count` consecutive ones; called while the extension
// is loaded, before any module exists.
std::size_t next_state_slots(std::size_t count);

// The slot of the state a Tag type names, one per Tag.
template <class Tag>
struct StateSlot {
  static inline const std::size_t index = next_state_slots(1);
};

class ModuleState {
 public:
  ModuleState();
  ModuleState(const ModuleState&) = delete;
  ModuleState& operator=(const ModuleState&) = delete;
  ~ModuleState();

  // The object held in `slot` (an owned reference, or null when nothing has
  // been made for it yet); assign a new reference to fill it.
  PyObject*& object(std::size_t slot) { return objects_[slot]; }
  PyObject* object(std::size_t slot) const { return objects_[slot]; }

  // The C++ value T kept in the state, made on first use (T must be default
  // constructible; it may hold references it drops in its destructor).
  template <class T>
  T& value() {
    const std::size_t slot = StateSlot<T>::index;
    if (!values_[slot]) values_[slot] = std::make_shared<T>();
    return *static_cast<T*>(values_[slot].get());
  }

  // For the interpreter's garbage collector: every object the state holds,
  // and dropping them all.
  int traverse(visitproc visit, void* arg) const;
  void clear();

 private:
  std::vector<PyObject*> objects_;
  std::vector<std::shared_ptr<void>> values_;
};

// The state of `module`, an object made by the module's definition.
ModuleState& state_of_module(PyObject* module);
// The state of the module that made `type` (a class of the module).
ModuleState& state_of_type(PyTypeObject* type);

// Which state belongs to which interpreter. An interpreter has at most one:
// attach_state refuses a second with ImportError (throwing PythonError).
void attach_state(ModuleState& state);
// Forgets `state` (nothing when it is not attached).
void detach_state(const ModuleState& state);

namespace detail {
// The state when only one interpreter has the module (the usual case, and
// the quick one); null otherwise.
extern std::atomic<ModuleState*> g_only_state;
ModuleState& state_of_interpreter();
}  // namespace detail

// The state of the module in the interpreter running this call.
inline ModuleState& current_state() {
  ModuleState* only = detail::g_only_state.load(std::memory_order_acquire);
  if (only != nullptr) [[likely]]
    return *only;
  return detail::state_of_interpreter();
}

}  // namespace zellik::py
