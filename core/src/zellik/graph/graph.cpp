#include "zellik/graph/graph.h"

#include <cstdint>
#include <utility>

#include "zellik/base/internal_failure.h"

namespace zellik {

// --- NodeMap ----------------------------------------------------------------

const Node* NodeMap::find(const Name& name) const {
  auto it = index_.find(name);
  return it == index_.end() ? nullptr : &entries_[it->second].second;
}

const Node* NodeMap::find(std::string_view name) const {
  auto it = index_.find(name);
  return it == index_.end() ? nullptr : &entries_[it->second].second;
}

std::size_t NodeMap::position(const Node& node) const {
  if (entries_.empty()) return 0;
  // By address: the nodes sit in one array of (name, node) pairs.
  const auto first = reinterpret_cast<std::uintptr_t>(&entries_.front().second);
  const auto at = reinterpret_cast<std::uintptr_t>(&node);
  if (at < first) return size();
  const std::size_t i = (at - first) / sizeof(value_type);
  return i < size() && &entries_[i].second == &node ? i : size();
}

// --- EdgeSet ----------------------------------------------------------------

EdgeSet::EdgeSet(std::size_t capacity) {
  edges_.reserve(capacity);
  index_.reserve(capacity);
}

const Edge& EdgeSet::insert(Edge edge) {
  if (auto it = index_.find(edge); it != index_.end()) return **it;
  // Growing the vector would move the edges the indexes point at.
  if (edges_.size() == edges_.capacity()) fail("Edge set is full");
  const Edge& stored = edges_.emplace_back(std::move(edge));
  index_.insert(&stored);
  return stored;
}

// --- Graph ------------------------------------------------------------------

namespace {

// The dependency-edge set of every graph that has none. Leaked on purpose:
// graphs may live in objects destroyed at exit.
const std::shared_ptr<const EdgeSet>& no_dependency_edges() {
  static const auto* const kNone = new std::shared_ptr<const EdgeSet>(std::make_shared<EdgeSet>(0));
  return *kNone;
}

// The end of an edge takes the names of its node and port, when the
// graph has them, so that looking an edge up by a port of a node compares
// names by pointer. Values are unchanged.
void share_node_names(const NodeMap& nodes, PortRef& end) {
  const Node* node = nodes.find(end.node_name);
  if (node == nullptr) return;
  end.node_name = node->name;
  const PortMap& ports = end.port_type == PortType::Input ? node->in_ports : node->out_ports;
  const auto port = ports.find(end.port_name);
  if (port != ports.end()) end.port_name = port->first;
}

}  // namespace

Graph::Graph(std::vector<Node> nodes, std::vector<Edge> edges)
    : dependency_edges_(no_dependency_edges()) {
  auto tables = std::make_shared<Tables>(edges.size());

  NodeMap& node_map = tables->nodes;
  node_map.entries_.reserve(nodes.size());
  node_map.index_.reserve(nodes.size());
  for (Node& node : nodes) {
    if (!node_map.index_.try_emplace(node.name, node_map.entries_.size()).second) {
      fail("Duplicate node name: '" + node.name.str() + "'");
    }
    if (node.dependency_request_config) tables->has_request_configs = true;
    Name key = node.name;
    node_map.entries_.emplace_back(std::move(key), std::move(node));
  }

  for (Edge& edge : edges) {
    share_node_names(node_map, edge.source);
    share_node_names(node_map, edge.target);
  }
  tables->edge_list = edges;
  // Later edges from one tail replace earlier ones; heads keep every
  // occurrence in the order given; the set keeps each distinct edge once.
  tables->edges_by_tail.reserve(edges.size());
  tables->edges_by_head.reserve(edges.size());
  for (Edge& edge : edges) {
    const Edge& stored = tables->edges.insert(std::move(edge));
    tables->edges_by_tail.insert_or_assign(&stored.source, &stored);
    tables->edges_by_head[&stored.target].push_back(stored);
  }
  tables_ = std::move(tables);
}

const Edge* Graph::get_edge_by_tail(const PortRef& tail) const {
  auto it = tables_->edges_by_tail.find(tail);
  return it == tables_->edges_by_tail.end() ? nullptr : it->second;
}

const std::vector<Edge>& Graph::get_edges_by_head(const PortRef& head) const {
  static const std::vector<Edge>* const kNone = new std::vector<Edge>();
  auto it = tables_->edges_by_head.find(head);
  return it == tables_->edges_by_head.end() ? *kNone : it->second;
}

bool Graph::is_dependency_edge(const Edge& edge) const { return dependency_edges_->contains(edge); }

Graph with_dependency_edges(Graph graph, std::vector<Edge> edges) {
  auto replacement = std::make_shared<EdgeSet>(edges.size());
  for (Edge& edge : edges) replacement->insert(std::move(edge));
  graph.dependency_edges_ = std::move(replacement);
  return graph;
}

}  // namespace zellik
