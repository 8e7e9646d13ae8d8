#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/net_fixtures.h"
#include "support/net_test_access.h"

namespace zellik {
namespace {

using namespace testkit;  // NOLINT: test-local shorthand

using Ids = std::vector<Ulid>;
using Kinds = std::vector<std::string>;
using Kind = NetActionError::Kind;
using Pairs = std::vector<std::pair<Name, Ulid>>;

// A.out -> B.in and B.x -> C.in. B also has input port side and an
// unconnected output port y; its condition "emit" sends everything in x.
Graph epoch_graph() {
  return Graph({node("A", {}, {"out"}),
                NodeBuilder("B").in("in").in("side").out("x").out("y").out_condition(
                    "emit", condition(SalvoConditionTerm::True(), {"x"}, MaxSalvos::Infinite())),
                node("C", {"in"})},
               {edge("A.out", "B.in"), edge("B.x", "C.in")});
}

Ulid waiting_at(NetSim& net, std::string_view node, std::string_view port) {
  return place_packet(net, at_input(node, port));
}

// The output-port names of B in the order the net walks them.
std::vector<Name> output_ports_of_b(const NetSim& net) {
  std::vector<Name> ports;
  for (const auto& [name, port] : net.graph().find_node("B")->out_ports) ports.push_back(name);
  return ports;
}

TEST(CreateEpoch, ChecksNodeThenEachPairInListOrder) {
  NetSim net(epoch_graph());
  const Ulid at_b = waiting_at(net, "B", "in");
  const Ulid at_c = waiting_at(net, "C", "in");
  const Ulid gone = Ulid::Generate();
  auto create = [&](std::string_view node, Pairs pairs, Kind kind) {
    return refused(net, action::CreateEpoch{Name(node), Salvo{Name("s"), std::move(pairs)}}, kind);
  };

  EXPECT_EQ(create("Z", {{Name("nope"), gone}}, Kind::NodeNotFound).node_name.str(), "Z");

  NetActionError e =
      create("B", {{Name("nope"), at_b}, {Name("in"), gone}}, Kind::InputPortNotFound);
  EXPECT_EQ(e.port_name.str(), "nope");
  EXPECT_EQ(e.node_name.str(), "B");

  e = create("B", {{Name("in"), at_b}, {Name("in"), gone}, {Name("nope"), at_b}},
             Kind::PacketNotFound);
  EXPECT_EQ(e.packet_id, gone);

  // The first wrong pair decides, even when a later pair is also wrong.
  e = create("B", {{Name("in"), at_c}, {Name("nope"), at_b}}, Kind::PacketNotAtInputPort);
  EXPECT_EQ(e.packet_id, at_c);
  EXPECT_EQ(e.port_name.str(), "in");
  EXPECT_EQ(e.node_name.str(), "B");
  // Right node, wrong port.
  e = create("B", {{Name("side"), at_b}}, Kind::PacketNotAtInputPort);
  EXPECT_EQ(e.port_name.str(), "side");
}

TEST(CreateEpoch, SamePacketTwiceIsRefusedBeforeAnyChange) {
  NetSim net(epoch_graph());
  const Ulid p = waiting_at(net, "B", "in");
  const Ulid q = waiting_at(net, "B", "in");
  NetActionError e =
      refused(net,
              action::CreateEpoch{
                  Name("B"), Salvo{Name("s"), {{Name("in"), p}, {Name("in"), q}, {Name("in"), p}}}},
              Kind::PacketNotAtInputPort);
  EXPECT_EQ(e.packet_id, p);
  EXPECT_EQ(e.port_name.str(), "in");
  EXPECT_EQ(e.node_name.str(), "B");
  // The repeat is one of that pair's checks: an earlier faulty pair wins.
  e = refused(
      net,
      action::CreateEpoch{Name("B"),
                          Salvo{Name("s"), {{Name("in"), p}, {Name("bad"), q}, {Name("in"), p}}}},
      Kind::InputPortNotFound);
  EXPECT_EQ(e.port_name.str(), "bad");
  EXPECT_EQ(net.get_packets_at_location(at_input("B", "in")), (Ids{p, q}));
  EXPECT_TRUE(net.epochs().empty());
}

TEST(CreateEpoch, EmptySalvoMakesAStartableEpochWithEmptyLocations) {
  NetSim net(epoch_graph());
  const NetActionSuccess done =
      ok(net, action::CreateEpoch{Name("B"), Salvo{Name("not-a-condition"), {}}});
  ASSERT_EQ(event_kinds(done.events), Kinds{"EpochCreated"});
  const Epoch created = data_as<response::CreatedEpoch>(done).epoch;
  EXPECT_EQ(event_as<event::EpochCreated>(done.events, 0).epoch_id, created.id);
  EXPECT_EQ(created.state, EpochState::Startable);
  EXPECT_EQ(created.node_name.str(), "B");
  EXPECT_EQ(created.in_salvo.salvo_condition.str(), "not-a-condition");
  EXPECT_TRUE(created.out_salvos.empty());
  EXPECT_TRUE(created.orphaned_packets.empty());

  EXPECT_EQ(net.get_startable_epochs(), Ids{created.id});
  EXPECT_EQ(epochs_of(net, "B"), Ids{created.id});
  EXPECT_TRUE(tables_of(net).locations().contains(PacketLocation::Node(created.id)));
  for (const Name& port : output_ports_of_b(net)) {
    EXPECT_TRUE(tables_of(net).locations().contains(PacketLocation::OutputPort(created.id, port)));
  }
}

TEST(CreateEpoch, MovesPacketsInListOrderReportingTheirPositions) {
  NetSim net(epoch_graph());
  const Ulid p1 = waiting_at(net, "B", "in");
  const Ulid p2 = waiting_at(net, "B", "in");
  const Ulid p3 = waiting_at(net, "B", "in");
  const Ulid s = waiting_at(net, "B", "side");

  // Oldest first: each leaves from the head.
  NetActionSuccess done = ok(
      net, action::CreateEpoch{Name("B"), Salvo{Name("c"), {{Name("in"), p1}, {Name("in"), p2}}}});
  const Ulid first = data_as<response::CreatedEpoch>(done).epoch.id;
  ASSERT_EQ(event_kinds(done.events), (Kinds{"EpochCreated", "PacketMoved", "PacketMoved"}));
  for (std::size_t i : {1u, 2u}) {
    const auto& moved = event_as<event::PacketMoved>(done.events, i);
    EXPECT_EQ(moved.from_index, 0u);
    EXPECT_EQ(moved.from_location, at_input("B", "in"));
    EXPECT_EQ(moved.to_location, PacketLocation::Node(first));
  }
  EXPECT_EQ(event_as<event::PacketMoved>(done.events, 1).packet_id, p1);
  EXPECT_EQ(net.get_packets_at_location(PacketLocation::Node(first)), (Ids{p1, p2}));

  // Newest first: the position is taken just before each move.
  const Ulid p4 = waiting_at(net, "B", "in");
  done = ok(net, action::CreateEpoch{
                     Name("B"),
                     Salvo{Name("c"), {{Name("in"), p4}, {Name("side"), s}, {Name("in"), p3}}}});
  const Epoch second = data_as<response::CreatedEpoch>(done).epoch;
  EXPECT_EQ(event_as<event::PacketMoved>(done.events, 1).from_index, 1u);
  EXPECT_EQ(event_as<event::PacketMoved>(done.events, 2).from_location, at_input("B", "side"));
  EXPECT_EQ(event_as<event::PacketMoved>(done.events, 3).from_index, 0u);
  EXPECT_EQ(net.get_packets_at_location(PacketLocation::Node(second.id)), (Ids{p4, s, p3}));
  ASSERT_EQ(second.in_salvo.packets.size(), 3u);
  EXPECT_EQ(second.in_salvo.packets[1].second, s);
  EXPECT_EQ(epochs_of(net, "B"), (Ids{first, second.id}));
}

TEST(StartEpoch, StartsOnceThenRefuses) {
  NetSim net(epoch_graph());
  refused(net, action::StartEpoch{Ulid::Generate()}, Kind::EpochNotFound);
  const Ulid id = new_epoch(net, "B");
  const NetActionSuccess done = ok(net, action::StartEpoch{id});
  EXPECT_EQ(data_as<response::StartedEpoch>(done).epoch.state, EpochState::Running);
  ASSERT_EQ(event_kinds(done.events), Kinds{"EpochStarted"});
  EXPECT_EQ(event_as<event::EpochStarted>(done.events, 0).epoch_id, id);
  EXPECT_TRUE(net.get_startable_epochs().empty());
  EXPECT_EQ(net.get_epoch(id)->state, EpochState::Running);
  EXPECT_EQ(refused(net, action::StartEpoch{id}, Kind::EpochNotStartable).epoch_id, id);
}

TEST(FinishEpoch, ChecksInOrder) {
  NetSim net(epoch_graph());
  refused(net, action::FinishEpoch{Ulid::Generate()}, Kind::EpochNotFound);
  const Ulid startable = new_epoch(net, "B");
  refused(net, action::FinishEpoch{startable}, Kind::EpochNotRunning);

  const Ulid id = running_epoch(net, "B");
  const Ulid loaded = packet_in_epoch(net, id);
  const Ulid inside = packet_in_epoch(net, id);
  ok(net, action::LoadPacketIntoOutputPort{loaded, Name("y")});
  // A packet inside outranks an unsent output port.
  EXPECT_EQ(refused(net, action::FinishEpoch{id}, Kind::CannotFinishNonEmptyEpoch).epoch_id, id);
  ok(net, action::ConsumePacket{inside});
  const NetActionError unsent = refused(net, action::FinishEpoch{id}, Kind::UnsentOutputSalvo);
  EXPECT_EQ(unsent.epoch_id, id);
  EXPECT_EQ(unsent.port_name.str(), "y");
}

TEST(FinishEpoch, EventCarriesRunningCopyResponseFinished) {
  NetSim net(epoch_graph());
  const Ulid id = running_epoch(net, "B");
  const Ulid sent = packet_in_epoch(net, id);
  ok(net, action::LoadPacketIntoOutputPort{sent, Name("x")});
  ok(net, action::SendOutputSalvo{id, Name("emit")});

  const NetActionSuccess done = ok(net, action::FinishEpoch{id});
  ASSERT_EQ(event_kinds(done.events), Kinds{"EpochFinished"});
  const Epoch& before = *event_as<event::EpochFinished>(done.events, 0).epoch;
  const Epoch after = data_as<response::FinishedEpoch>(done).epoch;
  EXPECT_EQ(before.state, EpochState::Running);
  EXPECT_EQ(after.state, EpochState::Finished);
  EXPECT_EQ(after.id, id);
  ASSERT_EQ(after.out_salvos.size(), 1u);
  EXPECT_EQ(after.out_salvos[0].packets.at(0).second, sent);
  EXPECT_EQ(before.out_salvos.size(), 1u);

  EXPECT_EQ(net.get_epoch(id), nullptr);
  EXPECT_FALSE(tables_of(net).locations().contains(PacketLocation::Node(id)));
  EXPECT_TRUE(epochs_of(net, "B").empty());
  EXPECT_EQ(net.get_packet(sent)->location, on_edge("B.x", "C.in"));
  refused(net, action::FinishEpoch{id}, Kind::EpochNotFound);
}

TEST(CancelEpoch, StartableEpochLosesItsPacketsAndLeavesTheStartableSet) {
  NetSim net(epoch_graph());
  const Ulid p1 = waiting_at(net, "B", "in");
  const Ulid p2 = waiting_at(net, "B", "in");
  const Ulid other = new_epoch(net, "B");
  const Ulid id = new_epoch(net, "B", {{Name("in"), p1}, {Name("in"), p2}});

  const NetActionSuccess done = ok(net, action::CancelEpoch{id});
  const response::CancelledEpoch cancelled = data_as<response::CancelledEpoch>(done);
  EXPECT_EQ(cancelled.destroyed_packets, (Ids{p1, p2}));
  EXPECT_EQ(cancelled.epoch.state, EpochState::Startable);
  ASSERT_EQ(event_kinds(done.events),
            (Kinds{"PacketDestroyed", "PacketDestroyed", "EpochCancelled"}));
  EXPECT_EQ(event_as<event::PacketDestroyed>(done.events, 0).packet_id, p1);
  EXPECT_EQ(event_as<event::PacketDestroyed>(done.events, 1).location, PacketLocation::Node(id));
  EXPECT_EQ(event_as<event::EpochCancelled>(done.events, 2).epoch->id, id);

  EXPECT_EQ(net.get_startable_epochs(), Ids{other});
  EXPECT_EQ(epochs_of(net, "B"), Ids{other});
  EXPECT_FALSE(net.get_packet(p1).has_value());
  EXPECT_EQ(refused(net, action::CancelEpoch{id}, Kind::EpochNotFound).epoch_id, id);
}

TEST(CancelEpoch, DestroysInsidePacketsFirstThenEachOutputPortOldestFirst) {
  NetSim net(epoch_graph());
  const Ulid id = running_epoch(net, "B");
  const Ulid sent = packet_in_epoch(net, id);
  ok(net, action::LoadPacketIntoOutputPort{sent, Name("x")});
  ok(net, action::SendOutputSalvo{id, Name("emit")});

  const Ulid x1 = packet_in_epoch(net, id);
  const Ulid inside1 = packet_in_epoch(net, id);
  const Ulid y1 = packet_in_epoch(net, id);
  const Ulid x2 = packet_in_epoch(net, id);
  const Ulid inside2 = packet_in_epoch(net, id);
  for (const auto& [p, port] : {std::pair{x1, "x"}, std::pair{y1, "y"}, std::pair{x2, "x"}}) {
    ok(net, action::LoadPacketIntoOutputPort{p, Name(port)});
  }

  Ids expected{inside1, inside2};
  std::vector<PacketLocation> where{PacketLocation::Node(id), PacketLocation::Node(id)};
  for (const Name& port : output_ports_of_b(net)) {
    const Ids in_port = port.str() == "x" ? Ids{x1, x2} : Ids{y1};
    for (const Ulid& p : in_port) {
      expected.push_back(p);
      where.push_back(PacketLocation::OutputPort(id, port));
    }
  }

  const NetActionSuccess done = ok(net, action::CancelEpoch{id});
  const response::CancelledEpoch cancelled = data_as<response::CancelledEpoch>(done);
  EXPECT_EQ(cancelled.destroyed_packets, expected);
  ASSERT_EQ(done.events.size(), expected.size() + 1);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const auto& destroyed = event_as<event::PacketDestroyed>(done.events, i);
    EXPECT_EQ(destroyed.packet_id, expected[i]);
    EXPECT_EQ(destroyed.location, where[i]);
  }
  const Epoch& before = *event_as<event::EpochCancelled>(done.events, expected.size()).epoch;
  EXPECT_EQ(before.state, EpochState::Running);
  EXPECT_EQ(cancelled.epoch.state, EpochState::Running);
  // What the epoch already sent stays, in the net and in its record.
  EXPECT_EQ(cancelled.epoch.out_salvos.size(), 1u);
  EXPECT_EQ(net.get_packets_at_location(on_edge("B.x", "C.in")), Ids{sent});
  EXPECT_EQ(net.packets().size(), 1u);
}

}  // namespace
}  // namespace zellik
