#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zellik/base/name.h"
#include "zellik/graph/port_state.h"

namespace zellik {

// A boolean expression over port states. The tree is immutable and shared
// between copies, so copying is O(1) whatever the depth; every walk over it
// (evaluation, printing, port collection, destruction) is iterative, so a
// caller may nest terms arbitrarily deep. Intentionally copyable.
class SalvoConditionTerm {
 public:
  enum class Kind : std::uint8_t { True, False, Port, And, Or, Not };

  static SalvoConditionTerm True();
  static SalvoConditionTerm False();
  static SalvoConditionTerm Port(Name port_name, PortState state);
  static SalvoConditionTerm And(std::vector<SalvoConditionTerm> terms);
  static SalvoConditionTerm Or(std::vector<SalvoConditionTerm> terms);
  static SalvoConditionTerm Not(SalvoConditionTerm inner);

  Kind kind() const;
  // The port of a Port term (empty for other kinds).
  const Name& port_name() const;
  // The state of a Port term (Empty for other kinds).
  const PortState& port_state() const;
  // The sub-terms of an And or Or term (empty for other kinds).
  const std::vector<SalvoConditionTerm>& terms() const;
  // The sub-term of a Not term. Must only be called on a Not term.
  const SalvoConditionTerm& inner() const;

  // The text form, e.g. SalvoConditionTerm.not_(SalvoConditionTerm.true_()).
  std::string to_string() const;

  struct Node;  // defined in salvo_condition_term.cpp

 private:
  explicit SalvoConditionTerm(std::shared_ptr<const Node> node) : node_(std::move(node)) {}
  std::shared_ptr<const Node> node_;
};

// Adds the port name of every Port term anywhere in `term` to `into`.
void collect_ports_from_term(const SalvoConditionTerm& term, NameSet& into);

}  // namespace zellik
