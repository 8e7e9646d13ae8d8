#include <gtest/gtest.h>

#include "support/graph_builders.h"
#include "support/step_fixtures.h"
#include "zellik/net/net_view.h"

namespace zellik {
namespace {

using testkit::act;
using testkit::edge;
using testkit::make_packet;
using testkit::node;
using testkit::NodeBuilder;
using testkit::on_edge;
using testkit::place_packet;
using testkit::when_non_empty;

TEST(NetView, ListsAndLiveStateCoverEveryPacketAndEpoch) {
  const Edge feed = edge("A.out", "B.in");
  NetSim net(Graph({node("A", {}, {"out"}),
                    NodeBuilder("B").in("in").out("o").in_condition("go", when_non_empty("in"))},
                   {feed}),
             IdSource::Seeded(1));
  EXPECT_TRUE(list_packets(net).empty());
  const Ulid outside = make_packet(net);
  const Ulid first = place_packet(net, on_edge("A.out", "B.in"));
  const Ulid second = place_packet(net, on_edge("A.out", "B.in"));
  act(net, action::RunStep{});  // first enters B.in and starts an epoch

  const std::vector<Packet> packets = list_packets(net);
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_EQ(packets[0].id, outside);  // seeded ids follow creation order
  EXPECT_EQ(packets[1].id, first);
  EXPECT_EQ(packets[2].id, second);
  const std::vector<Epoch> epochs = list_epochs(net);
  ASSERT_EQ(epochs.size(), 1u);
  EXPECT_EQ(packets[1].location, PacketLocation::Node(epochs[0].id));

  act(net, action::StartEpoch{epochs[0].id});
  act(net, action::LoadPacketIntoOutputPort{first, Name("o")});
  const DotLiveState live = dot_live_state(net);
  EXPECT_EQ(live.packets_on_edge.at(feed), 1u);
  EXPECT_EQ(live.packets_at_port.at(PortRef{Name("B"), PortType::Output, Name("o")}), 1u);
  EXPECT_EQ(live.epochs.at(Name("B")).running, 1u);
  EXPECT_EQ(live.epochs.at(Name("B")).packets_inside, 0u);
  EXPECT_EQ(live.packets_outside, 1u);
}

}  // namespace
}  // namespace zellik
