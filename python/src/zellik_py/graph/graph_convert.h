#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>

#include "zellik/graph/dependency_request.h"
#include "zellik/graph/graph.h"
#include "zellik/graph/node.h"
#include "zellik/graph/port.h"
#include "zellik/graph/salvo_condition.h"
#include "zellik/graph/validation.h"
#include "zellik_py/binding/boxed.h"
#include "zellik_py/binding/ref.h"

namespace zellik::py {

// Conversions between the graph model and the Python graph classes, for every
// class of the module that takes or hands out graph values.
//
// The *_to_py functions return a new Python object holding a copy of the
// value. The *_arg functions accept an object of the matching class and raise
// TypeError "argument '{arg}': expected {Class}, got {type}" (throwing
// PythonError) for anything else; a returned reference points into `obj`, so
// it lives as long as the caller keeps `obj`.

// A str argument as a Name, as to_name_arg makes it, except that the names
// made from one str object share one record while the object is
// remembered. Graphs repeat their str objects (a node's name in its Node and
// in the PortRefs of its edges, a port's name in every condition over it),
// and names that share a record compare equal by pointer, so the graph's
// lookups among them read no text.
Name graph_name_arg(PyObject* obj, const char* arg);

// PortType: a member of the PortType class (an int is not one).
Ref port_type_to_py(PortType type);
PortType port_type_arg(PyObject* obj, const char* arg);

Ref port_ref_to_py(const PortRef& ref);
const PortRef& port_ref_arg(PyObject* obj, const char* arg);

Ref graph_to_py(const Graph& graph);
const Graph& graph_arg(PyObject* obj, const char* arg);
// "Graph(nodes={node count}, edges={edge count})", the repr of a Graph.
std::string graph_repr(const Graph& graph);

// Edge, Node and Port objects embed their value: box<T> and arg_of<T>
// (binding/boxed.h) make and read them.
Ref salvo_condition_to_py(const SalvoCondition& condition);
Ref salvo_condition_term_to_py(const SalvoConditionTerm& term);
Ref dependency_request_config_to_py(const DependencyRequestConfig& config);
Ref validation_error_to_py(const GraphValidationError& error);

// Values with a member for some variants and a small data class for the
// others: PacketCount.All or a PacketCountN, MaxSalvos.Infinite or a
// MaxSalvosFinite, and so on.
Ref packet_count_to_py(PacketCount count);
Ref max_salvos_to_py(MaxSalvos max_salvos);
Ref port_slot_spec_to_py(PortSlotSpec slots);
Ref port_state_to_py(const PortState& state);
Ref dependency_request_trigger_to_py(DependencyRequestTrigger trigger);

// The reverse conversions raise the graph API's own TypeErrors, without an
// argument prefix: "Expected PacketCount or PacketCountN" and so on.
PacketCount packet_count_from_py(PyObject* obj);
MaxSalvos max_salvos_from_py(PyObject* obj);
// None and every PortSlotSpec member give Infinite.
PortSlotSpec port_slot_spec_from_py(PyObject* obj);
// Also raises ValueError "Invalid port state kind: {kind}".
PortState port_state_from_py(PyObject* obj);

// The term embedded in a SalvoConditionTerm object.
const SalvoConditionTerm& salvo_condition_term_arg(PyObject* obj, const char* arg);
const SalvoCondition& salvo_condition_arg(PyObject* obj, const char* arg);
const DependencyRequestConfig& dependency_request_config_arg(PyObject* obj, const char* arg);
DependencyRequestTrigger dependency_request_trigger_arg(PyObject* obj, const char* arg);

}  // namespace zellik::py
