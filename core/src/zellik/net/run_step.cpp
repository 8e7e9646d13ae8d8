// The run step: edge moves, input salvos, then the request phases; and the
// blocked test that says whether another step could change anything. Both
// look only at the locations that hold packets, never at the whole graph.

#include <cstdint>
#include <iterator>
#include <optional>
#include <unordered_set>
#include <utility>
#include <vector>

#include "zellik/base/internal_failure.h"
#include "zellik/net/net_sim.h"

namespace zellik {

namespace {

// The packet counts of one node's input ports, read straight from the net's
// location entries (no map is built per evaluation).
class InputPortCounts final : public PortCountSource {
 public:
  InputPortCounts(const NetSim& net, const Name& node_name) : net_(net), node_name_(node_name) {}

  std::uint64_t count(const Name& port_name) const override {
    return net_.packet_count_at(PacketLocation::InputPort(node_name_, port_name));
  }

 private:
  const NetSim& net_;
  const Name& node_name_;
};

// One planned move of the head packet of an edge.
struct EdgeMoveCandidate {
  PacketLocation from_location;
  PacketLocation to_location;
  Ulid packet_id;
  std::uint64_t from_index;
  bool can_move;
};

// The target port of a packet-holding edge, or null when the target node or
// port is missing (which a validated graph rules out).
const Port* target_port(const Graph& graph, const Edge& edge) {
  const Node* node = graph.find_node(edge.target.node_name);
  if (node == nullptr) return nullptr;
  const auto it = node->in_ports.find(edge.target.port_name);
  return it == node->in_ports.end() ? nullptr : &it->second;
}

}  // namespace

NetActionResponse NetSim::run_step() {
  EventList events;
  bool made_progress = false;

  // Phase 1: plan one move per packet-holding edge on the counts as they stand
  // now, then carry the moves out. Only the active entries are looked at.
  std::vector<EdgeMoveCandidate> candidates;
  for (const LocationTable::value_type* entry : active_) {
    const PacketLocation& from = entry->first;
    if (!from.is(PacketLocation::Kind::Edge)) continue;
    const Edge& edge = from.edge();
    const Node* node = graph_.find_node(edge.target.node_name);
    if (node == nullptr) fail("Edge targets a non-existent node");
    const auto port = node->in_ports.find(edge.target.port_name);
    if (port == node->in_ports.end()) fail("Edge targets a non-existent input port");
    PacketLocation to = PacketLocation::InputPort(edge.target.node_name, edge.target.port_name);
    const bool can_move = port->second.slots_spec.has_room(packet_count_at(to));
    candidates.push_back(
        EdgeMoveCandidate{from, std::move(to), entry->second.queue.front(), 0, can_move});
  }
  for (const EdgeMoveCandidate& c : candidates) {
    if (!c.can_move) continue;
    move_packet(c.packet_id, c.to_location);
    events.emplace_back(event::PacketMoved{now_millis(), c.packet_id, c.from_location,
                                           c.to_location, c.from_index});
    made_progress = true;
  }

  // Phase 2: every node holding input packets gets one chance to fire.
  std::vector<const Node*> waiting;
  std::unordered_set<const Node*> seen;
  for (const LocationTable::value_type* entry : active_) {
    const PacketLocation& loc = entry->first;
    if (!loc.is(PacketLocation::Kind::InputPort)) continue;
    const Node* node = graph_.find_node(loc.node_name());
    // A node that is not in the graph can neither fire nor request.
    if (node == nullptr || !seen.insert(node).second) continue;
    waiting.push_back(node);
  }
  NameSet fired;
  for (const Node* node : waiting) {
    if (try_trigger_input_salvo(*node, events)) {
      fired.insert(node->name);
      made_progress = true;
    }
  }

  // Phases 3 to 5: requests.
  emit_startup_requests(events);
  emit_no_salvo_requests(waiting, fired, events);
  Result<bool, NetActionError> resolved = resolve_pending_requests(events);
  if (!resolved.ok()) return std::move(resolved).error();
  if (resolved.value()) made_progress = true;

  return NetActionSuccess{response::StepResult{made_progress}, std::move(events)};
}

bool NetSim::try_trigger_input_salvo(const Node& node, EventList& events) {
  const InputPortCounts counts(*this, node.name);
  const Name* fired_name = nullptr;
  const SalvoCondition* fired_condition = nullptr;
  for (const auto& [name, condition] : node.in_salvo_conditions) {
    if (evaluate_salvo_condition(condition.term, counts, node.in_ports)) {
      fired_name = &name;
      fired_condition = &condition;
      break;
    }
  }
  if (fired_condition == nullptr) return false;

  std::vector<std::pair<Name, Ulid>> taken;
  for (const auto& [port_name, how_many] : fired_condition->ports) {
    const LocationTable::value_type* entry = find_entry(PacketLocation::InputPort(node.name, port_name));
    if (entry == nullptr) continue;
    const PacketQueue& queue = entry->second.queue;
    const std::uint64_t take = how_many.take_from(queue.size());
    for (std::uint64_t i = 0; i < take; ++i) taken.emplace_back(port_name, queue.at(i));
  }

  const Ulid epoch_id = insert_new_epoch(node, Salvo{*fired_name, taken}).id;
  events.emplace_back(event::InputSalvoTriggered{now_millis(), epoch_id, *fired_name});
  events.emplace_back(event::EpochCreated{now_millis(), epoch_id});

  const PacketLocation inside = PacketLocation::Node(epoch_id);
  for (const auto& [port_name, packet_id] : taken) {
    PacketLocation from = PacketLocation::InputPort(node.name, port_name);
    const LocationTable::value_type* entry = find_entry(from);
    const std::optional<std::size_t> index =
        entry == nullptr ? std::nullopt : entry->second.queue.index_of(packet_id);
    if (!index) fail("Packet should exist at from_location");
    move_packet(packet_id, inside);
    events.emplace_back(event::PacketMoved{now_millis(), packet_id, std::move(from), inside,
                                           static_cast<std::uint64_t>(*index)});
  }
  return true;
}

bool NetSim::any_input_condition_holds(const Node& node) const {
  const InputPortCounts counts(*this, node.name);
  for (const auto& [name, condition] : node.in_salvo_conditions) {
    if (evaluate_salvo_condition(condition.term, counts, node.in_ports)) return true;
  }
  return false;
}

bool NetSim::is_blocked() const {
  for (const LocationTable::value_type* entry : active_) {
    const PacketLocation& loc = entry->first;
    if (!loc.is(PacketLocation::Kind::Edge)) continue;
    const Edge& edge = loc.edge();
    const Port* port = target_port(graph_, edge);
    if (port == nullptr) continue;
    const std::uint64_t count =
        packet_count_at(PacketLocation::InputPort(edge.target.node_name, edge.target.port_name));
    if (port->slots_spec.has_room(count)) return false;
  }
  for (const LocationTable::value_type* entry : active_) {
    const PacketLocation& loc = entry->first;
    if (!loc.is(PacketLocation::Kind::InputPort)) continue;
    const Node* node = graph_.find_node(loc.node_name());
    if (node != nullptr && any_input_condition_holds(*node)) return false;
  }
  if (!pending_requests_.empty()) return false;
  if (!startup_requests_sent_ && !request_index().startup_nodes.empty()) return false;
  return true;
}

EventList NetSim::run_until_blocked() {
  EventList events;
  while (!is_blocked()) {
    NetActionResponse step = do_action(action::RunStep{});
    if (!step.ok()) continue;
    EventList& produced = step.value().events;
    events.insert(events.end(), std::make_move_iterator(produced.begin()),
                  std::make_move_iterator(produced.end()));
  }
  return events;
}

}  // namespace zellik
