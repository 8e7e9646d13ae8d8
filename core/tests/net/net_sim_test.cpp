#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/net_fixtures.h"
#include "support/net_test_access.h"
#include "zellik/base/internal_failure.h"

namespace zellik {
namespace {

using namespace testkit;  // NOLINT: test-local shorthand

using Ids = std::vector<Ulid>;

// A.out -> B.in, B.side unconnected; A has an output port with no edge.
Graph small_graph() {
  return Graph({node("A", {}, {"out", "loose"}), node("B", {"in", "side"}, {"done"})},
               {edge("A.out", "B.in")});
}

TEST(NetSim, NewNetHasEmptyEntriesForEdgesInputPortsAndOutsideOnly) {
  NetSim net(small_graph());
  ExpectNetInvariants(net);
  EXPECT_EQ(tables_of(net).locations().size(), 4u);  // edge, B.in, B.side, OutsideNet
  for (const auto& [location, entry] : tables_of(net).locations()) {
    EXPECT_TRUE(entry.queue.empty()) << location.debug_string();
  }
  EXPECT_TRUE(tables_of(net).locations().contains(on_edge("A.out", "B.in")));
  EXPECT_TRUE(tables_of(net).locations().contains(at_input("B", "side")));
  EXPECT_EQ(net.packet_count_at(PacketLocation::OutsideNet()), 0u);
  EXPECT_TRUE(net.get_startable_epochs().empty());
  EXPECT_TRUE(tables_of(net).locations().active().empty());
  EXPECT_TRUE(tables_of(net).requests().tokens.empty());
  EXPECT_FALSE(tables_of(net).requests().startup_requests_sent);
}

// Enough edges and input ports that their entries span several storage
// segments: each edge still delivers to its own target port, and the
// entries are walked in handle order (input ports, edges, OutsideNet).
TEST(NetSim, ManyLocationsEachEdgeDeliversToItsOwnPort) {
  constexpr std::size_t kPairs = 150;
  std::vector<Node> nodes;
  std::vector<Edge> edges;
  // Names appended rather than "A" + n: GCC 12 misreports that under -Wrestrict.
  const auto named = [](const char* prefix, std::size_t i, const char* suffix = "") {
    return std::string(prefix).append(std::to_string(i)).append(suffix);
  };
  for (std::size_t i = kPairs; i-- > 0;) {
    nodes.push_back(node(named("A", i), {}, {"out"}));
    nodes.push_back(node(named("B", i), {"in"}, {}));
    edges.push_back(edge(named("A", i, ".out"), named("B", i, ".in")));
  }
  NetSim net(Graph(nodes, edges));
  ASSERT_EQ(tables_of(net).locations().size(), 2u * kPairs + 1);
  std::size_t walked = 0;
  for (const auto& [location, entry] : tables_of(net).locations()) {
    EXPECT_EQ(entry.handle(), walked);
    const auto expected = walked < kPairs       ? PacketLocation::Kind::InputPort
                          : walked < 2 * kPairs ? PacketLocation::Kind::Edge
                                                : PacketLocation::Kind::OutsideNet;
    EXPECT_EQ(location.kind(), expected) << location.debug_string();
    ++walked;
  }
  std::vector<Ulid> sent;
  for (std::size_t i = 0; i < kPairs; ++i) {
    sent.push_back(place_packet(net, on_edge(named("A", i, ".out"), named("B", i, ".in"))));
  }
  EXPECT_TRUE(step(net).made_progress);
  for (std::size_t i = 0; i < kPairs; ++i) {
    EXPECT_EQ(net.get_packets_at_location(at_input(named("B", i), "in")), Ids{sent[i]}) << i;
  }
  ExpectNetInvariants(net);
}

// A net re-checks the dependency edges of a graph whose nodes and edges an
// earlier validation (of a graph sharing them) found clean.
TEST(NetSim, DependencyEdgesOfAnAlreadyCheckedGraphAreStillValidated) {
  const Graph base({node("A", {}, {"x"}), node("B", {"y"})}, {edge("A.x", "B.y")});
  NetSim first(base);
  try {
    NetSim net(with_dependency_edges(base, {edge("A.x", "C.y")}));
    FAIL() << "a net was built over an invalid graph";
  } catch (const InternalFailure& failure) {
    EXPECT_EQ(std::string(failure.what()),
              "Cannot create NetSim with invalid graph:\n"
              "  - dependency edge A.out.x -> C.in.y is not in the graph's edge set");
  }
}

TEST(NetSim, QueriesOnLocationsWithoutEntryAnswerEmpty) {
  NetSim net(small_graph());
  const PacketLocation nowhere[] = {PacketLocation::OutputPort(Ulid::Generate(), Name("out")),
                                    at_input("B", "missing"), at_input("Z", "in"),
                                    PacketLocation::Node(Ulid::Generate())};
  for (const PacketLocation& location : nowhere) {
    EXPECT_TRUE(net.get_packets_at_location(location).empty());
    EXPECT_EQ(net.packet_count_at(location), 0u);
  }
  EXPECT_FALSE(net.get_packet(Ulid::Generate()).has_value());
  EXPECT_EQ(net.get_epoch(Ulid::Generate()), nullptr);
  Ids inside{Ulid::Generate()};
  net.get_epoch_packets(Ulid::Generate(), inside);
  EXPECT_TRUE(inside.empty());
}

TEST(NetSim, AnEpochsPacketsAreThoseAtItsNodeLocationOldestFirst) {
  NetSim net(small_graph());
  const Ulid epoch = running_epoch(net, "B");
  const Ulid other = running_epoch(net, "B");
  const Ulid p1 = packet_in_epoch(net, epoch);
  packet_in_epoch(net, other);
  const Ulid p2 = packet_in_epoch(net, epoch);
  Ids inside{p1, p1, p1};  // a buffer of the caller's, replaced
  net.get_epoch_packets(epoch, inside);
  EXPECT_EQ(inside, (Ids{p1, p2}));
  EXPECT_EQ(inside, net.get_packets_at_location(PacketLocation::Node(epoch)));
  ok(net, action::ConsumePacket{p1});
  ok(net, action::ConsumePacket{p2});
  ok(net, action::FinishEpoch{epoch});
  net.get_epoch_packets(epoch, inside);
  EXPECT_TRUE(inside.empty()) << "an ended epoch has none";
}

TEST(NetSim, InvalidGraphFailsWithEveryValidationMessage) {
  Graph bad({node("A", {}, {"out"}), NodeBuilder("B").in("in").in_condition(
                                         "c", when_non_empty("in", MaxSalvos::Infinite()))},
            {edge("A.out", "X.in")});
  try {
    NetSim net(std::move(bad));
    FAIL() << "a net was built over an invalid graph";
  } catch (const InternalFailure& failure) {
    EXPECT_EQ(std::string(failure.what()),
              "Cannot create NetSim with invalid graph:\n"
              "  - edge A.out.out -> X.in.in references non-existent node 'X'\n"
              "  - input salvo condition 'c' on node 'B' has max_salvos=Infinite, but must be "
              "Finite(1). Input salvos must have exactly one packet to trigger an epoch.");
  }
}

TEST(NetSim, RequestTokensOnlyForNodesWithTheNoSalvoTrigger) {
  NetSim net(with_dependency_edges(
      Graph({node("A", {}, {"x", "y"}),
             NodeBuilder("B").in("in").requests({DependencyRequestTrigger::OnNoSalvoTriggered}),
             NodeBuilder("C").in("in").requests({DependencyRequestTrigger::OnStartup})},
            {edge("A.x", "B.in"), edge("A.y", "C.in")}),
      {edge("A.x", "B.in"), edge("A.y", "C.in")}));
  ASSERT_EQ(tables_of(net).requests().tokens.size(), 1u);
  const auto token = tables_of(net).requests().tokens.find(std::string_view("B"));
  ASSERT_NE(token, tables_of(net).requests().tokens.end());
  EXPECT_TRUE(token->second);
}

TEST(NetSim, PacketsLeaveAndArriveInFifoOrder) {
  NetSim net(small_graph());
  const PacketLocation e = on_edge("A.out", "B.in");
  const Ulid p1 = place_packet(net, e);
  const Ulid p2 = place_packet(net, e);
  const Ulid p3 = place_packet(net, e);
  EXPECT_EQ(net.get_packets_at_location(e), (Ids{p1, p2, p3}));
  ok(net, action::TransportPacketToLocation{p1, at_input("B", "in")});
  EXPECT_EQ(net.get_packets_at_location(e), (Ids{p2, p3}));
  EXPECT_EQ(net.get_packet(p1)->location, at_input("B", "in"));
  // A move to the location a packet is already in puts it at the back.
  const EventList events = ok(net, action::TransportPacketToLocation{p2, e}).events;
  EXPECT_EQ(event_as<event::PacketMoved>(events, 0).from_index, 0u);
  EXPECT_EQ(net.get_packets_at_location(e), (Ids{p3, p2}));
  EXPECT_EQ(net.packet_count_at(e), 2u);
}

TEST(NetSim, ActiveIndexFollowsEdgeAndInputPortQueuesOnly) {
  NetSim net(small_graph());
  const PacketLocation e = on_edge("A.out", "B.in");
  const Ulid p = make_packet(net);
  ExpectNetInvariants(net);
  EXPECT_TRUE(tables_of(net).locations().active().empty());  // OutsideNet is not tracked
  ok(net, action::TransportPacketToLocation{p, e});
  ASSERT_EQ(tables_of(net).locations().active().size(), 1u);
  EXPECT_EQ(tables_of(net).locations().active()[0]->first, e);
  const Ulid q = place_packet(net, at_input("B", "side"));
  EXPECT_EQ(tables_of(net).locations().active().size(), 2u);
  ok(net, action::ConsumePacket{p});
  ASSERT_EQ(tables_of(net).locations().active().size(), 1u);
  EXPECT_EQ(tables_of(net).locations().active()[0]->first, at_input("B", "side"));
  const Ulid epoch = new_epoch(net, "B", {{Name("side"), q}});
  EXPECT_TRUE(tables_of(net).locations().active().empty());  // Node locations are not tracked
  ok(net, action::CancelEpoch{epoch});
  EXPECT_TRUE(tables_of(net).locations().active().empty());
}

TEST(PacketLocation, EqualityHashAndDebugText) {
  const Ulid id = Ulid::FromParts(1, 2, 3);
  const PacketLocation node = PacketLocation::Node(id);
  EXPECT_EQ(node.debug_string(), "Node(" + id.to_string() + ")");
  EXPECT_EQ(PacketLocation::InputPort(Name("n"), Name("p\"q")).debug_string(),
            "InputPort(\"n\", \"p\\\"q\")");
  EXPECT_EQ(PacketLocation::OutputPort(id, Name("p")).debug_string(),
            "OutputPort(" + id.to_string() + ", \"p\")");
  EXPECT_EQ(on_edge("A.x", "B.y").debug_string(), "Edge(A.out.x -> B.in.y)");
  EXPECT_EQ(PacketLocation::OutsideNet().debug_string(), "OutsideNet");
  EXPECT_EQ(PacketLocation().debug_string(), "OutsideNet");

  EXPECT_EQ(node, PacketLocation::Node(id));
  EXPECT_EQ(node.hash(), PacketLocation::Node(id).hash());
  EXPECT_FALSE(node == PacketLocation::OutputPort(id, Name("p")));
  EXPECT_FALSE(at_input("n", "p") == at_input("n", "q"));
  EXPECT_EQ(at_input("n", "p").hash(),
            PacketLocation::InputPort(Name(std::string("n")), Name("p")).hash());
  EXPECT_EQ(on_edge("A.x", "B.y"), on_edge("A.x", "B.y"));
  EXPECT_FALSE(on_edge("A.x", "B.y") == on_edge("A.x", "B.z"));
  // Same fields under different kinds are different keys.
  EXPECT_NE(PacketLocation::Node(id).hash(), PacketLocation::OutputPort(id, Name()).hash());
}

}  // namespace
}  // namespace zellik
