#include "zellik/net/net_sim.h"

#include <algorithm>
#include <string>
#include <utility>

#include "zellik/base/internal_failure.h"
#include "zellik/graph/validation.h"

namespace zellik {

namespace {

using EntryRef = LocationTable::value_type;
using ActiveIndex = std::vector<EntryRef*>;

// Only packets on edges and at input ports can move on their own in a step,
// so only those locations are tracked in the active index.
bool is_tracked(const PacketLocation& location) {
  return location.is(PacketLocation::Kind::Edge) || location.is(PacketLocation::Kind::InputPort);
}

void activate(ActiveIndex& active, EntryRef& entry) {
  LocationEntry& e = entry.second;
  if (e.active_slot != LocationEntry::kNotActive || !is_tracked(entry.first)) return;
  e.active_slot = active.size();
  active.push_back(&entry);
}

// Swap-remove: the last entry of the index takes the departing entry's slot.
void deactivate(ActiveIndex& active, EntryRef& entry) {
  const std::size_t slot = entry.second.active_slot;
  if (slot == LocationEntry::kNotActive) return;
  EntryRef* last = active.back();
  active[slot] = last;
  last->second.active_slot = slot;
  active.pop_back();
  entry.second.active_slot = LocationEntry::kNotActive;
}

std::string invalid_graph_message(const std::vector<GraphValidationError>& errors) {
  std::string text = "Cannot create NetSim with invalid graph:";
  for (const GraphValidationError& error : errors) {
    text += "\n  - ";
    text += message(error);
  }
  return text;
}

}  // namespace

NetSim::NetSim(Graph graph, IdSource ids) : graph_(std::move(graph)), ids_(ids) {
  const std::vector<GraphValidationError> errors = validate(graph_);
  if (!errors.empty()) fail(invalid_graph_message(errors));

  std::size_t fixed_locations = graph_.edge_count() + 1;
  for (const auto& [name, node] : graph_.nodes()) fixed_locations += node.in_ports.size();
  packets_by_location_.reserve(fixed_locations);

  for (const Edge& edge : graph_.edges()) packets_by_location_.try_emplace(PacketLocation::Edge(edge));
  for (const auto& [name, node] : graph_.nodes()) {
    for (const auto& [port_name, port] : node.in_ports) {
      packets_by_location_.try_emplace(PacketLocation::InputPort(name, port_name));
    }
    if (node.dependency_request_config &&
        node.dependency_request_config->has_trigger(DependencyRequestTrigger::OnNoSalvoTriggered)) {
      request_tokens_.insert_or_assign(name, true);
    }
  }
  packets_by_location_.try_emplace(PacketLocation::OutsideNet());
}

// --- Queries ----------------------------------------------------------------

const Packet* NetSim::get_packet(const Ulid& packet_id) const {
  auto it = packets_.find(packet_id);
  return it == packets_.end() ? nullptr : &it->second;
}

const Epoch* NetSim::get_epoch(const Ulid& epoch_id) const {
  auto it = epochs_.find(epoch_id);
  return it == epochs_.end() ? nullptr : &it->second;
}

std::vector<Ulid> NetSim::get_packets_at_location(const PacketLocation& location) const {
  const EntryRef* entry = find_entry(location);
  return entry == nullptr ? std::vector<Ulid>{} : entry->second.queue.to_vector();
}

std::uint64_t NetSim::packet_count_at(const PacketLocation& location) const {
  const EntryRef* entry = find_entry(location);
  return entry == nullptr ? 0 : entry->second.queue.size();
}

std::vector<Ulid> NetSim::get_startable_epochs() const {
  return std::vector<Ulid>(startable_epochs_.begin(), startable_epochs_.end());
}

// --- Dispatch ---------------------------------------------------------------

NetActionResponse NetSim::do_action(const NetAction& action) {
  struct Dispatch {
    NetSim& net;
    NetActionResponse operator()(const action::RunStep&) const { return net.run_step(); }
    NetActionResponse operator()(const action::CreatePacket& a) const { return net.create_packet(a); }
    NetActionResponse operator()(const action::ConsumePacket& a) const {
      return net.remove_packet(a.packet_id, /*destroyed=*/false);
    }
    NetActionResponse operator()(const action::DestroyPacket& a) const {
      return net.remove_packet(a.packet_id, /*destroyed=*/true);
    }
    NetActionResponse operator()(const action::StartEpoch& a) const { return net.start_epoch(a); }
    NetActionResponse operator()(const action::FinishEpoch& a) const { return net.finish_epoch(a); }
    NetActionResponse operator()(const action::CancelEpoch& a) const { return net.cancel_epoch(a); }
    NetActionResponse operator()(const action::CreateEpoch& a) const { return net.create_epoch(a); }
    NetActionResponse operator()(const action::LoadPacketIntoOutputPort& a) const {
      return net.load_packet_into_output_port(a);
    }
    NetActionResponse operator()(const action::SendOutputSalvo& a) const {
      return net.send_output_salvo(a);
    }
    NetActionResponse operator()(const action::TransportPacketToLocation& a) const {
      return net.transport_packet_to_location(a);
    }
    NetActionResponse operator()(const action::CreateRequest& a) const {
      return net.create_request(a);
    }
  };
  return std::visit(Dispatch{*this}, action);
}

// --- State primitives -------------------------------------------------------

void NetSim::move_packet(const Ulid& packet_id, const PacketLocation& to) {
  auto packet_it = packets_.find(packet_id);
  if (packet_it == packets_.end()) {
    fail("Packet with ID " + packet_id.to_string() + " not found in self._packets");
  }
  Packet& packet = packet_it->second;

  // Both entries are found before anything changes, so a broken invariant
  // stops the move without leaving the packet half-moved.
  EntryRef* from_entry = find_entry(packet.location);
  if (from_entry == nullptr) fail("Packet location has no entry in self._packets_by_location.");
  EntryRef* to_entry = find_entry(to);
  if (to_entry == nullptr) fail("Packet location has no entry in self._packets_by_location");

  queue_remove(*from_entry, packet_id);
#ifndef NDEBUG
  // While the packet table and the queues agree this cannot happen; the scan
  // is linear in the destination's depth, so release builds rely on the
  // packet table instead.
  if (to_entry->second.queue.index_of(packet_id).has_value()) {
    fail("Attempted to move packet to a location that already contains it.");
  }
#endif
  packet.location = to;
  queue_append(*to_entry, packet_id);
}

void NetSim::queue_append(EntryRef& entry, const Ulid& packet_id) {
  entry.second.queue.push_back(packet_id);
  activate(active_, entry);
}

void NetSim::queue_remove(EntryRef& entry, const Ulid& packet_id) {
  if (!entry.second.queue.remove(packet_id)) {
    fail("Packet with ID " + packet_id.to_string() + " not found in location " +
         entry.first.debug_string());
  }
  if (entry.second.queue.empty()) deactivate(active_, entry);
}

void NetSim::queue_insert(EntryRef& entry, std::size_t index, const Ulid& packet_id) {
  if (index > entry.second.queue.size()) {
    fail("Queue position " + std::to_string(index) + " is past the end of location " +
         entry.first.debug_string());
  }
  entry.second.queue.insert_at(index, packet_id);
  activate(active_, entry);
}

EntryRef* NetSim::find_entry(const PacketLocation& location) {
  auto it = packets_by_location_.find(location);
  return it == packets_by_location_.end() ? nullptr : &*it;
}

const EntryRef* NetSim::find_entry(const PacketLocation& location) const {
  auto it = packets_by_location_.find(location);
  return it == packets_by_location_.end() ? nullptr : &*it;
}

EntryRef& NetSim::ensure_entry(const PacketLocation& location) {
  return *packets_by_location_.try_emplace(location).first;
}

void NetSim::reset_entry(const PacketLocation& location) {
  auto [it, inserted] = packets_by_location_.try_emplace(location);
  if (inserted) return;
  deactivate(active_, *it);
  it->second = LocationEntry{};
}

void NetSim::erase_entry(const PacketLocation& location) {
  auto it = packets_by_location_.find(location);
  if (it == packets_by_location_.end()) return;
  deactivate(active_, *it);
  packets_by_location_.erase(it);
}

Epoch& NetSim::insert_new_epoch(const Node& node, Salvo in_salvo) {
  Ulid id = ids_.next_id();
  while (epochs_.contains(id)) id = ids_.next_id();

  Epoch epoch;
  epoch.id = id;
  epoch.node_name = node.name;
  epoch.in_salvo = std::move(in_salvo);
  epoch.state = EpochState::Startable;
  Epoch& stored = epochs_.emplace(id, std::move(epoch)).first->second;
  startable_epochs_.insert(id);
  node_to_epochs_[node.name].push_back(id);
  create_epoch_locations(id, node);
  return stored;
}

void NetSim::create_epoch_locations(const Ulid& epoch_id, const Node& node) {
  reset_entry(PacketLocation::Node(epoch_id));
  for (const auto& [port_name, port] : node.out_ports) {
    reset_entry(PacketLocation::OutputPort(epoch_id, port_name));
  }
}

void NetSim::remove_epoch_locations(const Ulid& epoch_id, const Node& node) {
  for (const auto& [port_name, port] : node.out_ports) {
    erase_entry(PacketLocation::OutputPort(epoch_id, port_name));
  }
  erase_entry(PacketLocation::Node(epoch_id));
}

void NetSim::remove_from_node_epochs(const Name& node_name, const Ulid& epoch_id,
                                     bool drop_empty_list) {
  auto it = node_to_epochs_.find(node_name);
  if (it == node_to_epochs_.end()) return;
  std::vector<Ulid>& ids = it->second;
  auto pos = std::find(ids.begin(), ids.end(), epoch_id);
  if (pos != ids.end()) ids.erase(pos);
  if (drop_empty_list && ids.empty()) node_to_epochs_.erase(it);
}

}  // namespace zellik
