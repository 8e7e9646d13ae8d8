#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/module/registration.h"

namespace zellik::py {

// The graph classes in the order the module lists them.
void register_graph_classes(PyObject* module) {
  constexpr void (*kDefinitions[])(PyObject*) = {
      define_packet_count,
      define_packet_count_n,
      define_max_salvos,
      define_max_salvos_finite,
      define_port_slot_spec,
      define_port_slot_spec_finite,
      define_port_state,
      define_port_state_numeric,
      define_salvo_condition_term,
      define_dependency_request_trigger,
      define_dependency_request_config,
      define_port,
      define_port_type,
      define_port_ref,
      define_edge,
      define_salvo_condition,
      define_node,
      define_validation_error_info,
      define_graph,
  };
  for (auto define : kDefinitions) define(module);
}

}  // namespace zellik::py
