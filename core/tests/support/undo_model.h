#pragma once

// A model of what undo promises, for checking undo against it: the state of
// a net in a comparable form (capture) and the state that undoing an
// action's events must give, worked out from the state before the action
// and the events alone (promised). Free of any test framework, so the fuzz
// targets use it too.

#include <algorithm>
#include <map>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "support/net_checks.h"
#include "support/net_test_access.h"
#include "zellik/net/net_sim.h"

namespace zellik::testkit {

// The state undo promises to restore, in a comparable form. Compared with
// ==, which builds no text; lines() says it in text, for a failure.
struct Expected {
  std::unordered_map<PacketLocation, std::vector<Ulid>, PacketLocationHash> queues;  // non-empty
  std::unordered_map<Ulid, PacketLocation, UlidHash> packets;
  std::unordered_map<Ulid, std::string, UlidHash> epochs;  // id -> every field
  std::vector<Ulid> startable;                             // sorted
  std::map<Name, std::vector<Ulid>> node_epochs;           // non-empty lists only
  std::map<Name, bool> tokens;
  std::vector<PendingRequest> pending;
  bool startup_sent = false;

  friend bool operator==(const Expected&, const Expected&) = default;

  // One line per item, sorted.
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    for (const auto& [loc, ids] : queues)
      out.push_back("queue " + loc.debug_string() + ":" + ids_text(ids));
    for (const auto& [id, loc] : packets)
      out.push_back("packet " + id.to_string() + " at " + loc.debug_string());
    for (const auto& [id, text] : epochs) out.push_back("epoch " + text);
    out.push_back("startable:" + ids_text(startable));
    for (const auto& [node, ids] : node_epochs)
      out.push_back("node " + node.str() + ":" + ids_text(ids));
    for (const auto& [node, token] : tokens)
      out.push_back("token " + node.str() + (token ? "=1" : "=0"));
    std::string p = "pending:";
    for (const PendingRequest& r : pending) p += " " + r.node_name.str() + "/" + r.label.str();
    out.push_back(p);
    out.push_back(startup_sent ? "startup sent" : "startup not sent");
    std::sort(out.begin(), out.end());
    return out;
  }
};

inline Expected capture(const NetSim& net) {
  Expected s;
  for (const auto& [loc, entry] : tables_of(net).locations()) {
    if (!entry.queue.empty()) s.queues.emplace(loc, net.get_packets_at_location(loc));
  }
  for (const auto& [id, packet] : net.packets()) s.packets.emplace(id, packet.location);
  for (const auto& [id, epoch] : net.epochs()) s.epochs.emplace(id, epoch_text(epoch));
  s.startable.assign(tables_of(net).startable_epochs().begin(),
                     tables_of(net).startable_epochs().end());
  std::sort(s.startable.begin(), s.startable.end());
  for (const auto& [node, ids] : tables_of(net).node_epochs()) {
    if (!ids.empty()) s.node_epochs.emplace(node, ids);
  }
  for (const auto& [node, token] : tables_of(net).requests().tokens) s.tokens.emplace(node, token);
  s.pending = tables_of(net).requests().pending;
  s.startup_sent = tables_of(net).requests().startup_requests_sent;
  return s;
}

inline bool has_no_salvo_trigger(const Graph& graph, const Name& node_name) {
  const Node* node = graph.find_node(node_name.view());
  return node != nullptr && node->dependency_request_config &&
         node->dependency_request_config->has_trigger(DependencyRequestTrigger::OnNoSalvoTriggered);
}

// What undoing `events` of `action` must give, starting from the state
// `before` the action: the same state, except that a consumed, destroyed or
// orphaned packet returns at the end of its location (so several orphans of
// one salvo come back in reverse order), a restored epoch joins the end
// of its node's list and takes the node's token, a cancelled Startable
// epoch is startable again, and requests a step took stay taken.
inline Expected promised(Expected before, const Graph& graph, const NetAction& action,
                         const EventList& events) {
  for (auto it = events.rbegin(); it != events.rend(); ++it) {
    const NetEvent& e = *it;
    auto requeue_at_end = [&](const Ulid& id, const PacketLocation& loc) {
      std::vector<Ulid>& queue = before.queues[loc];
      std::erase(queue, id);
      queue.push_back(id);
    };
    auto restore = [&](const Epoch& epoch) {
      std::vector<Ulid>& ids = before.node_epochs[epoch.node_name];
      std::erase(ids, epoch.id);
      ids.push_back(epoch.id);
      if (has_no_salvo_trigger(graph, epoch.node_name)) before.tokens[epoch.node_name] = false;
    };
    if (const auto* c = std::get_if<event::PacketConsumed>(&e))
      requeue_at_end(c->packet_id, c->location);
    if (const auto* d = std::get_if<event::PacketDestroyed>(&e))
      requeue_at_end(d->packet_id, d->location);
    if (const auto* o = std::get_if<event::PacketOrphaned>(&e)) {
      requeue_at_end(o->packet_id, PacketLocation::OutputPort(o->epoch_id, o->port_name));
    }
    if (const auto* f = std::get_if<event::EpochFinished>(&e)) restore(f->epoch);
    if (const auto* c = std::get_if<event::EpochCancelled>(&e)) {
      restore(c->epoch);
      // A Startable epoch comes back startable, even one an undo of foreign
      // events had left outside the startable set.
      auto& ids = before.startable;
      const auto at = std::lower_bound(ids.begin(), ids.end(), c->epoch->id);
      if (c->epoch->state == EpochState::Startable && (at == ids.end() || !(*at == c->epoch->id)))
        ids.insert(at, c->epoch->id);
    }
    if (const auto* r = std::get_if<event::RequestCreated>(&e)) {
      if (r->request_source == RequestCreatedSource::OnNoSalvoTriggered)
        before.tokens[r->node_name] = true;
    }
  }
  if (std::holds_alternative<action::RunStep>(action)) before.pending.clear();
  return before;
}

}  // namespace zellik::testkit
