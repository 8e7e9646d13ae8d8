#pragma once

#include "zellik/base/fields.h"
#include "zellik/base/name.h"
#include "zellik/base/shared_map.h"
#include "zellik/graph/edge.h"
#include "zellik/graph/limits.h"
#include "zellik/graph/port_ref.h"

namespace zellik {

// Ports, and (through the headers above) their capacities, the references
// that name them and the edges that join them.

// A port of a node; its name is its key in the node's port map.
struct Port {
  PortSlotSpec slots_spec = PortSlotSpec::Infinite();
};
constexpr auto fields_of(std::type_identity<Port>) {
  return std::tuple{field("slots_spec", &Port::slots_spec)};
}
static_assert(lists_every_member<Port>());

// Port maps of a node, keyed by port name; iteration order unspecified.
// Copies share their table until one of them changes.
using PortMap = SharedMap<Name, Port, NameHash, NameEq>;

}  // namespace zellik
