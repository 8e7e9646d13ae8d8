#include <gtest/gtest.h>

#include <vector>

#include "support/step_fixtures.h"

namespace zellik {
namespace {

using namespace testkit;  // NOLINT: test-local shorthand

using Ids = std::vector<Ulid>;
using Kinds = std::vector<std::string>;

// A.out -> B.in with the given capacity at B.in; B has no conditions, so
// packets that reach it stay there.
Graph pair_graph(PortSlotSpec capacity = PortSlotSpec::Infinite()) {
  return Graph({node("A", {}, {"out"}), NodeBuilder("B").in("in", capacity)},
               {edge("A.out", "B.in")});
}

TEST(RunStep, EmptyNetIsBlockedAndStepsChangeNothing) {
  NetSim net(pair_graph());
  EXPECT_TRUE(net.is_blocked());
  const StepOutcome s = step(net);
  EXPECT_FALSE(s.made_progress);
  EXPECT_TRUE(s.events.empty());
  EXPECT_TRUE(net.run_until_blocked().empty());
}

TEST(RunStep, OnePacketLeavesEachEdgePerStep) {
  NetSim net(Graph({node("A", {}, {"out"}), node("C", {}, {"out"}), node("B", {"in", "other"})},
                   {edge("A.out", "B.in"), edge("C.out", "B.other")}));
  const PacketLocation ab = on_edge("A.out", "B.in");
  const Ulid p1 = place_packet(net, ab);
  const Ulid p2 = place_packet(net, ab);
  const Ulid p3 = place_packet(net, ab);
  const Ulid q = place_packet(net, on_edge("C.out", "B.other"));

  const StepOutcome s = step(net);
  EXPECT_TRUE(s.made_progress);
  ASSERT_EQ(event_kinds(s.events), (Kinds{"PacketMoved", "PacketMoved"}));
  EXPECT_EQ(net.get_packets_at_location(ab), (Ids{p2, p3}));
  EXPECT_EQ(net.get_packets_at_location(at_input("B", "in")), Ids{p1});
  EXPECT_EQ(net.get_packets_at_location(at_input("B", "other")), Ids{q});
  for (const NetEvent& e : s.events) {
    const auto& moved = std::get<event::PacketMoved>(e);
    EXPECT_EQ(moved.from_index, 0u);
    EXPECT_TRUE(moved.from_location.is(PacketLocation::Kind::Edge));
    EXPECT_TRUE(moved.to_location.is(PacketLocation::Kind::InputPort));
  }

  step(net);
  step(net);
  EXPECT_EQ(net.get_packets_at_location(at_input("B", "in")), (Ids{p1, p2, p3}));
  EXPECT_TRUE(net.is_blocked());
}

TEST(RunStep, FullTargetPortKeepsThePacketOnTheEdge) {
  NetSim net(pair_graph(PortSlotSpec::Finite(1)));
  place_packet(net, at_input("B", "in"));
  const Ulid waiting = place_packet(net, on_edge("A.out", "B.in"));
  EXPECT_TRUE(net.is_blocked());
  const StepOutcome s = step(net);
  EXPECT_FALSE(s.made_progress);
  EXPECT_TRUE(s.events.empty());
  EXPECT_EQ(net.get_packets_at_location(on_edge("A.out", "B.in")), Ids{waiting});
}

TEST(RunStep, FanInDecidesRoomOnStartOfStepCounts) {
  NetSim net(Graph({node("A1", {}, {"out"}), node("A2", {}, {"out"}),
                    NodeBuilder("C").in("in", PortSlotSpec::Finite(1))},
                   {edge("A1.out", "C.in"), edge("A2.out", "C.in")}));
  place_packet(net, on_edge("A1.out", "C.in"));
  place_packet(net, on_edge("A2.out", "C.in"));
  const StepOutcome s = step(net);
  EXPECT_EQ(event_kinds(s.events), (Kinds{"PacketMoved", "PacketMoved"}));
  EXPECT_EQ(net.packet_count_at(at_input("C", "in")), 2u);
}

TEST(RunStep, PacketArrivesAndFiresInTheSameStep) {
  NetSim net(Graph(
      {node("A", {}, {"out"}), NodeBuilder("B").in("in").in_condition("go", when_non_empty("in"))},
      {edge("A.out", "B.in")}));
  const Ulid p = place_packet(net, on_edge("A.out", "B.in"));

  const StepOutcome s = step(net);
  EXPECT_TRUE(s.made_progress);
  ASSERT_EQ(event_kinds(s.events),
            (Kinds{"PacketMoved", "InputSalvoTriggered", "EpochCreated", "PacketMoved"}));
  const auto& triggered = event_as<event::InputSalvoTriggered>(s.events, 1);
  EXPECT_EQ(triggered.salvo_condition, "go");
  EXPECT_EQ(event_as<event::EpochCreated>(s.events, 2).epoch_id, triggered.epoch_id);
  const auto& into = event_as<event::PacketMoved>(s.events, 3);
  EXPECT_EQ(into.from_location, at_input("B", "in"));
  EXPECT_EQ(into.to_location, PacketLocation::Node(triggered.epoch_id));
  EXPECT_EQ(into.from_index, 0u);

  const Epoch* epoch = net.get_epoch(triggered.epoch_id);
  ASSERT_NE(epoch, nullptr);
  EXPECT_EQ(epoch->state, EpochState::Startable);
  EXPECT_EQ(epoch->node_name, "B");
  EXPECT_EQ(epoch->in_salvo.salvo_condition, "go");
  ASSERT_EQ(epoch->in_salvo.packets.size(), 1u);
  EXPECT_EQ(epoch->in_salvo.packets[0].first, "in");
  EXPECT_EQ(epoch->in_salvo.packets[0].second, p);
  EXPECT_EQ(net.get_packets_at_location(PacketLocation::Node(epoch->id)), Ids{p});
  EXPECT_EQ(net.get_startable_epochs(), Ids{epoch->id});
  EXPECT_TRUE(net.is_blocked());
}

TEST(RunStep, OnlyTheFirstHoldingConditionFiresAndCountTakesTheOldest) {
  // "three" holds only while the port holds exactly three packets; "any"
  // holds whenever it holds one. Both hold at first.
  SalvoCondition three = condition(port_term("in", {PortState::Kind::Equals, 3}));
  three.ports.emplace(Name("in"), PacketCount::Count(2));
  NetSim net(Graph({NodeBuilder("B")
                        .in("in")
                        .in_condition("three", three)
                        .in_condition("any", when_non_empty("in"))},
                   {}));
  const Ulid p1 = place_packet(net, at_input("B", "in"));
  const Ulid p2 = place_packet(net, at_input("B", "in"));
  const Ulid p3 = place_packet(net, at_input("B", "in"));

  const StepOutcome first = step(net);
  ASSERT_EQ(event_kinds(first.events),
            (Kinds{"InputSalvoTriggered", "EpochCreated", "PacketMoved", "PacketMoved"}));
  EXPECT_EQ(event_as<event::InputSalvoTriggered>(first.events, 0).salvo_condition, "three");
  EXPECT_EQ(event_as<event::PacketMoved>(first.events, 2).packet_id, p1);
  EXPECT_EQ(event_as<event::PacketMoved>(first.events, 2).from_index, 0u);
  EXPECT_EQ(event_as<event::PacketMoved>(first.events, 3).packet_id, p2);
  EXPECT_EQ(event_as<event::PacketMoved>(first.events, 3).from_index, 0u);
  EXPECT_EQ(net.get_packets_at_location(at_input("B", "in")), Ids{p3});

  const StepOutcome second = step(net);
  ASSERT_EQ(event_kinds(second.events),
            (Kinds{"InputSalvoTriggered", "EpochCreated", "PacketMoved"}));
  EXPECT_EQ(event_as<event::InputSalvoTriggered>(second.events, 0).salvo_condition, "any");
  EXPECT_EQ(epochs_of(net, "B").size(), 2u);
  EXPECT_TRUE(net.is_blocked());
}

TEST(RunStep, HoldingConditionOverEmptyPortsMakesEmptyEpochsEveryStep) {
  // The condition takes from port x while a packet waits at y; x is empty.
  NetSim net(Graph({NodeBuilder("B").in("x").in("y").in_condition(
                       "idle", condition(port_term("x", PortState::Kind::Empty), {"x"}))},
                   {}));
  const Ulid waiting = place_packet(net, at_input("B", "y"));
  EXPECT_FALSE(net.is_blocked());

  for (int i = 0; i < 2; ++i) {
    const StepOutcome s = step(net);
    EXPECT_TRUE(s.made_progress);
    ASSERT_EQ(event_kinds(s.events), (Kinds{"InputSalvoTriggered", "EpochCreated"}));
    const Epoch* epoch = net.get_epoch(event_as<event::EpochCreated>(s.events, 1).epoch_id);
    ASSERT_NE(epoch, nullptr);
    EXPECT_TRUE(epoch->in_salvo.packets.empty());
  }
  EXPECT_EQ(epochs_of(net, "B").size(), 2u);
  EXPECT_EQ(net.get_packets_at_location(at_input("B", "y")), Ids{waiting});
}

TEST(RunStep, NodeFiresAgainWhileItsConditionHolds) {
  SalvoCondition one_at_a_time = condition(port_term("in", PortState::Kind::NonEmpty));
  one_at_a_time.ports.emplace(Name("in"), PacketCount::Count(1));
  NetSim net(Graph({NodeBuilder("B").in("in").in_condition("one", one_at_a_time)}, {}));
  place_packet(net, at_input("B", "in"));
  place_packet(net, at_input("B", "in"));

  const EventList all = net.run_until_blocked();
  EXPECT_EQ(event_kinds(all), (Kinds{"InputSalvoTriggered", "EpochCreated", "PacketMoved",
                                     "InputSalvoTriggered", "EpochCreated", "PacketMoved"}));
  EXPECT_EQ(net.get_startable_epochs().size(), 2u);
  EXPECT_EQ(net.packet_count_at(at_input("B", "in")), 0u);
}

// B holds a packet no condition accepts; B asks A for work when that happens.
Graph no_salvo_graph() {
  SalvoCondition pair = condition(port_term("in", {PortState::Kind::Equals, 2}), {"in"});
  return with_dependency_edges(
      Graph({node("A", {}, {"out"}),
             NodeBuilder("B")
                 .in("in")
                 .in_condition("pair", pair)
                 .requests({DependencyRequestTrigger::OnNoSalvoTriggered}, "more")},
            {edge("A.out", "B.in")}),
      {edge("A.out", "B.in")});
}

TEST(RunStep, NoSalvoRequestsDoNotUnblockButAStepMakesAndResolvesThem) {
  NetSim net(no_salvo_graph());
  place_packet(net, at_input("B", "in"));

  EXPECT_TRUE(net.is_blocked());
  EXPECT_TRUE(net.run_until_blocked().empty());
  EXPECT_TRUE(net.epochs().empty());

  const StepOutcome s = step(net);
  EXPECT_TRUE(s.made_progress);
  ASSERT_EQ(event_kinds(s.events), (Kinds{"RequestCreated", "RequestCascadeResolved",
                                          "EpochCreated", "RequestEpochCreated"}));
  const auto& created = event_as<event::RequestCreated>(s.events, 0);
  EXPECT_EQ(created.node_name, "B");
  EXPECT_EQ(created.label, "more");
  EXPECT_EQ(created.request_source, RequestCreatedSource::OnNoSalvoTriggered);
  EXPECT_EQ(net.request_tokens().at(Name("B")), false);
  EXPECT_EQ(epochs_of(net, "A").size(), 1u);
  EXPECT_TRUE(net.pending_requests().empty());

  // The token is spent: the next step asks nothing more.
  const StepOutcome again = step(net);
  EXPECT_FALSE(again.made_progress);
  EXPECT_TRUE(again.events.empty());
}

TEST(RunStep, IsBlockedSeesPendingAndStartupRequests) {
  NetSim pending(no_salvo_graph());
  act(pending, action::CreateRequest{Name("B"), Name("ext")});
  EXPECT_FALSE(pending.is_blocked());
  step(pending);
  EXPECT_TRUE(pending.is_blocked());

  NetSim startup(with_dependency_edges(
      Graph({node("A", {}, {"out"}),
             NodeBuilder("B").in("in").requests({DependencyRequestTrigger::OnStartup}, "boot")},
            {edge("A.out", "B.in")}),
      {edge("A.out", "B.in")}));
  EXPECT_FALSE(startup.is_blocked());
  const EventList all = startup.run_until_blocked();
  EXPECT_EQ(event_kinds(all), (Kinds{"RequestCreated", "RequestCascadeResolved", "EpochCreated",
                                     "RequestEpochCreated"}));
  EXPECT_TRUE(startup.startup_requests_sent());
  EXPECT_TRUE(startup.is_blocked());
}

}  // namespace
}  // namespace zellik
