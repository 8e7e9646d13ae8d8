#include "zellik_py/binding/enum_class.h"

#include <string>
#include <utility>

#include "zellik_py/binding/boxed.h"
#include "zellik_py/binding/guard.h"
#include "zellik_py/binding/pickling.h"

namespace zellik::py {

namespace {

const EnumValue& value_of(PyObject* self) { return unbox<EnumValue>(self); }

PyObject* enum_repr(PyObject* self) {
  return guard([&] {
    const EnumValue& v = value_of(self);
    std::string text =
        std::string(v.table->name) + "." + v.table->members[static_cast<std::size_t>(v.number)];
    return own(PyUnicode_FromString(text.c_str()));
  });
}

PyObject* enum_int(PyObject* self) {
  return guard([&] { return own(PyLong_FromLong(value_of(self).number)); });
}

PyObject* enum_richcompare(PyObject* self, PyObject* other, int op) {
  return guard([&] {
    if (op != Py_EQ && op != Py_NE) return Ref::borrow(Py_NotImplemented);
    const EnumValue& v = value_of(self);
    long other_number = 0;
    if (Py_TYPE(other) == Py_TYPE(self)) {
      other_number = value_of(other).number;
    } else if (PyLong_Check(other)) {
      int overflow = 0;
      other_number = PyLong_AsLongAndOverflow(other, &overflow);
      if (other_number == -1 && PyErr_Occurred()) throw PythonError{};
      if (overflow != 0) return Ref::borrow(op == Py_EQ ? Py_False : Py_True);
    } else {
      return Ref::borrow(Py_NotImplemented);
    }
    bool equal = other_number == v.number;
    return Ref::borrow((equal == (op == Py_EQ)) ? Py_True : Py_False);
  });
}

// A member pickles as the class attribute that holds it.
PyObject* enum_reduce(PyObject* self, PyObject*) {
  return guard([&] {
    const EnumValue& v = value_of(self);
    return rebuilt_by_attribute(reinterpret_cast<PyObject*>(Py_TYPE(self)),
                                v.table->members[static_cast<std::size_t>(v.number)]);
  });
}

Py_hash_t enum_hash(PyObject* self) { return static_cast<Py_hash_t>(value_of(self).number); }

}  // namespace

PyTypeObject* define_enum(PyObject* module, EnumSpec& table) {
  ClassSpec cls = spec_for<EnumValue>(table.name, table.doc);
  cls.methods = table.methods;
  cls.reduce = &enum_reduce;
  cls.slots = {
      {Py_tp_repr, reinterpret_cast<void*>(&enum_repr)},
      {Py_nb_int, reinterpret_cast<void*>(&enum_int)},
      {Py_tp_richcompare, reinterpret_cast<void*>(&enum_richcompare)},
      {Py_tp_hash, table.hashable ? reinterpret_cast<void*>(&enum_hash)
                                  : reinterpret_cast<void*>(&PyObject_HashNotImplemented)},
  };
  PyTypeObject* type = define_class(module, cls);
  ModuleState& state = state_of_module(module);
  const auto keep = [&state](std::size_t slot, Ref obj) {
    Ref::steal(std::exchange(state.object(slot), obj.release()));
  };
  keep(table.first_slot, Ref::borrow(reinterpret_cast<PyObject*>(type)));
  for (std::size_t i = 0; i < table.members.size(); ++i) {
    Ref member = box_as<EnumValue>(type, EnumValue{&table, static_cast<int>(i)});
    check_status(
        PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), table.members[i], member.get()));
    keep(table.first_slot + 1 + i, std::move(member));
  }
  return type;
}

Ref enum_member(const EnumSpec& table, int number) {
  if (number < 0 || static_cast<std::size_t>(number) >= table.members.size()) {
    fail(std::string("No member ") + std::to_string(number) + " of " + table.name);
  }
  PyObject* member =
      current_state().object(table.first_slot + 1 + static_cast<std::size_t>(number));
  if (member == nullptr) raise_no_class();
  return Ref::borrow(member);
}

std::optional<int> enum_number(const EnumSpec& table, PyObject* obj) {
  PyObject* type = current_state().object(table.first_slot);
  if (type == nullptr || reinterpret_cast<PyObject*>(Py_TYPE(obj)) != type) return std::nullopt;
  return value_of(obj).number;
}

}  // namespace zellik::py
