#pragma once

// A record's plain dict (plain_dict.h) made by walking its field list
// (zellik/base/fields.h): the dict holds every listed field, in list order
// or in the order DictOrder names them, and reading it back reads every
// field, then refuses a key the record lacks.
//
// How each member type is written and read is the layer's: it declares a
// tag type of its own and, beside it,
//
//   Ref dict_value(Tag, const V& value);
//   void read(Tag, DictReader& d, const char* key, V& out);
//
// for every member type, found by argument-dependent lookup on the tag, so
// that a layer's forms may follow this header.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "zellik/base/fields.h"
#include "zellik_py/binding/plain_dict.h"
#include "zellik_py/binding/ref.h"

namespace zellik::py {

// The order of R's dict: its list's, unless a saved form keeps another, which
// a specialisation names.
template <class R>
struct DictOrder {
  static constexpr auto kNames = std::apply(
      [](const auto&... fd) { return std::array<std::string_view, sizeof...(fd)>{fd.name...}; },
      kFields<R>);
};

// Whether `names` names every field of R once.
template <class R, std::size_t N>
constexpr bool names_every_field(const std::array<std::string_view, N>& names) {
  if (N != kFieldCount<R>) return false;
  for (std::size_t i = 0; i < N; ++i) {
    if (field_index<R>(names[i]) < 0) return false;
    for (std::size_t j = 0; j < i; ++j) {
      if (names[i] == names[j]) return false;
    }
  }
  return true;
}

// Calls f(name, member) for every field of `r`, in its dict's order.
template <class R, class F>
void for_each_dict_field(R& r, F&& f) {
  using Plain = std::remove_const_t<R>;
  using Order = DictOrder<Plain>;
  static_assert(names_every_field<Plain>(Order::kNames));
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (f(std::get<field_index<Plain>(Order::kNames[I])>(kFields<R>).name,
       r.*std::get<field_index<Plain>(Order::kNames[I])>(kFields<R>).member),
     ...);
  }
  (std::make_index_sequence<Order::kNames.size()>());
}

template <class Tag, class R>
Ref fields_to_dict(Tag tag, const R& record) {
  DictWriter out;
  for_each_dict_field(
      record, [&](const char* key, const auto& value) { out.set(key, dict_value(tag, value)); });
  return out.done();
}

// The record the dict at `path` describes.
template <class R, class Tag>
R fields_from_dict(Tag tag, PyObject* obj, const std::string& path) {
  DictReader d(obj, path);
  R record{};
  for_each_dict_field(record, [&](const char* key, auto& value) { read(tag, d, key, value); });
  d.finish();
  return record;
}

}  // namespace zellik::py
