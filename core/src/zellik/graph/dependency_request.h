#pragma once

#include <cstdint>
#include <vector>

#include "zellik/base/fields.h"
#include "zellik/base/name.h"

namespace zellik {

// When a node issues requests through its dependency edges on its own.
enum class DependencyRequestTrigger : std::uint8_t { OnStartup = 0, OnNoSalvoTriggered = 1 };

// Configuration for automatic dependency-edge request generation on a node.
struct DependencyRequestConfig {
  // In the order given; duplicates are allowed and change nothing.
  std::vector<DependencyRequestTrigger> triggers;
  Name label;

  bool has_trigger(DependencyRequestTrigger trigger) const {
    for (DependencyRequestTrigger t : triggers) {
      if (t == trigger) return true;
    }
    return false;
  }
};
constexpr auto fields_of(std::type_identity<DependencyRequestConfig>) {
  return std::tuple{field("triggers", &DependencyRequestConfig::triggers),
                    field("label", &DependencyRequestConfig::label)};
}
static_assert(lists_every_member<DependencyRequestConfig>());

}  // namespace zellik
