// NetSim: the runtime state of a flow network, driven by actions.

#include <array>
#include <chrono>
#include <functional>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zellik/net/net_sim.h"
#include "zellik/net/net_view.h"
#include "zellik/net/snapshot.h"
#include "zellik_py/binding/args.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/pickling.h"
#include "zellik_py/errors/translate.h"
#include "zellik_py/graph/graph_convert.h"
#include "zellik_py/net/identifiers.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/net_hold.h"

namespace zellik::py {

Ref with_net(PyObject* self, const std::function<Ref(const NetSim&)>& use) {
  Hold hold(value_of(self), Use::Shared);
  return use(hold.net());
}

Ref with_net_exclusive(PyObject* obj, const char* arg, const std::function<Ref(NetSim&)>& use) {
  Hold hold(arg_of<NetSimValue>(obj, arg), Use::Exclusive);
  return use(hold.net());
}

namespace {

// ---------------------------------------------------------------------------
// Lifetime

// The engine validates its copy of the graph; an invalid graph is a broken
// precondition and surfaces as the panic exception. `seed` is keyword-only:
// given, the net's ids and timestamps repeat from run to run.
PyObject* net_sim_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    if (PyTuple_Size(args) > 1) {
      PyErr_Format(PyExc_TypeError, "NetSim() takes 1 positional argument but %zd were given",
                   PyTuple_Size(args));
      throw PythonError{};
    }
    auto a = parse_tuple("NetSim", std::array{"graph", "seed"}, 1, args, kwargs);
    const IdSource ids = a.has(1) ? IdSource::Seeded(to_u64_arg(a[1], "seed")) : IdSource();
    auto engine = std::make_unique<NetSim>(graph_arg(a[0], "graph"), ids);
    return box_as<NetSimValue>(type, NetSimValue{std::move(engine), 0});
  });
}

// ---------------------------------------------------------------------------
// Methods

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
// between being written by the engine and read into objects. The net stays held exclusively
// the whole time, so another thread that reaches it meanwhile gets
// RuntimeError from its Hold, never a half-changed net.
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
    bool blocked = false;
    while (!blocked) {
      chunk.clear();
      {
        WithoutInterpreterLock unlocked;
        blocked = net.run_steps_into(chunk, kChunkSteps,
                                     std::chrono::steady_clock::now() + kChunkTime, kChunkEvents);
      }
      // The chunk is cleared next: its events move into their objects.
      append_events(events.get(), chunk);
      if (PyErr_CheckSignals() < 0) {
        attach_events(events.get());
        throw PythonError{};
      }
    }
    return events;
  });
}

// --- Queries: each holds the net shared while it reads -----------------------

template <Ref (*kRead)(const NetSim&)>
PyObject* query(PyObject* self, PyObject*) {
  return guard([&] {
    Hold hold(value_of(self), Use::Shared);
    return kRead(hold.net());
  });
}

template <Literal kMethod, Literal kArg, Ref (*kRead)(const NetSim&, PyObject*)>
PyObject* query(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast(kMethod.chars, std::array{+kArg.chars}, 1, args, nargs, kwnames);
    Hold hold(value_of(self), Use::Shared);
    return kRead(hold.net(), a[0]);
  });
}

Ref ulid_list(const std::vector<Ulid>& ids) {
  UlidFactory ulids;
  return list_of(ids, [&](const Ulid& id) { return ulids.make(id); });
}

Ref is_blocked(const NetSim& net) { return to_py_bool(net.is_blocked()); }
Ref get_startable_epochs(const NetSim& net) { return ulid_list(net.get_startable_epochs()); }
Ref packets(const NetSim& net) { return list_of(list_packets(net), packet_to_py); }
Ref epochs(const NetSim& net) { return list_of(list_epochs(net), epoch_to_py); }
Ref dot(const NetSim& net) { return to_py(to_dot(net)); }
Ref get_packet(const NetSim& net, PyObject* id) {
  const FoundPacket packet = net.get_packet(identifier_arg(id, "packet_id"));
  return packet != nullptr ? packet_to_py(*packet) : none();
}
Ref get_epoch(const NetSim& net, PyObject* id) {
  const Epoch* epoch = net.get_epoch(identifier_arg(id, "epoch_id"));
  return epoch != nullptr ? epoch_to_py(*epoch) : none();
}
Ref get_packets_at_location(const NetSim& net, PyObject* location) {
  return ulid_list(net.get_packets_at_location(location_arg(location, "location")));
}
Ref packet_count_at(const NetSim& net, PyObject* location) {
  return to_py_u64(net.packet_count_at(location_arg(location, "location")));
}

// --- Undo ----------------------------------------------------------------------

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

// --- Snapshots: pickle, copy and fork -------------------------------------
// A net pickles as NetSim(graph) followed by __setstate__(snapshot bytes);
// copy.copy and copy.deepcopy go through the same bytes in memory, so a copy
// shares nothing with the original.

// The net `graph` restored from `bytes`; ValueError for bytes that are not
// a snapshot of this format or that do not fit the graph.
std::unique_ptr<NetSim> restored(const Graph& graph, std::string_view bytes) {
  auto net = decode_snapshot(graph, bytes);
  if (!net.ok()) raise(PyExc_ValueError, net.error().text);
  return std::move(net).value();
}

PyObject* reduce(PyObject* self, PyObject*) {
  return guard([&] {
    Hold hold(value_of(self), Use::Shared);
    const std::string bytes = encode_snapshot(hold.net());
    Ref state = own(PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size())));
    Ref args = tuple_of(graph_to_py(hold.net().graph()));
    return tuple_of(Ref::borrow(reinterpret_cast<PyObject*>(Py_TYPE(self))), std::move(args),
                    std::move(state));
  });
}

