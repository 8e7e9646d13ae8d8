// Moves out of deep queues at every position, and their undo: the recorded
// from_index, the order the queue returns to, and the net's invariants
// (records, slots, hole bookkeeping) along the way.

#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "support/graph_builders.h"
#include "support/net_fixtures.h"
#include "support/net_invariants.h"
#include "support/step_fixtures.h"

namespace zellik {
namespace {

using namespace testkit;  // NOLINT: test-local shorthand

Graph one_edge_graph() {
  return Graph({node("A", {}, {"out"}), node("B", {"in"})}, {edge("A.out", "B.in")});
}

struct DeepEdge {
  NetSim net{one_edge_graph()};
  PacketLocation edge = on_edge("A.out", "B.in");
  std::vector<Ulid> ids;
  explicit DeepEdge(std::size_t depth) {
    for (std::size_t i = 0; i < depth; ++i) ids.push_back(place_packet(net, edge));
  }
};

NetAction out_of_net(const Ulid& id) {
  return action::TransportPacketToLocation{id, PacketLocation::OutsideNet()};
}

TEST(DeepQueue, MoveAndUndoAtEveryPositionRestoresTheOrder) {
  DeepEdge d(300);
  for (std::size_t p = 0; p < d.ids.size(); ++p) {
    SCOPED_TRACE("position " + std::to_string(p));
    const NetAction move = out_of_net(d.ids[p]);
    const EventList events = act(d.net, move);
    ASSERT_EQ(event_as<event::PacketMoved>(events, 0).from_index, p);
    ASSERT_TRUE(d.net.undo_action(move, events).ok());
    ASSERT_EQ(d.net.get_packets_at_location(d.edge), d.ids);
  }
  ExpectNetInvariants(d.net);
}

// Many moves out of the middle, each recording the position it took, then
// all undone newest first: the queue compacts along the way, so some packets
// go back where no hole is left for them.
TEST(DeepQueue, LongHistoriesOfMiddleMovesUndoNewestFirst) {
  for (std::uint32_t seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    DeepEdge d(400);
    std::mt19937 rng(seed);
    std::vector<std::pair<NetAction, EventList>> history;
    std::vector<Ulid> order = d.ids;
    for (int i = 0; i < 320; ++i) {
      const std::size_t p = std::uniform_int_distribution<std::size_t>(0, order.size() - 1)(rng);
      // Now and then the moved packet re-joins the tail of the same edge.
      const bool requeue = i % 5 == 0;
      const NetAction move = requeue
                                 ? NetAction{action::TransportPacketToLocation{order[p], d.edge}}
                                 : out_of_net(order[p]);
      EventList events = act(d.net, move);
      ASSERT_EQ(event_as<event::PacketMoved>(events, 0).from_index, p);
      const Ulid moved = order[p];
      order.erase(order.begin() + static_cast<std::ptrdiff_t>(p));
      if (requeue) order.push_back(moved);
      ASSERT_EQ(d.net.get_packets_at_location(d.edge), order);
      history.emplace_back(move, std::move(events));
    }
    ExpectNetInvariants(d.net);
    for (auto it = history.rbegin(); it != history.rend(); ++it) {
      ASSERT_TRUE(d.net.undo_action(it->first, it->second).ok());
    }
    EXPECT_EQ(d.net.get_packets_at_location(d.edge), d.ids);
    ExpectNetInvariants(d.net);
  }
}

// A run of steps drains the edge into the port; undoing the steps newest
// first refills the edge from its head.
TEST(DeepQueue, StepsThroughADeepEdgeUndoBackToTheStart) {
  DeepEdge d(200);
  std::vector<EventList> steps;
  while (!d.net.is_blocked()) steps.push_back(act(d.net, action::RunStep{}));
  ASSERT_EQ(steps.size(), d.ids.size());
  EXPECT_EQ(d.net.get_packets_at_location(at_input("B", "in")), d.ids);
  ExpectNetInvariants(d.net);
  for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
    ASSERT_TRUE(d.net.undo_action(action::RunStep{}, *it).ok());
  }
  EXPECT_EQ(d.net.get_packets_at_location(d.edge), d.ids);
  EXPECT_EQ(d.net.packet_count_at(at_input("B", "in")), 0u);
  ExpectNetInvariants(d.net);
}

}  // namespace
}  // namespace zellik
