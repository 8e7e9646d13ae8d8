#pragma once

// Small graphs that between them use every feature the engine has: fan-in,
// finite and zero capacities, unconnected output ports (orphans), requests
// at startup and when idle, dependency edges in a cycle, a node feeding
// itself, and names that quoting and parsing get wrong easily. Shared by
// the randomised tests and the fuzz targets (graph_zoo()).

#include <string_view>
#include <vector>

#include "support/graph_builders.h"
#include "zellik/graph/graph.h"

namespace zellik::testkit {

// S and T feed M.a (fan-in, capacity 2). M forwards through x to K and has
// an unconnected output u. K (capacity 1) feeds R, which needs two packets at
// once, asks for work at startup and whenever it cannot fire.
inline Graph roundtrip_graph() {
  const SalvoCondition emit = condition(SalvoConditionTerm::True(), {"o"}, MaxSalvos::Infinite());
  SalvoCondition pair = condition(port_term("a", {PortState::Kind::GreaterThan, 1}));
  pair.ports.emplace(Name("a"), PacketCount::Count(2));
  SalvoCondition one = condition(port_term("a", PortState::Kind::NonEmpty));
  one.ports.emplace(Name("a"), PacketCount::Count(1));
  const SalvoCondition fwd = condition(SalvoConditionTerm::True(), {"x"}, MaxSalvos::Infinite());
  const SalvoCondition spill = condition(port_term("u", PortState::Kind::NonEmpty), {"u"});
  const SalvoCondition pass = condition(SalvoConditionTerm::True(), {"out"}, MaxSalvos::Infinite());
  const SalvoCondition two = condition(port_term("in", {PortState::Kind::Equals, 2}), {"in"});
  const Edge k_to_r = edge("K.out", "R.in");
  return with_dependency_edges(
      Graph({NodeBuilder("S").out("o").out_condition("emit", emit),
             NodeBuilder("T").out("o").out_condition("emit", emit),
             NodeBuilder("M")
                 .in("a", PortSlotSpec::Finite(2))
                 .out("x")
                 .out("u", PortSlotSpec::Finite(1))
                 .in_condition("pair", pair)
                 .in_condition("one", one)
                 .out_condition("fwd", fwd)
                 .out_condition("spill", spill),
             NodeBuilder("K")
                 .in("in", PortSlotSpec::Finite(1))
                 .out("out")
                 .in_condition("go", when_non_empty("in"))
                 .out_condition("pass", pass),
             NodeBuilder("R")
                 .in("in")
                 .in_condition("two", two)
                 .requests({DependencyRequestTrigger::OnStartup,
                            DependencyRequestTrigger::OnNoSalvoTriggered},
                           "want")},
            {edge("S.o", "M.a"), edge("T.o", "M.a"), edge("M.x", "K.in"), k_to_r}),
      {k_to_r});
}

// The pipeline of the Python tests: A sends through out to B.in (capacity 2,
// a dependency edge); B takes one salvo and may load into out (capacity 1,
// no edge: orphans) or spare.
inline Graph pipeline_graph() {
  const Edge a_to_b = edge("A.out", "B.in");
  return with_dependency_edges(
      Graph({NodeBuilder("A").out("out").out_condition(
                 "send", condition(port_term("out", PortState::Kind::NonEmpty), {"out"},
                                   MaxSalvos::Infinite())),
             NodeBuilder("B")
                 .in("in", PortSlotSpec::Finite(2))
                 .out("out", PortSlotSpec::Finite(1))
                 .out("spare")
                 .in_condition("take", when_non_empty("in"))
                 .out_condition("emit", when_non_empty("out"))},
            {a_to_b}),
      {a_to_b});
}

// Names with quotes, backslashes, arrows, dots, blanks and non-ASCII text; a
// port that never has room (Finite(0)); a condition over counts with And, Or
// and Not; a node feeding itself.
inline Graph awkward_graph() {
  using K = PortState::Kind;
  const SalvoConditionTerm counts = SalvoConditionTerm::Or(
      {SalvoConditionTerm::And({port_term("in \"x\"", {K::GreaterThan, 1}),
                                SalvoConditionTerm::Not(port_term("zero", K::NonEmpty))}),
       port_term("in \"x\"", {K::Equals, 1})});
  SalvoCondition some = condition(counts, {"zero"});
  some.ports.emplace(Name("in \"x\""), PacketCount::Count(1));
  constexpr std::string_view kOdd = "Ünï -> .in.";
  return Graph({NodeBuilder(kOdd)
                    .in("in \"x\"", PortSlotSpec::Finite(3))
                    .in("zero", PortSlotSpec::Finite(0))
                    .out("a\\b")
                    .out("", PortSlotSpec::Finite(1))
                    .in_condition("some", some)
                    .out_condition("both", condition(SalvoConditionTerm::True(), {"a\\b", ""}))
                    .out_condition("never", condition(SalvoConditionTerm::False())),
                NodeBuilder("loop")
                    .in("i", PortSlotSpec::Finite(1))
                    .out("o")
                    .out("back")
                    .in_condition("go", when_non_empty("i"))
                    .out_condition("again", when_non_empty("o", MaxSalvos::Infinite()))
                    .out_condition("return", when_non_empty("back"))},
               {Edge{out_ref(kOdd, "a\\b"), in_ref("loop", "i")}, edge("loop.o", "loop.i"),
                Edge{out_ref("loop", "back"), in_ref(kOdd, "in \"x\"")}});
}

// P and Q feed each other and each asks the other for work, at startup and
// whenever it cannot fire: the request walk meets a cycle.
inline Graph request_cycle_graph() {
  const Edge p_to_q = edge("P.o", "Q.i");
  const Edge q_to_p = edge("Q.o", "P.i");
  const auto requesting = [](const char* name) {
    return NodeBuilder(name)
        .in("i", PortSlotSpec::Finite(1))
        .out("o", PortSlotSpec::Finite(2))
        .in_condition("take", when_non_empty("i"))
        .out_condition("give", when_non_empty("o", MaxSalvos::Infinite()))
        .requests(
            {DependencyRequestTrigger::OnStartup, DependencyRequestTrigger::OnNoSalvoTriggered},
            "more");
  };
  return with_dependency_edges(Graph({requesting("P"), requesting("Q")}, {p_to_q, q_to_p}),
                               {p_to_q, q_to_p});
}

// One node and no edges: whatever it sends leaves the net as an orphan.
inline Graph lone_node_graph() {
  return Graph({NodeBuilder("A")
                    .in("in")
                    .out("o")
                    .in_condition("take", when_non_empty("in"))
                    .out_condition("send", when_non_empty("o"))},
               {});
}

inline std::vector<Graph> graph_zoo() {
  return {pipeline_graph(), roundtrip_graph(), awkward_graph(), request_cycle_graph(),
          lone_node_graph()};
}

}  // namespace zellik::testkit
