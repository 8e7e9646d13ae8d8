#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>
#include <boost/unordered/unordered_flat_set.hpp>

#include "zellik/base/pointee_key.h"
#include "zellik/graph/node.h"
#include "zellik/graph/port.h"

namespace zellik {

// The nodes of a graph by name. Iterates as (name, node) pairs in the order
// the nodes were given, which keeps walks over every node moving forward
// through memory; a lookup by name is one hash probe. Built only by Graph;
// the nodes do not move once it is built.
class NodeMap {
 public:
  using value_type = std::pair<Name, Node>;
  using const_iterator = std::vector<value_type>::const_iterator;

  NodeMap() = default;
  NodeMap(const NodeMap&) = delete;
  NodeMap& operator=(const NodeMap&) = delete;

  // The node of that name, or null.
  const Node* find(const Name& name) const;
  const Node* find(std::string_view name) const;
  // The place of `node` in iteration order (0 first), or size() when
  // `node` is not one of this map's nodes. No hashing.
  std::size_t position(const Node& node) const;
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

 private:
  friend class Graph;
  std::vector<value_type> entries_;
  boost::unordered_flat_map<Name, std::size_t, NameHash, NameEq> index_;  // name -> entry
};

// A set of edges. Iterates in the order in which each distinct edge was
// first added; membership is one hash probe. The edges do not move once
// added (room for all of them is taken up front), so the graph's indexes
// point at them. Not copyable.
class EdgeSet {
 public:
  using const_iterator = std::vector<Edge>::const_iterator;

  // Room for at most `capacity` distinct edges.
  explicit EdgeSet(std::size_t capacity);
  EdgeSet(const EdgeSet&) = delete;
  EdgeSet& operator=(const EdgeSet&) = delete;

  // Adds `edge` unless an equal one is there; the stored edge either way.
  // Throws InternalFailure when the set is already at its capacity.
  const Edge& insert(Edge edge);
  bool contains(const Edge& edge) const { return index_.contains(edge); }
  std::size_t size() const { return edges_.size(); }
  bool empty() const { return edges_.empty(); }
  const_iterator begin() const { return edges_.begin(); }
  const_iterator end() const { return edges_.end(); }

 private:
  std::vector<Edge> edges_;
  // The stored edges, found by edge through their pointers.
  boost::unordered_flat_set<const Edge*, PointeeHash<Edge, EdgeHash>, PointeeEq<Edge>> index_;
};

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
  // The edges as given to the constructor: in order, repeats kept.
  const std::vector<Edge>& edges_in_order() const { return tables_->edge_list; }
  const EdgeSet& dependency_edges() const { return *dependency_edges_; }

  // The node of that name, or null. The Name overload reuses the name's
  // stored hash, which matters on the engine's hot paths.
  const Node* find_node(const Name& name) const { return tables_->nodes.find(name); }
  const Node* find_node(std::string_view name) const { return tables_->nodes.find(name); }
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

  // Whether any node has a dependency request configuration.
  bool has_request_configs() const { return tables_->has_request_configs; }

  // Whether a validation has already found the nodes and edges of this
  // graph (those checks that do not look at the dependency edges) free of
  // faults. The tables never change, so once is enough for every graph
  // sharing them; set only by validation.
  bool nodes_and_edges_checked() const {
    return tables_->nodes_and_edges_checked.load(std::memory_order_relaxed);
  }
  void mark_nodes_and_edges_checked() const {
    tables_->nodes_and_edges_checked.store(true, std::memory_order_relaxed);
  }

  friend Graph with_dependency_edges(Graph graph, std::vector<Edge> edges);

 private:
  template <class V>
  using PortIndex = boost::unordered_flat_map<const PortRef*, V, PointeeHash<PortRef, PortRefHash>,
                                              PointeeEq<PortRef>>;

  // Everything the constructor builds; never changed afterwards. The
  // indexes are keyed by the ports of edges stored in `edges`.
  struct Tables {
    explicit Tables(std::size_t edge_capacity) : edges(edge_capacity) {}
    NodeMap nodes;
    EdgeSet edges;
    PortIndex<const Edge*> edges_by_tail;
    PortIndex<std::vector<Edge>> edges_by_head;
    std::vector<Edge> edge_list;
    bool has_request_configs = false;
    // A remembered result, not part of the graph's value.
    mutable std::atomic<bool> nodes_and_edges_checked{false};
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
