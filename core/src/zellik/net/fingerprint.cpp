// The 128-bit digest of a sequence of words.

#include "zellik/net/fingerprint.h"

#include <bit>

namespace zellik {

namespace {

// GCC and Clang both have it; __extension__ keeps -Wpedantic quiet.
__extension__ typedef unsigned __int128 Wide;  // NOLINT(modernize-use-using)

constexpr std::uint64_t kLaneA = 0x9E3779B97F4A7C15ULL;
constexpr std::uint64_t kLaneB = 0xC2B2AE3D27D4EB4FULL;

// The finaliser of a well-mixed 64-bit hash: every input bit reaches every
// output bit.
constexpr std::uint64_t avalanche(std::uint64_t x) {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ULL;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBULL;
  x ^= x >> 31;
  return x;
}

}  // namespace

Fingerprint fingerprint_of(std::span<const std::uint64_t> words) {
  // Two lanes folded by a full 64x64->128 multiply per pair of words. The
  // words also enter each lane directly, so a product that loses bits (a
  // factor of 0) loses no word; the finaliser spreads the last ones.
  std::uint64_t a = kLaneA ^ words.size();
  std::uint64_t b = kLaneB;
  auto fold = [&a, &b](std::uint64_t w0, std::uint64_t w1) {
    const Wide m = static_cast<Wide>(a ^ w0) * (b ^ w1 ^ kLaneA);
    const std::uint64_t old_a = a;
    a = static_cast<std::uint64_t>(m) ^ std::rotl(w1, 29) ^ std::rotl(b, 7);
    b = static_cast<std::uint64_t>(m >> 64) + w0 + std::rotl(old_a, 41);
  };
  std::size_t i = 0;
  for (; i + 1 < words.size(); i += 2) fold(words[i], words[i + 1]);
  if (i < words.size()) fold(words[i], kLaneB);
  return Fingerprint{avalanche(b + avalanche(a)), avalanche(a ^ kLaneB)};
}

}  // namespace zellik
