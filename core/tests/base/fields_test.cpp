#include "zellik/base/fields.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "zellik/net/net_action.h"
#include "zellik/net/net_action_response.h"
#include "zellik/net/net_event.h"

namespace zellik {
namespace {

struct Listed {
  static constexpr std::string_view kKind = "Listed";
  int a;
  std::string b;
};
constexpr auto fields_of(std::type_identity<Listed>) {
  return std::tuple{field("a", &Listed::a), field("b", &Listed::b)};
}

// A member the list forgets, and a member that cannot be value-initialized
// (which must not hide the count).
struct NoDefault {
  explicit NoDefault(int) {}
};
struct Forgetful {
  int a;
  NoDefault b;
  int c;
};
constexpr auto fields_of(std::type_identity<Forgetful>) {
  return std::tuple{field("a", &Forgetful::a), field("b", &Forgetful::b)};
}

// The check every record's header makes, against structs built to pass and
// to fail it.
static_assert(lists_every_member<Listed>());
static_assert(!lists_every_member<Forgetful>());
static_assert(lists_every_member<Forgetful>(1));
static_assert(HasFields<Listed> && !HasFields<NoDefault>);
static_assert(field_index<Listed>("b") == 1 && field_index<Listed>("c") == -1);
static_assert(kKindNames<std::variant<Listed>>[0] == "Listed");

TEST(Fields, WalksEveryListedFieldInOrderAndWritesThroughNonConstRecords) {
  Listed r{1, "x"};
  std::vector<std::string> seen;
  for_each_field(r, [&](const char* name, auto& value) {
    seen.emplace_back(name);
    if constexpr (std::is_same_v<std::decay_t<decltype(value)>, int>) value = 7;
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(r.a, 7);
}

// Kind names come in variant order, one per alternative, none repeated.
template <class V>
void expect_distinct_kind_names() {
  const auto& names = kKindNames<V>;
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_FALSE(names[i].empty());
    for (std::size_t j = i + 1; j < names.size(); ++j) EXPECT_NE(names[i], names[j]);
  }
}

TEST(Fields, EveryRecordVariantNamesItsKindsOnce) {
  expect_distinct_kind_names<NetEvent>();
  expect_distinct_kind_names<NetAction>();
  expect_distinct_kind_names<NetActionResponseData>();
  EXPECT_EQ(kKindNames<NetAction>[std::variant_size_v<NetAction> - 1], "CreateRequest");
  EXPECT_EQ(kKindNames<NetEvent>[0], "PacketCreated");
}

}  // namespace
}  // namespace zellik
