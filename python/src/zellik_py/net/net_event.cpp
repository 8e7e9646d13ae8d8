// NetEvent: the record of one change an action made.

#include <array>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <variant>

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
// Value: the object embeds the engine's NetEvent (Box<EventValue>), except
// that PacketOrphaned (an id and three names more than a move) keeps its
// record on the heap; the engine's own events keep a whole epoch on the heap
// already. A run makes millions of objects, and each byte of them is memory
// the allocator must fault in: every kind stays within the interpreter's
// small-object allocator at 80 bytes. The kind's index is the engine's.
// Objects come only from the engine; undo_action hands a copy of the
// embedded record back.

template <class E>
struct OnHeap {
  std::unique_ptr<const E> event;
};

template <class E>
struct Stored {
  using type = E;
};
template <>
struct Stored<event::PacketOrphaned> {
  using type = OnHeap<event::PacketOrphaned>;
};

template <class V>
struct StoredVariant;
template <class... E>
struct StoredVariant<std::variant<E...>> {
  using type = std::variant<typename Stored<E>::type...>;
};

using EventValue = StoredVariant<NetEvent>::type;

static_assert(sizeof(Box<EventValue>) <= 80, "a NetEvent object must stay within 80 bytes");

template <class E>
const E& engine_event(const E& e) {
  return e;
}
template <class E>
const E& engine_event(const OnHeap<E>& e) {
  return *e.event;
}

// Calls f with the engine's record of the embedded event.
template <class F>
decltype(auto) visit_event(const EventValue& e, F&& f) {
  return std::visit([&f](const auto& stored) -> decltype(auto) { return f(engine_event(stored)); },
                    e);
}

// Copies or moves (for an rvalue) the engine's record into an object's value.
template <class Event>
EventValue to_value(Event&& e) {
  return std::visit(
      [](auto&& ev) -> EventValue {
        using E = std::decay_t<decltype(ev)>;
        using S = typename Stored<E>::type;
        if constexpr (std::is_same_v<S, E>) {
          return EventValue(std::in_place_type<E>, std::forward<decltype(ev)>(ev));
        } else {
          return EventValue(std::in_place_type<S>,
                            S{std::make_unique<const E>(std::forward<decltype(ev)>(ev))});
        }
      },
      std::forward<Event>(e));
}

// What the repr shows after the timestamp, one overload per kind.
std::string id_field(const char* name, const Ulid& id) {
  return std::string(", ") + name + "=" + single_quoted(id.to_string());
}
std::string name_field(const char* name, const Name& value) {
  return std::string(", ") + name + "=" + quoted(value.view());
}
std::string location_field(const char* name, const PacketLocation& loc) {
  return std::string(", ") + name + "=" + location_repr(loc);
}

std::string fields(const event::PacketCreated& e) { return id_field("packet_id", e.packet_id); }
std::string fields(const event::PacketConsumed& e) {
  return id_field("packet_id", e.packet_id) + location_field("location", e.location);
}
std::string fields(const event::PacketDestroyed& e) {
  return id_field("packet_id", e.packet_id) + location_field("location", e.location);
}
std::string fields(const event::EpochCreated& e) { return id_field("epoch_id", e.epoch_id); }
std::string fields(const event::EpochStarted& e) { return id_field("epoch_id", e.epoch_id); }
std::string fields(const event::EpochFinished& e) { return ", epoch=" + epoch_repr(*e.epoch); }
std::string fields(const event::EpochCancelled& e) { return ", epoch=" + epoch_repr(*e.epoch); }
std::string fields(const event::PacketMoved& e) {
  return id_field("packet_id", e.packet_id) + location_field("from", e.from_location) +
         location_field("to", e.to_location) + ", from_index=" + std::to_string(e.from_index);
}
std::string fields(const event::InputSalvoTriggered& e) {
  return id_field("epoch_id", e.epoch_id) + name_field("condition", e.salvo_condition);
}
std::string fields(const event::OutputSalvoTriggered& e) {
  return id_field("epoch_id", e.epoch_id) + name_field("condition", e.salvo_condition);
}
std::string fields(const event::PacketOrphaned& e) {
  return id_field("packet_id", e.packet_id) + id_field("epoch_id", e.epoch_id) +
         name_field("node", e.node_name) + name_field("port", e.port_name) +
         name_field("condition", e.salvo_condition);
}
std::string fields(const event::RequestCreated& e) {
  return name_field("node", e.node_name) + name_field("label", e.label) +
         ", source=" + std::string(request_source_name(e.request_source));
}
std::string fields(const event::RequestCascadeResolved& e) {
  std::string nodes;
  for (const Name& n : e.source_nodes) nodes += (nodes.empty() ? "" : ", ") + quoted(n.view());
  return ", source_nodes=[" + nodes + "]" + name_field("label", e.label);
}
std::string fields(const event::RequestEpochCreated& e) {
  return id_field("epoch_id", e.epoch_id) + name_field("source_node", e.source_node) +
         name_field("label", e.label);
}

