#include "zellik_py/net/record_class.h"

#include "zellik_py/net/net_convert.h"

namespace zellik::py {

std::string needed_fields(const char* const* names, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += i == 0 ? "" : i + 1 == count ? " and " : ", ";
    text += "'" + std::string(names[i]) + "'";
  }
  return text;
}

namespace record_fields {

Ref object(const std::vector<std::pair<Name, std::uint64_t>>& counts) {
  return dict_of(counts, to_py_u64);
}

Ref object(const std::vector<std::pair<Name, std::string>>& packets) {
  return list_of(packets, [](const std::pair<Name, std::string>& p) {
    Ref port = to_py(p.first);
    Ref id = to_py(std::string_view(p.second));
    return own(PyTuple_Pack(2, port.get(), id.get()));
  });
}

std::string repr(const std::vector<std::pair<Name, std::uint64_t>>& counts) {
  std::string text;
  for (const auto& [name, count] : counts) {
    text += (text.empty() ? "" : ", ") + repr(name) + ": " + repr(count);
  }
  return "{" + text + "}";
}

void read(const Source& s, PacketLocation& out) {
  out = s.from_dict ? location_from_dict(s.obj, s.name) : location_arg(s.obj, s.name);
}

}  // namespace record_fields
}  // namespace zellik::py
