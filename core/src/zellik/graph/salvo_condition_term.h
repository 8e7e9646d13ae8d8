#pragma once

#include <cstddef>
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

// Calls `fn(port_name)` for every Port term anywhere in `term`, depth first
// and left to right, repeats included. Iterative like every walk over terms:
// only the sub-terms still to visit are kept, on a local stack, and a term
// with at most one sub-term at each level needs none.
template <class Fn>
void for_each_port_in_term(const SalvoConditionTerm& term, Fn&& fn) {
  std::vector<const SalvoConditionTerm*> pending;
  const SalvoConditionTerm* current = &term;
  for (;;) {
    switch (current->kind()) {
      case SalvoConditionTerm::Kind::Port:
        fn(current->port_name());
        break;
      case SalvoConditionTerm::Kind::Not:
        current = &current->inner();
        continue;
      case SalvoConditionTerm::Kind::And:
      case SalvoConditionTerm::Kind::Or: {
        const std::vector<SalvoConditionTerm>& subterms = current->terms();
        if (subterms.empty()) break;
        for (std::size_t i = subterms.size(); i-- > 1;) pending.push_back(&subterms[i]);
        current = &subterms.front();
        continue;
      }
      case SalvoConditionTerm::Kind::True:
      case SalvoConditionTerm::Kind::False:
        break;
    }
    if (pending.empty()) return;
    current = pending.back();
    pending.pop_back();
  }
}

// Adds the port name of every Port term anywhere in `term` to `into`.
void collect_ports_from_term(const SalvoConditionTerm& term, NameSet& into);

}  // namespace zellik
