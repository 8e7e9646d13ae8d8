// PacketLocation: where a packet is.

#include <array>

#include "zellik_py/binding/args.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/pickling.h"
#include "zellik_py/graph/graph_convert.h"
#include "zellik_py/net/identifiers.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/plain_dict.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// Value: the object embeds the engine's PacketLocation (Box<PacketLocation>).

constexpr std::array<const char*, 5> kKindNames = {"Node", "InputPort", "OutputPort", "Edge",
                                                   "OutsideNet"};

// ---------------------------------------------------------------------------
// Lifetime: the static constructors. Epoch ids are parsed at once.

PyObject* node(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("node", std::array{"epoch_id"}, 1, args, nargs, kwnames);
    return location_to_py(PacketLocation::Node(identifier_arg(a[0])));
  });
}

PyObject* input_port(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a =
        parse_fast("input_port", std::array{"node_name", "port_name"}, 2, args, nargs, kwnames);
    Name node_name = to_name_arg(a[0], "node_name");
    Name port_name = to_name_arg(a[1], "port_name");
    return location_to_py(PacketLocation::InputPort(std::move(node_name), std::move(port_name)));
  });
}

PyObject* output_port(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a =
        parse_fast("output_port", std::array{"epoch_id", "port_name"}, 2, args, nargs, kwnames);
    Ulid epoch_id = identifier_arg(a[0]);
    Name port_name = to_name_arg(a[1], "port_name");
    return location_to_py(PacketLocation::OutputPort(epoch_id, std::move(port_name)));
  });
}

PyObject* edge(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("edge", std::array{"edge"}, 1, args, nargs, kwnames);
    return location_to_py(PacketLocation::Edge(edge_arg(a[0], "edge")));
  });
}

PyObject* outside_net(PyObject*, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    parse_none("outside_net", nargs, kwnames);
    return location_to_py(PacketLocation::OutsideNet());
  });
}

// The location a to_dict described; epoch ids are parsed at once, as the
// static constructors do.
PyObject* from_dict(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("from_dict", std::array{"data"}, 1, args, nargs, kwnames);
    if (!PyDict_Check(a[0])) raise_arg_type(a[0], "data", "dict");
    return location_to_py(location_from_dict(a[0], ""));
  });
}

// ---------------------------------------------------------------------------
// Methods

Ref edge_of(const PacketLocation& loc) {
  return loc.is(PacketLocation::Kind::Edge) ? edge_to_py(loc.edge()) : none();
}

// ---------------------------------------------------------------------------
// Getters

Ref kind_of(const PacketLocation& loc) {
  return to_py(std::string_view(kKindNames[static_cast<std::size_t>(loc.kind())]));
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
    {"node", as_method(&node), kStaticMethod,
     "node(epoch_id)\n--\n\nCreate a Node location (inside an epoch)."},
    {"input_port", as_method(&input_port), kStaticMethod,
     "input_port(node_name, port_name)\n--\n\nCreate an InputPort location."},
    {"output_port", as_method(&output_port), kStaticMethod,
     "output_port(epoch_id, port_name)\n--\n\nCreate an OutputPort location."},
    {"edge", as_method(&edge), kStaticMethod, "edge(edge)\n--\n\nCreate an Edge location."},
    {"outside_net", as_method(&outside_net), kStaticMethod,
     "outside_net()\n--\n\nCreate an OutsideNet location."},
    {"get_edge", as_method(&value_method<PacketLocation, edge_of>), METH_NOARGS,
     "get_edge($self)\n--\n\nGet the edge (for Edge locations)."},
    {"to_dict", as_method(&value_method<PacketLocation, location_to_dict>), METH_NOARGS,
     "to_dict($self)\n--\n\nThe location as a plain dict: its kind and that kind's fields."},
    {"from_dict", as_method(&from_dict), kStaticMethod,
     "from_dict(data)\n--\n\nThe location that to_dict described.\n"
     "Raises ValueError naming the first field that is missing, unexpected or malformed."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef g_getters[] = {
    {"kind", value_getter<PacketLocation, kind_of>, nullptr, "Get the location kind.", nullptr},
    {"node_name", value_getter<PacketLocation, node_name_of>, nullptr,
     "Get the node name (for InputPort locations).", nullptr},
    {"port_name", value_getter<PacketLocation, port_name_of>, nullptr,
     "Get the port name (for InputPort and OutputPort locations).", nullptr},
    {"epoch_id", value_getter<PacketLocation, epoch_id_of>, nullptr,
     "Get the epoch ID (for Node and OutputPort locations).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
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
        return rebuilt_by_static(cls, "edge", tuple_of(edge_to_py(loc.edge())));
      case PacketLocation::Kind::OutsideNet:
        break;
    }
    return rebuilt_by_static(cls, "outside_net", tuple_of());
  });
}

}  // namespace

void define_packet_location(PyObject* module) {
  ClassSpec cls =
      spec_for<PacketLocation>("PacketLocation", "Where a packet is located in the network.");
  cls.methods = g_methods;
  cls.getters = g_getters;
  cls.reduce = &location_reduce;
  cls.slots = {{Py_tp_repr, reinterpret_cast<void*>(&text_slot<PacketLocation, location_repr>)}};
  define_boxed_class<PacketLocation>(module, cls);
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
