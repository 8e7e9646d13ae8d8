// A run's actions as plain dicts, with what the engine answered to each: the
// response data and events of an action it did, or the error that refused
// one. The action, data and events take the dict forms of their own classes.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "zellik/net/net_action_error.h"
#include "zellik_py/explore/explore_classes.h"
#include "zellik_py/explore/result_forms.h"
#include "zellik_py/net/field_forms.h"
#include "zellik_py/net/identifiers.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/net_dicts.h"

namespace zellik::py {

using explore::RecordedAction;

namespace {

// The message of the pending ValueError or TypeError, whose field path is
// relative to a dict found at `path`, made to name the field from the top.
void renest_error(const std::string& path) {
  if (!PyErr_ExceptionMatches(PyExc_ValueError) && !PyErr_ExceptionMatches(PyExc_TypeError)) {
    return;
  }
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  Ref owned_type = Ref::steal(type);
  Ref owned_value = Ref::steal(value);
  Ref owned_traceback = Ref::steal(traceback);
  std::string text = value != nullptr ? str_of(value) : std::string();
  constexpr std::string_view kField = "invalid field '";
  if (std::string_view(text).starts_with(kField)) {
    text = std::string(kField) + path + "." + text.substr(kField.size());
  } else {
    text = std::string(kField) + path + "': " + text;
  }
  PyErr_SetString(type, text.c_str());
}

// What `read()` makes of a dict at `path`, its errors naming fields from the top.
template <class Read>
auto read_at(const std::string& path, Read&& read) {
  try {
    return read();
  } catch (const PythonError&) {
    renest_error(path);
    throw;
  }
}

// `cls.from_dict(obj)`, for a dict at `path`.
Ref from_dict_of(const char* cls, PyObject* obj, const std::string& path) {
  if (!PyDict_Check(obj)) raise_field(path, "expected dict");
  return read_at(path, [&] {
    Ref type = module_class(cls);
    return own(PyObject_CallMethod(type.get(), "from_dict", "O", obj));
  });
}

Ref dict_of_object(const Ref& obj) {
  return own(PyObject_CallMethod(obj.get(), "to_dict", nullptr));
}

// --- Response data ------------------------------------------------------------
// {"kind": the variant's name, then its fields}, as NetActionResponseData's
// to_dict writes it.

void read_response_field(DictReader& d, const char* key, bool& out) { out = d.boolean(key); }
void read_response_field(DictReader& d, const char* key, Ulid& out) { out = d.id(key); }
void read_response_field(DictReader& d, const char* key, Epoch& out) {
  out = epoch_from_dict(d.field(key), d.path_of(key));
}
void read_response_field(DictReader& d, const char* key, std::vector<Ulid>& out) {
  const std::vector<PyObject*> items = d.list(key);
  for (std::size_t i = 0; i < items.size(); ++i) {
    out.push_back(id_at(items[i], item_path(d.path_of(key), i)));
  }
}

struct ReadResponseFields {
  template <class T>
  void operator()(DictReader& d, T& data) const {
    for_each_field(data,
                   [&d](const char* key, auto& value) { read_response_field(d, key, value); });
  }
};

NetActionResponseData response_from_dict(PyObject* obj, const std::string& path) {
  if (!PyDict_Check(obj)) raise_field(path, "expected dict");
  return read_at(path, [&] {
    return variant_from_dict<NetActionResponseData, ReadResponseFields>(
        obj, kKindNames<NetActionResponseData>, "response");
  });
}

// --- The error that refused an action -------------------------------------------
// {"kind": the error's variant name, then every field, None where the kind
// leaves it empty}; the edge as its ends, as an edge location writes them.

using ErrorKind = NetActionError::Kind;
constexpr auto kLastErrorKind = ErrorKind::RequestNodeNotFound;

Ref optional_id(const Ulid& id) { return id == Ulid{} ? none() : id_to_py(id); }
Ref optional_name(const Name& name) { return name.empty() ? none() : to_py(name); }

Ref error_to_dict(const NetActionError& error) {
  Ref edge = none();
  if (error.edge) {
    Ref location = location_to_dict(PacketLocation::Edge(*error.edge));
    edge = Ref::borrow(check(PyDict_GetItemString(location.get(), "edge")));
  }
  return DictWriter()
      .set("kind", to_py(kind_name(error.kind)))
      .set("packet_id", optional_id(error.packet_id))
      .set("epoch_id", optional_id(error.epoch_id))
      .set("node_name", optional_name(error.node_name))
      .set("port_name", optional_name(error.port_name))
      .set("condition_name", optional_name(error.condition_name))
      .set("edge", std::move(edge))
      .done();
}

Ulid optional_id_at(DictReader& d, const char* key) {
  return d.field(key) == Py_None ? Ulid{} : d.id(key);
}
Name optional_name_at(DictReader& d, const char* key) {
  return d.field(key) == Py_None ? Name() : d.name(key);
}

NetActionError error_from_dict(PyObject* obj, const std::string& path) {
  DictReader d(obj, path);
  const std::string kind = d.text("kind");
  NetActionError error{};
  bool known = false;
  for (std::size_t k = 0; k <= static_cast<std::size_t>(kLastErrorKind) && !known; ++k) {
    error.kind = static_cast<ErrorKind>(k);
    known = kind_name(error.kind) == kind;
  }
  if (!known) raise_field(d.path_of("kind"), "unknown error kind '" + kind + "'");
  error.packet_id = optional_id_at(d, "packet_id");
  error.epoch_id = optional_id_at(d, "epoch_id");
  error.node_name = optional_name_at(d, "node_name");
  error.port_name = optional_name_at(d, "port_name");
  error.condition_name = optional_name_at(d, "condition_name");
  PyObject* edge = d.field("edge");
  if (edge != Py_None) {
    // Read as the edge of an edge location, so that its ends are checked alike.
    Ref location = DictWriter().set("kind", to_py("Edge")).set("edge", Ref::borrow(edge)).done();
    error.edge = location_from_dict(location.get(), path).edge();
  }
  d.finish();
  return error;
}

}  // namespace

// --- One action of a run ----------------------------------------------------------

Ref recorded_action_to_dict(const RecordedAction& recorded) {
  DictWriter d;
  d.set("action", dict_of_object(engine_action_to_py(recorded.action)));
  if (recorded.response.ok()) {
    const NetActionSuccess& success = recorded.response.value();
    d.set("response", dict_of_object(response_data_to_py(success.data)));
    d.set("events", list_of(success.events,
                            [](const NetEvent& e) { return dict_of_object(event_to_py(e)); }));
  } else {
    d.set("error", error_to_dict(recorded.response.error()));
  }
  return d.done();
}

RecordedAction recorded_action_from_dict(PyObject* obj, const std::string& path) {
  DictReader d(obj, path);
  const std::string action_path = d.path_of("action");
  Ref action = from_dict_of("NetAction", d.field("action"), action_path);
  NetAction engine_action =
      read_at(action_path, [&] { return action_arg(action.get(), "action"); });
  if (PyDict_GetItemString(obj, "error") != nullptr) {
    NetActionError error = error_from_dict(d.field("error"), d.path_of("error"));
    d.finish();
    return RecordedAction{std::move(engine_action), NetActionResponse(std::move(error))};
  }
  NetActionSuccess success{response_from_dict(d.field("response"), d.path_of("response")), {}};
  const std::vector<PyObject*> events = d.list("events");
  for (std::size_t i = 0; i < events.size(); ++i) {
    const std::string at = item_path(d.path_of("events"), i);
    Ref event = from_dict_of("NetEvent", events[i], at);
    success.events.push_back(event_arg(event.get(), "event"));
  }
  d.finish();
  return RecordedAction{std::move(engine_action), NetActionResponse(std::move(success))};
}

}  // namespace zellik::py
