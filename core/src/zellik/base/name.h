#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace zellik {

// An immutable piece of text (node, port and condition names, labels).
// Copies share one allocation, so records that repeat a graph's names cost
// no heap allocation and no character copying; the hash is computed once,
// when the text is made. A Name is one pointer wide (events and locations
// carry several), the count of its sharers kept in the shared record; copies
// may be made and dropped from several threads at once. Intentionally
// copyable.
class Name {
 public:
  Name() = default;
  Name(std::string text);       // NOLINT: implicit by design
  Name(std::string_view text);  // NOLINT: implicit by design
  Name(const char* text);       // NOLINT: implicit by design

  Name(const Name& other) noexcept : rep_(other.rep_) { retain(); }
  Name(Name&& other) noexcept : rep_(other.rep_) { other.rep_ = nullptr; }
  Name& operator=(const Name& other) noexcept {
    other.retain();
    release();
    rep_ = other.rep_;
    return *this;
  }
  Name& operator=(Name&& other) noexcept {
    if (this != &other) {
      release();
      rep_ = other.rep_;
      other.rep_ = nullptr;
    }
    return *this;
  }
  ~Name() { release(); }

  const std::string& str() const;
  std::string_view view() const { return str(); }
  bool empty() const { return str().empty(); }
  std::size_t hash() const { return rep_ ? rep_->hash : kEmptyHash; }

  friend bool operator==(const Name& a, const Name& b) {
    if (a.rep_ == b.rep_) return true;
    return a.hash() == b.hash() && a.view() == b.view();
  }
  friend bool operator==(const Name& a, std::string_view b) { return a.view() == b; }
  // Exact match for literals, which would otherwise convert equally well to
  // Name and to std::string_view.
  friend bool operator==(const Name& a, const char* b) { return a.view() == b; }
  friend bool operator<(const Name& a, const Name& b) { return a.view() < b.view(); }

 private:
  struct Rep {
    mutable std::atomic<std::uint64_t> sharers;
    std::size_t hash;
    std::string text;
  };
  void retain() const noexcept {
    if (rep_ != nullptr) rep_->sharers.fetch_add(1, std::memory_order_relaxed);
  }
  void release() noexcept {
    if (rep_ != nullptr && rep_->sharers.fetch_sub(1, std::memory_order_acq_rel) == 1) delete rep_;
  }

  static inline const std::size_t kEmptyHash = std::hash<std::string_view>{}(std::string_view());
  const Rep* rep_ = nullptr;
};

static_assert(sizeof(Name) == sizeof(void*));

// Hash and equality for maps keyed by Name that may also be probed with a
// std::string_view (heterogeneous lookup) without building a Name.
struct NameHash {
  using is_transparent = void;
  std::size_t operator()(const Name& n) const { return n.hash(); }
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

struct NameEq {
  using is_transparent = void;
  bool operator()(const Name& a, const Name& b) const { return a == b; }
  bool operator()(const Name& a, std::string_view b) const { return a.view() == b; }
  bool operator()(std::string_view a, const Name& b) const { return a == b.view(); }
};

// A set of names, probed by Name or by std::string_view.
using NameSet = std::unordered_set<Name, NameHash, NameEq>;

// Combines `value` into `seed` (the boost recipe, widened to 64 bits).
inline std::size_t hash_combine(std::size_t seed, std::size_t value) {
  return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 12) + (seed >> 4));
}

}  // namespace zellik
