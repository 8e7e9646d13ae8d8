// The module's exception classes and the translation of the engine's action
// and undo errors into them.

#include <cstddef>
#include <string>
#include <string_view>

#include "zellik_py/binding/guard.h"
#include "zellik_py/errors/translate.h"
#include "zellik_py/module/registration.h"

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

// Created on first use and kept for the life of the process.
PyObject* g_classes[kClassCount] = {};

// The class of a row; null with the error set when it cannot be made.
PyObject* class_at(std::size_t row) {
  if (g_classes[row] != nullptr) return g_classes[row];
  const ExceptionClass& entry = kExceptionClasses[row];
  PyObject* base = entry.base == kBuiltin ? PyExc_Exception
                                          : class_at(static_cast<std::size_t>(entry.base));
  if (base == nullptr) return nullptr;
  const std::string dotted = std::string("zellik_sim.") + entry.name;
  g_classes[row] = PyErr_NewException(dotted.c_str(), base, nullptr);
  return g_classes[row];
}

// The class of that bare name (the variant's name followed by "Error").
PyObject* class_named(std::string_view name) {
  for (std::size_t row = 0; row < kClassCount; ++row) {
    if (name == kExceptionClasses[row].name) return class_at(row);
  }
  fail("No exception class named " + std::string(name));
}

// ---------------------------------------------------------------------------
// Action errors: one row per kind, in the kinds' order. Placeholders name the
// error's fields: ids in their 26-character text, names as they are, the edge
// in its text form.

struct ActionErrorText {
  NetActionError::Kind kind;
  const char* variant;  // the class is "{variant}Error"
  const char* message;
};

using K = NetActionError::Kind;
constexpr ActionErrorText kActionErrors[] = {
    {K::PacketNotFound, "PacketNotFound", "Packet not found: {packet_id}"},
    {K::EpochNotFound, "EpochNotFound", "Epoch not found: {epoch_id}"},
    {K::EpochNotRunning, "EpochNotRunning", "Epoch not running: {epoch_id}"},
    {K::EpochNotStartable, "EpochNotStartable", "Epoch not startable: {epoch_id}"},
    {K::CannotFinishNonEmptyEpoch, "CannotFinishNonEmptyEpoch",
     "Cannot finish epoch with packets remaining: {epoch_id}"},
    {K::UnsentOutputSalvo, "UnsentOutputSalvo",
     "Cannot finish epoch {epoch_id}: output port '{port_name}' has unsent packets"},
    {K::PacketNotInAnyNode, "PacketNotInAnyNode", "Packet {packet_id} is not inside any epoch"},
    {K::OutputPortNotFound, "OutputPortNotFound",
     "Output port '{port_name}' not found in epoch {epoch_id}"},
    {K::SalvoConditionNotFound, "SalvoConditionNotFound",
     "Salvo condition '{condition_name}' not found for epoch {epoch_id}"},
    {K::MaxSalvosExceeded, "MaxSalvosExceeded",
     "Max salvos exceeded for condition '{condition_name}' in epoch {epoch_id}"},
    {K::SalvoConditionNotMet, "SalvoConditionNotMet",
     "Salvo condition '{condition_name}' not met for epoch {epoch_id}"},
    {K::OutputPortFull, "OutputPortFull", "Output port '{port_name}' is full in epoch {epoch_id}"},
    {K::NodeNotFound, "NodeNotFound", "Node not found: {node_name}"},
    {K::PacketNotAtInputPort, "PacketNotAtInputPort",
     "Packet {packet_id} not at input port '{port_name}' on node '{node_name}'"},
    {K::InputPortNotFound, "InputPortNotFound",
     "Input port '{port_name}' not found on node {node_name}"},
    {K::InputPortFull, "InputPortFull", "Input port '{port_name}' is full on node {node_name}"},
    {K::CannotMovePacketFromRunningEpoch, "CannotMovePacketFromRunningEpoch",
     "Cannot move packet {packet_id} from running epoch {epoch_id}"},
    {K::CannotMovePacketIntoRunningEpoch, "CannotMovePacketIntoRunningEpoch",
     "Cannot move packet {packet_id} into running epoch {epoch_id}"},
    {K::EdgeNotFound, "EdgeNotFound", "Edge not found: {edge}"},
    {K::RequestCycleDetected, "RequestCycleDetected",
     "Request cascade cycle detected at node '{node_name}'"},
    {K::RequestUnconnectedPort, "RequestUnconnectedPort",
     "Request cascade reached unconnected input port '{port_name}' on node '{node_name}'"},
    {K::RequestNodeNotFound, "RequestNodeNotFound", "Request targets non-existent node '{node_name}'"},
};

