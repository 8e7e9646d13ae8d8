#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/net_fixtures.h"
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
  EXPECT_EQ(restored->pending_requests(), net.pending_requests());
  const Epoch* epoch = restored->get_epoch(epochs[0]);
  ASSERT_NE(epoch, nullptr);
  EXPECT_EQ(epoch->in_salvo.packets, net.get_epoch(epochs[0])->in_salvo.packets);
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
