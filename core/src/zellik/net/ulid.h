#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

#include "zellik/base/result.h"

namespace zellik {

// A 128-bit identifier of a packet or an epoch: the upper 48 bits a Unix time
// in milliseconds, the lower 80 random. Held as two integers, never as text,
// inside the engine. Intentionally copyable.
struct Ulid {
  std::uint64_t hi = 0;  // bits 127..64
  std::uint64_t lo = 0;  // bits 63..0

  // A fresh id: the wall clock's milliseconds and 80 bits from a per-thread
  // generator seeded once from the operating system's random source.
  static Ulid Generate();
  static Ulid FromParts(std::uint64_t millis, std::uint64_t rand_hi16, std::uint64_t rand_lo64);

  // The millisecond time in the top 48 bits.
  std::uint64_t timestamp_ms() const { return hi >> 16; }
  // The 26-character Crockford base-32 text, upper case.
  std::string to_string() const;

  friend bool operator==(const Ulid&, const Ulid&) = default;
  friend auto operator<=>(const Ulid&, const Ulid&) = default;  // NOLINT(modernize-use-nullptr)
};

struct UlidHash {
  std::size_t operator()(const Ulid& id) const {
    // The low 64 bits are random already; fold in the rest cheaply.
    return static_cast<std::size_t>(id.lo ^ (id.hi * 0x9e3779b97f4a7c15ULL));
  }
};

// Why a text is not an identifier.
enum class UlidParseError : std::uint8_t { InvalidLength, InvalidCharacter, ValueOutOfRange };

// "invalid length", "invalid character" or "value out of range".
std::string_view ulid_parse_error_reason(UlidParseError error);

// Parses the 26-character text form: exactly 26 bytes, Crockford digits with
// lower case read as upper case and I, L, O, U rejected; a value above 128
// bits (first digit above '7') is out of range.
Result<Ulid, UlidParseError> parse_ulid(std::string_view text);

// Milliseconds since the Unix epoch, read from the UTC wall clock.
using Timestamp = std::int64_t;
Timestamp now_millis();

// Where one net's ids and event timestamps come from. Unseeded, it is what
// every net had before seeds existed: the wall clock and the per-thread
// generator behind Ulid::Generate. Seeded, ids come from a generator seeded
// with the given number and time from a logical clock that starts at
// kSeededStartMillis and advances one millisecond per id or timestamp, so the
// same calls give the same ids and timestamps, and ids are strictly ordered
// by creation. Intentionally copyable: the whole state is the plain integers
// of State, which state() reads and restore() puts back.
class IdSource {
 public:
  // 2026-01-01T00:00:00Z, the first instant of every seeded clock.
  static constexpr Timestamp kSeededStartMillis = 1767225600000;

  struct State {
    bool seeded = false;
    std::uint64_t clock_ms = 0;                // the next id's or timestamp's time
    std::array<std::uint64_t, 4> generator{};  // xoshiro256** words; never all zero
    friend bool operator==(const State&, const State&) = default;
  };

  IdSource() = default;
  static IdSource Seeded(std::uint64_t seed);

  bool seeded() const { return state_.seeded; }
  // A fresh id: from the seeded generator at the logical clock's time
  // (advancing it), or Ulid::Generate when unseeded.
  Ulid next_id();
  // The time of the next event: the logical clock's (advancing it), or the
  // wall clock when unseeded.
  Timestamp next_timestamp();

  State state() const { return state_; }
  // Continues from `state`; false (and no change) for a seeded state whose
  // generator words are all zero, which a generator never reaches.
  bool restore(const State& state);

 private:
  State state_;
};

}  // namespace zellik
