#include "zellik/graph/salvo_condition.h"

#include <cstddef>

#include <boost/container/small_vector.hpp>

namespace zellik {

std::uint64_t MapPortCounts::count(const Name& port_name) const {
  auto it = counts_.find(port_name);
  return it == counts_.end() ? 0 : it->second;
}

// Walks terms through their public accessors; a frame is kept only for each
// And/Or under evaluation, and Not chains are folded into a flag, so the
// native stack never grows with the depth of the tree.
bool evaluate_salvo_condition(const SalvoConditionTerm& term, const PortCountSource& counts,
                              const PortMap& ports) {
  using Kind = SalvoConditionTerm::Kind;
  struct Frame {
    const SalvoConditionTerm* junction;  // an And or Or with at least one sub-term
    std::size_t next;                    // index of the sub-term being evaluated
    bool negate;                         // flips the junction's own result
  };
  boost::container::small_vector<Frame, 8> frames;
  const SalvoConditionTerm* current = &term;
  for (;;) {
    // Descend: fold the Not chain, then either reach a leaf or open a junction.
    bool negate = false;
    while (current->kind() == Kind::Not) {
      negate = !negate;
      current = &current->inner();
    }
    bool value = false;
    switch (current->kind()) {
      case Kind::True:
        value = true;
        break;
      case Kind::False:
        value = false;
        break;
      case Kind::Port: {
        auto port = ports.find(current->port_name());
        value = current->port_state().holds(counts.count(current->port_name()),
                                            port == ports.end() ? nullptr : &port->second);
        break;
      }
      case Kind::And:
      case Kind::Or:
        if (!current->terms().empty()) {
          frames.push_back({current, 0, negate});
          current = &current->terms().front();
          continue;
        }
        value = current->kind() == Kind::And;  // empty And is true, empty Or false
        break;
      case Kind::Not:
        break;  // unwound above
    }
    value = value != negate;

    // Ascend: feed the value to the enclosing junctions until one of them
    // needs another sub-term evaluated.
    for (;;) {
      if (frames.empty()) return value;
      Frame& frame = frames.back();
      const bool is_and = frame.junction->kind() == Kind::And;
      const auto& subterms = frame.junction->terms();
      // And stops at the first false sub-term, Or at the first true one;
      // otherwise the last sub-term's value is the junction's value.
      if (value != is_and || ++frame.next == subterms.size()) {
        value = value != frame.negate;
        frames.pop_back();
        continue;
      }
      current = &subterms[frame.next];
      break;
    }
  }
}

bool evaluate_salvo_condition(const SalvoConditionTerm& term, const PortCounts& counts,
                              const PortMap& ports) {
  return evaluate_salvo_condition(term, MapPortCounts(counts), ports);
}

}  // namespace zellik
