#pragma once

// The Python class of a plain core record, made from the record's field list
// (zellik/base/fields.h) and a short description of the class:
//
//   - a getter per field, in list order;
//   - the repr "Class(field=value, ...)", each value shown as field_forms.h
//     shows its type;
//   - == and != by value;
//   - a constructor taking the fields in list order, the first `required`
//     of them required;
//   - __reduce__ through that constructor;
//   - to_dict() and the static from_dict(data), which refuses a dict that
//     lacks a required field or holds one the record does not have.
//
// How a member type becomes an object, a dict value or repr text is
// field_forms.h's; the types only these records hold (a record or a list of
// records inside another, an optional name, a count) are taught below. A
// record whose constructor reads its arguments together rather than one
// by one gives a `read` hook instead.
//
// A new record class is its description and one define_record_class call:
//
//   const RecordClass<RequestAllowance> kAllowance{
//       .name = "RequestAllowance", .doc = "RequestAllowance(node, label, count)\n--\n\n...",
//       .field_docs = {"The node that requests.", "The request's label.", "How many."},
//       .required = 3, .to_dict_doc = "...", .from_dict_doc = "..."};
//   define_record_class(module, kAllowance);

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <concepts>
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
inline Ref object(const PortMap& ports) { return dict_of(ports, port_to_py); }
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

template <Record T, std::size_t I>
PyObject* getter(PyObject* self, void*) {
  return guard([&] { return object(unbox<T>(self).*std::get<I>(kFields<T>).member); });
}

}  // namespace record_fields

// Whether `test` holds for the type of every field of T.
template <Record T, class Test>
constexpr bool every_field(Test test) {
  return [&]<std::size_t... I>(std::index_sequence<I...>) {
    return (test(std::type_identity<FieldType<T, I>>{}) && ...);
  }
  (std::make_index_sequence<kFieldCount<T>>());
}
// Whether every field of T has a repr form, and a plain-dict form.
template <Record T>
inline constexpr bool kShownByField = every_field<T>([]<class V>(std::type_identity<V>) {
  return requires(const V& v) { record_fields::repr(v); };
});
template <Record T>
inline constexpr bool kDictByField = every_field<T>([]<class V>(std::type_identity<V>) {
  return requires(const V& v) { record_fields::dict_value(v); };
});

template <Record T>
Ref record_to_dict(const T& record) {
  DictWriter out;
  for_each_field(record, [&out](const char* key, const auto& value) {
    out.set(key, record_fields::dict_value(value));
  });
  return out.done();
}

template <Record T>
std::string record_repr(const T& record) {
  const RecordClass<T>& desc = *RecordOf<T>::desc;
  if constexpr (!kShownByField<T>) {
    return desc.repr(record);  // a field without a repr form: the class gives its repr
  } else {
    if (desc.repr != nullptr) return desc.repr(record);
    std::string text;
    text.reserve(64);
    text.append(desc.name).append("(");
    const char* separator = "";
    for_each_field(record, [&](const char* key, const auto& value) {
      text.append(separator).append(key).append("=").append(record_fields::repr(value));
      separator = ", ";
    });
    text += ')';
    return text;
  }
}

// Whether every field of T can be read by its type alone; a record with a
// field that cannot gives a `read` hook.
template <class V>
concept ReadableField = requires(const record_fields::Source& s, V& v) {
  record_fields::read(s, v);
};
template <Record T>
inline constexpr bool kReadByField = []<std::size_t... I>(std::index_sequence<I...>) {
  return (ReadableField<FieldType<T, I>> && ...);
}
(std::make_index_sequence<kFieldCount<T>>());

// The record the field values describe (null where absent).
template <Record T>
T record_of(const typename RecordClass<T>::Values& values, bool from_dict) {
  const RecordClass<T>& desc = *RecordOf<T>::desc;
  if constexpr (!kReadByField<T>) {
    return desc.read(values);
  } else {
    if (desc.read != nullptr) return desc.read(values);
    T record{};
    std::size_t i = 0;
    for_each_field(record, [&](const char* name, auto& value) {
      PyObject* obj = values[i++];
      if (obj != nullptr) record_fields::read({obj, desc.name, name, from_dict}, value);
    });
    return record;
  }
}

// "'a', 'b' and 'c'": the first `count` of `names`, as from_dict names
// the fields a dict lacks.
std::string needed_fields(const char* const* names, std::size_t count);

// from_dict: TypeError for anything but a dict; ValueError "{Class}.from_dict:
// the dict needs 'a', 'b' and 'c'" when a required field is missing, and
// "invalid field '{key}': unexpected field" for a key the record lacks.
template <Record T>
T record_from_dict(PyObject* data) {
  const RecordClass<T>& desc = *RecordOf<T>::desc;
  if (!PyDict_Check(data)) raise_arg_type(data, "data", "dict");
  DictReader d(data, "");
  typename RecordClass<T>::Values values{};
  bool missing = false;
  for (std::size_t i = 0; i < kFieldCount<T>; ++i) {
    const char* name = kFieldNames<T>[i];
    values[i] = PyDict_GetItemString(data, name);  // borrowed
    if (values[i] != nullptr) d.field(name);
    missing = missing || (values[i] == nullptr && i < desc.required);
  }
  if (missing) {
    raise(PyExc_ValueError, std::string(desc.name) + ".from_dict: the dict needs " +
                                needed_fields(kFieldNames<T>.data(), desc.required));
  }
  d.finish();
  return record_of<T>(values, true);
}

