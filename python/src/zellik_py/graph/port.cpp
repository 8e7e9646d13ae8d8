// Port: a port on a node, with its capacity.

#include "zellik_py/binding/pickling.h"
#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/graph/graph_convert.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// Value: the object embeds the model's Port.

std::string slot_spec_text(PortSlotSpec slots) {
  if (slots.is_infinite()) return "PortSlotSpec.Infinite";
  return "PortSlotSpec.finite(" + decimal(slots.capacity()) + ")";
}

// ---------------------------------------------------------------------------
// Lifetime

PyObject* port_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    auto a = parse_tuple("Port", std::array{"slots_spec"}, 0, args, kwargs);
    Port port;
    if (a[0] != nullptr) port.slots_spec = port_slot_spec_from_py(a[0]);
    return box_as<Port>(type, port);
  });
}

// ---------------------------------------------------------------------------
// Getters

Ref slots_spec_of(const Port& p) { return port_slot_spec_to_py(p.slots_spec); }

std::string port_repr(const Port& p) { return "Port(" + slot_spec_text(p.slots_spec) + ")"; }

// ---------------------------------------------------------------------------
// Slot table and type

PyGetSetDef g_port_getters[] = {
    {"slots_spec", value_getter<Port, slots_spec_of>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// The constructor arguments, read back from the properties.
constexpr const char* kPortFields[] = {"slots_spec", nullptr};

}  // namespace

void define_port(PyObject* module) {
  ClassSpec cls = spec_for<Port>("Port", "Port(slots_spec=None)\n--\n\nA port on a node.");
  cls.getters = g_port_getters;
  cls.reduce = &reduce_to_constructor<kPortFields>;
  cls.slots = {
      {Py_tp_new, reinterpret_cast<void*>(&port_new)},
      {Py_tp_repr, reinterpret_cast<void*>(&text_slot<Port, port_repr>)},
  };
  define_boxed_class<Port>(module, cls);
}

Ref port_to_py(const Port& port) { return box(port); }

const Port& port_arg(PyObject* obj, const char* arg) { return arg_of<Port>(obj, arg); }

}  // namespace zellik::py
