#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

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

}  // namespace validation

using GraphValidationError = std::variant<
    validation::MultipleEdgesFromOutputPort, validation::EdgeReferencesNonexistentNode,
    validation::EdgeReferencesNonexistentPort, validation::EdgeSourceNotOutputPort,
    validation::EdgeTargetNotInputPort, validation::SalvoConditionReferencesNonexistentPort,
    validation::SalvoConditionTermReferencesNonexistentPort,
    validation::InputSalvoConditionInvalidMaxSalvos, validation::DependencyEdgeNotInGraph,
    validation::DependencyRequestConfigWithoutDependencyEdges>;

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
