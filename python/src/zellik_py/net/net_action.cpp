// NetAction: an action to perform on the network.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "zellik/net/net_action.h"
#include "zellik_py/binding/args.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/pickling.h"
#include "zellik_py/net/action_value.h"
#include "zellik_py/net/field_forms.h"
#include "zellik_py/net/identifiers.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/net_dicts.h"

namespace zellik::py {
namespace {

// An action pickles as the static constructor that made it, ids as given.
PyObject* action_reduce(PyObject* self, PyObject*) {
  return guard([&] {
    PyObject* cls = reinterpret_cast<PyObject*>(Py_TYPE(self));
    return std::visit(
        [cls]<class S>(const S& stored) {
          Ref args = own(PyList_New(0));
          each_given(stored, [&](const auto& value) {
            check_status(PyList_Append(args.get(), fields::object(value).get()));
          });
          return rebuilt_by_static(cls, S::Engine::kConstructor.data(),
                                   own(PyList_AsTuple(args.get())));
        },
        unbox<StoredAction>(self));
  });
}

// A call of the static constructor: ids as stored, names quoted.
std::string action_repr(const StoredAction& action) {
  return std::visit(
      []<class S>(const S& stored) {
        std::string args;
        each_given(stored, [&](const auto& value) {
          args += (args.empty() ? "" : ", ") + fields::repr(value);
        });
        return "NetAction." + std::string(S::Engine::kConstructor) + "(" + args + ")";
      },
      action);
}

Ref action_to_py(StoredAction a) { return box<StoredAction>(std::move(a)); }

// ---------------------------------------------------------------------------
// Lifetime: the static constructors, one per action, taking its fields by
// name. Ids are stored unchecked, names must be str.

template <class T>
constexpr bool kOptional = false;
template <class T>
constexpr bool kOptional<std::optional<T>> = true;

template <class A>
PyObject* construct(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    ActionArgs<A> stored;
    if constexpr (kFieldCount<A> == 0) {
      parse_none(A::kConstructor.data(), nargs, kwnames);
    } else {
      static constexpr auto kNames = std::apply(
          [](const auto&... fd) { return std::array<const char*, kFieldCount<A>>{fd.name...}; },
          kFields<A>);
      static constexpr std::size_t kRequired = std::apply(
          [](const auto&... fd) {
            return (std::size_t{0} + ... + !kOptional<typename std::decay_t<decltype(fd)>::Type>);
          },
          kFields<A>);
      auto a = parse_fast(A::kConstructor.data(), kNames, kRequired, args, nargs, kwnames);
      std::size_t i = 0;
      each_field(stored, [&](const char* name, auto& value) {
        // An absent optional field keeps its default; any given value,
        // None included, is read (read_arg takes None only where the
        // field is optional).
        if (a[i] != nullptr) fields::read_arg(a[i], name, value);
        ++i;
      });
    }
    return action_to_py(std::move(stored));
  });
}

// The table entry of A's static constructor, under the core's name for it.
template <class A>
PyMethodDef constructor_def(const char* doc) {
  return static_def(A::kConstructor.data(), &construct<A>, doc);
}

// ---------------------------------------------------------------------------
// Methods: the plain-dict form, {"kind": the engine's kind name, then the
// static constructor's arguments by name}, ids as the stored text; and back.
// from_dict keeps ids unchecked, as the static constructors do.

Ref to_dict(const StoredAction& action) {
  DictWriter d;
  d.set("kind", to_py(kKindNames<NetAction>[action.index()]));
  std::visit(
      [&d](const auto& stored) {
        each_field(stored, [&d](const char* key, const auto& value) {
          d.set(key, fields::dict_value(value));
        });
      },
      action);
  return d.done();
}

struct ReadActionFields {
  template <class S>
  void operator()(DictReader& d, S& stored) const {
    each_field(stored, [&d](const char* key, auto& value) { fields::read(d, key, value); });
  }
};

