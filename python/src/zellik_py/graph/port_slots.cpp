// PortSlotSpec and PortSlotSpecFinite: the capacity of a port.

#include "zellik_py/binding/enum_class.h"
#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/graph/graph_convert.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// Values: Infinite is a member of the enumeration; a capacity n is a
// PortSlotSpecFinite. The bare Finite member carries no capacity.

struct PortSlotSpecFiniteTag {
  static constexpr const char* kName = "PortSlotSpecFinite";
  static constexpr const char* kDoc = "Finite port capacity with a specific limit.";
  static constexpr const char* kProperty = "capacity";
  static constexpr const char* kReprPrefix = "PortSlotSpec.finite(";
  static constexpr const char* kFactoryClass = "PortSlotSpec";
  static constexpr const char* kFactory = "finite";
};
using PortSlotSpecFinite = Limit<PortSlotSpecFiniteTag>;

extern EnumSpec g_port_slot_spec;  // the enumeration's table, below

// ---------------------------------------------------------------------------
// PortSlotSpec: static constructors

PyObject* port_slot_spec_infinite(PyObject*, PyObject* const*, Py_ssize_t nargs,
                                  PyObject* kwnames) {
  return guard([&] {
    parse_none("infinite", nargs, kwnames);
    return enum_member(g_port_slot_spec, 0);
  });
}

PyObject* port_slot_spec_finite(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("finite", std::array{"n"}, 1, args, nargs, kwnames);
    return port_slot_spec_to_py(PortSlotSpec::Finite(to_u64_arg(a[0], "n")));
  });
}

// ---------------------------------------------------------------------------
// PortSlotSpec: slot table and type

PyMethodDef g_port_slot_spec_methods[] = {
    {"infinite", as_method(&port_slot_spec_infinite), kStaticMethod, "infinite()\n--\n\n"},
    {"finite", as_method(&port_slot_spec_finite), kStaticMethod, "finite(n)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

EnumSpec g_port_slot_spec{
    "PortSlotSpec",     "Port capacity specification.", {"Infinite", "Finite"},
    /*hashable=*/false, g_port_slot_spec_methods,
};

}  // namespace

void define_port_slot_spec(PyObject* module) { define_enum(module, g_port_slot_spec); }
void define_port_slot_spec_finite(PyObject* module) {
  LimitClass<PortSlotSpecFiniteTag>::define(module);
}

Ref port_slot_spec_to_py(PortSlotSpec slots) {
  if (slots.is_infinite()) return enum_member(g_port_slot_spec, 0);
  return box(PortSlotSpecFinite{slots.capacity()});
}

PortSlotSpec port_slot_spec_from_py(PyObject* obj) {
  if (obj == Py_None || enum_number(g_port_slot_spec, obj)) return PortSlotSpec::Infinite();
  if (const PortSlotSpecFinite* f = cast<PortSlotSpecFinite>(obj)) {
    return PortSlotSpec::Finite(f->n);
  }
  raise(PyExc_TypeError, "Expected PortSlotSpec or PortSlotSpecFinite");
}

}  // namespace zellik::py
