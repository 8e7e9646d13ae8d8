// NetSim's queries: each holds the net shared while it reads.

#include <array>
#include <optional>
#include <span>
#include <vector>

#include "zellik/net/net_sim.h"
#include "zellik/net/net_view.h"
#include "zellik_py/binding/args.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/net/identifiers.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/net_hold.h"
#include "zellik_py/net/net_sim_methods.h"

namespace zellik::py {

namespace {

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
  const std::optional<Packet> packet = net.get_packet(identifier_arg(id, "packet_id"));
  return packet ? packet_to_py(*packet) : none();
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
// Every location is read before any count is made: a wrong one is refused
// by name whatever its place in the sequence.
Ref packet_counts(const NetSim& net, PyObject* locations) {
  std::vector<PacketLocation> read;
  for (const Ref& item : sequence_items(locations, "locations")) {
    read.push_back(location_arg(item.get(), "locations"));
  }
  return list_of(read,
                 [&](const PacketLocation& at) { return to_py_u64(net.packet_count_at(at)); });
}

}  // namespace

std::span<const PyMethodDef> net_sim_query_methods() {
  static const PyMethodDef kMethods[] = {
      method_def(
          "is_blocked", &query<is_blocked>,
          "is_blocked($self)\n--\n\nCheck if the network is blocked (no progress can be made)."),
      method_def("get_packet", &query<"get_packet", "packet_id", get_packet>,
                 "get_packet($self, packet_id)\n--\n\nGet a packet by ID."),
      method_def("get_epoch", &query<"get_epoch", "epoch_id", get_epoch>,
                 "get_epoch($self, epoch_id)\n--\n\nGet an epoch by ID."),
      method_def("get_startable_epochs", &query<get_startable_epochs>,
                 "get_startable_epochs($self)\n--\n\nGet all startable epoch IDs."),
      method_def(
          "get_packets_at_location",
          &query<"get_packets_at_location", "location", get_packets_at_location>,
          "get_packets_at_location($self, location)\n--\n\nGet all packet IDs at a location."),
      method_def(
          "packet_count_at", &query<"packet_count_at", "location", packet_count_at>,
          "packet_count_at($self, location)\n--\n\nGet the number of packets at a location."),
      method_def(
          "packet_counts", &query<"packet_counts", "locations", packet_counts>,
          "packet_counts($self, locations)\n--\n\nGet the number of packets at each location "
          "of a sequence, in one call."),
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
  return kMethods;
}

}  // namespace zellik::py
