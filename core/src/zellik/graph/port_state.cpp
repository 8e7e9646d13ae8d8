#include "zellik/graph/port_state.h"

namespace zellik {

bool PortState::holds(std::uint64_t count, const Port* port) const {
  // A port is full only when it has a finite capacity that the count has
  // reached; an unbounded or unknown port never is.
  const bool full =
      port != nullptr && !port->slots_spec.is_infinite() && count >= port->slots_spec.capacity();
  switch (kind_) {
    case Kind::Empty:
      return count == 0;
    case Kind::Full:
      return full;
    case Kind::NonEmpty:
      return count != 0;
    case Kind::NonFull:
      return !full;
    case Kind::Equals:
      return count == value_;
    case Kind::LessThan:
      return count < value_;
    case Kind::GreaterThan:
      return count > value_;
    case Kind::EqualsOrLessThan:
      return count <= value_;
    case Kind::EqualsOrGreaterThan:
      return count >= value_;
  }
  return false;
}

std::string PortState::debug_name() const {
  switch (kind_) {
    case Kind::Empty:
      return "Empty";
    case Kind::Full:
      return "Full";
    case Kind::NonEmpty:
      return "NonEmpty";
    case Kind::NonFull:
      return "NonFull";
    case Kind::Equals:
      return "Equals(" + std::to_string(value_) + ")";
    case Kind::LessThan:
      return "LessThan(" + std::to_string(value_) + ")";
    case Kind::GreaterThan:
      return "GreaterThan(" + std::to_string(value_) + ")";
    case Kind::EqualsOrLessThan:
      return "EqualsOrLessThan(" + std::to_string(value_) + ")";
    case Kind::EqualsOrGreaterThan:
      return "EqualsOrGreaterThan(" + std::to_string(value_) + ")";
  }
  return "?";
}

}  // namespace zellik
