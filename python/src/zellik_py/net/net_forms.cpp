#include "zellik_py/net/net_forms.h"

#include "zellik_py/binding/convert.h"
#include "zellik_py/net/net_dicts.h"

namespace zellik::py::record_fields {

Ref object(Form, const std::vector<std::pair<Name, std::uint64_t>>& counts) {
  return dict_of(counts, to_py_u64);
}

Ref object(Form, const std::vector<std::pair<Name, std::string>>& packets) {
  return list_of(packets, [](const std::pair<Name, std::string>& p) {
    Ref port = to_py(p.first);
    Ref id = to_py(std::string_view(p.second));
    return own(PyTuple_Pack(2, port.get(), id.get()));
  });
}

std::string repr(Form, const std::vector<std::pair<Name, std::string>>& packets) {
  std::string text;
  for (const auto& [port, id] : packets) {
    text += (text.empty() ? "(" : ", (") + repr(Form{}, port) + ", " + quoted(id) + ")";
  }
  return "[" + text + "]";
}

std::string repr(Form, const std::vector<std::pair<Name, std::uint64_t>>& counts) {
  std::string text;
  for (const auto& [name, count] : counts) {
    text += (text.empty() ? "" : ", ") + repr(Form{}, name) + ": " + repr(Form{}, count);
  }
  return "{" + text + "}";
}

void read(const Source& s, PacketLocation& out) {
  out = s.from_dict ? location_from_dict(s.obj, s.name) : location_arg(s.obj, s.name);
}

}  // namespace zellik::py::record_fields
