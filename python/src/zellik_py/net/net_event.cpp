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

// What the repr shows of a field: its value as text, one overload per
// member type, under the field's repr label.
std::string repr_value(const Ulid& id) { return single_quoted(id.to_string()); }
std::string repr_value(const Name& value) { return quoted(value.view()); }
std::string repr_value(const PacketLocation& loc) { return location_repr(loc); }
std::string repr_value(const HeapValue<Epoch>& epoch) { return epoch_repr(*epoch); }
std::string repr_value(std::uint64_t n) { return std::to_string(n); }
std::string repr_value(RequestCreatedSource source) {
  return std::string(request_source_name(source));
}
std::string repr_value(const std::vector<Name>& names) {
  std::string text;
  for (const Name& n : names) text += (text.empty() ? "" : ", ") + quoted(n.view());
  return "[" + text + "]";
}

// The repr's shorter labels of some fields; every other field shows its name.
std::string_view repr_label(std::string_view field) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kLabels = {{
      {"from_location", "from"},
      {"to_location", "to"},
      {"salvo_condition", "condition"},
      {"node_name", "node"},
      {"port_name", "port"},
      {"request_source", "source"},
  }};
  for (const auto& [name, label] : kLabels) {
    if (name == field) return label;
  }
  return field;
}

template <class E>
std::string fields(const E& e) {
  std::string text;
  event::for_each_field(e, [&](const char* name, const auto& value) {
    text += ", ";
    text += repr_label(name);
    text += "=" + repr_value(value);
  });
  return text;
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

constexpr std::array<RequestCreatedSource, 3> kRequestSources = {
    RequestCreatedSource::External, RequestCreatedSource::OnStartup,
    RequestCreatedSource::OnNoSalvoTriggered};

Ref field_to_py(const Ulid& id) { return id_to_py(id); }
Ref field_to_py(const HeapValue<Epoch>& epoch) { return epoch_to_dict(*epoch); }
Ref field_to_py(const PacketLocation& location) { return location_to_dict(location); }
Ref field_to_py(std::uint64_t n) { return to_py_u64(n); }
Ref field_to_py(const Name& name) { return to_py(name); }
Ref field_to_py(const std::vector<Name>& names) {
  return list_of(names, [](const Name& n) { return to_py(n); });
}
Ref field_to_py(RequestCreatedSource source) { return to_py(request_source_name(source)); }

void read_field(DictReader& d, const char* key, Ulid& out) { out = d.id(key); }
void read_field(DictReader& d, const char* key, HeapValue<Epoch>& out) {
  *out = epoch_from_dict(d.field(key), d.path_of(key));
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
    event::for_each_field(
        ev, [&d](const char* key, const auto& value) { d.set(key, field_to_py(value)); });
  });
  return d.done();
}

