#pragma once

#include <cstddef>
#include <string>

#include "zellik/base/fields.h"
#include "zellik/graph/port_ref.h"

namespace zellik {

// A directed connection from an output port (tail) to an input port (head).
// Nothing here enforces the direction; validation reports edges that break it.
struct Edge {
  PortRef source;
  PortRef target;

  // "{source} -> {target}".
  std::string to_string() const;
  friend bool operator==(const Edge& a, const Edge& b) {
    return a.source == b.source && a.target == b.target;
  }
};
constexpr auto fields_of(std::type_identity<Edge>) {
  return std::tuple{field("source", &Edge::source), field("target", &Edge::target)};
}
static_assert(lists_every_member<Edge>());

struct EdgeHash {
  std::size_t operator()(const Edge& e) const {
    return hash_combine(PortRefHash{}(e.source), PortRefHash{}(e.target));
  }
};

}  // namespace zellik
