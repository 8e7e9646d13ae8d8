#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "zellik/base/name.h"
#include "zellik/graph/port.h"

namespace zellik {

// How many packets a salvo takes from one port: all, or at most n.
class PacketCount {
 public:
  static PacketCount All() { return PacketCount(true, 0); }
  static PacketCount Count(std::uint64_t n) { return PacketCount(false, n); }

  bool is_all() const { return all_; }
  std::uint64_t count() const { return n_; }
  // How many of `available` packets a salvo takes.
  std::uint64_t take_from(std::uint64_t available) const {
    return all_ ? available : (n_ < available ? n_ : available);
  }
  friend bool operator==(const PacketCount&, const PacketCount&) = default;

 private:
  PacketCount(bool all, std::uint64_t n) : all_(all), n_(n) {}
  bool all_;
  std::uint64_t n_;
};

// How many times a salvo condition may trigger.
class MaxSalvos {
 public:
  static MaxSalvos Infinite() { return MaxSalvos(false, 0); }
  static MaxSalvos Finite(std::uint64_t n) { return MaxSalvos(true, n); }

  bool is_infinite() const { return !finite_; }
  std::uint64_t limit() const { return n_; }
  // Whether a condition that has fired `fired` times may fire again.
  bool permits(std::uint64_t fired) const { return !finite_ || fired < n_; }
  // "Infinite" or "Finite(n)".
  std::string debug_name() const;
  friend bool operator==(const MaxSalvos&, const MaxSalvos&) = default;

 private:
  MaxSalvos(bool finite, std::uint64_t n) : finite_(finite), n_(n) {}
  bool finite_;
  std::uint64_t n_;
};

// A predicate on the packet count of one port.
class PortState {
 public:
  enum class Kind : std::uint8_t {
    Empty = 0,
    Full = 1,
    NonEmpty = 2,
    NonFull = 3,
    Equals = 4,
    LessThan = 5,
    GreaterThan = 6,
    EqualsOrLessThan = 7,
    EqualsOrGreaterThan = 8,
  };

  PortState(Kind kind, std::uint64_t value = 0) : kind_(kind), value_(value) {}  // NOLINT

  Kind kind() const { return kind_; }
  // The n of the numeric kinds; 0 for the first four.
  std::uint64_t value() const { return value_; }
  bool is_numeric() const { return kind_ >= Kind::Equals; }

  // Whether the predicate holds for a port holding `count` packets; `port` is
  // null when the node has no port of that name.
  bool holds(std::uint64_t count, const Port* port) const;
  // "NonEmpty", "Equals(3)", ...
  std::string debug_name() const;
  friend bool operator==(const PortState&, const PortState&) = default;

 private:
  Kind kind_;
  std::uint64_t value_;
};

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

  struct Node;  // defined in salvo_condition.cpp

 private:
  explicit SalvoConditionTerm(std::shared_ptr<const Node> node) : node_(std::move(node)) {}
  std::shared_ptr<const Node> node_;
};

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

// Adds the port name of every Port term anywhere in `term` to `into`.
void collect_ports_from_term(const SalvoConditionTerm& term, NameSet& into);

// The ports a salvo takes, with how many packets from each.
using SalvoPorts = std::unordered_map<Name, PacketCount, NameHash, NameEq>;

// A named condition's record (the name is its key in the node's map).
struct SalvoCondition {
  MaxSalvos max_salvos = MaxSalvos::Finite(1);
  SalvoPorts ports;
  SalvoConditionTerm term = SalvoConditionTerm::True();
};

}  // namespace zellik
