// NetSim's calls for an executor's loop: run_round (steps until blocked,
// then what can start, in one call) and inject (many packets into one
// location in one call). Each holds the net exclusively. With events=False
// they leave their events list empty and build no event object, which is
// most of a round's cost when nobody records it.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "zellik/base/internal_failure.h"
#include "zellik/net/execute.h"
#include "zellik/net/handles.h"
#include "zellik/net/net_sim.h"
#include "zellik_py/binding/args.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/errors/translate.h"
#include "zellik_py/net/identifiers.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/net_hold.h"
#include "zellik_py/net/net_sim_methods.h"

namespace zellik::py {

void check_packet_room(const NetSim& net, std::uint64_t count, const char* function,
                       const char* arg) {
  const std::uint64_t room = std::uint64_t{kNoPacket} - 1 - net.packet_count();
  if (count > room) {
    raise(PyExc_ValueError,
          std::string(function) + "() argument '" + arg +
              "' makes more packets than the net has room for: " + std::to_string(room) +
              " (a net holds at most " + std::to_string(kNoPacket - 1) + ")");
  }
}

namespace {

// The same chunk bounds as run_until_blocked's (net_sim_actions.cpp): the
// interpreter lock is given back while the engine steps.
constexpr std::size_t kChunkSteps = 4096;
constexpr auto kChunkTime = std::chrono::milliseconds(2);
constexpr std::size_t kChunkEvents = 4096;

bool events_flag(PyObject* obj) { return obj == nullptr || to_bool_arg(obj, "events"); }

Ref tuple_of(std::initializer_list<PyObject*> items) {
  Ref tuple = own(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
  Py_ssize_t i = 0;
  for (PyObject* item : items) {
    Py_INCREF(item);
    // PyTuple_SetItem steals the reference; a fresh tuple has room.
    PyTuple_SetItem(tuple.get(), i++, item);
  }
  return tuple;
}

// (epoch id, node name, [(port, packet id), ...]) for every startable epoch,
// in the order get_startable_epochs gives them; ids as str.
Ref startable_to_py(const NetSim& net) {
  const std::vector<Ulid> ids = net.get_startable_epochs();
  return list_of(ids, [&](const Ulid& id) {
    const Epoch* epoch = net.get_epoch(id);
    if (epoch == nullptr) fail("A startable epoch is not in the epoch table");
    Ref packets = list_of(epoch->in_salvo.packets, [](const std::pair<Name, Ulid>& packet) {
      Ref port = to_py(packet.first);
      Ref packet_id = id_to_py(packet.second);
      return tuple_of({port.get(), packet_id.get()});
    });
    Ref epoch_id = id_to_py(id);
    Ref node = to_py(epoch->node_name);
    return tuple_of({epoch_id.get(), node.get(), packets.get()});
  });
}

// Stops with KeyboardInterrupt (or whatever a signal handler raises) between
// two chunks of steps, the net as the last completed step left it.
PyObject* run_round(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("run_round", std::array{"events"}, 0, args, nargs, kwnames);
    const bool keep_events = events_flag(a[0]);
    Hold hold(value_of(self), Use::Exclusive);
    NetSim& net = hold.net();
    Ref events = own(PyList_New(0));
    std::size_t steps = 0;
    if (!net.is_blocked()) {
      EventList chunk;
      run_in_chunks(
          [&] {
            chunk.clear();
            return net.run_steps_into(chunk, kChunkSteps,
                                      std::chrono::steady_clock::now() + kChunkTime, kChunkEvents,
                                      &steps);
          },
          [&](bool) {
            if (keep_events) append_events(events.get(), chunk);
          },
          [] {});
    }
    Ref count = to_py_u64(steps);
    Ref startable = startable_to_py(net);
    return tuple_of({count.get(), startable.get(), events.get()});
  });
}

PyObject* inject(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a =
        parse_fast("inject", std::array{"location", "count", "events"}, 2, args, nargs, kwnames);
    const PacketLocation location = location_arg(a[0], "location");
    const std::uint64_t count = to_u64_arg(a[1], "count", 0);
    const bool keep_events = events_flag(a[2]);
    EventList events;
    Result<std::vector<Ulid>, BatchError> done = [&] {
      Hold hold(value_of(self), Use::Exclusive);
      check_packet_room(hold.net(), count, "inject", "count");
      return zellik::inject(hold.net(), location, count, events);
    }();
    if (!done.ok()) raise_batch_error(done.error(), "Cannot inject the packets", "step");
    Ref ids = list_of(done.value(), [](const Ulid& id) { return id_to_py(id); });
    Ref list = keep_events ? events_to_py(std::move(events)) : own(PyList_New(0));
    return tuple_of({ids.get(), list.get()});
  });
}

}  // namespace

std::span<const PyMethodDef> net_sim_round_methods() {
  static const PyMethodDef kMethods[] = {
      method_def("run_round", &run_round,
                 "run_round($self, *, events=True)\n--\n\n"
                 "Run steps until the network is blocked, then list what can start, in one call.\n"
                 "Returns (steps, startable, events): the steps run, one (epoch_id, node_name,\n"
                 "packets) per startable epoch in get_startable_epochs' order, packets being its\n"
                 "input salvo's (port_name, packet_id) pairs in order, ids as str; and the steps'\n"
                 "events, left empty (and never built) with events=False. Stops with\n"
                 "KeyboardInterrupt between steps as run_until_blocked does."),
      method_def(
          "inject", &inject,
          "inject($self, location, count, *, events=True)\n--\n\n"
          "Make `count` packets outside the network and move each to `location`, in one\n"
          "call: per packet the create_packet and transport_packet_to_location actions,\n"
          "with their events. Returns (packet_ids, events), ids as str in order; the events\n"
          "list is left empty with events=False. All or nothing: when the location has no\n"
          "room left for every packet, none is made, and the refused action's exception\n"
          "names it ('step N (Kind)')."),
  };
  return kMethods;
}

}  // namespace zellik::py
