#include "zellik/graph/graph.h"

#include <utility>

#include "zellik/base/internal_failure.h"

namespace zellik {

Graph::Graph(std::vector<Node> nodes, std::vector<Edge> edges) {
  nodes_.reserve(nodes.size());
  for (Node& node : nodes) {
    if (nodes_.contains(node.name)) fail("Duplicate node name: '" + node.name.str() + "'");
    Name key = node.name;
    nodes_.emplace(std::move(key), std::move(node));
  }

  edge_list_ = edges;
  // Later edges from one tail replace earlier ones; heads keep every
  // occurrence in the order given; the set keeps each distinct edge once.
  for (Edge& edge : edges) {
    edges_by_tail_.insert_or_assign(edge.source, edge);
    edges_by_head_[edge.target].push_back(edge);
    edges_.insert(std::move(edge));
  }
}

const Node* Graph::find_node(const Name& name) const {
  auto it = nodes_.find(name);
  return it == nodes_.end() ? nullptr : &it->second;
}

const Node* Graph::find_node(std::string_view name) const {
  auto it = nodes_.find(name);
  return it == nodes_.end() ? nullptr : &it->second;
}

const Edge* Graph::get_edge_by_tail(const PortRef& tail) const {
  auto it = edges_by_tail_.find(tail);
  return it == edges_by_tail_.end() ? nullptr : &it->second;
}

const std::vector<Edge>& Graph::get_edges_by_head(const PortRef& head) const {
  static const std::vector<Edge> kNone;
  auto it = edges_by_head_.find(head);
  return it == edges_by_head_.end() ? kNone : it->second;
}

bool Graph::is_dependency_edge(const Edge& edge) const {
  return dependency_edges_.contains(edge);
}

Graph with_dependency_edges(Graph graph, std::vector<Edge> edges) {
  EdgeSet replacement;
  replacement.reserve(edges.size());
  for (Edge& edge : edges) replacement.insert(std::move(edge));
  graph.dependency_edges_ = std::move(replacement);
  return graph;
}

}  // namespace zellik
