#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "zellik/base/fields.h"
#include "zellik/base/kind_table.h"
#include "zellik/base/name.h"

namespace zellik {

// Whether a port takes packets in or sends them out.
enum class PortType : std::uint8_t { Input = 0, Output = 1 };

inline constexpr KindName<PortType> kPortTypeNames[] = {{PortType::Input, "Input"},
                                                        {PortType::Output, "Output"}};
static_assert(rows_follow_kinds(kPortTypeNames, PortType::Output));

// "Input" or "Output".
inline std::string_view port_type_debug_name(PortType type) {
  return row_of(kPortTypeNames, type).name;
}

// One port of one node. A plain value.
struct PortRef {
  Name node_name;
  PortType port_type = PortType::Input;
  Name port_name;

  // "{node_name}.{in|out}.{port_name}".
  std::string to_string() const;
  friend bool operator==(const PortRef& a, const PortRef& b) {
    return a.port_type == b.port_type && a.node_name == b.node_name && a.port_name == b.port_name;
  }
};
constexpr auto fields_of(std::type_identity<PortRef>) {
  return std::tuple{field("node_name", &PortRef::node_name),
                    field("port_type", &PortRef::port_type),
                    field("port_name", &PortRef::port_name)};
}
static_assert(lists_every_member<PortRef>());

struct PortRefHash {
  std::size_t operator()(const PortRef& r) const {
    std::size_t h = r.node_name.hash();
    h = hash_combine(h, static_cast<std::size_t>(r.port_type));
    return hash_combine(h, r.port_name.hash());
  }
};

}  // namespace zellik
