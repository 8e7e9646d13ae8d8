#pragma once

// The plain-dict forms of what an exploration found (TerminalState and
// ExplorationResult), through which both classes pickle, copy and compare,
// and the exception that carries a partial result out of an interrupted
// exploration.
//
// The dicts hold str, int, bool, None and lists only, so that json writes
// them; a fingerprint is its 32 hex digits, since 128 bits is more than a
// JSON reader keeps of a number. Reading is strict, as for the net's dicts:
// ValueError "invalid field '{path}': {reason}", the path naming the field
// from the dict given ("terminals[0].run[3].events[1].kind").

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <span>
#include <string>

#include "zellik/explore/explorer.h"
#include "zellik_py/binding/boxed.h"
#include "zellik_py/binding/guard.h"
#include "zellik_py/binding/pickling.h"
#include "zellik_py/binding/ref.h"

namespace zellik::py {

// The names of the terminal kinds and of the stop reasons, by number
// (terminal_state.cpp); StopReason::None's is null.
std::span<const char* const> terminal_kind_names();
std::span<const char* const> stop_reason_names();

// One action of a run: {"action": its dict, then "response" and "events"
// (their dicts) for an action the engine did, or "error" for the refused one
// (run_dicts.cpp).
Ref recorded_action_to_dict(const explore::RecordedAction& recorded);
explore::RecordedAction recorded_action_from_dict(PyObject* obj, const std::string& path);

// result_dicts.cpp.
Ref terminal_to_dict(const explore::TerminalState& terminal);
explore::TerminalState terminal_from_dict(PyObject* obj, const std::string& path);
Ref result_to_dict(const explore::ExplorationResult& result);
explore::ExplorationResult result_from_dict(PyObject* obj, const std::string& path);

// Raises, in place of the pending exception a signal handler set, the one
// that carries `partial` as its `result`: ExplorationInterrupted for a plain
// KeyboardInterrupt, the exception itself, `result` set, for any other
// (exploration_interrupted.cpp).
[[noreturn]] void raise_interrupted(explore::ExplorationResult partial);
// Adds the class ExplorationInterrupted to the module.
void define_exploration_interrupted(PyObject* module);

// Equality of two objects of T's class: their dicts are equal (a dict holds
// every field). NotImplemented against anything else.
template <class T, Ref (*ToDict)(const T&)>
PyObject* dict_richcompare(PyObject* self, PyObject* other, int op) {
  if ((op != Py_EQ && op != Py_NE) || !is_instance<T>(other)) Py_RETURN_NOTIMPLEMENTED;
  return guard([&] {
    Ref a = ToDict(unbox<T>(self));
    Ref b = ToDict(unbox<T>(other));
    return own(PyObject_RichCompare(a.get(), b.get(), op));
  });
}

// __reduce__ through the class's from_dict: Class.from_dict(self.to_dict()).
template <class T, Ref (*ToDict)(const T&)>
PyObject* reduce_to_dict(PyObject* self, PyObject*) {
  return guard([&] {
    return rebuilt_by_static(reinterpret_cast<PyObject*>(Py_TYPE(self)), "from_dict",
                             tuple_of(ToDict(unbox<T>(self))));
  });
}

}  // namespace zellik::py
