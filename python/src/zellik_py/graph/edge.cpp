// Edge: a connection from an output port to an input port.

#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/graph/graph_convert.h"
#include "zellik_py/graph/graph_forms.h"

namespace zellik::py {
namespace {

// The object embeds the model's Edge (Box<Edge>); both sides are stored as
// given: the direction is checked by validation.

std::string edge_str(const Edge& e) { return e.to_string(); }
std::string edge_repr(const Edge& e) {
  return "Edge(" + e.source.to_string() + ", " + e.target.to_string() + ")";
}

const RecordClass<Edge> kEdge{
    .name = "Edge",
    .doc =
        "Edge(source, target)\n--\n\n"
        "A connection between two ports in the graph.\n\n"
        "Edges connect output ports to input ports, allowing packets to flow\n"
        "between nodes.",
    .field_docs = {"The output port where this edge originates.",
                   "The input port where this edge terminates."},
    .required = 2,
    .repr = &edge_repr,
    .str = &edge_str,
    .hash = &value_hash<Edge, EdgeHash>,
};

}  // namespace

void define_edge(PyObject* module) { define_record_class(module, kEdge); }

}  // namespace zellik::py
