#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <initializer_list>

#include "zellik_py/binding/guard.h"

namespace zellik::py {

// The arguments of one call, matched to parameter names: positional first,
// then keywords. Unknown keywords, repeated arguments, too many positionals
// and missing required arguments raise TypeError (and throw PythonError).
// The objects are borrowed from the call.
template <std::size_t N>
struct Args {
  std::array<PyObject*, N> values{};  // null where an optional one is absent

  PyObject* operator[](std::size_t i) const { return values[i]; }
  bool has(std::size_t i) const { return values[i] != nullptr && values[i] != Py_None; }
};

namespace detail {
void parse_into(const char* function, const char* const* names, std::size_t count,
                std::size_t required, PyObject* const* positional, Py_ssize_t nargs,
                PyObject* kwnames, PyObject* const* kwvalues, PyObject* kwdict, PyObject** out);
}  // namespace detail

// Parses a METH_FASTCALL | METH_KEYWORDS call of `function`.
template <std::size_t N>
Args<N> parse_fast(const char* function, const std::array<const char*, N>& names,
                   std::size_t required, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames) {
  Args<N> out;
  Py_ssize_t positional = nargs;
  detail::parse_into(function, names.data(), N, required, args, positional, kwnames,
                     args + positional, nullptr, out.values.data());
  return out;
}

// Parses a tuple-and-dict call (constructors).
template <std::size_t N>
Args<N> parse_tuple(const char* function, const std::array<const char*, N>& names,
                    std::size_t required, PyObject* args, PyObject* kwargs) {
  Args<N> out;
  Py_ssize_t nargs = PyTuple_Size(args);
  std::array<PyObject*, N> positional{};
  if (nargs > static_cast<Py_ssize_t>(N)) {
    PyErr_Format(PyExc_TypeError, "%s() takes at most %zu arguments (%zd given)", function, N,
                 nargs);
    throw PythonError{};
  }
  for (Py_ssize_t i = 0; i < nargs; ++i)
    positional[static_cast<std::size_t>(i)] = PyTuple_GetItem(args, i);
  detail::parse_into(function, names.data(), N, required, positional.data(), nargs, nullptr,
                     nullptr, kwargs, out.values.data());
  return out;
}

// Refuses any argument: for calls that take none.
void parse_none(const char* function, Py_ssize_t nargs, PyObject* kwnames);

// A string literal as a template argument: a method's or an argument's
// name, for functions made from one template per call shape.
template <std::size_t N>
struct Literal {
  constexpr Literal(const char (&text)[N]) {  // NOLINT(google-explicit-constructor)
    for (std::size_t i = 0; i < N; ++i) chars[i] = text[i];
  }
  char chars[N]{};
};

}  // namespace zellik::py
