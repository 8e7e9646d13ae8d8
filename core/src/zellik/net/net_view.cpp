#include "zellik/net/net_view.h"

#include <algorithm>

namespace zellik {

namespace {

// The keys of an id-keyed table, in id order. Sorting ids rather than the
// records keeps the sort cheap (two integers per element).
template <class Table>
std::vector<Ulid> sorted_ids(const Table& table) {
  std::vector<Ulid> ids;
  ids.reserve(table.size());
  for (const auto& [id, record] : table) ids.push_back(id);
  std::sort(ids.begin(), ids.end());
  return ids;
}

}  // namespace

std::vector<Packet> list_packets(const NetSim& net) {
  std::vector<Packet> packets;
  for (const Ulid& id : sorted_ids(net.packets())) packets.push_back(*net.get_packet(id));
  return packets;
}

std::vector<Epoch> list_epochs(const NetSim& net) {
  std::vector<Epoch> epochs;
  for (const Ulid& id : sorted_ids(net.epochs())) epochs.push_back(*net.get_epoch(id));
  return epochs;
}

DotLiveState dot_live_state(const NetSim& net) {
  const Graph& graph = net.graph();
  DotLiveState live;
  for (const Edge& edge : graph.edges()) {
    const std::uint64_t count = net.packet_count_at(PacketLocation::Edge(edge));
    if (count > 0) live.packets_on_edge.emplace(edge, count);
  }
  for (const auto& [name, node] : graph.nodes()) {
    for (const auto& [port_name, port] : node.in_ports) {
      const std::uint64_t count = net.packet_count_at(PacketLocation::InputPort(name, port_name));
      if (count > 0) live.packets_at_port.emplace(PortRef{name, PortType::Input, port_name}, count);
    }
  }
  for (const auto& [id, epoch] : net.epochs()) {
    DotLiveState::NodeEpochs& counts = live.epochs[epoch.node_name];
    (epoch.state == EpochState::Running ? counts.running : counts.startable) += 1;
    counts.packets_inside += net.packet_count_at(PacketLocation::Node(id));
    const Node* node = graph.find_node(epoch.node_name);
    if (node == nullptr) continue;
    for (const auto& [port_name, port] : node->out_ports) {
      const std::uint64_t count = net.packet_count_at(PacketLocation::OutputPort(id, port_name));
      if (count > 0)
        live.packets_at_port[PortRef{node->name, PortType::Output, port_name}] += count;
    }
  }
  live.packets_outside = net.packet_count_at(PacketLocation::OutsideNet());
  return live;
}

std::string to_dot(const NetSim& net) { return to_dot(net.graph(), dot_live_state(net)); }

}  // namespace zellik
