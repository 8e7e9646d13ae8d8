#include "zellik_py/binding/pickling.h"

#include "zellik_py/binding/guard.h"

namespace zellik::py {

namespace {

Ref module_attribute(const char* module_name, const char* name) {
  Ref module = own(PyImport_ImportModule(module_name));
  return own(PyObject_GetAttrString(module.get(), name));
}

Ref pair(Ref callable, Ref args) { return tuple_of(std::move(callable), std::move(args)); }

}  // namespace

Ref module_class(const char* name) { return module_attribute("zellik_sim", name); }

Ref fields_of(PyObject* self, const char* const* names) {
  Py_ssize_t n = 0;
  while (names[n] != nullptr) ++n;
  Ref tuple = own(PyTuple_New(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    const std::string_view name = names[i];
    Ref value = name.starts_with("get_") ? own(PyObject_CallMethod(self, names[i], nullptr))
                                         : own(PyObject_GetAttrString(self, names[i]));
    PyTuple_SetItem(tuple.get(), i, value.release());  // steals
  }
  return tuple;
}

Ref rebuilt_by_constructor(PyObject* cls, Ref args) {
  return pair(Ref::borrow(cls), std::move(args));
}

Ref rebuilt_by_static(PyObject* cls, const char* method, Ref args) {
  Ref methodcaller = module_attribute("operator", "methodcaller");
  const Py_ssize_t n = PyTuple_Size(args.get());
  Ref caller_args = own(PyTuple_New(n + 1));
  PyTuple_SetItem(caller_args.get(), 0, own(PyUnicode_FromString(method)).release());
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyTuple_SetItem(caller_args.get(), i + 1,
                    Ref::borrow(PyTuple_GetItem(args.get(), i)).release());
  }
  Ref caller = own(PyObject_CallObject(methodcaller.get(), caller_args.get()));
  return pair(std::move(caller), tuple_of(Ref::borrow(cls)));
}

Ref rebuilt_by_attribute(PyObject* cls, const char* name) {
  Ref getattr = module_attribute("builtins", "getattr");
  return pair(std::move(getattr), tuple_of(Ref::borrow(cls), own(PyUnicode_FromString(name))));
}

Ref rebuilt_from_record(std::string_view data) {
  Ref restore = module_attribute("zellik_sim", "_record_from_bytes");
  Ref bytes = own(PyBytes_FromStringAndSize(data.data(), static_cast<Py_ssize_t>(data.size())));
  return pair(std::move(restore), tuple_of(std::move(bytes)));
}

}  // namespace zellik::py
