#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "zellik/net/fingerprint.h"

namespace zellik::explore {

// A growing array in fixed chunks: no element moves and no reallocation
// ever holds twice the memory in use. Not copyable.
template <class T>
class ChunkedArray {
 public:
  static constexpr std::size_t kChunk = std::size_t{1} << 12;
  ChunkedArray() = default;
  ChunkedArray(const ChunkedArray&) = delete;
  ChunkedArray& operator=(const ChunkedArray&) = delete;

  std::size_t size() const { return size_; }
  T& operator[](std::size_t i) { return chunks_[i / kChunk][i % kChunk]; }
  const T& operator[](std::size_t i) const { return chunks_[i / kChunk][i % kChunk]; }
  void push_back(const T& value) {
    if (size_ == chunks_.size() * kChunk) chunks_.push_back(std::make_unique<T[]>(kChunk));
    (*this)[size_++] = value;
  }
  // Empties it, keeping its chunks for what comes next.
  void clear() { size_ = 0; }
  std::size_t bytes() const { return chunks_.size() * kChunk * sizeof(T); }

 private:
  std::vector<std::unique_ptr<T[]>> chunks_;
  std::size_t size_ = 0;
};

// The states an exploration has visited, numbered in the order found, each
// with the state it was first reached from and the index of the choice that
// reached it there. Keyed by 128-bit fingerprint, or, when exact, by the
// state's whole canonical encoding. An open-addressing table of 32-bit state numbers over
// dense arrays: 22 bytes per state plus 4.5 to 9 in the table (which grows
// at nine tenths full) in fingerprint mode. Not copyable.
class VisitedSet {
 public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFU;

  explicit VisitedSet(bool exact) : exact_(exact) { table_.assign(1024, kNone); }
  VisitedSet(const VisitedSet&) = delete;
  VisitedSet& operator=(const VisitedSet&) = delete;

  std::size_t size() const { return fingerprints_.size(); }

  // The number of the state `words` describes (with `fp` its digest), and
  // whether it is new; a new state is added with its parent and the index
  // of the choice that reached it there.
  std::pair<std::uint32_t, bool> insert(const Fingerprint& fp, std::span<const std::uint64_t> words,
                                        std::uint32_t parent, std::uint16_t choice_index) {
    if ((size() + 1) * 10 > table_.size() * 9) grow();
    const std::size_t mask = table_.size() - 1;
    for (std::size_t i = fp.lo & mask;; i = (i + 1) & mask) {
      const std::uint32_t at = table_[i];
      if (at == kNone) {
        const auto number = static_cast<std::uint32_t>(size());
        table_[i] = number;
        fingerprints_.push_back(fp);
        parents_.push_back(parent);
        choice_indexes_.push_back(choice_index);
        if (exact_) {
          words_.insert(words_.end(), words.begin(), words.end());
          ends_.push_back(words_.size());
        }
        return {number, true};
      }
      if (fingerprints_[at] == fp && (!exact_ || same_words(at, words))) return {at, false};
    }
  }

  // Whether a state of fingerprint `fp` is in the set (fingerprint mode:
  // an exact set may hold several states of one fingerprint).
  bool contains(const Fingerprint& fp) const {
    const std::size_t mask = table_.size() - 1;
    for (std::size_t i = fp.lo & mask;; i = (i + 1) & mask) {
      const std::uint32_t at = table_[i];
      if (at == kNone) return false;
      if (fingerprints_[at] == fp) return true;
    }
  }

  // The number of the state `words` describes, or kNone when it is not in
  // the set.
  std::uint32_t find(const Fingerprint& fp, std::span<const std::uint64_t> words) const {
    const std::size_t mask = table_.size() - 1;
    for (std::size_t i = fp.lo & mask;; i = (i + 1) & mask) {
      const std::uint32_t at = table_[i];
      if (at == kNone) return kNone;
      if (fingerprints_[at] == fp && (!exact_ || same_words(at, words))) return at;
    }
  }

  const Fingerprint& fingerprint(std::uint32_t state) const { return fingerprints_[state]; }
  std::uint32_t parent(std::uint32_t state) const { return parents_[state]; }
  std::uint16_t choice_index(std::uint32_t state) const { return choice_indexes_[state]; }

  // The memory held, in bytes.
  std::size_t bytes() const {
    return table_.capacity() * sizeof(std::uint32_t) + fingerprints_.bytes() + parents_.bytes() +
           choice_indexes_.bytes() + words_.capacity() * sizeof(std::uint64_t) +
           ends_.capacity() * sizeof(std::size_t);
  }

 private:
  bool same_words(std::uint32_t state, std::span<const std::uint64_t> words) const {
    const std::size_t begin = state == 0 ? 0 : ends_[state - 1];
    const std::size_t end = ends_[state];
    return end - begin == words.size() &&
           std::equal(words.begin(), words.end(),
                      words_.begin() + static_cast<std::ptrdiff_t>(begin));
  }
  void grow() {
    std::vector<std::uint32_t> bigger(table_.size() * 2, kNone);
    const std::size_t mask = bigger.size() - 1;
    for (const std::uint32_t state : table_) {
      if (state == kNone) continue;
      std::size_t i = fingerprints_[state].lo & mask;
      while (bigger[i] != kNone) i = (i + 1) & mask;
      bigger[i] = state;
    }
    table_.swap(bigger);
  }

  bool exact_;
  std::vector<std::uint32_t> table_;
  ChunkedArray<Fingerprint> fingerprints_;
  ChunkedArray<std::uint32_t> parents_;
  ChunkedArray<std::uint16_t> choice_indexes_;
  std::vector<std::uint64_t> words_;  // exact: every state's encoding, end to end
  std::vector<std::size_t> ends_;     // exact: where each state's encoding ends
};

}  // namespace zellik::explore
