#include "zellik/graph/validation.h"

#include <array>

#include <boost/unordered/unordered_flat_map.hpp>

namespace zellik {

namespace {

using namespace validation;

// Pass 1: each edge names existing nodes and runs from an existing output
// port to an existing input port. At most two faults per edge, source first.
void check_edges(const Graph& graph, std::vector<GraphValidationError>& errors) {
  for (const Edge& edge : graph.edges()) {
    const Node* source = graph.find_node(edge.source.node_name);
    if (source == nullptr) {
      errors.emplace_back(
          EdgeReferencesNonexistentNode{edge.source, edge.target, edge.source.node_name});
      continue;
    }
    const Node* target = graph.find_node(edge.target.node_name);
    if (target == nullptr) {
      errors.emplace_back(
          EdgeReferencesNonexistentNode{edge.source, edge.target, edge.target.node_name});
      continue;
    }
    if (edge.source.port_type == PortType::Input) {
      errors.emplace_back(EdgeSourceNotOutputPort{edge.source, edge.target});
    } else if (!source->out_ports.contains(edge.source.port_name)) {
      errors.emplace_back(EdgeReferencesNonexistentPort{edge.source, edge.target, edge.source});
    }
    if (edge.target.port_type == PortType::Output) {
      errors.emplace_back(EdgeTargetNotInputPort{edge.source, edge.target});
    } else if (!target->in_ports.contains(edge.target.port_name)) {
      errors.emplace_back(EdgeReferencesNonexistentPort{edge.source, edge.target, edge.target});
    }
  }
}

// Pass 2: at most one distinct edge leaves each source reference. The tail
// index keeps one of the stored edges per source, so every other stored edge
// from that source is one more than allowed; only those are counted.
void check_fan_out(const Graph& graph, std::vector<GraphValidationError>& errors) {
  boost::unordered_flat_map<PortRef, std::uint64_t, PortRefHash> others;
  for (const Edge& edge : graph.edges()) {
    if (graph.get_edge_by_tail(edge.source) != &edge) ++others[edge.source];
  }
  for (const auto& [source, count] : others) {
    errors.emplace_back(MultipleEdgesFromOutputPort{source, count + 1});
  }
}

// Steps shared by input and output conditions: the ports a salvo takes and
// the ports its term mentions must exist on the same side of the node.
void check_condition_ports(const Node& node, const Name& condition_name,
                           const SalvoCondition& condition, const PortMap& ports, bool is_input,
                           std::vector<GraphValidationError>& errors) {
  for (const auto& taken : condition.ports) {
    if (!ports.contains(taken.first)) {
      errors.emplace_back(SalvoConditionReferencesNonexistentPort{node.name, condition_name,
                                                                  is_input, taken.first});
    }
  }
  // Each missing port once, however often the term mentions it.
  NameSet reported;
  for_each_port_in_term(condition.term, [&](const Name& port) {
    if (!ports.contains(port) && reported.insert(port).second) {
      errors.emplace_back(
          SalvoConditionTermReferencesNonexistentPort{node.name, condition_name, is_input, port});
    }
  });
}

// Pass 3: salvo conditions name only the node's own ports, and every input
// condition fires exactly once per epoch.
void check_salvo_conditions(const Graph& graph, std::vector<GraphValidationError>& errors) {
  for (const auto& [name, node] : graph.nodes()) {
    for (const auto& [condition_name, condition] : node.in_salvo_conditions) {
      if (condition.max_salvos != MaxSalvos::Finite(1)) {
        errors.emplace_back(
            InputSalvoConditionInvalidMaxSalvos{node.name, condition_name, condition.max_salvos});
      }
      check_condition_ports(node, condition_name, condition, node.in_ports, true, errors);
    }
    for (const auto& [condition_name, condition] : node.out_salvo_conditions) {
      check_condition_ports(node, condition_name, condition, node.out_ports, false, errors);
    }
  }
}

// Pass 4: every dependency edge is also an ordinary edge.
void check_dependency_edges(const Graph& graph, std::vector<GraphValidationError>& errors) {
  for (const Edge& edge : graph.dependency_edges()) {
    if (!graph.edges().contains(edge)) errors.emplace_back(DependencyEdgeNotInGraph{edge});
  }
}

// Pass 5: a node configured to request has a dependency edge entering one of
// its inputs (whether or not that input port exists).
void check_request_configs(const Graph& graph, std::vector<GraphValidationError>& errors) {
  if (!graph.has_request_configs()) return;
  NameSet entered;  // nodes a dependency edge enters at an input
  for (const Edge& edge : graph.dependency_edges()) {
    if (edge.target.port_type == PortType::Input) entered.insert(edge.target.node_name);
  }
  for (const auto& [name, node] : graph.nodes()) {
    if (node.dependency_request_config && !entered.contains(node.name)) {
      errors.emplace_back(DependencyRequestConfigWithoutDependencyEdges{node.name});
    }
  }
}

std::string_view direction(bool is_input) { return is_input ? "input" : "output"; }

std::string quoted(const Name& name) { return "'" + name.str() + "'"; }

struct MessageWriter {
  std::string operator()(const MultipleEdgesFromOutputPort& e) const {
    return "output port " + e.output_port.to_string() + " has " + std::to_string(e.edge_count) +
           " outgoing edges (only 1 allowed)";
  }
  std::string operator()(const EdgeReferencesNonexistentNode& e) const {
    return "edge " + e.edge_source.to_string() + " -> " + e.edge_target.to_string() +
           " references non-existent node " + quoted(e.missing_node);
  }
  std::string operator()(const EdgeReferencesNonexistentPort& e) const {
    return "edge " + e.edge_source.to_string() + " -> " + e.edge_target.to_string() +
           " references non-existent port " + e.missing_port.to_string();
  }
  std::string operator()(const EdgeSourceNotOutputPort& e) const {
    return "edge source " + e.edge_source.to_string() + " must be an output port";
  }
  std::string operator()(const EdgeTargetNotInputPort& e) const {
    return "edge target " + e.edge_target.to_string() + " must be an input port";
  }
  std::string operator()(const SalvoConditionReferencesNonexistentPort& e) const {
    return std::string(direction(e.is_input_condition)) + " salvo condition " +
           quoted(e.condition_name) + " on node " + quoted(e.node_name) +
           " references non-existent port " + quoted(e.missing_port);
  }
  std::string operator()(const SalvoConditionTermReferencesNonexistentPort& e) const {
    return std::string(direction(e.is_input_condition)) + " salvo condition " +
           quoted(e.condition_name) + " on node " + quoted(e.node_name) +
           " has term referencing non-existent port " + quoted(e.missing_port);
  }
  std::string operator()(const InputSalvoConditionInvalidMaxSalvos& e) const {
    return "input salvo condition " + quoted(e.condition_name) + " on node " + quoted(e.node_name) +
           " has max_salvos=" + e.max_salvos.debug_name() +
           ", but must be Finite(1). Input salvos must have exactly one packet to trigger an "
           "epoch.";
  }
  std::string operator()(const DependencyEdgeNotInGraph& e) const {
    return "dependency edge " + e.edge.to_string() + " is not in the graph's edge set";
  }
  std::string operator()(const DependencyRequestConfigWithoutDependencyEdges& e) const {
    return "node " + quoted(e.node_name) +
           " has dependency_request_config but no dependency edges on its input ports";
  }
};

constexpr std::array<std::string_view, std::variant_size_v<GraphValidationError>> kNames = {
    "MultipleEdgesFromOutputPort",
    "EdgeReferencesNonexistentNode",
    "EdgeReferencesNonexistentPort",
    "EdgeSourceNotOutputPort",
    "EdgeTargetNotInputPort",
    "SalvoConditionReferencesNonexistentPort",
    "SalvoConditionTermReferencesNonexistentPort",
    "InputSalvoConditionInvalidMaxSalvos",
    "DependencyEdgeNotInGraph",
    "DependencyRequestConfigWithoutDependencyEdges",
};

}  // namespace

std::vector<GraphValidationError> validate(const Graph& graph) {
  std::vector<GraphValidationError> errors;
  check_edges(graph, errors);
  check_fan_out(graph, errors);
  check_salvo_conditions(graph, errors);
  if (errors.empty()) graph.mark_nodes_and_edges_checked();
  check_dependency_edges(graph, errors);
  check_request_configs(graph, errors);
  return errors;
}

std::vector<GraphValidationError> validate_unless_checked(const Graph& graph) {
  if (!graph.nodes_and_edges_checked()) return validate(graph);
  std::vector<GraphValidationError> errors;
  check_dependency_edges(graph, errors);
  check_request_configs(graph, errors);
  return errors;
}

std::string_view kind_name(const GraphValidationError& error) { return kNames[error.index()]; }

std::string message(const GraphValidationError& error) {
  return std::visit(MessageWriter{}, error);
}

}  // namespace zellik
