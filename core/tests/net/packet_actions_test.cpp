#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/net_fixtures.h"

namespace zellik {
namespace {

using namespace testkit;  // NOLINT: test-local shorthand

using Ids = std::vector<Ulid>;
using Kinds = std::vector<std::string>;
using Kind = NetActionError::Kind;

SalvoCondition take(std::initializer_list<std::pair<std::string_view, PacketCount>> ports,
                    MaxSalvos max = MaxSalvos::Infinite(),
                    SalvoConditionTerm term = SalvoConditionTerm::True()) {
  SalvoCondition c{max, {}, std::move(term)};
  for (const auto& [port, count] : ports) c.ports.emplace(Name(port), count);
  return c;
}

// S sends to T: S.out -> T.in; S.loose has no edge; S.one holds one packet.
Graph salvo_graph() {
  const PacketCount all = PacketCount::All();
  return Graph({NodeBuilder("S")
                    .out("out")
                    .out("loose")
                    .out("one", PortSlotSpec::Finite(1))
                    .out_condition("all", take({{"out", all}}))
                    .out_condition("two", take({{"out", PacketCount::Count(2)}}))
                    .out_condition("once", take({{"out", all}}, MaxSalvos::Finite(1)))
                    .out_condition("never", take({{"out", all}}, MaxSalvos::Finite(0),
                                                 port_term("out", PortState::Kind::Full)))
                    .out_condition("needs", take({{"out", all}}, MaxSalvos::Infinite(),
                                                 port_term("out", PortState::Kind::NonEmpty)))
                    .out_condition("orphan", take({{"loose", all}}))
                    .out_condition("mixed", take({{"out", all}, {"loose", all}}))
                    .out_condition("when_full", take({{"one", all}}, MaxSalvos::Infinite(),
                                                     port_term("one", PortState::Kind::Full))),
                NodeBuilder("T")
                    .in("in")
                    .in("small", PortSlotSpec::Finite(1))
                    .in("zero", PortSlotSpec::Finite(0))},
               {edge("S.out", "T.in")});
}

const PacketLocation kOutside = PacketLocation::OutsideNet();

PacketLocation out_port(const Ulid& epoch, std::string_view port) {
  return PacketLocation::OutputPort(epoch, Name(port));
}

// A packet inside the running epoch, loaded into its output port `port`.
Ulid loaded(NetSim& net, const Ulid& epoch, std::string_view port) {
  const Ulid p = packet_in_epoch(net, epoch);
  ok(net, action::LoadPacketIntoOutputPort{p, Name(port)});
  return p;
}

TEST(CreatePacket, WithoutEpochLandsOutsideTheNet) {
  NetSim net(salvo_graph());
  const NetActionSuccess done = ok(net, action::CreatePacket{});
  const Ulid id = data_as<response::Packet>(done).packet_id;
  ASSERT_EQ(event_kinds(done.events), Kinds{"PacketCreated"});
  EXPECT_EQ(event_as<event::PacketCreated>(done.events, 0).packet_id, id);
  EXPECT_EQ(net.get_packet(id)->location, kOutside);
  EXPECT_EQ(net.get_packets_at_location(kOutside), Ids{id});
}

TEST(CreatePacket, InsideAnEpochNeedsItRunning) {
  NetSim net(salvo_graph());
  const Ulid unknown = Ulid::Generate();
  EXPECT_EQ(refused(net, action::CreatePacket{unknown}, Kind::EpochNotFound).epoch_id, unknown);
  const Ulid startable = new_epoch(net, "S");
  EXPECT_EQ(refused(net, action::CreatePacket{startable}, Kind::EpochNotRunning).epoch_id,
            startable);
  ok(net, action::StartEpoch{startable});
  const Ulid p = packet_in_epoch(net, startable);
  const Ulid q = packet_in_epoch(net, startable);
  EXPECT_EQ(net.get_packets_at_location(PacketLocation::Node(startable)), (Ids{p, q}));
}

TEST(ConsumePacket, RemovesFromAnywhereKeepingTheOthersOrder) {
  NetSim net(salvo_graph());
  const Ulid missing = Ulid::Generate();
  EXPECT_EQ(refused(net, action::ConsumePacket{missing}, Kind::PacketNotFound).packet_id, missing);
  EXPECT_EQ(refused(net, action::DestroyPacket{missing}, Kind::PacketNotFound).packet_id, missing);

  const PacketLocation e = on_edge("S.out", "T.in");
  const Ulid p1 = place_packet(net, e);
  const Ulid p2 = place_packet(net, e);
  const Ulid p3 = place_packet(net, e);
  NetActionSuccess done = ok(net, action::ConsumePacket{p2});
  ASSERT_EQ(event_kinds(done.events), Kinds{"PacketConsumed"});
  EXPECT_EQ(event_as<event::PacketConsumed>(done.events, 0).packet_id, p2);
  EXPECT_EQ(event_as<event::PacketConsumed>(done.events, 0).location, e);
  EXPECT_EQ(net.get_packets_at_location(e), (Ids{p1, p3}));
  EXPECT_FALSE(net.get_packet(p2).has_value());

  // Destroying works the same way, inside a startable epoch too.
  const Ulid epoch = new_epoch(net, "S");
  ok(net, action::TransportPacketToLocation{p1, PacketLocation::Node(epoch)});
  done = ok(net, action::DestroyPacket{p1});
  ASSERT_EQ(event_kinds(done.events), Kinds{"PacketDestroyed"});
  EXPECT_EQ(event_as<event::PacketDestroyed>(done.events, 0).location, PacketLocation::Node(epoch));
  EXPECT_EQ(net.get_packets_at_location(e), Ids{p3});
}

TEST(LoadPacketIntoOutputPort, ChecksInOrder) {
  NetSim net(salvo_graph());
  const Ulid missing = Ulid::Generate();
  refused(net, action::LoadPacketIntoOutputPort{missing, Name("nope")}, Kind::PacketNotFound);
  const Ulid outside = make_packet(net);
  EXPECT_EQ(
      refused(net, action::LoadPacketIntoOutputPort{outside, Name("out")}, Kind::PacketNotInAnyNode)
          .packet_id,
      outside);
  const Ulid epoch = running_epoch(net, "S");
  const Ulid p = packet_in_epoch(net, epoch);
  NetActionError e =
      refused(net, action::LoadPacketIntoOutputPort{p, Name("nope")}, Kind::OutputPortNotFound);
  EXPECT_EQ(e.port_name.str(), "nope");
  EXPECT_EQ(e.epoch_id, epoch);
  loaded(net, epoch, "one");
  e = refused(net, action::LoadPacketIntoOutputPort{p, Name("one")}, Kind::OutputPortFull);
  EXPECT_EQ(e.port_name.str(), "one");
  EXPECT_EQ(e.epoch_id, epoch);
}

TEST(LoadPacketIntoOutputPort, MovesFromItsPlaceInsideToTheBackOfThePort) {
  NetSim net(salvo_graph());
  const Ulid epoch = running_epoch(net, "S");
  const Ulid first = loaded(net, epoch, "out");
  const Ulid p1 = packet_in_epoch(net, epoch);
  const Ulid p2 = packet_in_epoch(net, epoch);
  const NetActionSuccess done = ok(net, action::LoadPacketIntoOutputPort{p2, Name("out")});
  ASSERT_EQ(event_kinds(done.events), Kinds{"PacketMoved"});
  const auto& moved = event_as<event::PacketMoved>(done.events, 0);
  EXPECT_EQ(moved.from_location, PacketLocation::Node(epoch));
  EXPECT_EQ(moved.to_location, out_port(epoch, "out"));
  EXPECT_EQ(moved.from_index, 1u);
  EXPECT_EQ(net.get_packets_at_location(out_port(epoch, "out")), (Ids{first, p2}));
  EXPECT_EQ(net.get_packets_at_location(PacketLocation::Node(epoch)), Ids{p1});
}

TEST(LoadPacketIntoOutputPort, WorksInsideAStartableEpoch) {
  NetSim net(salvo_graph());
  const Ulid epoch = new_epoch(net, "S");
  const Ulid p = place_packet(net, PacketLocation::Node(epoch));
  ok(net, action::LoadPacketIntoOutputPort{p, Name("loose")});
  EXPECT_EQ(net.get_packet(p)->location, out_port(epoch, "loose"));
}

TEST(SendOutputSalvo, ChecksInOrder) {
  NetSim net(salvo_graph());
  const Ulid unknown = Ulid::Generate();
  refused(net, action::SendOutputSalvo{unknown, Name("all")}, Kind::EpochNotFound);
  const Ulid epoch = running_epoch(net, "S");
  NetActionError e =
      refused(net, action::SendOutputSalvo{epoch, Name("nope")}, Kind::SalvoConditionNotFound);
  EXPECT_EQ(e.condition_name.str(), "nope");
  EXPECT_EQ(e.epoch_id, epoch);
  loaded(net, epoch, "out");
  // The limit is checked before the term (which never holds for "never").
  e = refused(net, action::SendOutputSalvo{epoch, Name("never")}, Kind::MaxSalvosExceeded);
  EXPECT_EQ(e.condition_name.str(), "never");
  e = refused(net, action::SendOutputSalvo{epoch, Name("when_full")}, Kind::SalvoConditionNotMet);
  EXPECT_EQ(e.condition_name.str(), "when_full");
  EXPECT_EQ(e.epoch_id, epoch);
  // The term sees the port's capacity: Finite(1) holding one is Full.
  const Ulid p = loaded(net, epoch, "one");
  ok(net, action::SendOutputSalvo{epoch, Name("when_full")});
  EXPECT_EQ(net.get_packet(p)->location, kOutside);
}

TEST(SendOutputSalvo, EmptySalvosCountTowardTheLimit) {
  NetSim net(salvo_graph());
  const Ulid epoch = running_epoch(net, "S");
  ok(net, action::SendOutputSalvo{epoch, Name("all")});  // another condition: does not count
  const NetActionSuccess done = ok(net, action::SendOutputSalvo{epoch, Name("once")});
  ASSERT_EQ(event_kinds(done.events), Kinds{"OutputSalvoTriggered"});
  EXPECT_EQ(event_as<event::OutputSalvoTriggered>(done.events, 0).salvo_condition.str(), "once");
  const Epoch* e = net.get_epoch(epoch);
  ASSERT_EQ(e->out_salvos.size(), 2u);
  EXPECT_EQ(e->out_salvos[1].salvo_condition.str(), "once");
  EXPECT_TRUE(e->out_salvos[1].packets.empty());

  loaded(net, epoch, "out");
  refused(net, action::SendOutputSalvo{epoch, Name("once")}, Kind::MaxSalvosExceeded);
}

TEST(SendOutputSalvo, CountTakesTheOldestAndLeavesTheRest) {
  NetSim net(salvo_graph());
  const PacketLocation e = on_edge("S.out", "T.in");
  const Ulid travelling = place_packet(net, e);
  const Ulid epoch = running_epoch(net, "S");
  const Ulid p1 = loaded(net, epoch, "out");
  const Ulid p2 = loaded(net, epoch, "out");
  const Ulid p3 = loaded(net, epoch, "out");

  const NetActionSuccess done = ok(net, action::SendOutputSalvo{epoch, Name("two")});
  ASSERT_EQ(event_kinds(done.events),
            (Kinds{"PacketMoved", "PacketMoved", "OutputSalvoTriggered"}));
  for (std::size_t i : {0u, 1u}) {
    const auto& moved = event_as<event::PacketMoved>(done.events, i);
    EXPECT_EQ(moved.packet_id, i == 0 ? p1 : p2);
    EXPECT_EQ(moved.from_index, 0u);
    EXPECT_EQ(moved.from_location, out_port(epoch, "out"));
    EXPECT_EQ(moved.to_location, e);
  }
  // The salvo joins the edge behind what was already on it.
  EXPECT_EQ(net.get_packets_at_location(e), (Ids{travelling, p1, p2}));
  EXPECT_EQ(net.get_packets_at_location(out_port(epoch, "out")), Ids{p3});
  const Salvo& salvo = net.get_epoch(epoch)->out_salvos.at(0);
  ASSERT_EQ(salvo.packets.size(), 2u);
  EXPECT_EQ(salvo.packets[0].first.str(), "out");
  EXPECT_EQ(salvo.packets[1].second, p2);

  EXPECT_EQ(refused(net, action::FinishEpoch{epoch}, Kind::UnsentOutputSalvo).port_name.str(),
            "out");
  ok(net, action::SendOutputSalvo{epoch, Name("all")});
  ok(net, action::FinishEpoch{epoch});
}

TEST(SendOutputSalvo, UnconnectedPortOrphansItsPackets) {
  NetSim net(salvo_graph());
  const Ulid epoch = running_epoch(net, "S");
  const Ulid a = loaded(net, epoch, "loose");
  const Ulid b = loaded(net, epoch, "loose");

  const NetActionSuccess done = ok(net, action::SendOutputSalvo{epoch, Name("orphan")});
  ASSERT_EQ(event_kinds(done.events),
            (Kinds{"PacketOrphaned", "PacketOrphaned", "OutputSalvoTriggered"}));
  const auto& orphaned = event_as<event::PacketOrphaned>(done.events, 1);
  EXPECT_EQ(orphaned.packet_id, b);
  EXPECT_EQ(orphaned.epoch_id, epoch);
  EXPECT_EQ(orphaned.node_name.str(), "S");
  EXPECT_EQ(orphaned.port_name.str(), "loose");
  EXPECT_EQ(orphaned.salvo_condition.str(), "orphan");
  EXPECT_EQ(net.get_packets_at_location(kOutside), (Ids{a, b}));

  const Epoch* e = net.get_epoch(epoch);
  ASSERT_EQ(e->orphaned_packets.size(), 2u);
  EXPECT_EQ(e->orphaned_packets[0].packet_id, a);
  EXPECT_EQ(e->orphaned_packets[0].from_port.str(), "loose");
  EXPECT_EQ(e->orphaned_packets[0].salvo_condition.str(), "orphan");
  EXPECT_EQ(e->out_salvos.at(0).packets.size(), 2u);
}

TEST(SendOutputSalvo, MixedPortsEmitOneEventPerPacketInSalvoOrder) {
  NetSim net(salvo_graph());
  const Ulid epoch = running_epoch(net, "S");
  loaded(net, epoch, "out");
  loaded(net, epoch, "loose");
  loaded(net, epoch, "out");
  const NetActionSuccess done = ok(net, action::SendOutputSalvo{epoch, Name("mixed")});
  ASSERT_EQ(done.events.size(), 4u);
  EXPECT_EQ(event_kind(done.events.back()), "OutputSalvoTriggered");
  // Events follow the recorded salvo: ports grouped, oldest first within one.
  const Salvo& salvo = net.get_epoch(epoch)->out_salvos.at(0);
  ASSERT_EQ(salvo.packets.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    const bool orphan = salvo.packets[i].first.str() == "loose";
    EXPECT_EQ(event_kind(done.events[i]), orphan ? "PacketOrphaned" : "PacketMoved");
    const Ulid id = orphan ? event_as<event::PacketOrphaned>(done.events, i).packet_id
                           : event_as<event::PacketMoved>(done.events, i).packet_id;
    EXPECT_EQ(id, salvo.packets[i].second);
  }
  EXPECT_EQ(net.get_epoch(epoch)->orphaned_packets.size(), 1u);
}

TEST(TransportPacketToLocation, GuardsRunningEpochsBothWays) {
  NetSim net(salvo_graph());
  const Ulid running = running_epoch(net, "S");
  const Ulid startable = new_epoch(net, "S");
  const Ulid inside = packet_in_epoch(net, running);
  const Ulid in_port = loaded(net, running, "out");
  const Ulid outside = make_packet(net);

  for (const Ulid& p : {inside, in_port}) {
    const NetActionError e = refused(net, action::TransportPacketToLocation{p, kOutside},
                                     Kind::CannotMovePacketFromRunningEpoch);
    EXPECT_EQ(e.packet_id, p);
    EXPECT_EQ(e.epoch_id, running);
  }
  for (const PacketLocation& into : {PacketLocation::Node(running), out_port(running, "out")}) {
    const NetActionError e = refused(net, action::TransportPacketToLocation{outside, into},
                                     Kind::CannotMovePacketIntoRunningEpoch);
    EXPECT_EQ(e.packet_id, outside);
    EXPECT_EQ(e.epoch_id, running);
  }
  // Startable epochs may take packets and give them back.
  ok(net, action::TransportPacketToLocation{outside, PacketLocation::Node(startable)});
  ok(net, action::TransportPacketToLocation{outside, out_port(startable, "loose")});
  const NetActionSuccess done = ok(net, action::TransportPacketToLocation{outside, kOutside});
  const auto& moved = event_as<event::PacketMoved>(done.events, 0);
  EXPECT_EQ(moved.from_location, out_port(startable, "loose"));
  EXPECT_EQ(moved.to_location, kOutside);
}

TEST(TransportPacketToLocation, DestinationChecksInOrder) {
  NetSim net(salvo_graph());
  const Ulid p = make_packet(net);
  const Ulid unknown = Ulid::Generate();
  refused(net, action::TransportPacketToLocation{unknown, kOutside}, Kind::PacketNotFound);
  EXPECT_EQ(refused(net, action::TransportPacketToLocation{p, PacketLocation::Node(unknown)},
                    Kind::EpochNotFound)
                .epoch_id,
            unknown);
  refused(net, action::TransportPacketToLocation{p, out_port(unknown, "nope")},
          Kind::EpochNotFound);

  EXPECT_EQ(
      refused(net, action::TransportPacketToLocation{p, at_input("Z", "nope")}, Kind::NodeNotFound)
          .node_name.str(),
      "Z");
  NetActionError e = refused(net, action::TransportPacketToLocation{p, at_input("T", "nope")},
                             Kind::InputPortNotFound);
  EXPECT_EQ(e.port_name.str(), "nope");
  EXPECT_EQ(e.node_name.str(), "T");
  e = refused(net, action::TransportPacketToLocation{p, at_input("T", "zero")},
              Kind::InputPortFull);
  EXPECT_EQ(e.port_name.str(), "zero");
  EXPECT_EQ(e.node_name.str(), "T");
  place_packet(net, at_input("T", "small"));
  refused(net, action::TransportPacketToLocation{p, at_input("T", "small")}, Kind::InputPortFull);

  const Ulid startable = new_epoch(net, "S");
  e = refused(net, action::TransportPacketToLocation{p, out_port(startable, "nope")},
              Kind::OutputPortNotFound);
  EXPECT_EQ(e.port_name.str(), "nope");
  EXPECT_EQ(e.epoch_id, startable);

  const Edge reversed = edge("T.in", "S.out");
  e = refused(net, action::TransportPacketToLocation{p, PacketLocation::Edge(reversed)},
              Kind::EdgeNotFound);
  ASSERT_TRUE(e.edge.has_value());
  EXPECT_EQ(*e.edge, reversed);
}

TEST(TransportPacketToLocation, OutputPortsAndEdgesHaveNoCapacityLimit) {
  NetSim net(salvo_graph());
  const Ulid epoch = new_epoch(net, "S");
  const Ulid a = make_packet(net);
  const Ulid b = make_packet(net);
  ok(net, action::TransportPacketToLocation{a, out_port(epoch, "one")});
  const NetActionSuccess done =
      ok(net, action::TransportPacketToLocation{b, out_port(epoch, "one")});
  EXPECT_EQ(event_as<event::PacketMoved>(done.events, 0).from_index, 0u);
  EXPECT_EQ(net.get_packets_at_location(out_port(epoch, "one")), (Ids{a, b}));
  ok(net, action::TransportPacketToLocation{a, on_edge("S.out", "T.in")});
  ok(net, action::TransportPacketToLocation{b, on_edge("S.out", "T.in")});
  EXPECT_EQ(net.packet_count_at(on_edge("S.out", "T.in")), 2u);
}

}  // namespace
}  // namespace zellik
