// PacketLocation: where a packet is.

#include "zellik_py/binding/args.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/pickling.h"
#include "zellik_py/graph/graph_convert.h"
#include "zellik_py/net/identifiers.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/net_dicts.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// Value: the object embeds the engine's PacketLocation (Box<PacketLocation>).

// ---------------------------------------------------------------------------
// Lifetime: the static constructors. Epoch ids are parsed at once.

Ref node(PyObject* epoch_id) {
  return location_to_py(PacketLocation::Node(identifier_arg(epoch_id, "epoch_id")));
}

Ref input_port(PyObject* node_name, PyObject* port_name) {
  Name node = to_name_arg(node_name, "node_name");
  Name port = to_name_arg(port_name, "port_name");
  return location_to_py(PacketLocation::InputPort(std::move(node), std::move(port)));
}

Ref output_port(PyObject* epoch_id, PyObject* port_name) {
  Ulid epoch = identifier_arg(epoch_id, "epoch_id");
  Name port = to_name_arg(port_name, "port_name");
  return location_to_py(PacketLocation::OutputPort(epoch, std::move(port)));
}

Ref edge(PyObject* obj) { return location_to_py(PacketLocation::Edge(arg_of<Edge>(obj, "edge"))); }

Ref outside_net() { return location_to_py(PacketLocation::OutsideNet()); }

// The location a to_dict described; epoch ids are parsed at once, as the
// static constructors do.
Ref from_dict(PyObject* data) { return location_to_py(location_from_dict(data, "")); }

// ---------------------------------------------------------------------------
// Methods

Ref edge_of(const PacketLocation& loc) {
  return loc.is(PacketLocation::Kind::Edge) ? box<Edge>(loc.edge()) : none();
}

// ---------------------------------------------------------------------------
// Getters

Ref kind_of(const PacketLocation& loc) {
  return to_py(row_of(PacketLocation::kKindNames, loc.kind()).name);
}

Ref node_name_of(const PacketLocation& loc) {
  return loc.is(PacketLocation::Kind::InputPort) ? to_py(loc.node_name()) : none();
}

Ref port_name_of(const PacketLocation& loc) {
  const bool has_port =
      loc.is(PacketLocation::Kind::InputPort) || loc.is(PacketLocation::Kind::OutputPort);
  return has_port ? to_py(loc.port_name()) : none();
}

Ref epoch_id_of(const PacketLocation& loc) {
  const bool has_epoch =
      loc.is(PacketLocation::Kind::Node) || loc.is(PacketLocation::Kind::OutputPort);
  return has_epoch ? id_to_py(loc.epoch_id()) : none();
}

// ---------------------------------------------------------------------------
// Slot table and type

PyMethodDef g_methods[] = {
    static_def<node, "node", "epoch_id">(
        "node(epoch_id)\n--\n\nCreate a Node location (inside an epoch)."),
    static_def<input_port, "input_port", "node_name", "port_name">(
        "input_port(node_name, port_name)\n--\n\nCreate an InputPort location."),
    static_def<output_port, "output_port", "epoch_id", "port_name">(
        "output_port(epoch_id, port_name)\n--\n\nCreate an OutputPort location."),
    static_def<edge, "edge", "edge">("edge(edge)\n--\n\nCreate an Edge location."),
    static_def<outside_net, "outside_net">("outside_net()\n--\n\nCreate an OutsideNet location."),
    Members<PacketLocation>::method<edge_of>(
        "get_edge", "get_edge($self)\n--\n\nGet the edge (for Edge locations)."),
    Members<PacketLocation>::method<location_to_dict>(
        "to_dict",
        "to_dict($self)\n--\n\nThe location as a plain dict: its kind and that kind's fields."),
    from_dict_def<from_dict, "location">(),
    {},
};

PyGetSetDef g_getters[] = {
    Members<PacketLocation>::getter<kind_of>("kind", "Get the location kind."),
    Members<PacketLocation>::getter<node_name_of>("node_name",
                                                  "Get the node name (for InputPort locations)."),
    Members<PacketLocation>::getter<port_name_of>(
        "port_name", "Get the port name (for InputPort and OutputPort locations)."),
    Members<PacketLocation>::getter<epoch_id_of>(
        "epoch_id", "Get the epoch ID (for Node and OutputPort locations)."),
    {},
};

// A location pickles as the static constructor of its kind.
PyObject* location_reduce(PyObject* self, PyObject*) {
  return guard([&] {
    const PacketLocation& loc = unbox<PacketLocation>(self);
    PyObject* cls = reinterpret_cast<PyObject*>(Py_TYPE(self));
    switch (loc.kind()) {
      case PacketLocation::Kind::Node:
        return rebuilt_by_static(cls, "node", tuple_of(id_to_py(loc.epoch_id())));
      case PacketLocation::Kind::InputPort:
        return rebuilt_by_static(cls, "input_port",
                                 tuple_of(to_py(loc.node_name()), to_py(loc.port_name())));
      case PacketLocation::Kind::OutputPort:
        return rebuilt_by_static(cls, "output_port",
                                 tuple_of(id_to_py(loc.epoch_id()), to_py(loc.port_name())));
      case PacketLocation::Kind::Edge:
        return rebuilt_by_static(cls, "edge", tuple_of(box<Edge>(loc.edge())));
      case PacketLocation::Kind::OutsideNet:
        break;
    }
    return rebuilt_by_static(cls, "outside_net", tuple_of());
  });
}

}  // namespace

void define_packet_location(PyObject* module) {
  define_boxed_class<PacketLocation>(module, {.name = "PacketLocation",
                                              .doc = "Where a packet is located in the network.",
                                              .methods = g_methods,
                                              .getters = g_getters,
                                              .repr = &text_slot<PacketLocation, location_repr>,
                                              .reduce = &location_reduce});
}

std::string location_repr(const PacketLocation& loc) {
  switch (loc.kind()) {
    case PacketLocation::Kind::Node:
      return "PacketLocation.node(" + single_quoted(loc.epoch_id().to_string()) + ")";
    case PacketLocation::Kind::InputPort:
      return "PacketLocation.input_port(" + quoted(loc.node_name().view()) + ", " +
             quoted(loc.port_name().view()) + ")";
    case PacketLocation::Kind::OutputPort:
      return "PacketLocation.output_port(" + single_quoted(loc.epoch_id().to_string()) + ", " +
             quoted(loc.port_name().view()) + ")";
    case PacketLocation::Kind::Edge:
      return "PacketLocation.edge(" + loc.edge().to_string() + ")";
    case PacketLocation::Kind::OutsideNet:
      break;
  }
  return "PacketLocation.outside_net()";
}

Ref location_to_py(const PacketLocation& location) { return box<PacketLocation>(location); }

const PacketLocation& location_arg(PyObject* obj, const char* arg) {
  return arg_of<PacketLocation>(obj, arg);
}

}  // namespace zellik::py
