#include "zellik/graph/port_ref.h"

namespace zellik {

std::string PortRef::to_string() const {
  const std::string_view dir = port_type == PortType::Input ? "in" : "out";
  std::string text;
  text.reserve(node_name.view().size() + dir.size() + port_name.view().size() + 2);
  text.append(node_name.view()).append(1, '.').append(dir).append(1, '.').append(port_name.view());
  return text;
}

}  // namespace zellik