std::string event_repr(const EventValue& e) {
  return visit_event(e, []<class E>(const E& ev) {
    return "NetEvent." + std::string(event::kKindName<E>) + "(ts=" + std::to_string(ev.timestamp) +
           fields(ev) + ")";
  });
}

// ---------------------------------------------------------------------------
// Methods: the plain-dict form, {"kind", "timestamp", then the kind's fields
// under their engine names}, and back.

// Calls f(name, field) for every field after the timestamp, in display order.
// One list serves both directions.
template <class E, class F>
void each_field(E& e, F&& f) {
  if constexpr (requires { e.packet_id; }) f("packet_id", e.packet_id);
  if constexpr (requires { e.epoch_id; }) f("epoch_id", e.epoch_id);
  if constexpr (requires { e.epoch; }) f("epoch", *e.epoch);
  if constexpr (requires { e.location; }) f("location", e.location);
  if constexpr (requires { e.from_location; }) f("from_location", e.from_location);
  if constexpr (requires { e.to_location; }) f("to_location", e.to_location);
  if constexpr (requires { e.from_index; }) f("from_index", e.from_index);
  if constexpr (requires { e.node_name; }) f("node_name", e.node_name);
  if constexpr (requires { e.source_node; }) f("source_node", e.source_node);
  if constexpr (requires { e.port_name; }) f("port_name", e.port_name);
  if constexpr (requires { e.salvo_condition; }) f("salvo_condition", e.salvo_condition);
  if constexpr (requires { e.source_nodes; }) f("source_nodes", e.source_nodes);
  if constexpr (requires { e.label; }) f("label", e.label);
  if constexpr (requires { e.request_source; }) f("request_source", e.request_source);
}

constexpr std::array<RequestCreatedSource, 3> kRequestSources = {
    RequestCreatedSource::External, RequestCreatedSource::OnStartup,
    RequestCreatedSource::OnNoSalvoTriggered};

Ref field_to_py(const Ulid& id) { return id_to_py(id); }
Ref field_to_py(const Epoch& epoch) { return epoch_to_dict(epoch); }
Ref field_to_py(const PacketLocation& location) { return location_to_dict(location); }
Ref field_to_py(std::uint64_t n) { return to_py_u64(n); }
Ref field_to_py(const Name& name) { return to_py(name); }
Ref field_to_py(const std::vector<Name>& names) {
  return list_of(names, [](const Name& n) { return to_py(n); });
}
Ref field_to_py(RequestCreatedSource source) { return to_py(request_source_name(source)); }

