// Drives a small net with random actions and steps. After every successful
// action the action is undone with its own events, the state is compared with
// what undo promises, and the action is performed again before going on.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/net_fixtures.h"
#include "support/net_invariants.h"
#include "support/step_fixtures.h"

namespace zellik {
namespace {

using namespace testkit;  // NOLINT: test-local shorthand

// S and T feed M.a (fan-in, capacity 2). M forwards through x to K and has
// an unconnected output u. K (capacity 1) feeds R, which needs two packets at
// once, asks for work at startup and whenever it cannot fire.
Graph roundtrip_graph() {
  const SalvoCondition emit = condition(SalvoConditionTerm::True(), {"o"}, MaxSalvos::Infinite());
  SalvoCondition pair = condition(port_term("a", {PortState::Kind::GreaterThan, 1}));
  pair.ports.emplace(Name("a"), PacketCount::Count(2));
  SalvoCondition one = condition(port_term("a", PortState::Kind::NonEmpty));
  one.ports.emplace(Name("a"), PacketCount::Count(1));
  const SalvoCondition fwd = condition(SalvoConditionTerm::True(), {"x"}, MaxSalvos::Infinite());
  const SalvoCondition spill = condition(port_term("u", PortState::Kind::NonEmpty), {"u"});
  const SalvoCondition pass = condition(SalvoConditionTerm::True(), {"out"}, MaxSalvos::Infinite());
  const SalvoCondition two = condition(port_term("in", {PortState::Kind::Equals, 2}), {"in"});
  const Edge k_to_r = edge("K.out", "R.in");
  return with_dependency_edges(
      Graph({NodeBuilder("S").out("o").out_condition("emit", emit),
             NodeBuilder("T").out("o").out_condition("emit", emit),
             NodeBuilder("M")
                 .in("a", PortSlotSpec::Finite(2))
                 .out("x")
                 .out("u", PortSlotSpec::Finite(1))
                 .in_condition("pair", pair)
                 .in_condition("one", one)
                 .out_condition("fwd", fwd)
                 .out_condition("spill", spill),
             NodeBuilder("K")
                 .in("in", PortSlotSpec::Finite(1))
                 .out("out")
                 .in_condition("go", when_non_empty("in"))
                 .out_condition("pass", pass),
             NodeBuilder("R")
                 .in("in")
                 .in_condition("two", two)
                 .requests({DependencyRequestTrigger::OnStartup,
                            DependencyRequestTrigger::OnNoSalvoTriggered},
                           "want")},
            {edge("S.o", "M.a"), edge("T.o", "M.a"), edge("M.x", "K.in"), k_to_r}),
      {k_to_r});
}

// The state undo promises to restore, in a comparable form.
struct Expected {
  std::map<std::string, std::vector<Ulid>> queues;       // location text -> ids in order
  std::map<Ulid, std::string> packets;                   // id -> location text
  std::map<Ulid, std::string> epochs;                    // id -> every field
  std::vector<Ulid> startable;                           // sorted
  std::map<std::string, std::vector<Ulid>> node_epochs;  // non-empty lists only
  std::map<std::string, bool> tokens;
  std::vector<std::string> pending;
  bool startup_sent = false;

  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    for (const auto& [loc, ids] : queues) out.push_back("queue " + loc + ":" + ids_text(ids));
    for (const auto& [id, loc] : packets) out.push_back("packet " + id.to_string() + " at " + loc);
    for (const auto& [id, text] : epochs) out.push_back("epoch " + text);
    out.push_back("startable:" + ids_text(startable));
    for (const auto& [node, ids] : node_epochs) out.push_back("node " + node + ":" + ids_text(ids));
    for (const auto& [node, token] : tokens) out.push_back("token " + node + (token ? "=1" : "=0"));
    std::string p = "pending:";
    for (const std::string& r : pending) p += " " + r;
    out.push_back(p);
    out.push_back(startup_sent ? "startup sent" : "startup not sent");
    return out;
  }
};

Expected capture(const NetSim& net) {
  Expected s;
  for (const auto& [loc, entry] : net.packets_by_location()) {
    s.queues[loc.debug_string()] = net.get_packets_at_location(loc);
  }
  for (const auto& [id, packet] : net.packets()) s.packets[id] = packet.location.debug_string();
  for (const auto& [id, epoch] : net.epochs()) s.epochs[id] = epoch_text(epoch);
  s.startable.assign(net.startable_epochs().begin(), net.startable_epochs().end());
  std::sort(s.startable.begin(), s.startable.end());
  for (const auto& [node, ids] : net.node_to_epochs()) {
    if (!ids.empty()) s.node_epochs[node.str()] = ids;
  }
  for (const auto& [node, token] : net.request_tokens()) s.tokens[node.str()] = token;
  for (const PendingRequest& r : net.pending_requests()) {
    s.pending.push_back(r.node_name.str() + "/" + r.label.str());
  }
  s.startup_sent = net.startup_requests_sent();
  return s;
}

bool has_no_salvo_trigger(const Graph& graph, const Name& node_name) {
  const Node* node = graph.find_node(node_name.view());
  return node != nullptr && node->dependency_request_config &&
         node->dependency_request_config->has_trigger(DependencyRequestTrigger::OnNoSalvoTriggered);
}

// What undoing `events` of `action` must give, starting from the state
// `before` the action: the same state, except that a consumed, destroyed or
// orphaned packet returns at the end of its location (so several orphans of
// one salvo come back in reverse order), a restored epoch joins the end
// of its node's list and takes the node's token, and requests a step took
// stay taken.
Expected promised(Expected before, const Graph& graph, const NetAction& action,
                  const EventList& events) {
  for (auto it = events.rbegin(); it != events.rend(); ++it) {
    const NetEvent& e = *it;
    auto requeue_at_end = [&](const Ulid& id, const PacketLocation& loc) {
      std::vector<Ulid>& queue = before.queues[loc.debug_string()];
      std::erase(queue, id);
      queue.push_back(id);
    };
    auto restore = [&](const Epoch& epoch) {
      std::vector<Ulid>& ids = before.node_epochs[epoch.node_name.str()];
      std::erase(ids, epoch.id);
      ids.push_back(epoch.id);
      if (has_no_salvo_trigger(graph, epoch.node_name))
        before.tokens[epoch.node_name.str()] = false;
    };
    if (const auto* c = std::get_if<event::PacketConsumed>(&e))
      requeue_at_end(c->packet_id, c->location);
    if (const auto* d = std::get_if<event::PacketDestroyed>(&e))
      requeue_at_end(d->packet_id, d->location);
    if (const auto* o = std::get_if<event::PacketOrphaned>(&e)) {
      requeue_at_end(o->packet_id, PacketLocation::OutputPort(o->epoch_id, o->port_name));
    }
    if (const auto* f = std::get_if<event::EpochFinished>(&e)) restore(f->epoch);
    if (const auto* c = std::get_if<event::EpochCancelled>(&e)) restore(c->epoch);
    if (const auto* r = std::get_if<event::RequestCreated>(&e)) {
      if (r->request_source == RequestCreatedSource::OnNoSalvoTriggered)
        before.tokens[r->node_name.str()] = true;
    }
  }
  if (std::holds_alternative<action::RunStep>(action)) before.pending.clear();
  return before;
}

std::string action_name(const NetAction& action) {
  static constexpr std::array<const char*, 12> kNames = {"RunStep",
                                                         "CreatePacket",
                                                         "ConsumePacket",
                                                         "DestroyPacket",
                                                         "StartEpoch",
                                                         "FinishEpoch",
                                                         "CancelEpoch",
                                                         "CreateEpoch",
                                                         "LoadPacketIntoOutputPort",
                                                         "SendOutputSalvo",
                                                         "TransportPacketToLocation",
                                                         "CreateRequest"};
  return kNames[action.index()];
}

// Picks random actions that are usually, not always, valid.
class ActionPicker {
 public:
  ActionPicker(const NetSim& net, std::uint32_t seed) : net_(net), rng_(seed) {}

