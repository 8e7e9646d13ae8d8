#include "zellik/graph/max_salvos.h"

namespace zellik {

std::string MaxSalvos::debug_name() const {
  if (!finite_) return "Infinite";
  return "Finite(" + std::to_string(n_) + ")";
}

}  // namespace zellik