void read_field(DictReader& d, const char* key, Ulid& out) { out = d.id(key); }
void read_field(DictReader& d, const char* key, Epoch& out) {
  out = epoch_from_dict(d.field(key), d.path_of(key));
}
void read_field(DictReader& d, const char* key, PacketLocation& out) {
  out = location_from_dict(d.field(key), d.path_of(key));
}
void read_field(DictReader& d, const char* key, std::uint64_t& out) { out = d.u64(key); }
void read_field(DictReader& d, const char* key, Name& out) { out = d.name(key); }
void read_field(DictReader& d, const char* key, std::vector<Name>& out) {
  const std::vector<PyObject*> items = d.list(key);
  for (std::size_t i = 0; i < items.size(); ++i) {
    out.emplace_back(text_at(items[i], d.path_of(key) + "[" + std::to_string(i) + "]"));
  }
}
void read_field(DictReader& d, const char* key, RequestCreatedSource& out) {
  const std::string text = d.text(key);
  for (RequestCreatedSource source : kRequestSources) {
    if (request_source_name(source) == text) {
      out = source;
      return;
    }
  }
  raise_field(d.path_of(key), "unknown request source '" + text + "'");
}

Ref kind_of(const EventValue& e);

Ref to_dict(const EventValue& e) {
  DictWriter d;
  d.set("kind", kind_of(e));
  visit_event(e, [&d](const auto& ev) {
    d.set("timestamp", to_py_i64(ev.timestamp));
    each_field(ev, [&d](const char* key, const auto& value) { d.set(key, field_to_py(value)); });
  });
  return d.done();
}

struct ReadEventFields {
  template <class E>
  void operator()(DictReader& d, E& e) const {
    e.timestamp = d.i64("timestamp");
    each_field(e, [&d](const char* key, auto& value) { read_field(d, key, value); });
  }
};

// The kind names in variant order, taken from the event types themselves.
template <std::size_t... I>
constexpr auto make_kind_names(std::index_sequence<I...>) {
  return std::array<std::string_view, sizeof...(I)>{
      event::kKindName<std::variant_alternative_t<I, NetEvent>>...};
}
constexpr auto kKindNames =
    make_kind_names(std::make_index_sequence<std::variant_size_v<NetEvent>>());

PyObject* from_dict(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("from_dict", std::array{"data"}, 1, args, nargs, kwnames);
    if (!PyDict_Check(a[0])) raise_arg_type(a[0], "data", "dict");
    DictReader d(a[0], "");
    return event_to_py(variant_from_dict<NetEvent, ReadEventFields>(d, kKindNames, "event"));
  });
}

