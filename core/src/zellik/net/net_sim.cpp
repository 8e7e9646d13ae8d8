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

// `graph`, once validation has found no fault in it.
const Graph& checked(const Graph& graph) {
  const std::vector<GraphValidationError> errors = validate_unless_checked(graph);
  if (!errors.empty()) fail(invalid_graph_message(errors));
  return graph;
}

}  // namespace

NetSim::NetSim(const Graph& graph, IdSource ids)
    : graph_(checked(graph)), ids_(ids), state_(graph_) {
  step_marks_.resize(state_.node_inputs().size());
}

// --- Queries ----------------------------------------------------------------

std::optional<Packet> NetSim::get_packet(const Ulid& packet_id) const {
  const PacketIndex packet = state_.packets().find(packet_id);
  if (packet == kNoPacket) return std::nullopt;
  return state_.packet_value(packet);
}

std::vector<std::pair<Ulid, Packet>> NetSim::packets() const {
  std::vector<std::pair<Ulid, Packet>> all;
  all.reserve(state_.packets().size());
  state_.packets().for_each([&](PacketIndex packet) {
    Packet value = state_.packet_value(packet);
    all.emplace_back(value.id, std::move(value));
  });
  return all;
}

const Epoch* NetSim::get_epoch(const Ulid& epoch_id) const {
  const auto it = state_.epochs().find(epoch_id);
  return it == state_.epochs().end() ? nullptr : &it->second;
}

std::vector<Ulid> NetSim::get_packets_at_location(const PacketLocation& location) const {
  const LocationHandle h = state_.locations().find(location);
  std::vector<Ulid> ids;
  if (h != kNoLocation) state_.copy_ids(state_.locations().queue(h), ids);
  return ids;
}

std::uint64_t NetSim::packet_count_at(const PacketLocation& location) const {
  const LocationHandle h = state_.locations().find(location);
  return h == kNoLocation ? 0 : state_.count_at(h);
}

void NetSim::get_epoch_packets(const Ulid& epoch_id, std::vector<Ulid>& out) const {
  const LocationHandle h = state_.epoch_place(epoch_id);
  if (h == kNoLocation) {
    out.clear();
    return;
  }
  state_.copy_ids(state_.locations().queue(h), out);
}

std::vector<Ulid> NetSim::get_startable_epochs() const {
  const UlidSet& startable = state_.startable_epochs();
  return std::vector<Ulid>(startable.begin(), startable.end());
}

// --- Dispatch ---------------------------------------------------------------

NetActionResponse NetSim::do_action(const NetAction& action) {
  // One response, filled in place and returned as is on either path.
  NetActionResponse response = NetActionSuccess{response::Empty{}, EventList()};
  EventList& events = response.value().events;
  ActionResult done = perform_action(action, events);
  if (done.ok()) {
    response.value().data = response_data(*this, action, done.value(), events);
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

// --- Response data --------------------------------------------------------

NetActionResponseData response_data(const NetSim& net, const NetAction& action,
                                    const ActionDone& done, std::span<const NetEvent> events) {
  if (std::holds_alternative<action::RunStep>(action)) {
    return response::StepResult{done.made_progress};
  }
  if (std::holds_alternative<action::CreatePacket>(action)) {
    return response::Packet{done.created};
  }
  if (std::holds_alternative<action::CreateEpoch>(action)) {
    return response::CreatedEpoch{*net.get_epoch(done.created)};
  }
  if (const auto* a = std::get_if<action::StartEpoch>(&action)) {
    return response::StartedEpoch{*net.get_epoch(a->epoch_id)};
  }
  // An ended epoch as its last event (EpochFinished, EpochCancelled) keeps it.
  if (std::holds_alternative<action::FinishEpoch>(action)) {
    Epoch finished = *std::get<event::EpochFinished>(events.back()).epoch;
    finished.state = EpochState::Finished;
    return response::FinishedEpoch{std::move(finished)};
  }
  if (std::holds_alternative<action::CancelEpoch>(action)) {
    // The packets it destroyed, in the order of their events.
    std::vector<Ulid> destroyed;
    for (const NetEvent& event : events) {
      if (const auto* gone = std::get_if<event::PacketDestroyed>(&event)) {
        destroyed.push_back(gone->packet_id);
      }
    }
    return response::CancelledEpoch{*std::get<event::EpochCancelled>(events.back()).epoch,
                                    std::move(destroyed)};
  }
  return response::Empty{};
}

Ulid NetSim::insert_new_epoch(const Node& node, Salvo in_salvo) {
  Ulid id = ids_.next_id();
  while (state_.epochs().contains(id)) id = ids_.next_id();

  Epoch epoch;
  epoch.id = id;
  epoch.node_name = node.name;
  epoch.in_salvo = std::move(in_salvo);
  epoch.state = EpochState::Startable;
  state_.add_epoch(std::move(epoch), &node, /*startable=*/true);
  return id;
}

}  // namespace zellik
