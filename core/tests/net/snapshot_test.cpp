#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/net_fixtures.h"
#include "support/net_test_access.h"
#include "zellik/base/byte_stream.h"
#include "zellik/net/record_codec.h"
#include "zellik/net/snapshot.h"

namespace zellik {
namespace {

using namespace testkit;  // NOLINT: test-local shorthand

// A.out -> B.in and C.out -> B.in; B takes whatever waits at in.
Graph fan_in_graph() {
  return Graph(
      {node("A", {}, {"out"}), node("C", {}, {"out"}),
       NodeBuilder("B").in("in").in_condition("c", when_non_empty("in", MaxSalvos::Finite(1)))},
      {edge("A.out", "B.in"), edge("C.out", "B.in")});
}

std::unique_ptr<NetSim> restore(const NetSim& net) {
  auto restored = decode_snapshot(net.graph(), encode_snapshot(net));
  if (!restored.ok()) ADD_FAILURE() << restored.error().text;
  return restored.ok() ? std::move(restored).value() : nullptr;
}

TEST(Snapshot, RestoredNetKeepsQueuesInvariantsAndStepOrder) {
  NetSim net(fan_in_graph());
  // Packets reach the edges in the order C, A, so C's edge steps first.
  std::vector<Ulid> on_c = {place_packet(net, on_edge("C.out", "B.in")),
                            place_packet(net, on_edge("C.out", "B.in"))};
  std::vector<Ulid> on_a = {place_packet(net, on_edge("A.out", "B.in"))};
  place_packet(net, PacketLocation::OutsideNet());

  auto restored = restore(net);
  ASSERT_NE(restored, nullptr);
  ExpectNetInvariants(*restored);
  EXPECT_EQ(restored->get_packets_at_location(on_edge("C.out", "B.in")), on_c);
  EXPECT_EQ(restored->get_packets_at_location(on_edge("A.out", "B.in")), on_a);
  EXPECT_EQ(restored->packet_count_at(PacketLocation::OutsideNet()), 1u);

  const EventList ours = step(net).events;
  const EventList theirs = step(*restored).events;
  ASSERT_EQ(event_kinds(theirs), event_kinds(ours));
  for (std::size_t i : {0u, 1u}) {
    EXPECT_EQ(event_as<event::PacketMoved>(theirs, i).packet_id,
              event_as<event::PacketMoved>(ours, i).packet_id);
  }
  ExpectNetInvariants(*restored);
}

TEST(Snapshot, EpochsAndRequestStateComeBack) {
  NetSim net(fan_in_graph());
  place_packet(net, at_input("B", "in"));
  step(net);
  const std::vector<Ulid> epochs = epochs_of(net, "B");
  ASSERT_EQ(epochs.size(), 1u);
  act(net, action::CreateRequest{Name("B"), Name("more")});

  auto restored = restore(net);
  ASSERT_NE(restored, nullptr);
  ExpectNetInvariants(*restored);
  EXPECT_EQ(epochs_of(*restored, "B"), epochs);
  EXPECT_EQ(restored->get_startable_epochs(), net.get_startable_epochs());
  EXPECT_EQ(tables_of(*restored).requests().pending, tables_of(net).requests().pending);
  const Epoch* epoch = restored->get_epoch(epochs[0]);
  ASSERT_NE(epoch, nullptr);
  EXPECT_EQ(epoch->in_salvo.packets, net.get_epoch(epochs[0])->in_salvo.packets);
}

// A packet left at the output port of an epoch that has ended, by undoing
// its destroy after the epoch finished: the net holds it there (it can still
// be transported out), so a snapshot must carry it, the copy must behave as
// the original, and undoing the finish afterwards must keep the packet.
TEST(Snapshot, PacketsAtTheLocationsOfAnEndedEpochComeBack) {
  const Graph graph({NodeBuilder("A").in("in").out("o").out_condition("send", when_non_empty("o"))},
                    {});
  NetSim net(graph);
  const Ulid epoch = running_epoch(net, "A");
  const Ulid inside = packet_in_epoch(net, epoch);
  const Ulid loaded = packet_in_epoch(net, epoch);
  ok(net, action::LoadPacketIntoOutputPort{loaded, Name("o")});
  const NetAction destroy = action::DestroyPacket{loaded};
  const EventList destroyed = ok(net, destroy).events;
  const NetAction consume = action::ConsumePacket{inside};
  const EventList consumed = ok(net, consume).events;
  const NetAction finish = action::FinishEpoch{epoch};
  const EventList finished = ok(net, finish).events;
  ASSERT_TRUE(net.undo_action(destroy, destroyed).ok());
  ASSERT_TRUE(net.undo_action(consume, consumed).ok());
  EXPECT_EQ(net.get_packets_at_location(PacketLocation::OutputPort(epoch, Name("o"))),
            std::vector<Ulid>{loaded});
  EXPECT_EQ(net.get_packets_at_location(PacketLocation::Node(epoch)), std::vector<Ulid>{inside});
  ExpectNetInvariants(net, Strictness::kAnyUndo);

  auto copy = restore(net);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(describe_net(*copy), describe_net(net));
  ExpectNetInvariants(*copy, Strictness::kAnyUndo);
  for (NetSim* n : {&net, copy.get()}) {
    act(*n, action::TransportPacketToLocation{loaded, at_input("A", "in")});
    ExpectNetInvariants(*n, Strictness::kAnyUndo);
  }
  EXPECT_EQ(describe_net(*copy), describe_net(net));

  // The packet inside cannot be loaded into a port of the ended epoch: an
  // error, not a stop, and nothing changes.
  for (NetSim* n : {&net, copy.get()}) {
    const std::vector<std::string> before = describe_net(*n);
    const NetActionResponse load =
        n->do_action(action::LoadPacketIntoOutputPort{inside, Name("o")});
    ASSERT_FALSE(load.ok());
    EXPECT_EQ(load.error().kind, NetActionError::Kind::EpochNotFound);
    EXPECT_EQ(describe_net(*n), before);
  }

  // The finished epoch comes back around the packet still inside it.
  for (NetSim* n : {&net, copy.get()}) {
    ASSERT_TRUE(n->undo_action(finish, finished).ok());
    EXPECT_EQ(n->get_packets_at_location(PacketLocation::Node(epoch)), std::vector<Ulid>{inside});
    ExpectNetInvariants(*n);
  }
  EXPECT_EQ(describe_net(*copy), describe_net(net));
}

TEST(Snapshot, EveryTruncationIsRefused) {
  NetSim net(fan_in_graph());
  place_packet(net, at_input("B", "in"));
  step(net);
  const std::string bytes = encode_snapshot(net);
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    EXPECT_FALSE(decode_snapshot(net.graph(), std::string_view(bytes).substr(0, n)).ok()) << n;
  }
}

// A state written in the snapshot format from plain records, as a net
// could never hold it, to reach the loader's checks behind the checksum.
struct WrittenState {
  std::vector<std::pair<Name, std::vector<Epoch>>> epoch_lists;
  std::vector<Ulid> startable;
  std::vector<std::pair<PacketLocation, std::vector<Ulid>>> locations;
  std::vector<PendingRequest> pending;

