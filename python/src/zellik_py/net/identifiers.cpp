// Packet and epoch identifiers at the boundary: text in, text or ulid.ULID
// objects out.

#include <string>

#include "zellik_py/binding/convert.h"
#include "zellik_py/net/net_classes.h"

namespace zellik::py {

Ulid parse_identifier(std::string_view text) {
  Result<Ulid, UlidParseError> parsed = parse_ulid(text);
  if (!parsed.ok()) {
    raise(PyExc_ValueError, "Invalid ULID: " + std::string(ulid_parse_error_reason(parsed.error())));
  }
  return parsed.value();
}

Ulid identifier_arg(PyObject* obj) { return parse_identifier(str_of(obj)); }

Ref id_to_py(const Ulid& id) { return to_py(std::string_view(id.to_string())); }

UlidFactory::UlidFactory() {
  Ref module = own(PyImport_ImportModule("ulid"));
  Ref ulid_class = own(PyObject_GetAttrString(module.get(), "ULID"));
  from_str_ = own(PyObject_GetAttrString(ulid_class.get(), "from_str"));
}

Ref UlidFactory::make(const Ulid& id) const {
  Ref text = id_to_py(id);
  return own(PyObject_CallFunctionObjArgs(from_str_.get(), text.get(), nullptr));
}

}  // namespace zellik::py
