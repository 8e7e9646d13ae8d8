// Reading a net's state out in restore order, and the primitives that put a
// saved state back. A snapshot codec builds on these instead of on the
// tables themselves, so the tables may change shape without it.

#include <string>
#include <utility>
#include <vector>

#include "zellik/base/internal_failure.h"
#include "zellik/net/net_sim.h"

namespace zellik {

namespace {

bool is_stepped(const PacketLocation& location) {
  return location.is(PacketLocation::Kind::Edge) || location.is(PacketLocation::Kind::InputPort);
}

}  // namespace

void NetSim::for_each_occupied_location(const OccupiedLocationVisitor& visit) const {
  // The active index holds exactly the occupied Edge and InputPort entries,
  // in the order the run step walks them.
  std::vector<Ulid> ids;
  for (const LocationTable::value_type* entry : locations_.active()) {
    copy_ids(entry->second.queue, ids);
    visit(entry->first, ids);
  }
  for (const auto& [location, entry] : locations_) {
    if (entry.queue.empty() || is_stepped(location)) continue;
    copy_ids(entry.queue, ids);
    visit(location, ids);
  }
}

void NetSim::reserve_for_restore(std::size_t packets, std::size_t epochs) {
  packets_.reserve(packets);
  epochs_.reserve(epochs);
}

void NetSim::restore_node_epoch_list(const Name& node_name) {
  node_to_epochs_.try_emplace(node_name);
}

void NetSim::restore_epoch(Epoch epoch) {
  const Node* node = graph_.find_node(epoch.node_name);
  if (node == nullptr) fail("Cannot restore an epoch of node '" + epoch.node_name.str() + "'");
  add_epoch(std::move(epoch), node, /*startable=*/false);
}

void NetSim::restore_startable_epochs(const std::vector<Ulid>& ids) {
  // A hash set lists what was inserted last first within a bucket; inserting
  // in reverse keeps the saved order wherever the bucket layout allows.
  startable_epochs_.reserve(ids.size());
  startable_epochs_.insert(ids.rbegin(), ids.rend());
}

std::optional<Ulid> NetSim::restore_packets(const PacketLocation& location,
                                            std::span<const Ulid> ids) {
  LocationHandle handle = locations_.find(location);
  if (handle == kNoLocation) {
    // Only an epoch's locations outlive the epoch (see undo.cpp).
    if (!location.is(PacketLocation::Kind::Node) && !location.is(PacketLocation::Kind::OutputPort))
      fail("Cannot restore packets at " + location.debug_string() + ": no entry");
    handle = locations_.ensure(location);
  }
  for (const Ulid& id : ids) {
    if (packets_.contains(id)) return id;
    insert_packet(id, handle);
  }
  return std::nullopt;
}

void NetSim::restore_request_state(std::vector<PendingRequest> pending, const RequestTokens& tokens,
                                   bool startup_requests_sent) {
  pending_requests_ = std::move(pending);
  for (const auto& [node_name, value] : tokens) request_tokens_.insert_or_assign(node_name, value);
  startup_requests_sent_ = startup_requests_sent;
}

}  // namespace zellik
