#pragma once

// Helpers for the engine's action tests: an action runner that checks the
// invariants after every action (and that a refused action changed nothing,
// by the description of net_checks.h), and short ways to make epochs and
// packets. Builds on the step helpers (expect_success, act, make_packet,
// place_packet, event_kinds, event_as, ...).

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "support/net_invariants.h"
#include "support/step_fixtures.h"
#include "zellik/net/net_sim.h"

namespace zellik::testkit {

// Performs `action` and checks the invariants afterwards; a refused action
// must also leave the state exactly as it was.
inline NetActionResponse do_checked(NetSim& net, const NetAction& action) {
  const std::vector<std::string> before = describe_net(net);
  NetActionResponse response = net.do_action(action);
  ExpectNetInvariants(net);
  if (!response.ok()) {
    EXPECT_EQ(describe_net(net), before) << "a refused action changed the net";
  }
  return response;
}

// The success of a checked action (an empty success after a recorded failure).
inline NetActionSuccess ok(NetSim& net, const NetAction& action) {
  return expect_success(do_checked(net, action));
}

// The error of a checked action, expected to be of kind `kind`.
inline NetActionError refused(NetSim& net, const NetAction& action, NetActionError::Kind kind) {
  NetActionResponse response = do_checked(net, action);
  if (response.ok()) {
    ADD_FAILURE() << "action succeeded; expected error kind " << static_cast<int>(kind);
    return NetActionError::NodeNotFound(Name("<none>"));
  }
  EXPECT_EQ(static_cast<int>(response.error().kind), static_cast<int>(kind));
  return response.error();
}

// Response data of type `D`; records a failure when it is another kind.
template <class D>
D data_as(const NetActionSuccess& done) {
  if (const D* d = std::get_if<D>(&done.data)) return *d;
  ADD_FAILURE() << "response data is of another kind (" << done.data.index() << ")";
  return D{};
}

// A Startable epoch of `node` made with CreateEpoch from `packets`
// ((port name, packet id) pairs waiting at the node's input ports).
inline Ulid new_epoch(NetSim& net, std::string_view node,
                      std::vector<std::pair<Name, Ulid>> packets = {},
                      std::string_view condition = "manual") {
  const NetActionSuccess done =
      ok(net, action::CreateEpoch{Name(node), Salvo{Name(condition), std::move(packets)}});
  return data_as<response::CreatedEpoch>(done).epoch.id;
}

// A Running epoch of `node` with nothing inside.
inline Ulid running_epoch(NetSim& net, std::string_view node) {
  const Ulid id = new_epoch(net, node);
  ok(net, action::StartEpoch{id});
  return id;
}

// A packet created inside the running epoch `epoch`.
inline Ulid packet_in_epoch(NetSim& net, const Ulid& epoch) {
  return data_as<response::Packet>(ok(net, action::CreatePacket{epoch})).packet_id;
}

}  // namespace zellik::testkit
