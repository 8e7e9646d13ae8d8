#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "zellik/base/fields.h"
#include "zellik/base/variant_check.h"
#include "zellik/graph/graph.h"

namespace zellik {

// One structural fault of a graph. The alternatives are listed in the order
// of their variant numbers; their names are the kinds shown to Python.
namespace validation {

struct MultipleEdgesFromOutputPort {
  PortRef output_port;
  std::uint64_t edge_count;
};
struct EdgeReferencesNonexistentNode {
  PortRef edge_source;
  PortRef edge_target;
  Name missing_node;
};
struct EdgeReferencesNonexistentPort {
  PortRef edge_source;
  PortRef edge_target;
  PortRef missing_port;
};
struct EdgeSourceNotOutputPort {
  PortRef edge_source;
  PortRef edge_target;
};
struct EdgeTargetNotInputPort {
  PortRef edge_source;
  PortRef edge_target;
};
struct SalvoConditionReferencesNonexistentPort {
  Name node_name;
  Name condition_name;
  bool is_input_condition;
  Name missing_port;
};
struct SalvoConditionTermReferencesNonexistentPort {
  Name node_name;
  Name condition_name;
  bool is_input_condition;
  Name missing_port;
};
struct InputSalvoConditionInvalidMaxSalvos {
  Name node_name;
  Name condition_name;
  MaxSalvos max_salvos;
};
struct DependencyEdgeNotInGraph {
  Edge edge;
};
struct DependencyRequestConfigWithoutDependencyEdges {
  Name node_name;
};

// Field lists (zellik/base/fields.h), in the order of the byte form.
constexpr auto fields_of(std::type_identity<MultipleEdgesFromOutputPort>) {
  return std::tuple{field("output_port", &MultipleEdgesFromOutputPort::output_port),
                    field("edge_count", &MultipleEdgesFromOutputPort::edge_count)};
}
constexpr auto fields_of(std::type_identity<EdgeReferencesNonexistentNode>) {
  return std::tuple{field("edge_source", &EdgeReferencesNonexistentNode::edge_source),
                    field("edge_target", &EdgeReferencesNonexistentNode::edge_target),
                    field("missing_node", &EdgeReferencesNonexistentNode::missing_node)};
}
constexpr auto fields_of(std::type_identity<EdgeReferencesNonexistentPort>) {
  return std::tuple{field("edge_source", &EdgeReferencesNonexistentPort::edge_source),
                    field("edge_target", &EdgeReferencesNonexistentPort::edge_target),
                    field("missing_port", &EdgeReferencesNonexistentPort::missing_port)};
}
constexpr auto fields_of(std::type_identity<EdgeSourceNotOutputPort>) {
  return std::tuple{field("edge_source", &EdgeSourceNotOutputPort::edge_source),
                    field("edge_target", &EdgeSourceNotOutputPort::edge_target)};
}
constexpr auto fields_of(std::type_identity<EdgeTargetNotInputPort>) {
  return std::tuple{field("edge_source", &EdgeTargetNotInputPort::edge_source),
                    field("edge_target", &EdgeTargetNotInputPort::edge_target)};
}
constexpr auto fields_of(std::type_identity<SalvoConditionReferencesNonexistentPort>) {
  return std::tuple{
      field("node_name", &SalvoConditionReferencesNonexistentPort::node_name),
      field("condition_name", &SalvoConditionReferencesNonexistentPort::condition_name),
      field("is_input_condition", &SalvoConditionReferencesNonexistentPort::is_input_condition),
      field("missing_port", &SalvoConditionReferencesNonexistentPort::missing_port)};
}
constexpr auto fields_of(std::type_identity<SalvoConditionTermReferencesNonexistentPort>) {
  return std::tuple{
      field("node_name", &SalvoConditionTermReferencesNonexistentPort::node_name),
      field("condition_name", &SalvoConditionTermReferencesNonexistentPort::condition_name),
      field("is_input_condition", &SalvoConditionTermReferencesNonexistentPort::is_input_condition),
      field("missing_port", &SalvoConditionTermReferencesNonexistentPort::missing_port)};
}
constexpr auto fields_of(std::type_identity<InputSalvoConditionInvalidMaxSalvos>) {
  return std::tuple{field("node_name", &InputSalvoConditionInvalidMaxSalvos::node_name),
                    field("condition_name", &InputSalvoConditionInvalidMaxSalvos::condition_name),
                    field("max_salvos", &InputSalvoConditionInvalidMaxSalvos::max_salvos)};
}
constexpr auto fields_of(std::type_identity<DependencyEdgeNotInGraph>) {
  return std::tuple{field("edge", &DependencyEdgeNotInGraph::edge)};
}
constexpr auto fields_of(std::type_identity<DependencyRequestConfigWithoutDependencyEdges>) {
  return std::tuple{field("node_name", &DependencyRequestConfigWithoutDependencyEdges::node_name)};
}
}  // namespace validation

using GraphValidationError = std::variant<
    validation::MultipleEdgesFromOutputPort, validation::EdgeReferencesNonexistentNode,
    validation::EdgeReferencesNonexistentPort, validation::EdgeSourceNotOutputPort,
    validation::EdgeTargetNotInputPort, validation::SalvoConditionReferencesNonexistentPort,
    validation::SalvoConditionTermReferencesNonexistentPort,
    validation::InputSalvoConditionInvalidMaxSalvos, validation::DependencyEdgeNotInGraph,
    validation::DependencyRequestConfigWithoutDependencyEdges>;

static_assert(every_alternative<GraphValidationError>([](auto t) {
  return lists_every_member<typename decltype(t)::type>();
}));

// Checks `graph` for every structural fault and returns them all, by pass:
// edges, fan-out, salvo conditions, dependency edges, request configurations.
// Never fails; an empty list means the graph is valid.
std::vector<GraphValidationError> validate(const Graph& graph);

// The same list, skipping the passes over nodes and edges when an earlier
// validation of a graph sharing these tables found nothing there (the
// dependency-edge passes always run). For callers that validate every
// graph they are given, such as NetSim.
std::vector<GraphValidationError> validate_unless_checked(const Graph& graph);

// The variant name, e.g. "MultipleEdgesFromOutputPort".
std::string_view kind_name(const GraphValidationError& error);

// The human-readable message of the error.
std::string message(const GraphValidationError& error);

}  // namespace zellik
