// NetAction: an action to perform on the network.

#include <array>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

#include "zellik/net/net_action.h"
#include "zellik_py/binding/args.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/pickling.h"
#include "zellik_py/net/identifiers.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/plain_dict.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// Value: a StoredAction (Box<StoredAction>). It mirrors the engine's action,
// alternative for alternative, but keeps packet and epoch ids as the text the
// caller gave; the text is parsed only when the action reaches the engine.

namespace stored {

struct RunStep {
  using Engine = action::RunStep;
};
struct CreatePacket {
  using Engine = action::CreatePacket;
  std::optional<std::string> epoch_id;
};
// The actions that name one packet or epoch and nothing else.
template <class EngineAction>
struct ById {
  using Engine = EngineAction;
  std::string id;
};
struct CreateEpoch {
  using Engine = action::CreateEpoch;
  Name node_name;
  SalvoText salvo;
};
struct LoadPacketIntoOutputPort {
  using Engine = action::LoadPacketIntoOutputPort;
  std::string packet_id;
  Name port_name;
};
struct SendOutputSalvo {
  using Engine = action::SendOutputSalvo;
  std::string epoch_id;
  Name salvo_condition_name;
};
struct TransportPacketToLocation {
  using Engine = action::TransportPacketToLocation;
  std::string packet_id;
  PacketLocation destination;
};
struct CreateRequest {
  using Engine = action::CreateRequest;
  Name node_name;
  Name label;
};

}  // namespace stored

using StoredAction =
    std::variant<stored::RunStep, stored::CreatePacket, stored::ById<action::ConsumePacket>,
                 stored::ById<action::DestroyPacket>, stored::ById<action::StartEpoch>,
                 stored::ById<action::FinishEpoch>, stored::ById<action::CancelEpoch>,
                 stored::CreateEpoch, stored::LoadPacketIntoOutputPort, stored::SendOutputSalvo,
                 stored::TransportPacketToLocation, stored::CreateRequest>;

// Each alternative stands for the engine's action at the same position.
static_assert(std::variant_size_v<StoredAction> == std::variant_size_v<NetAction>);
static_assert([]<std::size_t... I>(std::index_sequence<I...>) {
  return (std::is_same_v<typename std::variant_alternative_t<I, StoredAction>::Engine,
                         std::variant_alternative_t<I, NetAction>> &&
          ...);
}(std::make_index_sequence<std::variant_size_v<NetAction>>{}));

// The static constructor's name; reprs are written as calls of it.
template <class Stored>
constexpr const char* constructor_name() {
  return action::kConstructorName<typename Stored::Engine>.data();
}

// The engine's action. Every id is parsed here: ValueError for the first
// malformed one.
NetAction resolve(const stored::RunStep&) { return action::RunStep{}; }
NetAction resolve(const stored::CreatePacket& a) {
  action::CreatePacket out;
  if (a.epoch_id) out.epoch_id = parse_identifier(*a.epoch_id);
  return out;
}
template <class EngineAction>
NetAction resolve(const stored::ById<EngineAction>& a) {
  return EngineAction{parse_identifier(a.id)};
}
NetAction resolve(const stored::CreateEpoch& a) {
  return action::CreateEpoch{a.node_name, a.salvo.resolve()};
}
NetAction resolve(const stored::LoadPacketIntoOutputPort& a) {
  return action::LoadPacketIntoOutputPort{parse_identifier(a.packet_id), a.port_name};
}
NetAction resolve(const stored::SendOutputSalvo& a) {
  return action::SendOutputSalvo{parse_identifier(a.epoch_id), a.salvo_condition_name};
}
NetAction resolve(const stored::TransportPacketToLocation& a) {
  return action::TransportPacketToLocation{parse_identifier(a.packet_id), a.destination};
}
NetAction resolve(const stored::CreateRequest& a) {
  return action::CreateRequest{a.node_name, a.label};
}

// The argument list the repr shows: ids as stored, names quoted.
std::string arguments(const stored::RunStep&) { return ""; }
std::string arguments(const stored::CreatePacket& a) {
  return a.epoch_id ? single_quoted(*a.epoch_id) : "";
}
template <class EngineAction>
std::string arguments(const stored::ById<EngineAction>& a) {
  return single_quoted(a.id);
}
std::string arguments(const stored::CreateEpoch& a) { return quoted(a.node_name.view()) + ", ..."; }
std::string arguments(const stored::LoadPacketIntoOutputPort& a) {
  return single_quoted(a.packet_id) + ", " + quoted(a.port_name.view());
}
std::string arguments(const stored::SendOutputSalvo& a) {
  return single_quoted(a.epoch_id) + ", " + quoted(a.salvo_condition_name.view());
}
std::string arguments(const stored::TransportPacketToLocation& a) {
  return single_quoted(a.packet_id) + ", " + location_repr(a.destination);
}
std::string arguments(const stored::CreateRequest& a) {
  return quoted(a.node_name.view()) + ", " + quoted(a.label.view());
}

