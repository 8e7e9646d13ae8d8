#include "zellik/graph/cascade.h"

#include <deque>
#include <unordered_set>

#include "zellik/base/internal_failure.h"

namespace zellik {

RequestStartPorts request_start_ports(const Graph& graph) {
  RequestStartPorts ports;
  for (const Edge& edge : graph.dependency_edges()) {
    ports[edge.target.node_name].push_back(edge.target);
  }
  return ports;
}

Result<CascadeResult, CascadeError> cascade_backward(const Graph& graph,
                                                     const std::vector<PortRef>& start_ports) {
  std::deque<PortRef> queue(start_ports.begin(), start_ports.end());
  std::unordered_set<Name, NameHash, NameEq> entered;
  CascadeResult result;

  while (!queue.empty()) {
    const PortRef port = std::move(queue.front());
    queue.pop_front();
    const std::vector<Edge>& incoming = graph.get_edges_by_head(port);
    if (incoming.empty()) return CascadeError::UnconnectedPort(port.node_name, port.port_name);

    for (const Edge& edge : incoming) {
      const Name& upstream = edge.source.node_name;
      // Entering each node once is what ends the walk on cycles.
      if (!entered.insert(upstream).second) continue;
      result.visited_nodes.push_back(upstream);

      const Node* node = graph.find_node(upstream);
      if (node == nullptr) fail("Edge references non-existent node");

      bool has_connected_input = false;
      for (const auto& in_port : node->in_ports) {
        if (!graph.get_edges_by_head(PortRef{upstream, PortType::Input, in_port.first}).empty()) {
          has_connected_input = true;
          break;
        }
      }
      if (has_connected_input) {
        // All inputs go on the queue, connected or not: an unconnected one
        // fails the walk when it is taken.
        for (const auto& in_port : node->in_ports) {
          queue.push_back(PortRef{upstream, PortType::Input, in_port.first});
        }
      } else {
        // A node is entered once, so it can reach this point only once.
        result.source_nodes.push_back(upstream);
      }
    }
  }
  return result;
}

}  // namespace zellik