  NetAction next() {
    switch (pick(20)) {
      case 0:
      case 1:
      case 2:
      case 3:
        return action::RunStep{};
      case 4:
      case 5:
        return create_packet();
      case 6:
        return action::ConsumePacket{any_packet()};
      case 7:
        return action::DestroyPacket{any_packet()};
      case 8:
      case 9:
        return action::StartEpoch{any_epoch()};
      case 10:
        return action::FinishEpoch{any_epoch()};
      case 11:
        return pick(2) == 0 ? NetAction{action::CancelEpoch{any_epoch()}}
                            : NetAction{action::FinishEpoch{any_epoch()}};
      case 12:
        return create_epoch();
      case 13:
      case 14:
        return load();
      case 15:
      case 16:
        return send();
      case 17:
      case 18:
        return action::TransportPacketToLocation{any_packet(), any_location()};
      default:
        return action::CreateRequest{Name(one_of<const char*>({"R", "K", "S"})),
                                     Name(one_of<const char*>({"l1", "l2"}))};
    }
  }

 private:
  std::size_t pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
  }

  template <class T>
  T one_of(const std::vector<T>& items) {
    return items[pick(items.size())];
  }

  std::vector<Ulid> sorted_packets() const {
    std::vector<Ulid> ids;
    for (const auto& [id, packet] : net_.packets()) ids.push_back(id);
    std::sort(ids.begin(), ids.end());
    return ids;
  }

  std::vector<Ulid> sorted_epochs() const {
    std::vector<Ulid> ids;
    for (const auto& [id, epoch] : net_.epochs()) ids.push_back(id);
    std::sort(ids.begin(), ids.end());
    return ids;
  }

  // Now and then an id that names nothing, to exercise refusals.
  Ulid any_packet() {
    const std::vector<Ulid> ids = sorted_packets();
    return ids.empty() || pick(10) == 0 ? Ulid{9, 9} : one_of(ids);
  }
  Ulid any_epoch() {
    const std::vector<Ulid> ids = sorted_epochs();
    return ids.empty() || pick(10) == 0 ? Ulid{9, 9} : one_of(ids);
  }

