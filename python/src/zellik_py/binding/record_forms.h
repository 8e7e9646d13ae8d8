#pragma once

// The description of a record class (record_class.h), and the general forms
// of the member types records hold: how a value becomes an object, a
// plain-dict value or repr text, and how it is read back. Each layer adds
// the forms of its own types (graph/graph_forms.h, net/net_forms.h) as
// overloads in namespace record_fields, each taking the tag Form first (a
// source, for `read`), so that the walks of record_class.h find the
// overloads of every layer included before the class is defined.

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
#include "zellik_py/binding/ref.h"

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

namespace record_fields {

// The tag every form takes first: a call with it finds, by argument-dependent
// lookup, the forms declared after this header as well.
struct Form {};

// Where a field's value comes from: a constructor argument, or the value
// of its key in a dict given to from_dict.
struct Source {
  PyObject* obj;
  const char* cls;   // the class name
  const char* name;  // the field name
  bool from_dict;
};

// The general forms. A record held in another is an object of its own
// record class, a dict of its own in the plain dict, and its record repr;
// an optional value is None when absent; a count is an int.
template <Record R>
Ref object(Form, const R& record) {
  return box(record);
}
template <class V>
Ref object(Form, const std::optional<V>& value) {
  return value ? object(Form{}, *value) : none();
}
template <Record R>
Ref object(Form, const std::vector<R>& records) {
  return list_of(records, [](const R& r) { return object(Form{}, r); });
}
inline Ref object(Form, std::uint64_t n) { return to_py_u64(n); }

// The plain-dict value of a field: a list of records as their dicts, a
// record alone as its layer says (none by default), any other field's is its
// object (str, int, bool or a list of them).
template <class V>
requires(!Record<V>) && requires(const V& v) { object(Form{}, v); }
Ref dict_value(Form, const V& value) { return object(Form{}, value); }
template <Record R>
Ref dict_value(Form, const std::vector<R>& records) {
  return list_of(records, [](const R& r) { return record_to_dict(r); });
}

template <class V>
std::string repr(Form, const std::optional<V>& value) {
  return value ? repr(Form{}, *value) : std::string("None");
}
template <Record R>
std::string repr(Form, const std::vector<R>& records) {
  std::string text;
  for (const R& r : records) text += (text.empty() ? "" : ", ") + record_repr(r);
  return "[" + text + "]";
}
inline std::string repr(Form, std::uint64_t n) { return std::to_string(n); }

// A record given as an object of its class.
template <Record R>
void read(const Source& s, R& out) {
  out = arg_of<R>(s.obj, s.name);
}
inline void read(const Source& s, std::uint64_t& out) { out = count_arg(s.obj, s.cls, s.name); }
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
