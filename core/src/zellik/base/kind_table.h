#pragma once

#include <cstddef>
#include <string_view>

namespace zellik {

// Tables indexed by an enumeration whose members count up from 0: one row per
// member, in the members' order, each row starting with its member (`kind`).
// A table is checked once, at compile time, against the enumeration's last
// member, so that a member added without its row fails the build:
//   static_assert(rows_follow_kinds(kTable, Kind::Last));

// The row of a table that gives each member its name.
template <class E>
struct KindName {
  E kind;
  std::string_view name;
};

// Whether row i names member i, for every member up to `last` and no more.
template <class Row, std::size_t N, class E>
constexpr bool rows_follow_kinds(const Row (&rows)[N], E last) {
  for (std::size_t i = 0; i < N; ++i) {
    if (static_cast<std::size_t>(rows[i].kind) != i) return false;
  }
  return N == static_cast<std::size_t>(last) + 1;
}

// The row of `kind` in a table that follows the kinds.
template <class Row, std::size_t N, class E>
constexpr const Row& row_of(const Row (&rows)[N], E kind) {
  return rows[static_cast<std::size_t>(kind)];
}

}  // namespace zellik
