#pragma once

// The nets the engine benchmarks share: a graph of unconnected node pairs
// and the helpers that name its parts and place packets on it.

#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "zellik/graph/graph.h"
#include "zellik/net/net_sim.h"

namespace zellik::bench {

inline Name numbered(const char* prefix, long i) {
  std::string text = prefix;
  text += std::to_string(i);
  return Name(text);
}

inline PortRef out_port(Name node, const char* port) {
  return PortRef{std::move(node), PortType::Output, Name(port)};
}
inline PortRef in_port(Name node, const char* port) {
  return PortRef{std::move(node), PortType::Input, Name(port)};
}

// `pairs` unconnected pairs A{i}.out -> B{i}.in. B has no input condition,
// so packets that arrive pile up at its port.
inline Graph pairs_graph(long pairs) {
  std::vector<Node> nodes;
  std::vector<Edge> edges;
  nodes.reserve(static_cast<std::size_t>(pairs) * 2);
  edges.reserve(static_cast<std::size_t>(pairs));
  for (long i = 0; i < pairs; ++i) {
    Node a;
    a.name = numbered("A", i);
    a.out_ports.emplace(Name("out"), Port{});
    Node b;
    b.name = numbered("B", i);
    b.in_ports.emplace(Name("in"), Port{});
    edges.push_back(Edge{out_port(a.name, "out"), in_port(b.name, "in")});
    nodes.push_back(std::move(a));
    nodes.push_back(std::move(b));
  }
  return Graph(std::move(nodes), std::move(edges));
}

// The edge A{i}.out -> B{i}.in of pairs_graph.
inline PacketLocation pair_edge(long i) {
  return PacketLocation::Edge(
      Edge{out_port(numbered("A", i), "out"), in_port(numbered("B", i), "in")});
}

// Creates a packet and moves it to `where`; its id.
inline Ulid place_packet(NetSim& net, const PacketLocation& where) {
  NetActionResponse made = net.do_action(action::CreatePacket{});
  const Ulid id = std::get<response::Packet>(made.value().data).packet_id;
  net.do_action(action::TransportPacketToLocation{id, where});
  return id;
}

}  // namespace zellik::bench
