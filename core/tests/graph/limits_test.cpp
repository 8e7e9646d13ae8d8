#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "zellik/graph/limits.h"

namespace zellik {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

// Limits and counts around the edges: none, one, a few, the largest.
const std::vector<std::uint64_t> kValues = {0, 1, 2, 3, 7, kMax - 1, kMax};

// Every limit, whatever its vocabulary, is "at most n" or "no limit": a
// count is admitted below n, a salvo takes min(n, available), n reads back,
// and values are equal exactly when they are the same limit (Finite(0) is
// not Infinite, although both read 0).
TEST(Limits, EachVocabularyIsAtMostNOrNoLimit) {
  for (const std::uint64_t n : kValues) {
    const PortSlotSpec slots = PortSlotSpec::Finite(n);
    const MaxSalvos salvos = MaxSalvos::Finite(n);
    const PacketCount take = PacketCount::Count(n);
    EXPECT_FALSE(slots.is_infinite() || salvos.is_infinite() || take.is_all());
    EXPECT_EQ(slots.capacity(), n);
    EXPECT_EQ(salvos.limit(), n);
    EXPECT_EQ(take.count(), n);
    for (const std::uint64_t count : kValues) {
      EXPECT_EQ(slots.has_room(count), count < n) << n << " " << count;
      EXPECT_EQ(salvos.permits(count), count < n) << n << " " << count;
      EXPECT_EQ(take.take_from(count), std::min(n, count)) << n << " " << count;
      EXPECT_TRUE(PortSlotSpec::Infinite().has_room(count));
      EXPECT_TRUE(MaxSalvos::Infinite().permits(count));
      EXPECT_EQ(PacketCount::All().take_from(count), count);
    }
    for (const std::uint64_t m : kValues) {
      EXPECT_EQ(PortSlotSpec::Finite(m) == slots, m == n);
      EXPECT_EQ(MaxSalvos::Finite(m) == salvos, m == n);
      EXPECT_EQ(PacketCount::Count(m) == take, m == n);
    }
    EXPECT_NE(slots, PortSlotSpec::Infinite());
    EXPECT_NE(salvos, MaxSalvos::Infinite());
    EXPECT_NE(take, PacketCount::All());
  }
  EXPECT_TRUE(PortSlotSpec::Infinite().is_infinite() && MaxSalvos::Infinite().is_infinite() &&
              PacketCount::All().is_all());
  EXPECT_EQ(PortSlotSpec::Infinite().capacity() + MaxSalvos::Infinite().limit() +
                PacketCount::All().count(),
            0U);
}

}  // namespace
}  // namespace zellik
