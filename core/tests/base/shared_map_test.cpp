#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "zellik/base/name.h"
#include "zellik/base/shared_map.h"

namespace zellik {
namespace {

using Map = SharedMap<Name, int, NameHash, NameEq>;

TEST(SharedMap, EmptyMapFindsNothing) {
  const Map map;
  EXPECT_TRUE(map.empty());
  EXPECT_EQ(map.begin(), map.end());
  EXPECT_EQ(map.find(Name("x")), map.end());
  EXPECT_FALSE(map.contains(std::string_view("x")));
}

TEST(SharedMap, LooksUpByNameOrText) {
  Map map;
  map.insert_or_assign(Name("a"), 1);
  EXPECT_TRUE(map.emplace(Name("b"), 2).second);
  EXPECT_FALSE(map.emplace(Name("b"), 3).second);
  map.insert_or_assign(Name("a"), 10);
  EXPECT_EQ(map.size(), 2u);
  EXPECT_EQ(map.find(std::string_view("a"))->second, 10);
  EXPECT_EQ(map.find(Name("b"))->second, 2);
  EXPECT_TRUE(map.contains(Name("a")));
  EXPECT_FALSE(map.contains(std::string_view("c")));
}

// A change through a copy that shares its table must not reach the other
// copies, whichever of them changes and however many there are.
TEST(SharedMap, ChangesThroughACopyStayInThatCopy) {
  Map original;
  original.insert_or_assign(Name("a"), 1);
  Map first = original;
  Map second = first;
  first.insert_or_assign(Name("a"), 2);
  second.emplace(Name("b"), 3);
  EXPECT_EQ(original.find(Name("a"))->second, 1);
  EXPECT_FALSE(original.contains(Name("b")));
  EXPECT_EQ(first.find(Name("a"))->second, 2);
  EXPECT_FALSE(first.contains(Name("b")));
  EXPECT_EQ(second.find(Name("a"))->second, 1);
  EXPECT_EQ(second.find(Name("b"))->second, 3);

  original.clear();
  EXPECT_TRUE(original.empty());
  EXPECT_EQ(first.size(), 1u);
}

}  // namespace
}  // namespace zellik
