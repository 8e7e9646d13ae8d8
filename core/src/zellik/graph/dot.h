#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "zellik/base/name.h"
#include "zellik/graph/graph.h"
#include "zellik/graph/port.h"

namespace zellik {

// What a running net adds to the picture of its graph. A count that is
// absent is zero. Intentionally copyable.
struct DotLiveState {
  struct NodeEpochs {
    std::uint64_t startable = 0;
    std::uint64_t running = 0;
    std::uint64_t packets_inside = 0;  // inside the node's live epochs
  };
  std::unordered_map<Edge, std::uint64_t, EdgeHash> packets_on_edge;
  // Waiting at an input port, or loaded into an output port (summed over the
  // node's live epochs).
  std::unordered_map<PortRef, std::uint64_t, PortRefHash> packets_at_port;
  std::unordered_map<Name, NodeEpochs, NameHash, NameEq> epochs;
  std::uint64_t packets_outside = 0;
  // The nodes of a stuck net that packets wait for, each with the input
  // salvo conditions it waits on: none holds, nor ever will.
  std::unordered_map<Name, std::vector<Name>, NameHash, NameEq> blocked;
};

// Graphviz DOT text of `graph`: one node per graph node with its input ports
// on the left and output ports on the right (capacities shown), its salvo
// conditions by name, edges from port to port, dependency edges dashed.
// Names only ever appear escaped inside labels, so any name gives valid DOT;
// nodes, ports and edges are written in name order, so equal graphs give
// equal text. Edges that name missing nodes or ports are still drawn.
std::string to_dot(const Graph& graph);

// The same picture with the live state of a net: packet counts on edges and
// at ports (a full input port is marked), each node's startable and running
// epochs, and the packets outside the net; a blocked node is drawn in red,
// headed "blocked", with the conditions it waits on marked, and the picture's
// label counts the blocked nodes.
std::string to_dot(const Graph& graph, const DotLiveState& live);

// `text` escaped for a Graphviz HTML-like label: markup characters become
// entities, backslashes are doubled and control characters written as
// visible escapes (\n, \t, \xNN).
std::string dot_label_text(std::string_view text);

}  // namespace zellik
