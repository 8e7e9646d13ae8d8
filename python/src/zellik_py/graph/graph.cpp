// Graph: the static topology of a flow network.

#include <vector>

#include "zellik/graph/dot.h"
#include "zellik_py/binding/pickling.h"
#include "zellik_py/binding/plain_dict.h"
#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/graph/graph_convert.h"
#include "zellik_py/graph/graph_dicts.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// Value: the object embeds the model's Graph (Box<Graph>).

std::vector<Edge> edges_of_sequence(PyObject* obj, const char* arg) {
  const std::vector<Ref> items = sequence_items(obj, arg);
  std::vector<Edge> edges;
  edges.reserve(items.size());
  for (const Ref& item : items) edges.push_back(arg_of<Edge>(item.get(), arg));
  return edges;
}

// ---------------------------------------------------------------------------
// Lifetime

// Copies the nodes and edges in sequence order; a repeated node name is an
// internal failure of the graph constructor and leaves nothing behind.
PyObject* graph_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    auto a =
        parse_tuple("Graph", std::array{"nodes", "edges", "dependency_edges"}, 2, args, kwargs);
    const std::vector<Ref> node_items = sequence_items(a[0], "nodes");
    std::vector<Node> nodes;
    nodes.reserve(node_items.size());
    for (const Ref& item : node_items) nodes.push_back(arg_of<Node>(item.get(), "nodes"));
    std::vector<Edge> edges = edges_of_sequence(a[1], "edges");
    std::vector<Edge> dependency_edges;
    if (a.has(2)) dependency_edges = edges_of_sequence(a[2], "dependency_edges");

    Graph graph(std::move(nodes), std::move(edges));
    if (a.has(2)) graph = with_dependency_edges(graph, std::move(dependency_edges));
    return box_as<Graph>(type, graph);
  });
}

// ---------------------------------------------------------------------------
// Methods

Ref nodes_of(const Graph& g) { return dict_of(g.nodes(), box<Node>); }

Ref edges_of(const Graph& g) { return list_of(g.edges(), box<Edge>); }

Ref dependency_edges_of(const Graph& g) { return list_of(g.dependency_edges(), box<Edge>); }

Ref validate_graph(const Graph& g) { return list_of(validate(g), validation_error_to_py); }

Ref dot_of(const Graph& g) { return to_py(to_dot(g)); }

Ref dict_of_graph(const Graph& g) { return graph_to_dict(g); }

Ref graph_of_dict(PyObject* data) { return box(graph_from_dict(data)); }

PyObject* get_edges_by_head(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("get_edges_by_head", std::array{"input_port_ref"}, 1, args, nargs, kwnames);
    const PortRef& head = port_ref_arg(a[0], "input_port_ref");
    return list_of(unbox<Graph>(self).get_edges_by_head(head), box<Edge>);
  });
}

PyObject* is_dependency_edge_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("is_dependency_edge", std::array{"edge"}, 1, args, nargs, kwnames);
    return to_py_bool(unbox<Graph>(self).is_dependency_edge(arg_of<Edge>(a[0], "edge")));
  });
}

// A graph pickles as its constructor call: the nodes, the edges in the
// order they were given (repeats kept, so the edges entering each input port
// keep their order) and the dependency edges.
PyObject* graph_reduce(PyObject* self, PyObject*) {
  return guard([&] {
    const Graph& g = unbox<Graph>(self);
    Ref nodes = list_of(g.nodes(), [](const auto& item) { return box<Node>(item.second); });
    Ref args =
        tuple_of(std::move(nodes), list_of(g.edges_in_order(), box<Edge>), dependency_edges_of(g));
    return rebuilt_by_constructor(reinterpret_cast<PyObject*>(Py_TYPE(self)), std::move(args));
  });
}

// ---------------------------------------------------------------------------
// Text form (a graph has no properties: it is read through its methods)

std::string repr_of(const Graph& g) { return graph_repr(g); }

// ---------------------------------------------------------------------------
// Slot table and type

PyMethodDef g_graph_methods[] = {
    Members<Graph>::method<nodes_of>(
        "nodes", "nodes($self)\n--\n\nReturns a dict of all nodes, keyed by name."),
    Members<Graph>::method<edges_of>("edges", "edges($self)\n--\n\nReturns a list of all edges."),
    Members<Graph>::method<validate_graph>(
        "validate",
        "validate($self)\n--\n\n"
        "Validate the graph and return a list of structured validation errors."),
    method_def("get_edges_by_head", &get_edges_by_head,
               "get_edges_by_head($self, input_port_ref)\n--\n\n"
               "Returns all edges that have the given input port as their target (head).\n"
               "Fan-in is allowed, so multiple edges can connect to the same input port."),
    method_def("is_dependency_edge", &is_dependency_edge_method,
               "is_dependency_edge($self, edge)\n--\n\nCheck if an edge is a dependency edge."),
    Members<Graph>::method<dependency_edges_of>(
        "dependency_edges",
        "dependency_edges($self)\n--\n\nReturns the set of dependency edges as a list."),
    Members<Graph>::method<dot_of>(
        "to_dot",
        "to_dot($self)\n--\n\nReturns the graph as Graphviz DOT text: nodes with their ports and salvo\n"
        "conditions, edges between ports, dependency edges dashed. Any name gives valid DOT."),
    Members<Graph>::method<dict_of_graph>(
        "to_dict",
        "to_dict($self)\n--\n\n"
        "The graph as a plain dict that json writes: nodes (name, in_ports, out_ports,\n"
        "in_salvo_conditions, out_salvo_conditions, dependency_request_config), edges in the\n"
        "order given, dependency_edges. A limit is null where there is none."),
    from_dict_def<graph_of_dict, "graph">(),
    {},
};

}  // namespace

void define_graph(PyObject* module) {
  define_boxed_class<Graph>(module, {.name = "Graph",
                                     .doc = "Graph(nodes, edges, dependency_edges=None)\n--\n\n"
                                            "The static topology of a flow-based network.",
                                     .methods = g_graph_methods,
                                     .construct = &graph_new,
                                     .repr = &text_slot<Graph, repr_of>,
                                     .reduce = &graph_reduce});
}

Ref graph_to_py(const Graph& graph) { return box<Graph>(graph); }

const Graph& graph_arg(PyObject* obj, const char* arg) { return arg_of<Graph>(obj, arg); }

std::string graph_repr(const Graph& graph) {
  return "Graph(nodes=" + decimal(graph.node_count()) + ", edges=" + decimal(graph.edge_count()) +
         ")";
}

}  // namespace zellik::py
