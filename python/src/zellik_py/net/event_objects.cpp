// Event objects: made straight from the engine's records, by the million
// in a run, and read back when an event is undone.

#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <variant>

#include "zellik_py/binding/convert.h"
#include "zellik_py/net/event_value.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"

namespace zellik::py {

Ref event_to_py(const NetEvent& event) { return box<EventValue>(to_value(event)); }

namespace {

// A new NetEvent object with its value not yet constructed. Event objects
// are made by the million and their class has no allocator of its own, so
// they come straight from the object allocator (what the class's generic
// tp_alloc would do, less its zero fill of memory about to be written).
PyObject* new_event_object(PyTypeObject* type) {
  if (type == nullptr) raise_no_class();
  PyObject* obj =
      PyObject_Init(static_cast<PyObject*>(PyObject_Malloc(sizeof(Box<EventValue>))), type);
  if (obj == nullptr) throw PythonError{};
  return obj;
}

// Moves the engine's record into a new object of `type` in place: one move
// per event, none through a temporary. The kinds kept on the heap get their
// record first, so that nothing can fail once the object exists.
Ref event_object(PyTypeObject* type, NetEvent&& event) {
  return std::visit(
      [type]<class E>(E& ev) -> Ref {
        using S = typename StoredEvent<E>::type;
        if constexpr (std::is_same_v<S, E>) {
          static_assert(std::is_nothrow_move_constructible_v<E>);
          PyObject* obj = new_event_object(type);
          new (&unbox<EventValue>(obj)) EventValue(std::in_place_type<E>, std::move(ev));
          return own(obj);
        } else {
          S stored{std::make_unique<const E>(std::move(ev))};
          PyObject* obj = new_event_object(type);
          new (&unbox<EventValue>(obj)) EventValue(std::in_place_type<S>, std::move(stored));
          return own(obj);
        }
      },
      event);
}

}  // namespace

Ref event_to_py(NetEvent&& event) { return event_object(class_of<EventValue>(), std::move(event)); }

Ref events_to_py(const EventList& events) {
  return list_of(events, [](const NetEvent& e) { return event_to_py(e); });
}

Ref events_to_py(EventList&& events) {
  Ref list = own(PyList_New(static_cast<Py_ssize_t>(events.size())));
  PyTypeObject* type = class_of<EventValue>();
  Py_ssize_t i = 0;
  for (NetEvent& event : events)
    PyList_SetItem(list.get(), i++, event_object(type, std::move(event)).release());
  return list;
}

void append_events(PyObject* list, EventList& events) {
  PyTypeObject* type = class_of<EventValue>();
  for (NetEvent& event : events)
    check_status(PyList_Append(list, event_object(type, std::move(event)).get()));
}

NetEvent event_arg(PyObject* obj, const char* arg) {
  return visit_event(arg_of<EventValue>(obj, arg), [](const auto& ev) { return NetEvent(ev); });
}

}  // namespace zellik::py
