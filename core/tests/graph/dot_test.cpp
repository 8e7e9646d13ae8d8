#include <gtest/gtest.h>

#include <string>

#include "support/graph_builders.h"
#include "zellik/graph/dot.h"

namespace zellik {
namespace {

using testkit::edge;
using testkit::node;
using testkit::NodeBuilder;

TEST(Dot, LabelTextEscapesMarkupBackslashesAndControlCharacters) {
  EXPECT_EQ(dot_label_text("plain ünï ✓"), "plain ünï ✓");
  EXPECT_EQ(dot_label_text("<a & \"b\">"), "&lt;a &amp; &quot;b&quot;&gt;");
  EXPECT_EQ(dot_label_text("a\\b\\"), "a\\\\b\\\\");
  EXPECT_EQ(dot_label_text("x\ny\tz\x01"), "x\\\\ny\\\\tz\\\\x01");
}

TEST(Dot, NamesAppearOnlyInLabelsAndTheTextDoesNotDependOnHashOrder) {
  const Graph graph({NodeBuilder("B\"").in("in", PortSlotSpec::Finite(2)), node("A", {}, {"out"})},
                    {edge("A.out", "B\".in")});
  const std::string dot = to_dot(graph);
  // Nodes get ids in name order; ports are addressed by generated ids.
  EXPECT_NE(dot.find("  n0 [label=<"), std::string::npos);
  EXPECT_NE(dot.find("<B>B&quot;</B>"), std::string::npos);
  EXPECT_NE(dot.find("in [2]"), std::string::npos);
  EXPECT_NE(dot.find("  n0:o0:e -> n1:i0:w;"), std::string::npos);
  EXPECT_EQ(dot.find("\"B\\\""), std::string::npos);

  const Graph reordered(
      {node("A", {}, {"out"}), NodeBuilder("B\"").in("in", PortSlotSpec::Finite(2))},
      {edge("A.out", "B\".in")});
  EXPECT_EQ(to_dot(reordered), dot);
}

TEST(Dot, EdgesToMissingNodesAndPortsAreStillDrawn) {
  const Edge to_ghost = edge("A.out", "ghost.in");
  const Edge to_missing_port = edge("A.nope", "A.in");
  const Graph graph = with_dependency_edges(
      Graph({node("A", {"in"}, {"out"})}, {to_ghost, to_missing_port}), {to_ghost});
  const std::string dot = to_dot(graph);
  EXPECT_NE(dot.find("  m0 [shape=box, style=dashed, label=<ghost>];"), std::string::npos);
  EXPECT_NE(dot.find("  n0:o0:e -> m0;"), std::string::npos);
  EXPECT_NE(dot.find("  n0 -> n0:i0:w;"), std::string::npos);
  EXPECT_NE(dot.find("  n0:o0:e -> m0 [style=dashed"), std::string::npos);
}

TEST(Dot, LiveStateMarksLoadedEdgesFullPortsAndEpochs) {
  const Edge feed = edge("A.out", "B.in");
  const Graph graph({node("A", {}, {"out"}), NodeBuilder("B").in("in", PortSlotSpec::Finite(1))},
                    {feed});
  DotLiveState live;
  live.packets_on_edge[feed] = 3;
  live.packets_at_port[PortRef{Name("B"), PortType::Input, Name("in")}] = 1;
  live.epochs[Name("A")] = DotLiveState::NodeEpochs{1, 2, 1};
  live.packets_outside = 1;
  const std::string dot = to_dot(graph, live);
  EXPECT_NE(dot.find("label=<3 packets>"), std::string::npos);
  EXPECT_NE(dot.find("BGCOLOR=\"#ffc9c0\">in [1] &#9679; 1"), std::string::npos);  // full
  EXPECT_NE(dot.find("startable 1 / running 2"), std::string::npos);
  EXPECT_NE(dot.find("1 packet inside"), std::string::npos);
  EXPECT_NE(dot.find("outside the net: 1 packet>"), std::string::npos);
  EXPECT_EQ(to_dot(graph).find("startable"), std::string::npos);
}

TEST(Dot, BlockedNodesAreDrawnWithTheConditionsTheyWaitOn) {
  const Edge feed = edge("A.out", "B.in");
  const Graph graph(
      {node("A", {}, {"out"}), NodeBuilder("B")
                                   .in("in")
                                   .in_condition("two", testkit::when_non_empty("in"))
                                   .in_condition("one", testkit::when_non_empty("in"))},
      {feed});
  DotLiveState live;
  live.packets_on_edge[feed] = 1;
  const std::string plain = to_dot(graph, live);
  live.blocked[Name("B")] = {Name("two")};
  const std::string dot = to_dot(graph, live);
  EXPECT_NE(dot.find("<B>B</B><BR/><FONT COLOR=\"#a01010\"><B>blocked</B></FONT>"),
            std::string::npos);
  EXPECT_NE(dot.find("&#10007; in: two (waits)</FONT>"), std::string::npos);
  // The condition it does not wait on, and the node that is not blocked, are as before.
  EXPECT_NE(dot.find("<FONT POINT-SIZE=\"9\">in: one</FONT>"), std::string::npos);
  EXPECT_EQ(dot.find("<B>A</B><BR/><FONT COLOR"), std::string::npos);
  EXPECT_NE(dot.find("label=<outside the net: 0 packets; stuck: 1 blocked node>"),
            std::string::npos);
  EXPECT_EQ(plain.find("blocked"), std::string::npos);
  EXPECT_EQ(plain.find("waits"), std::string::npos);
}

}  // namespace
}  // namespace zellik