  std::string bytes() const {
    ByteWriter payload;
    payload.u8(0);                                            // startup flag
    payload.u8(0);                                            // unseeded
    for (int i = 0; i < 5; ++i) payload.u64(i == 1 ? 1 : 0);  // clock, generator
    payload.u64(epoch_lists.size());
    for (const auto& [node, epochs] : epoch_lists) {
      codec::put(payload, node);
      payload.u64(epochs.size());
      for (const Epoch& e : epochs) codec::put(payload, e);
    }
    payload.u64(startable.size());
    for (const Ulid& id : startable) codec::put(payload, id);
    payload.u64(locations.size());
    for (const auto& [location, ids] : locations) {
      codec::put(payload, location);
      payload.u64(ids.size());
      for (const Ulid& id : ids) codec::put(payload, id);
    }
    payload.u64(pending.size());
    for (const PendingRequest& r : pending) {
      codec::put(payload, r.node_name);
      codec::put(payload, r.label);
    }
    payload.u64(0);  // request tokens
    ByteWriter w;
    w.raw("ZSNP", 4);
    w.u32(kSnapshotFormatVersion);
    w.u64(payload.size());
    w.raw(payload.bytes().data(), payload.size());
    w.u64(checksum64(w.bytes()));
    return std::move(w.bytes());
  }
};

Epoch epoch_of(std::string_view node, Ulid id, EpochState state = EpochState::Running) {
  Epoch e;
  e.id = id;
  e.node_name = Name(node);
  e.state = state;
  return e;
}

// Every state the loader must refuse, each with the reason it must give;
// the same writer's sound state loads.
TEST(Snapshot, StatesNoNetCanHoldAreRefusedWithTheirReason) {
  const Graph graph = fan_in_graph();
  const Ulid e1{1, 1}, e2{2, 2}, p1{3, 3};
  const WrittenState sound{
      {{Name("B"), {epoch_of("B", e1), epoch_of("B", e2, EpochState::Startable)}}},
      {e2},
      {{PacketLocation::Node(e1), {p1}}},
      {{Name("B"), Name("more")}}};
  ASSERT_TRUE(decode_snapshot(graph, sound.bytes()).ok());

  using Edit = void (*)(WrittenState&);
  const std::vector<std::pair<Edit, std::string>> cases = {
      {[](WrittenState& s) {
         s.epoch_lists.push_back({Name("B"), {}});
       },
       "has two epoch lists"},
      {[](WrittenState& s) {
         s.epoch_lists.push_back({Name("A"), {epoch_of("B", Ulid{4, 4})}});
       },
       "is listed under another node"},
      {[](WrittenState& s) { s.epoch_lists[0].second.push_back(s.epoch_lists[0].second[0]); },
       "appears twice"},
      {[](WrittenState& s) {
         s.startable = {Ulid{1, 1}};
       },
       "the startable set disagrees"},
      {
          [](WrittenState& s) { s.locations.push_back(s.locations[0]); },
          ") appears twice",
      },
      {[](WrittenState& s) {
         s.locations.push_back({PacketLocation::OutsideNet(), {Ulid{3, 3}}});
       },
       "packet 0000000000001G000000000003 appears twice"},
      {[](WrittenState& s) {
         s.pending.push_back({Name("Z"), Name("x")});
       },
       "node \"Z\" is missing"},
      {[](WrittenState& s) {
         s.epoch_lists.push_back({Name("Z"), {}});
       },
       "node \"Z\" is missing"},
      {[](WrittenState& s) {
         s.epoch_lists[0].second[0].in_salvo.packets.push_back({Name("q"), Ulid{}});
       },
       "input port B.in.q is missing"},
      {[](WrittenState& s) {
         s.epoch_lists[0].second[0].out_salvos.push_back(Salvo{Name("c9"), {}});
       },
       "output salvo condition \"c9\" of node \"B\" is missing"},
      {[](WrittenState& s) {
         s.epoch_lists[0].second[0].orphaned_packets.push_back({Ulid{}, Name("q"), Name("c")});
       },
       "output port B.out.q is missing"},
      {[](WrittenState& s) {
         s.locations.push_back({PacketLocation::OutputPort(Ulid{1, 1}, Name("q")), {}});
       },
       "output port B.out.q is missing"},
      {[](WrittenState& s) {
         s.locations.push_back({at_input("B", "q"), {}});
       },
       "input port B.in.q is missing"},
      {[](WrittenState& s) {
         s.locations.push_back({on_edge("C.out", "B.x"), {}});
       },
       "edge C.out.out -> B.in.x is missing"},
  };
  for (const auto& [edit, reason] : cases) {
    WrittenState state = sound;
    edit(state);
    const auto loaded = decode_snapshot(graph, state.bytes());
    ASSERT_FALSE(loaded.ok()) << reason;
    EXPECT_NE(loaded.error().text.find(reason), std::string::npos)
        << loaded.error().text << " does not say " << reason;
  }
}

TEST(RecordCodec, EventsRoundTripAndForeignTagsAreRefused) {
  const NetEvent event =
      event::PacketMoved{42, Ulid{1, 2}, on_edge("A.out", "B.in"), at_input("B", "in"), 3};
  const std::string bytes = encode_record(event);
  const std::optional<NetEvent> back = decode_record<NetEvent>(bytes);
  ASSERT_TRUE(back.has_value());
  const auto& moved = std::get<event::PacketMoved>(*back);
  EXPECT_EQ(moved.to_location, at_input("B", "in"));
  EXPECT_EQ(moved.from_index, 3u);
  EXPECT_FALSE(decode_record<Epoch>(bytes).has_value());
  EXPECT_FALSE(decode_record<NetEvent>(bytes + "x").has_value());
}

}  // namespace
}  // namespace zellik
