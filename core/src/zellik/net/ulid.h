#pragma once

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
  friend auto operator<=>(const Ulid&, const Ulid&) = default;
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

}  // namespace zellik
