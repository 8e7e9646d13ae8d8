#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>
#include <boost/unordered/unordered_flat_set.hpp>

#include "zellik/graph/node.h"
#include "zellik/graph/port.h"

namespace zellik {

using NodeMap = boost::unordered_flat_map<Name, Node, NameHash, NameEq>;
using EdgeSet = boost::unordered_flat_set<Edge, EdgeHash>;

// The static topology of a flow network and its lookup indexes. Built once
// and only read afterwards; every lookup the engine makes is a hash probe.
// The tables are immutable and shared between copies, so copying a graph is
// O(1) and a copy behaves exactly as a deep copy would. Intentionally
// copyable.
class Graph {
 public:
  // Builds the node map, the edge set and the tail and head indexes, in the
  // given order. Throws InternalFailure "Duplicate node name: '{name}'" for the
  // first repeated name. Edges naming missing nodes or ports are accepted.
  Graph(std::vector<Node> nodes, std::vector<Edge> edges);
  // Copies share the tables. There is no move: a moved-from graph would have
  // none, and a copy costs no more than a move would.
  Graph(const Graph&) = default;
  Graph& operator=(const Graph&) = default;

  const NodeMap& nodes() const { return tables_->nodes; }
  const EdgeSet& edges() const { return tables_->edges; }
  const EdgeSet& dependency_edges() const { return *dependency_edges_; }

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
  std::size_t node_count() const { return tables_->nodes.size(); }
  std::size_t edge_count() const { return tables_->edges.size(); }

  friend Graph with_dependency_edges(Graph graph, std::vector<Edge> edges);

 private:
  // Everything the constructor builds; never changed afterwards.
  struct Tables {
    NodeMap nodes;
    EdgeSet edges;
    boost::unordered_flat_map<PortRef, Edge, PortRefHash> edges_by_tail;
    boost::unordered_flat_map<PortRef, std::vector<Edge>, PortRefHash> edges_by_head;
  };

  std::shared_ptr<const Tables> tables_;
  // Replaced as a whole by with_dependency_edges, which leaves the tables
  // shared with the graph it came from.
  std::shared_ptr<const EdgeSet> dependency_edges_;
};

// Replaces the graph's dependency-edge set with the edges of `edges`
// (repeats collapse to one). Validates nothing.
Graph with_dependency_edges(Graph graph, std::vector<Edge> edges);

// Free-function form of Graph::is_dependency_edge.
inline bool is_dependency_edge(const Graph& graph, const Edge& edge) {
  return graph.is_dependency_edge(edge);
}

}  // namespace zellik
