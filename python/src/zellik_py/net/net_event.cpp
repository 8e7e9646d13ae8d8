// NetEvent: the record of one change an action made: its repr, its plain-dict
// form and its getters, each a walk over the event's field list
// (net_event.h). How objects hold the record is in event_value.h.

#include <array>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "zellik_py/binding/args.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/pickling.h"
#include "zellik_py/net/event_value.h"
#include "zellik_py/net/field_forms.h"
#include "zellik_py/net/identifiers.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/net_dicts.h"

namespace zellik::py {
namespace {

// The repr's shorter keys for some fields; every other field shows its name.
std::string_view repr_key(std::string_view field) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kReprKeys = {{
      {"from_location", "from"},
      {"to_location", "to"},
      {"salvo_condition", "condition"},
      {"node_name", "node"},
      {"port_name", "port"},
      {"request_source", "source"},
  }};
  for (const auto& [name, key] : kReprKeys) {
    if (name == field) return key;
  }
  return field;
}

// "NetEvent.{kind}(ts={timestamp}, {key}={value}, ...)".
std::string event_repr(const EventValue& e) {
  return visit_event(e, []<class E>(const E& ev) {
    std::string text = "NetEvent." + std::string(E::kKind) + "(ts=" + std::to_string(ev.timestamp);
    for_each_field(ev, [&](const char* name, const auto& value) {
      text += ", " + std::string(repr_key(name)) + "=" + fields::repr(value);
    });
    return text + ")";
  });
}

// ---------------------------------------------------------------------------
// Methods: the plain-dict form, {"kind", "timestamp", then the kind's fields
// under their engine names}, and back.

Ref kind_of(const EventValue& e);

Ref to_dict(const EventValue& e) {
  DictWriter d;
  d.set("kind", kind_of(e));
  visit_event(e, [&d](const auto& ev) {
    d.set("timestamp", to_py_i64(ev.timestamp));
    for_each_field(
        ev, [&d](const char* key, const auto& value) { d.set(key, fields::dict_value(value)); });
  });
  return d.done();
}

struct ReadEventFields {
  template <class E>
  void operator()(DictReader& d, E& e) const {
    e.timestamp = d.i64("timestamp");
    for_each_field(e, [&d](const char* key, auto& value) { fields::read(d, key, value); });
  }
};

Ref from_dict(PyObject* data) {
  return event_to_py(
      variant_from_dict<NetEvent, ReadEventFields>(data, kKindNames<NetEvent>, "event"));
}

PyMethodDef g_methods[] = {
    Members<EventValue>::method<to_dict>(
        "to_dict",
        "to_dict($self)\n--\n\nThe event as a plain dict (str, int, bool, None and lists; ids as text)."),
    from_dict_def<from_dict, "event">(),
    {},
};

// ---------------------------------------------------------------------------
// Getters: each reads the field from the kinds that carry it and gives None
// for the others.

// Kind names are shared str objects, made once per kind and kept in the
// module's state.
template <class E>
struct KindText {};
template <class E>
Ref kind_str() {
  PyObject*& text = current_state().object(StateSlot<KindText<E>>::index);
  if (text == nullptr) text = check(PyUnicode_InternFromString(std::string(E::kKind).c_str()));
  return Ref::borrow(text);
}

Ref kind_of(const EventValue& e) {
  return visit_event(e, []<class E>(const E&) { return kind_str<E>(); });
}
Ref timestamp_of(const EventValue& e) {
  return visit_event(e, [](const auto& ev) { return to_py_i64(ev.timestamp); });
}

// Whether some kind of event lists a field named kName.
template <Literal kName>
inline constexpr bool kSomeEventHas = []<class... E>(std::type_identity<std::variant<E...>>) {
  return ((field_index<E>(kName.chars) >= 0) || ...);
}(std::type_identity<NetEvent>{});

// Whether an event of kind E has the field kName. A name that no kind of
// event lists is a misspelt getter: it does not build.
template <Literal kName, class E>
constexpr bool has_field() {
  static_assert(kSomeEventHas<kName>, "no kind of event has a field of this name");
  return field_index<E>(kName.chars) >= 0;
}

// The field named kName of an event, or None when its kind has no such field
// (found at compile time in the kind's field list).
template <Literal kName, class E>
Ref field_object(const E& ev) {
  if constexpr (has_field<kName, E>()) {
    constexpr int kIndex = field_index<E>(kName.chars);
    return fields::object(ev.*std::get<kIndex>(kFields<E>).member);
  } else {
    return none();
  }
}

template <Literal kName>
Ref field_of(const EventValue& e) {
  return visit_event(e, [](const auto& ev) { return field_object<kName>(ev); });
}

// The getter of the field kName, under its name.
template <Literal kName>
PyGetSetDef field_getter(const char* doc) {
  return Members<EventValue>::getter<field_of<kName>>(kName.chars, doc);
}

// The two getters that read another field where a kind lacks theirs:
// EpochFinished and EpochCancelled give the id of the epoch they carry, and
// RequestEpochCreated calls its node the source node.
Ref epoch_id_of(const EventValue& e) {
  return visit_event(e, []<class E>(const E& ev) {
    if constexpr (has_field<"epoch", E>()) {
      return id_to_py(ev.epoch->id);
    } else {
      return field_object<"epoch_id">(ev);
    }
  });
}

Ref node_name_of(const EventValue& e) {
  return visit_event(e, []<class E>(const E& ev) {
    if constexpr (has_field<"source_node", E>()) {
      return field_object<"source_node">(ev);
    } else {
      return field_object<"node_name">(ev);
    }
  });
}

// ---------------------------------------------------------------------------
// Slot table and type

// __reduce__: the byte form of the engine's record.
PyObject* reduce_event(PyObject* self, PyObject*) {
  return guard([&] {
    const NetEvent event =
        visit_event(unbox<EventValue>(self), [](const auto& ev) { return NetEvent(ev); });
    return rebuilt_from_record(encode_record(event));
  });
}

PyGetSetDef g_getters[] = {
    Members<EventValue>::getter<kind_of>("kind",
                                         "The kind of the event, such as \"PacketMoved\" (str)."),
    Members<EventValue>::getter<timestamp_of>(
        "timestamp", "When the event was recorded, in milliseconds since the Unix epoch (int)."),
    field_getter<"packet_id">(
        "The id of the packet the event is about, as text; None for events about no packet."),
    Members<EventValue>::getter<epoch_id_of>(
        "epoch_id",
        "The id of the epoch the event is about, as text; None for events that carry no\n"
        "epoch id (EpochFinished and EpochCancelled carry the whole epoch instead)."),
    field_getter<"epoch">("Get the epoch (for EpochFinished and EpochCancelled events)."),
    field_getter<"location">("Get the location (for PacketConsumed and PacketDestroyed events)."),
    field_getter<"from_location">(
        "Where the packet was (for PacketMoved events); a new PacketLocation, or None."),
    field_getter<"to_location">(
        "Where the packet went (for PacketMoved events); a new PacketLocation, or None."),
    field_getter<"from_index">("Get the from_index (for PacketMoved events - used for undo)."),
    field_getter<"salvo_condition">(
        "The salvo condition (for InputSalvoTriggered, OutputSalvoTriggered and\n"
        "PacketOrphaned events); None for other kinds."),
    Members<EventValue>::getter<node_name_of>(
        "node_name",
        "Get the node name (for PacketOrphaned, RequestCreated, RequestEpochCreated events)."),
    Members<EventValue>::getter<field_of<"port_name">>(
        "orphaned_port_name",
        "Get the port name (for PacketOrphaned events - the output port the packet was sent from)."),
    field_getter<"label">(
        "Get the label (for RequestCreated, RequestCascadeResolved, RequestEpochCreated events)."),
    field_getter<"source_nodes">("Get the source nodes (for RequestCascadeResolved events)."),
    field_getter<"request_source">(
        "Get the request source (for RequestCreated events).\n"
        "Returns \"External\", \"OnStartup\", or \"OnNoSalvoTriggered\"."),
    {},
};

}  // namespace

void define_net_event(PyObject* module) {
  define_boxed_class<EventValue>(module, {.name = "NetEvent",
                                          .doc = "An event that occurred during a network action.",
                                          .methods = g_methods,
                                          .getters = g_getters,
                                          .repr = &text_slot<EventValue, event_repr>,
                                          .reduce = &reduce_event});
}

}  // namespace zellik::py
