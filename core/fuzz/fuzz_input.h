#pragma once

// What the fuzz targets share: reading choices out of the input bytes, and
// stopping loudly on a finding.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace zellik::fuzz {

// Choices read one by one from the input; past its end every choice is 0
// and done() is true, so any input decodes into some run.
class ByteInput {
 public:
  ByteInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool done() const { return pos_ >= size_; }
  std::uint8_t byte() { return done() ? 0 : data_[pos_++]; }
  // A number below `n` (n >= 1), from one byte, or two when n > 256.
  std::size_t pick(std::size_t n) {
    if (n <= 1) return 0;
    std::size_t value = byte();
    if (n > 256) value = (value << 8) | byte();
    return value % n;
  }
  template <class T>
  const T& one_of(const std::vector<T>& items) {
    return items[pick(items.size())];
  }
  std::uint64_t u64() {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = (value << 8) | byte();
    return value;
  }
  // Passes over `n` bytes (or what is left).
  void skip(std::size_t n) { pos_ += n < rest_size() ? n : rest_size(); }
  // The bytes not read yet.
  const std::uint8_t* rest() const { return data_ + (done() ? size_ : pos_); }
  std::size_t rest_size() const { return done() ? 0 : size_ - pos_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// A finding: says what broke and stops the process, which the fuzzer
// records with the input and the replay test reports as a failure.
[[noreturn]] inline void finding(const std::string& what,
                                 const std::vector<std::string>& detail = {}) {
  std::fprintf(stderr, "FINDING: %s\n", what.c_str());
  for (const std::string& line : detail) std::fprintf(stderr, "  %s\n", line.c_str());
  std::fflush(stderr);
  std::abort();
}

// Lines in one list and not the other, for a finding's detail.
inline std::vector<std::string> difference(const std::vector<std::string>& a,
                                           const std::vector<std::string>& b) {
  std::vector<std::string> out;
  for (const std::string& line : a) {
    bool found = false;
    for (const std::string& other : b) found = found || other == line;
    if (!found) out.push_back("- " + line);
  }
  for (const std::string& line : b) {
    bool found = false;
    for (const std::string& other : a) found = found || other == line;
    if (!found) out.push_back("+ " + line);
  }
  return out;
}

}  // namespace zellik::fuzz
