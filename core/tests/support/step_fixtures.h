#pragma once

// Helpers for the run-step, request and undo tests: short ways to make
// packets, take steps and read events.

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "support/graph_builders.h"
#include "support/net_test_access.h"
#include "zellik/net/net_sim.h"

namespace zellik::testkit {

inline PacketLocation at_input(std::string_view node, std::string_view port) {
  return PacketLocation::InputPort(Name(node), Name(port));
}

// on_edge("A.out", "B.in") is the location of that edge.
inline PacketLocation on_edge(std::string_view from, std::string_view to) {
  return PacketLocation::Edge(edge(from, to));
}

// The success of `response`; records a test failure (and returns an empty
// success) when the action was refused.
inline NetActionSuccess expect_success(NetActionResponse response) {
  if (!response.ok()) {
    ADD_FAILURE() << "action refused with error kind " << static_cast<int>(response.error().kind);
    return NetActionSuccess{response::Empty{}, {}};
  }
  return std::move(response).value();
}

// Performs `action`, expecting success; its events.
inline EventList act(NetSim& net, const NetAction& action) {
  return expect_success(net.do_action(action)).events;
}

// A new packet at OutsideNet.
inline Ulid make_packet(NetSim& net) {
  const NetActionSuccess done = expect_success(net.do_action(action::CreatePacket{}));
  const auto* data = std::get_if<response::Packet>(&done.data);
  return data == nullptr ? Ulid{} : data->packet_id;
}

// A new packet placed at `location` (an edge, an input port, ...).
inline Ulid place_packet(NetSim& net, const PacketLocation& location) {
  const Ulid id = make_packet(net);
  act(net, action::TransportPacketToLocation{id, location});
  return id;
}

// One run step expected to succeed: its progress flag and events.
struct StepOutcome {
  bool made_progress = false;
  EventList events;
};

inline StepOutcome step(NetSim& net) {
  NetActionSuccess done = expect_success(net.do_action(action::RunStep{}));
  const auto* data = std::get_if<response::StepResult>(&done.data);
  return StepOutcome{data != nullptr && data->made_progress, std::move(done.events)};
}

// The variant name of an event.
inline std::string event_kind(const NetEvent& e) {
  static constexpr std::array<std::string_view, 14> kNames = {
      "PacketCreated",          "PacketConsumed",       "PacketDestroyed", "EpochCreated",
      "EpochStarted",           "EpochFinished",        "EpochCancelled",  "PacketMoved",
      "InputSalvoTriggered",    "OutputSalvoTriggered", "PacketOrphaned",  "RequestCreated",
      "RequestCascadeResolved", "RequestEpochCreated"};
  return std::string(kNames[e.index()]);
}

inline std::vector<std::string> event_kinds(const EventList& events) {
  std::vector<std::string> kinds;
  kinds.reserve(events.size());
  for (const NetEvent& e : events) kinds.push_back(event_kind(e));
  return kinds;
}

// The i-th event as `E`; records a failure when it is another kind.
template <class E>
const E& event_as(const EventList& events, std::size_t i) {
  static const E kNone{};
  if (i >= events.size() || !std::holds_alternative<E>(events[i])) {
    ADD_FAILURE() << "event " << i << " is not of the expected kind";
    return kNone;
  }
  return std::get<E>(events[i]);
}

// The epoch ids of a node's live epochs, in creation order.
inline std::vector<Ulid> epochs_of(const NetSim& net, std::string_view node) {
  const auto it = tables_of(net).node_epochs().find(node);
  return it == tables_of(net).node_epochs().end() ? std::vector<Ulid>{} : it->second;
}

inline std::vector<std::string> names(const std::vector<Name>& list) {
  std::vector<std::string> out;
  for (const Name& n : list) out.push_back(n.str());
  return out;
}

}  // namespace zellik::testkit
