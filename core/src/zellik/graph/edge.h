#pragma once

#include <cstddef>
#include <string>

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

struct EdgeHash {
  std::size_t operator()(const Edge& e) const {
    return hash_combine(PortRefHash{}(e.source), PortRefHash{}(e.target));
  }
};

}  // namespace zellik