namespace record_fields {

template <Record T>
PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    const RecordClass<T>& desc = *RecordOf<T>::desc;
    auto a = parse_tuple(desc.name, kFieldNames<T>, desc.required, args, kwargs);
    return box_as<T>(type, record_of<T>(a.values, false));
  });
}

template <Record T>
PyObject* to_dict(PyObject* self, PyObject*) {
  return guard([&] { return record_to_dict(unbox<T>(self)); });
}

template <Record T>
PyObject* from_dict(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("from_dict", std::array{"data"}, 1, args, nargs, kwnames);
    return box(record_from_dict<T>(a[0]));
  });
}

template <Record T>
PyObject* reduce(PyObject* self, PyObject*) {
  return guard([&] {
    Ref values = own(PyTuple_New(kFieldCount<T>));
    Py_ssize_t i = 0;
    for_each_field(unbox<T>(self), [&](const char*, const auto& value) {
      PyTuple_SetItem(values.get(), i++, object(value).release());  // steals
    });
    return rebuilt_by_constructor(reinterpret_cast<PyObject*>(Py_TYPE(self)), std::move(values));
  });
}

template <Record T>
PyObject* repr_slot(PyObject* self) {
  return guard([&] { return to_py(record_repr(unbox<T>(self))); });
}

template <Record T>
PyObject* str_slot(PyObject* self) {
  return guard([&] { return to_py(RecordOf<T>::desc->str(unbox<T>(self))); });
}

}  // namespace record_fields

// Defines the class `desc` describes (which must outlive the module) and
// adds it to `module`.
template <Record T>
PyTypeObject* define_record_class(PyObject* module, const RecordClass<T>& desc) {
  RecordOf<T>::desc = &desc;
  // What the description asks for must be there: checked once, when the
  // module is imported.
  const bool readable = kReadByField<T> || desc.read != nullptr;
  if ((desc.engine_reduce == nullptr || desc.from_dict_doc != nullptr) && !readable) {
    raise(PyExc_SystemError, std::string(desc.name) + ": a field cannot be read: give a read hook");
  }
  if ((desc.to_dict_doc != nullptr && !kDictByField<T>) ||
      (!kShownByField<T> && desc.repr == nullptr)) {
    raise(PyExc_SystemError, std::string(desc.name) + ": a field has no dict or repr form");
  }
  static auto getters = [&desc]<std::size_t... I>(std::index_sequence<I...>) {
    return std::array<PyGetSetDef, sizeof...(I) + 1>{
        PyGetSetDef{std::get<I>(kFields<T>).name, &record_fields::getter<T, I>, nullptr,
                    desc.field_docs[I], nullptr}...,
        PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr}};
  }
  (std::make_index_sequence<kFieldCount<T>>());
  static std::vector<PyMethodDef> methods = [&desc] {
    std::vector<PyMethodDef> all;
    for (const PyMethodDef* m = desc.methods; m != nullptr && m->ml_name != nullptr; ++m) {
      all.push_back(*m);
    }
    if constexpr (kDictByField<T>) {
      if (desc.to_dict_doc != nullptr) {
        all.push_back({"to_dict", &record_fields::to_dict<T>, METH_NOARGS, desc.to_dict_doc});
      }
    }
    if (desc.from_dict_doc != nullptr) {
      all.push_back({"from_dict", as_method(&record_fields::from_dict<T>), kStaticMethod,
                     desc.from_dict_doc});
    }
    all.push_back({nullptr, nullptr, 0, nullptr});
    return all;
  }();
  ClassSpec cls = spec_for<T>(desc.name, desc.doc);
  cls.methods = methods.data();
  cls.getters = getters.data();
  if (desc.engine_reduce != nullptr) {
    cls.reduce = desc.engine_reduce;
  } else {
    cls.reduce = &record_fields::reduce<T>;
    cls.slots.push_back({Py_tp_new, reinterpret_cast<void*>(&record_fields::construct<T>)});
  }
  if (desc.str != nullptr) {
    cls.slots.push_back({Py_tp_str, reinterpret_cast<void*>(&record_fields::str_slot<T>)});
  }
  cls.slots.push_back({Py_tp_repr, reinterpret_cast<void*>(&record_fields::repr_slot<T>)});
  if constexpr (std::equality_comparable<T>) {
    if (desc.compares) {
      cls.slots.push_back({Py_tp_richcompare, reinterpret_cast<void*>(&value_richcompare<T>)});
    }
  }
  if (desc.hash != nullptr) cls.slots.push_back({Py_tp_hash, reinterpret_cast<void*>(desc.hash)});
  return define_boxed_class<T>(module, cls);
}

}  // namespace zellik::py
