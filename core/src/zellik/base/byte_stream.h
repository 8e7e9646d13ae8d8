#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace zellik {

// Appends fixed-width little-endian integers and length-prefixed text to a
// byte string. Intentionally copyable.
class ByteWriter {
 public:
  void reserve(std::size_t n) { out_.reserve(n); }

  void u8(std::uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void u32(std::uint32_t v) { put_le(v); }
  void u64(std::uint64_t v) { put_le(v); }
  void i64(std::int64_t v) { put_le(static_cast<std::uint64_t>(v)); }
  // A u32 length followed by the bytes.
  void text(std::string_view s) {
    u32(static_cast<std::uint32_t>(s.size()));
    out_.append(s.data(), s.size());
  }
  void raw(const void* data, std::size_t n) { out_.append(static_cast<const char*>(data), n); }

  std::size_t size() const { return out_.size(); }
  // Overwrites 8 bytes at `pos` (a field written earlier as u64).
  void patch_u64(std::size_t pos, std::uint64_t v);

  std::string& bytes() { return out_; }

 private:
  template <class T>
  void put_le(T v) {
    char buf[sizeof(T)];
    for (std::size_t i = 0; i < sizeof(T); ++i) buf[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    out_.append(buf, sizeof(T));
  }

  std::string out_;
};

// Reads what ByteWriter wrote, never past the end. A read that does not fit
// marks the reader failed and yields zero / empty values; once failed, every
// later read does the same, so a decoder may check ok() once per record
// instead of after every field. Does not own the bytes.
class ByteReader {
 public:
  explicit ByteReader(std::string_view bytes)
      : p_(bytes.data()), end_(bytes.data() + bytes.size()) {}

  bool ok() const { return ok_; }
  std::size_t remaining() const { return static_cast<std::size_t>(end_ - p_); }
  // Marks the reader failed (a decoder found a value out of range).
  void fail() {
    ok_ = false;
    p_ = end_;
  }

  std::uint8_t u8() { return get_le<std::uint8_t>(); }
  std::uint32_t u32() { return get_le<std::uint32_t>(); }
  std::uint64_t u64() { return get_le<std::uint64_t>(); }
  std::int64_t i64() { return static_cast<std::int64_t>(get_le<std::uint64_t>()); }
  // Text written by ByteWriter::text; a view into the bytes.
  std::string_view text() {
    const std::uint32_t n = u32();
    if (!take(n)) return {};
    std::string_view s(p_ - n, n);
    return s;
  }
  // A count of items that take at least `min_item_bytes` each: a count the
  // remaining bytes cannot hold fails here, before anyone reserves for it.
  std::uint64_t count(std::size_t min_item_bytes) {
    const std::uint64_t n = u64();
    if (min_item_bytes != 0 && n > remaining() / min_item_bytes) fail();
    return ok_ ? n : 0;
  }
  // The next `n` bytes, or null (and failed) when fewer remain.
  const char* raw(std::size_t n) { return take(n) ? p_ - n : nullptr; }

 private:
  bool take(std::size_t n) {
    if (!ok_ || n > remaining()) {
      fail();
      return false;
    }
    p_ += n;
    return true;
  }

  template <class T>
  T get_le() {
    if (!take(sizeof(T))) return T{};
    const auto* b = reinterpret_cast<const unsigned char*>(p_ - sizeof(T));
    T v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
      v |= static_cast<T>(static_cast<T>(b[i]) << (8 * i));
    return v;
  }

  const char* p_;
  const char* end_;
  bool ok_ = true;
};

// A 64-bit checksum of `bytes` that catches flipped, lost and reordered
// bytes; stable across processes and machines. Not cryptographic.
std::uint64_t checksum64(std::string_view bytes);

}  // namespace zellik
