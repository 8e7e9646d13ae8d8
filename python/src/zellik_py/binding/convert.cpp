#include "zellik_py/binding/convert.h"

#include "zellik/base/quote.h"

namespace zellik::py {

namespace {

std::string arg_label(const char* arg) { return std::string("argument '") + arg + "'"; }

// "{who}: expected {expected}, got {type name}".
[[noreturn]] void raise_type(PyObject* obj, const std::string& who, const char* expected) {
  Ref type_name =
      own(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__name__"));
  PyErr_Format(PyExc_TypeError, "%s: expected %s, got %U", who.c_str(), expected, type_name.get());
  throw PythonError{};
}

std::string utf8_of(PyObject* str) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(str, &size);
  if (data == nullptr) throw PythonError{};
  return std::string(data, static_cast<std::size_t>(size));
}

// An int's decimal text for a message; one too long for str() (the
// interpreter limits the digits it converts) is described instead.
std::string int_text(PyObject* obj) {
  Ref text = Ref::steal(PyObject_Str(obj));
  if (text) return utf8_of(text.get());
  PyErr_Clear();
  Ref zero = own(PyLong_FromLong(0));
  const int negative = PyObject_RichCompareBool(obj, zero.get(), Py_LT);
  if (negative < 0) throw PythonError{};
  return negative != 0 ? "a negative int of many digits" : "an int of many digits";
}

// `who()` names the argument in a message; it is called only to raise one,
// so a call that succeeds builds no text.
template <class Who>
std::uint64_t u64_of(PyObject* obj, const Who& who, std::uint64_t lowest) {
  if (!PyLong_Check(obj) || PyBool_Check(obj)) raise_type(obj, who(), "int");
  const unsigned long long value = PyLong_AsUnsignedLongLong(obj);
  const bool overflow = value == static_cast<unsigned long long>(-1) && PyErr_Occurred();
  if (overflow) {
    // Negative or past 64 bits: the interpreter says OverflowError, which
    // names no argument. Anything else it raised goes up as it is.
    if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw PythonError{};
    PyErr_Clear();
  }
  if (overflow || value < lowest) {
    raise(PyExc_ValueError, who() + ": expected an int from " + std::to_string(lowest) +
                                " to 2**64-1, got " + int_text(obj));
  }
  return static_cast<std::uint64_t>(value);
}

}  // namespace

void raise_arg_type(PyObject* obj, const char* arg, const char* expected) {
  raise_type(obj, arg_label(arg), expected);
}

std::uint64_t count_arg(PyObject* obj, const std::string& what) {
  return u64_of(
      obj, [&what] { return arg_label(what.c_str()); }, 0);
}

std::uint64_t count_arg(PyObject* obj, const char* cls, const char* name) {
  if (PyLong_CheckExact(obj)) {
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (overflow == 0 && value >= 0) return static_cast<std::uint64_t>(value);
    if (value == -1 && PyErr_Occurred()) throw PythonError{};
  }
  return u64_of(
      obj, [cls, name] { return std::string(cls) + ": " + arg_label(name); }, 0);
}

std::string to_string_arg(PyObject* obj, const char* arg) {
  if (!PyUnicode_Check(obj)) raise_arg_type(obj, arg, "str");
  return utf8_of(obj);
}

Name to_name_arg(PyObject* obj, const char* arg) { return Name(to_string_arg(obj, arg)); }

std::uint64_t to_u64_arg(PyObject* obj, const char* arg, std::uint64_t lowest) {
  return u64_of(
      obj, [arg] { return arg_label(arg); }, lowest);
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