struct ReadEventFields {
  template <class E>
  void operator()(DictReader& d, E& e) const {
    e.timestamp = d.i64("timestamp");
    event::for_each_field(e, [&d](const char* key, auto& value) { read_field(d, key, value); });
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

// The object form of a field, one overload per member type.
Ref object_of(const Ulid& id) { return id_to_py(id); }
Ref object_of(const HeapValue<Epoch>& epoch) { return epoch_to_py(*epoch); }
Ref object_of(const PacketLocation& location) { return location_to_py(location); }
Ref object_of(std::uint64_t n) { return to_py_u64(n); }
Ref object_of(const Name& name) { return to_py(name); }
Ref object_of(const std::vector<Name>& names) {
  return list_of(names, [](const Name& n) { return to_py(n); });
}
Ref object_of(RequestCreatedSource source) { return to_py(request_source_name(source)); }

// The field named kName of an event, or None when its kind has no such field
// (found at compile time in the kind's field list).
template <const char* kName, class E>
Ref field_object(const E& ev) {
  constexpr int kIndex = event::field_index<E>(kName);
  if constexpr (kIndex >= 0) {
    return object_of(ev.*std::get<kIndex>(event::kFields<E>).member);
  } else {
    return none();
  }
}

template <const char* kName>
Ref field_of(const EventValue& e) {
  return read_field(e, [](const auto& ev) { return field_object<kName>(ev); });
}

constexpr char kPacketId[] = "packet_id";
constexpr char kEpochId[] = "epoch_id";
constexpr char kEpoch[] = "epoch";
constexpr char kLocation[] = "location";
constexpr char kFromLocation[] = "from_location";
constexpr char kToLocation[] = "to_location";
constexpr char kFromIndex[] = "from_index";
constexpr char kSalvoCondition[] = "salvo_condition";
constexpr char kNodeName[] = "node_name";
constexpr char kSourceNode[] = "source_node";
constexpr char kPortName[] = "port_name";
constexpr char kLabel[] = "label";
constexpr char kSourceNodes[] = "source_nodes";
constexpr char kRequestSource[] = "request_source";

// The two getters that read another field where a kind lacks theirs:
// EpochFinished and EpochCancelled give the id of the epoch they carry, and
// RequestEpochCreated calls its node the source node.
Ref epoch_id_of(const EventValue& e) {
  return read_field(e, []<class E>(const E& ev) {
    if constexpr (event::field_index<E>(kEpoch) >= 0) {
      return id_to_py(ev.epoch->id);
    } else {
      return field_object<kEpochId>(ev);
    }
  });
}

Ref node_name_of(const EventValue& e) {
  return read_field(e, []<class E>(const E& ev) {
    if constexpr (event::field_index<E>(kSourceNode) >= 0) {
      return field_object<kSourceNode>(ev);
    } else {
      return field_object<kNodeName>(ev);
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
    {"kind", value_getter<EventValue, kind_of>, nullptr,
     "The kind of the event, such as \"PacketMoved\" (str).", nullptr},
    {"timestamp", value_getter<EventValue, timestamp_of>, nullptr,
     "When the event was recorded, in milliseconds since the Unix epoch (int).", nullptr},
    {"packet_id", value_getter<EventValue, field_of<kPacketId>>, nullptr,
     "The id of the packet the event is about, as text; None for events about no packet.", nullptr},
    {"epoch_id", value_getter<EventValue, epoch_id_of>, nullptr,
     "The id of the epoch the event is about, as text; None for events that carry no\n"
     "epoch id (EpochFinished and EpochCancelled carry the whole epoch instead).",
     nullptr},
    {"epoch", value_getter<EventValue, field_of<kEpoch>>, nullptr,
     "Get the epoch (for EpochFinished and EpochCancelled events).", nullptr},
    {"location", value_getter<EventValue, field_of<kLocation>>, nullptr,
     "Get the location (for PacketConsumed and PacketDestroyed events).", nullptr},
    {"from_location", value_getter<EventValue, field_of<kFromLocation>>, nullptr,
     "Where the packet was (for PacketMoved events); a new PacketLocation, or None.", nullptr},
    {"to_location", value_getter<EventValue, field_of<kToLocation>>, nullptr,
     "Where the packet went (for PacketMoved events); a new PacketLocation, or None.", nullptr},
    {"from_index", value_getter<EventValue, field_of<kFromIndex>>, nullptr,
     "Get the from_index (for PacketMoved events - used for undo).", nullptr},
    {"salvo_condition", value_getter<EventValue, field_of<kSalvoCondition>>, nullptr,
     "The salvo condition (for InputSalvoTriggered, OutputSalvoTriggered and\n"
     "PacketOrphaned events); None for other kinds.",
     nullptr},
    {"node_name", value_getter<EventValue, node_name_of>, nullptr,
     "Get the node name (for PacketOrphaned, RequestCreated, RequestEpochCreated events).",
     nullptr},
    {"orphaned_port_name", value_getter<EventValue, field_of<kPortName>>, nullptr,
     "Get the port name (for PacketOrphaned events - the output port the packet was sent from).",
     nullptr},
    {"label", value_getter<EventValue, field_of<kLabel>>, nullptr,
     "Get the label (for RequestCreated, RequestCascadeResolved, RequestEpochCreated events).",
     nullptr},
    {"source_nodes", value_getter<EventValue, field_of<kSourceNodes>>, nullptr,
     "Get the source nodes (for RequestCascadeResolved events).", nullptr},
    {"request_source", value_getter<EventValue, field_of<kRequestSource>>, nullptr,
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
