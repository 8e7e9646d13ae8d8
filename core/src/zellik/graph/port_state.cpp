#include "zellik/graph/port_state.h"

#include "zellik/base/kind_table.h"

namespace zellik {

namespace {

using Kind = PortState::Kind;
constexpr KindName<Kind> kPortStateNames[] = {
    {Kind::Empty, "Empty"},
    {Kind::Full, "Full"},
    {Kind::NonEmpty, "NonEmpty"},
    {Kind::NonFull, "NonFull"},
    {Kind::Equals, "Equals"},
    {Kind::LessThan, "LessThan"},
    {Kind::GreaterThan, "GreaterThan"},
    {Kind::EqualsOrLessThan, "EqualsOrLessThan"},
    {Kind::EqualsOrGreaterThan, "EqualsOrGreaterThan"},
};
static_assert(rows_follow_kinds(kPortStateNames, Kind::EqualsOrGreaterThan));

}  // namespace

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
  std::string name(row_of(kPortStateNames, kind_).name);
  if (is_numeric()) name.append("(").append(std::to_string(value_)).append(")");
  return name;
}

}  // namespace zellik
