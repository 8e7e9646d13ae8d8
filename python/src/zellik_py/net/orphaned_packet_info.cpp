// OrphanedPacketInfo: a packet an output salvo sent through an output port
// with no edge.

#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/pickling.h"
#include "zellik_py/net/identifiers.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// Value: the object embeds the engine's record (Box<OrphanedPacketInfo>).
// Objects come only from the engine.

std::string orphaned_repr(const OrphanedPacketInfo& o) {
  return "OrphanedPacketInfo(packet_id=" + single_quoted(o.packet_id.to_string()) +
         ", from_port=" + quoted(o.from_port.view()) +
         ", salvo_condition=" + quoted(o.salvo_condition.view()) + ")";
}

// ---------------------------------------------------------------------------
// Getters

Ref packet_id_of(const OrphanedPacketInfo& o) { return id_to_py(o.packet_id); }
Ref from_port_of(const OrphanedPacketInfo& o) { return to_py(o.from_port); }
Ref salvo_condition_of(const OrphanedPacketInfo& o) { return to_py(o.salvo_condition); }

// ---------------------------------------------------------------------------
// Slot table and type

PyGetSetDef g_getters[] = {
    {"packet_id", value_getter<OrphanedPacketInfo, packet_id_of>, nullptr, nullptr, nullptr},
    {"from_port", value_getter<OrphanedPacketInfo, from_port_of>, nullptr, nullptr, nullptr},
    {"salvo_condition", value_getter<OrphanedPacketInfo, salvo_condition_of>, nullptr, nullptr,
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

void define_orphaned_packet_info(PyObject* module) {
  ClassSpec cls = spec_for<OrphanedPacketInfo>(
      "OrphanedPacketInfo", "Information about a packet sent to an unconnected output port.");
  cls.getters = g_getters;
  cls.reduce = &reduce_to_record<OrphanedPacketInfo>;
  cls.slots = {
      {Py_tp_repr, reinterpret_cast<void*>(&text_slot<OrphanedPacketInfo, orphaned_repr>)}};
  define_boxed_class<OrphanedPacketInfo>(module, cls);
}

Ref orphaned_packet_to_py(const OrphanedPacketInfo& info) { return box<OrphanedPacketInfo>(info); }

}  // namespace zellik::py
