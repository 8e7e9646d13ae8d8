// Port: a port on a node, with its capacity.

#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/graph/graph_convert.h"
#include "zellik_py/graph/graph_forms.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// The object embeds the model's Port.

std::string slot_spec_text(PortSlotSpec slots) {
  if (slots.is_infinite()) return "PortSlotSpec.Infinite";
  return "PortSlotSpec.finite(" + decimal(slots.capacity()) + ")";
}

std::string port_repr(const Port& p) { return "Port(" + slot_spec_text(p.slots_spec) + ")"; }

const RecordClass<Port> kPort{
    .name = "Port",
    .doc = "Port(slots_spec=None)\n--\n\nA port on a node.",
    .compares = false,
    .repr = &port_repr,
};

}  // namespace

void define_port(PyObject* module) { define_record_class(module, kPort); }

}  // namespace zellik::py
