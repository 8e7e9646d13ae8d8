#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <string>
#include <tuple>
#include <utility>

#include "zellik/base/fields.h"
#include "zellik_py/binding/args.h"
#include "zellik_py/binding/boxed.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/guard.h"
#include "zellik_py/binding/ref.h"

namespace zellik::py {

// Method flags of the static constructors and of methods taking arguments.
inline constexpr int kStaticMethod = METH_STATIC | METH_FASTCALL | METH_KEYWORDS;
inline constexpr int kFastMethod = METH_FASTCALL | METH_KEYWORDS;

// Signatures of the entry points a method table points to.
using FastFunction = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
using NoArgsFunction = PyObject* (*)(PyObject*, PyObject*);

// A method table entry holds every kind of C function as a PyCFunction.
inline PyCFunction as_method(FastFunction fn) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}
inline PyCFunction as_method(NoArgsFunction fn) { return fn; }

// Entry points made from plain functions over an embedded value, so that a
// class file states what it computes and the guard is written once.

// A property getter.
template <class T, Ref (*Fn)(const T&)>
PyObject* value_getter(PyObject* self, void*) {
  return guard([&] { return Fn(unbox<T>(self)); });
}

// A method without arguments (METH_NOARGS).
template <class T, Ref (*Fn)(const T&)>
PyObject* value_method(PyObject* self, PyObject*) {
  return guard([&] { return Fn(unbox<T>(self)); });
}

// A repr or str slot.
template <class T, std::string (*Fn)(const T&)>
PyObject* text_slot(PyObject* self) {
  return guard([&] { return to_py(Fn(unbox<T>(self))); });
}

// Table entries: a class file lists its methods and properties as
//
//   PyMethodDef g_methods[] = {
//       method_def("run_step", &run_step, "run_step($self)\n--\n\n..."),
//       static_def("from_dict", &from_dict, "from_dict(data)\n--\n\n..."),
//       Members<Graph>::method<edges_of>("edges", "edges($self)\n--\n\n..."),
//       {},  // the end of the table
//   };
//   PyGetSetDef g_getters[] = {Members<Epoch>::getter<state_of>("state", "..."), {}};
//
// and the flags follow from the entry point's signature. An entry points
// straight at the function given: nothing is added to the call.
inline PyMethodDef method_def(const char* name, FastFunction fn, const char* doc) {
  return {name, as_method(fn), kFastMethod, doc};
}
inline PyMethodDef method_def(const char* name, NoArgsFunction fn, const char* doc) {
  return {name, fn, METH_NOARGS, doc};
}
// A static method (a static constructor, mostly): called on the class.
inline PyMethodDef static_def(const char* name, FastFunction fn, const char* doc) {
  return {name, as_method(fn), kStaticMethod, doc};
}

// The entry point of a static method kName(kArgs...), every argument
// required: Fn makes the result from the argument objects, in order.
template <auto Fn, Literal kName, Literal... kArgs>
PyObject* static_call(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    if constexpr (sizeof...(kArgs) == 0) {
      parse_none(kName.chars, nargs, kwnames);
      return Fn();
    } else {
      constexpr std::size_t kCount = sizeof...(kArgs);
      auto a = parse_fast(kName.chars, std::array<const char*, kCount>{kArgs.chars...}, kCount,
                          args, nargs, kwnames);
      return [&]<std::size_t... I>(std::index_sequence<I...>) { return Fn(a[I]...); }
      (std::make_index_sequence<kCount>());
    }
  });
}

// Its table entry: static_def<make_edge, "edge", "edge">("edge(edge)\n--\n\n...").
template <auto Fn, Literal kName, Literal... kArgs>
PyMethodDef static_def(const char* doc) {
  return static_def(kName.chars, &static_call<Fn, kName, kArgs...>, doc);
}

// Entries made from plain functions over the value a class embeds.
template <class T>
struct Members {
  template <auto Member, auto Convert>
  static PyObject* member_getter(PyObject* self, void*) {
    return guard([&] { return Convert(unbox<T>(self).*Member); });
  }

  // A property.
  template <Ref (*Fn)(const T&)>
  static PyGetSetDef getter(const char* name, const char* doc) {
    return {name, &value_getter<T, Fn>, nullptr, doc, nullptr};
  }
  // A property that is one member of the value, as Convert makes it an
  // object: Members<Result>::member<&Result::states, to_py_u64>("states", "...").
  template <auto Member, auto Convert>
  static PyGetSetDef member(const char* name, const char* doc) {
    return {name, &member_getter<Member, Convert>, nullptr, doc, nullptr};
  }
  // A property that is the listed field kName of the value (T's field list,
  // zellik/base/fields.h), as Convert makes it an object:
  // Members<Result>::field<"states", to_py_u64>("..."). A name the record
  // does not list does not build.
  template <Literal kName, auto Convert>
  static PyGetSetDef field(const char* doc) {
    static_assert(field_index<T>(kName.chars) >= 0, "the record has no such field");
    constexpr auto kMember = std::get<field_index<T>(kName.chars)>(kFields<T>).member;
    return {kName.chars, &member_getter<kMember, Convert>, nullptr, doc, nullptr};
  }
  // A method without arguments.
  template <Ref (*Fn)(const T&)>
  static PyMethodDef method(const char* name, const char* doc) {
    return {name, &value_method<T, Fn>, METH_NOARGS, doc};
  }
};

// Value equality for the classes that compare by value: == and != against an
// object of the same class; NotImplemented for everything else.
template <class T>
PyObject* value_richcompare(PyObject* self, PyObject* other, int op) {
  if ((op != Py_EQ && op != Py_NE) || !is_instance<T>(other)) Py_RETURN_NOTIMPLEMENTED;
  const bool equal = unbox<T>(self) == unbox<T>(other);
  if (equal == (op == Py_EQ)) Py_RETURN_TRUE;
  Py_RETURN_FALSE;
}

// A hash consistent with value equality; never -1, which means "error".
template <class T, class Hash>
Py_hash_t value_hash(PyObject* self) {
  const auto h = static_cast<Py_hash_t>(Hash{}(unbox<T>(self)));
  return h == -1 ? -2 : h;
}

}  // namespace zellik::py