constexpr bool rows_follow_kinds() {
  for (std::size_t i = 0; i < std::size(kActionErrors); ++i) {
    if (static_cast<std::size_t>(kActionErrors[i].kind) != i) return false;
  }
  return true;
}
static_assert(rows_follow_kinds(), "one action error row per kind, in the kinds' order");

const ActionErrorText& action_row(NetActionError::Kind kind) {
  return kActionErrors[static_cast<std::size_t>(kind)];
}

// The text of the field a placeholder names.
std::string field_text(const NetActionError& error, std::string_view field) {
  if (field == "packet_id") return error.packet_id.to_string();
  if (field == "epoch_id") return error.epoch_id.to_string();
  if (field == "node_name") return error.node_name.str();
  if (field == "port_name") return error.port_name.str();
  if (field == "condition_name") return error.condition_name.str();
  if (field == "edge") return error.edge ? error.edge->to_string() : std::string();
  fail("Unknown action error field " + std::string(field));
}

std::string fill(std::string_view message, const NetActionError& error) {
  std::string text;
  std::size_t pos = 0;
  while (pos < message.size()) {
    const std::size_t open = message.find('{', pos);
    if (open == std::string_view::npos) break;
    const std::size_t close = message.find('}', open);
    text.append(message.substr(pos, open - pos));
    text.append(field_text(error, message.substr(open + 1, close - open - 1)));
    pos = close + 1;
  }
  text.append(message.substr(pos));
  return text;
}

// ---------------------------------------------------------------------------
// Undo errors: a class and a prefix per kind, in the kinds' order.

struct UndoErrorText {
  const char* variant;
  const char* prefix;
};

constexpr UndoErrorText kUndoErrors[] = {
    {"UndoStateMismatch", "State mismatch: "},
    {"UndoNotFound", "Entity not found: "},
    {"UndoNotUndoable", "Action not undoable: "},
    {"UndoInternal", "Internal error: "},
};

// Sets the class named "{variant}Error" with the message; the interpreter
// makes the exception object when it needs it.
[[noreturn]] void raise_named(std::string_view variant, const std::string& message) {
  PyObject* cls = class_named(std::string(variant) + "Error");
  if (cls == nullptr) throw PythonError{};
  raise(cls, message);
}

}  // namespace

void register_exceptions(PyObject* module) {
  for (std::size_t row = 0; row < kClassCount; ++row) {
    PyObject* cls = check(class_at(row));
    check_status(PyModule_AddObjectRef(module, kExceptionClasses[row].name, cls));
  }
}

PyObject* action_error_class(NetActionError::Kind kind) {
  return class_named(std::string(action_row(kind).variant) + "Error");
}

std::string action_error_message(const NetActionError& error) {
  return fill(action_row(error.kind).message, error);
}

void raise_action_error(const NetActionError& error) {
  raise_named(action_row(error.kind).variant, action_error_message(error));
}

void raise_undo_error(const UndoError& error) {
  const UndoErrorText& row = kUndoErrors[static_cast<std::size_t>(error.kind)];
  raise_named(row.variant, row.prefix + error.text);
}

}  // namespace zellik::py
