// Packet and salvo actions: CreatePacket, ConsumePacket / DestroyPacket,
// LoadPacketIntoOutputPort, SendOutputSalvo, TransportPacketToLocation.
// Each handler makes every check before its first change.

#include <string>
#include <utility>
#include <vector>

#include <boost/container/small_vector.hpp>

#include "zellik/base/internal_failure.h"
#include "zellik/net/net_sim.h"

namespace zellik {

namespace {

// The packets one output port contributes to a salvo (the first `take`
// queued there), and where they go.
struct PortPlan {
  Name port_name;
  LocationHandle from;
  LocationHandle to;
  bool orphan;
  std::size_t take;
};

bool is_running(const EpochTable& epochs, const Ulid& epoch_id) {
  auto it = epochs.find(epoch_id);
  return it != epochs.end() && it->second.state == EpochState::Running;
}

}  // namespace

ActionResult NetSim::act(const action::CreatePacket& a, EventList& events) {
  LocationHandle at = kNoLocation;
  if (a.epoch_id) {
    auto it = state_.epochs().find(*a.epoch_id);
    if (it == state_.epochs().end()) return NetActionError::EpochNotFound(*a.epoch_id);
    if (it->second.state != EpochState::Running)
      return NetActionError::EpochNotRunning(*a.epoch_id);
    at = state_.epoch_place(*a.epoch_id);
    if (at == kNoLocation) fail("Packet location has no entry in self._packets_by_location");
  } else {
    at = state_.handle_of(PacketLocation::OutsideNet(), "Packet location");
  }
  Ulid id = ids_.next_id();
  while (state_.try_insert_packet(id, at) == kNoPacket) id = ids_.next_id();

  events.push_back(event::PacketCreated{now_millis(), id});
  return ActionDone{id};
}

template <class Removed>
ActionResult NetSim::remove_packet(const Ulid& packet_id, EventList& events) {
  const PacketIndex packet = state_.packets().find(packet_id);
  if (packet == kNoPacket) return NetActionError::PacketNotFound(packet_id);

  PacketLocation location = state_.copy_location(state_.packets()[packet].location);
  state_.erase_packet(packet);
  events.push_back(Removed{now_millis(), packet_id, std::move(location)});
  return ActionDone{};
}

ActionResult NetSim::act(const action::ConsumePacket& a, EventList& events) {
  return remove_packet<event::PacketConsumed>(a.packet_id, events);
}

ActionResult NetSim::act(const action::DestroyPacket& a, EventList& events) {
  return remove_packet<event::PacketDestroyed>(a.packet_id, events);
}

ActionResult NetSim::act(const action::LoadPacketIntoOutputPort& a, EventList& events) {
  const PacketIndex packet = state_.packets().find(a.packet_id);
  if (packet == kNoPacket) return NetActionError::PacketNotFound(a.packet_id);
  const PacketLocation& from = state_.locations().location(state_.packets()[packet].location);
  if (!from.is(PacketLocation::Kind::Node)) return NetActionError::PacketNotInAnyNode(a.packet_id);

  const Ulid epoch_id = from.epoch_id();
  auto epoch = state_.epochs().find(epoch_id);
  // Only an undo out of order leaves a packet inside an epoch that ended
  // (undo.cpp); it can be moved out, consumed or destroyed, not loaded.
  if (epoch == state_.epochs().end()) return NetActionError::EpochNotFound(epoch_id);
  const Node* node = graph_.find_node(epoch->second.node_name);
  if (node == nullptr) fail("Packet located in a non-existing node (yet the node has an epoch).");
  auto port = node->out_ports.find(a.port_name);
  if (port == node->out_ports.end())
    return NetActionError::OutputPortNotFound(a.port_name, epoch_id);

  const LocationHandle to = state_.epoch_place(epoch_id, &a.port_name);
  if (to == kNoLocation) fail("No entry in NetSim._packets_by_location found for output port.");
  if (!port->second.slots_spec.has_room(state_.count_at(to))) {
    return NetActionError::OutputPortFull(a.port_name, epoch_id);
  }

  events.push_back(state_.move_reported(packet, to, now_millis()));
  return ActionDone{};
}

ActionResult NetSim::act(const action::SendOutputSalvo& a, EventList& events) {
  auto epoch_it = state_.epochs().find(a.epoch_id);
  if (epoch_it == state_.epochs().end()) return NetActionError::EpochNotFound(a.epoch_id);
  const Epoch& epoch = epoch_it->second;
  const Node* node = graph_.find_node(epoch.node_name);
  if (node == nullptr) fail("Node associated with epoch could not be found.");
  const SalvoCondition* condition = node->out_salvo_conditions.find(a.salvo_condition_name.view());
  if (condition == nullptr) {
    return NetActionError::SalvoConditionNotFound(a.salvo_condition_name, a.epoch_id);
  }
  if (!condition->max_salvos.is_infinite()) {
    std::uint64_t sent = 0;
    for (const Salvo& salvo : epoch.out_salvos) {
      if (salvo.salvo_condition == a.salvo_condition_name) ++sent;
    }
    if (!condition->max_salvos.permits(sent)) {
      return NetActionError::MaxSalvosExceeded(a.salvo_condition_name, a.epoch_id);
    }
  }
  const auto counts = CountsAtPorts(state_.locations(), [this, &a](const Name& port) {
    return state_.epoch_place(a.epoch_id, &port);
  });
  if (!evaluate_salvo_condition(condition->term, counts, node->out_ports)) {
    return NetActionError::SalvoConditionNotMet(a.salvo_condition_name, a.epoch_id);
  }

  // Plan every move before making any.
  boost::container::small_vector<PortPlan, 4> plans;
  Salvo salvo{a.salvo_condition_name, {}};
  for (const auto& [port_name, packet_count] : condition->ports) {
    const LocationHandle from = state_.epoch_place(a.epoch_id, &port_name);
    if (from == kNoLocation) {
      fail("Output port '" + port_name.str() + "' of node '" + node->name.str() +
           "' does not have an entry in self._packets_by_location");
    }
    const Edge* edge = graph_.get_edge_by_tail(PortRef{node->name, PortType::Output, port_name});
    const LocationHandle to = edge != nullptr
                                  ? state_.locations().find(EdgePlace{edge})
                                  : state_.handle_of(PacketLocation::OutsideNet(), "OutsideNet");
    if (to == kNoLocation) fail("Edge has no entry in self._packets_by_location");
    const LocationQueue& queue = state_.locations().queue(from);
    const std::uint64_t take = packet_count.take_from(queue.size());
    for (std::size_t i = 0; i < take; ++i) {
      salvo.packets.emplace_back(port_name, state_.packets()[queue.at(i)].id);
    }
    plans.push_back(PortPlan{port_name, from, to, edge == nullptr, take});
  }

  std::vector<OrphanedPacketInfo> orphans;
  for (const PortPlan& plan : plans) {
    // Each move takes the head of the port's queue.
    for (std::size_t i = 0; i < plan.take; ++i) {
      const PacketIndex packet = state_.locations().queue(plan.from).front();
      if (state_.packets()[packet].location != plan.from)
        fail("Packet should exist at from_location");
      if (!plan.orphan) {
        events.push_back(state_.move_reported(packet, plan.to, now_millis()));
        continue;
      }
      const Ulid packet_id = state_.packets()[packet].id;
      state_.move_packet(packet, plan.to);
      events.push_back(event::PacketOrphaned{now_millis(), packet_id, a.epoch_id, node->name,
                                             plan.port_name, a.salvo_condition_name});
      orphans.push_back(OrphanedPacketInfo{packet_id, plan.port_name, a.salvo_condition_name});
    }
  }
  state_.add_output_salvo(epoch_it, std::move(salvo), orphans);
  events.push_back(event::OutputSalvoTriggered{now_millis(), a.epoch_id, a.salvo_condition_name});
  return ActionDone{};
}

ActionResult NetSim::act(const action::TransportPacketToLocation& a, EventList& events) {
  const PacketIndex packet = state_.packets().find(a.packet_id);
  if (packet == kNoPacket) return NetActionError::PacketNotFound(a.packet_id);
  const PacketLocation& from = state_.locations().location(state_.packets()[packet].location);
  if ((from.is(PacketLocation::Kind::Node) || from.is(PacketLocation::Kind::OutputPort)) &&
      is_running(state_.epochs(), from.epoch_id())) {
    return NetActionError::CannotMovePacketFromRunningEpoch(a.packet_id, from.epoch_id());
  }

  const PacketLocation& to = a.destination;
  switch (to.kind()) {
    case PacketLocation::Kind::Node:
    case PacketLocation::Kind::OutputPort: {
      auto epoch = state_.epochs().find(to.epoch_id());
      if (epoch == state_.epochs().end()) return NetActionError::EpochNotFound(to.epoch_id());
      if (epoch->second.state == EpochState::Running) {
        return NetActionError::CannotMovePacketIntoRunningEpoch(a.packet_id, to.epoch_id());
      }
      if (to.is(PacketLocation::Kind::OutputPort)) {
        const Node* node = graph_.find_node(epoch->second.node_name);
        if (node == nullptr) fail("Node associated with epoch could not be found.");
        if (!node->out_ports.contains(to.port_name())) {
          return NetActionError::OutputPortNotFound(to.port_name(), to.epoch_id());
        }
      }
      break;
    }
    case PacketLocation::Kind::InputPort: {
      const Node* node = graph_.find_node(to.node_name());
      if (node == nullptr) return NetActionError::NodeNotFound(to.node_name());
      auto port = node->in_ports.find(to.port_name());
      if (port == node->in_ports.end()) {
        return NetActionError::InputPortNotFound(to.port_name(), to.node_name());
      }
      if (!port->second.slots_spec.has_room(packet_count_at(to))) {
        return NetActionError::InputPortFull(to.port_name(), to.node_name());
      }
      break;
    }
    case PacketLocation::Kind::Edge:
      if (!graph_.edges().contains(to.edge())) return NetActionError::EdgeNotFound(to.edge());
      break;
    case PacketLocation::Kind::OutsideNet:
      break;
  }

  events.push_back(
      state_.move_reported(packet, state_.handle_of(to, "Packet location"), now_millis()));
  return ActionDone{};
}

}  // namespace zellik
