#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "zellik/base/result.h"
#include "zellik/graph/graph.h"

namespace zellik {

// The nodes a backward request cascade reached.
struct CascadeResult {
  // Nodes with no connected input port, each once, in discovery order.
  std::vector<Name> source_nodes;
  // Every node the walk entered, each once, in the order entered.
  std::vector<Name> visited_nodes;
};

// Why a cascade failed. The walk below produces only UnconnectedPort;
// CycleDetected exists for callers that map it.
struct CascadeError {
  enum class Kind : std::uint8_t { UnconnectedPort, CycleDetected };
  Kind kind;
  Name node_name;
  Name port_name;  // UnconnectedPort only

  static CascadeError UnconnectedPort(Name node, Name port) {
    return CascadeError{Kind::UnconnectedPort, std::move(node), std::move(port)};
  }
  static CascadeError CycleDetected(Name node) {
    return CascadeError{Kind::CycleDetected, std::move(node), Name()};
  }
};

// Where a request of each node starts its cascade: the targets of the
// dependency edges entering the node, by node, in dependency_edges() order.
// A node that no dependency edge enters is absent: its requests reach
// nothing.
using RequestStartPorts = std::unordered_map<Name, std::vector<PortRef>, NameHash, NameEq>;
RequestStartPorts request_start_ports(const Graph& graph);

// Breadth-first walk against the edges from `start_ports` (input ports) to
// the nodes that can run without input. Read-only. Throws InternalFailure
// "Edge references non-existent node" when an edge names a missing node.
Result<CascadeResult, CascadeError> cascade_backward(const Graph& graph,
                                                     const std::vector<PortRef>& start_ports);

}  // namespace zellik
