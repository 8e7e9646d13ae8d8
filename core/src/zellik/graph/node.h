#pragma once

#include <optional>

#include "zellik/base/fields.h"
#include "zellik/base/name.h"
#include "zellik/base/ordered_map.h"
#include "zellik/graph/dependency_request.h"
#include "zellik/graph/port.h"
#include "zellik/graph/salvo_condition.h"

namespace zellik {

// Salvo conditions keep the order in which they were supplied: the engine
// tries input conditions in that order.
using SalvoConditionMap = InsertionOrderedMap<SalvoCondition>;

// A processing node. A plain value; its maps are shared between copies
// (each copy changes only its own), so copying a node is O(1).
struct Node {
  Name name;
  PortMap in_ports;
  PortMap out_ports;
  SalvoConditionMap in_salvo_conditions;
  SalvoConditionMap out_salvo_conditions;
  std::optional<DependencyRequestConfig> dependency_request_config;
};
constexpr auto fields_of(std::type_identity<Node>) {
  return std::tuple{field("name", &Node::name),
                    field("in_ports", &Node::in_ports),
                    field("out_ports", &Node::out_ports),
                    field("in_salvo_conditions", &Node::in_salvo_conditions),
                    field("out_salvo_conditions", &Node::out_salvo_conditions),
                    field("dependency_request_config", &Node::dependency_request_config)};
}
static_assert(lists_every_member<Node>());

}  // namespace zellik
