// The seed a seeded net was made with, read back from its id generator:
// runs written out name it, so that a recording of one replays on a fresh
// net with the same ids and timestamps. The net keeps only the generator's
// state; its seeding (splitmix64) and each draw (xoshiro256**) are
// bijections, so the state is walked back draw by draw until it is the
// seeding of some seed.

#include <array>
#include <cstdint>
#include <optional>

#include "zellik/explore/explorer.h"

namespace zellik::explore {

namespace {

constexpr std::uint64_t kGolden = 0x9e3779b97f4a7c15ULL;
// Walks back at most this many ids: a second or so.
constexpr std::uint64_t kMostIdsBack = std::uint64_t{1} << 25;

std::uint64_t rotr(std::uint64_t x, int k) { return (x >> k) | (x << (64 - k)); }

// x from x ^ (x >> k).
std::uint64_t unshift_right(std::uint64_t y, int k) {
  std::uint64_t x = y;
  for (int bits = k; bits < 64; bits += k) x = y ^ (x >> k);
  return x;
}

// x from x ^ (x << k).
std::uint64_t unshift_left(std::uint64_t y, int k) {
  std::uint64_t x = y;
  for (int bits = k; bits < 64; bits += k) x = y ^ (x << k);
  return x;
}

// The inverse of an odd number modulo 2**64 (Newton's iteration).
constexpr std::uint64_t inverse(std::uint64_t m) {
  std::uint64_t x = m;
  for (int i = 0; i < 6; ++i) x *= 2 - m * x;
  return x;
}

// The splitmix64 state that drew `z`.
std::uint64_t unmix(std::uint64_t z) {
  z = unshift_right(z, 31) * inverse(0x94d049bb133111ebULL);
  z = unshift_right(z, 27) * inverse(0xbf58476d1ce4e5b9ULL);
  return unshift_right(z, 30);
}

// The generator's state one draw earlier.
void step_back(std::array<std::uint64_t, 4>& s) {
  const std::uint64_t s3_s1 = rotr(s[3], 45);
  const std::uint64_t s0 = s[0] ^ s3_s1;
  const std::uint64_t s1_s2 = s[1] ^ s0;
  const std::uint64_t s2_t = s[2] ^ s0;
  const std::uint64_t s1 = unshift_left(s1_s2 ^ s2_t, 17);
  s = {s0, s1, s1_s2 ^ s1, s3_s1 ^ s1};
}

}  // namespace

std::optional<std::uint64_t> seed_of(const IdSource::State& state) {
  if (!state.seeded || state.clock_ms < IdSource::kSeededStartMillis) return std::nullopt;
  // Each id draws twice and ticks the clock; each timestamp only ticks it.
  const std::uint64_t ticks = state.clock_ms - IdSource::kSeededStartMillis;
  std::array<std::uint64_t, 4> words = state.generator;
  for (std::uint64_t ids = 0; ids <= ticks && ids <= kMostIdsBack; ++ids) {
    const std::uint64_t seed = unmix(words[0]) - kGolden;
    if (IdSource::Seeded(seed).state().generator == words) return seed;
    step_back(words);
    step_back(words);
  }
  return std::nullopt;
}

}  // namespace zellik::explore
