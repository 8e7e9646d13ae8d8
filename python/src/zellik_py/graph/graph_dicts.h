#pragma once

// The plain-dict form of a graph (binding/plain_dict.h), which a JSON file
// holds: nodes with their ports and salvo conditions, edges and dependency
// edges. A limit is null when there is none (every packet, an unbounded
// port, any number of salvos) and its number otherwise; a kind is named as
// the classes name it ("Port", "NonEmpty", "OnStartup").
//
// Reading is strict: a missing, unexpected or malformed field raises
// ValueError "invalid field '{path}': {reason}", the path naming the field
// from the top of the dict given ("nodes[2].in_ports.a.capacity"). The
// fields a constructor takes as optional may be left out.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "zellik/graph/graph.h"
#include "zellik_py/binding/ref.h"

namespace zellik::py {

Ref graph_to_dict(const Graph& graph);
Graph graph_from_dict(PyObject* obj);

}  // namespace zellik::py
