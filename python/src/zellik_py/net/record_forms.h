#pragma once

// The description of a record class (record_class.h), and the Python forms
// of the member types records hold beside the general ones of
// field_forms.h: a record or a list of records inside another, an optional
// value, a count, and the graph's value types.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "zellik/base/fields.h"
#include "zellik_py/binding/args.h"
#include "zellik_py/binding/boxed.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/guard.h"
#include "zellik_py/binding/methods.h"
#include "zellik_py/binding/pickling.h"
#include "zellik_py/binding/ref.h"
#include "zellik_py/graph/graph_convert.h"
#include "zellik_py/net/field_forms.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/plain_dict.h"

namespace zellik::py {

template <class T>
struct RecordClass {
  using Values = std::array<PyObject*, kFieldCount<T>>;

  const char* name;  // the class name
  const char* doc;   // "Name(signature)\n--\n\ntext" when it has a constructor
  std::array<const char*, kFieldCount<T>> field_docs{};  // null for none
  // A record only the engine makes has no constructor and gives the
  // __reduce__ its objects pickle by (reduce_to_record<T>: its byte form);
  // null for a class with a constructor, through which it pickles.
  PyCFunction engine_reduce = nullptr;
  std::size_t required = 0;  // the first `required` fields must be given
  // Null for a class without to_dict, or without from_dict.
  const char* to_dict_doc = nullptr;
  const char* from_dict_doc = nullptr;
  bool compares = true;  // == and != by value
  // Hooks for what is particular to one class, each optional:
  // - reads the record from its constructor arguments, or from the values
  //   of its dict, by field position (null where absent), instead of each
  //   given field by its type (record_fields::read);
  T (*read)(const Values& values) = nullptr;
  // - its repr and str (the str is the repr unless given);
  std::string (*repr)(const T& record) = nullptr;
  std::string (*str)(const T& record) = nullptr;
  // - its hash (unhashable without);
  Py_hash_t (*hash)(PyObject* self) = nullptr;
  // - methods of its own, before to_dict and from_dict (a static table
  //   ending in a zeroed entry).
  const PyMethodDef* methods = nullptr;
};

// The description of T's class, set when the class is defined.
template <class T>
struct RecordOf {
  static inline const RecordClass<T>* desc = nullptr;
};

template <class T>
concept Record = HasFields<T>;

// The field names of T, in list order.
template <Record T>
inline constexpr auto kFieldNames = std::apply(
    [](const auto&... fd) { return std::array<const char*, kFieldCount<T>>{fd.name...}; },
    kFields<T>);

template <Record T>
Ref record_to_dict(const T& record);
template <Record T>
T record_from_dict(PyObject* data);
template <Record T>
std::string record_repr(const T& record);

// The forms of the member types that only record classes hold, beside the
// general ones of field_forms.h.
namespace record_fields {

using fields::dict_value;
using fields::object;
using fields::repr;

// A record held in another is an object of its own record class...
template <Record R>
Ref object(const R& record) {
  return box(record);
}
// ...but for a salvo, whose class holds its ids as text (SalvoText).
inline Ref object(const Salvo& salvo) { return salvo_to_py(SalvoText::of(salvo)); }
inline Ref object(EpochState state) { return epoch_state_to_py(state); }
// A salvo's packets: (port name, packet id text) tuples.
Ref object(const std::vector<std::pair<Name, std::string>>& packets);
template <class V>
Ref object(const std::optional<V>& value) {
  return value ? object(*value) : none();
}
// The graph's member types.
inline Ref object(PortType type) { return port_type_to_py(type); }
inline Ref object(PortSlotSpec slots) { return port_slot_spec_to_py(slots); }
inline Ref object(MaxSalvos max_salvos) { return max_salvos_to_py(max_salvos); }
inline Ref object(const SalvoPorts& ports) { return dict_of(ports, packet_count_to_py); }
inline Ref object(const SalvoConditionTerm& term) { return salvo_condition_term_to_py(term); }
inline Ref object(const std::vector<DependencyRequestTrigger>& triggers) {
  return list_of(triggers, dependency_request_trigger_to_py);
}
inline Ref object(const PortMap& ports) { return dict_of(ports, box<Port>); }
inline Ref object(const SalvoConditionMap& conditions) {
  return dict_of(conditions, salvo_condition_to_py);
}
Ref object(const std::vector<std::pair<Name, std::uint64_t>>& counts);
template <Record R>
Ref object(const std::vector<R>& records) {
  return list_of(records, [](const R& r) { return object(r); });
}

inline Ref dict_value(const std::optional<Name>& name) { return name ? to_py(*name) : none(); }
inline Ref dict_value(const std::vector<std::pair<Name, std::uint64_t>>& counts) {
  return object(counts);
}
template <Record R>
Ref dict_value(const std::vector<R>& records) {
  return list_of(records, [](const R& r) { return record_to_dict(r); });
}

inline std::string repr(const std::optional<Name>& name) {
  return name ? repr(*name) : std::string("None");
}
std::string repr(const std::vector<std::pair<Name, std::uint64_t>>& counts);
template <Record R>
std::string repr(const std::vector<R>& records) {
  std::string text;
  for (const R& r : records) text += (text.empty() ? "" : ", ") + record_repr(r);
  return "[" + text + "]";
}

// Where a field's value comes from: a constructor argument, or the value
// of its key in a dict given to from_dict.
struct Source {
  PyObject* obj;
  const char* cls;   // the class name
  const char* name;  // the field name
  bool from_dict;
};

inline void read(const Source& s, Name& out) { out = graph_name_arg(s.obj, s.name); }
inline void read(const Source& s, PortType& out) { out = port_type_arg(s.obj, s.name); }
inline void read(const Source& s, PortSlotSpec& out) { out = port_slot_spec_from_py(s.obj); }
inline void read(const Source& s, std::vector<DependencyRequestTrigger>& out) {
  for (const Ref& item : sequence_items(s.obj, s.name)) {
    out.push_back(dependency_request_trigger_arg(item.get(), s.name));
  }
}
// A record given as an object of its class.
template <Record R>
void read(const Source& s, R& out) {
  out = arg_of<R>(s.obj, s.name);
}
inline void read(const Source& s, std::uint64_t& out) { out = count_arg(s.obj, s.cls, s.name); }
void read(const Source& s, PacketLocation& out);
// A list of records: their objects, or their dicts in a dict.
template <Record R>
void read(const Source& s, std::vector<R>& out) {
  if (PyUnicode_Check(s.obj)) {
    raise_arg_type(s.obj, s.name,
                   ("a sequence of " + std::string(RecordOf<R>::desc->name)).c_str());
  }
  for (const Ref& item : sequence_items(s.obj, s.name)) {
    out.push_back(s.from_dict ? record_from_dict<R>(item.get()) : arg_of<R>(item.get(), s.name));
  }
}

}  // namespace record_fields

}  // namespace zellik::py
