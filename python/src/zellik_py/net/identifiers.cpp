// Packet and epoch identifiers at the boundary: text or ulid.ULID objects in,
// text or ulid.ULID objects out. ULID objects cross as their 16 bytes; the
// package's own text codec is never called.

#include "zellik_py/net/identifiers.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/guard.h"
#include "zellik_py/binding/module_state.h"

namespace zellik::py {
namespace {

// Interned attribute and module names, made on first use and kept in the
// module's state.
struct BytesName {};
struct UlidModuleName {};
struct UlidClassName {};
template <class Tag>
PyObject* interned(const char* text) {
  PyObject*& slot = current_state().object(StateSlot<Tag>::index);
  if (slot == nullptr) slot = check(PyUnicode_InternFromString(text));
  return slot;
}

// The ulid.ULID class last seen, so that an argument of exactly that class
// is recognised without a look-up. Only ever compared with, never called.
struct KnownUlidClass {};
PyObject*& known_ulid_class() { return current_state().object(StateSlot<KnownUlidClass>::index); }

void remember_ulid_class(PyObject* cls) {
  PyObject*& known = known_ulid_class();
  if (cls == known) return;
  Ref forgotten = Ref::steal(std::exchange(known, Ref::borrow(cls).release()));
}

// The "ulid" module as `import ulid` gives it: the loaded one from
// sys.modules, or a fresh import (which raises when the package is missing).
Ref ulid_module() {
  PyObject* name = interned<UlidModuleName>("ulid");
  Ref loaded = Ref::steal(PyImport_GetModule(name));
  if (PyErr_Occurred()) throw PythonError{};
  if (loaded && loaded.get() != Py_None) return loaded;
  return own(PyImport_Import(name));
}

// ulid.ULID when the package is loaded; null (and no error) otherwise.
Ref loaded_ulid_class() {
  Ref module = Ref::steal(PyImport_GetModule(interned<UlidModuleName>("ulid")));
  if (!module || module.get() == Py_None) {
    PyErr_Clear();
    return Ref();
  }
  Ref cls = Ref::steal(PyObject_GetAttr(module.get(), interned<UlidClassName>("ULID")));
  if (!cls) PyErr_Clear();
  return cls;
}

bool is_exact_ulid(PyObject* obj) {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(obj));
  if (type == known_ulid_class()) return true;
  Ref cls = loaded_ulid_class();
  if (!cls || cls.get() != type) return false;
  remember_ulid_class(type);
  return true;
}

// The id held in a ULID object's `bytes`, or nothing when that attribute is
// not 16 bytes (then the object is taken through str() like any other).
std::optional<Ulid> ulid_bytes(PyObject* obj) {
  Ref bytes = Ref::steal(PyObject_GetAttr(obj, interned<BytesName>("bytes")));
  if (!bytes) {
    PyErr_Clear();
    return std::nullopt;
  }
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (!PyBytes_Check(bytes.get()) || PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0 ||
      size != 16) {
    PyErr_Clear();
    return std::nullopt;
  }
  Ulid id;
  for (int i = 0; i < 8; ++i) id.hi = (id.hi << 8) | static_cast<unsigned char>(data[i]);
  for (int i = 8; i < 16; ++i) id.lo = (id.lo << 8) | static_cast<unsigned char>(data[i]);
  return id;
}

std::optional<Ulid> exact_ulid_value(PyObject* obj) {
  if (!is_exact_ulid(obj)) return std::nullopt;
  return ulid_bytes(obj);
}

Ref bytes_of(const Ulid& id) {
  std::array<char, 16> data{};
  for (std::size_t i = 0; i < 8; ++i) {
    data[i] = static_cast<char>(id.hi >> (56 - 8 * i));
    data[8 + i] = static_cast<char>(id.lo >> (56 - 8 * i));
  }
  return own(PyBytes_FromStringAndSize(data.data(), 16));
}

}  // namespace

Ulid parse_identifier(std::string_view text) {
  Result<Ulid, UlidParseError> parsed = parse_ulid(text);
  if (!parsed.ok()) {
    raise(PyExc_ValueError,
          "Invalid ULID: " + std::string(ulid_parse_error_reason(parsed.error())));
  }
  return parsed.value();
}

namespace {

void refuse_none(PyObject* obj, const char* arg) {
  if (obj == Py_None) raise_arg_type(obj, arg, "str or ULID");
}

}  // namespace

Ulid identifier_arg(PyObject* obj, const char* arg) {
  if (!PyUnicode_Check(obj)) {
    refuse_none(obj, arg);
    if (std::optional<Ulid> id = exact_ulid_value(obj)) return *id;
  }
  return parse_identifier(str_of(obj));
}

std::string identifier_text(PyObject* obj, const char* arg) {
  if (!PyUnicode_Check(obj)) {
    refuse_none(obj, arg);
    if (std::optional<Ulid> id = exact_ulid_value(obj)) return id->to_string();
  }
  return str_of(obj);
}

void check_identifier_type(PyObject* obj, const char* arg) {
  if (PyUnicode_Check(obj) || is_exact_ulid(obj)) return;
  Ref cls = loaded_ulid_class();
  if (cls) {
    const int is_ulid = PyObject_IsInstance(obj, cls.get());
    if (is_ulid < 0) throw PythonError{};
    if (is_ulid == 1) return;
  }
  raise_arg_type(obj, arg, "str");
}

Ref id_to_py(const Ulid& id) { return to_py(std::string_view(id.to_string())); }

UlidFactory::UlidFactory() {
  Ref module = ulid_module();
  class_ = own(PyObject_GetAttr(module.get(), interned<UlidClassName>("ULID")));
  // A class that keeps object's allocation is made the way its __init__
  // would leave it with a 16-byte value: a bare instance whose `bytes` is
  // that value. Any other class is called with the bytes.
  if (PyType_Check(class_.get())) {
    auto* type = reinterpret_cast<PyTypeObject*>(class_.get());
    auto object_new = reinterpret_cast<newfunc>(PyType_GetSlot(&PyBaseObject_Type, Py_tp_new));
    auto class_new = reinterpret_cast<newfunc>(PyType_GetSlot(type, Py_tp_new));
    if (class_new == object_new) new_ = class_new;
    remember_ulid_class(class_.get());
  }
}

Ref UlidFactory::make(const Ulid& id) const {
  Ref bytes = bytes_of(id);
  if (new_ == nullptr) return own(PyObject_CallFunctionObjArgs(class_.get(), bytes.get(), nullptr));
  Ref no_args = own(PyTuple_New(0));  // the interpreter's shared empty tuple
  Ref obj = own(new_(reinterpret_cast<PyTypeObject*>(class_.get()), no_args.get(), nullptr));
  check_status(PyObject_SetAttr(obj.get(), interned<BytesName>("bytes"), bytes.get()));
  return obj;
}

}  // namespace zellik::py
