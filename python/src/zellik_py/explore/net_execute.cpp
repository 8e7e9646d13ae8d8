// NetSim.execute and NetSim.do_actions: one epoch, or a list of actions, in
// one call, all or nothing. Here rather than in the net layer because
// execute takes the explorer's Outcome.

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "zellik/net/execute.h"
#include "zellik/net/handles.h"
#include "zellik_py/binding/args.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/errors/translate.h"
#include "zellik_py/explore/explore_classes.h"
#include "zellik_py/net/identifiers.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/net_hold.h"

namespace zellik::py {

const char kNetExecuteDoc[] =
    "execute($self, epoch_id, outcome, *, events=True)\n--\n\n"
    "Run a live epoch to its end as `outcome` says, in one call: start it when\n"
    "Startable, consume its input packets (or load them into outcome.pass_to), create\n"
    "and load outcome.creates, send outcome.sends in order and finish it: the actions\n"
    "one would do one by one, with the same events. Returns (created, events):\n"
    "created maps each output port of outcome.creates to the ids made for it, in\n"
    "order, as str. With events=False the events list is left empty (and never\n"
    "built). All or nothing: a refused action undoes the ones before it and raises\n"
    "its own exception, whose message names it ('step N (Kind)').";

const char kNetDoActionsDoc[] =
    "do_actions($self, actions)\n--\n\n"
    "Perform `actions` in order, as do_action would, in one call. Returns a list of\n"
    "(response_data, events), one per action. All or nothing: a refused action\n"
    "undoes the ones before it and raises its own exception, whose message names it\n"
    "('action N (Kind)'). A RunStep refused in its request phase keeps the moves it\n"
    "made, as it does on its own.";

namespace {

// More packets than any net holds: a sum of creates that reaches it is
// refused whatever its exact value.
constexpr std::uint64_t kMostPackets = std::uint64_t{kNoPacket};

}  // namespace

PyObject* net_execute(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a =
        parse_fast("execute", std::array{"epoch_id", "outcome", "events"}, 2, args, nargs, kwnames);
    const Ulid epoch_id = identifier_arg(a[0], "epoch_id");
    const explore::Outcome& declared = outcome_arg(a[1], "outcome");
    const bool keep_events = a[2] == nullptr || to_bool_arg(a[2], "events");
    const EpochOutcome outcome{declared.pass_to, declared.creates, declared.sends};
    EventList events;
    Result<CreatedPackets, BatchError> done = [&] {
      Hold hold(value_of(self), Use::Exclusive);
      std::uint64_t made = 0;
      for (const auto& [port, count] : outcome.creates) {
        made = count > kMostPackets - made ? kMostPackets : made + count;
      }
      check_packet_room(hold.net(), made, "execute", "outcome");
      return execute(hold.net(), epoch_id, outcome, events);
    }();
    if (!done.ok()) {
      raise_batch_error(done.error(), "Cannot execute epoch " + epoch_id.to_string(), "step");
    }
    Ref created = own(PyDict_New());
    for (const auto& [port, ids] : done.value()) {
      Ref key = to_py(port);
      PyObject* list = PyDict_GetItemWithError(created.get(), key.get());  // borrowed
      if (list == nullptr) {
        if (PyErr_Occurred() != nullptr) throw PythonError{};
        Ref fresh = own(PyList_New(0));
        if (PyDict_SetItem(created.get(), key.get(), fresh.get()) < 0) throw PythonError{};
        list = fresh.get();
      }
      for (const Ulid& id : ids) {
        if (PyList_Append(list, id_to_py(id).get()) < 0) throw PythonError{};
      }
    }
    Ref list = keep_events ? events_to_py(std::move(events)) : own(PyList_New(0));
    return own(PyTuple_Pack(2, created.get(), list.get()));
  });
}

PyObject* net_do_actions(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("do_actions", std::array{"actions"}, 1, args, nargs, kwnames);
    std::vector<NetAction> actions;
    for (const Ref& item : sequence_items(a[0], "actions")) {
      actions.push_back(action_arg(item.get(), "actions"));
    }
    std::vector<NetActionSuccess> done;
    done.reserve(actions.size());
    Result<Unit, BatchError> result = [&] {
      Hold hold(value_of(self), Use::Exclusive);
      return do_actions(hold.net(), actions, done);
    }();
    if (!result.ok()) raise_batch_error(result.error(), "Cannot do the actions", "action");
    Ref list = own(PyList_New(static_cast<Py_ssize_t>(done.size())));
    for (std::size_t i = 0; i < done.size(); ++i) {
      Ref data = response_data_to_py(done[i].data);
      Ref events = events_to_py(std::move(done[i].events));
      // PyList_SetItem steals the reference, even when it fails.
      if (PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i),
                         own(PyTuple_Pack(2, data.get(), events.get())).release()) < 0) {
        throw PythonError{};
      }
    }
    return list;
  });
}

}  // namespace zellik::py
