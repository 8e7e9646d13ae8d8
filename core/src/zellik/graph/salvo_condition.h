#pragma once

#include <cstdint>
#include <unordered_map>

#include "zellik/base/fields.h"
#include "zellik/base/name.h"
#include "zellik/base/shared_map.h"
#include "zellik/graph/limits.h"
#include "zellik/graph/port.h"
#include "zellik/graph/port_state.h"
#include "zellik/graph/salvo_condition_term.h"

namespace zellik {

// The ports a salvo takes, with how many packets from each. Copies share
// their table until one of them changes.
using SalvoPorts = SharedMap<Name, PacketCount, NameHash, NameEq>;

// A named condition's record (the name is its key in the node's map). A
// plain value; its port map and term are shared between copies, so copying
// is O(1).
struct SalvoCondition {
  MaxSalvos max_salvos = MaxSalvos::Finite(1);
  SalvoPorts ports;
  SalvoConditionTerm term = SalvoConditionTerm::True();
};
constexpr auto fields_of(std::type_identity<SalvoCondition>) {
  return std::tuple{field("max_salvos", &SalvoCondition::max_salvos),
                    field("ports", &SalvoCondition::ports), field("term", &SalvoCondition::term)};
}
static_assert(lists_every_member<SalvoCondition>());

// The current packet count of a node's ports, by port name.
class PortCountSource {
 public:
  virtual ~PortCountSource() = default;
  // The number of packets at the named port; 0 when unknown.
  virtual std::uint64_t count(const Name& port_name) const = 0;
};

using PortCounts = std::unordered_map<Name, std::uint64_t, NameHash, NameEq>;

// A PortCountSource over a plain map (absent names count 0).
class MapPortCounts final : public PortCountSource {
 public:
  explicit MapPortCounts(const PortCounts& counts) : counts_(counts) {}
  std::uint64_t count(const Name& port_name) const override;

 private:
  const PortCounts& counts_;
};

// Evaluates `term` against the packet counts of a node's ports and the port
// map of the same side (for the capacity-dependent states). Never fails; a
// port the node lacks counts 0 and has no capacity.
bool evaluate_salvo_condition(const SalvoConditionTerm& term, const PortCountSource& counts,
                              const PortMap& ports);
bool evaluate_salvo_condition(const SalvoConditionTerm& term, const PortCounts& counts,
                              const PortMap& ports);

}  // namespace zellik
