#pragma once

// The graphs the explorer's tests and benchmarks explore, with their
// declared behaviours: gtest-free, shared with bench/.

#include <string_view>

#include "support/graph_builders.h"
#include "zellik/explore/behaviour.h"

namespace zellik::testkit {

// Takes one packet from each of `ports` once all of them hold one.
inline SalvoCondition one_from_each(std::initializer_list<std::string_view> ports) {
  std::vector<SalvoConditionTerm> terms;
  SalvoCondition c{MaxSalvos::Finite(1), {}, SalvoConditionTerm::True()};
  for (std::string_view p : ports) {
    terms.push_back(port_term(p, PortState::Kind::NonEmpty));
    c.ports.emplace(Name(p), PacketCount::Count(1));
  }
  c.term = SalvoConditionTerm::And(std::move(terms));
  return c;
}

// The edge packets are injected on in both graphs.
inline Edge feed_edge(std::string_view into) { return edge("feed.out", std::string(into) + ".in"); }

// feed -> split, which sends each packet left to fast and a new one right
// to batch; batch waits for two packets (its port holds `batch_capacity`);
// join takes one from fast and one from batch. Ports hold one packet
// elsewhere. With a capacity of 1 every schedule gets stuck.
inline Graph fork_join_graph(std::uint64_t batch_capacity) {
  const PortSlotSpec one = PortSlotSpec::Finite(1);
  std::vector<Node> nodes = {
      NodeBuilder("feed").out("out"),
      NodeBuilder("split")
          .in("in", one)
          .out("left")
          .out("right")
          .in_condition("take", when_non_empty("in"))
          .out_condition("both", condition(SalvoConditionTerm::And(
                                               {port_term("left", PortState::Kind::NonEmpty),
                                                port_term("right", PortState::Kind::NonEmpty)}),
                                           {"left", "right"})),
      NodeBuilder("fast")
          .in("in", one)
          .out("out")
          .in_condition("take", when_non_empty("in"))
          .out_condition("send", when_non_empty("out")),
      NodeBuilder("batch")
          .in("in", PortSlotSpec::Finite(batch_capacity))
          .out("out")
          .in_condition(
              "two", condition(port_term("in", PortState(PortState::Kind::EqualsOrGreaterThan, 2)),
                               {"in"}))
          .out_condition("send", when_non_empty("out")),
      NodeBuilder("join").in("a", one).in("b", one).in_condition("pair", one_from_each({"a", "b"})),
  };
  return Graph(std::move(nodes),
               {feed_edge("split"), edge("split.left", "fast.in"), edge("split.right", "batch.in"),
                edge("fast.out", "join.a"), edge("batch.out", "join.b")});
}

inline explore::Declarations fork_join_declarations(std::uint64_t packets) {
  explore::Declarations d;
  d.behaviours = {
      {Name("split"), {explore::Outcome{Name("left"), {{Name("right"), 1}}, {Name("both")}}}},
      {Name("fast"), {explore::Outcome{Name("out"), {}, {Name("send")}}}},
      {Name("batch"), {explore::Outcome{Name("out"), {}, {Name("send")}}}},
  };
  d.injections = {{PacketLocation::Edge(feed_edge("split")), packets}};
  return d;
}

// feed -> router, which sends each packet left or right; left and right
// pass it on; join takes one from each. Every port holds one packet.
inline Graph router_graph() {
  const PortSlotSpec one = PortSlotSpec::Finite(1);
  std::vector<Node> nodes = {
      NodeBuilder("feed").out("out"),
      NodeBuilder("router")
          .in("in", one)
          .out("left")
          .out("right")
          .in_condition("take", when_non_empty("in"))
          .out_condition("to_left", when_non_empty("left"))
          .out_condition("to_right", when_non_empty("right")),
      NodeBuilder("left")
          .in("in", one)
          .out("out")
          .in_condition("take", when_non_empty("in"))
          .out_condition("send", when_non_empty("out")),
      NodeBuilder("right")
          .in("in", one)
          .out("out")
          .in_condition("take", when_non_empty("in"))
          .out_condition("send", when_non_empty("out")),
      NodeBuilder("join").in("a", one).in("b", one).in_condition("pair", one_from_each({"a", "b"})),
  };
  return Graph(std::move(nodes), {feed_edge("router"), edge("router.left", "left.in"),
                                  edge("router.right", "right.in"), edge("left.out", "join.a"),
                                  edge("right.out", "join.b")});
}

inline explore::Declarations router_declarations(std::uint64_t packets) {
  explore::Declarations d;
  d.behaviours = {
      {Name("router"),
       {explore::Outcome{Name("left"), {}, {Name("to_left")}},
        explore::Outcome{Name("right"), {}, {Name("to_right")}}}},
      {Name("left"), {explore::Outcome{Name("out"), {}, {Name("send")}}}},
      {Name("right"), {explore::Outcome{Name("out"), {}, {Name("send")}}}},
  };
  d.injections = {{PacketLocation::Edge(feed_edge("router")), packets}};
  return d;
}

}  // namespace zellik::testkit
