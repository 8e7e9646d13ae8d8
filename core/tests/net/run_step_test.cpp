#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/net_test_access.h"
#include "support/step_fixtures.h"
#include "zellik/net/record_codec.h"

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
  EXPECT_EQ(tables_of(net).requests().tokens.at(Name("B")), false);
  EXPECT_EQ(epochs_of(net, "A").size(), 1u);
  EXPECT_TRUE(tables_of(net).requests().pending.empty());

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
  EXPECT_TRUE(tables_of(startup).requests().startup_requests_sent);
  EXPECT_TRUE(startup.is_blocked());
}

// A.out -> B.in; B takes packets one at a time, so while packets wait on the
// edge every step moves one, fires B and moves the packet into the new epoch.
Graph one_at_a_time_graph() {
  SalvoCondition one_at_a_time = condition(port_term("in", PortState::Kind::NonEmpty));
  one_at_a_time.ports.emplace(Name("in"), PacketCount::Count(1));
  return Graph(
      {node("A", {}, {"out"}), NodeBuilder("B").in("in").in_condition("one", one_at_a_time)},
      {edge("A.out", "B.in")});
}

void fill_edge(NetSim& net, int packets) {
  for (int i = 0; i < packets; ++i) place_packet(net, on_edge("A.out", "B.in"));
}

// Each event's whole value, as bytes.
std::vector<std::string> records(const EventList& events) {
  std::vector<std::string> out;
  for (const NetEvent& e : events) out.push_back(encode_record(e));
  return out;
}

using Clock = std::chrono::steady_clock;

TEST(RunStepsInto, StepBudgetsSplitARunWithoutChangingItsEvents) {
  NetSim whole(one_at_a_time_graph(), IdSource::Seeded(7));
  NetSim split(one_at_a_time_graph(), IdSource::Seeded(7));
  fill_edge(whole, 5);
  fill_edge(split, 5);
  // The buffer keeps what it held: steps append after it.
  EventList got = act(split, action::CreatePacket{});
  EventList reference = act(whole, action::CreatePacket{});
  const EventList expected = whole.run_until_blocked();
  ASSERT_EQ(expected.size(), 20u);
  reference.insert(reference.end(), expected.begin(), expected.end());
  const Clock::time_point later = Clock::now() + std::chrono::hours(1);
  std::vector<std::size_t> sizes;
  while (!split.run_steps_into(got, 2, later)) sizes.push_back(got.size());
  // Two steps of four events per call; the third call takes the last step
  // and then finds the net blocked.
  EXPECT_EQ(sizes, (std::vector<std::size_t>{9, 17}));
  EXPECT_EQ(records(got), records(reference));
  EXPECT_TRUE(split.is_blocked());
}

TEST(RunStepsInto, AnEventBudgetEndsTheCallAfterTheStepThatReachesIt) {
  NetSim whole(one_at_a_time_graph(), IdSource::Seeded(7));
  NetSim split(one_at_a_time_graph(), IdSource::Seeded(7));
  fill_edge(whole, 5);
  fill_edge(split, 5);
  const EventList expected = whole.run_until_blocked();
  const Clock::time_point later = Clock::now() + std::chrono::hours(1);
  EventList got;
  std::vector<std::size_t> sizes;
  // A budget of 6 counts the events already in the buffer: a step of four
  // events never crosses it alone, so each call takes two steps (the first
  // call) or one (every later call, with the buffer kept); the last call
  // finds the net blocked.
  while (!split.run_steps_into(got, 100, later, 6)) sizes.push_back(got.size());
  EXPECT_EQ(sizes, (std::vector<std::size_t>{8, 12, 16, 20}));
  EXPECT_EQ(records(got), records(expected));
}

TEST(RunStepsInto, APassedDeadlineStillTakesOneStepAndABlockedNetNone) {
  NetSim net(one_at_a_time_graph());
  fill_edge(net, 2);
  EventList events;
  EXPECT_FALSE(net.run_steps_into(events, 100, Clock::now() - std::chrono::seconds(1)));
  EXPECT_EQ(event_kinds(events),
            (Kinds{"PacketMoved", "InputSalvoTriggered", "EpochCreated", "PacketMoved"}));
  EXPECT_FALSE(net.run_steps_into(events, 100, Clock::time_point::min()));
  EXPECT_EQ(events.size(), 8u);

  EXPECT_TRUE(net.run_steps_into(events, 100, Clock::time_point::min()));
  EXPECT_EQ(events.size(), 8u);
  EXPECT_TRUE(net.is_blocked());
  EXPECT_FALSE(net.run_steps_into(events, 0, Clock::time_point::max()));
  EXPECT_EQ(events.size(), 8u);
}

}  // namespace
}  // namespace zellik
