#pragma once

#include <string>
#include <vector>

#include "zellik/graph/dot.h"
#include "zellik/net/epoch.h"
#include "zellik/net/net_sim.h"

namespace zellik {

// Read-only views of a whole net for tools: listings and pictures. They use
// only the net's queries and read-only views and never change it.

// Every packet of the net, wherever it is, ordered by id.
std::vector<Packet> list_packets(const NetSim& net);
// Every live (startable or running) epoch of the net, ordered by id.
std::vector<Epoch> list_epochs(const NetSim& net);

// The live state the picture of a net shows over its graph.
DotLiveState dot_live_state(const NetSim& net);
// Graphviz DOT text of the net's graph with its live state (see graph/dot.h).
std::string to_dot(const NetSim& net);

}  // namespace zellik
