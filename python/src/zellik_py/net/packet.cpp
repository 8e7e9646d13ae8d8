// Packet: a packet of the net, as a query returned it.

#include "zellik_py/binding/pickling.h"
#include "zellik_py/net/identifiers.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/plain_dict.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// Value: the object embeds the engine's Packet (Box<Packet>). Objects come
// only from the engine.

std::string packet_repr(const Packet& p) {
  return "Packet(id=" + single_quoted(p.id.to_string()) +
         ", location=" + location_repr(p.location) + ")";
}

// ---------------------------------------------------------------------------
// Methods

Ref get_id(const Packet& p) { return UlidFactory().make(p.id); }

// ---------------------------------------------------------------------------
// Getters

Ref id_of(const Packet& p) { return id_to_py(p.id); }
Ref location_of(const Packet& p) { return location_to_py(p.location); }

// ---------------------------------------------------------------------------
// Slot table and type

PyMethodDef g_methods[] = {
    {"get_id", as_method(&value_method<Packet, get_id>), METH_NOARGS,
     "get_id($self)\n--\n\nGet the packet ID as a ULID object."},
    {"to_dict", as_method(&value_method<Packet, packet_to_dict>), METH_NOARGS,
     "to_dict($self)\n--\n\nThe packet as a plain dict: its id and its location's dict."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef g_getters[] = {
    {"id", value_getter<Packet, id_of>, nullptr, nullptr, nullptr},
    {"location", value_getter<Packet, location_of>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

void define_packet(PyObject* module) {
  ClassSpec cls = spec_for<Packet>("Packet", "A packet in the network.");
  cls.methods = g_methods;
  cls.getters = g_getters;
  cls.reduce = &reduce_to_record<Packet>;
  cls.slots = {{Py_tp_repr, reinterpret_cast<void*>(&text_slot<Packet, packet_repr>)}};
  define_boxed_class<Packet>(module, cls);
}

Ref packet_to_py(const Packet& packet) { return box<Packet>(packet); }

}  // namespace zellik::py
