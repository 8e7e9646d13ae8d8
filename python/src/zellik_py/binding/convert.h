#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zellik/base/name.h"
#include "zellik_py/binding/guard.h"
#include "zellik_py/binding/ref.h"

namespace zellik::py {

// Conversions shared by every class. Those taking `arg` raise TypeError
// "argument '{arg}': ..." on a wrongly typed value.

// A str argument as UTF-8 text.
std::string to_string_arg(PyObject* obj, const char* arg);
// A str argument as a Name.
Name to_name_arg(PyObject* obj, const char* arg);
// An int argument from `lowest` to 2**64-1: TypeError "argument '{arg}':
// expected int, got {type}" for anything but an int (a bool included),
// ValueError "argument '{arg}': expected an int from {lowest} to 2**64-1,
// got {value}" outside that range.
std::uint64_t to_u64_arg(PyObject* obj, const char* arg, std::uint64_t lowest = 0);
// A count, as to_u64_arg, for the argument named `what`.
std::uint64_t count_arg(PyObject* obj, const std::string& what);
// The same for the field `name` of the record class `cls`; the errors read
// "{cls}: argument '{name}': ...".
std::uint64_t count_arg(PyObject* obj, const char* cls, const char* name);
// A bool argument.
bool to_bool_arg(PyObject* obj, const char* arg);
// str(obj) as UTF-8 text (a str is taken as it is).
std::string str_of(PyObject* obj);

// The items of a sequence argument; a str (or bytes) is never taken as one.
std::vector<Ref> sequence_items(PyObject* obj, const char* arg);

// Raises TypeError "argument '{arg}': expected {expected}, got {type name}".
[[noreturn]] void raise_arg_type(PyObject* obj, const char* arg, const char* expected);

Ref to_py(std::string_view text);
Ref to_py(const Name& name);
// Exact matches for strings and literals, which would otherwise convert
// equally well to std::string_view and to Name.
inline Ref to_py(const std::string& text) { return to_py(std::string_view(text)); }
inline Ref to_py(const char* text) { return to_py(std::string_view(text)); }
Ref to_py_u64(std::uint64_t value);
Ref to_py_i64(std::int64_t value);
Ref to_py_bool(bool value);
Ref none();

// A new list of to_py-converted elements.
template <class Seq, class Fn>
Ref list_of(const Seq& items, Fn&& convert) {
  Ref list = own(PyList_New(static_cast<Py_ssize_t>(std::size(items))));
  Py_ssize_t i = 0;
  for (const auto& item : items) {
    Ref value = convert(item);
    PyList_SetItem(list.get(), i++, value.release());  // steals
  }
  return list;
}

// A new dict from a map keyed by Name, its values converted by `convert`,
// in the map's iteration order.
template <class Map, class Fn>
Ref dict_of(const Map& map, Fn&& convert) {
  Ref dict = own(PyDict_New());
  for (const auto& [name, item] : map) {
    Ref key = to_py(name);
    Ref value = convert(item);
    check_status(PyDict_SetItem(dict.get(), key.get(), value.get()));
  }
  return dict;
}

// "{text}" as a double-quoted literal with escapes, as the reprs show names.
std::string quoted(std::string_view text);

}  // namespace zellik::py