Ref from_dict(PyObject* data) {
  return action_to_py(
      variant_from_dict<StoredAction, ReadActionFields>(data, kKindNames<NetAction>, "action"));
}

// ---------------------------------------------------------------------------
// Slot table and type

PyMethodDef g_methods[] = {
    constructor_def<action::RunStep>(
        "run_step()\n--\n\nExecute one step of automatic packet flow.\n"
        "Returns whether progress was made (i.e., not blocked)."),
    constructor_def<action::CreatePacket>(
        "create_packet(epoch_id=None)\n--\n\nCreate a new packet, optionally inside an epoch."),
    constructor_def<action::ConsumePacket>(
        "consume_packet(packet_id)\n--\n\nConsume a packet (normal removal from the network)."),
    constructor_def<action::DestroyPacket>(
        "destroy_packet(packet_id)\n--\n\n"
        "Destroy a packet (abnormal removal, e.g., due to error or cancellation)."),
    constructor_def<action::StartEpoch>(
        "start_epoch(epoch_id)\n--\n\nTransition a startable epoch to running."),
    constructor_def<action::FinishEpoch>("finish_epoch(epoch_id)\n--\n\nComplete a running epoch."),
    constructor_def<action::CancelEpoch>(
        "cancel_epoch(epoch_id)\n--\n\nCancel an epoch and destroy packets."),
    constructor_def<action::CreateEpoch>(
        "create_epoch(node_name, salvo)\n--\n\nManually create an epoch with specified packets.\n"
        "The epoch is created in Startable state - call start_epoch to begin execution."),
    constructor_def<action::LoadPacketIntoOutputPort>(
        "load_packet_into_output_port(packet_id, port_name)\n--\n\nMove a packet to an output port."),
    constructor_def<action::SendOutputSalvo>(
        "send_output_salvo(epoch_id, salvo_condition_name)\n--\n\nSend packets from output ports onto edges."),
    constructor_def<action::TransportPacketToLocation>(
        "transport_packet_to_location(packet_id, destination)\n--\n\nTransport a packet to a new location."),
    constructor_def<action::CreateRequest>(
        "create_request(node_name, label)\n--\n\nCreate a packet request targeting a node.\n"
        "The request will be resolved during the next RunStep."),
    Members<StoredAction>::method<to_dict>(
        "to_dict",
        "to_dict($self)\n--\n\nThe action as a plain dict (str, None and lists; ids as the stored text)."),
    from_dict_def<from_dict, "action">(),
    // Type checkers see NetAction as generic over its response data; the
    // subscript NetAction[...] works at run time too, as an alias.
    {"__class_getitem__", Py_GenericAlias, METH_O | METH_CLASS,
     "__class_getitem__(item)\n--\n\nSee PEP 585."},
    {},
};

}  // namespace

void define_net_action(PyObject* module) {
  define_boxed_class<StoredAction>(module, {.name = "NetAction",
                                            .doc = "An action to perform on the network.",
                                            .methods = g_methods,
                                            .repr = &text_slot<StoredAction, action_repr>,
                                            .reduce = &action_reduce});
}

bool is_net_action(PyObject* obj) { return is_instance<StoredAction>(obj); }

Ref engine_action_to_py(const NetAction& action) {
  return std::visit(
      []<class A>(const A& engine) {
        ActionArgs<A> stored;
        [&]<std::size_t... I>(std::index_sequence<I...>) {
          ((std::get<I>(stored.values) = as_stored(engine.*std::get<I>(kFields<A>).member)), ...);
        }
        (std::make_index_sequence<kFieldCount<A>>{});
        return action_to_py(std::move(stored));
      },
      action);
}

NetAction action_arg(PyObject* obj, const char* arg) {
  return std::visit([](const auto& stored) { return resolve(stored); },
                    arg_of<StoredAction>(obj, arg));
}

}  // namespace zellik::py
