#pragma once

// Named field lists of plain records. A record R lists its fields once, next
// to its struct, as an overload found by argument-dependent lookup:
//
//   constexpr auto fields_of(std::type_identity<CreateRequest>) {
//     return std::tuple{field("node_name", &CreateRequest::node_name),
//                       field("label", &CreateRequest::label)};
//   }
//
// and every form of the record (bytes, plain dicts, reprs, getters) walks
// that list instead of naming the members again. lists_every_member<R>()
// checks the list against the struct at compile time.

#include <array>
#include <cstddef>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>

namespace zellik {

template <class R, class T>
struct Field {
  using Record = R;
  using Type = T;
  const char* name;
  T R::*member;
};

template <class R, class T>
constexpr Field<R, T> field(const char* name, T R::*member) {
  return {name, member};
}

// Whether R has a field list.
template <class R>
concept HasFields = requires {
  fields_of(std::type_identity<std::remove_const_t<R>>{});
};

// The field list of R (const or not).
template <class R>
inline constexpr auto kFields = fields_of(std::type_identity<std::remove_const_t<R>>{});

template <class R>
inline constexpr std::size_t kFieldCount =
    std::tuple_size_v<std::remove_const_t<decltype(kFields<R>)>>;

// The member type of the I-th listed field of R.
template <class R, std::size_t I>
using FieldType = typename std::tuple_element_t<I, std::remove_const_t<decltype(kFields<R>)>>::Type;

// Calls f(name, member) for every listed field of `r`, in list order; the
// member is const when `r` is.
template <class R, class F>
void for_each_field(R& r, F&& f) {
  std::apply([&](const auto&... fd) { (f(fd.name, r.*fd.member), ...); }, kFields<R>);
}

// The position of the field `name` in the list of R, or -1.
template <class R>
constexpr int field_index(std::string_view name) {
  int found = -1;
  int i = 0;
  std::apply(
      [&](const auto&... fd) {
        ((found = std::string_view(fd.name) == name ? i : found, ++i), ...);
      },
      kFields<R>);
  return found;
}

namespace detail {
// Converts to any member type: the largest number of these a struct can be
// brace-initialized from is its number of members (fewer may fail too, for
// a member that cannot be value-initialized).
struct AnyMember {
  template <class T>
  operator T() const;  // NOLINT(google-explicit-constructor): declared only, never called
};
template <class T, class... A>
constexpr std::size_t member_count(std::size_t found = 0) {
  if constexpr (sizeof...(A) > 16) {
    return found;
  } else {
    constexpr bool kFits = requires { T{A{}...}; };
    return member_count<T, A..., AnyMember>(kFits ? sizeof...(A) : found);
  }
}
}  // namespace detail

// Whether R's list names all its members but `unlisted` of them (members
// that are not part of the record's value, such as a timestamp).
template <class R>
constexpr bool lists_every_member(std::size_t unlisted = 0) {
  return detail::member_count<R>() == kFieldCount<R> + unlisted;
}

// The kind names of a variant's records, in variant order: each record
// struct names its kind as `static constexpr std::string_view kKind`.
template <class V>
inline constexpr auto kKindNames = []<class... T>(std::type_identity<std::variant<T...>>) {
  return std::array<std::string_view, sizeof...(T)>{T::kKind...};
}(std::type_identity<V>{});

}  // namespace zellik
