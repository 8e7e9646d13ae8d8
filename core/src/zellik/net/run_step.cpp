// The run step: edge moves, input salvos, then the request phases; and the
// blocked test that says whether another step could change anything. Both
// look only at the locations that hold packets, never at the whole graph.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iterator>
#include <optional>
#include <unordered_set>
#include <utility>
#include <vector>

#include <boost/container/small_vector.hpp>

#include "zellik/base/huge_pages.h"
#include "zellik/base/internal_failure.h"
#include "zellik/base/prefetch.h"
#include "zellik/net/net_sim.h"

namespace zellik {

namespace {

// The packet counts of one node's input ports, read straight from the net's
// location entries through the node's port handles (no name is hashed).
auto input_counts(const LocationTable& locations, const InputPortHandles& ports) {
  return CountsAtPorts(locations,
                       [&ports](const Name& port) { return find_port_handle(ports, port); });
}

}  // namespace

Result<bool, NetActionError> NetSim::run_step_into(EventList& events) {
  bool made_progress = false;

  // Phase 1: plan one move per packet-holding edge on the counts as they stand
  // now, then carry the moves out. Only the active entries are looked at, and
  // each edge entry knows its target port.
  step_moves_.clear();
  for (const LocationTable::value_type* entry : state_.locations().active()) {
    if (entry->second.kind() != PacketLocation::Kind::Edge) continue;
    const LocationEntry& e = entry->second;
    if (e.target_port == nullptr) {
      const Edge& edge = entry->first.edge();
      const Node* node = graph_.find_node(edge.target.node_name);
      if (node == nullptr) fail("Edge targets a non-existent node");
      fail("Edge targets a non-existent input port");
    }
    if (!e.target_port->slots_spec.has_room(state_.count_at(e.target))) continue;
    const PacketIndex head = e.queue.front();
    step_moves_.push_back(EdgeMove{e.handle(), e.target, head});
    // The moves below read each head's record; asking for it now lets the
    // misses of all the step's heads overlap instead of coming one by one.
    prefetch_for_read(&state_.packets()[head]);
  }
  const std::size_t wanted = events.size() + step_moves_.size() + 8;
  if (wanted > events.capacity()) events.reserve(std::max(wanted, 2 * events.capacity()));
  // The moves of one phase are made in the same instant.
  const Timestamp now = step_moves_.empty() ? 0 : now_millis();
  for (const EdgeMove& m : step_moves_) {
    state_.move_head(m.packet, m.to);
    // The head of an edge is at position 0 when it leaves.
    events.emplace_back(state_.moved_event(now, m.packet, m.from, 0));
    made_progress = true;
  }

  // Phase 2: every node holding input packets gets one chance to fire.
  // One chance per node, in the order its first port appears in the index.
  std::vector<std::uint32_t>& waiting = step_waiting_;
  waiting.clear();
  ++step_serial_;
  for (const LocationTable::value_type* entry : state_.locations().active()) {
    if (entry->second.kind() != PacketLocation::Kind::InputPort) continue;
    // A node that is not in the graph can neither fire nor request.
    const LocationEntry& e = entry->second;
    if (e.node == nullptr) continue;
    StepMarks& marks = step_marks_[e.node_index];
    if (marks.seen_in_step == step_serial_) continue;
    marks.seen_in_step = step_serial_;
    waiting.push_back(e.node_index);
  }
  const std::vector<NodeInputs>& node_inputs = state_.node_inputs();
  for (const std::uint32_t index : waiting) {
    const NodeInputs& inputs = node_inputs[index];
    if (inputs.has_conditions && try_trigger_input_salvo(inputs, events)) {
      step_marks_[index].fired_in_step = step_serial_;
      made_progress = true;
    }
  }

  // Phases 3 to 5: requests.
  emit_startup_requests(events);
  emit_no_salvo_requests(waiting, events);
  Result<bool, NetActionError> resolved = resolve_pending_requests(events);
  if (!resolved.ok()) return std::move(resolved).error();
  if (resolved.value()) made_progress = true;
  return made_progress;
}

bool NetSim::try_trigger_input_salvo(const NodeInputs& inputs, EventList& events) {
  const Node& node = *inputs.node;
  const auto counts = input_counts(state_.locations(), inputs.ports);
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
  boost::container::small_vector<std::pair<PacketIndex, LocationHandle>, 16> taken_from;
  for (const auto& [condition_port, how_many] : fired_condition->ports) {
    // The salvo names each port as the node does, so that its records share
    // the node's names (and compare by address).
    const Name& wanted = condition_port;
    const auto port = std::find_if(inputs.ports.begin(), inputs.ports.end(),
                                   [&wanted](const auto& p) { return p.first == wanted; });
    if (port == inputs.ports.end()) continue;
    const auto& [port_name, h] = *port;
    const LocationQueue& queue = state_.locations().queue(h);
    const std::uint64_t take = how_many.take_from(queue.size());
    for (std::uint64_t i = 0; i < take; ++i) {
      taken.emplace_back(port_name, state_.packets()[queue.at(i)].id);
      taken_from.emplace_back(queue.at(i), h);
    }
  }

  const Ulid epoch_id = insert_new_epoch(node, Salvo{*fired_name, std::move(taken)});
  events.emplace_back(event::InputSalvoTriggered{now_millis(), epoch_id, *fired_name});
  events.emplace_back(event::EpochCreated{now_millis(), epoch_id});

  const LocationHandle inside = state_.epoch_place(epoch_id);
  if (inside == kNoLocation) fail("Node location has no entry in self._packets_by_location");
  for (const auto& [packet, from] : taken_from) {
    if (state_.packets()[packet].location != from) fail("Packet should exist at from_location");
    events.emplace_back(state_.move_reported(packet, inside, now_millis()));
  }
  return true;
}

bool NetSim::any_input_condition_holds(const NodeInputs& inputs) const {
  if (!inputs.has_conditions) return false;
  const Node& node = *inputs.node;
  const auto counts = input_counts(state_.locations(), inputs.ports);
  for (const auto& [name, condition] : node.in_salvo_conditions) {
    if (evaluate_salvo_condition(condition.term, counts, node.in_ports)) return true;
  }
  return false;
}

bool NetSim::is_blocked() const {
  for (const LocationTable::value_type* entry : state_.locations().active()) {
    if (entry->second.kind() != PacketLocation::Kind::Edge) continue;
    const LocationEntry& e = entry->second;
    if (e.target_port == nullptr) continue;
    if (e.target_port->slots_spec.has_room(state_.count_at(e.target))) return false;
  }
  for (const LocationTable::value_type* entry : state_.locations().active()) {
    if (entry->second.kind() != PacketLocation::Kind::InputPort) continue;
    const LocationEntry& e = entry->second;
    if (e.node != nullptr && any_input_condition_holds(state_.node_inputs()[e.node_index]))
      return false;
  }
  const RequestState& requests = state_.requests();
  if (!requests.pending.empty()) return false;
  if (!requests.startup_requests_sent && !request_index().startup_nodes.empty()) return false;
  return true;
}

EventList NetSim::run_until_blocked() {
  // Every packet waiting on an edge or at an input port is likely to move at
  // least once before the net blocks: room for that many events up front
  // spares the list its regrowth copies. (Reserved memory that is never
  // written is never made resident.)
  std::size_t waiting = 0;
  for (const LocationTable::value_type* entry : state_.locations().active()) {
    waiting += entry->second.queue.size();
  }
  EventList events;
  events.reserve(waiting + 16);
  advise_huge_pages(events.data(), events.capacity() * sizeof(NetEvent));
  while (!is_blocked()) run_step_keeping_success(events);
  return events;
}

void NetSim::run_step_keeping_success(EventList& events) {
  const std::size_t mark = events.size();
  if (!run_step_into(events).ok()) {
    events.erase(events.begin() + static_cast<std::ptrdiff_t>(mark), events.end());
  }
}

bool NetSim::run_steps_into(EventList& events, std::size_t max_steps,
                            std::chrono::steady_clock::time_point deadline, std::size_t max_events,
                            std::size_t* steps_run) {
  for (std::size_t step = 0; step < max_steps; ++step) {
    if (is_blocked()) return true;
    run_step_keeping_success(events);
    if (steps_run != nullptr) ++*steps_run;
    if (events.size() >= max_events || std::chrono::steady_clock::now() >= deadline) break;
  }
  return false;
}

}  // namespace zellik
