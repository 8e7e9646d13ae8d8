// NetSim's snapshots: pickle, copy and fork. A net pickles as NetSim(graph)
// followed by __setstate__(snapshot bytes); copy.copy and copy.deepcopy go
// through the same bytes in memory, so a copy shares nothing with the
// original.

#include <array>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "zellik/net/net_sim.h"
#include "zellik/net/snapshot.h"
#include "zellik_py/binding/args.h"
#include "zellik_py/binding/pickling.h"
#include "zellik_py/graph/graph_convert.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_hold.h"
#include "zellik_py/net/net_sim_methods.h"

namespace zellik::py {

namespace {

// The net `graph` restored from `bytes`; ValueError for bytes that are not
// a snapshot of this format or that do not fit the graph.
std::unique_ptr<NetSim> restored(const Graph& graph, std::string_view bytes) {
  auto net = decode_snapshot(graph, bytes);
  if (!net.ok()) raise(PyExc_ValueError, net.error().text);
  return std::move(net).value();
}

PyObject* reduce(PyObject* self, PyObject*) {
  return guard([&] {
    Hold hold(value_of(self), Use::Shared);
    const std::string bytes = encode_snapshot(hold.net());
    Ref state = own(PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size())));
    Ref args = tuple_of(graph_to_py(hold.net().graph()));
    return tuple_of(Ref::borrow(reinterpret_cast<PyObject*>(Py_TYPE(self))), std::move(args),
                    std::move(state));
  });
}

PyObject* set_state(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("__setstate__", std::array{"state"}, 1, args, nargs, kwnames);
    if (!PyBytes_Check(a[0])) raise_arg_type(a[0], "state", "bytes");
    char* data = nullptr;
    Py_ssize_t size = 0;
    check_status(PyBytes_AsStringAndSize(a[0], &data, &size));
    Hold hold(value_of(self), Use::Exclusive);
    // The whole net is built before the old one is dropped: a refused
    // snapshot leaves this net as it was.
    std::unique_ptr<NetSim> net =
        restored(hold.net().graph(), std::string_view(data, static_cast<std::size_t>(size)));
    value_of(self).engine = std::move(net);
    return none();
  });
}

Ref fork(PyObject* self) {
  Hold hold(value_of(self), Use::Shared);
  std::unique_ptr<NetSim> net = restored(hold.net().graph(), encode_snapshot(hold.net()));
  return box_as<NetSimValue>(Py_TYPE(self), NetSimValue{std::move(net), 0});
}

PyObject* copy_net(PyObject* self, PyObject*) {
  return guard([&] { return fork(self); });
}

PyObject* deepcopy_net(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    parse_fast("__deepcopy__", std::array{"memo"}, 1, args, nargs, kwnames);
    return fork(self);
  });
}

}  // namespace

std::span<const PyMethodDef> net_sim_snapshot_methods() {
  static const PyMethodDef kMethods[] = {
      method_def("__reduce__", &reduce,
                 "__reduce__($self)\n--\n\n"
                 "Pickle support: the net pickles as its graph and a snapshot of its whole state."),
      method_def("__setstate__", &set_state,
                 "__setstate__($self, state)\n--\n\n"
                 "Replace the state of the net with a snapshot made by pickling a net.\n\n"
                 "Returns None. Raises ValueError when `state` is not a snapshot of this format\n"
                 "version, is cut short or altered, or names a node, port, edge or epoch that\n"
                 "this net's graph cannot hold; the net is then left as it was."),
      method_def("__copy__", &copy_net,
                 "__copy__($self)\n--\n\n"
                 "Fork the net: a new NetSim over a copy of the graph, with a copy of every\n"
                 "packet, epoch and request. The two nets share nothing that changes."),
      method_def("__deepcopy__", &deepcopy_net,
                 "__deepcopy__($self, memo)\n--\n\nFork the net, as __copy__ does."),
  };
  return kMethods;
}

}  // namespace zellik::py
