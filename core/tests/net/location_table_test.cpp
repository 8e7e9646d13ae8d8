#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "support/graph_builders.h"
#include "support/step_fixtures.h"
#include "zellik/net/location_table.h"

namespace zellik {
namespace {

using namespace testkit;  // NOLINT: test-local shorthand

// Copies for events are paid for in batches; whatever is paid and unused
// goes back when the entry goes, so the count always equals the holders
// plus the table's unused prepaid copies.
TEST(LocationTable, PrepaidCopiesAreRealSharesAndUnusedOnesGoBack) {
  const PacketLocation edge_location = on_edge("A.out", "B.in");
  const std::size_t alone = edge_location.share_count();
  std::vector<PacketLocation> copies;
  {
    LocationTable table;
    const LocationHandle h = table.ensure(edge_location);
    const std::size_t held = edge_location.share_count();  // + the table's key copies
    // Across more than one batch.
    for (int i = 0; i < 600; ++i) copies.push_back(table.copy_location(h));
    EXPECT_EQ(copies.back(), edge_location);
    EXPECT_GE(edge_location.share_count(), held + copies.size());
    copies.resize(100);
    table.erase(edge_location);
    // The unused batch went back with the entry; 100 copies remain.
    EXPECT_EQ(edge_location.share_count(), alone + 100 + 1);  // + the freed slot's key
  }
  EXPECT_EQ(edge_location.share_count(), alone + 100);
  copies.clear();
  EXPECT_EQ(edge_location.share_count(), alone);
  EXPECT_EQ(PacketLocation::OutsideNet().share_count(), 0u);
}

// The events of a run hold prepaid copies; they must stay valid after the
// net that made them is gone, and a net must outlive nothing it handed out.
// An epoch's and an edge's place find the entry of the location they
// describe, and nothing once it is erased; a slot made anew starts with an
// empty queue whatever its predecessor held.
TEST(LocationTable, PlacesFindTheEntriesOfTheLocationsTheyDescribe) {
  const Ulid epoch = Ulid::FromParts(1, 2, 3);
  const Ulid other = Ulid::FromParts(1, 2, 4);
  const Name out("out");
  const Name rest("rest");
  const PacketLocation edge = on_edge("A.out", "B.in");
  const PacketLocation unused_edge = on_edge("B.out", "C.in");
  LocationTable table;
  const LocationHandle on = table.ensure(edge);
  const LocationHandle inside = table.ensure(PacketLocation::Node(epoch));
  const LocationHandle port = table.ensure(PacketLocation::OutputPort(epoch, out));
  using Kind = PacketLocation::Kind;
  EXPECT_EQ(table.find(EdgePlace{&edge.edge()}), on);
  EXPECT_EQ(table.find(EpochPlace{Kind::Node, &epoch, nullptr}), inside);
  EXPECT_EQ(table.find(EpochPlace{Kind::OutputPort, &epoch, &out}), port);
  EXPECT_EQ(table.find(EdgePlace{&unused_edge.edge()}), kNoLocation);
  EXPECT_EQ(table.find(EpochPlace{Kind::Node, &other, nullptr}), kNoLocation);
  EXPECT_EQ(table.find(EpochPlace{Kind::OutputPort, &epoch, &rest}), kNoLocation);

  for (PacketIndex p = 0; p < 10; ++p) table.append(port, p);
  table.erase(port);
  EXPECT_EQ(table.find(EpochPlace{Kind::OutputPort, &epoch, &out}), kNoLocation);
  const LocationHandle again = table.ensure(PacketLocation::OutputPort(other, out));
  EXPECT_EQ(again, port);  // the slot is reused
  EXPECT_TRUE(table.queue(again).empty());
  table.append(again, 3);
  EXPECT_EQ(table.queue(again).size(), 1u);
  EXPECT_EQ(table.queue(again).front(), 3u);
}

TEST(LocationTable, EventsOutliveTheNetThatPaidForTheirLocations) {
  const PacketLocation edge_location = on_edge("A.out", "B.in");
  EventList events;
  {
    std::optional<NetSim> net;
    net.emplace(Graph({node("A", {}, {"out"}), node("B", {"in"})}, {edge("A.out", "B.in")}));
    for (int i = 0; i < 300; ++i) place_packet(*net, edge_location);
    events = net->run_until_blocked();
    ASSERT_EQ(events.size(), 300u);
    net.reset();
  }
  // The net's own record of the edge, as its events carry it: once the net
  // is gone, exactly the events and this copy share it.
  const PacketLocation from = std::get<event::PacketMoved>(events.front()).from_location;
  for (const NetEvent& e : events) {
    const auto& moved = std::get<event::PacketMoved>(e);
    EXPECT_EQ(moved.from_location, edge_location);
    EXPECT_EQ(moved.to_location, at_input("B", "in"));
  }
  EXPECT_EQ(from.share_count(), events.size() + 1);
  events.clear();
  EXPECT_EQ(from.share_count(), 1u);
}

}  // namespace
}  // namespace zellik
