#pragma once

#include <cstdint>
#include <string>

#include "zellik_py/binding/class_file.h"

namespace zellik::py {

// The graph classes, each added to `module` by its own file, in the order
// the module lists them (module.cpp); each throws PythonError at its first
// failure.
void define_packet_count(PyObject* module);
void define_packet_count_n(PyObject* module);
void define_max_salvos(PyObject* module);
void define_max_salvos_finite(PyObject* module);
void define_port_slot_spec(PyObject* module);
void define_port_slot_spec_finite(PyObject* module);
void define_port_state(PyObject* module);
void define_port_state_numeric(PyObject* module);
void define_salvo_condition_term(PyObject* module);
void define_dependency_request_trigger(PyObject* module);
void define_dependency_request_config(PyObject* module);
void define_port(PyObject* module);
void define_port_type(PyObject* module);
void define_port_ref(PyObject* module);
void define_edge(PyObject* module);
void define_salvo_condition(PyObject* module);
void define_node(PyObject* module);
void define_validation_error_info(PyObject* module);
void define_graph(PyObject* module);

// The decimal text of an unsigned count.
inline std::string decimal(std::uint64_t n) { return std::to_string(n); }

// The small classes that carry the limit of a data-carrying variant
// (PacketCountN, MaxSalvosFinite, PortSlotSpecFinite): no constructor, one
// int property, repr "{prefix}{n})". Tag names the class and its texts and
// keeps the embedded types, and so the classes, distinct:
//   struct Tag { static constexpr const char* kName, kDoc, kProperty, kReprPrefix,
//                kFactoryClass, kFactory; };
// (the static constructor kFactoryClass.kFactory(n) makes the object again).
template <class Tag>
struct Limit {
  std::uint64_t n;
};

template <class Tag>
struct LimitClass {
  static Ref value(const Limit<Tag>& v) { return to_py_u64(v.n); }
  static std::string repr(const Limit<Tag>& v) { return Tag::kReprPrefix + decimal(v.n) + ")"; }
  static PyObject* reduce(PyObject* self, PyObject*) {
    return guard([&] {
      Ref factory = module_class(Tag::kFactoryClass);
      return rebuilt_by_static(factory.get(), Tag::kFactory,
                               tuple_of(to_py_u64(unbox<Limit<Tag>>(self).n)));
    });
  }

  static inline PyGetSetDef getters[] = {
      {Tag::kProperty, value_getter<Limit<Tag>, &LimitClass::value>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };

  static void define(PyObject* module) {
    ClassSpec cls = spec_for<Limit<Tag>>(Tag::kName, Tag::kDoc);
    cls.getters = getters;
    cls.reduce = &LimitClass::reduce;
    cls.slots = {{Py_tp_repr, reinterpret_cast<void*>(&text_slot<Limit<Tag>, &LimitClass::repr>)}};
    define_boxed_class<Limit<Tag>>(module, cls);
  }
};

}  // namespace zellik::py
