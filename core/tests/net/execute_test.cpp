// execute and do_actions against the same actions performed one by one on a
// twin net: equal events and state when every action is accepted, and on a
// refusal the net exactly as before, the error naming the refused action.

#include "zellik/net/execute.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/net_fixtures.h"
#include "support/net_invariants.h"
#include "zellik/net/record_codec.h"

namespace zellik {
namespace {

using namespace testkit;  // NOLINT: the shared fixtures

// W.in -> (W) -> out (3 slots) -> Sink.in; side has no edge, so what W sends
// through it is orphaned. "send" takes out once; "spill" takes side, any
// number of times, when side holds a packet.
Graph worker_graph() {
  return Graph({NodeBuilder("W")
                    .in("in")
                    .out("out", PortSlotSpec::Finite(3))
                    .out("side")
                    .out_condition("send", condition(SalvoConditionTerm::True(), {"out"}))
                    .out_condition("spill", when_non_empty("side", MaxSalvos::Infinite())),
                node("Sink", {"in"})},
               {edge("W.out", "Sink.in")});
}

std::vector<std::string> encoded(std::span<const NetEvent> events) {
  std::vector<std::string> out;
  for (const NetEvent& e : events) out.push_back(encode_record(e));
  return out;
}

// The same setup on each twin: `n` packets into a new epoch of W, started
// when `start`.
Ulid set_up(NetSim& net, int n, bool start) {
  std::vector<std::pair<Name, Ulid>> taken;
  for (int i = 0; i < n; ++i) {
    const Ulid p = data_as<response::Packet>(ok(net, action::CreatePacket{})).packet_id;
    ok(net, action::TransportPacketToLocation{p, at_input("W", "in")});
    taken.emplace_back(Name("in"), p);
  }
  const Ulid epoch = new_epoch(net, "W", std::move(taken));
  if (start) ok(net, action::StartEpoch{epoch});
  return epoch;
}

// What execute should do, one action at a time on `net`: the events of the
// accepted actions, and the refused action's position and error, if any.
struct OneByOne {
  EventList events;
  CreatedPackets created;
  std::optional<std::pair<std::size_t, NetActionError::Kind>> refused;
};

OneByOne one_by_one(NetSim& net, const Ulid& epoch, const EpochOutcome& outcome) {
  OneByOne r;
  std::size_t step = 0;
  auto act = [&](const NetAction& a) -> std::optional<NetActionSuccess> {
    NetActionResponse response = net.do_action(a);
    if (!response.ok()) {
      r.refused.emplace(step, response.error().kind);
      return std::nullopt;
    }
    ++step;
    for (NetEvent& e : response.value().events) r.events.push_back(std::move(e));
    return std::move(response).value();
  };
  const Epoch* e = net.get_epoch(epoch);
  if ((e == nullptr || e->state == EpochState::Startable) && !act(action::StartEpoch{epoch})) {
    return r;
  }
  for (const Ulid& p : net.get_packets_at_location(PacketLocation::Node(epoch))) {
    const NetAction a = outcome.pass_to
                            ? NetAction(action::LoadPacketIntoOutputPort{p, *outcome.pass_to})
                            : NetAction(action::ConsumePacket{p});
    if (!act(a)) return r;
  }
  for (const auto& [port, count] : outcome.creates) {
    std::vector<Ulid>& ids = r.created.emplace_back(port, std::vector<Ulid>()).second;
    for (std::uint64_t i = 0; i < count; ++i) {
      const auto made = act(action::CreatePacket{epoch});
      if (!made) return r;
      const Ulid p = std::get<response::Packet>(made->data).packet_id;
      if (!act(action::LoadPacketIntoOutputPort{p, port})) return r;
      ids.push_back(p);
    }
  }
  for (const Name& c : outcome.sends) {
    if (!act(action::SendOutputSalvo{epoch, c})) return r;
  }
  act(action::FinishEpoch{epoch});
  return r;
}

Name pick(std::mt19937& rng, std::initializer_list<const char*> names) {
  std::uniform_int_distribution<std::size_t> d(0, names.size() - 1);
  return Name(names.begin()[d(rng)]);
}

EpochOutcome random_outcome(std::mt19937& rng) {
  EpochOutcome o;
  std::uniform_int_distribution<int> small(0, 3);
  const int pass = small(rng);
  if (pass > 0) o.pass_to = pick(rng, {"out", "side", "nope"});
  for (int i = small(rng) % 3; i > 0; --i) {
    o.creates.emplace_back(pick(rng, {"out", "side", "out", "nope"}), small(rng));
  }
  for (int i = small(rng) % 3; i > 0; --i) o.sends.push_back(pick(rng, {"send", "spill", "nope"}));
  return o;
}

TEST(Execute, EqualsTheSameActionsOneByOneAndLeavesTheNetAsItWasOnARefusal) {
  std::mt19937 rng(29);
  int accepted = 0;
  int refused = 0;
  for (int round = 0; round < 1000; ++round) {
    const Graph graph = worker_graph();
    NetSim net(graph, IdSource::Seeded(round));
    NetSim twin(graph, IdSource::Seeded(round));
    const int n = static_cast<int>(rng() % 4);
    const bool start = rng() % 2 == 0;
    Ulid epoch = set_up(net, n, start);
    set_up(twin, n, start);
    if (rng() % 10 == 0) epoch = Ulid::Generate();  // no such epoch
    const EpochOutcome outcome = random_outcome(rng);

    const std::vector<std::string> before = describe_net(net);
    EventList events(1);  // the caller's events stay as they were
    const std::string first = encode_record(events[0]);
    Result<CreatedPackets, BatchError> done = execute(net, epoch, outcome, events);
    const OneByOne expected = one_by_one(twin, epoch, outcome);
    ExpectNetInvariants(net);
    ASSERT_EQ(encode_record(events[0]), first);
    const std::span<const NetEvent> made = std::span<const NetEvent>(events).subspan(1);

    if (expected.refused) {
      ++refused;
      ASSERT_FALSE(done.ok()) << "round " << round;
      EXPECT_EQ(done.error().step, expected.refused->first) << "round " << round;
      EXPECT_EQ(done.error().error.kind, expected.refused->second) << "round " << round;
      EXPECT_TRUE(made.empty());
      EXPECT_EQ(describe_net(net), before) << "round " << round;
    } else {
      ++accepted;
      ASSERT_TRUE(done.ok()) << "round " << round;
      EXPECT_EQ(done.value(), expected.created);
      EXPECT_EQ(encoded(made), encoded(expected.events)) << "round " << round;
      EXPECT_EQ(describe_net(net), describe_net(twin)) << "round " << round;
      // Undone from its events, last first, the whole call leaves the net as
      // before it.
      EventList spent(made.begin(), made.end());
      for (std::size_t i = spent.size(); i-- > 0;) {
        ASSERT_TRUE(net.undo_action(action::SendOutputSalvo{epoch, Name("send")},
                                    std::span<const NetEvent>(spent).subspan(i, 1))
                        .ok());
      }
      ExpectNetInvariants(net);
    }
  }
  // Both paths are well covered.
  EXPECT_GT(accepted, 50);
  EXPECT_GT(refused, 50);
}

TEST(DoActions, EqualsTheSameActionsOneByOneAndLeavesTheNetAsItWasOnARefusal) {
  std::mt19937 rng(30);
  for (int round = 0; round < 1000; ++round) {
    const Graph graph = worker_graph();
    NetSim net(graph, IdSource::Seeded(round));
    NetSim twin(graph, IdSource::Seeded(round));
    const bool start = rng() % 2 == 0;
    const Ulid epoch = set_up(net, 2, start);
    set_up(twin, 2, start);
    const std::vector<Ulid> inside = net.get_packets_at_location(PacketLocation::Node(epoch));
    // Actions over the net's own packets and epoch, and some that must fail.
    std::vector<NetAction> pool = {action::StartEpoch{epoch},
                                   action::ConsumePacket{inside[0]},
                                   action::LoadPacketIntoOutputPort{inside[1], Name("out")},
                                   action::LoadPacketIntoOutputPort{inside[0], Name("side")},
                                   action::SendOutputSalvo{epoch, Name("send")},
                                   action::SendOutputSalvo{epoch, Name("spill")},
                                   action::CreatePacket{},
                                   action::RunStep{},
                                   action::FinishEpoch{epoch},
                                   action::CancelEpoch{epoch},
                                   action::DestroyPacket{inside[1]}};
    std::vector<NetAction> actions;
    for (std::size_t i = rng() % 6; i > 0; --i) actions.push_back(pool[rng() % pool.size()]);
    NetSim& same = twin;

    const std::vector<std::string> before = describe_net(net);
    std::vector<NetActionSuccess> done;
    const Result<Unit, BatchError> r = do_actions(net, actions, done);
    ExpectNetInvariants(net);

    std::optional<std::size_t> refused_at;
    std::vector<std::string> expected_events;
    for (std::size_t i = 0; i < actions.size(); ++i) {
      NetActionResponse response = same.do_action(actions[i]);
      if (!response.ok()) {
        refused_at = i;
        ASSERT_FALSE(r.ok()) << "round " << round;
        EXPECT_EQ(r.error().error.kind, response.error().kind);
        break;
      }
      for (const std::string& e : encoded(response.value().events)) expected_events.push_back(e);
    }
    if (refused_at) {
      ASSERT_FALSE(r.ok()) << "round " << round;
      EXPECT_EQ(r.error().step, *refused_at);
      EXPECT_TRUE(done.empty());
      EXPECT_EQ(describe_net(net), before) << "round " << round;
    } else {
      ASSERT_TRUE(r.ok()) << "round " << round;
      ASSERT_EQ(done.size(), actions.size());
      std::vector<std::string> got;
      for (const NetActionSuccess& s : done) {
        for (const std::string& e : encoded(s.events)) got.push_back(e);
      }
      EXPECT_EQ(got, expected_events) << "round " << round;
      EXPECT_EQ(describe_net(net), describe_net(same)) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace zellik
