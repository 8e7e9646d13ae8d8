#pragma once

// What the explorer's fuzz target reads from its input besides the graph:
// declarations that the graph can carry out, or that it cannot in one
// known way; limits and an order; and a few actions that take the net
// mid-run before the exploration starts.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "zellik/base/internal_failure.h"
#include "zellik/explore/behaviour.h"
#include "zellik/explore/explorer.h"
#include "zellik/net/net_sim.h"

namespace zellik::fuzz {

// Where packets can be injected: every edge, then every input port.
inline std::vector<PacketLocation> injection_places(const Graph& graph) {
  std::vector<PacketLocation> places;
  for (const Edge& edge : graph.edges()) places.push_back(PacketLocation::Edge(edge));
  for (const auto& [name, node] : graph.nodes()) {
    for (const auto& [port, slots] : node.in_ports)
      places.push_back(PacketLocation::InputPort(name, port));
  }
  return places;
}

// The nodes some dependency edge enters: those requests can be made of.
inline std::vector<Name> requestable_nodes(const Graph& graph) {
  std::vector<Name> names;
  for (const auto& [name, node] : graph.nodes()) {
    for (const Edge& edge : graph.dependency_edges()) {
      if (edge.target.node_name == name) {
        names.push_back(name);
        break;
      }
    }
  }
  return names;
}

template <class Map>
std::vector<Name> keys(const Map& map) {
  std::vector<Name> names;
  for (const auto& [name, value] : map) names.push_back(name);
  return names;
}

inline explore::Outcome random_outcome(ByteInput& in, const Node& node) {
  explore::Outcome outcome;
  const std::vector<Name> outs = keys(node.out_ports);
  const std::vector<Name> sends = keys(node.out_salvo_conditions);
  if (!outs.empty() && in.pick(3) == 0) outcome.pass_to = in.one_of(outs);
  for (std::size_t n = outs.empty() ? 0 : in.pick(3); n > 0; --n) {
    const Name& port = in.one_of(outs);
    const PortSlotSpec& slots = node.out_ports.find(port)->second.slots_spec;
    const std::uint64_t most =
        slots.is_infinite() ? 2 : std::min<std::uint64_t>(2, slots.capacity());
    if (most > 0) outcome.creates.emplace_back(port, 1 + in.pick(most));
  }
  for (std::size_t n = sends.empty() ? 0 : in.pick(3); n > 0; --n)
    outcome.sends.push_back(in.one_of(sends));
  return outcome;
}

// Declarations `graph` can carry out (check_declarations must take them):
// behaviours for some nodes, one to three injections, a few requests.
inline explore::Declarations random_declarations(ByteInput& in, const Graph& graph) {
  explore::Declarations d;
  for (const auto& [name, node] : graph.nodes()) {
    if (in.pick(3) == 0) continue;
    explore::Behaviour behaviour{name, {}};
    for (std::size_t n = 1 + in.pick(3); n > 0; --n)
      behaviour.outcomes.push_back(random_outcome(in, node));
    d.behaviours.push_back(std::move(behaviour));
  }
  const std::vector<PacketLocation> places = injection_places(graph);
  for (std::size_t n = places.empty() ? 0 : 1 + in.pick(3); n > 0; --n)
    d.injections.push_back(explore::Injection{in.one_of(places), 1 + in.pick(3)});
  const std::vector<Name> requestable = requestable_nodes(graph);
  for (std::size_t n = requestable.empty() ? 0 : in.pick(3); n > 0; --n) {
    d.requests.push_back(explore::RequestAllowance{in.one_of(requestable),
                                                   Name(in.pick(2) ? "r" : "l"), 1 + in.pick(2)});
  }
  return d;
}

// Spoils `d` in one of the ways check_declarations must refuse; what was
// done, for a finding's text.
inline std::string spoil(ByteInput& in, const Graph& graph, explore::Declarations& d) {
  const Name nowhere("nowhere");
  const auto some_behaviour = [&]() -> explore::Behaviour& {
    if (d.behaviours.empty()) {
      const Node& first = graph.nodes().begin()->second;
      d.behaviours.push_back(explore::Behaviour{first.name, {explore::Outcome{}}});
    }
    return d.behaviours[in.pick(d.behaviours.size())];
  };
  const auto some_outcome = [&]() -> explore::Outcome& {
    explore::Behaviour& b = some_behaviour();
    if (b.outcomes.empty()) b.outcomes.emplace_back();
    return b.outcomes[in.pick(b.outcomes.size())];
  };
  // A name the node lacks among its output ports or conditions: made up,
  // or one of its input ports.
  const auto missing_out = [&](const explore::Behaviour& b) {
    const Node& node = *graph.find_node(b.node);
    if (!node.in_ports.empty() && in.pick(2) == 0) {
      const Name port = in.one_of(keys(node.in_ports));
      if (node.out_ports.find(port) == node.out_ports.end()) return port;
    }
    return nowhere;
  };
  switch (in.pick(13)) {
    case 0:
      d.behaviours.push_back(explore::Behaviour{nowhere, {explore::Outcome{}}});
      return "a behaviour of a node the graph lacks";
    case 1:
      d.behaviours.push_back(some_behaviour());
      return "two behaviours of one node";
    case 2:
      some_behaviour().outcomes.clear();
      return "a behaviour without outcomes";
    case 3: {
      explore::Behaviour& b = some_behaviour();
      b.outcomes[in.pick(b.outcomes.size())].pass_to = missing_out(b);
      return "pass_to an output port the node lacks";
    }
    case 4: {
      explore::Behaviour& b = some_behaviour();
      b.outcomes[in.pick(b.outcomes.size())].creates.emplace_back(missing_out(b), 1);
      return "packets created in an output port the node lacks";
    }
    case 5: {
      explore::Behaviour& b = some_behaviour();
      b.outcomes[in.pick(b.outcomes.size())].sends.push_back(nowhere);
      return "a condition sent that the node lacks";
    }
    case 6: {
      // More than a finite output port holds, when the graph has one.
      for (const auto& [name, node] : graph.nodes()) {
        for (const auto& [port, slots] : node.out_ports) {
          if (slots.slots_spec.is_infinite()) continue;
          const Name& full = name;  // (a lambda cannot capture a binding in C++20)
          std::erase_if(d.behaviours, [&](const explore::Behaviour& b) { return b.node == full; });
          d.behaviours.push_back(explore::Behaviour{
              name, {explore::Outcome{{}, {{port, slots.slots_spec.capacity() + 1}}, {}}}});
          return "more packets created than an output port holds";
        }
      }
      some_outcome().sends.push_back(nowhere);
      return "a condition sent that the node lacks";
    }
    case 7:
      d.injections.push_back(explore::Injection{
          PacketLocation::Edge(
              Edge{PortRef{nowhere, PortType::Output, Name("x")},
                   PortRef{graph.nodes().begin()->first, PortType::Input, Name("a")}}),
          1});
      return "an injection on an edge the graph lacks";
    case 8:
      d.injections.push_back(explore::Injection{PacketLocation::InputPort(nowhere, Name("a")), 1});
      return "an injection into a node the graph lacks";
    case 9:
      d.injections.push_back(explore::Injection{
          PacketLocation::InputPort(graph.nodes().begin()->first, Name("x")), 1});
      return "an injection into an input port the node lacks";
    case 10:
      d.injections.push_back(explore::Injection{
          in.pick(2) == 0 ? PacketLocation::OutsideNet() : PacketLocation::Node(Ulid{1, 2}), 1});
      return "an injection where only an epoch or nothing holds packets";
    case 11:
      d.requests.push_back(explore::RequestAllowance{nowhere, Name("r"), 1});
      return "requests of a node the graph lacks";
    default: {
      const std::vector<Name> requestable = requestable_nodes(graph);
      for (const auto& [name, node] : graph.nodes()) {
        if (std::find(requestable.begin(), requestable.end(), name) == requestable.end()) {
          d.requests.push_back(explore::RequestAllowance{name, Name("r"), 1});
          return "requests of a node no dependency edge enters";
        }
      }
      d.requests.push_back(explore::RequestAllowance{nowhere, Name("r"), 1});
      return "requests of a node the graph lacks";
    }
  }
}

// An order and limits; random walks always with a depth limit, which
// keeps a walk through an endless space finite.
inline explore::Options random_options(ByteInput& in) {
  explore::Options o;
  o.order = static_cast<explore::SearchOrder>(in.pick(3));
  o.exact = in.pick(4) == 3;
  if (in.pick(2) == 1) {
    if (in.pick(2) == 1) o.limits.max_states = 1 + in.pick(48);
    if (in.pick(2) == 1) o.limits.max_depth = 1 + in.pick(12);
    if (in.pick(2) == 1) o.limits.max_packets = 1 + in.pick(4);
  }
  o.seed = in.byte();
  o.walks = 1 + in.pick(4);
  if (o.order == explore::SearchOrder::RandomWalk && o.limits.max_depth == 0)
    o.limits.max_depth = 24;
  return o;
}

// A few actions on `net` before it is explored: steps, packets put in,
// epochs started and partly run, requests. Refusals are part of it.
inline void take_mid_run(ByteInput& in, NetSim& net) {
  const std::vector<PacketLocation> places = injection_places(net.graph());
  const std::vector<Name> nodes = keys(net.graph().nodes());
  EventList events;
  try {
    for (std::size_t n = in.pick(8); n > 0; --n) {
      switch (in.pick(6)) {
        case 0:
          (void)net.do_action(action::RunStep{});
          break;
        case 1: {
          if (places.empty()) break;
          const NetActionResponse made = net.do_action(action::CreatePacket{});
          const Ulid id = std::get<response::Packet>(made.value().data).packet_id;
          (void)net.do_action(action::TransportPacketToLocation{id, in.one_of(places)});
          break;
        }
        case 2: {
          std::vector<Ulid> startable = net.get_startable_epochs();
          std::sort(startable.begin(), startable.end());
          if (!startable.empty()) (void)net.do_action(action::StartEpoch{in.one_of(startable)});
          break;
        }
        case 3: {
          // A packet inside a running epoch, consumed or loaded into a port.
          for (const auto& [id, epoch] : net.epochs()) {
            const std::vector<Ulid> inside = net.get_packets_at_location(PacketLocation::Node(id));
            if (epoch.state != EpochState::Running || inside.empty()) continue;
            const Node& node = *net.graph().find_node(epoch.node_name);
            if (node.out_ports.empty() || in.pick(2) == 0) {
              (void)net.do_action(action::ConsumePacket{inside.front()});
            } else {
              (void)net.do_action(action::LoadPacketIntoOutputPort{
                  inside.front(), in.one_of(keys(node.out_ports))});
            }
            break;
          }
          break;
        }
        case 4:
          (void)net.do_action(action::CreateRequest{in.one_of(nodes), Name("m")});
          break;
        default:
          events.clear();
          (void)net.run_steps_into(events, 4, std::chrono::steady_clock::time_point::max());
          break;
      }
    }
  } catch (const InternalFailure& failure) {
    finding(std::string("internal failure taking the net mid-run: ") + failure.what());
  }
}

}  // namespace zellik::fuzz
