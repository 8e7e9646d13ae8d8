#pragma once

// The tests' and fuzz targets' way into a net's tables: a read-only view of
// its NetState, to check every index against the others, and the one
// private step a test drives directly. Nothing else reaches them.

#include <string_view>

#include "zellik/net/net_sim.h"
#include "zellik/net/net_state.h"

namespace zellik {

class NetSimTestAccess {
 public:
  NetSimTestAccess() = delete;

  static const NetState& state(const NetSim& net) { return net.state_; }
  // The token setter finish and cancel use: only a node with the
  // OnNoSalvoTriggered trigger has a token to set.
  static void set_request_token(NetSim& net, std::string_view node_name, bool value) {
    net.set_request_token(node_name, value);
  }
};

// The tables of `net`, read-only.
inline const NetState& tables_of(const NetSim& net) { return NetSimTestAccess::state(net); }

}  // namespace zellik
