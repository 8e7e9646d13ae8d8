#pragma once

// Small graphs made from input bytes, for the explorer's fuzz target: one
// to three nodes with up to two input and two output ports each, zero and
// small capacities, output ports left unconnected or wired to any input
// port (the node's own included, so cycles and self-loops come often),
// input and output salvo conditions over counts, dependency edges and
// request triggers on the nodes they enter. Every graph made is valid.

#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.h"
#include "support/graph_builders.h"
#include "zellik/graph/graph.h"
#include "zellik/graph/validation.h"

namespace zellik::fuzz {

inline const std::vector<Name>& in_port_names() {
  static const std::vector<Name> names = {Name("a"), Name("b")};
  return names;
}
inline const std::vector<Name>& out_port_names() {
  static const std::vector<Name> names = {Name("x"), Name("y")};
  return names;
}

inline PortSlotSpec random_slots(ByteInput& in) {
  switch (in.pick(6)) {
    case 0:
      return PortSlotSpec::Finite(0);
    case 1:
    case 2:
      return PortSlotSpec::Finite(1);
    case 3:
      return PortSlotSpec::Finite(2);
    default:
      return PortSlotSpec::Infinite();
  }
}

// A test of one port's count. Input conditions mostly ask for a packet
// (`wants_one`); now and then any test, which may hold on an empty port.
inline PortState random_port_state(ByteInput& in, bool wants_one) {
  using K = PortState::Kind;
  if (wants_one && in.pick(8) != 0) {
    switch (in.pick(4)) {
      case 0:
        return {K::Equals, 1 + in.pick(2)};
      case 1:
        return {K::GreaterThan, in.pick(2)};
      case 2:
        return {K::EqualsOrGreaterThan, 1 + in.pick(2)};
      default:
        return {K::NonEmpty};
    }
  }
  const auto kind = static_cast<K>(in.pick(9));
  return {kind, in.pick(3)};
}

inline SalvoConditionTerm random_term(ByteInput& in, const std::vector<Name>& ports, bool wants_one,
                                      int depth = 0) {
  const std::size_t shape = depth < 2 ? in.pick(8) : 0;
  if (ports.empty() || shape == 7) {
    return in.pick(4) == 0 ? SalvoConditionTerm::False() : SalvoConditionTerm::True();
  }
  if (shape == 4 || shape == 5) {
    std::vector<SalvoConditionTerm> terms;
    terms.push_back(random_term(in, ports, wants_one, depth + 1));
    terms.push_back(random_term(in, ports, false, depth + 1));
    return shape == 4 ? SalvoConditionTerm::And(std::move(terms))
                      : SalvoConditionTerm::Or(std::move(terms));
  }
  if (shape == 6) return SalvoConditionTerm::Not(random_term(in, ports, false, depth + 1));
  return SalvoConditionTerm::Port(in.one_of(ports), random_port_state(in, wants_one));
}

// A condition over `ports` (a node's input or output ports) that takes
// all, one or two packets from some of them.
inline SalvoCondition random_condition(ByteInput& in, const std::vector<Name>& ports, bool input) {
  SalvoCondition c;
  c.term = random_term(in, ports, input);
  for (const Name& port : ports) {
    switch (in.pick(4)) {
      case 0:
        break;
      case 1:
        c.ports.emplace(port, PacketCount::Count(1 + in.pick(2)));
        break;
      default:
        c.ports.emplace(port, PacketCount::All());
        break;
    }
  }
  if (!input) {
    const std::size_t most = in.pick(3);
    c.max_salvos = most == 0 ? MaxSalvos::Infinite() : MaxSalvos::Finite(most);
  }
  return c;
}

// A graph of one to three nodes N0, N1, N2, chosen by `in`.
inline Graph random_graph(ByteInput& in) {
  struct Shape {
    std::vector<Name> ins, outs;
  };
  const std::size_t count = 1 + in.pick(3);
  std::vector<Shape> shapes(count);
  std::vector<Node> nodes;
  for (std::size_t i = 0; i < count; ++i) {
    static constexpr std::string_view kNodes[] = {"N0", "N1", "N2"};
    static constexpr std::string_view kConditions[] = {"c0", "c1", "s0", "s1"};
    testkit::NodeBuilder b(kNodes[i]);
    Shape& s = shapes[i];
    for (std::size_t p = in.pick(3); p > 0; --p) s.ins.push_back(in_port_names()[p - 1]);
    for (std::size_t p = in.pick(3); p > 0; --p) s.outs.push_back(out_port_names()[p - 1]);
    for (const Name& port : s.ins) b.in(port.view(), random_slots(in));
    for (const Name& port : s.outs) b.out(port.view(), random_slots(in));
    const std::size_t in_conditions = s.ins.empty() ? 0 : in.pick(3);
    for (std::size_t c = 0; c < in_conditions; ++c)
      b.in_condition(kConditions[c], random_condition(in, s.ins, true));
    const std::size_t out_conditions = s.outs.empty() ? 0 : in.pick(3);
    for (std::size_t c = 0; c < out_conditions; ++c)
      b.out_condition(kConditions[2 + c], random_condition(in, s.outs, false));
    nodes.push_back(b.build());
  }
  std::vector<Edge> edges;
  std::vector<Edge> dependencies;
  std::vector<bool> entered(count, false);  // by a dependency edge
  for (std::size_t i = 0; i < count; ++i) {
    for (const Name& port : shapes[i].outs) {
      if (in.pick(4) == 0) continue;  // unconnected: what it sends leaves the net
      const std::size_t to = in.pick(count);
      if (shapes[to].ins.empty()) continue;
      const Edge e{PortRef{nodes[i].name, PortType::Output, port},
                   PortRef{nodes[to].name, PortType::Input, in.one_of(shapes[to].ins)}};
      edges.push_back(e);
      if (in.pick(3) == 0) {
        dependencies.push_back(e);
        entered[to] = true;
      }
    }
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (!entered[i]) continue;
    using T = DependencyRequestTrigger;
    switch (in.pick(4)) {
      case 0:
        break;
      case 1:
        nodes[i].dependency_request_config = DependencyRequestConfig{{T::OnStartup}, Name("r")};
        break;
      case 2:
        nodes[i].dependency_request_config =
            DependencyRequestConfig{{T::OnNoSalvoTriggered}, Name("r")};
        break;
      default:
        nodes[i].dependency_request_config =
            DependencyRequestConfig{{T::OnStartup, T::OnNoSalvoTriggered}, Name("r")};
        break;
    }
  }
  Graph graph = with_dependency_edges(Graph(std::move(nodes), std::move(edges)), dependencies);
  const std::vector<GraphValidationError> faults = validate(graph);
  if (!faults.empty()) finding("the fuzz target made an invalid graph: " + message(faults[0]));
  return graph;
}

}  // namespace zellik::fuzz
