// NetSim's actions: do_action, run_step, run_until_blocked and undo_action,
// each holding the net exclusively.

#include <array>
#include <chrono>
#include <span>
#include <utility>

#include "zellik/net/net_sim.h"
#include "zellik_py/binding/args.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/errors/translate.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/net_hold.h"
#include "zellik_py/net/net_sim_methods.h"

namespace zellik::py {

namespace {

Ref success_to_py(Ref first, EventList&& events) {
  Ref list = events_to_py(std::move(events));
  return own(PyTuple_Pack(2, first.get(), list.get()));
}

PyObject* do_action(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("do_action", std::array{"action"}, 1, args, nargs, kwnames);
    Hold hold(value_of(self), Use::Exclusive);
    NetActionResponse response = hold.net().do_action(action_arg(a[0], "action"));
    if (!response.ok()) raise_action_error(response.error());
    return success_to_py(response_data_to_py(response.value().data),
                         std::move(response.value().events));
  });
}

PyObject* run_step(PyObject* self, PyObject*) {
  return guard([&] {
    Hold hold(value_of(self), Use::Exclusive);
    NetActionResponse response = hold.net().do_action(action::RunStep{});
    if (!response.ok()) raise_action_error(response.error());
    const bool made_progress = std::get<response::StepResult>(response.value().data).made_progress;
    return success_to_py(to_py_bool(made_progress), std::move(response.value().events));
  });
}

// run_until_blocked gives the interpreter lock back while the engine steps,
// in chunks of at most kChunkSteps steps, kChunkTime or about kChunkEvents
// events, whichever ends first; between chunks it takes the lock, turns the
// chunk's events into Python objects and checks for signals. The event
// bound keeps the reused chunk small enough to stay in the core's cache
// between being written by the engine and read into objects.
constexpr std::size_t kChunkSteps = 4096;
constexpr auto kChunkTime = std::chrono::milliseconds(2);
constexpr std::size_t kChunkEvents = 4096;

// Gives the exception a signal handler raised (KeyboardInterrupt, usually)
// the events of the steps that completed, as its `events` attribute, so that
// the caller still knows what changed.
void attach_events(PyObject* events) {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr && PyObject_SetAttrString(value, "events", events) < 0) PyErr_Clear();
  PyErr_Restore(type, value, traceback);
}

// Stops with KeyboardInterrupt (or whatever a signal handler raises) between
// two chunks, the net as the last completed step left it.
PyObject* run_until_blocked(PyObject* self, PyObject*) {
  return guard([&] {
    Hold hold(value_of(self), Use::Exclusive);
    NetSim& net = hold.net();
    Ref events = own(PyList_New(0));
    if (net.is_blocked()) return events;
    EventList chunk;
    run_in_chunks(
        [&] {
          chunk.clear();
          return net.run_steps_into(chunk, kChunkSteps,
                                    std::chrono::steady_clock::now() + kChunkTime, kChunkEvents);
        },
        // The chunk is cleared next: its events move into their objects.
        [&](bool) { append_events(events.get(), chunk); }, [&] { attach_events(events.get()); });
    return events;
  });
}

// ---------------------------------------------------------------------------
// Undo

// Every argument is converted before the engine is called: a wrong one
// leaves the net untouched.
PyObject* undo_action(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("undo_action", std::array{"action", "events"}, 2, args, nargs, kwnames);
    Hold hold(value_of(self), Use::Exclusive);
    if (!is_net_action(a[0])) raise_arg_type(a[0], "action", "NetAction");
    PyObject* list = a[1];
    if (!PyList_Check(list)) raise_arg_type(list, "events", "list");
    NetAction action = action_arg(a[0], "action");
    const Py_ssize_t size = PyList_Size(list);
    EventList events;
    events.reserve(static_cast<std::size_t>(size));
    for (Py_ssize_t i = 0; i < size; ++i)
      events.push_back(event_arg(PyList_GetItem(list, i), "events"));
    Result<Unit, UndoError> undone = hold.net().undo_action(action, events);
    if (!undone.ok()) raise_undo_error(undone.error());
    return none();
  });
}

}  // namespace

std::span<const PyMethodDef> net_sim_action_methods() {
  static const PyMethodDef kMethods[] = {
      method_def(
          "do_action", &do_action,
          "do_action($self, action)\n--\n\nPerform an action on the network.\n"
          "Returns (response_data, events) tuple on success.\nRaises an exception on error."),
      method_def("run_step", &run_step,
                 "run_step($self)\n--\n\nRun one step of automatic packet flow.\n\n"
                 "Convenience method equivalent to `do_action(NetAction.run_step())`.\n\n"
                 "Returns:\n    A tuple of (made_progress, events) where made_progress indicates\n"
                 "    whether any packets were moved."),
      method_def(
          "run_until_blocked", &run_until_blocked,
          "run_until_blocked($self)\n--\n\nRun the network until blocked, returning all events."),
      method_def("undo_action", &undo_action,
                 "undo_action($self, action, events)\n--\n\nUndo a previously executed action.\n\n"
                 "Args:\n    action: The original action that was executed\n"
                 "    events: The events that were produced by the action\n\n"
                 "Raises:\n    UndoError: If the undo operation fails"),
  };
  return kMethods;
}

}  // namespace zellik::py