// The arguments of the static constructor that makes the action again.
Ref constructor_args(const stored::RunStep&) { return tuple_of(); }
Ref constructor_args(const stored::CreatePacket& a) {
  return a.epoch_id ? tuple_of(to_py(*a.epoch_id)) : tuple_of();
}
template <class EngineAction>
Ref constructor_args(const stored::ById<EngineAction>& a) {
  return tuple_of(to_py(a.id));
}
Ref constructor_args(const stored::CreateEpoch& a) {
  return tuple_of(to_py(a.node_name), salvo_to_py(a.salvo));
}
Ref constructor_args(const stored::LoadPacketIntoOutputPort& a) {
  return tuple_of(to_py(a.packet_id), to_py(a.port_name));
}
Ref constructor_args(const stored::SendOutputSalvo& a) {
  return tuple_of(to_py(a.epoch_id), to_py(a.salvo_condition_name));
}
Ref constructor_args(const stored::TransportPacketToLocation& a) {
  return tuple_of(to_py(a.packet_id), location_to_py(a.destination));
}
Ref constructor_args(const stored::CreateRequest& a) {
  return tuple_of(to_py(a.node_name), to_py(a.label));
}

// An action pickles as the static constructor that made it, ids as given.
PyObject* action_reduce(PyObject* self, PyObject*) {
  return guard([&] {
    PyObject* cls = reinterpret_cast<PyObject*>(Py_TYPE(self));
    return std::visit(
        [&](const auto& alt) {
          using Stored = std::decay_t<decltype(alt)>;
          return rebuilt_by_static(cls, constructor_name<Stored>(), constructor_args(alt));
        },
        unbox<StoredAction>(self));
  });
}

std::string action_repr(const StoredAction& a) {
  return std::visit(
      []<class Stored>(const Stored& alt) {
        return std::string("NetAction.") + constructor_name<Stored>() + "(" + arguments(alt) + ")";
      },
      a);
}

Ref action_to_py(StoredAction a) { return box<StoredAction>(std::move(a)); }

// ---------------------------------------------------------------------------
// Lifetime: the static constructors. Ids are stored unchecked, names must be
// str.

PyObject* run_step(PyObject*, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    parse_none("run_step", nargs, kwnames);
    return action_to_py(stored::RunStep{});
  });
}

PyObject* create_packet(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("create_packet", std::array{"epoch_id"}, 0, args, nargs, kwnames);
    stored::CreatePacket action;
    if (a.has(0)) action.epoch_id = identifier_text(a[0]);
    return action_to_py(std::move(action));
  });
}

// consume_packet, destroy_packet, start_epoch, finish_epoch, cancel_epoch:
// the argument is named after the id the engine's action holds.
template <class EngineAction>
PyObject* by_id(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  constexpr const char* kArgument = requires(EngineAction a) { a.packet_id; }
  ? "packet_id" : "epoch_id";
  using Stored = stored::ById<EngineAction>;
  return guard([&] {
    auto a = parse_fast(constructor_name<Stored>(), std::array{kArgument}, 1, args, nargs, kwnames);
    return action_to_py(Stored{identifier_text(a[0])});
  });
}

PyObject* create_epoch(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("create_epoch", std::array{"node_name", "salvo"}, 2, args, nargs, kwnames);
    Name node_name = to_name_arg(a[0], "node_name");
    return action_to_py(stored::CreateEpoch{std::move(node_name), salvo_arg(a[1], "salvo")});
  });
}

PyObject* load_packet_into_output_port(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("load_packet_into_output_port", std::array{"packet_id", "port_name"}, 2,
                        args, nargs, kwnames);
    std::string packet_id = identifier_text(a[0]);
    return action_to_py(
        stored::LoadPacketIntoOutputPort{std::move(packet_id), to_name_arg(a[1], "port_name")});
  });
}

