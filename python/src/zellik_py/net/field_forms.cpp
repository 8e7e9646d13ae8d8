#include "zellik_py/net/field_forms.h"

#include <array>

#include "zellik/base/quote.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/net/identifiers.h"

namespace zellik::py::fields {

Ref object(bool b) { return to_py_bool(b); }
Ref object(const Ulid& id) { return id_to_py(id); }
Ref object(const std::vector<Ulid>& ids) { return list_of(ids, id_to_py); }
Ref object(const Epoch& epoch) { return epoch_to_py(epoch); }
Ref object(const std::string& id_text) { return to_py(id_text); }
Ref object(const Name& name) { return to_py(name); }
Ref object(const PacketLocation& location) { return location_to_py(location); }
Ref object(const HeapValue<Epoch>& epoch) { return epoch_to_py(*epoch); }
Ref object(const SalvoText& salvo) { return salvo_to_py(salvo); }
Ref object(std::uint64_t n) { return to_py_u64(n); }
Ref object(const std::vector<Name>& names) {
  return list_of(names, [](const Name& n) { return to_py(n); });
}
Ref object(RequestCreatedSource source) { return to_py(request_source_name(source)); }

Ref dict_value(const Epoch& epoch) { return epoch_to_dict(epoch); }
Ref dict_value(const HeapValue<Epoch>& epoch) { return epoch_to_dict(*epoch); }
Ref dict_value(const PacketLocation& location) { return location_to_dict(location); }
Ref dict_value(const SalvoText& salvo) { return salvo_to_dict(salvo); }
Ref dict_value(const std::optional<std::string>& id_text) {
  return id_text ? to_py(*id_text) : none();
}

void read(DictReader& d, const char* key, Ulid& out) { out = d.id(key); }
void read(DictReader& d, const char* key, std::string& id_text) { id_text = d.text(key); }
void read(DictReader& d, const char* key, std::optional<std::string>& id_text) {
  id_text = d.optional_text(key);
}
void read(DictReader& d, const char* key, Name& out) { out = d.name(key); }
void read(DictReader& d, const char* key, PacketLocation& out) {
  out = location_from_dict(d.field(key), d.path_of(key));
}
void read(DictReader& d, const char* key, HeapValue<Epoch>& out) {
  *out = epoch_from_dict(d.field(key), d.path_of(key));
}
void read(DictReader& d, const char* key, SalvoText& out) {
  out = salvo_from_dict(d.field(key), d.path_of(key));
}
void read(DictReader& d, const char* key, std::uint64_t& out) { out = d.u64(key); }
void read(DictReader& d, const char* key, std::vector<Name>& out) {
  const std::vector<PyObject*> items = d.list(key);
  for (std::size_t i = 0; i < items.size(); ++i) {
    out.emplace_back(text_at(items[i], d.path_of(key) + "[" + std::to_string(i) + "]"));
  }
}
void read(DictReader& d, const char* key, RequestCreatedSource& out) {
  static constexpr std::array<RequestCreatedSource, 3> kSources = {
      RequestCreatedSource::External, RequestCreatedSource::OnStartup,
      RequestCreatedSource::OnNoSalvoTriggered};
  const std::string text = d.text(key);
  for (RequestCreatedSource source : kSources) {
    if (request_source_name(source) == text) {
      out = source;
      return;
    }
  }
  raise_field(d.path_of(key), "unknown request source '" + text + "'");
}

void read_arg(PyObject* obj, const char* arg, std::string& id_text) {
  id_text = identifier_text(obj, arg);
}
void read_arg(PyObject* obj, const char* arg, std::optional<std::string>& id_text) {
  if (obj == Py_None) {
    id_text.reset();
  } else {
    id_text = identifier_text(obj, arg);
  }
}
void read_arg(PyObject* obj, const char* arg, Name& out) { out = to_name_arg(obj, arg); }
void read_arg(PyObject* obj, const char* arg, SalvoText& out) { out = salvo_arg(obj, arg); }
void read_arg(PyObject* obj, const char* arg, PacketLocation& out) { out = location_arg(obj, arg); }

void read_arg(PyObject* obj, const char* arg, bool& out) { out = to_bool_arg(obj, arg); }
void read_arg(PyObject* obj, const char* arg, Ulid& out) {
  check_identifier_type(obj, arg);
  out = identifier_arg(obj, arg);
}
void read_arg(PyObject* obj, const char* arg, std::vector<Ulid>& out) {
  const std::vector<Ref> ids = sequence_items(obj, arg);
  for (const Ref& id : ids) check_identifier_type(id.get(), arg);
  for (const Ref& id : ids) out.push_back(identifier_arg(id.get(), arg));
}
void read_arg(PyObject* obj, const char* arg, Epoch& out) { out = epoch_arg(obj, arg); }

std::string repr(bool b) { return b ? "True" : "False"; }
std::string repr(const Ulid& id) { return single_quoted(id.to_string()); }
std::string repr(const std::vector<Ulid>& ids) {
  std::string text;
  for (const Ulid& id : ids) text += (text.empty() ? "" : ", ") + repr(id);
  return "[" + text + "]";
}
std::string repr(const Epoch& epoch) { return epoch_repr(epoch); }
std::string repr(const std::string& id_text) { return single_quoted(id_text); }
std::string repr(const Name& name) { return quoted(name.view()); }
std::string repr(const PacketLocation& location) { return location_repr(location); }
std::string repr(const HeapValue<Epoch>& epoch) { return epoch_repr(*epoch); }
std::string repr(const SalvoText&) { return "..."; }
std::string repr(std::uint64_t n) { return std::to_string(n); }
std::string repr(const std::vector<Name>& names) {
  std::string text;
  for (const Name& n : names) text += (text.empty() ? "" : ", ") + quoted(n.view());
  return "[" + text + "]";
}
std::string repr(RequestCreatedSource source) { return std::string(request_source_name(source)); }

}  // namespace zellik::py::fields
