#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "zellik_py/binding/guard.h"
#include "zellik_py/binding/ref.h"
#include "zellik_py/module/registration.h"

namespace zellik::py {
namespace {

bool g_initialised = false;

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "zellik_sim",
    "Python bindings for zellik-sim, a flow-based development runtime simulation engine.",
    -1,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

PyObject* init_module() {
  return guard([] {
    if (g_initialised)
      raise(PyExc_ImportError, "zellik_sim cannot be initialised twice in one process");
    Ref module = own(PyModule_Create(&g_module_def));
    register_exceptions(module.get());
    register_graph_classes(module.get());
    register_net_classes(module.get());
    register_explore_classes(module.get());
    // The version the build was given from the package's metadata.
    check_status(PyModule_AddStringConstant(module.get(), "__version__", ZELLIK_VERSION));
    g_initialised = true;
    return module;
  });
}

}  // namespace
}  // namespace zellik::py

PyMODINIT_FUNC PyInit_zellik_sim(void) { return zellik::py::init_module(); }
