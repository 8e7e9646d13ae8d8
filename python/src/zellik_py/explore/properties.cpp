// The properties NetSim.explore checks: read from the package's Property
// objects (zellik_sim.properties), and StateView, the read-only view of a
// visited state that a predicate is called with.

#include <array>
#include <memory>
#include <string>
#include <utility>

#include "zellik/base/internal_failure.h"
#include "zellik/net/net_view.h"
#include "zellik/net/snapshot.h"
#include "zellik_py/explore/explore_classes.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"

namespace zellik::py {

using explore::Property;

namespace {

// A visited state: while its predicate runs, `net` is the explorer's own
// working net; a view the predicate kept becomes a fork of that state when
// the call returns, which it owns (`kept`). Intentionally copyable.
struct StateView {
  const NetSim* net = nullptr;
  std::shared_ptr<const NetSim> kept;
};

const NetSim& net_of(const StateView& view) { return *view.net; }

// Lets the view go once its predicate has returned: a view still referred
// to (kept in a list, say) takes a fork of the state, so it never points
// at the working net after the call; one that is not costs nothing.
void release_view(PyObject* view) {
  StateView& v = unbox<StateView>(view);
  if (Py_REFCNT(view) <= 1) return;
  auto fork = decode_snapshot(v.net->graph(), encode_snapshot(*v.net));
  if (!fork.ok()) fail("Cannot fork a state view: " + fork.error().text);
  v.kept = std::move(fork).value();
  v.net = v.kept.get();
}

Ref view_packets(const StateView& v) { return list_of(list_packets(net_of(v)), packet_to_py); }
Ref view_epochs(const StateView& v) { return list_of(list_epochs(net_of(v)), epoch_to_py); }
Ref view_fingerprint(const StateView& v) { return fingerprint_to_py(fingerprint(net_of(v))); }
Ref view_dot(const StateView& v) { return to_py(to_dot(net_of(v))); }
Ref view_packets_inside(const StateView& v) {
  const NetSim& net = net_of(v);
  return to_py_u64(net.packet_count() - net.packet_count_at(PacketLocation::OutsideNet()));
}

PyObject* view_packet_count_at(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("packet_count_at", std::array{"location"}, 1, args, nargs, kwnames);
    const NetSim& net = net_of(unbox<StateView>(self));
    return to_py_u64(net.packet_count_at(location_arg(a[0], "location")));
  });
}

using ViewMembers = Members<StateView>;

PyMethodDef g_view_methods[] = {
    method_def("packet_count_at", &view_packet_count_at,
               "packet_count_at($self, location)\n--\n\nThe number of packets at location."),
    ViewMembers::method<view_packets_inside>(
        "packets_inside",
        "packets_inside($self)\n--\n\nThe packets in the net (those sent out of it are not)."),
    ViewMembers::method<view_packets>(
        "packets", "packets($self)\n--\n\nEvery packet with its location, as NetSim.packets."),
    ViewMembers::method<view_epochs>("epochs",
                                     "epochs($self)\n--\n\nEvery live epoch, as NetSim.epochs."),
    ViewMembers::method<view_fingerprint>(
        "fingerprint", "fingerprint($self)\n--\n\nThe state's fingerprint, as NetSim.fingerprint."),
    ViewMembers::method<view_dot>("to_dot", "to_dot($self)\n--\n\nThe state as Graphviz DOT text."),
    {},
};

Ref attribute(PyObject* property, const char* name) {
  return own(PyObject_GetAttrString(property, name));
}

// The kinds as the package's Property names them, in kind order.
constexpr std::array<const char*, 6> kKindTexts = {"at_location", "at_output_port", "in_net",
                                                   "live_epochs", "no_orphans",     "holds"};
static_assert(kKindTexts.size() == static_cast<std::size_t>(Property::Kind::Holds) + 1);

}  // namespace

void define_state_view(PyObject* module) {
  define_boxed_class<StateView>(
      module,
      {.name = "StateView",
       .doc = "A state the explorer visits, as a predicate property (Property.holds) sees\n"
              "it, read-only: the explorer's own net while the predicate runs; a view kept\n"
              "past the call becomes a copy of that state then. Its packets and epochs carry\n"
              "the explorer's own ids, which mean nothing outside it.",
       .methods = g_view_methods});
}

Property property_arg(PyObject* obj, const std::string& path, std::vector<Ref>& keep) {
  Ref module = own(PyImport_ImportModule("zellik_sim.properties"));
  Ref cls = own(PyObject_GetAttrString(module.get(), "Property"));
  const int is = PyObject_IsInstance(obj, cls.get());
  if (is < 0) throw PythonError{};
  if (is == 0) raise_arg_type(obj, path.c_str(), "zellik_sim.properties.Property");
  Property p;
  const std::string kind = to_string_arg(attribute(obj, "kind").get(), path.c_str());
  std::size_t k = 0;
  while (k < kKindTexts.size() && kind != kKindTexts[k]) ++k;
  if (k == kKindTexts.size()) raise(PyExc_ValueError, path + ": unknown kind " + quoted(kind));
  p.kind = static_cast<Property::Kind>(k);
  p.name = to_string_arg(attribute(obj, "name").get(), path.c_str());
  p.limit = to_u64_arg(attribute(obj, "limit").get(), path.c_str());
  if (p.kind == Property::Kind::AtLocation) {
    p.location = location_arg(attribute(obj, "location").get(), path.c_str());
  }
  if (p.kind == Property::Kind::AtOutputPort || p.kind == Property::Kind::LiveEpochs) {
    p.node = to_name_arg(attribute(obj, "node").get(), path.c_str());
  }
  if (p.kind == Property::Kind::AtOutputPort) {
    p.port = to_name_arg(attribute(obj, "port").get(), path.c_str());
  }
  if (p.kind == Property::Kind::Holds) {
    Ref predicate = attribute(obj, "predicate");
    if (PyCallable_Check(predicate.get()) == 0)
      raise_arg_type(predicate.get(), path.c_str(), "a callable");
    PyObject* fn = predicate.get();
    keep.push_back(std::move(predicate));
    // Called with the interpreter lock held: the explorer keeps it while a
    // predicate is declared.
    p.holds = [fn, name = p.name](const NetSim& net) {
      Ref view = box(StateView{&net, nullptr});
      Ref answer = Ref::steal(PyObject_CallFunctionObjArgs(fn, view.get(), nullptr));
      release_view(view.get());
      if (!answer) throw PythonError{};
      if (!PyBool_Check(answer.get())) {
        Ref type = own(
            PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(answer.get())), "__name__"));
        raise(PyExc_TypeError, "property '" + name + "': the predicate returned " +
                                   str_of(type.get()) + ", not a bool");
      }
      return answer.get() == Py_True;
    };
  }
  return p;
}

}  // namespace zellik::py
