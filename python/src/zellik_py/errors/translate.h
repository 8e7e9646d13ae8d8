#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>

#include "zellik/net/execute.h"
#include "zellik/net/net_action_error.h"
#include "zellik/net/undo_error.h"

namespace zellik::py {

// Sets the module exception that belongs to an action error, with its
// message, and throws PythonError. The message is built at once; the
// exception object is made when the interpreter needs it.
[[noreturn]] void raise_action_error(const NetActionError& error);

// The same for an undo error.
[[noreturn]] void raise_undo_error(const UndoError& error);

// The same for a batch of actions refused part way (execute, inject,
// do_actions): the refused action's exception, its message "{what}: {step
// word} N (Kind) was refused: {the action's own message}".
[[noreturn]] void raise_batch_error(const BatchError& error, const std::string& what,
                                    const char* step_word);

// The class and message an action error translates to (for tests and tools).
PyObject* action_error_class(NetActionError::Kind kind);
std::string action_error_message(const NetActionError& error);

}  // namespace zellik::py
