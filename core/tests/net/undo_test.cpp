#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/net_fixtures.h"
#include "support/net_invariants.h"
#include "support/net_test_access.h"
#include "support/step_fixtures.h"

namespace zellik {
namespace {

using namespace testkit;  // NOLINT: test-local shorthand

using Ids = std::vector<Ulid>;
using Kinds = std::vector<std::string>;

// A sends through "out" to B.in, and through the unconnected "loose" out of
// the net. B has no input condition: whatever reaches it waits, and B then
// asks A for work (label "more").
Graph undo_graph() {
  const SalvoCondition send = condition(SalvoConditionTerm::True(), {"out"}, MaxSalvos::Infinite());
  const SalvoCondition drop =
      condition(SalvoConditionTerm::True(), {"loose"}, MaxSalvos::Infinite());
  return with_dependency_edges(Graph({NodeBuilder("A")
                                          .out("out")
                                          .out("loose")
                                          .out_condition("send", send)
                                          .out_condition("drop", drop),
                                      NodeBuilder("B").in("in").requests(
                                          {DependencyRequestTrigger::OnNoSalvoTriggered}, "more")},
                                     {edge("A.out", "B.in")}),
                               {edge("A.out", "B.in")});
}

const PacketLocation kEdge = on_edge("A.out", "B.in");

void expect_undo_error(const Result<Unit, UndoError>& r, UndoError::Kind kind,
                       const std::string& text) {
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, kind);
  EXPECT_EQ(r.error().text, text);
}

TEST(Undo, EmptyEventListChangesNothing) {
  NetSim net(undo_graph());
  const Ulid p = place_packet(net, kEdge);
  EXPECT_TRUE(net.undo_action(action::RunStep{}, {}).ok());
  EXPECT_EQ(net.get_packets_at_location(kEdge), Ids{p});
}

TEST(Undo, CreatedPacketDisappearsAndCannotDisappearTwice) {
  NetSim net(undo_graph());
  const NetAction create = action::CreatePacket{};
  const EventList events = act(net, create);
  const Ulid p = event_as<event::PacketCreated>(events, 0).packet_id;
  ASSERT_TRUE(net.undo_action(create, events).ok());
  EXPECT_FALSE(net.get_packet(p).has_value());
  EXPECT_TRUE(net.get_packets_at_location(PacketLocation::OutsideNet()).empty());
  ExpectNetInvariants(net);

  expect_undo_error(net.undo_action(create, events), UndoError::Kind::NotFound,
                    "packet " + p.to_string() + " not found");
}

TEST(Undo, ConsumedOrDestroyedPacketReturnsAtTheEndOfItsLocation) {
  NetSim net(undo_graph());
  const Ulid p1 = place_packet(net, kEdge);
  const Ulid p2 = place_packet(net, kEdge);
  const Ulid p3 = place_packet(net, kEdge);

  const NetAction consume = action::ConsumePacket{p1};
  const EventList consumed = act(net, consume);
  ASSERT_TRUE(net.undo_action(consume, consumed).ok());
  EXPECT_EQ(net.get_packets_at_location(kEdge), (Ids{p2, p3, p1}));
  expect_undo_error(net.undo_action(consume, consumed), UndoError::Kind::StateMismatch,
                    "packet " + p1.to_string() + " already exists");

  const NetAction destroy = action::DestroyPacket{p2};
  const EventList destroyed = act(net, destroy);
  ASSERT_TRUE(net.undo_action(destroy, destroyed).ok());
  EXPECT_EQ(net.get_packets_at_location(kEdge), (Ids{p3, p1, p2}));
  EXPECT_EQ(net.get_packet(p2)->location, kEdge);
}

TEST(Undo, StepReturnsEdgePacketToTheHeadAndTakesBackItsRequest) {
  NetSim net(undo_graph());
  const Ulid p1 = place_packet(net, kEdge);
  const Ulid p2 = place_packet(net, kEdge);
  const NetAction run = action::RunStep{};
  const EventList events = act(net, run);
  ASSERT_EQ(event_kinds(events), (Kinds{"PacketMoved", "RequestCreated", "RequestCascadeResolved",
                                        "EpochCreated", "RequestEpochCreated"}));
  EXPECT_EQ(tables_of(net).requests().tokens.at(Name("B")), false);

  ASSERT_TRUE(net.undo_action(run, events).ok());
  EXPECT_EQ(net.get_packets_at_location(kEdge), (Ids{p1, p2}));
  EXPECT_TRUE(net.get_packets_at_location(at_input("B", "in")).empty());
  EXPECT_EQ(tables_of(net).requests().tokens.at(Name("B")), true);
  EXPECT_TRUE(net.epochs().empty());
  ExpectNetInvariants(net);
  EXPECT_TRUE(tables_of(net).startable_epochs().empty());
  EXPECT_FALSE(tables_of(net).node_epochs().contains(Name("A")));
  const Ulid request_epoch = event_as<event::EpochCreated>(events, 3).epoch_id;
  EXPECT_FALSE(tables_of(net).locations().contains(PacketLocation::Node(request_epoch)));
  EXPECT_FALSE(
      tables_of(net).locations().contains(PacketLocation::OutputPort(request_epoch, Name("out"))));
}

TEST(Undo, FiringStepPutsSalvoPacketsBackInOrder) {
  NetSim net(Graph({NodeBuilder("B").in("in").in_condition("go", when_non_empty("in"))}, {}));
  const Ulid p1 = place_packet(net, at_input("B", "in"));
  const Ulid p2 = place_packet(net, at_input("B", "in"));
  const NetAction run = action::RunStep{};
  const EventList events = act(net, run);
  ASSERT_TRUE(net.undo_action(run, events).ok());
  EXPECT_EQ(net.get_packets_at_location(at_input("B", "in")), (Ids{p1, p2}));
  EXPECT_TRUE(net.epochs().empty());
}

TEST(Undo, CreatedEpochIsRemovedWithItsLocations) {
  NetSim net(undo_graph());
  const NetAction create = action::CreateEpoch{Name("A"), Salvo{Name("hand"), {}}};
  const EventList events = act(net, create);
  const Ulid id = event_as<event::EpochCreated>(events, 0).epoch_id;
  ASSERT_TRUE(net.undo_action(create, events).ok());
  EXPECT_EQ(net.get_epoch(id), nullptr);
  EXPECT_TRUE(tables_of(net).startable_epochs().empty());
  EXPECT_FALSE(tables_of(net).node_epochs().contains(Name("A")));
  EXPECT_FALSE(tables_of(net).locations().contains(PacketLocation::Node(id)));
  EXPECT_FALSE(tables_of(net).locations().contains(PacketLocation::OutputPort(id, Name("loose"))));
  expect_undo_error(net.undo_action(create, events), UndoError::Kind::NotFound,
                    "epoch " + id.to_string() + " not found");
}

TEST(Undo, StartIsUndoneOnlyOnce) {
  NetSim net(undo_graph());
  const Ulid id = new_epoch(net, "A");
  const NetAction start = action::StartEpoch{id};
  const EventList events = act(net, start);
  ASSERT_TRUE(net.undo_action(start, events).ok());
  EXPECT_EQ(net.get_epoch(id)->state, EpochState::Startable);
  EXPECT_EQ(net.get_startable_epochs(), Ids{id});
  expect_undo_error(net.undo_action(start, events), UndoError::Kind::StateMismatch,
                    "epoch " + id.to_string() + " is not in Running state, cannot undo start");
}

TEST(Undo, FinishedEpochComesBackRunningAndTakesTheToken) {
  NetSim net(undo_graph());
  const Ulid other = new_epoch(net, "B");
  const Ulid id = new_epoch(net, "B");
  act(net, action::StartEpoch{id});
  const NetAction finish = action::FinishEpoch{id};
  const EventList events = act(net, finish);
  EXPECT_EQ(tables_of(net).requests().tokens.at(Name("B")), true);

  ASSERT_TRUE(net.undo_action(finish, events).ok());
  const Epoch* epoch = net.get_epoch(id);
  ASSERT_NE(epoch, nullptr);
  EXPECT_EQ(epoch->state, EpochState::Running);
  EXPECT_TRUE(tables_of(net).locations().contains(PacketLocation::Node(id)));
  // The restored id joins the end of its node's list.
  EXPECT_EQ(epochs_of(net, "B"), (Ids{other, id}));
  EXPECT_EQ(net.get_startable_epochs(), Ids{other});
  EXPECT_EQ(tables_of(net).requests().tokens.at(Name("B")), false);
  ExpectNetInvariants(net);
  expect_undo_error(net.undo_action(finish, events), UndoError::Kind::StateMismatch,
                    "epoch " + id.to_string() + " already exists");
}

TEST(Undo, CancelledEpochComesBackWithItsPacketsReversed) {
  NetSim net(Graph({NodeBuilder("B").in("in").in_condition("go", when_non_empty("in"))}, {}));
  const Ulid p1 = place_packet(net, at_input("B", "in"));
  const Ulid p2 = place_packet(net, at_input("B", "in"));
  step(net);
  const Ulid id = net.get_startable_epochs().at(0);
  ASSERT_EQ(net.get_packets_at_location(PacketLocation::Node(id)), (Ids{p1, p2}));

  const NetAction cancel = action::CancelEpoch{id};
  const EventList events = act(net, cancel);
  ASSERT_EQ(event_kinds(events), (Kinds{"PacketDestroyed", "PacketDestroyed", "EpochCancelled"}));
  ASSERT_TRUE(net.undo_action(cancel, events).ok());
  EXPECT_EQ(net.get_epoch(id)->state, EpochState::Startable);
  EXPECT_EQ(net.get_startable_epochs(), Ids{id});
  EXPECT_EQ(net.get_packets_at_location(PacketLocation::Node(id)), (Ids{p2, p1}));
  ExpectNetInvariants(net);
}

TEST(Undo, MovedPacketMustStillBeWhereTheMoveLeftIt) {
  NetSim net(undo_graph());
  const Ulid p = make_packet(net);
  const NetAction to_edge = action::TransportPacketToLocation{p, kEdge};
  const EventList events = act(net, to_edge);
  step(net);  // p reaches B.in
  expect_undo_error(net.undo_action(to_edge, events), UndoError::Kind::StateMismatch,
                    "packet " + p.to_string() +
                        " is not at expected location Edge(A.out.out -> B.in.in), found at "
                        "InputPort(\"B\", \"in\")");
  EXPECT_EQ(net.get_packet(p)->location, at_input("B", "in"));
}

// A packet made inside running epoch `e` and loaded into its port `port`.
Ulid loaded_packet(NetSim& net, const Ulid& e, std::string_view port) {
  const Ulid p = packet_in_epoch(net, e);
  act(net, action::LoadPacketIntoOutputPort{p, Name(port)});
  return p;
}

TEST(Undo, OutputSalvoIsTakenBackWithItsOrphans) {
  NetSim net(undo_graph());
  const Ulid e = running_epoch(net, "A");
  const Ulid s1 = loaded_packet(net, e, "out");
  const Ulid s2 = loaded_packet(net, e, "out");
  const NetAction send = action::SendOutputSalvo{e, Name("send")};
  const EventList sent = act(net, send);
  ASSERT_EQ(net.get_packets_at_location(kEdge), (Ids{s1, s2}));
  ASSERT_TRUE(net.undo_action(send, sent).ok());
  EXPECT_EQ(net.get_packets_at_location(PacketLocation::OutputPort(e, Name("out"))), (Ids{s1, s2}));
  EXPECT_TRUE(net.get_epoch(e)->out_salvos.empty());

  const Ulid lost = loaded_packet(net, e, "loose");
  const NetAction drop = action::SendOutputSalvo{e, Name("drop")};
  const EventList dropped = act(net, drop);
  ASSERT_EQ(event_kinds(dropped), (Kinds{"PacketOrphaned", "OutputSalvoTriggered"}));
  ASSERT_EQ(net.get_epoch(e)->orphaned_packets.size(), 1u);
  ASSERT_TRUE(net.undo_action(drop, dropped).ok());
  EXPECT_EQ(net.get_packet(lost)->location, PacketLocation::OutputPort(e, Name("loose")));
  EXPECT_TRUE(net.get_epoch(e)->orphaned_packets.empty());
  ExpectNetInvariants(net);
  EXPECT_TRUE(net.get_epoch(e)->out_salvos.empty());
  EXPECT_TRUE(net.get_packets_at_location(PacketLocation::OutsideNet()).empty());

  // The packet is back in its port, not outside the net; the salvo list is
  // empty, so only the action decides whether popping is tried.
  expect_undo_error(net.undo_action(drop, EventList{dropped[0]}), UndoError::Kind::StateMismatch,
                    "packet " + lost.to_string() + " is not at OutsideNet, found at OutputPort(" +
                        e.to_string() + ", \"loose\")");
  expect_undo_error(net.undo_action(drop, EventList{dropped[1]}), UndoError::Kind::StateMismatch,
                    "epoch " + e.to_string() + " has no out_salvos to pop");
  EXPECT_TRUE(net.undo_action(action::RunStep{}, EventList{dropped[1]}).ok());

  act(net, drop);
  const std::size_t salvos = net.get_epoch(e)->out_salvos.size();
  EXPECT_TRUE(net.undo_action(action::RunStep{}, EventList{dropped[1]}).ok());
  EXPECT_EQ(net.get_epoch(e)->out_salvos.size(), salvos);
}

TEST(Undo, RequestUndoFollowsItsSource) {
  NetSim net(undo_graph());
  const NetAction first = action::CreateRequest{Name("B"), Name("x")};
  const NetAction other = action::CreateRequest{Name("B"), Name("y")};
  const EventList first_events = act(net, first);
  act(net, other);
  act(net, first);
  ASSERT_TRUE(net.undo_action(first, first_events).ok());
  ASSERT_EQ(tables_of(net).requests().pending.size(), 2u);
  EXPECT_EQ(tables_of(net).requests().pending[0].label, "x");
  EXPECT_EQ(tables_of(net).requests().pending[1].label, "y");

  // Once a step has taken the requests there is nothing left to remove.
  step(net);
  EXPECT_TRUE(net.undo_action(first, first_events).ok());
  EXPECT_TRUE(tables_of(net).requests().pending.empty());
}

TEST(Undo, UndoneStartupStepAsksAgain) {
  NetSim net(with_dependency_edges(
      Graph({node("A", {}, {"out"}),
             NodeBuilder("B").in("in").requests({DependencyRequestTrigger::OnStartup}, "boot")},
            {edge("A.out", "B.in")}),
      {edge("A.out", "B.in")}));
  const NetAction run = action::RunStep{};
  const EventList events = act(net, run);
  ASSERT_TRUE(tables_of(net).requests().startup_requests_sent);
  ASSERT_TRUE(net.undo_action(run, events).ok());
  EXPECT_FALSE(tables_of(net).requests().startup_requests_sent);
  EXPECT_TRUE(net.epochs().empty());
  EXPECT_EQ(event_kinds(step(net).events), event_kinds(events));
}

TEST(Undo, StopsAtTheFirstEventThatCannotBeReversed) {
  NetSim net(undo_graph());
  const Ulid p1 = make_packet(net);
  const Ulid p2 = make_packet(net);
  const Ulid p4 = make_packet(net);
  const Ulid ghost{1, 2};
  const EventList events = {event::PacketCreated{0, p1}, event::PacketCreated{0, p2},
                            event::PacketCreated{0, ghost}, event::PacketCreated{0, p4}};
  expect_undo_error(net.undo_action(action::CreatePacket{}, events), UndoError::Kind::NotFound,
                    "packet " + ghost.to_string() + " not found");
  EXPECT_FALSE(net.get_packet(p4).has_value());
  EXPECT_TRUE(net.get_packet(p1).has_value());
  EXPECT_TRUE(net.get_packet(p2).has_value());
}

TEST(Undo, MoveBackPastTheEndOfItsLocationIsRefused) {
  NetSim net(undo_graph());
  const Ulid p1 = place_packet(net, kEdge);
  const Ulid p2 = place_packet(net, kEdge);
  const NetAction out = action::TransportPacketToLocation{p2, PacketLocation::OutsideNet()};
  const EventList events = act(net, out);
  ASSERT_EQ(event_as<event::PacketMoved>(events, 0).from_index, 1u);
  act(net, action::ConsumePacket{p1});

  expect_undo_error(net.undo_action(out, events), UndoError::Kind::StateMismatch,
                    "packet " + p2.to_string() + " cannot return to index 1 of " +
                        kEdge.debug_string() + ", which holds 0 packets");
  EXPECT_EQ(net.get_packet(p2)->location, PacketLocation::OutsideNet());
  EXPECT_EQ(net.get_packets_at_location(PacketLocation::OutsideNet()), Ids{p2});

  // A move that re-queued a packet at the end of its own location goes back.
  const Ulid q1 = place_packet(net, kEdge);
  const Ulid q2 = place_packet(net, kEdge);
  const NetAction requeue = action::TransportPacketToLocation{q1, kEdge};
  const EventList requeued = act(net, requeue);
  ASSERT_EQ(net.get_packets_at_location(kEdge), (Ids{q2, q1}));
  ASSERT_TRUE(net.undo_action(requeue, requeued).ok());
  EXPECT_EQ(net.get_packets_at_location(kEdge), (Ids{q1, q2}));
}

TEST(Undo, EpochThatStillHoldsPacketsIsNotUnmade) {
  NetSim net(Graph({NodeBuilder("B").in("in").out("done")}, {}));
  const Ulid p = place_packet(net, at_input("B", "in"));
  const NetAction create = action::CreateEpoch{Name("B"), Salvo{Name("hand"), {{Name("in"), p}}}};
  const EventList events = act(net, create);
  ASSERT_EQ(event_kinds(events), (Kinds{"EpochCreated", "PacketMoved"}));
  const Ulid id = event_as<event::EpochCreated>(events, 0).epoch_id;
  const std::string refused =
      "epoch " + id.to_string() + " still holds packets, cannot undo its creation";

  expect_undo_error(net.undo_action(create, EventList{events[0]}), UndoError::Kind::StateMismatch,
                    refused);
  ASSERT_NE(net.get_epoch(id), nullptr);

  // Loaded into an output port is still inside.
  act(net, action::LoadPacketIntoOutputPort{p, Name("done")});
  expect_undo_error(net.undo_action(create, EventList{events[0]}), UndoError::Kind::StateMismatch,
                    refused);
  EXPECT_EQ(net.get_startable_epochs(), Ids{id});
  EXPECT_EQ(net.get_packet(p)->location, PacketLocation::OutputPort(id, Name("done")));
}

// A move event remembers where its net kept the packet and the location it
// left. Undo must not trust those notes once they are stale: here they point
// at another live packet's row and at another location's entry, or at no row
// or entry at all, and undo still puts back the right packet in the right
// place.
TEST(Undo, MoveIsUndoneRightWhateverItsRowAndLocationNotesSay) {
  NetSim net(
      Graph({NodeBuilder("A").out("out"), NodeBuilder("B").in("in")}, {edge("A.out", "B.in")}));
  const Ulid other = place_packet(net, PacketLocation::OutsideNet());
  const Ulid moved = place_packet(net, kEdge);
  const NetAction step = action::RunStep{};
  const EventList events = act(net, step);
  const auto& original = event_as<event::PacketMoved>(events, 0);
  ASSERT_EQ(original.packet_id, moved);
  const std::vector<std::pair<PacketIndex, LocationHandle>> notes = {
      {tables_of(net).packets().find(other),
       tables_of(net).locations().find(PacketLocation::OutsideNet())},
      {kNoPacket, kNoLocation},
      {12345, 54321},
  };
  for (const auto& [row, handle] : notes) {
    EventList stale = events;
    auto& moved_event = std::get<event::PacketMoved>(stale[0]);
    moved_event.packet_row = row;
    moved_event.from_handle = handle;
    const Result<Unit, UndoError> undone = net.undo_action(step, stale);
    ASSERT_TRUE(undone.ok()) << undone.error().text;
    EXPECT_EQ(net.get_packets_at_location(kEdge), Ids{moved});
    EXPECT_EQ(net.get_packets_at_location(PacketLocation::OutsideNet()), Ids{other});
    ExpectNetInvariants(net);
    ASSERT_EQ(act(net, step).size(), events.size());  // forward again for the next note
  }
}

}  // namespace
}  // namespace zellik
