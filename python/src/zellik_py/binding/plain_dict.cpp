#include "zellik_py/binding/plain_dict.h"

#include <algorithm>
#include <utility>

#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/guard.h"

namespace zellik::py {

// --- Writing and reading ------------------------------------------------------

DictWriter::DictWriter() : dict_(own(PyDict_New())) {}

DictWriter& DictWriter::set(const char* key, Ref value) {
  check_status(PyDict_SetItemString(dict_.get(), key, value.get()));
  return *this;
}

void raise_field(const std::string& path, std::string_view reason) {
  raise(PyExc_ValueError, "invalid field '" + path + "': " + std::string(reason));
}

std::string text_at(PyObject* obj, const std::string& path) {
  if (!PyUnicode_Check(obj)) raise_field(path, "expected str");
  return to_string_arg(obj, path.c_str());
}

Ulid id_at(PyObject* obj, const std::string& path) {
  const std::string text = text_at(obj, path);
  const auto parsed = parse_ulid(text);
  if (!parsed.ok())
    raise_field(path, "Invalid ULID: " + std::string(ulid_parse_error_reason(parsed.error())));
  return parsed.value();
}

DictReader::DictReader(PyObject* obj, std::string path) : dict_(obj), path_(std::move(path)) {
  if (!PyDict_Check(obj)) raise_field(path_, "expected dict");
}

std::string DictReader::path_of(std::string_view key) const {
  return path_.empty() ? std::string(key) : path_ + "." + std::string(key);
}

PyObject* DictReader::field(const char* key) {
  PyObject* value = PyDict_GetItemString(dict_, key);  // borrowed
  if (value == nullptr) raise_field(path_of(key), "missing");
  read_.emplace_back(key);
  return value;
}

std::string DictReader::text(const char* key) { return text_at(field(key), path_of(key)); }

Name DictReader::name(const char* key) { return Name(text(key)); }

Ulid DictReader::id(const char* key) { return id_at(field(key), path_of(key)); }

std::optional<std::string> DictReader::optional_text(const char* key) {
  PyObject* value = field(key);
  if (value == Py_None) return std::nullopt;
  return text_at(value, path_of(key));
}

std::int64_t DictReader::i64(const char* key) {
  PyObject* value = field(key);
  if (!PyLong_Check(value) || PyBool_Check(value)) raise_field(path_of(key), "expected int");
  const long long n = PyLong_AsLongLong(value);
  if (n == -1 && PyErr_Occurred()) {
    PyErr_Clear();
    raise_field(path_of(key), "out of range");
  }
  return static_cast<std::int64_t>(n);
}

std::uint64_t DictReader::u64(const char* key) {
  PyObject* value = field(key);
  if (!PyLong_Check(value) || PyBool_Check(value)) raise_field(path_of(key), "expected int");
  const unsigned long long n = PyLong_AsUnsignedLongLong(value);
  if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    PyErr_Clear();
    raise_field(path_of(key), "out of range");
  }
  return static_cast<std::uint64_t>(n);
}

bool DictReader::boolean(const char* key) {
  PyObject* value = field(key);
  if (!PyBool_Check(value)) raise_field(path_of(key), "expected bool");
  return value == Py_True;
}

std::vector<PyObject*> DictReader::list(const char* key) {
  PyObject* value = field(key);
  if (!PyList_Check(value)) raise_field(path_of(key), "expected list");
  std::vector<PyObject*> items;
  const Py_ssize_t size = PyList_Size(value);
  items.reserve(static_cast<std::size_t>(size));
  for (Py_ssize_t i = 0; i < size; ++i) items.push_back(PyList_GetItem(value, i));
  return items;
}

void DictReader::finish() const {
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  Py_ssize_t pos = 0;
  while (PyDict_Next(dict_, &pos, &key, &value)) {
    // A key that is not a str is never one of ours, whatever its text.
    const bool is_text = PyUnicode_Check(key);
    const std::string text = str_of(key);
    if (!is_text || std::find(read_.begin(), read_.end(), text) == read_.end()) {
      raise_field(path_of(text), "unexpected field");
    }
  }
}

}  // namespace zellik::py