PyMethodDef g_methods[] = {
    {"to_dict", as_method(&value_method<EventValue, to_dict>), METH_NOARGS,
     "to_dict($self)\n--\n\nThe event as a plain dict (str, int, bool, None and lists; ids as text)."},
    {"from_dict", as_method(&from_dict), kStaticMethod,
     "from_dict(data)\n--\n\nThe event that to_dict described.\n"
     "Raises ValueError naming the first field that is missing, unexpected or malformed."},
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------------------
// Getters: each reads the field from the kinds that carry it and gives None
// for the others.

template <class Read>
Ref read_field(const EventValue& e, Read&& read) {
  return visit_event(e, read);
}

// Kind names are shared str objects, made once per kind.
template <class E>
Ref kind_str() {
  static PyObject* const text =
      check(PyUnicode_InternFromString(std::string(event::kKindName<E>).c_str()));
  return Ref::borrow(text);
}

Ref kind_of(const EventValue& e) {
  return visit_event(e, []<class E>(const E&) { return kind_str<E>(); });
}
Ref timestamp_of(const EventValue& e) {
  return read_field(e, [](const auto& ev) { return to_py_i64(ev.timestamp); });
}

Ref packet_id_of(const EventValue& e) {
  return read_field(e, [](const auto& ev) {
    if constexpr (requires { ev.packet_id; }) return id_to_py(ev.packet_id);
    else return none();
  });
}

Ref epoch_id_of(const EventValue& e) {
  return read_field(e, [](const auto& ev) {
    if constexpr (requires { ev.epoch_id; }) return id_to_py(ev.epoch_id);
    else if constexpr (requires { ev.epoch; }) return id_to_py(ev.epoch->id);
    else return none();
  });
}

Ref epoch_of(const EventValue& e) {
  return read_field(e, [](const auto& ev) {
    if constexpr (requires { ev.epoch; }) return epoch_to_py(*ev.epoch);
    else return none();
  });
}

Ref location_of(const EventValue& e) {
  return read_field(e, [](const auto& ev) {
    if constexpr (requires { ev.location; }) return location_to_py(ev.location);
    else return none();
  });
}

Ref from_location_of(const EventValue& e) {
  return read_field(e, [](const auto& ev) {
    if constexpr (requires { ev.from_location; }) return location_to_py(ev.from_location);
    else return none();
  });
}

Ref to_location_of(const EventValue& e) {
  return read_field(e, [](const auto& ev) {
    if constexpr (requires { ev.to_location; }) return location_to_py(ev.to_location);
    else return none();
  });
}

Ref from_index_of(const EventValue& e) {
  return read_field(e, [](const auto& ev) {
    if constexpr (requires { ev.from_index; }) return to_py_u64(ev.from_index);
    else return none();
  });
}

Ref salvo_condition_of(const EventValue& e) {
  return read_field(e, [](const auto& ev) {
    if constexpr (requires { ev.salvo_condition; }) return to_py(ev.salvo_condition);
    else return none();
  });
}

// RequestEpochCreated calls its node the source node.
Ref node_name_of(const EventValue& e) {
  return read_field(e, [](const auto& ev) {
    if constexpr (requires { ev.node_name; }) return to_py(ev.node_name);
    else if constexpr (requires { ev.source_node; }) return to_py(ev.source_node);
    else return none();
  });
}

// Only PacketOrphaned names a port: the output port the packet left by.
Ref orphaned_port_name_of(const EventValue& e) {
  return read_field(e, [](const auto& ev) {
    if constexpr (requires { ev.port_name; }) return to_py(ev.port_name);
    else return none();
  });
}

Ref label_of(const EventValue& e) {
  return read_field(e, [](const auto& ev) {
    if constexpr (requires { ev.label; }) return to_py(ev.label);
    else return none();
  });
}

Ref source_nodes_of(const EventValue& e) {
  return read_field(e, [](const auto& ev) {
    if constexpr (requires { ev.source_nodes; }) {
      return list_of(ev.source_nodes, [](const Name& n) { return to_py(n); });
    } else {
      return none();
    }
  });
}

Ref request_source_of(const EventValue& e) {
  return read_field(e, [](const auto& ev) {
    if constexpr (requires { ev.request_source; })
      return to_py(request_source_name(ev.request_source));
    else return none();
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
    {"kind", value_getter<EventValue, kind_of>, nullptr,
     "The kind of the event, such as \"PacketMoved\" (str).", nullptr},
    {"timestamp", value_getter<EventValue, timestamp_of>, nullptr,
     "When the event was recorded, in milliseconds since the Unix epoch (int).", nullptr},
    {"packet_id", value_getter<EventValue, packet_id_of>, nullptr,
     "The id of the packet the event is about, as text; None for events about no packet.", nullptr},
    {"epoch_id", value_getter<EventValue, epoch_id_of>, nullptr,
     "The id of the epoch the event is about, as text; None for events that carry no\n"
     "epoch id (EpochFinished and EpochCancelled carry the whole epoch instead).",
     nullptr},
    {"epoch", value_getter<EventValue, epoch_of>, nullptr,
     "Get the epoch (for EpochFinished and EpochCancelled events).", nullptr},
    {"location", value_getter<EventValue, location_of>, nullptr,
     "Get the location (for PacketConsumed and PacketDestroyed events).", nullptr},
    {"from_location", value_getter<EventValue, from_location_of>, nullptr,
     "Where the packet was (for PacketMoved events); a new PacketLocation, or None.", nullptr},
    {"to_location", value_getter<EventValue, to_location_of>, nullptr,
     "Where the packet went (for PacketMoved events); a new PacketLocation, or None.", nullptr},
    {"from_index", value_getter<EventValue, from_index_of>, nullptr,
     "Get the from_index (for PacketMoved events - used for undo).", nullptr},
    {"salvo_condition", value_getter<EventValue, salvo_condition_of>, nullptr,
     "The salvo condition (for InputSalvoTriggered, OutputSalvoTriggered and\n"
     "PacketOrphaned events); None for other kinds.",
     nullptr},
    {"node_name", value_getter<EventValue, node_name_of>, nullptr,
     "Get the node name (for PacketOrphaned, RequestCreated, RequestEpochCreated events).",
     nullptr},
    {"orphaned_port_name", value_getter<EventValue, orphaned_port_name_of>, nullptr,
     "Get the port name (for PacketOrphaned events - the output port the packet was sent from).",
     nullptr},
    {"label", value_getter<EventValue, label_of>, nullptr,
     "Get the label (for RequestCreated, RequestCascadeResolved, RequestEpochCreated events).",
     nullptr},
    {"source_nodes", value_getter<EventValue, source_nodes_of>, nullptr,
     "Get the source nodes (for RequestCascadeResolved events).", nullptr},
    {"request_source", value_getter<EventValue, request_source_of>, nullptr,
     "Get the request source (for RequestCreated events).\n"
     "Returns \"External\", \"OnStartup\", or \"OnNoSalvoTriggered\".",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

void define_net_event(PyObject* module) {
  ClassSpec cls =
      spec_for<EventValue>("NetEvent", "An event that occurred during a network action.");
  cls.methods = g_methods;
  cls.getters = g_getters;
  cls.reduce = &reduce_event;
  cls.slots = {{Py_tp_repr, reinterpret_cast<void*>(&text_slot<EventValue, event_repr>)}};
  define_boxed_class<EventValue>(module, cls);
}

Ref event_to_py(const NetEvent& event) { return box<EventValue>(to_value(event)); }

namespace {

// A new NetEvent object with its value not yet constructed. Event objects
// are made by the million and their class has no allocator of its own, so
// they come straight from the object allocator (what the class's generic
// tp_alloc would do, less its zero fill of memory about to be written).
PyObject* new_event_object() {
  PyTypeObject* type = ClassOf<EventValue>::type;
  PyObject* obj =
      PyObject_Init(static_cast<PyObject*>(PyObject_Malloc(sizeof(Box<EventValue>))), type);
  if (obj == nullptr) throw PythonError{};
  return obj;
}

}  // namespace

// Moves the engine's record into the object in place: one move per event,
// none through a temporary. The kinds kept on the heap get their record
// first, so that nothing can fail once the object exists.
Ref event_to_py(NetEvent&& event) {
  return std::visit(
      []<class E>(E& ev) -> Ref {
        using S = typename Stored<E>::type;
        if constexpr (std::is_same_v<S, E>) {
          static_assert(std::is_nothrow_move_constructible_v<E>);
          PyObject* obj = new_event_object();
          new (&unbox<EventValue>(obj)) EventValue(std::in_place_type<E>, std::move(ev));
          return own(obj);
        } else {
          S stored{std::make_unique<const E>(std::move(ev))};
          PyObject* obj = new_event_object();
          new (&unbox<EventValue>(obj)) EventValue(std::in_place_type<S>, std::move(stored));
          return own(obj);
        }
      },
      event);
}

Ref events_to_py(const EventList& events) {
  return list_of(events, [](const NetEvent& e) { return event_to_py(e); });
}

Ref events_to_py(EventList&& events) {
  Ref list = own(PyList_New(static_cast<Py_ssize_t>(events.size())));
  Py_ssize_t i = 0;
  for (NetEvent& event : events)
    PyList_SetItem(list.get(), i++, event_to_py(std::move(event)).release());
  return list;
}

void append_events(PyObject* list, EventList& events) {
  for (NetEvent& event : events)
    check_status(PyList_Append(list, event_to_py(std::move(event)).get()));
}

NetEvent event_arg(PyObject* obj, const char* arg) {
  return visit_event(arg_of<EventValue>(obj, arg), [](const auto& ev) { return NetEvent(ev); });
}

}  // namespace zellik::py
