#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "zellik/net/packet_queue.h"

namespace zellik {
namespace {

using Ids = std::vector<Ulid>;

Ulid id(std::uint64_t n) { return Ulid{0, n}; }

PacketQueue queue_of(std::initializer_list<std::uint64_t> ns) {
  PacketQueue q;
  for (std::uint64_t n : ns) q.push_back(id(n));
  return q;
}

TEST(PacketQueue, KeepsArrivalOrderThroughRemovalsAnywhere) {
  PacketQueue q = queue_of({1, 2, 3, 4, 5});
  EXPECT_TRUE(q.remove(id(3)));  // middle
  EXPECT_TRUE(q.remove(id(1)));  // head
  EXPECT_TRUE(q.remove(id(5)));  // tail
  EXPECT_FALSE(q.remove(id(5)));
  EXPECT_FALSE(q.remove(id(9)));
  EXPECT_EQ(q.to_vector(), (Ids{id(2), id(4)}));
  EXPECT_EQ(q.front(), id(2));
  EXPECT_EQ(q.size(), 2u);
  q.push_back(id(6));
  EXPECT_EQ(q.to_vector(), (Ids{id(2), id(4), id(6)}));
  EXPECT_EQ(Ids(q.begin(), q.end()), q.to_vector());
}

TEST(PacketQueue, IndexOfCountsFromTheCurrentHead) {
  PacketQueue q = queue_of({1, 2, 3});
  ASSERT_TRUE(q.remove(id(1)));
  EXPECT_EQ(q.index_of(id(2)), 0u);
  EXPECT_EQ(q.index_of(id(3)), 1u);
  EXPECT_EQ(q.index_of(id(1)), std::nullopt);
  EXPECT_EQ(q.at(1), id(3));
}

TEST(PacketQueue, InsertAtPutsThePacketAtThatPosition) {
  PacketQueue q = queue_of({1, 2, 3});
  ASSERT_TRUE(q.remove(id(1)));
  q.insert_at(0, id(1));  // back where it was, reusing the departed slot
  EXPECT_EQ(q.to_vector(), (Ids{id(1), id(2), id(3)}));
  q.insert_at(2, id(7));
  q.insert_at(4, id(8));
  EXPECT_EQ(q.to_vector(), (Ids{id(1), id(2), id(7), id(3), id(8)}));
  PacketQueue empty;
  empty.insert_at(0, id(4));
  EXPECT_EQ(empty.to_vector(), Ids{id(4)});
}

TEST(PacketQueue, EmptiesAndRefillsCleanly) {
  PacketQueue q = queue_of({1, 2});
  ASSERT_TRUE(q.remove(id(1)));
  ASSERT_TRUE(q.remove(id(2)));
  EXPECT_TRUE(q.empty());
  EXPECT_TRUE(q.to_vector().empty());
  q.push_back(id(3));
  EXPECT_EQ(q.front(), id(3));
  EXPECT_EQ(q.index_of(id(3)), 0u);
}

TEST(PacketQueue, DrainingAHundredThousandFromTheHeadIsLinear) {
  constexpr std::uint64_t kCount = 100000;
  PacketQueue q;
  for (std::uint64_t n = 0; n < kCount; ++n) q.push_back(id(n));
  const auto start = std::chrono::steady_clock::now();
  for (std::uint64_t n = 0; n < kCount; ++n) {
    ASSERT_EQ(q.front(), id(n));
    ASSERT_EQ(q.index_of(id(n)), 0u);
    ASSERT_TRUE(q.remove(id(n)));
    if (n % 10000 == 0) {
      // Arrivals during the drain keep their place behind the rest.
      q.push_back(id(kCount + n));
      ASSERT_EQ(q.at(q.size() - 1), id(kCount + n));
    }
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(q.size(), 10u);
  EXPECT_EQ(q.front(), id(kCount));
  // A quadratic drain shifts ~80 GB here and takes many seconds.
  EXPECT_LT(elapsed, std::chrono::seconds(3));
}

}  // namespace
}  // namespace zellik
