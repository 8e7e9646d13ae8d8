#include "zellik_py/binding/boxed.h"

#include "zellik_py/binding/convert.h"

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace zellik::py {

PyObject* no_constructor(PyTypeObject* type, PyObject*, PyObject*) {
  return guard([&] {
    Ref name = own(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__"));
    PyErr_Format(PyExc_TypeError, "No constructor defined for %U", name.get());
    return Ref();
  });
}

void raise_no_class() {
  raise(PyExc_SystemError, "zellik_sim: the module's classes are gone (the module was cleared)");
}

void raise_not_instance(PyObject* obj, const char* arg, PyTypeObject* expected) {
  Ref name = expected != nullptr
                 ? own(PyObject_GetAttrString(reinterpret_cast<PyObject*>(expected), "__name__"))
                 : own(PyUnicode_FromString("?"));
  const char* text = PyUnicode_AsUTF8AndSize(name.get(), nullptr);
  if (text == nullptr) throw PythonError{};
  raise_arg_type(obj, arg, text);
}

namespace {

// A copy of the zero-terminated `methods` (may be null) with __reduce__
// added. The class keeps pointing to the table, so it lives as long as the
// process; every interpreter's class of that kind shares it.
PyMethodDef* with_reduce(const PyMethodDef* methods, PyCFunction reduce) {
  static std::map<std::pair<const PyMethodDef*, PyCFunction>, std::vector<PyMethodDef>> tables;
  std::vector<PyMethodDef>& table = tables[{methods, reduce}];
  if (!table.empty()) return table.data();
  for (const PyMethodDef* m = methods; m != nullptr && m->ml_name != nullptr; ++m)
    table.push_back(*m);
  table.push_back({"__reduce__", reduce, METH_NOARGS, "Helper for pickle and copy."});
  table.push_back({nullptr, nullptr, 0, nullptr});
  return table.data();
}

}  // namespace

PyTypeObject* define_class(PyObject* module, const ClassSpec& cls) {
  std::vector<PyType_Slot> slots;
  bool has_new = false;
  for (const PyType_Slot& s : cls.slots) {
    has_new = has_new || s.slot == Py_tp_new;
    slots.push_back(s);
  }
  newfunc construct = cls.construct != nullptr ? cls.construct : &no_constructor;
  if (!has_new) slots.push_back({Py_tp_new, reinterpret_cast<void*>(construct)});
  if (cls.repr != nullptr) slots.push_back({Py_tp_repr, reinterpret_cast<void*>(cls.repr)});
  if (cls.str != nullptr) slots.push_back({Py_tp_str, reinterpret_cast<void*>(cls.str)});
  slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(cls.dealloc)});
  if (cls.doc != nullptr) slots.push_back({Py_tp_doc, const_cast<char*>(cls.doc)});
  PyMethodDef* methods = cls.methods;
  if (cls.reduce != nullptr) methods = with_reduce(cls.methods, cls.reduce);
  if (methods != nullptr) slots.push_back({Py_tp_methods, methods});
  if (cls.getters != nullptr) slots.push_back({Py_tp_getset, cls.getters});
  slots.push_back({0, nullptr});

  unsigned flags = Py_TPFLAGS_DEFAULT;
  if (cls.subclassable) flags |= Py_TPFLAGS_BASETYPE;
  // The class is made under its dotted name, which gives it its __module__
  // (a bare name makes the interpreter warn that the type has no module),
  // and then renamed to the bare name. Older interpreters keep pointing to
  // the name given at creation until then, so the dotted names live as long as the
  // process (one for every interpreter's class of that name).
  static std::set<std::string> dotted_names;
  const std::string& dotted = *dotted_names.insert(std::string("zellik_sim.") + cls.name).first;
  PyType_Spec type_spec{dotted.c_str(), static_cast<int>(cls.basic_size), 0, flags, slots.data()};

  Ref bases;
  if (cls.base != nullptr) bases = own(PyTuple_Pack(1, cls.base));
  // The class knows its module, so its methods reach the module's state.
  Ref type = own(PyType_FromModuleAndSpec(module, &type_spec, bases.get()));
  Ref bare_name = own(PyUnicode_FromString(cls.name));
  check_status(PyObject_SetAttrString(type.get(), "__name__", bare_name.get()));
  PyObject* borrowed = type.get();
  check_status(PyModule_AddObject(module, cls.name, type.get()));
  type.release();  // the module owns it now
  return reinterpret_cast<PyTypeObject*>(borrowed);
}

}  // namespace zellik::py
