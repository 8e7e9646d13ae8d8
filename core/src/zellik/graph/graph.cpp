#include "zellik/graph/graph.h"

#include <utility>

#include "zellik/base/internal_failure.h"

namespace zellik {

namespace {

// The dependency-edge set of every graph that has none. Leaked on purpose:
// graphs may live in objects destroyed at exit.
const std::shared_ptr<const EdgeSet>& no_dependency_edges() {
  static const auto* const kNone = new std::shared_ptr<const EdgeSet>(std::make_shared<EdgeSet>());
  return *kNone;
}

}  // namespace

Graph::Graph(std::vector<Node> nodes, std::vector<Edge> edges)
    : dependency_edges_(no_dependency_edges()) {
  auto tables = std::make_shared<Tables>();
  tables->nodes.reserve(nodes.size());
  for (Node& node : nodes) {
    const Name key = node.name;
    // try_emplace leaves `node` untouched when the name is taken.
    if (!tables->nodes.try_emplace(key, std::move(node)).second) {
      fail("Duplicate node name: '" + key.str() + "'");
    }
  }

  // Later edges from one tail replace earlier ones; heads keep every
  // occurrence in the order given; the set keeps each distinct edge once.
  tables->edges.reserve(edges.size());
  tables->edges_by_tail.reserve(edges.size());
  tables->edges_by_head.reserve(edges.size());
  for (Edge& edge : edges) {
    tables->edges_by_tail.insert_or_assign(edge.source, edge);
    tables->edges_by_head[edge.target].push_back(edge);
    tables->edges.insert(std::move(edge));
  }
  tables_ = std::move(tables);
}

const Node* Graph::find_node(const Name& name) const {
  auto it = tables_->nodes.find(name);
  return it == tables_->nodes.end() ? nullptr : &it->second;
}

const Node* Graph::find_node(std::string_view name) const {
  auto it = tables_->nodes.find(name);
  return it == tables_->nodes.end() ? nullptr : &it->second;
}

const Edge* Graph::get_edge_by_tail(const PortRef& tail) const {
  auto it = tables_->edges_by_tail.find(tail);
  return it == tables_->edges_by_tail.end() ? nullptr : &it->second;
}

const std::vector<Edge>& Graph::get_edges_by_head(const PortRef& head) const {
  static const std::vector<Edge>* const kNone = new std::vector<Edge>();
  auto it = tables_->edges_by_head.find(head);
  return it == tables_->edges_by_head.end() ? *kNone : it->second;
}

bool Graph::is_dependency_edge(const Edge& edge) const {
  return dependency_edges_->contains(edge);
}

Graph with_dependency_edges(Graph graph, std::vector<Edge> edges) {
  auto replacement = std::make_shared<EdgeSet>();
  replacement->reserve(edges.size());
  for (Edge& edge : edges) replacement->insert(std::move(edge));
  graph.dependency_edges_ = std::move(replacement);
  return graph;
}

}  // namespace zellik
