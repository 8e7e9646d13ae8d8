#include "zellik/net/net_state.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>

#include "zellik/base/internal_failure.h"

namespace zellik {

NetState::NetState(const Graph& graph) : graph_(graph) {
  const NodeMap& nodes = graph_.nodes();
  std::size_t input_ports = 0;
  for (const auto& [name, node] : nodes) input_ports += node.in_ports.size();
  const std::size_t edges = graph_.edges().size();
  locations_.reserve(input_ports + edges + 1);

  // Input ports first, so that each edge can be given its target's handle.
  // `ports` holds each input port's Port, by handle, for the edges.
  std::vector<const Port*> ports;
  ports.reserve(input_ports);
  node_input_index_.assign(nodes.size(), kNoInputs);
  std::size_t position = 0;
  for (const auto& [name, node] : nodes) {
    const bool requests_when_idle =
        node.dependency_request_config &&
        node.dependency_request_config->has_trigger(DependencyRequestTrigger::OnNoSalvoTriggered);
    if (!node.in_ports.empty()) {
      const auto index = static_cast<std::uint32_t>(node_inputs_.size());
      node_input_index_[position] = index;
      NodeInputs& inputs = node_inputs_.emplace_back();
      inputs.node = &node;
      inputs.has_conditions = !node.in_salvo_conditions.empty();
      inputs.requests_when_idle = requests_when_idle;
      auto& handles = inputs.ports;
      handles.reserve(node.in_ports.size());
      for (const auto& [port_name, port] : node.in_ports) {
        const LocationHandle h = locations_.ensure(PacketLocation::InputPort(name, port_name));
        locations_[h].second.node = &node;
        locations_[h].second.node_index = index;
        handles.emplace_back(port_name, h);
        ports.resize(std::max<std::size_t>(ports.size(), h + 1));
        ports[h] = &port;
      }
    }
    if (requests_when_idle) requests_.tokens.insert_or_assign(name, true);
    ++position;
  }
  for (const Edge& edge : graph_.edges()) {
    const LocationHandle h = locations_.ensure(PacketLocation::Edge(edge));
    LocationEntry& entry = locations_[h].second;
    // A validated graph has every target; the step re-checks, as before.
    const Node* target = graph_.find_node(edge.target.node_name);
    if (target == nullptr) continue;
    const LocationHandle port = input_port_handle(*target, edge.target.port_name);
    if (port == kNoLocation) continue;
    entry.target = port;
    entry.target_port = ports[port];
  }
  locations_.ensure(PacketLocation::OutsideNet());
}

// --- Queries ----------------------------------------------------------------

const InputPortHandles* NetState::input_ports_of(const Node& node) const {
  const std::size_t position = graph_.nodes().position(node);
  if (position >= node_input_index_.size()) return nullptr;
  const std::uint32_t index = node_input_index_[position];
  return index == kNoInputs ? nullptr : &node_inputs_[index].ports;
}

LocationHandle NetState::input_port_handle(const Node& node, const Name& port_name) const {
  const InputPortHandles* ports = input_ports_of(node);
  return ports == nullptr ? kNoLocation : find_port_handle(*ports, port_name);
}

LocationHandle NetState::handle_of(const PacketLocation& location, const char* what) const {
  const LocationHandle h = locations_.find(location);
  if (h == kNoLocation) fail(std::string(what) + " has no entry in self._packets_by_location");
  return h;
}

std::uint64_t NetState::position_of(PacketIndex packet) const {
  const PacketRecord& record = packets_[packet];
  return locations_.queue(record.location).position(record.slot);
}

void NetState::copy_ids(const LocationQueue& queue, std::vector<Ulid>& ids) const {
  ids.clear();
  ids.reserve(queue.size());
  for (const PacketIndex packet : queue) ids.push_back(packets_[packet].id);
}

void NetState::check_queued(PacketIndex packet) const {
  const PacketRecord& record = packets_[packet];
  if (!locations_.queue(record.location).holds(record.slot, packet)) {
    fail("Packet with ID " + record.id.to_string() + " not found in location " +
         locations_.location(record.location).debug_string());
  }
}

// --- Packet primitives ------------------------------------------------------

// The unchecked move to the back, shared by the moves below; small enough
// to be inlined into each.
void NetState::move_head(PacketIndex packet, LocationHandle to) {
  const PacketRecord& record = packets_[packet];
  const LocationQueue& from = locations_.queue(record.location);
  if (from.empty() || from.slot_at(0) != record.slot || from.front() != packet) {
    fail("Packet with ID " + record.id.to_string() + " is not the head of location " +
         locations_.location(record.location).debug_string());
  }
  requeue_back(packet, to);
}

event::PacketMoved NetState::move_reported(PacketIndex packet, LocationHandle to, Timestamp at) {
  check_queued(packet);
  const LocationHandle from = packets_[packet].location;
  const std::uint64_t from_index = position_of(packet);
  requeue_back(packet, to);
  return moved_event(at, packet, from, from_index);
}

PacketIndex NetState::insert_packet(const Ulid& packet_id, LocationHandle location) {
  const PacketIndex packet = try_insert_packet(packet_id, location);
  if (packet == kNoPacket) fail("Packet " + packet_id.to_string() + " exists already");
  return packet;
}

PacketIndex NetState::try_insert_packet(const Ulid& packet_id, LocationHandle location) {
  // The row is taken first, so that the queue can hold it.
  const PacketIndex packet = packets_.try_insert(packet_id, location, 0);
  if (packet != kNoPacket) packets_[packet].slot = locations_.append(location, packet);
  return packet;
}

void NetState::erase_packet(PacketIndex packet) {
  check_queued(packet);
  const PacketRecord record = packets_[packet];
  packets_.erase(packet);
  locations_.remove(record.location, record.slot, renumberer());
}

// --- Epoch primitives -------------------------------------------------------

const Epoch& NetState::add_epoch(Epoch epoch, const Node* node, bool startable) {
  const Ulid id = epoch.id;
  const auto [it, added] = epochs_.emplace(id, std::move(epoch));
  if (!added) fail("Epoch " + id.to_string() + " exists already");
  node_to_epochs_[it->second.node_name].push_back(id);
  if (startable) startable_epochs_.insert(id);
  const LocationHandle at = locations_.ensure(PacketLocation::Node(id));
  if (node != nullptr) {
    // The epoch's locations linked from its Node entry, so that it finds
    // them without looking any up (canonical_epoch, drop_epoch).
    locations_[at].second.node = node;
    LocationHandle* link = &locations_[at].second.next_port;
    for (const auto& [port_name, port] : node->out_ports) {
      *link = locations_.ensure(PacketLocation::OutputPort(id, port_name));
      link = &locations_[*link].second.next_port;
    }
    *link = kNoLocation;
  }
  return it->second;
}

Epoch NetState::drop_epoch(EpochTable::const_iterator epoch, bool drop_empty_list) {
  const Ulid id = epoch->first;
  Epoch dropped = std::move(epochs_.extract(epoch).mapped());
  startable_epochs_.erase(id);
  const auto list = node_to_epochs_.find(dropped.node_name);
  if (list != node_to_epochs_.end()) {
    std::vector<Ulid>& ids = list->second;
    const auto pos = std::find(ids.begin(), ids.end(), id);
    if (pos != ids.end()) ids.erase(pos);
    if (drop_empty_list && ids.empty()) node_to_epochs_.erase(list);
  }
  const LocationHandle at = epoch_place(id);
  if (at != kNoLocation) {
    for (LocationHandle h = locations_[at].second.next_port; h != kNoLocation;) {
      const LocationHandle next = locations_[h].second.next_port;
      locations_.erase(h);
      h = next;
    }
    locations_.erase(at);
  }
  return dropped;
}

void NetState::set_startable(EpochTable::const_iterator epoch, bool startable) {
  Epoch& e = writable(epoch);
  if (startable) {
    e.state = EpochState::Startable;
    startable_epochs_.insert(e.id);
  } else {
    e.state = EpochState::Running;
    startable_epochs_.erase(e.id);
  }
}

void NetState::add_output_salvo(EpochTable::const_iterator epoch, Salvo&& salvo,
                                const std::vector<OrphanedPacketInfo>& orphans) {
  Epoch& e = writable(epoch);
  e.out_salvos.push_back(std::move(salvo));
  e.orphaned_packets.insert(e.orphaned_packets.end(), orphans.begin(), orphans.end());
}

bool NetState::pop_output_salvo(EpochTable::const_iterator epoch) {
  Epoch& e = writable(epoch);
  if (e.out_salvos.empty()) return false;
  e.out_salvos.pop_back();
  return true;
}

void NetState::forget_orphan(EpochTable::const_iterator epoch, const Ulid& packet_id) {
  std::erase_if(writable(epoch).orphaned_packets,
                [&](const OrphanedPacketInfo& info) { return info.packet_id == packet_id; });
}

// --- Request primitives -----------------------------------------------------

std::vector<PendingRequest> NetState::take_requests() {
  std::vector<PendingRequest> taken = std::move(requests_.pending);
  requests_.pending.clear();
  return taken;
}

void NetState::remove_last_request(const PendingRequest& request) {
  auto& pending = requests_.pending;
  const auto last = std::find(pending.rbegin(), pending.rend(), request);
  if (last != pending.rend()) pending.erase(std::next(last).base());
}

bool NetState::take_request_token(const Name& node_name) {
  const auto token = requests_.tokens.find(node_name);
  if (token == requests_.tokens.end() || !token->second) return false;
  token->second = false;
  return true;
}

}  // namespace zellik
