#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "zellik/base/name.h"

namespace zellik {
namespace {

TEST(Name, EqualityIsByTextWhicheverWayTheNameWasMade) {
  const Name from_string(std::string("port"));
  const Name from_view(std::string_view("port"));
  const Name from_literal("port");
  EXPECT_EQ(from_string, from_view);
  EXPECT_EQ(from_view, from_literal);
  EXPECT_EQ(from_string.hash(), from_literal.hash());
  EXPECT_FALSE(from_string == Name("Port"));
  EXPECT_TRUE(from_string == std::string_view("port"));
  EXPECT_TRUE(from_string == "port");
  EXPECT_FALSE(from_string == "por");
}

TEST(Name, DefaultIsTheEmptyTextAndEqualsAMadeEmptyName) {
  const Name none;
  const Name made("");
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(none.str(), "");
  EXPECT_EQ(none, made);
  EXPECT_EQ(none.hash(), made.hash());
  EXPECT_EQ(none.hash(), NameHash{}(std::string_view()));
}

TEST(Name, KeepsEmbeddedZerosAndNonAsciiText) {
  const std::string text("a\0b\xc3\xa9", 5);
  const Name name(text);
  EXPECT_EQ(name.view().size(), 5u);
  EXPECT_EQ(name.str(), text);
  EXPECT_FALSE(name == Name("a"));
}

TEST(Name, CopiesOutliveTheOriginal) {
  Name copy;
  {
    const Name original(std::string(100, 'x'));
    copy = original;
  }
  EXPECT_EQ(copy.str(), std::string(100, 'x'));
}

TEST(Name, OrderIsByText) {
  EXPECT_TRUE(Name("a") < Name("b"));
  EXPECT_TRUE(Name("a") < Name("ab"));
  EXPECT_FALSE(Name("b") < Name("a"));
  EXPECT_FALSE(Name("a") < Name("a"));
}

// A NameSet is probed by Name and by text, and both find the same entry.
TEST(NameSet, HeterogeneousLookupAgreesWithNames) {
  NameSet set{Name("in"), Name("out")};
  EXPECT_TRUE(set.contains(std::string_view("in")));
  EXPECT_TRUE(set.contains(Name("out")));
  EXPECT_FALSE(set.contains(std::string_view("other")));
  EXPECT_FALSE(set.insert(Name(std::string("in"))).second);
  EXPECT_EQ(set.size(), 2u);
}

TEST(Name, CopiesMovesAndAssignmentsKeepTheText) {
  Name a("alpha");
  Name copy = a;
  Name moved = std::move(copy);
  EXPECT_EQ(moved, "alpha");
  EXPECT_TRUE(copy.empty());  // NOLINT(bugprone-use-after-move): a moved-from Name is empty
  EXPECT_EQ(copy.hash(), Name().hash());

  Name b("beta");
  b = a;  // drops the last sharer of "beta"
  EXPECT_EQ(b, "alpha");
  b = b;  // NOLINT(clang-diagnostic-self-assign-overloaded)
  EXPECT_EQ(b, "alpha");
  b = std::move(b);  // NOLINT(clang-diagnostic-self-move)
  EXPECT_EQ(b, "alpha");

  { Name scoped = a; }
  a = Name();
  // The last sharer keeps the record alive after the first one let it go.
  EXPECT_EQ(b, "alpha");
  EXPECT_EQ(b.hash(), Name("alpha").hash());
  EXPECT_TRUE(Name().empty());
  EXPECT_EQ(Name(), "");
}

TEST(Name, SharedAcrossThreads) {
  const Name shared(std::string(64, 'n'));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&shared] {
      for (int i = 0; i < 100'000; ++i) {
        Name copy = shared;
        Name other = copy;
        copy = Name();
        ASSERT_EQ(other.view().size(), 64u);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(shared.str(), std::string(64, 'n'));
}

TEST(HashCombine, DependsOnOrderAndOnEveryInput) {
  EXPECT_NE(hash_combine(hash_combine(0, 1), 2), hash_combine(hash_combine(0, 2), 1));
  EXPECT_NE(hash_combine(0, 1), hash_combine(0, 2));
  EXPECT_NE(hash_combine(1, 0), hash_combine(2, 0));
}

}  // namespace
}  // namespace zellik
