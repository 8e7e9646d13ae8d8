#pragma once

// How a NetEvent object holds the engine's record. Shared by the class
// (net_event.cpp) and by the code that makes event objects by the million
// (event_objects.cpp).

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <type_traits>
#include <utility>
#include <variant>

#include "zellik/net/net_event.h"
#include "zellik_py/binding/boxed.h"

namespace zellik::py {

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
struct StoredEvent {
  using type = E;
};
template <>
struct StoredEvent<event::PacketOrphaned> {
  using type = OnHeap<event::PacketOrphaned>;
};

template <class V>
struct StoredEvents;
template <class... E>
struct StoredEvents<std::variant<E...>> {
  using type = std::variant<typename StoredEvent<E>::type...>;
};

using EventValue = StoredEvents<NetEvent>::type;

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
        using S = typename StoredEvent<E>::type;
        if constexpr (std::is_same_v<S, E>) {
          return EventValue(std::in_place_type<E>, std::forward<decltype(ev)>(ev));
        } else {
          return EventValue(std::in_place_type<S>,
                            S{std::make_unique<const E>(std::forward<decltype(ev)>(ev))});
        }
      },
      std::forward<Event>(e));
}
}  // namespace zellik::py
