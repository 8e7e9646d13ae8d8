// OrphanedPacketInfo: a packet an output salvo sent through an output port
// with no edge.

#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/net_forms.h"

namespace zellik::py {
namespace {

// The object embeds the engine's record (Box<OrphanedPacketInfo>). Objects
// come only from the engine.
const RecordClass<OrphanedPacketInfo> kOrphanedPacketInfo{
    .name = "OrphanedPacketInfo",
    .doc = "Information about a packet sent to an unconnected output port.",
    .engine_reduce = &reduce_to_record<OrphanedPacketInfo>,
    .compares = false,
};

}  // namespace

void define_orphaned_packet_info(PyObject* module) {
  define_record_class(module, kOrphanedPacketInfo);
}

Ref orphaned_packet_to_py(const OrphanedPacketInfo& info) { return box<OrphanedPacketInfo>(info); }

}  // namespace zellik::py