PyObject* send_output_salvo(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("send_output_salvo", std::array{"epoch_id", "salvo_condition_name"}, 2,
                        args, nargs, kwnames);
    std::string epoch_id = identifier_text(a[0]);
    return action_to_py(
        stored::SendOutputSalvo{std::move(epoch_id), to_name_arg(a[1], "salvo_condition_name")});
  });
}

PyObject* transport_packet_to_location(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("transport_packet_to_location", std::array{"packet_id", "destination"}, 2,
                        args, nargs, kwnames);
    std::string packet_id = identifier_text(a[0]);
    return action_to_py(
        stored::TransportPacketToLocation{std::move(packet_id), location_arg(a[1], "destination")});
  });
}

PyObject* create_request(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a =
        parse_fast("create_request", std::array{"node_name", "label"}, 2, args, nargs, kwnames);
    Name node_name = to_name_arg(a[0], "node_name");
    return action_to_py(stored::CreateRequest{std::move(node_name), to_name_arg(a[1], "label")});
  });
}

// ---------------------------------------------------------------------------
// Methods: the plain-dict form, {"kind": the engine's variant name, then the
// static constructor's arguments by name}, ids as the stored text; and back.
// from_dict keeps ids unchecked, as the static constructors do.

constexpr std::array<std::string_view, 12> kKindNames = {"RunStep",
                                                         "CreatePacket",
                                                         "ConsumePacket",
                                                         "DestroyPacket",
                                                         "StartEpoch",
                                                         "FinishEpoch",
                                                         "CancelEpoch",
                                                         "CreateEpoch",
                                                         "LoadPacketIntoOutputPort",
                                                         "SendOutputSalvo",
                                                         "TransportPacketToLocation",
                                                         "CreateRequest"};

static_assert(kKindNames.size() == std::variant_size_v<StoredAction>);

// Calls f(name, field) for every stored field, in argument order. One list
// serves both directions.
template <class F>
void each_field(stored::RunStep&, F&&) {}
template <class F>
void each_field(stored::CreatePacket& a, F&& f) {
  f("epoch_id", a.epoch_id);
}
template <class EngineAction, class F>
void each_field(stored::ById<EngineAction>& a, F&& f) {
  constexpr bool kNamesPacket = std::is_same_v<EngineAction, action::ConsumePacket> ||
                                std::is_same_v<EngineAction, action::DestroyPacket>;
  f(kNamesPacket ? "packet_id" : "epoch_id", a.id);
}
template <class F>
void each_field(stored::CreateEpoch& a, F&& f) {
  f("node_name", a.node_name);
  f("salvo", a.salvo);
}
template <class F>
void each_field(stored::LoadPacketIntoOutputPort& a, F&& f) {
  f("packet_id", a.packet_id);
  f("port_name", a.port_name);
}
template <class F>
void each_field(stored::SendOutputSalvo& a, F&& f) {
  f("epoch_id", a.epoch_id);
  f("salvo_condition_name", a.salvo_condition_name);
}
template <class F>
void each_field(stored::TransportPacketToLocation& a, F&& f) {
  f("packet_id", a.packet_id);
  f("destination", a.destination);
}
template <class F>
void each_field(stored::CreateRequest& a, F&& f) {
  f("node_name", a.node_name);
  f("label", a.label);
}

Ref field_to_py(const std::optional<std::string>& id) { return id ? to_py(*id) : none(); }
Ref field_to_py(const std::string& id) { return to_py(id); }
Ref field_to_py(const Name& name) { return to_py(name); }
Ref field_to_py(const SalvoText& salvo) { return salvo_to_dict(salvo); }
Ref field_to_py(const PacketLocation& location) { return location_to_dict(location); }

void read_field(DictReader& d, const char* key, std::optional<std::string>& out) {
  out = d.optional_text(key);
}
void read_field(DictReader& d, const char* key, std::string& out) { out = d.text(key); }
void read_field(DictReader& d, const char* key, Name& out) { out = d.name(key); }
void read_field(DictReader& d, const char* key, SalvoText& out) {
  out = salvo_from_dict(d.field(key), d.path_of(key));
}
void read_field(DictReader& d, const char* key, PacketLocation& out) {
  out = location_from_dict(d.field(key), d.path_of(key));
}

Ref to_dict(const StoredAction& stored_action) {
  StoredAction a = stored_action;  // each_field hands out mutable fields
  DictWriter d;
  d.set("kind", to_py(kKindNames[a.index()]));
  std::visit(
      [&d](auto& alt) {
        each_field(alt,
                   [&d](const char* key, const auto& value) { d.set(key, field_to_py(value)); });
      },
      a);
  return d.done();
}

