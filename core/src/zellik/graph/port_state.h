#pragma once

#include <cstdint>
#include <string>

#include "zellik/graph/port.h"

namespace zellik {

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

}  // namespace zellik
