// The module's exception classes and the translation of the engine's action
// and undo errors into them.

#include <cstddef>
#include <string>
#include <string_view>

#include "zellik_py/binding/guard.h"
#include "zellik_py/binding/module_state.h"
#include "zellik_py/errors/exceptions.h"
#include "zellik_py/errors/translate.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// The classes, in the order the module lists them. Each derives from the
// built-in Exception (kBuiltin) or from an earlier row.

constexpr int kBuiltin = -1;
constexpr int kZellik = 0;  // ZellikError
constexpr int kUndo = 24;   // UndoError

struct ExceptionClass {
  const char* name;  // bare class name
  int base;          // row of the base class, or kBuiltin
};

constexpr ExceptionClass kExceptionClasses[] = {
    {"ZellikError", kBuiltin},
    {"PacketNotFoundError", kZellik},
    {"EpochNotFoundError", kZellik},
    {"EpochNotRunningError", kZellik},
    {"EpochNotStartableError", kZellik},
    {"CannotFinishNonEmptyEpochError", kZellik},
    {"UnsentOutputSalvoError", kZellik},
    {"PacketNotInAnyNodeError", kZellik},
    {"OutputPortNotFoundError", kZellik},
    {"OutputPortFullError", kZellik},
    {"SalvoConditionNotFoundError", kZellik},
    {"SalvoConditionNotMetError", kZellik},
    {"MaxSalvosExceededError", kZellik},
    {"NodeNotFoundError", kZellik},
    {"PacketNotAtInputPortError", kZellik},
    {"InputPortNotFoundError", kZellik},
    {"InputPortFullError", kZellik},
    {"CannotMovePacketFromRunningEpochError", kZellik},
    {"CannotMovePacketIntoRunningEpochError", kZellik},
    {"EdgeNotFoundError", kZellik},
    {"GraphValidationError", kZellik},
    {"RequestCycleDetectedError", kZellik},
    {"RequestUnconnectedPortError", kZellik},
    {"RequestNodeNotFoundError", kZellik},
    {"UndoError", kZellik},
    {"UndoStateMismatchError", kUndo},
    {"UndoNotFoundError", kUndo},
    {"UndoNotUndoableError", kUndo},
    {"UndoInternalError", kUndo},
};
constexpr std::size_t kClassCount = std::size(kExceptionClasses);
static_assert(std::string_view(kExceptionClasses[kZellik].name) == "ZellikError");
static_assert(std::string_view(kExceptionClasses[kUndo].name) == "UndoError");

// Created on first use and kept in the module's state, one slot per row.
const std::size_t kFirstSlot = next_state_slots(kClassCount);

// The class of a row; null with the error set when it cannot be made.
PyObject* class_at(ModuleState& state, std::size_t row) {
  PyObject*& cls = state.object(kFirstSlot + row);
  if (cls != nullptr) return cls;
  const ExceptionClass& entry = kExceptionClasses[row];
  PyObject* base = entry.base == kBuiltin ? PyExc_Exception
                                          : class_at(state, static_cast<std::size_t>(entry.base));
  if (base == nullptr) return nullptr;
  const std::string dotted = std::string("zellik_sim.") + entry.name;
  cls = PyErr_NewException(dotted.c_str(), base, nullptr);
  return cls;
}

// The class of that bare name (the variant's name followed by "Error").
PyObject* class_named(std::string_view name) {
  for (std::size_t row = 0; row < kClassCount; ++row) {
    if (name == kExceptionClasses[row].name) return class_at(current_state(), row);
  }
  fail("No exception class named " + std::string(name));
}

// Sets the class named "{variant}Error" with the message; the interpreter
// makes the exception object when it needs it.
[[noreturn]] void raise_named(std::string_view variant, const std::string& message) {
  PyObject* cls = class_named(std::string(variant) + "Error");
  if (cls == nullptr) throw PythonError{};
  raise(cls, message);
}

}  // namespace

void register_exceptions(PyObject* module) {
  ModuleState& state = state_of_module(module);
  for (std::size_t row = 0; row < kClassCount; ++row) {
    PyObject* cls = check(class_at(state, row));
    check_status(PyModule_AddObjectRef(module, kExceptionClasses[row].name, cls));
  }
}

// The class of an action or undo error is the one named after its variant;
// the names and messages themselves come from the engine's error types.
PyObject* action_error_class(NetActionError::Kind kind) {
  return class_named(std::string(zellik::kind_name(kind)) + "Error");
}

std::string action_error_message(const NetActionError& error) { return zellik::message(error); }

void raise_action_error(const NetActionError& error) {
  raise_named(zellik::kind_name(error.kind), zellik::message(error));
}

void raise_batch_error(const BatchError& error, const std::string& what, const char* step_word) {
  raise(action_error_class(error.error.kind),
        what + ": " + step_word + " " + std::to_string(error.step) + " (" +
            std::string(kKindNames<NetAction>[error.action.index()]) +
            ") was refused: " + action_error_message(error.error));
}

void raise_undo_error(const UndoError& error) {
  raise_named(UndoError::kind_name(error.kind), error.message());
}

}  // namespace zellik::py
