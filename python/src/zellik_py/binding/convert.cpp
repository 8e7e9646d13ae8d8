#include "zellik_py/binding/convert.h"

#include "zellik/base/quote.h"

namespace zellik::py {

void raise_arg_type(PyObject* obj, const char* arg, const char* expected) {
  Ref type_name =
      own(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__name__"));
  PyErr_Format(PyExc_TypeError, "argument '%s': expected %s, got %U", arg, expected,
               type_name.get());
  throw PythonError{};
}

namespace {

std::string utf8_of(PyObject* str) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(str, &size);
  if (data == nullptr) throw PythonError{};
  return std::string(data, static_cast<std::size_t>(size));
}

}  // namespace

std::uint64_t count_arg(PyObject* obj, const std::string& what) {
  if (!PyLong_Check(obj) || PyBool_Check(obj)) raise_arg_type(obj, what.c_str(), "int");
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(obj, &overflow);
  if (value == -1 && PyErr_Occurred()) throw PythonError{};
  if (overflow < 0 || value < 0)
    raise(PyExc_ValueError, what + " is negative (" + str_of(obj) + ")");
  return to_u64_arg(obj, what.c_str());
}

std::uint64_t count_arg(PyObject* obj, const char* cls, const char* name) {
  if (PyLong_CheckExact(obj)) {
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (overflow == 0 && value >= 0) return static_cast<std::uint64_t>(value);
  }
  return count_arg(obj, std::string(cls) + ": " + name);
}

std::string to_string_arg(PyObject* obj, const char* arg) {
  if (!PyUnicode_Check(obj)) raise_arg_type(obj, arg, "str");
  return utf8_of(obj);
}

Name to_name_arg(PyObject* obj, const char* arg) { return Name(to_string_arg(obj, arg)); }

std::uint64_t to_u64_arg(PyObject* obj, const char* arg) {
  if (!PyLong_Check(obj)) raise_arg_type(obj, arg, "int");
  unsigned long long value = PyLong_AsUnsignedLongLong(obj);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PythonError{};
  return static_cast<std::uint64_t>(value);
}

bool to_bool_arg(PyObject* obj, const char* arg) {
  if (!PyBool_Check(obj)) raise_arg_type(obj, arg, "bool");
  return obj == Py_True;
}

std::string str_of(PyObject* obj) {
  if (PyUnicode_Check(obj)) return utf8_of(obj);
  Ref text = own(PyObject_Str(obj));
  return utf8_of(text.get());
}

std::vector<Ref> sequence_items(PyObject* obj, const char* arg) {
  if (PyUnicode_Check(obj) || PyBytes_Check(obj) || PyDict_Check(obj) || !PySequence_Check(obj)) {
    raise_arg_type(obj, arg, "a sequence");
  }
  Py_ssize_t size = PySequence_Size(obj);
  if (size < 0) throw PythonError{};
  std::vector<Ref> items;
  items.reserve(static_cast<std::size_t>(size));
  for (Py_ssize_t i = 0; i < size; ++i) items.push_back(own(PySequence_GetItem(obj, i)));
  return items;
}

Ref to_py(std::string_view text) {
  return own(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}
Ref to_py(const Name& name) { return to_py(name.view()); }
Ref to_py_u64(std::uint64_t value) { return own(PyLong_FromUnsignedLongLong(value)); }
Ref to_py_i64(std::int64_t value) { return own(PyLong_FromLongLong(value)); }
Ref to_py_bool(bool value) { return Ref::borrow(value ? Py_True : Py_False); }
Ref none() { return Ref::borrow(Py_None); }

std::string quoted(std::string_view text) { return quote_string_literal(text); }

}  // namespace zellik::py
