#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/graph_builders.h"
#include "support/graph_zoo.h"
#include "zellik/graph/validation.h"
#include "zellik/net/record_codec.h"

namespace zellik {
namespace {

using namespace validation;
using testkit::condition;
using testkit::edge;
using testkit::in_ref;
using testkit::node;
using testkit::NodeBuilder;
using testkit::out_ref;
using testkit::port_term;
using testkit::when_non_empty;

std::vector<std::string> kinds(const std::vector<GraphValidationError>& errors) {
  std::vector<std::string> out;
  for (const auto& e : errors) out.emplace_back(kind_name(e));
  return out;
}

std::vector<std::string> messages(const std::vector<GraphValidationError>& errors) {
  std::vector<std::string> out;
  for (const auto& e : errors) out.push_back(message(e));
  return out;
}

using Texts = std::vector<std::string>;

TEST(Validation, MessagesAndKindsOfEveryVariant) {
  const PortRef a = out_ref("A", "x"), b = in_ref("B", "y");
  const std::vector<GraphValidationError> all = {
      MultipleEdgesFromOutputPort{a, 3},
      EdgeReferencesNonexistentNode{a, b, "B"},
      EdgeReferencesNonexistentPort{a, b, b},
      EdgeSourceNotOutputPort{b, a},
      EdgeTargetNotInputPort{b, a},
      SalvoConditionReferencesNonexistentPort{"N", "c", true, "p"},
      SalvoConditionTermReferencesNonexistentPort{"N", "c", false, "p"},
      InputSalvoConditionInvalidMaxSalvos{"N", "c", MaxSalvos::Finite(2)},
      DependencyEdgeNotInGraph{Edge{a, b}},
      DependencyRequestConfigWithoutDependencyEdges{"N"},
  };
  EXPECT_EQ(kinds(all), (Texts{"MultipleEdgesFromOutputPort", "EdgeReferencesNonexistentNode",
                               "EdgeReferencesNonexistentPort", "EdgeSourceNotOutputPort",
                               "EdgeTargetNotInputPort", "SalvoConditionReferencesNonexistentPort",
                               "SalvoConditionTermReferencesNonexistentPort",
                               "InputSalvoConditionInvalidMaxSalvos", "DependencyEdgeNotInGraph",
                               "DependencyRequestConfigWithoutDependencyEdges"}));
  EXPECT_EQ(messages(all),
            (Texts{
                "output port A.out.x has 3 outgoing edges (only 1 allowed)",
                "edge A.out.x -> B.in.y references non-existent node 'B'",
                "edge A.out.x -> B.in.y references non-existent port B.in.y",
                "edge source B.in.y must be an output port",
                "edge target A.out.x must be an input port",
                "input salvo condition 'c' on node 'N' references non-existent port 'p'",
                "output salvo condition 'c' on node 'N' has term referencing non-existent port 'p'",
                "input salvo condition 'c' on node 'N' has max_salvos=Finite(2), but must be "
                "Finite(1). Input salvos must have exactly one packet to trigger an epoch.",
                "dependency edge A.out.x -> B.in.y is not in the graph's edge set",
                "node 'N' has dependency_request_config but no dependency edges on its input ports",
            }));
  // Each reads back from its byte form (pickling uses it) as it was.
  for (const GraphValidationError& e : all) {
    const std::optional<GraphValidationError> back =
        decode_record<GraphValidationError>(encode_record(e));
    ASSERT_TRUE(back.has_value()) << message(e);
    EXPECT_EQ(message(*back), message(e));
    EXPECT_EQ(kind_name(*back), kind_name(e));
  }
}

TEST(Validation, EmptyAndWellFormedGraphsAreValid) {
  EXPECT_TRUE(validate(Graph({}, {})).empty());
  const Edge e = edge("A.x", "B.y");
  const Graph g = with_dependency_edges(
      Graph({node("A", {}, {"x"}),
             NodeBuilder("B")
                 .in("y")
                 .in_condition("go", when_non_empty("y"))
                 .out("o")
                 .out_condition("send", when_non_empty("o", MaxSalvos::Infinite()))
                 .requests({DependencyRequestTrigger::OnStartup})},
            {e}),
      {e});
  EXPECT_TRUE(validate(g).empty());
  // The graphs the randomised tests and the fuzz targets drive.
  for (const Graph& zoo : testkit::graph_zoo()) EXPECT_TRUE(validate(zoo).empty());
}

TEST(Validation, EdgeNamingMissingNodesReportsOneNode) {
  EXPECT_EQ(messages(validate(Graph({}, {edge("A.x", "B.y")}))),
            Texts{"edge A.out.x -> B.in.y references non-existent node 'A'"});
  EXPECT_EQ(messages(validate(Graph({node("A", {}, {"x"})}, {edge("A.x", "B.y")}))),
            Texts{"edge A.out.x -> B.in.y references non-existent node 'B'"});
}

TEST(Validation, EdgeYieldsAtMostTwoErrorsSourceFirst) {
  // Backwards: from an input port to an output port.
  const Edge backwards{in_ref("A", "i"), out_ref("B", "o")};
  EXPECT_EQ(kinds(validate(Graph({node("A", {"i"}), node("B", {}, {"o"})}, {backwards}))),
            (Texts{"EdgeSourceNotOutputPort", "EdgeTargetNotInputPort"}));
  // Right direction, both port names missing.
  const auto both_missing = validate(Graph({node("A"), node("B")}, {edge("A.x", "B.y")}));
  ASSERT_EQ(both_missing.size(), 2u);
  using Missing = EdgeReferencesNonexistentPort;
  EXPECT_EQ(std::get<Missing>(both_missing[0]).missing_port, out_ref("A", "x"));
  EXPECT_EQ(std::get<Missing>(both_missing[1]).missing_port, in_ref("B", "y"));
  // Only the target input missing.
  EXPECT_EQ(messages(validate(Graph({node("A", {}, {"x"}), node("B")}, {edge("A.x", "B.y")}))),
            Texts{"edge A.out.x -> B.in.y references non-existent port B.in.y"});
}

TEST(Validation, FanOutCountsDistinctEdgesPerSource) {
  const std::vector<Node> nodes{node("A", {}, {"x"}), node("B", {"y", "z"})};
  EXPECT_TRUE(validate(Graph(nodes, {edge("A.x", "B.y"), edge("A.x", "B.y")})).empty());
  const auto errors =
      validate(Graph(nodes, {edge("A.x", "B.y"), edge("A.x", "B.z"), edge("A.x", "B.y")}));
  EXPECT_EQ(messages(errors), Texts{"output port A.out.x has 2 outgoing edges (only 1 allowed)"});
  // Three distinct edges from one port, whichever of them the tail keeps.
  const auto three = validate(Graph({node("A", {}, {"x", "w"}), node("B", {"y", "z", "v"})},
                                    {edge("A.x", "B.y"), edge("A.x", "B.z"), edge("A.w", "B.v"),
                                     edge("A.x", "B.v"), edge("A.x", "B.z")}));
  EXPECT_EQ(messages(three), Texts{"output port A.out.x has 3 outgoing edges (only 1 allowed)"});
  ASSERT_EQ(three.size(), 1u);
  EXPECT_EQ(std::get<MultipleEdgesFromOutputPort>(three[0]).output_port, out_ref("A", "x"));
}

TEST(Validation, TermNamingAMissingPortOftenReportsItOnce) {
  const SalvoConditionTerm term = SalvoConditionTerm::Or(
      {port_term("gone", PortState::Kind::Full),
       SalvoConditionTerm::Not(SalvoConditionTerm::And(
           {port_term("p", PortState::Kind::Empty), port_term("gone", PortState::Kind::Empty)})),
       port_term("lost", PortState::Kind::Empty), port_term("gone", PortState::Kind::NonEmpty)});
  const auto errors =
      validate(Graph({NodeBuilder("N").in("p").in_condition("c", condition(term))}, {}));
  ASSERT_EQ(errors.size(), 2u);
  NameSet missing;
  for (const auto& error : errors) {
    missing.insert(std::get<SalvoConditionTermReferencesNonexistentPort>(error).missing_port);
  }
  EXPECT_EQ(missing, (NameSet{Name("gone"), Name("lost")}));
}

TEST(Validation, InputConditionsMustFireExactlyOnce) {
  const auto errors =
      validate(Graph({NodeBuilder("N")
                          .in("p")
                          .in_condition("inf", when_non_empty("p", MaxSalvos::Infinite()))
                          .in_condition("one", when_non_empty("p", MaxSalvos::Finite(1)))
                          .in_condition("zero", when_non_empty("p", MaxSalvos::Finite(0)))
                          .out("q")
                          .out_condition("out", when_non_empty("q", MaxSalvos::Infinite()))},
                     {}));
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_NE(message(errors[0]).find("condition 'inf' on node 'N' has max_salvos=Infinite,"),
            std::string::npos);
  EXPECT_EQ(std::get<InputSalvoConditionInvalidMaxSalvos>(errors[1]).max_salvos,
            MaxSalvos::Finite(0));
}

TEST(Validation, ConditionPortsCheckedAgainstOwnSide) {
  // "p" exists only as an input; "q" only as an output.
  const SalvoConditionTerm twice = SalvoConditionTerm::And(
      {port_term("q", PortState::Kind::Empty), port_term("q", PortState::Kind::Full)});
  const auto errors =
      validate(Graph({NodeBuilder("N")
                          .in("p")
                          .out("o")
                          .in_condition("c1", condition(twice, {"q"}))
                          .in_condition("c0", condition(SalvoConditionTerm::True(), {"p"}))
                          .out_condition("d", condition(port_term("p", PortState::Kind::Empty)))},
                     {}));
  EXPECT_EQ(messages(errors),
            (Texts{
                "input salvo condition 'c1' on node 'N' references non-existent port 'q'",
                "input salvo condition 'c1' on node 'N' has term referencing non-existent port 'q'",
                "output salvo condition 'd' on node 'N' has term referencing non-existent port 'p'",
            }));
}

TEST(Validation, RequestConfigNeedsDependencyEdgeIntoNode) {
  const Edge into_ghost_port = edge("A.x", "B.ghost");
  const Graph configured({node("A", {}, {"x"}), NodeBuilder("B").in("y").requests({})},
                         {into_ghost_port});
  EXPECT_EQ(kinds(validate(configured)), (Texts{"EdgeReferencesNonexistentPort",
                                                "DependencyRequestConfigWithoutDependencyEdges"}));
  // A dependency edge into the node is enough, even into a port it lacks.
  EXPECT_EQ(kinds(validate(with_dependency_edges(configured, {into_ghost_port}))),
            Texts{"EdgeReferencesNonexistentPort"});
  // One that targets an output reference of the node is not.
  const Edge to_output{out_ref("A", "x"), out_ref("B", "y")};
  EXPECT_EQ(kinds(validate(with_dependency_edges(configured, {to_output}))),
            (Texts{"EdgeReferencesNonexistentPort", "DependencyEdgeNotInGraph",
                   "DependencyRequestConfigWithoutDependencyEdges"}));
}

// A clean check of the nodes and edges is remembered by the graph's shared
// tables and skipped by validate_unless_checked; the dependency-edge passes
// run for every graph, including those that share the tables; a graph with
// faults there is never taken as checked.
TEST(Validation, OnlyACleanCheckOfNodesAndEdgesIsRemembered) {
  const Graph faulty({node("A", {}, {"x"})}, {edge("A.x", "B.y")});
  EXPECT_EQ(kinds(validate(faulty)), Texts{"EdgeReferencesNonexistentNode"});
  EXPECT_FALSE(faulty.nodes_and_edges_checked());
  EXPECT_EQ(kinds(validate_unless_checked(faulty)), Texts{"EdgeReferencesNonexistentNode"});

  const Graph requesting({node("A", {}, {"x"}), NodeBuilder("B").in("y").requests({})},
                         {edge("A.x", "B.y")});
  EXPECT_FALSE(requesting.nodes_and_edges_checked());
  EXPECT_EQ(kinds(validate_unless_checked(requesting)),
            Texts{"DependencyRequestConfigWithoutDependencyEdges"});
  EXPECT_TRUE(requesting.nodes_and_edges_checked());
  EXPECT_EQ(kinds(validate(requesting)), Texts{"DependencyRequestConfigWithoutDependencyEdges"});
  EXPECT_EQ(kinds(validate_unless_checked(requesting)),
            Texts{"DependencyRequestConfigWithoutDependencyEdges"});

  const Graph served = with_dependency_edges(requesting, {edge("A.x", "B.y")});
  EXPECT_TRUE(served.nodes_and_edges_checked());
  EXPECT_TRUE(validate_unless_checked(served).empty());
  const Graph stray = with_dependency_edges(requesting, {edge("C.x", "B.y")});
  EXPECT_EQ(kinds(validate_unless_checked(stray)), Texts{"DependencyEdgeNotInGraph"});
}

TEST(Validation, ReportsPassesInFixedOrder) {
  const Graph g = with_dependency_edges(
      Graph({node("A", {}, {"x"}),
             NodeBuilder("B")
                 .in("y")
                 .requests({DependencyRequestTrigger::OnNoSalvoTriggered})
                 .in_condition("c", when_non_empty("y", MaxSalvos::Infinite()))},
            {edge("A.x", "B.y"), edge("A.x", "B.z")}),
      {edge("C.x", "A.y")});
  EXPECT_EQ(kinds(validate(g)),
            (Texts{"EdgeReferencesNonexistentPort", "MultipleEdgesFromOutputPort",
                   "InputSalvoConditionInvalidMaxSalvos", "DependencyEdgeNotInGraph",
                   "DependencyRequestConfigWithoutDependencyEdges"}));
}

}  // namespace
}  // namespace zellik
