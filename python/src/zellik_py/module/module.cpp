#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "zellik_py/binding/guard.h"
#include "zellik_py/binding/ref.h"
#include "zellik_py/errors/exceptions.h"
#include "zellik_py/explore/explore_classes.h"
#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/net/net_classes.h"

namespace zellik::py {
namespace {

bool g_initialised = false;

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "zellik_sim._core",
    "Python bindings for zellik-sim, a flow-based development runtime simulation engine.",
    -1,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The module body, in the module's order: each step adds its class (or a
// small family of classes) to `module`, defined by the file of that class,
// and throws PythonError at its first failure. A new class is one line here
// and its declaration in its layer's header.
void define_classes(PyObject* module) {
  constexpr void (*kDefinitions[])(PyObject*) = {
      register_exceptions,
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
      define_packet_location,
      define_epoch_state,
      define_packet,
      define_salvo,
      define_orphaned_packet_info,
      define_epoch,
      define_net_action,
      define_net_event,
      define_response_data,
      [](PyObject* m) { define_net_sim(m, explorer_net_sim_methods()); },
      define_record_functions,
      define_declaration_classes,
      define_terminal_state,
      define_exploration_result,
  };
  for (auto define : kDefinitions) define(module);
}

PyObject* init_module() {
  return guard([] {
    if (g_initialised)
      raise(PyExc_ImportError, "zellik_sim cannot be initialised twice in one process");
    Ref module = own(PyModule_Create(&g_module_def));
    define_classes(module.get());
    // The version the build was given from the package's metadata.
    check_status(PyModule_AddStringConstant(module.get(), "__version__", ZELLIK_VERSION));
    g_initialised = true;
    return module;
  });
}

}  // namespace
}  // namespace zellik::py

PyMODINIT_FUNC PyInit__core(void) { return zellik::py::init_module(); }
