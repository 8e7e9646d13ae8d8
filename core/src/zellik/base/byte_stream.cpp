#include "zellik/base/byte_stream.h"

namespace zellik {

void ByteWriter::patch_u64(std::size_t pos, std::uint64_t v) {
  for (std::size_t i = 0; i < 8; ++i) out_[pos + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

namespace {

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr std::uint64_t kPrime3 = 0x165667B19E3779F9ULL;

std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

std::uint64_t load_le64(const unsigned char* p) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
  return v;
}

std::uint64_t round(std::uint64_t acc, std::uint64_t word) {
  acc += word * kPrime2;
  acc = rotl(acc, 31);
  return acc * kPrime1;
}

std::uint64_t avalanche(std::uint64_t h) {
  h ^= h >> 33;
  h *= kPrime2;
  h ^= h >> 29;
  h *= kPrime3;
  h ^= h >> 32;
  return h;
}

}  // namespace

// Four independent lanes over 32-byte blocks keep the multiplies pipelined;
// the tail and the length are folded in byte by byte at the end.
std::uint64_t checksum64(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::uint64_t lane[4] = {kPrime1 + kPrime2, kPrime2, 0, 0 - kPrime1};
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    for (int k = 0; k < 4; ++k) lane[k] = round(lane[k], load_le64(p + i + 8 * k));
  }
  std::uint64_t h = rotl(lane[0], 1) + rotl(lane[1], 7) + rotl(lane[2], 12) + rotl(lane[3], 18);
  h += static_cast<std::uint64_t>(n) * kPrime3;
  for (; i + 8 <= n; i += 8) h = rotl(h ^ round(0, load_le64(p + i)), 27) * kPrime1 + kPrime3;
  for (; i < n; ++i) h = rotl(h ^ (static_cast<std::uint64_t>(p[i]) * kPrime3), 11) * kPrime1;
  return avalanche(h);
}

}  // namespace zellik
