// The epoch lifecycle: CreateEpoch, StartEpoch, FinishEpoch, CancelEpoch.
// Each handler makes every check before its first change.

#include <utility>
#include <vector>

#include "zellik/base/internal_failure.h"
#include "zellik/net/net_sim.h"

namespace zellik {

namespace {

bool is_at_input_port(const PacketLocation& location, const Name& node_name,
                      const Name& port_name) {
  return location.is(PacketLocation::Kind::InputPort) && location.node_name() == node_name &&
         location.port_name() == port_name;
}

}  // namespace

ActionResult NetSim::act(const action::CreateEpoch& a, EventList& events) {
  const Node* node = graph_.find_node(a.node_name);
  if (node == nullptr) return NetActionError::NodeNotFound(a.node_name);

  const auto& pairs = a.salvo.packets;
  UlidSet seen;
  if (pairs.size() > 1) seen.reserve(pairs.size());
  for (const auto& [port_name, packet_id] : pairs) {
    if (!node->in_ports.contains(port_name)) {
      return NetActionError::InputPortNotFound(port_name, a.node_name);
    }
    const PacketIndex packet = state_.packets().find(packet_id);
    if (packet == kNoPacket) return NetActionError::PacketNotFound(packet_id);
    if (!is_at_input_port(state_.locations().location(state_.packets()[packet].location),
                          node->name, port_name)) {
      return NetActionError::PacketNotAtInputPort(packet_id, port_name, a.node_name);
    }
    // A packet named twice would no longer be at its port for the second
    // move; refuse the list before anything changes.
    if (pairs.size() > 1 && !seen.insert(packet_id).second) {
      return NetActionError::PacketNotAtInputPort(packet_id, port_name, a.node_name);
    }
  }

  const Ulid created = insert_new_epoch(*node, a.salvo);
  events.push_back(event::EpochCreated{now_millis(), created});

  const LocationHandle inside = state_.epoch_place(created);
  if (inside == kNoLocation) fail("Node location has no entry in self._packets_by_location");
  for (const auto& [port_name, packet_id] : pairs) {
    const PacketIndex packet = state_.packets().find(packet_id);
    if (packet == kNoPacket) fail("Packet should exist at from_location");
    events.push_back(state_.move_reported(packet, inside, now_millis()));
  }
  return ActionDone{created};
}

ActionResult NetSim::act(const action::StartEpoch& a, EventList& events) {
  auto it = state_.epochs().find(a.epoch_id);
  if (it == state_.epochs().end()) return NetActionError::EpochNotFound(a.epoch_id);
  // Membership in the startable set decides, not the state field.
  if (!state_.startable_epochs().contains(a.epoch_id))
    return NetActionError::EpochNotStartable(a.epoch_id);

  state_.set_startable(it, false);
  events.push_back(event::EpochStarted{now_millis(), a.epoch_id});
  return ActionDone{};
}

ActionResult NetSim::act(const action::FinishEpoch& a, EventList& events) {
  auto it = state_.epochs().find(a.epoch_id);
  if (it == state_.epochs().end()) return NetActionError::EpochNotFound(a.epoch_id);
  const Epoch& epoch = it->second;
  if (epoch.state != EpochState::Running) return NetActionError::EpochNotRunning(a.epoch_id);

  const LocationHandle inside_handle = state_.epoch_place(a.epoch_id);
  if (inside_handle == kNoLocation) {
    fail("Epoch " + a.epoch_id.to_string() + " not found in location " +
         PacketLocation::Node(a.epoch_id).debug_string());
  }
  if (state_.count_at(inside_handle) != 0) {
    return NetActionError::CannotFinishNonEmptyEpoch(a.epoch_id);
  }
  const Node* node = state_.locations()[inside_handle].second.node;  // add_epoch's link
  if (node == nullptr) node = graph_.find_node(epoch.node_name);
  if (node == nullptr) fail("Epoch references non-existent node");
  for (const auto& [port_name, port] : node->out_ports) {
    const LocationHandle h = state_.epoch_place(a.epoch_id, &port_name);
    if (h != kNoLocation && state_.count_at(h) != 0) {
      return NetActionError::UnsentOutputSalvo(a.epoch_id, port_name);
    }
  }

  set_request_token(node->name.view(), true);
  // Dropping changes nothing in the epoch: the event keeps it as it stood.
  events.push_back(event::EpochFinished{now_millis(), state_.drop_epoch(it, false)});
  return ActionDone{};
}

ActionResult NetSim::act(const action::CancelEpoch& a, EventList& events) {
  auto it = state_.epochs().find(a.epoch_id);
  if (it == state_.epochs().end()) return NetActionError::EpochNotFound(a.epoch_id);
  const Node* node = graph_.find_node(it->second.node_name);
  if (node == nullptr) fail("Epoch references non-existent node");

  set_request_token(node->name.view(), true);

  // Packets inside the epoch first, then each output port's, oldest first.
  std::vector<Ulid> doomed = get_packets_at_location(PacketLocation::Node(a.epoch_id));
  for (const auto& [port_name, port] : node->out_ports) {
    for (const Ulid& id :
         get_packets_at_location(PacketLocation::OutputPort(a.epoch_id, port_name))) {
      doomed.push_back(id);
    }
  }
  for (const Ulid& packet_id : doomed) {
    const PacketIndex packet = state_.packets().find(packet_id);
    if (packet == kNoPacket) fail("Packet in location map not found in packets map");
    PacketLocation location = state_.copy_location(state_.packets()[packet].location);
    state_.erase_packet(packet);
    events.push_back(event::PacketDestroyed{now_millis(), packet_id, std::move(location)});
  }

  events.push_back(event::EpochCancelled{now_millis(), state_.drop_epoch(it, false)});
  return ActionDone{};
}

}  // namespace zellik
