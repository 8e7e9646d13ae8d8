// Checking declared behaviours, injections and requests against a graph.

#include "zellik/explore/behaviour.h"

#include <unordered_set>

#include "zellik/graph/cascade.h"

namespace zellik::explore {

namespace {

std::string q(const Name& name) { return "'" + name.str() + "'"; }

std::optional<std::string> check_outcome(const Node& node, const Outcome& outcome,
                                         std::size_t number) {
  const std::string where =
      "behaviour of node " + q(node.name) + ", outcome " + std::to_string(number) + ": ";
  if (outcome.pass_to && node.out_ports.find(*outcome.pass_to) == node.out_ports.end()) {
    return where + "pass_to names output port " + q(*outcome.pass_to) + ", which the node lacks";
  }
  for (const auto& [port_name, count] : outcome.creates) {
    const auto port = node.out_ports.find(port_name);
    if (port == node.out_ports.end()) {
      return where + "creates packets in output port " + q(port_name) + ", which the node lacks";
    }
    const PortSlotSpec& slots = port->second.slots_spec;
    if (!slots.is_infinite() && count > slots.capacity()) {
      return where + "creates " + std::to_string(count) + " packets in output port " +
             q(port_name) + ", which holds " + std::to_string(slots.capacity());
    }
  }
  for (const Name& condition : outcome.sends) {
    if (node.out_salvo_conditions.find(condition.view()) == nullptr) {
      return where + "sends output salvo condition " + q(condition) + ", which the node lacks";
    }
  }
  return std::nullopt;
}

std::optional<std::string> check_location(const Graph& graph, const PacketLocation& location) {
  if (location.is(PacketLocation::Kind::Edge)) {
    for (const Edge& edge : graph.edges()) {
      if (edge == location.edge()) return std::nullopt;
    }
    return "injection at edge " + location.edge().to_string() + ", which the graph lacks";
  }
  if (location.is(PacketLocation::Kind::InputPort)) {
    const Node* node = graph.find_node(location.node_name());
    if (node == nullptr)
      return "injection at node " + q(location.node_name()) + ", which the graph lacks";
    if (node->in_ports.find(location.port_name()) == node->in_ports.end()) {
      return "injection at input port " + q(location.port_name()) + ", which node " +
             q(location.node_name()) + " lacks";
    }
    return std::nullopt;
  }
  return "injection at " + location.debug_string() + ": only an edge or an input port can take one";
}

// The key in `map` equal to `name`, when there is one, in place of `name`.
template <class Map>
void share_key(const Map& map, Name& name) {
  for (const auto& [key, value] : map) {
    if (key == name) {
      name = key;
      return;
    }
  }
}

}  // namespace

void share_graph_names(const Graph& graph, Declarations& declarations) {
  for (Behaviour& behaviour : declarations.behaviours) {
    const Node* node = graph.find_node(behaviour.node);
    if (node == nullptr) continue;
    behaviour.node = node->name;
    for (Outcome& outcome : behaviour.outcomes) {
      if (outcome.pass_to) share_key(node->out_ports, *outcome.pass_to);
      for (auto& [port_name, count] : outcome.creates) share_key(node->out_ports, port_name);
      for (Name& condition : outcome.sends) share_key(node->out_salvo_conditions, condition);
    }
  }
  for (Injection& injection : declarations.injections) {
    const PacketLocation& at = injection.location;
    if (at.is(PacketLocation::Kind::Edge)) {
      for (const Edge& edge : graph.edges()) {
        if (edge == at.edge()) {
          injection.location = PacketLocation::Edge(edge);
          break;
        }
      }
    } else if (at.is(PacketLocation::Kind::InputPort)) {
      const Node* node = graph.find_node(at.node_name());
      if (node == nullptr) continue;
      Name port = at.port_name();
      share_key(node->in_ports, port);
      injection.location = PacketLocation::InputPort(node->name, port);
    }
  }
  for (RequestAllowance& request : declarations.requests) {
    if (const Node* node = graph.find_node(request.node)) request.node = node->name;
  }
  share_property_names(graph, declarations.properties);
}

std::vector<Name> undeclared_nodes(const Graph& graph, const Declarations& declarations) {
  std::unordered_set<Name, NameHash, NameEq> declared;
  for (const Behaviour& behaviour : declarations.behaviours) declared.insert(behaviour.node);
  std::vector<Name> undeclared;
  for (const auto& [name, node] : graph.nodes()) {
    if (!node.in_salvo_conditions.empty() && !declared.contains(name)) undeclared.push_back(name);
  }
  return undeclared;
}

std::optional<std::string> check_declarations(const Graph& graph,
                                              const Declarations& declarations) {
  std::unordered_set<Name, NameHash, NameEq> seen;
  for (const Behaviour& behaviour : declarations.behaviours) {
    const Node* node = graph.find_node(behaviour.node);
    if (node == nullptr)
      return "behaviour of node " + q(behaviour.node) + ", which the graph lacks";
    if (!seen.insert(behaviour.node).second) {
      return "node " + q(behaviour.node) + " has two behaviours";
    }
    if (behaviour.outcomes.empty())
      return "behaviour of node " + q(behaviour.node) + " has no outcome";
    for (std::size_t i = 0; i < behaviour.outcomes.size(); ++i) {
      if (auto error = check_outcome(*node, behaviour.outcomes[i], i)) return error;
    }
  }
  for (const Injection& injection : declarations.injections) {
    if (auto error = check_location(graph, injection.location)) return error;
  }
  const RequestStartPorts start_ports = request_start_ports(graph);
  for (const RequestAllowance& request : declarations.requests) {
    if (graph.find_node(request.node) == nullptr) {
      return "requests of node " + q(request.node) + ", which the graph lacks";
    }
    // A request starts at the node's dependency edges: without one, it can
    // never make anything.
    if (!start_ports.contains(request.node)) {
      return "requests of node " + q(request.node) +
             ", which no dependency edge leads into: a request there can never start anything";
    }
  }
  return check_properties(graph, declarations.properties);
}

}  // namespace zellik::explore
