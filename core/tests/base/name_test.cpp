#include "zellik/base/name.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace zellik {
namespace {

TEST(NameTest, CopiesMovesAndAssignmentsKeepTheText) {
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

  {
    Name scoped = a;
  }
  a = Name();
  // The last sharer keeps the record alive after the first one let it go.
  EXPECT_EQ(b, "alpha");
  EXPECT_EQ(b.hash(), Name("alpha").hash());
  EXPECT_TRUE(Name().empty());
  EXPECT_EQ(Name(), "");
}

TEST(NameTest, SharedAcrossThreads) {
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

}  // namespace
}  // namespace zellik
