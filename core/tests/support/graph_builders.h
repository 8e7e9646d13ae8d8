#pragma once

// Small builders for graph records, shared by the core tests.

#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

#include "zellik/graph/graph.h"

namespace zellik::testkit {

inline PortRef in_ref(std::string_view node, std::string_view port) {
  return PortRef{Name(node), PortType::Input, Name(port)};
}

inline PortRef out_ref(std::string_view node, std::string_view port) {
  return PortRef{Name(node), PortType::Output, Name(port)};
}

// edge("A.x", "B.y") runs from output port x of A to input port y of B.
inline Edge edge(std::string_view from, std::string_view to) {
  auto split = [](std::string_view text) {
    const auto dot = text.find('.');
    return std::pair{text.substr(0, dot), text.substr(dot + 1)};
  };
  const auto [source_node, source_port] = split(from);
  const auto [target_node, target_port] = split(to);
  return Edge{out_ref(source_node, source_port), in_ref(target_node, target_port)};
}

inline SalvoConditionTerm port_term(std::string_view port, PortState state) {
  return SalvoConditionTerm::Port(Name(port), state);
}

// A condition over `term` that takes all packets of each of `take`.
inline SalvoCondition condition(SalvoConditionTerm term,
                                std::initializer_list<std::string_view> take = {},
                                MaxSalvos max_salvos = MaxSalvos::Finite(1)) {
  SalvoCondition result{max_salvos, {}, std::move(term)};
  for (std::string_view port : take) result.ports.emplace(Name(port), PacketCount::All());
  return result;
}

// Takes every packet of `port` once the port holds one.
inline SalvoCondition when_non_empty(std::string_view port,
                                     MaxSalvos max_salvos = MaxSalvos::Finite(1)) {
  return condition(port_term(port, PortState::Kind::NonEmpty), {port}, max_salvos);
}

// NodeBuilder("B").in("x").out("y", PortSlotSpec::Finite(1)).in_condition(...)
class NodeBuilder {
 public:
  explicit NodeBuilder(std::string_view name) { node_.name = Name(name); }

  NodeBuilder& in(std::string_view port, PortSlotSpec slots = PortSlotSpec::Infinite()) {
    node_.in_ports.insert_or_assign(Name(port), Port{slots});
    return *this;
  }
  NodeBuilder& out(std::string_view port, PortSlotSpec slots = PortSlotSpec::Infinite()) {
    node_.out_ports.insert_or_assign(Name(port), Port{slots});
    return *this;
  }
  NodeBuilder& in_condition(std::string_view name, SalvoCondition c) {
    node_.in_salvo_conditions.insert(Name(name), std::move(c));
    return *this;
  }
  NodeBuilder& out_condition(std::string_view name, SalvoCondition c) {
    node_.out_salvo_conditions.insert(Name(name), std::move(c));
    return *this;
  }
  NodeBuilder& requests(std::vector<DependencyRequestTrigger> triggers,
                        std::string_view label = "req") {
    node_.dependency_request_config = DependencyRequestConfig{std::move(triggers), Name(label)};
    return *this;
  }

  Node build() const { return node_; }
  operator Node() const { return node_; }  // NOLINT: lets builders stand in node lists

 private:
  Node node_;
};

// A node with the given plain input and output ports and no conditions.
inline Node node(std::string_view name, std::initializer_list<std::string_view> ins = {},
                 std::initializer_list<std::string_view> outs = {}) {
  NodeBuilder b(name);
  for (std::string_view p : ins) b.in(p);
  for (std::string_view p : outs) b.out(p);
  return b.build();
}

}  // namespace zellik::testkit
