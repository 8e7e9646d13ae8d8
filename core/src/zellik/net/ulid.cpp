#include "zellik/net/ulid.h"

#include <array>
#include <chrono>
#include <random>

#include "zellik/base/kind_table.h"

namespace zellik {

namespace {

constexpr char kCrockford[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
constexpr std::size_t kTextLength = 26;
constexpr std::uint64_t kMillisMask = (std::uint64_t{1} << 48) - 1;
constexpr std::int8_t kInvalidDigit = -1;

// Digit value of each byte; lower case reads as upper case, I L O U and
// everything outside the alphabet are invalid.
constexpr std::array<std::int8_t, 256> MakeDecodeTable() {
  std::array<std::int8_t, 256> table{};
  for (auto& v : table) v = kInvalidDigit;
  for (int i = 0; i < 32; ++i) {
    const auto c = static_cast<unsigned char>(kCrockford[i]);
    table[c] = static_cast<std::int8_t>(i);
    if (c >= 'A' && c <= 'Z') table[c - 'A' + 'a'] = static_cast<std::int8_t>(i);
  }
  return table;
}
constexpr std::array<std::int8_t, 256> kDecode = MakeDecodeTable();

// The reason parse_ulid gives for each failure.
constexpr KindName<UlidParseError> kParseErrorReasons[] = {
    {UlidParseError::InvalidLength, "invalid length"},
    {UlidParseError::InvalidCharacter, "invalid character"},
    {UlidParseError::ValueOutOfRange, "value out of range"},
};
static_assert(rows_follow_kinds(kParseErrorReasons, UlidParseError::ValueOutOfRange));

std::uint64_t splitmix64(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

using XoshiroWords = std::array<std::uint64_t, 4>;

bool all_zero(const XoshiroWords& s) { return s[0] == 0 && s[1] == 0 && s[2] == 0 && s[3] == 0; }

// One step of xoshiro256**: fast, 256 bits of state.
std::uint64_t xoshiro_next(XoshiroWords& s) {
  const std::uint64_t result = rotl(s[1] * 5, 7) * 9;
  const std::uint64_t t = s[1] << 17;
  s[2] ^= s[0];
  s[3] ^= s[1];
  s[1] ^= s[2];
  s[0] ^= s[3];
  s[2] ^= t;
  s[3] = rotl(s[3], 45);
  return result;
}

// The four words drawn from one 64-bit seed by splitmix64, the seeding the
// generator's authors recommend; the all-zero state is the one bad state.
XoshiroWords seed_words(std::uint64_t seed) {
  XoshiroWords s{};
  for (std::uint64_t& word : s) word = splitmix64(seed);
  if (all_zero(s)) s[0] = 1;
  return s;
}

// The per-thread generator of unseeded ids, seeded once per thread from the
// operating system's random source.
class Xoshiro256 {
 public:
  Xoshiro256() {
    std::random_device device;
    for (std::uint64_t& word : s_) {
      std::uint64_t seed = (static_cast<std::uint64_t>(device()) << 32) ^ device();
      word = splitmix64(seed);
    }
    if (all_zero(s_)) s_[0] = 1;
  }

  std::uint64_t next() { return xoshiro_next(s_); }

 private:
  XoshiroWords s_{};
};

Xoshiro256& thread_generator() {
  thread_local Xoshiro256 generator;
  return generator;
}

}  // namespace

Ulid Ulid::Generate() {
  const auto millis = static_cast<std::uint64_t>(now_millis());
  Xoshiro256& rng = thread_generator();
  const std::uint64_t a = rng.next();
  const std::uint64_t b = rng.next();
  return FromParts(millis, a >> 48, b);
}

Ulid Ulid::FromParts(std::uint64_t millis, std::uint64_t rand_hi16, std::uint64_t rand_lo64) {
  Ulid id;
  id.hi = ((millis & kMillisMask) << 16) | (rand_hi16 & 0xFFFFULL);
  id.lo = rand_lo64;
  return id;
}

std::string Ulid::to_string() const {
  // 26 digits of 5 bits cover 130 bits; the first digit carries only the top 3.
  std::string out(kTextLength, '0');
  std::uint64_t h = hi;
  std::uint64_t l = lo;
  for (std::size_t i = kTextLength; i-- > 0;) {
    out[i] = kCrockford[l & 0x1F];
    l = (l >> 5) | (h << 59);
    h >>= 5;
  }
  return out;
}

std::string_view ulid_parse_error_reason(UlidParseError error) {
  return row_of(kParseErrorReasons, error).name;
}

Result<Ulid, UlidParseError> parse_ulid(std::string_view text) {
  if (text.size() != kTextLength) return UlidParseError::InvalidLength;
  Ulid id;
  for (char ch : text) {
    const std::int8_t digit = kDecode[static_cast<unsigned char>(ch)];
    if (digit == kInvalidDigit) return UlidParseError::InvalidCharacter;
    id.hi = (id.hi << 5) | (id.lo >> 59);
    id.lo = (id.lo << 5) | static_cast<std::uint64_t>(digit);
  }
  // The first digit holds the top 3 of 130 bits; anything above 7 would
  // overflow 128 bits and must not be silently truncated.
  if (kDecode[static_cast<unsigned char>(text[0])] > 7) return UlidParseError::ValueOutOfRange;
  return id;
}

Timestamp now_millis() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const auto secs = std::chrono::duration_cast<std::chrono::seconds>(since_epoch);
  const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch - secs);
  return static_cast<Timestamp>(secs.count()) * 1000 +
         static_cast<Timestamp>(nanos.count() / 1000000);
}

IdSource IdSource::Seeded(std::uint64_t seed) {
  IdSource source;
  source.state_.seeded = true;
  source.state_.clock_ms = static_cast<std::uint64_t>(kSeededStartMillis);
  source.state_.generator = seed_words(seed);
  return source;
}

Ulid IdSource::next_id() {
  if (!state_.seeded) return Ulid::Generate();
  const std::uint64_t millis = state_.clock_ms++;
  const std::uint64_t a = xoshiro_next(state_.generator);
  const std::uint64_t b = xoshiro_next(state_.generator);
  return Ulid::FromParts(millis, a >> 48, b);
}

Timestamp IdSource::next_timestamp() {
  if (!state_.seeded) return now_millis();
  return static_cast<Timestamp>(state_.clock_ms++);
}

bool IdSource::restore(const State& state) {
  if (state.seeded && all_zero(state.generator)) return false;
  state_ = state;
  return true;
}

}  // namespace zellik
