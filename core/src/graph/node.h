#pragma once

#include <optional>

#include "graph/dependency.h"
#include "graph/name.h"
#include "graph/ordered_map.h"
#include "graph/port.h"
#include "graph/salvo_condition.h"

namespace zellik {

// Salvo conditions keep the order in which they were supplied: the engine
// tries input conditions in that order.
using SalvoConditionMap = InsertionOrderedMap<SalvoCondition>;

// A processing node. A plain value; copying copies its maps.
struct Node {
  Name name;
  PortMap in_ports;
  PortMap out_ports;
  SalvoConditionMap in_salvo_conditions;
  SalvoConditionMap out_salvo_conditions;
  std::optional<DependencyRequestConfig> dependency_request_config;
};

}  // namespace zellik
