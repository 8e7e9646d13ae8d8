#pragma once

#include <optional>

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

}  // namespace zellik
