#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdio>
#include <mutex>
#include <new>

#include "zellik_py/binding/guard.h"
#include "zellik_py/binding/module_state.h"
#include "zellik_py/binding/ref.h"
#include "zellik_py/errors/exceptions.h"
#include "zellik_py/explore/explore_classes.h"
#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/net/net_classes.h"

namespace zellik::py {
namespace {

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
      define_state_view,
  };
  for (auto define : kDefinitions) define(module);
}

// The module object holds a pointer to its state, made when the module is
// executed and deleted with the module.
ModuleState*& state_pointer(PyObject* module) {
  return *static_cast<ModuleState**>(PyModule_GetState(module));
}

// Interpreters with their own lock may import the module at the same time;
// the tables the classes are made from are built once, by the first.
std::mutex g_exec_mutex;

// A module whose body fails is let go at once, so that a later import in
// the same interpreter runs the body again: it is detached and its state
// emptied now, not when the collector gets to it.
int exec_module(PyObject* module) {
  std::lock_guard lock(g_exec_mutex);
  ModuleState*& state = state_pointer(module);
  const int status = guard<int>(-1, [&] {
    state = new ModuleState();
    attach_state(*state);
    define_classes(module);
    // The version the build was given from the package's metadata.
    check_status(PyModule_AddStringConstant(module, "__version__", ZELLIK_VERSION));
    return 0;
  });
  if (status < 0 && state != nullptr) {
    detach_state(*state);
    state->clear();
  }
  return status;
}

int traverse_module(PyObject* module, visitproc visit, void* arg) {
  const ModuleState* state = state_pointer(module);
  return state != nullptr ? state->traverse(visit, arg) : 0;
}

int clear_module(PyObject* module) {
  if (ModuleState* state = state_pointer(module)) state->clear();
  return 0;
}

void free_module(void* module) {
  ModuleState*& state = state_pointer(static_cast<PyObject*>(module));
  if (state == nullptr) return;
  detach_state(*state);
  delete state;
  state = nullptr;
}

// Slots the limited API of 3.10 does not name: an interpreter older than
// 3.12 refuses a slot it does not know, so they are given only to newer ones.
constexpr int kModMultipleInterpreters = 3;  // Py_mod_multiple_interpreters
void* const kPerInterpreterGilSupported = reinterpret_cast<void*>(2);

PyModuleDef_Slot g_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},  // Py_mod_multiple_interpreters from 3.12 on, set in PyInit
    {0, nullptr},
};

// The running interpreter's (major, minor) version as one number, 312 for 3.12.
int running_version() {
  int major = 0;
  int minor = 0;
  if (std::sscanf(Py_GetVersion(), "%d.%d", &major, &minor) != 2) return 0;
  return major * 100 + minor;
}

PyModuleDef* module_def() {
  static PyModuleDef def = [] {
    if (running_version() >= 312) {
      g_slots[1] = {kModMultipleInterpreters, kPerInterpreterGilSupported};
    }
    return PyModuleDef{
        PyModuleDef_HEAD_INIT,
        "zellik_sim._core",
        "Python bindings for zellik-sim, a flow-based development runtime simulation engine.",
        // The module's own storage is one pointer to its state, made in exec.
        sizeof(ModuleState*),  // NOLINT(bugprone-sizeof-expression)
        nullptr,
        g_slots,
        &traverse_module,
        &clear_module,
        &free_module,
    };
  }();
  return &def;
}

}  // namespace
}  // namespace zellik::py

// The interpreter finds the extension zellik_sim._core by this name.
PyMODINIT_FUNC PyInit__core(void) {  // NOLINT(bugprone-reserved-identifier)
  return PyModuleDef_Init(zellik::py::module_def());
}