PyObject* set_state(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("__setstate__", std::array{"state"}, 1, args, nargs, kwnames);
    if (!PyBytes_Check(a[0])) raise_arg_type(a[0], "state", "bytes");
    char* data = nullptr;
    Py_ssize_t size = 0;
    check_status(PyBytes_AsStringAndSize(a[0], &data, &size));
    Hold hold(value_of(self), Use::Exclusive);
    // The whole net is built before the old one is dropped: a refused
    // snapshot leaves this net as it was.
    std::unique_ptr<NetSim> net =
        restored(hold.net().graph(), std::string_view(data, static_cast<std::size_t>(size)));
    value_of(self).engine = std::move(net);
    return none();
  });
}

Ref fork(PyObject* self) {
  Hold hold(value_of(self), Use::Shared);
  std::unique_ptr<NetSim> net = restored(hold.net().graph(), encode_snapshot(hold.net()));
  return box_as<NetSimValue>(Py_TYPE(self), NetSimValue{std::move(net), 0});
}

PyObject* copy_net(PyObject* self, PyObject*) {
  return guard([&] { return fork(self); });
}

PyObject* deepcopy_net(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    parse_fast("__deepcopy__", std::array{"memo"}, 1, args, nargs, kwnames);
    return fork(self);
  });
}

// ---------------------------------------------------------------------------
// Getters

PyObject* graph_of(PyObject* self, void*) {
  return guard([&] {
    Hold hold(value_of(self), Use::Shared);
    return graph_to_py(hold.net().graph());
  });
}

PyObject* net_sim_repr(PyObject* self) {
  return guard([&] {
    return to_py(std::string_view("Net(graph=" + graph_repr(value_of(self).engine->graph()) + ")"));
  });
}

// ---------------------------------------------------------------------------
// Slot table and type

PyMethodDef g_methods[] = {
    method_def("do_action", &do_action,
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
    method_def(
        "is_blocked", &query<is_blocked>,
        "is_blocked($self)\n--\n\nCheck if the network is blocked (no progress can be made)."),
    method_def("get_packet", &query<"get_packet", "packet_id", get_packet>,
               "get_packet($self, packet_id)\n--\n\nGet a packet by ID."),
    method_def("get_epoch", &query<"get_epoch", "epoch_id", get_epoch>,
               "get_epoch($self, epoch_id)\n--\n\nGet an epoch by ID."),
    method_def("get_startable_epochs", &query<get_startable_epochs>,
               "get_startable_epochs($self)\n--\n\nGet all startable epoch IDs."),
    method_def("get_packets_at_location",
               &query<"get_packets_at_location", "location", get_packets_at_location>,
               "get_packets_at_location($self, location)\n--\n\nGet all packet IDs at a location."),
    method_def("packet_count_at", &query<"packet_count_at", "location", packet_count_at>,
               "packet_count_at($self, location)\n--\n\nGet the number of packets at a location."),
    method_def("undo_action", &undo_action,
               "undo_action($self, action, events)\n--\n\nUndo a previously executed action.\n\n"
               "Args:\n    action: The original action that was executed\n"
               "    events: The events that were produced by the action\n\n"
               "Raises:\n    UndoError: If the undo operation fails"),
    method_def("__reduce__", &reduce,
               "__reduce__($self)\n--\n\n"
               "Pickle support: the net pickles as its graph and a snapshot of its whole state."),
    method_def("__setstate__", &set_state,
               "__setstate__($self, state)\n--\n\n"
               "Replace the state of the net with a snapshot made by pickling a net.\n\n"
               "Returns None. Raises ValueError when `state` is not a snapshot of this format\n"
               "version, is cut short or altered, or names a node, port, edge or epoch that\n"
               "this net's graph cannot hold; the net is then left as it was."),
    method_def("__copy__", &copy_net,
               "__copy__($self)\n--\n\n"
               "Fork the net: a new NetSim over a copy of the graph, with a copy of every\n"
               "packet, epoch and request. The two nets share nothing that changes."),
    method_def("__deepcopy__", &deepcopy_net,
               "__deepcopy__($self, memo)\n--\n\nFork the net, as __copy__ does."),
    method_def(
        "packets", &query<packets>,
        "packets($self)\n--\n\nGet every packet of the network, wherever it is, ordered by ID."),
    method_def("epochs", &query<epochs>,
               "epochs($self)\n--\n\nGet every startable or running epoch, ordered by ID."),
    method_def(
        "to_dot", &query<dot>,
        "to_dot($self)\n--\n\nReturns the graph as Graphviz DOT text with the live state: packets on\n"
        "edges and at ports (full input ports marked), startable and running epochs per node."),
};

PyGetSetDef g_getters[] = {{"graph", &graph_of, nullptr, "Get the underlying graph.", nullptr}, {}};

}  // namespace

void define_net_sim(PyObject* module, std::span<const PyMethodDef> more_methods) {
  // The interpreter keeps pointers into the table for as long as the class
  // lives: it is made once, and kept.
  static std::vector<PyMethodDef> methods = [&] {
    std::vector<PyMethodDef> all(std::begin(g_methods), std::end(g_methods));
    all.insert(all.end(), more_methods.begin(), more_methods.end());
    all.push_back({});
    return all;
  }();
  define_boxed_class<NetSimValue>(
      module,
      {.name = "NetSim",
       .doc = "NetSim(graph, *, seed=None)\n--\n\nThe runtime state of a flow-based network.",
       .methods = methods.data(),
       .getters = g_getters,
       .construct = &net_sim_new,
       .repr = &net_sim_repr});
}

}  // namespace zellik::py
