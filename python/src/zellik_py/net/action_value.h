#pragma once

// How a NetAction object holds its action (net_action.cpp builds the class
// on it).

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>

#include "zellik/base/fields.h"
#include "zellik/net/net_action.h"
#include "zellik_py/net/identifiers.h"
#include "zellik_py/net/net_convert.h"

namespace zellik::py {

// A NetAction object holds a StoredAction (Box<StoredAction>). It mirrors the engine's action,
// alternative for alternative and field for field (net_action.h lists them),
// but keeps packet and epoch ids as the text the caller gave and a salvo as
// given; they are parsed only when the action reaches the engine.

template <class T>
struct StoredAs : std::type_identity<T> {};
template <>
struct StoredAs<Ulid> : std::type_identity<std::string> {};
template <>
struct StoredAs<std::optional<Ulid>> : std::type_identity<std::optional<std::string>> {};
template <>
struct StoredAs<Salvo> : std::type_identity<SalvoText> {};

template <class A, class List = std::remove_const_t<decltype(kFields<A>)>>
struct ActionArgs;
template <class A, class... F>
struct ActionArgs<A, std::tuple<F...>> {
  using Engine = A;
  std::tuple<typename StoredAs<typename F::Type>::type...> values;
};

template <class V>
struct StoredVariant;
template <class... A>
struct StoredVariant<std::variant<A...>> {
  using type = std::variant<ActionArgs<A>...>;
};
using StoredAction = StoredVariant<NetAction>::type;

// Calls f(name, stored value) for every field of a stored action, in the
// order of its list.
template <class S, class F>
void each_field(S& stored, F&& f) {
  using A = typename std::remove_const_t<S>::Engine;
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (f(std::get<I>(kFields<A>).name, std::get<I>(stored.values)), ...);
  }
  (std::make_index_sequence<kFieldCount<A>>{});
}

// Calls f(value) for every field the caller gave (an optional one left out
// is skipped).
template <class S, class F>
void each_given(const S& stored, F&& f) {
  each_field(stored, [&](const char*, const auto& value) {
    if constexpr (requires { value.has_value(); }) {
      if (value) f(*value);
    } else {
      f(value);
    }
  });
}

inline Ulid resolved(const std::string& id_text) { return parse_identifier(id_text); }
inline std::optional<Ulid> resolved(const std::optional<std::string>& id_text) {
  if (!id_text) return std::nullopt;
  return parse_identifier(*id_text);
}
inline Salvo resolved(const SalvoText& salvo) { return salvo.resolve(); }
template <class T>
const T& resolved(const T& value) {
  return value;
}

// The stored form of an engine action's field: ids as their text.
inline std::string as_stored(const Ulid& id) { return id.to_string(); }
inline std::optional<std::string> as_stored(const std::optional<Ulid>& id) {
  if (!id) return std::nullopt;
  return id->to_string();
}
inline SalvoText as_stored(const Salvo& salvo) { return SalvoText::of(salvo); }
template <class T>
const T& as_stored(const T& value) {
  return value;
}

// The engine's action. Every id is parsed here: ValueError for the first
// malformed one.
template <class A>
NetAction resolve(const ActionArgs<A>& stored) {
  A out{};
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    ((out.*std::get<I>(kFields<A>).member = resolved(std::get<I>(stored.values))), ...);
  }
  (std::make_index_sequence<kFieldCount<A>>{});
  return out;
}

}  // namespace zellik::py