  NetAction create_packet() {
    std::vector<Ulid> running;
    for (const Ulid& id : sorted_epochs()) {
      if (net_.get_epoch(id)->state == EpochState::Running) running.push_back(id);
    }
    if (running.empty() || pick(3) == 0) return action::CreatePacket{};
    return action::CreatePacket{one_of(running)};
  }

  NetAction create_epoch() {
    const char* node = one_of<const char*>({"M", "M", "K", "R", "S"});
    const char* port = std::string_view(node) == "M" ? "a" : "in";
    std::vector<std::pair<Name, Ulid>> taken;
    for (const Ulid& id : net_.get_packets_at_location(at_input(node, port))) {
      if (pick(2) == 0) taken.emplace_back(Name(port), id);
    }
    return action::CreateEpoch{Name(node), Salvo{Name("hand"), std::move(taken)}};
  }

  NetAction load() {
    std::vector<Ulid> inside;
    for (const Ulid& id : sorted_packets()) {
      if (net_.get_packet(id)->location.is(PacketLocation::Kind::Node)) inside.push_back(id);
    }
    if (inside.empty()) return action::LoadPacketIntoOutputPort{any_packet(), Name("x")};
    const Ulid id = one_of(inside);
    const Epoch* epoch = net_.get_epoch(net_.get_packet(id)->location.epoch_id());
    const Node* node = net_.graph().find_node(epoch->node_name.view());
    std::vector<Name> ports;
    for (const auto& [name, port] : node->out_ports) ports.push_back(name);
    std::sort(ports.begin(), ports.end());
    if (ports.empty() || pick(8) == 0) ports.emplace_back("nowhere");
    return action::LoadPacketIntoOutputPort{id, one_of(ports)};
  }

  NetAction send() {
    // Mostly a condition whose ports hold something, so that packets leave.
    std::vector<std::pair<Ulid, Name>> loaded;
    for (const Ulid& id : sorted_epochs()) {
      const Node* node = net_.graph().find_node(net_.get_epoch(id)->node_name.view());
      for (const auto& [name, c] : node->out_salvo_conditions) {
        for (const auto& [port, count] : c.ports) {
          if (net_.packet_count_at(PacketLocation::OutputPort(id, port)) != 0) {
            loaded.emplace_back(id, name);
            break;
          }
        }
      }
    }
    if (!loaded.empty() && pick(4) != 0) {
      const auto& [id, name] = loaded[pick(loaded.size())];
      return action::SendOutputSalvo{id, name};
    }
    const Ulid id = any_epoch();
    const Epoch* epoch = net_.get_epoch(id);
    if (epoch == nullptr) return action::SendOutputSalvo{id, Name("fwd")};
    const Node* node = net_.graph().find_node(epoch->node_name.view());
    std::vector<Name> conditions;
    for (const auto& [name, c] : node->out_salvo_conditions) conditions.push_back(name);
    if (conditions.empty()) conditions.emplace_back("none");
    return action::SendOutputSalvo{id, one_of(conditions)};
  }

  PacketLocation any_location() {
    std::vector<PacketLocation> places = {PacketLocation::OutsideNet(), at_input("M", "a"),
                                          at_input("K", "in"),          at_input("R", "in"),
                                          on_edge("S.o", "M.a"),        on_edge("T.o", "M.a"),
                                          on_edge("M.x", "K.in"),       on_edge("K.out", "R.in")};
    for (const Ulid& id : sorted_epochs()) {
      places.push_back(PacketLocation::Node(id));
      if (net_.get_epoch(id)->node_name == "M")
        places.push_back(PacketLocation::OutputPort(id, Name("u")));
    }
    return one_of(places);
  }

  const NetSim& net_;
  std::mt19937 rng_;
};

void run_roundtrips(std::uint32_t seed, int actions) {
  NetSim net(roundtrip_graph());
  ActionPicker picker(net, seed);
  int undone = 0;
  for (int i = 0; i < actions; ++i) {
    const NetAction action = picker.next();
    SCOPED_TRACE("seed " + std::to_string(seed) + ", action " + std::to_string(i) + " " +
                 action_name(action));
    const Expected before = capture(net);
    NetActionResponse first = do_checked(net, action);
    if (!first.ok()) continue;
    const EventList events = first.value().events;

    const Result<Unit, UndoError> undo = net.undo_action(action, events);
    ASSERT_TRUE(undo.ok()) << undo.error().text;
    ExpectNetInvariants(net);
    ASSERT_EQ(capture(net).lines(), promised(before, net.graph(), action, events).lines());
    ++undone;

    const NetActionResponse again = do_checked(net, action);
    ASSERT_TRUE(again.ok()) << "the action was refused after its undo";
  }
  // The mix of actions must leave most of them succeeding, or the test
  // checks little.
  EXPECT_GT(undone, actions / 3);
}

TEST(UndoRoundtrip, RandomActionsUndoAndRedoCleanly) {
  for (std::uint32_t seed = 1; seed <= 12; ++seed) run_roundtrips(seed, 400);
}

}  // namespace
}  // namespace zellik
