#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "zellik/explore/explorer.h"

namespace zellik::explore {
namespace {

// Any seed, after any mix of ids and timestamps, reads back; a state no
// seed leads to does not.
TEST(SeedOf, ReadsBackTheSeedAfterAnyIdsAndTimestamps) {
  std::mt19937_64 rng(7);
  for (const std::uint64_t seed : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{42},
                                   ~std::uint64_t{0}, rng(), rng(), rng()}) {
    IdSource ids = IdSource::Seeded(seed);
    for (int made = 0; made < 300; ++made) {
      if (made % 37 == 0) {
        ASSERT_EQ(seed_of(ids.state()), seed) << seed << " after " << made;
      }
      if (rng() % 3 == 0) {
        ids.next_timestamp();
      } else {
        ids.next_id();
      }
    }
    EXPECT_EQ(seed_of(ids.state()), seed);
    IdSource::State forged = ids.state();
    forged.generator[2] ^= 1;
    EXPECT_EQ(seed_of(forged), std::nullopt);
  }
  IdSource unseeded;
  unseeded.next_id();
  EXPECT_EQ(seed_of(unseeded.state()), std::nullopt);
}

}  // namespace
}  // namespace zellik::explore
