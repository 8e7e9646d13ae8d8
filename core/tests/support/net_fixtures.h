#pragma once

// Helpers for the engine's action tests: a full description of a net's state
// (to prove that a refused action changed nothing), an action runner that
// checks the invariants after every action, and short ways to make epochs
// and packets. Builds on the step helpers (expect_success, act, make_packet,
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

inline std::string ids_text(const std::vector<Ulid>& ids) {
  std::string out;
  for (const Ulid& id : ids) {
    out += ' ';
    out += id.to_string();
  }
  return out;
}

inline std::string salvo_text(const Salvo& salvo) {
  std::string out = salvo.salvo_condition.str() + "[";
  for (const auto& [port, id] : salvo.packets) {
    out += ' ';
    out += port.str();
    out += ':';
    out += id.to_string();
  }
  return out + " ]";
}

// Every field of an epoch, as one line.
inline std::string epoch_text(const Epoch& e) {
  std::string out = e.id.to_string() + " node=" + e.node_name.str() +
                    " state=" + std::to_string(static_cast<int>(e.state)) +
                    " in=" + salvo_text(e.in_salvo) + " out=";
  for (const Salvo& s : e.out_salvos) out += salvo_text(s);
  out += " orphans=";
  for (const OrphanedPacketInfo& o : e.orphaned_packets) {
    out += '(';
    out += o.packet_id.to_string();
    out += ',';
    out += o.from_port.str();
    out += ',';
    out += o.salvo_condition.str();
    out += ')';
  }
  return out;
}

// The whole observable state of a net, one sorted line per item: packets,
// location queues in order, epochs, the startable set, node epoch lists and
// the request state. Equal descriptions mean equal states.
inline std::vector<std::string> describe_net(const NetSim& net) {
  std::vector<std::string> lines;
  for (const auto& [id, packet] : net.packets()) {
    lines.push_back("packet " + id.to_string() + " at " + packet.location.debug_string());
  }
  for (const auto& [location, entry] : net.packets_by_location()) {
    lines.push_back("location " + location.debug_string() + ":" +
                    ids_text(net.get_packets_at_location(location)));
  }
  for (const auto& [id, epoch] : net.epochs()) lines.push_back("epoch " + epoch_text(epoch));
  for (const Ulid& id : net.startable_epochs()) lines.push_back("startable " + id.to_string());
  for (const auto& [node, ids] : net.node_to_epochs()) {
    lines.push_back("node epochs " + node.str() + ":" + ids_text(ids));
  }
  for (const auto& [node, token] : net.request_tokens()) {
    lines.push_back("token " + node.str() + "=" + (token ? "1" : "0"));
  }
  std::string pending = "pending:";
  for (const PendingRequest& r : net.pending_requests())
    pending += " " + r.node_name.str() + "/" + r.label.str();
  lines.push_back(pending);
  lines.push_back(std::string("startup sent=") + (net.startup_requests_sent() ? "1" : "0"));
  std::sort(lines.begin(), lines.end());
  return lines;
}

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
