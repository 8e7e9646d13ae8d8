#pragma once

#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "zellik/graph/node.h"
#include "zellik/graph/port.h"

namespace zellik {

using NodeMap = std::unordered_map<Name, Node, NameHash, NameEq>;
using EdgeSet = std::unordered_set<Edge, EdgeHash>;

// The static topology of a flow network and its lookup indexes. Built once
// and only read afterwards; every lookup the engine makes is a hash probe.
// Copying is a deep copy (names are shared, being immutable). Intentionally
// copyable.
class Graph {
 public:
  // Builds the node map, the edge set and the tail and head indexes, in the
  // given order. Throws InternalFailure "Duplicate node name: '{name}'" for the
  // first repeated name. Edges naming missing nodes or ports are accepted.
  Graph(std::vector<Node> nodes, std::vector<Edge> edges);

  const NodeMap& nodes() const { return nodes_; }
  const EdgeSet& edges() const { return edges_; }
  // The edges as given to the constructor: in order, repeats kept.
  const std::vector<Edge>& edges_in_order() const { return edge_list_; }
  const EdgeSet& dependency_edges() const { return dependency_edges_; }

  // The node of that name, or null. The Name overload reuses the name's
  // stored hash, which matters on the engine's hot paths.
  const Node* find_node(const Name& name) const;
  const Node* find_node(std::string_view name) const;
  const Node* find_node(const char* name) const { return find_node(std::string_view(name)); }
  // The edge leaving output port `tail`, or null (the port is unconnected).
  // When several edges leave one port the one given last is kept.
  const Edge* get_edge_by_tail(const PortRef& tail) const;
  // The edges entering `head`, in constructor order, repeats kept.
  const std::vector<Edge>& get_edges_by_head(const PortRef& head) const;
  // Whether `edge` is in the dependency-edge set.
  bool is_dependency_edge(const Edge& edge) const;

  // The number of nodes and of distinct edges.
  std::size_t node_count() const { return nodes_.size(); }
  std::size_t edge_count() const { return edges_.size(); }

  friend Graph with_dependency_edges(Graph graph, std::vector<Edge> edges);

 private:
  NodeMap nodes_;
  EdgeSet edges_;
  std::vector<Edge> edge_list_;
  std::unordered_map<PortRef, Edge, PortRefHash> edges_by_tail_;
  std::unordered_map<PortRef, std::vector<Edge>, PortRefHash> edges_by_head_;
  EdgeSet dependency_edges_;
};

// Replaces the graph's dependency-edge set with the edges of `edges`
// (repeats collapse to one). Validates nothing.
Graph with_dependency_edges(Graph graph, std::vector<Edge> edges);

// Free-function form of Graph::is_dependency_edge.
inline bool is_dependency_edge(const Graph& graph, const Edge& edge) {
  return graph.is_dependency_edge(edge);
}

}  // namespace zellik