struct ReadActionFields {
  template <class A>
  void operator()(DictReader& d, A& a) const {
    each_field(a, [&d](const char* key, auto& value) { read_field(d, key, value); });
  }
};

PyObject* from_dict(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("from_dict", std::array{"data"}, 1, args, nargs, kwnames);
    if (!PyDict_Check(a[0])) raise_arg_type(a[0], "data", "dict");
    DictReader d(a[0], "");
    return action_to_py(variant_from_dict<StoredAction, ReadActionFields>(d, kKindNames, "action"));
  });
}

// ---------------------------------------------------------------------------
// Slot table and type

PyMethodDef g_methods[] = {
    {"run_step", as_method(&run_step), kStaticMethod,
     "run_step()\n--\n\nExecute one step of automatic packet flow.\n"
     "Returns whether progress was made (i.e., not blocked)."},
    {"create_packet", as_method(&create_packet), kStaticMethod,
     "create_packet(epoch_id=None)\n--\n\nCreate a new packet, optionally inside an epoch."},
    {"consume_packet", as_method(&by_id<action::ConsumePacket>), kStaticMethod,
     "consume_packet(packet_id)\n--\n\nConsume a packet (normal removal from the network)."},
    {"destroy_packet", as_method(&by_id<action::DestroyPacket>), kStaticMethod,
     "destroy_packet(packet_id)\n--\n\n"
     "Destroy a packet (abnormal removal, e.g., due to error or cancellation)."},
    {"start_epoch", as_method(&by_id<action::StartEpoch>), kStaticMethod,
     "start_epoch(epoch_id)\n--\n\nTransition a startable epoch to running."},
    {"finish_epoch", as_method(&by_id<action::FinishEpoch>), kStaticMethod,
     "finish_epoch(epoch_id)\n--\n\nComplete a running epoch."},
    {"cancel_epoch", as_method(&by_id<action::CancelEpoch>), kStaticMethod,
     "cancel_epoch(epoch_id)\n--\n\nCancel an epoch and destroy packets."},
    {"create_epoch", as_method(&create_epoch), kStaticMethod,
     "create_epoch(node_name, salvo)\n--\n\nManually create an epoch with specified packets.\n"
     "The epoch is created in Startable state - call start_epoch to begin execution."},
    {"load_packet_into_output_port", as_method(&load_packet_into_output_port), kStaticMethod,
     "load_packet_into_output_port(packet_id, port_name)\n--\n\nMove a packet to an output port."},
    {"send_output_salvo", as_method(&send_output_salvo), kStaticMethod,
     "send_output_salvo(epoch_id, salvo_condition_name)\n--\n\nSend packets from output ports onto edges."},
    {"transport_packet_to_location", as_method(&transport_packet_to_location), kStaticMethod,
     "transport_packet_to_location(packet_id, destination)\n--\n\nTransport a packet to a new location."},
    {"create_request", as_method(&create_request), kStaticMethod,
     "create_request(node_name, label)\n--\n\nCreate a packet request targeting a node.\n"
     "The request will be resolved during the next RunStep."},
    {"to_dict", as_method(&value_method<StoredAction, to_dict>), METH_NOARGS,
     "to_dict($self)\n--\n\nThe action as a plain dict (str, None and lists; ids as the stored text)."},
    {"from_dict", as_method(&from_dict), kStaticMethod,
     "from_dict(data)\n--\n\nThe action that to_dict described.\n"
     "Raises ValueError naming the first field that is missing, unexpected or malformed."},
    // Type checkers see NetAction as generic over its response data; the
    // subscript NetAction[...] works at run time too, as an alias.
    {"__class_getitem__", Py_GenericAlias, METH_O | METH_CLASS,
     "__class_getitem__(item)\n--\n\nSee PEP 585."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void define_net_action(PyObject* module) {
  ClassSpec cls = spec_for<StoredAction>("NetAction", "An action to perform on the network.");
  cls.methods = g_methods;
  cls.reduce = &action_reduce;
  cls.slots = {{Py_tp_repr, reinterpret_cast<void*>(&text_slot<StoredAction, action_repr>)}};
  define_boxed_class<StoredAction>(module, cls);
}

bool is_net_action(PyObject* obj) { return is_instance<StoredAction>(obj); }

NetAction action_arg(PyObject* obj, const char* arg) {
  return std::visit([](const auto& alt) { return resolve(alt); }, arg_of<StoredAction>(obj, arg));
}

}  // namespace zellik::py
