#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "zellik/base/heap_value.h"

namespace zellik {
namespace {

TEST(HeapValue, CopiesAreIndependentValuesAndMovesHandTheValueOver) {
  HeapValue<std::vector<std::string>> a(std::vector<std::string>{"x", "y"});
  HeapValue<std::vector<std::string>> b = a;
  b->push_back("z");
  EXPECT_EQ(a->size(), 2u);
  EXPECT_EQ(b->size(), 3u);
  EXPECT_FALSE(a == b);

  const std::string* inside = &(*b)[0];
  HeapValue<std::vector<std::string>> c = std::move(b);
  EXPECT_EQ(&(*c)[0], inside);  // the same allocation, not a copy

  b = a;  // a moved-from value takes a new one
  EXPECT_TRUE(a == b);
  a = a;  // NOLINT: self-assignment keeps the value
  EXPECT_EQ(a->size(), 2u);

  const std::vector<std::string>& seen = c;
  EXPECT_EQ(seen.back(), "z");
  EXPECT_TRUE(HeapValue<std::vector<std::string>>()->empty());
}

}  // namespace
}  // namespace zellik
