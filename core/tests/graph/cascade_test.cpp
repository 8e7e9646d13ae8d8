#include <gtest/gtest.h>

#include <vector>

#include "support/graph_builders.h"
#include "zellik/base/internal_failure.h"
#include "zellik/graph/cascade.h"

namespace zellik {
namespace {

using testkit::edge;
using testkit::in_ref;
using testkit::node;

using Names = std::vector<Name>;

CascadeResult walk(const Graph& g, const std::vector<PortRef>& start) {
  auto result = cascade_backward(g, start);
  if (!result.ok()) {
    ADD_FAILURE() << "cascade failed at " << result.error().node_name.str() << "."
                  << result.error().port_name.str();
    return {};
  }
  return std::move(result).value();
}

void expect_unconnected(const Graph& g, const std::vector<PortRef>& start, const char* node_name,
                        const char* port_name) {
  const auto result = cascade_backward(g, start);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().kind, CascadeError::Kind::UnconnectedPort);
  EXPECT_EQ(result.error().node_name.str(), node_name);
  EXPECT_EQ(result.error().port_name.str(), port_name);
}

TEST(Cascade, SourceWithoutInputs) {
  const Graph g({node("A", {}, {"out"}), node("B", {"in"})}, {edge("A.out", "B.in")});
  const CascadeResult r = walk(g, {in_ref("B", "in")});
  EXPECT_EQ(r.source_nodes, Names{"A"});
  EXPECT_EQ(r.visited_nodes, Names{"A"});
}

TEST(Cascade, ChainQueuesInputsOfConnectedNodes) {
  const Graph g({node("A", {}, {"o"}), node("B", {"i"}, {"o"}), node("C", {"i"})},
                {edge("A.o", "B.i"), edge("B.o", "C.i")});
  const CascadeResult r = walk(g, {in_ref("C", "i")});
  EXPECT_EQ(r.source_nodes, Names{"A"});
  EXPECT_EQ(r.visited_nodes, (Names{"B", "A"}));
}

TEST(Cascade, NodeWhoseInputsAreAllUnconnectedIsASource) {
  const Graph g({node("A", {"idle"}, {"o"}), node("B", {"i"})}, {edge("A.o", "B.i")});
  EXPECT_EQ(walk(g, {in_ref("B", "i")}).source_nodes, Names{"A"});
}

TEST(Cascade, FailsAtUnconnectedPort) {
  // B has one fed and one unfed input: the walk must not stop with B half done.
  const Graph g({node("A", {}, {"o"}), node("B", {"x", "y"}, {"o"}), node("C", {"i"})},
                {edge("A.o", "B.x"), edge("B.o", "C.i")});
  expect_unconnected(g, {in_ref("C", "i")}, "B", "y");
  expect_unconnected(g, {in_ref("A", "nothing")}, "A", "nothing");
}

TEST(Cascade, DiamondListsSharedSourceOnce) {
  const Graph g(
      {node("A", {}, {"b", "c"}), node("B", {"i"}, {"o"}), node("C", {"i"}, {"o"}),
       node("D", {"in1", "in2"})},
      {edge("A.b", "B.i"), edge("A.c", "C.i"), edge("B.o", "D.in1"), edge("C.o", "D.in2")});
  const CascadeResult r = walk(g, {in_ref("D", "in1"), in_ref("D", "in2"), in_ref("D", "in1")});
  EXPECT_EQ(r.source_nodes, Names{"A"});
  EXPECT_EQ(r.visited_nodes, (Names{"B", "C", "A"}));
}

TEST(Cascade, FanInFollowsConstructorOrder) {
  const Graph g(
      {node("A", {}, {"o"}), node("B", {}, {"o"}), node("C", {}, {"o"}), node("D", {"i"})},
      {edge("C.o", "D.i"), edge("A.o", "D.i"), edge("B.o", "D.i")});
  const CascadeResult r = walk(g, {in_ref("D", "i")});
  EXPECT_EQ(r.source_nodes, (Names{"C", "A", "B"}));
  EXPECT_EQ(r.visited_nodes, (Names{"C", "A", "B"}));
}

TEST(Cascade, ClosedCycleEndsWithNoSources) {
  const Graph g({node("A", {"i"}, {"o"}), node("B", {"i"}, {"o"})},
                {edge("A.o", "B.i"), edge("B.o", "A.i")});
  const CascadeResult r = walk(g, {in_ref("A", "i")});
  EXPECT_TRUE(r.source_nodes.empty());
  EXPECT_EQ(r.visited_nodes, (Names{"B", "A"}));  // the start node is entered once, via the cycle
}

TEST(Cascade, EdgeFromMissingNodeIsInternalFailure) {
  const Graph g({node("B", {"i"})}, {edge("Ghost.o", "B.i")});
  try {
    cascade_backward(g, {in_ref("B", "i")});
    FAIL() << "cascade succeeded";
  } catch (const InternalFailure& failure) {
    EXPECT_STREQ(failure.what(), "Edge references non-existent node");
  }
}

}  // namespace
}  // namespace zellik
