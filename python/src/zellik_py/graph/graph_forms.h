#pragma once

// The forms of the graph's member types in a record class
// (binding/record_class.h): as objects, as repr text, read back.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <vector>

#include "zellik/base/name.h"
#include "zellik/base/quote.h"
#include "zellik/graph/dependency_request.h"
#include "zellik/graph/node.h"
#include "zellik/graph/port.h"
#include "zellik/graph/salvo_condition.h"
#include "zellik_py/binding/boxed.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/record_class.h"
#include "zellik_py/binding/ref.h"
#include "zellik_py/graph/graph_convert.h"

namespace zellik::py::record_fields {

// A name is a str, double-quoted in a repr; a graph's names share one
// record per str object (graph_name_arg).
inline Ref object(Form, const Name& name) { return to_py(name); }
inline std::string repr(Form, const Name& name) { return quoted(name.view()); }
inline void read(const Source& s, Name& out) { out = graph_name_arg(s.obj, s.name); }

inline Ref object(Form, PortType type) { return port_type_to_py(type); }
inline void read(const Source& s, PortType& out) { out = port_type_arg(s.obj, s.name); }
inline Ref object(Form, PortSlotSpec slots) { return port_slot_spec_to_py(slots); }
inline void read(const Source& s, PortSlotSpec& out) { out = port_slot_spec_from_py(s.obj); }
inline Ref object(Form, MaxSalvos max_salvos) { return max_salvos_to_py(max_salvos); }
inline Ref object(Form, const SalvoPorts& ports) { return dict_of(ports, packet_count_to_py); }
inline Ref object(Form, const SalvoConditionTerm& term) { return salvo_condition_term_to_py(term); }
inline Ref object(Form, const std::vector<DependencyRequestTrigger>& triggers) {
  return list_of(triggers, dependency_request_trigger_to_py);
}
inline void read(const Source& s, std::vector<DependencyRequestTrigger>& out) {
  for (const Ref& item : sequence_items(s.obj, s.name)) {
    out.push_back(dependency_request_trigger_arg(item.get(), s.name));
  }
}
inline Ref object(Form, const PortMap& ports) { return dict_of(ports, box<Port>); }
inline Ref object(Form, const SalvoConditionMap& conditions) {
  return dict_of(conditions, salvo_condition_to_py);
}

}  // namespace zellik::py::record_fields
