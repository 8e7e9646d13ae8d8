#include "zellik/net/net_sim.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "zellik/base/internal_failure.h"
#include "zellik/graph/validation.h"

namespace zellik {

namespace {

std::string invalid_graph_message(const std::vector<GraphValidationError>& errors) {
  std::string text = "Cannot create NetSim with invalid graph:";
  for (const GraphValidationError& error : errors) {
    text += "\n  - ";
    text += message(error);
  }
  return text;
}

}  // namespace

NetSim::NetSim(const Graph& graph, IdSource ids) : graph_(graph), ids_(ids) {
  const std::vector<GraphValidationError> errors = validate_unless_checked(graph_);
  if (!errors.empty()) fail(invalid_graph_message(errors));

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
    if (!node.in_ports.empty()) {
      const auto index = static_cast<std::uint32_t>(node_inputs_.size());
      node_input_index_[position] = index;
      NodeInputs& inputs = node_inputs_.emplace_back();
      inputs.node = &node;
      inputs.has_conditions = !node.in_salvo_conditions.empty();
      inputs.requests_when_idle =
          node.dependency_request_config &&
          node.dependency_request_config->has_trigger(DependencyRequestTrigger::OnNoSalvoTriggered);
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
    if (node.dependency_request_config &&
        node.dependency_request_config->has_trigger(DependencyRequestTrigger::OnNoSalvoTriggered)) {
      request_tokens_.insert_or_assign(name, true);
    }
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

FoundPacket NetSim::get_packet(const Ulid& packet_id) const {
  const PacketIndex packet = packets_.find(packet_id);
  return packet == kNoPacket ? FoundPacket{} : FoundPacket(packet_value(packet));
}

std::vector<std::pair<Ulid, Packet>> NetSim::packets() const {
  std::vector<std::pair<Ulid, Packet>> all;
  all.reserve(packets_.size());
  packets_.for_each([&](PacketIndex packet) {
    Packet value = packet_value(packet);
    all.emplace_back(value.id, std::move(value));
  });
  return all;
}

const Epoch* NetSim::get_epoch(const Ulid& epoch_id) const {
  auto it = epochs_.find(epoch_id);
  return it == epochs_.end() ? nullptr : &it->second;
}

std::vector<Ulid> NetSim::get_packets_at_location(const PacketLocation& location) const {
  const LocationHandle h = locations_.find(location);
  std::vector<Ulid> ids;
  if (h != kNoLocation) copy_ids(locations_.queue(h), ids);
  return ids;
}

void NetSim::copy_ids(const LocationQueue& queue, std::vector<Ulid>& ids) const {
  ids.clear();
  ids.reserve(queue.size());
  for (const PacketIndex packet : queue) ids.push_back(packets_[packet].id);
}

std::uint64_t NetSim::packet_count_at(const PacketLocation& location) const {
  const LocationHandle h = locations_.find(location);
  return h == kNoLocation ? 0 : count_at(h);
}

void NetSim::get_epoch_packets(const Ulid& epoch_id, std::vector<Ulid>& out) const {
  const LocationHandle h = epoch_place(epoch_id);
  if (h == kNoLocation) {
    out.clear();
    return;
  }
  copy_ids(locations_.queue(h), out);
}

std::vector<Ulid> NetSim::get_startable_epochs() const {
  return std::vector<Ulid>(startable_epochs_.begin(), startable_epochs_.end());
}

// --- Dispatch ---------------------------------------------------------------

NetActionResponse NetSim::do_action(const NetAction& action) {
  // One response, filled in place and returned as is on either path.
  NetActionResponse response = NetActionSuccess{response::Empty{}, EventList()};
  EventList& events = response.value().events;
  ActionResult done = perform_action(action, events);
  if (done.ok()) {
    fill_response(action, done.value(), response.value());
  } else {
    response = std::move(done).error();
  }
  return response;
}

ActionResult NetSim::perform_action(const NetAction& action, EventList& events) {
  return std::visit([&](const auto& a) { return act(a, events); }, action);
}

ActionResult NetSim::act(const action::RunStep&, EventList& events) {
  const std::size_t before = events.size();
  Result<bool, NetActionError> progress = run_step_into(events);
  if (progress.ok()) return ActionDone{Ulid(), progress.value()};
  events.erase(events.begin() + static_cast<std::ptrdiff_t>(before), events.end());
  return std::move(progress).error();
}

void NetSim::fill_response(const NetAction& action, const ActionDone& done,
                           NetActionSuccess& success) const {
  const EventList& events = success.events;
  if (std::holds_alternative<action::RunStep>(action)) {
    success.data = response::StepResult{done.made_progress};
  }
  if (std::holds_alternative<action::CreatePacket>(action)) {
    success.data = response::Packet{done.created};
  }
  if (std::holds_alternative<action::CreateEpoch>(action)) {
    success.data = response::CreatedEpoch{*get_epoch(done.created)};
  }
  if (const auto* a = std::get_if<action::StartEpoch>(&action)) {
    success.data = response::StartedEpoch{*get_epoch(a->epoch_id)};
  }
  // An ended epoch as its last event (EpochFinished, EpochCancelled) keeps it.
  if (std::holds_alternative<action::FinishEpoch>(action)) {
    Epoch finished = *std::get<event::EpochFinished>(events.back()).epoch;
    finished.state = EpochState::Finished;
    success.data = response::FinishedEpoch{std::move(finished)};
  }
  if (std::holds_alternative<action::CancelEpoch>(action)) {
    // The packets it destroyed, in the order of their events.
    std::vector<Ulid> destroyed;
    for (const NetEvent& event : events) {
      if (const auto* gone = std::get_if<event::PacketDestroyed>(&event)) {
        destroyed.push_back(gone->packet_id);
      }
    }
    success.data = response::CancelledEpoch{*std::get<event::EpochCancelled>(events.back()).epoch,
                                            std::move(destroyed)};
  }
  // The others leave it Empty.
}

// --- State primitives -------------------------------------------------------

// The unchecked move to the back, shared by the moves below; small enough
// to be inlined into each.
void NetSim::move_head(PacketIndex packet, LocationHandle to) {
  const PacketRecord& record = packets_[packet];
  const LocationQueue& from = locations_.queue(record.location);
  if (from.empty() || from.slot_at(0) != record.slot || from.front() != packet) {
    fail("Packet with ID " + record.id.to_string() + " is not the head of location " +
         locations_.location(record.location).debug_string());
  }
  requeue_back(packet, to);
}

event::PacketMoved NetSim::move_reported(PacketIndex packet, LocationHandle to, Timestamp at) {
  check_queued(packet);
  const LocationHandle from = packets_[packet].location;
  const std::uint64_t from_index = position_of(packet);
  requeue_back(packet, to);
  return moved_event(at, packet, from, from_index);
}

std::uint64_t NetSim::position_of(PacketIndex packet) const {
  const PacketRecord& record = packets_[packet];
  return locations_.queue(record.location).position(record.slot);
}

PacketIndex NetSim::insert_packet(const Ulid& packet_id, LocationHandle location) {
  const PacketIndex packet = try_insert_packet(packet_id, location);
  if (packet == kNoPacket) fail("Packet " + packet_id.to_string() + " exists already");
  return packet;
}

PacketIndex NetSim::try_insert_packet(const Ulid& packet_id, LocationHandle location) {
  // The row is taken first, so that the queue can hold it.
  const PacketIndex packet = packets_.try_insert(packet_id, location, 0);
  if (packet != kNoPacket) packets_[packet].slot = locations_.append(location, packet);
  return packet;
}

void NetSim::erase_packet(PacketIndex packet) {
  check_queued(packet);
  const PacketRecord record = packets_[packet];
  packets_.erase(packet);
  locations_.remove(record.location, record.slot, renumberer());
}

void NetSim::check_queued(PacketIndex packet) const {
  const PacketRecord& record = packets_[packet];
  if (!locations_.queue(record.location).holds(record.slot, packet)) {
    fail("Packet with ID " + record.id.to_string() + " not found in location " +
         locations_.location(record.location).debug_string());
  }
}

LocationHandle NetSim::handle_of(const PacketLocation& location, const char* what) const {
  const LocationHandle h = locations_.find(location);
  if (h == kNoLocation) fail(std::string(what) + " has no entry in self._packets_by_location");
  return h;
}

LocationHandle NetSim::input_port_handle(const Node& node, const Name& port_name) const {
  const InputPortHandles* ports = input_ports_of(node);
  return ports == nullptr ? kNoLocation : find_port_handle(*ports, port_name);
}

const InputPortHandles* NetSim::input_ports_of(const Node& node) const {
  const std::size_t position = graph_.nodes().position(node);
  if (position >= node_input_index_.size()) return nullptr;
  const std::uint32_t index = node_input_index_[position];
  return index == kNoInputs ? nullptr : &node_inputs_[index].ports;
}

Epoch& NetSim::add_epoch(Epoch epoch, const Node* node, bool startable) {
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

Epoch NetSim::drop_epoch(EpochTable::iterator epoch, bool drop_empty_list) {
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

void NetSim::set_startable(Epoch& epoch, bool startable) {
  if (startable) {
    epoch.state = EpochState::Startable;
    startable_epochs_.insert(epoch.id);
  } else {
    epoch.state = EpochState::Running;
    startable_epochs_.erase(epoch.id);
  }
}

Epoch& NetSim::insert_new_epoch(const Node& node, Salvo in_salvo) {
  Ulid id = ids_.next_id();
  while (epochs_.contains(id)) id = ids_.next_id();

  Epoch epoch;
  epoch.id = id;
  epoch.node_name = node.name;
  epoch.in_salvo = std::move(in_salvo);
  epoch.state = EpochState::Startable;
  return add_epoch(std::move(epoch), &node, /*startable=*/true);
}

}  // namespace zellik
