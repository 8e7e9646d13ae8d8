#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <optional>
#include <vector>

#include "zellik/base/kind_table.h"
#include "zellik_py/binding/module_state.h"
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
// repr is "{Class}.{Member}". Declared once per class as a table made when
// the extension is loaded (a namespace-scope or static member variable).
struct EnumSpec {
  const char* name;  // bare class name
  const char* doc;
  std::vector<const char*> members;  // by number
  bool hashable = false;
  PyMethodDef* methods = nullptr;  // static constructors, zero-terminated
  // The module state's slots of the class (the first) and of its members,
  // the class attributes, by number (those after it); filled by define_enum.
  std::size_t first_slot = next_state_slots(1 + members.size());
};

// The member names of an enumeration class, from the engine's table of its
// kinds' names (whose texts are literals, so each ends in a NUL).
template <class E, std::size_t N>
std::vector<const char*> member_names(const KindName<E> (&rows)[N]) {
  std::vector<const char*> names;
  for (const KindName<E>& row : rows) names.push_back(row.name.data());
  return names;
}

// Creates the class with its members and adds it to `module`.
PyTypeObject* define_enum(PyObject* module, EnumSpec& table);

// The member of the class with that number: the class attribute itself,
// shared by every conversion (members compare by number, never by identity).
Ref enum_member(const EnumSpec& table, int number);

// The number of `obj` when it is a member of the class, else nothing.
std::optional<int> enum_number(const EnumSpec& table, PyObject* obj);

}  // namespace zellik::py
