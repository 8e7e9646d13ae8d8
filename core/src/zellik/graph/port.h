#pragma once

#include "zellik/base/name.h"
#include "zellik/base/shared_map.h"
#include "zellik/graph/edge.h"
#include "zellik/graph/port_ref.h"
#include "zellik/graph/port_slots.h"

namespace zellik {

// Ports, and (through the headers above) their capacities, the references
// that name them and the edges that join them.

// A port of a node; its name is its key in the node's port map.
struct Port {
  PortSlotSpec slots_spec = PortSlotSpec::Infinite();
};

// Port maps of a node, keyed by port name; iteration order unspecified.
// Copies share their table until one of them changes.
using PortMap = SharedMap<Name, Port, NameHash, NameEq>;

}  // namespace zellik
