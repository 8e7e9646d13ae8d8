#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zellik/base/ordered_map.h"

namespace zellik {
namespace {

// "k{i}". (Built by appending: key(i) trips a false
// -Wrestrict in GCC 12.)
std::string key(int i) {
  std::string text = "k";
  text += std::to_string(i);
  return text;
}

std::vector<std::string> keys(const InsertionOrderedMap<int>& map) {
  std::vector<std::string> out;
  for (const auto& [name, value] : map) out.push_back(name.str());
  return out;
}

TEST(InsertionOrderedMap, EmptyMapFindsNothing) {
  const InsertionOrderedMap<int> map;
  EXPECT_TRUE(map.empty());
  EXPECT_EQ(map.size(), 0u);
  EXPECT_EQ(map.begin(), map.end());
  EXPECT_EQ(map.find("x"), nullptr);
}

TEST(InsertionOrderedMap, IteratesInInsertionOrderAndReplacesInPlace) {
  InsertionOrderedMap<int> map;
  map.insert("c", 1);
  map.insert("a", 2);
  map.insert("b", 3);
  map.insert("a", 20);  // keeps its place
  EXPECT_EQ(keys(map), (std::vector<std::string>{"c", "a", "b"}));
  EXPECT_EQ(map.size(), 3u);
  ASSERT_NE(map.find("a"), nullptr);
  EXPECT_EQ(*map.find("a"), 20);
  EXPECT_EQ(*map.find("c"), 1);
  EXPECT_EQ(map.find("d"), nullptr);
}

// Small maps are scanned and large ones indexed; lookups and replacement
// must agree on both sides of that limit, including the entries that were
// there before the index was built.
TEST(InsertionOrderedMap, LookupsHoldAcrossTheIndexThreshold) {
  for (int size : {1, 7, 8, 9, 10, 100}) {
    InsertionOrderedMap<int> map;
    for (int i = 0; i < size; ++i) map.insert(Name(key(i)), i);
    for (int i = 0; i < size; ++i) {
      const int* found = map.find(key(i));
      ASSERT_NE(found, nullptr) << "size " << size << ", key " << i;
      EXPECT_EQ(*found, i);
    }
    EXPECT_EQ(map.find(key(size)), nullptr);
    map.insert("k0", -1);
    EXPECT_EQ(map.size(), static_cast<std::size_t>(size));
    EXPECT_EQ(*map.find("k0"), -1);
    EXPECT_EQ(map.begin()->first.str(), "k0");
    EXPECT_EQ((map.end() - 1)->first.str(), key(size - 1));
  }
}

// Copies share one table; a change through either leaves the other as it was.
TEST(InsertionOrderedMap, CopiesAreIndependentValues) {
  InsertionOrderedMap<int> original;
  for (int i = 0; i < 12; ++i) original.insert(Name(key(i)), i);
  InsertionOrderedMap<int> copy = original;
  copy.insert("k3", 300);
  copy.insert("new", 1);
  EXPECT_EQ(*original.find("k3"), 3);
  EXPECT_EQ(original.find("new"), nullptr);
  EXPECT_EQ(original.size(), 12u);
  EXPECT_EQ(*copy.find("k3"), 300);
  EXPECT_EQ(copy.size(), 13u);

  original.insert("k0", -5);
  EXPECT_EQ(*copy.find("k0"), 0);

  InsertionOrderedMap<int> moved = std::move(copy);
  EXPECT_EQ(moved.size(), 13u);
  EXPECT_EQ(*moved.find("new"), 1);
}

}  // namespace
}  // namespace zellik
