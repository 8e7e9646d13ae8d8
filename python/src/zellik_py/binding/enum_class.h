#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>
#include <vector>

#include "zellik_py/binding/ref.h"

namespace zellik::py {

struct EnumSpec;

// The value embedded in a member of an enumeration class.
struct EnumValue {
  const EnumSpec* table;
  int number;
};

// One closed enumeration class: members are class attributes, numbered by
// their position in `members`. `==`/`!=` compare by number with members of
// the same class and with ints; every other comparison is NotImplemented;
// repr is "{Class}.{Member}". Declared once per class as a static table.
struct EnumSpec {
  const char* name;  // bare class name
  const char* doc;
  std::vector<const char*> members;  // by number
  bool hashable = false;
  PyMethodDef* methods = nullptr;   // static constructors, zero-terminated
  PyTypeObject* type = nullptr;     // set by define_enum
  std::vector<PyObject*> shared{};  // the class attributes, by number; set by define_enum
};

// Creates the class with its members and adds it to `module`.
PyTypeObject* define_enum(PyObject* module, EnumSpec& table);

// The member of the class with that number: the class attribute itself,
// shared by every conversion (members compare by number, never by identity).
Ref enum_member(const EnumSpec& table, int number);

// The number of `obj` when it is a member of the class, else nothing.
std::optional<int> enum_number(const EnumSpec& table, PyObject* obj);

}  // namespace zellik::py
