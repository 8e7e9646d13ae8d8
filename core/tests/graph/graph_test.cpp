#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/graph_builders.h"
#include "zellik/base/internal_failure.h"
#include "zellik/graph/graph.h"

namespace zellik {
namespace {

using testkit::edge;
using testkit::in_ref;
using testkit::node;
using testkit::out_ref;

TEST(GraphText, PortRefAndEdgeForms) {
  EXPECT_EQ(in_ref("n", "p").to_string(), "n.in.p");
  EXPECT_EQ(out_ref("A", "x").to_string(), "A.out.x");
  EXPECT_EQ(edge("m.q", "n.p").to_string(), "m.out.q -> n.in.p");
  EXPECT_EQ(port_type_debug_name(PortType::Input), "Input");
  EXPECT_EQ(port_type_debug_name(PortType::Output), "Output");
}

TEST(Graph, DuplicateNodeNameNamesFirstRepeat) {
  try {
    Graph g({node("A"), node("B"), node("B"), node("A")}, {});
    FAIL() << "construction succeeded";
  } catch (const InternalFailure& failure) {
    EXPECT_STREQ(failure.what(), "Duplicate node name: 'B'");
  }
}

TEST(Graph, SameEdgeTwiceIsOneEdgeButListedTwiceUnderHead) {
  const Graph g({node("A", {}, {"x"}), node("B", {"y"})}, {edge("A.x", "B.y"), edge("A.x", "B.y")});
  EXPECT_EQ(g.edge_count(), 1u);
  EXPECT_EQ(g.get_edges_by_head(in_ref("B", "y")).size(), 2u);
  ASSERT_NE(g.get_edge_by_tail(out_ref("A", "x")), nullptr);
  EXPECT_EQ(*g.get_edge_by_tail(out_ref("A", "x")), edge("A.x", "B.y"));
}

TEST(Graph, EdgesTakeTheirNodesNamesAndKeepTheirValues) {
  // An input and an output port of one name: each end takes its own kind's.
  const std::vector<Edge> given = {edge("A.x", "B.x"), edge("B.x", "A.x"), edge("A.x", "Ghost.y")};
  const Graph g({node("A", {"x"}, {"x"}), node("B", {"x"}, {"x"})}, given);
  EXPECT_EQ(g.edges_in_order(), given);
  auto shared = [](const Name& a, const Name& b) { return &a.str() == &b.str(); };
  for (const Edge& e : g.edges_in_order()) {
    const Node& from = *g.find_node(e.source.node_name);
    EXPECT_TRUE(shared(e.source.node_name, from.name));
    EXPECT_TRUE(shared(e.source.port_name, from.out_ports.find(Name("x"))->first));
    if (const Node* to = g.find_node(e.target.node_name)) {
      EXPECT_TRUE(shared(e.target.node_name, to->name));
      EXPECT_TRUE(shared(e.target.port_name, to->in_ports.find(Name("x"))->first));
    }
  }
}

TEST(Graph, LaterEdgeFromOneTailWins) {
  const Graph g({}, {edge("A.x", "B.y"), edge("A.x", "C.z")});
  EXPECT_EQ(g.edge_count(), 2u);
  ASSERT_NE(g.get_edge_by_tail(out_ref("A", "x")), nullptr);
  EXPECT_EQ(*g.get_edge_by_tail(out_ref("A", "x")), edge("A.x", "C.z"));
}

TEST(Graph, HeadListKeepsConstructorOrder) {
  const Graph g({}, {edge("C.o", "D.in"), edge("A.o", "D.in"), edge("B.o", "D.in")});
  const auto& heads = g.get_edges_by_head(in_ref("D", "in"));
  ASSERT_EQ(heads.size(), 3u);
  EXPECT_EQ(heads[0].source.node_name.str(), "C");
  EXPECT_EQ(heads[1].source.node_name.str(), "A");
  EXPECT_EQ(heads[2].source.node_name.str(), "B");
}

TEST(Graph, LookupsOfAbsentKeysAreEmpty) {
  // Edges naming nodes that do not exist are accepted as they are.
  const Graph g({node("A", {}, {"x"})}, {edge("A.x", "Ghost.y")});
  EXPECT_EQ(g.node_count(), 1u);
  EXPECT_TRUE(g.get_edges_by_head(in_ref("A", "x")).empty());
  EXPECT_TRUE(g.get_edges_by_head(in_ref("Nobody", "y")).empty());
  EXPECT_EQ(g.get_edges_by_head(in_ref("Ghost", "y")).size(), 1u);
  // The lookups compare whole references, port type included.
  EXPECT_EQ(g.get_edge_by_tail(in_ref("A", "x")), nullptr);
  EXPECT_TRUE(g.get_edges_by_head(out_ref("Ghost", "y")).empty());
  EXPECT_NE(g.find_node("A"), nullptr);
  EXPECT_EQ(g.find_node("Ghost"), nullptr);
}

TEST(DependencyEdges, RepeatsCollapseAndPortTypeCounts) {
  const Edge e = edge("A.x", "B.y");
  Edge flipped = e;
  flipped.target.port_type = PortType::Output;
  const Graph g = with_dependency_edges(Graph({}, {e}), {e, e});
  EXPECT_EQ(g.dependency_edges().size(), 1u);
  EXPECT_TRUE(is_dependency_edge(g, e));
  EXPECT_FALSE(is_dependency_edge(g, flipped));
  EXPECT_FALSE(is_dependency_edge(Graph({}, {e}), e));
}

TEST(DependencyEdges, SecondCallReplacesTheSet) {
  const Edge first = edge("A.x", "B.y");
  const Edge second = edge("C.x", "D.y");
  const Graph g = with_dependency_edges(with_dependency_edges(Graph({}, {}), {first}), {second});
  EXPECT_FALSE(g.is_dependency_edge(first));
  EXPECT_TRUE(g.is_dependency_edge(second));
}

// Graphs share their tables between copies; each copy must still behave as
// a value of its own.
TEST(Graph, NodePositionIsTheIterationPlaceOfThatVeryNode) {
  const Graph g({node("A"), node("B"), node("C")}, {});
  const Graph copy = g;  // shares the nodes
  std::size_t expected = 0;
  for (const auto& [name, n] : g.nodes()) {
    EXPECT_EQ(g.nodes().position(n), expected) << name.str();
    EXPECT_EQ(copy.nodes().position(*copy.find_node(name)), expected) << name.str();
    ++expected;
  }
  // An equal node of another graph, or a node held elsewhere, is not here.
  const Graph other({node("A"), node("B"), node("C")}, {});
  const Node loose = *g.find_node("B");
  EXPECT_EQ(g.nodes().position(*other.find_node("B")), 3u);
  EXPECT_EQ(g.nodes().position(loose), 3u);
  EXPECT_EQ(Graph({}, {}).nodes().position(loose), 0u);
}

TEST(Graph, CopiesAndTheirNodesAreIndependentValues) {
  const Edge e = edge("A.x", "B.y");
  const Graph original({node("A", {}, {"x"}), node("B", {"y"})}, {e});
  Graph copy = original;
  copy = with_dependency_edges(copy, {e});
  EXPECT_TRUE(copy.is_dependency_edge(e));
  EXPECT_FALSE(original.is_dependency_edge(e));
  EXPECT_EQ(&copy.nodes(), &original.nodes());  // shared, not copied

  Node a = *original.find_node("A");
  a.out_ports.insert_or_assign(Name("extra"), Port{});
  EXPECT_EQ(a.out_ports.size(), 2u);
  EXPECT_EQ(original.find_node("A")->out_ports.size(), 1u);
  EXPECT_FALSE(original.find_node("A")->out_ports.contains(std::string_view("extra")));
}

}  // namespace
}  // namespace zellik
