#include "zellik/graph/edge.h"

namespace zellik {

std::string Edge::to_string() const { return source.to_string() + " -> " + target.to_string(); }

}  // namespace zellik
