// Reading a net's state out in restore order, and putting a saved state
// back. A snapshot codec builds on these instead of on the tables
// themselves, so the tables may change shape without it.

#include <string>
#include <utility>
#include <vector>

#include "zellik/base/internal_failure.h"
#include "zellik/net/net_sim_restore.h"

namespace zellik {

namespace {

bool is_stepped(const PacketLocation& location) {
  return location.is(PacketLocation::Kind::Edge) || location.is(PacketLocation::Kind::InputPort);
}

}  // namespace

void NetSimRestore::for_each_occupied_location(const NetSim& net,
                                               const OccupiedLocationVisitor& visit) {
  const NetState& state = net.state_;
  // The active index holds exactly the occupied Edge and InputPort entries,
  // in the order the run step walks them.
  std::vector<Ulid> ids;
  for (const LocationTable::value_type* entry : state.locations().active()) {
    state.copy_ids(entry->second.queue, ids);
    visit(entry->first, ids);
  }
  for (const auto& [location, entry] : state.locations()) {
    if (entry.queue.empty() || is_stepped(location)) continue;
    state.copy_ids(entry.queue, ids);
    visit(location, ids);
  }
}

void NetSimRestore::reserve(NetSim& net, std::size_t packets, std::size_t epochs) {
  net.state_.packets_.reserve(packets);
  net.state_.epochs_.reserve(epochs);
}

void NetSimRestore::restore_node_epoch_list(NetSim& net, const Name& node_name) {
  net.state_.node_to_epochs_.try_emplace(node_name);
}

void NetSimRestore::restore_epoch(NetSim& net, Epoch epoch) {
  const Node* node = net.graph_.find_node(epoch.node_name);
  if (node == nullptr) fail("Cannot restore an epoch of node '" + epoch.node_name.str() + "'");
  net.state_.add_epoch(std::move(epoch), node, /*startable=*/false);
}

void NetSimRestore::restore_startable_epochs(NetSim& net, const std::vector<Ulid>& ids) {
  // A hash set lists what was inserted last first within a bucket; inserting
  // in reverse keeps the saved order wherever the bucket layout allows.
  UlidSet& startable = net.state_.startable_epochs_;
  startable.reserve(ids.size());
  startable.insert(ids.rbegin(), ids.rend());
}

std::optional<Ulid> NetSimRestore::restore_packets(NetSim& net, const PacketLocation& location,
                                                   std::span<const Ulid> ids) {
  NetState& state = net.state_;
  LocationHandle handle = state.locations().find(location);
  if (handle == kNoLocation) {
    // Only an epoch's locations outlive the epoch (see undo.cpp).
    if (!location.is(PacketLocation::Kind::Node) && !location.is(PacketLocation::Kind::OutputPort))
      fail("Cannot restore packets at " + location.debug_string() + ": no entry");
    handle = state.ensure_location(location);
  }
  for (const Ulid& id : ids) {
    if (state.packets().contains(id)) return id;
    state.insert_packet(id, handle);
  }
  return std::nullopt;
}

void NetSimRestore::restore_requests(NetSim& net, const RequestState& saved) {
  NetState& state = net.state_;
  state.requests_.pending = saved.pending;
  for (const auto& [node_name, value] : saved.tokens) state.set_request_token(node_name, value);
  state.set_startup_requests_sent(saved.startup_requests_sent);
}

}  // namespace zellik
