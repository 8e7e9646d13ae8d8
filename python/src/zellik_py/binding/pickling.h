#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string_view>

#include "zellik/net/record_codec.h"
#include "zellik_py/binding/boxed.h"
#include "zellik_py/binding/guard.h"
#include "zellik_py/binding/ref.h"

namespace zellik::py {

// What a __reduce__ returns: pickle and copy rebuild the object by calling
// `callable(*args)`. Each form below names a public way to make the object
// again, so a pickle holds nothing but calls a user could write.

// `cls(*args)`: the class's own constructor.
Ref rebuilt_by_constructor(PyObject* cls, Ref args);
// `cls.method(*args)`: a static constructor, reached through
// operator.methodcaller so that the pickle names only the class.
Ref rebuilt_by_static(PyObject* cls, const char* method, Ref args);
// `getattr(cls, name)`: a member held as a class attribute.
Ref rebuilt_by_attribute(PyObject* cls, const char* name);
// `zellik_sim._record_from_bytes(data)`: for the records only the engine
// makes (packets, epochs, events, ...), from their byte form.
Ref rebuilt_from_record(std::string_view data);

// The module's class `name`.
Ref module_class(const char* name);

// The values of `names` (null-terminated) read from `self`, as a tuple: a
// name beginning "get_" is a method called without arguments, any other a
// property.
Ref fields_of(PyObject* self, const char* const* names);

// __reduce__ of a class whose constructor takes the fields `Names` in order.
template <const char* const* Names>
PyObject* reduce_to_constructor(PyObject* self, PyObject*) {
  return guard([&] {
    return rebuilt_by_constructor(reinterpret_cast<PyObject*>(Py_TYPE(self)),
                                  fields_of(self, Names));
  });
}

// __reduce__ of a class embedding an engine record T (record_codec.h).
template <class T>
PyObject* reduce_to_record(PyObject* self, PyObject*) {
  return guard([&] { return rebuilt_from_record(encode_record(unbox<T>(self))); });
}

// A new tuple of the given objects (which it takes).
template <class... Refs>
Ref tuple_of(Refs... items) {
  Ref tuple = own(PyTuple_New(sizeof...(Refs)));
  Py_ssize_t i = 0;
  (PyTuple_SetItem(tuple.get(), i++, items.release()), ...);  // steals
  return tuple;
}

}  // namespace zellik::py
