#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "zellik_py/binding/guard.h"
#include "zellik_py/binding/module_state.h"
#include "zellik_py/binding/ref.h"

namespace zellik::py {

// A Python object embedding a C++ value, constructed in place when the
// object is made and destroyed in dealloc.
template <class T>
struct Box {
  PyObject_HEAD T value;
};

// The Python class whose objects embed a T: one class per C++ value type
// (wrappers that share a model type use distinct tag types), kept in the
// module's state (null until the module has defined it).
template <class T>
PyTypeObject* class_of(const ModuleState& state) {
  return reinterpret_cast<PyTypeObject*>(state.object(StateSlot<Box<T>>::index));
}
template <class T>
PyTypeObject* class_of() {
  return class_of<T>(current_state());
}

template <class T>
bool is_instance(PyObject* obj) {
  PyTypeObject* type = class_of<T>();
  return type != nullptr && PyObject_TypeCheck(obj, type);
}

// The embedded value of an object known to be of T's class.
template <class T>
T& unbox(PyObject* obj) {
  return reinterpret_cast<Box<T>*>(obj)->value;
}

// The embedded value, or null when `obj` is not of T's class.
template <class T>
T* cast(PyObject* obj) {
  return is_instance<T>(obj) ? &unbox<T>(obj) : nullptr;
}

// Raises SystemError: the module's state has no class for a value (its
// module was cleared, as at the interpreter's end).
[[noreturn]] void raise_no_class();

// Raises TypeError "argument '{arg}': expected {Class}, got {type name}" for
// an argument that is not of the class `expected`.
[[noreturn]] void raise_not_instance(PyObject* obj, const char* arg, PyTypeObject* expected);

// The embedded value of an argument of T's class; TypeError naming the
// argument and the class for anything else. The reference points into `obj`.
template <class T>
T& arg_of(PyObject* obj, const char* arg) {
  T* value = cast<T>(obj);
  if (value == nullptr) raise_not_instance(obj, arg, class_of<T>());
  return *value;
}

// A new object of `type` (a class embedding T) holding `value`.
template <class T>
Ref box_as(PyTypeObject* type, T value) {
  // The value is built in the object after allocation; a move that could
  // throw would leave dealloc to destroy a value that was never built.
  static_assert(std::is_nothrow_move_constructible_v<T>,
                "a boxed value must move without throwing");
  if (type == nullptr) raise_no_class();
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  Ref obj = own(alloc(type, 0));
  new (&reinterpret_cast<Box<T>*>(obj.get())->value) T(std::move(value));
  return obj;
}

// A new object of T's class holding `value`.
template <class T>
Ref box(T value) {
  return box_as<T>(class_of<T>(), std::move(value));
}
// The same, for a caller that has the module's state at hand.
template <class T>
Ref box_in(const ModuleState& state, T value) {
  return box_as<T>(class_of<T>(state), std::move(value));
}

template <class T>
void box_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<Box<T>*>(self)->value.~T();
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(self);
  Py_DECREF(type);
}

// tp_new of classes that cannot be called: TypeError "No constructor defined
// for {Class}".
PyObject* no_constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs);

// What is particular to one class; the rest is shared. A class file fills
// it with designated initializers, in this order:
//
//   define_boxed_class<Graph>(module, {.name = "Graph", .doc = "Graph(nodes, ...)\n--\n\n...",
//                                      .methods = g_methods, .construct = &graph_new,
//                                      .repr = &text_slot<Graph, repr_of>});
//
// The method and getter tables must be static (the interpreter keeps
// pointers to them) and end with a zeroed entry.
struct ClassSpec {
  const char* name = nullptr;  // bare class name; must be static
  const char* doc = nullptr;   // "Name(signature)\n--\n\ntext" when constructible
  PyMethodDef* methods = nullptr;
  PyGetSetDef* getters = nullptr;
  // tp_new; without one, calling the class raises "No constructor defined
  // for {Class}".
  newfunc construct = nullptr;
  reprfunc repr = nullptr;
  reprfunc str = nullptr;
  // __reduce__ (METH_NOARGS), added to the methods when set: how pickle and
  // copy rebuild an object of the class (binding/pickling.h).
  PyCFunction reduce = nullptr;
  // The class's other slots (richcompare, hash, ...), without a terminator.
  std::vector<PyType_Slot> slots{};
  PyObject* base = nullptr;   // a base class, or null for object
  bool subclassable = false;  // only bases of variant classes are
  unsigned basic_size = 0;    // sizeof(Box<T>): boxed_spec sets it and dealloc
  void (*dealloc)(PyObject*) = nullptr;
};
// Creates the class (not subclassable unless asked; "No constructor defined
// for {Class}" unless the class gives tp_new; __module__ = "zellik_sim") and
// adds it to `module` under its name. Returns a borrowed pointer owned by the
// module.
PyTypeObject* define_class(PyObject* module, const ClassSpec& cls);

// `cls` made the description of a class embedding T.
template <class T>
ClassSpec boxed_spec(ClassSpec cls) {
  cls.basic_size = static_cast<unsigned>(sizeof(Box<T>));
  cls.dealloc = &box_dealloc<T>;
  return cls;
}

// The description of a class embedding T, to be filled in field by field.
template <class T>
ClassSpec spec_for(const char* name, const char* doc) {
  return boxed_spec<T>({.name = name, .doc = doc});
}

// Defines the class of objects embedding a T and keeps it in the module's
// state for box<T>/cast<T>.
template <class T>
PyTypeObject* define_boxed_class(PyObject* module, ClassSpec cls) {
  PyTypeObject* type = define_class(module, boxed_spec<T>(std::move(cls)));
  PyObject*& kept = state_of_module(module).object(StateSlot<Box<T>>::index);
  Ref old =
      Ref::steal(std::exchange(kept, Ref::borrow(reinterpret_cast<PyObject*>(type)).release()));
  return type;
}

}  // namespace zellik::py
