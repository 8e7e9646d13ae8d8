// NetSim: the runtime state of a flow network, driven by actions. Its
// methods are defined by theme in files of their own (net_sim_methods.h);
// this file makes the object and the class.

#include <array>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "zellik/net/net_sim.h"
#include "zellik_py/binding/args.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/graph/graph_convert.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_hold.h"
#include "zellik_py/net/net_sim_methods.h"

namespace zellik::py {

namespace {

// ---------------------------------------------------------------------------
// Lifetime

// The engine validates its copy of the graph; an invalid graph is a broken
// precondition and surfaces as the panic exception. `seed` is keyword-only:
// given, the net's ids and timestamps repeat from run to run.
PyObject* net_sim_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    if (PyTuple_Size(args) > 1) {
      PyErr_Format(PyExc_TypeError, "NetSim() takes 1 positional argument but %zd were given",
                   PyTuple_Size(args));
      throw PythonError{};
    }
    auto a = parse_tuple("NetSim", std::array{"graph", "seed"}, 1, args, kwargs);
    const IdSource ids = a.has(1) ? IdSource::Seeded(to_u64_arg(a[1], "seed")) : IdSource();
    auto engine = std::make_unique<NetSim>(graph_arg(a[0], "graph"), ids);
    return box_as<NetSimValue>(type, NetSimValue{std::move(engine), 0});
  });
}

// ---------------------------------------------------------------------------
// Getters

PyObject* graph_of(PyObject* self, void*) {
  return guard([&] {
    Hold hold(value_of(self), Use::Shared);
    return graph_to_py(hold.net().graph());
  });
}

PyObject* net_sim_repr(PyObject* self) {
  return guard([&] {
    return to_py(std::string_view("Net(graph=" + graph_repr(value_of(self).engine->graph()) + ")"));
  });
}

// ---------------------------------------------------------------------------
// Slot table and type

PyGetSetDef g_getters[] = {{"graph", &graph_of, nullptr, "Get the underlying graph.", nullptr}, {}};

}  // namespace

void define_net_sim(PyObject* module, std::span<const PyMethodDef> more_methods) {
  // The interpreter keeps pointers into the table for as long as the class
  // lives: it is made once, from every file's part and the layers' above,
  // and kept.
  static std::vector<PyMethodDef> methods = [&] {
    std::vector<PyMethodDef> all;
    for (std::span<const PyMethodDef> part :
         {net_sim_action_methods(), net_sim_round_methods(), net_sim_query_methods(),
          net_sim_snapshot_methods(), more_methods}) {
      all.insert(all.end(), part.begin(), part.end());
    }
    all.push_back({});
    return all;
  }();
  define_boxed_class<NetSimValue>(
      module,
      {.name = "NetSim",
       .doc = "NetSim(graph, *, seed=None)\n--\n\nThe runtime state of a flow-based network.",
       .methods = methods.data(),
       .getters = g_getters,
       .construct = &net_sim_new,
       .repr = &net_sim_repr});
}

}  // namespace zellik::py
