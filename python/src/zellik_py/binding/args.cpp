#include "zellik_py/binding/args.h"

#include <cstring>

namespace zellik::py {
namespace detail {

namespace {

// The index of the parameter named by the str `key`, or -1.
Py_ssize_t find_name(const char* const* names, std::size_t count, PyObject* key) {
  if (!PyUnicode_Check(key)) return -1;
  for (std::size_t i = 0; i < count; ++i) {
    if (PyUnicode_CompareWithASCIIString(key, names[i]) == 0) return static_cast<Py_ssize_t>(i);
  }
  return -1;
}

void put_keyword(const char* function, const char* const* names, std::size_t count, PyObject* key,
                 PyObject* value, PyObject** out) {
  Py_ssize_t i = find_name(names, count, key);
  if (i < 0) {
    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function, key);
    throw PythonError{};
  }
  if (out[i] != nullptr) {
    PyErr_Format(PyExc_TypeError, "argument for %s() given by name ('%s') and position (%zd)",
                 function, names[i], i + 1);
    throw PythonError{};
  }
  out[i] = value;
}

}  // namespace

void parse_into(const char* function, const char* const* names, std::size_t count,
                std::size_t required, PyObject* const* positional, Py_ssize_t nargs,
                PyObject* kwnames, PyObject* const* kwvalues, PyObject* kwdict, PyObject** out) {
  if (nargs > static_cast<Py_ssize_t>(count)) {
    PyErr_Format(PyExc_TypeError, "%s() takes at most %zu arguments (%zd given)", function, count,
                 nargs);
    throw PythonError{};
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = positional[i];
  if (kwnames != nullptr) {
    Py_ssize_t nkw = PyTuple_Size(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      put_keyword(function, names, count, PyTuple_GetItem(kwnames, k), kwvalues[k], out);
    }
  }
  if (kwdict != nullptr) {
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t pos = 0;
    while (PyDict_Next(kwdict, &pos, &key, &value)) {
      put_keyword(function, names, count, key, value, out);
    }
  }
  for (std::size_t i = 0; i < required; ++i) {
    if (out[i] == nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zu)", function,
                   names[i], i + 1);
      throw PythonError{};
    }
  }
}

}  // namespace detail

void parse_none(const char* function, Py_ssize_t nargs, PyObject* kwnames) {
  if (nargs != 0 || (kwnames != nullptr && PyTuple_Size(kwnames) != 0)) {
    PyErr_Format(PyExc_TypeError, "%s() takes no arguments", function);
    throw PythonError{};
  }
}

}  // namespace zellik::py
