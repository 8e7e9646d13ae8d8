#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>
#include <variant>

namespace zellik {

// Whether `pred(std::type_identity<T>{})` holds for every alternative T of
// the variant V. For compile-time checks that a per-type table (names,
// messages) covers every alternative:
//   static_assert(every_alternative<NetEvent>([](auto t) { ... }));
template <class V, class Pred>
constexpr bool every_alternative(Pred pred) {
  return []<class... Ts>(std::type_identity<std::variant<Ts...>>, Pred p) {
    return (p(std::type_identity<Ts>{}) && ...);
  }(std::type_identity<V>{}, pred);
}

template <class T, class V, std::size_t... I>
constexpr std::size_t index_in(std::index_sequence<I...>) {
  std::size_t index = 0;
  ((std::is_same_v<T, std::variant_alternative_t<I, V>> ? (index = I, true) : false) || ...);
  return index;
}

// The position of the alternative T in the variant V (T must be one of them).
template <class T, class V>
inline constexpr std::size_t index_of_v =
    index_in<T, V>(std::make_index_sequence<std::variant_size_v<V>>{});

}  // namespace zellik
