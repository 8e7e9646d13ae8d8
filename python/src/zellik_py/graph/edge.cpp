// Edge: a connection from an output port to an input port.

#include "zellik_py/binding/pickling.h"
#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/graph/graph_convert.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// Value: the object embeds the model's Edge (Box<Edge>).

// ---------------------------------------------------------------------------
// Lifetime

// Both sides are stored as given: the direction is checked by validation.
PyObject* edge_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    auto a = parse_tuple("Edge", std::array{"source", "target"}, 2, args, kwargs);
    Edge edge{port_ref_arg(a[0], "source"), port_ref_arg(a[1], "target")};
    return box_as<Edge>(type, std::move(edge));
  });
}

// ---------------------------------------------------------------------------
// Getters

Ref source_of(const Edge& e) { return port_ref_to_py(e.source); }
Ref target_of(const Edge& e) { return port_ref_to_py(e.target); }

std::string edge_str(const Edge& e) { return e.to_string(); }
std::string edge_repr(const Edge& e) {
  return "Edge(" + e.source.to_string() + ", " + e.target.to_string() + ")";
}

// ---------------------------------------------------------------------------
// Slot table and type

PyGetSetDef g_edge_getters[] = {
    {"source", value_getter<Edge, source_of>, nullptr,
     "The output port where this edge originates.", nullptr},
    {"target", value_getter<Edge, target_of>, nullptr, "The input port where this edge terminates.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// The constructor arguments, read back from the properties.
constexpr const char* kEdgeFields[] = {"source", "target", nullptr};

}  // namespace

void define_edge(PyObject* module) {
  ClassSpec cls =
      spec_for<Edge>("Edge",
                     "Edge(source, target)\n--\n\n"
                     "A connection between two ports in the graph.\n\n"
                     "Edges connect output ports to input ports, allowing packets to flow\n"
                     "between nodes.");
  cls.getters = g_edge_getters;
  cls.reduce = &reduce_to_constructor<kEdgeFields>;
  cls.slots = {
      {Py_tp_new, reinterpret_cast<void*>(&edge_new)},
      {Py_tp_str, reinterpret_cast<void*>(&text_slot<Edge, edge_str>)},
      {Py_tp_repr, reinterpret_cast<void*>(&text_slot<Edge, edge_repr>)},
      {Py_tp_richcompare, reinterpret_cast<void*>(&value_richcompare<Edge>)},
      {Py_tp_hash, reinterpret_cast<void*>(&value_hash<Edge, EdgeHash>)},
  };
  define_boxed_class<Edge>(module, cls);
}

Ref edge_to_py(const Edge& edge) { return box<Edge>(edge); }

const Edge& edge_arg(PyObject* obj, const char* arg) { return arg_of<Edge>(obj, arg); }

}  // namespace zellik::py
