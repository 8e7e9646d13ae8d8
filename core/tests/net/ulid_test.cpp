#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <unordered_set>

#include "zellik/net/ulid.h"

namespace zellik {
namespace {

UlidParseError parse_error(std::string_view text) {
  const auto parsed = parse_ulid(text);
  EXPECT_FALSE(parsed.ok()) << text;
  return parsed.ok() ? UlidParseError::InvalidLength : parsed.error();
}

TEST(Ulid, TextMatchesTheStandardLayout) {
  const auto parsed = parse_ulid("01ARZ3NDEKTSV4RRFFQ69G5FAV");
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ(parsed.value().timestamp_ms(), 1469922850259u);
  EXPECT_EQ(parsed.value().hi, 0x1563e3ab5d3d676ULL);
  EXPECT_EQ(parsed.value().lo, 0x4c61efb99302bd5bULL);
  EXPECT_EQ(parsed.value().to_string(), "01ARZ3NDEKTSV4RRFFQ69G5FAV");

  EXPECT_EQ(Ulid{}.to_string(), "00000000000000000000000000");
  EXPECT_EQ((Ulid{~0ULL, ~0ULL}).to_string(), "7ZZZZZZZZZZZZZZZZZZZZZZZZZ");
}

TEST(Ulid, FromPartsPlacesTimeAndRandomBits) {
  const Ulid id = Ulid::FromParts(1469922850259u, 0x1234, 0xfedcba9876543210ULL);
  EXPECT_EQ(id.timestamp_ms(), 1469922850259u);
  EXPECT_EQ(id.hi & 0xFFFF, 0x1234u);
  EXPECT_EQ(id.lo, 0xfedcba9876543210ULL);
  // Bits beyond 48 of time and 16 of the high random part are dropped.
  const Ulid clipped = Ulid::FromParts(~0ULL, 0x1FFFF, 0);
  EXPECT_EQ(clipped.timestamp_ms(), (1ULL << 48) - 1);
  EXPECT_EQ(clipped.hi & 0xFFFF, 0xFFFFu);
}

TEST(Ulid, TextRoundTripsForManyValues) {
  for (int i = 0; i < 1000; ++i) {
    const Ulid id = Ulid::Generate();
    const std::string text = id.to_string();
    ASSERT_EQ(text.size(), 26u);
    const auto back = parse_ulid(text);
    ASSERT_TRUE(back.ok()) << text;
    EXPECT_EQ(back.value(), id) << text;
  }
}

TEST(Ulid, ParseAcceptsLowerCase) {
  const auto lower = parse_ulid("01arz3ndektsv4rrffq69g5fav");
  ASSERT_TRUE(lower.ok());
  EXPECT_EQ(lower.value().to_string(), "01ARZ3NDEKTSV4RRFFQ69G5FAV");
}

TEST(Ulid, ParseRejectsWrongLengthAndForeignCharacters) {
  EXPECT_EQ(parse_error(""), UlidParseError::InvalidLength);
  EXPECT_EQ(parse_error("01ARZ3NDEKTSV4RRFFQ69G5FA"), UlidParseError::InvalidLength);
  EXPECT_EQ(parse_error("01ARZ3NDEKTSV4RRFFQ69G5FAVV"), UlidParseError::InvalidLength);
  // Crockford leaves out I, L, O and U, in either case.
  for (char c : std::string("ILOUilou-_ \x80")) {
    std::string text = "01ARZ3NDEKTSV4RRFFQ69G5FAV";
    text[10] = c;
    EXPECT_EQ(parse_error(text), UlidParseError::InvalidCharacter) << text;
  }
  EXPECT_EQ(ulid_parse_error_reason(UlidParseError::InvalidLength), "invalid length");
  EXPECT_EQ(ulid_parse_error_reason(UlidParseError::InvalidCharacter), "invalid character");
  EXPECT_EQ(ulid_parse_error_reason(UlidParseError::ValueOutOfRange), "value out of range");
}

TEST(Ulid, FirstDigitAboveSevenIsOutOfRangeNotTruncated) {
  EXPECT_TRUE(parse_ulid("7ZZZZZZZZZZZZZZZZZZZZZZZZZ").ok());
  EXPECT_EQ(parse_error("80000000000000000000000000"), UlidParseError::ValueOutOfRange);
  EXPECT_EQ(parse_error("ZZZZZZZZZZZZZZZZZZZZZZZZZZ"), UlidParseError::ValueOutOfRange);
  EXPECT_EQ(parse_error("z0000000000000000000000000"), UlidParseError::ValueOutOfRange);
}

TEST(Ulid, GeneratedIdsCarryTheClockAndFreshRandomBits) {
  const Timestamp before = now_millis();
  std::unordered_set<Ulid, UlidHash> ids;
  std::unordered_set<std::uint64_t> high_random;
  for (int i = 0; i < 200; ++i) {
    const Ulid id = Ulid::Generate();
    ids.insert(id);
    high_random.insert(id.hi & 0xFFFF);
  }
  const Timestamp after = now_millis();
  EXPECT_EQ(ids.size(), 200u);
  // All 80 random bits vary, the top 16 included.
  EXPECT_GT(high_random.size(), 100u);
  const Ulid last = Ulid::Generate();
  EXPECT_GE(static_cast<Timestamp>(last.timestamp_ms()), before);
  EXPECT_LE(static_cast<Timestamp>(last.timestamp_ms()), after + 1000);
}

TEST(Ulid, NowMillisFollowsTheWallClock) {
  const auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
  const Timestamp now = now_millis();
  EXPECT_GE(now, wall);
  EXPECT_LT(now - wall, 1000);
}

}  // namespace
}  // namespace zellik
