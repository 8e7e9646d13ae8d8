// Packet: a packet of the net, as a query returned it.

#include "zellik_py/net/identifiers.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/net_forms.h"

namespace zellik::py {
namespace {

// The object embeds the engine's Packet (Box<Packet>). Objects come only
// from the engine.

Ref get_id(const Packet& p) { return UlidFactory().make(p.id); }

const PyMethodDef kMethods[] = {
    Members<Packet>::method<get_id>("get_id",
                                    "get_id($self)\n--\n\nGet the packet ID as a ULID object."),
    {},
};

const RecordClass<Packet> kPacket{
    .name = "Packet",
    .doc = "A packet in the network.",
    .engine_reduce = &reduce_to_record<Packet>,
    .to_dict_doc =
        "to_dict($self)\n--\n\nThe packet as a plain dict: its id and its location's dict.",
    .compares = false,
    .methods = kMethods,
};

}  // namespace

void define_packet(PyObject* module) { define_record_class(module, kPacket); }

Ref packet_to_py(const Packet& packet) { return box<Packet>(packet); }

}  // namespace zellik::py
