#pragma once

// The Python class of a plain core record, made from the record's field list
// (zellik/base/fields.h) and a description of the class (RecordClass, in
// record_forms.h):
//
//   - a getter per field, in list order;
//   - the repr "Class(field=value, ...)", each value shown by its form;
//   - == and != by value;
//   - a constructor taking the fields in list order, the first `required`
//     of them required;
//   - __reduce__ through that constructor (or the byte form, for a record
//     only the engine makes);
//   - to_dict() and the static from_dict(data), which refuses a dict that
//     lacks a required field or holds one the record does not have.
//
// How a member type becomes an object, a dict value or repr text, and how
// it is read back, is its forms' (record_forms.h, and the layer of the
// type). What is particular to one class (a constructor that reads its
// arguments together, a repr of its own, a hash, methods) is a hook of its
// description (RecordClass, record_forms.h).
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
#include "zellik_py/binding/plain_dict.h"
#include "zellik_py/binding/record_forms.h"
#include "zellik_py/binding/ref.h"

namespace zellik::py {

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
  return requires(const V& v) { repr(record_fields::Form{}, v); };
});
template <Record T>
inline constexpr bool kDictByField = every_field<T>([]<class V>(std::type_identity<V>) {
  return requires(const V& v) { dict_value(record_fields::Form{}, v); };
});

template <Record T>
Ref record_to_dict(const T& record) {
  DictWriter out;
  for_each_field(record, [&out](const char* key, const auto& value) {
    out.set(key, dict_value(record_fields::Form{}, value));
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
      text.append(separator).append(key).append("=").append(repr(record_fields::Form{}, value));
      separator = ", ";
    });
    text += ')';
    return text;
  }
}

// The repr "{cls}(a=..., b=...)" of the fields named, in that order, each
// shown by its form: for a class whose repr shows some of its fields only.
// A name the record does not list does not build.
template <class T, Literal... kNames>
std::string fields_repr(const char* cls, const T& record) {
  static_assert(((field_index<T>(kNames.chars) >= 0) && ...), "the record has no such field");
  std::string text = std::string(cls) + "(";
  const char* separator = "";
  const auto show = [&](const char* name, const auto& value) {
    text.append(separator).append(name).append("=").append(repr(record_fields::Form{}, value));
    separator = ", ";
  };
  (show(kNames.chars, record.*std::get<field_index<T>(kNames.chars)>(kFields<T>).member), ...);
  return text + ")";
}

// The same for a record class (its description names the class).
template <Record T, Literal... kNames>
std::string record_repr_of(const T& record) {
  return fields_repr<T, kNames...>(RecordOf<T>::desc->name, record);
}

// Whether every field of T can be read by its type alone; a record with a
// field that cannot gives a `read` hook.
template <class V>
concept ReadableField = requires(const record_fields::Source& s, V& v) {
  read(s, v);
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
      if (obj != nullptr) read(record_fields::Source{obj, desc.name, name, from_dict}, value);
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

template <Record T, std::size_t I>
PyObject* getter(PyObject* self, void*) {
  return guard([&] { return object(Form{}, unbox<T>(self).*std::get<I>(kFields<T>).member); });
}

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
Ref from_dict(PyObject* data) {
  return box(record_from_dict<T>(data));
}

template <Record T>
PyObject* reduce(PyObject* self, PyObject*) {
  return guard([&] {
    Ref values = own(PyTuple_New(kFieldCount<T>));
    Py_ssize_t i = 0;
    for_each_field(unbox<T>(self), [&](const char*, const auto& value) {
      PyTuple_SetItem(values.get(), i++, object(Form{}, value).release());  // steals
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
      all.push_back({"from_dict", as_method(&from_dict_entry<record_fields::from_dict<T>>),
                     kStaticMethod, desc.from_dict_doc});
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
