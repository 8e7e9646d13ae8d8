#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <boost/unordered/unordered_flat_set.hpp>

namespace zellik {

// An immutable piece of text (node, port and condition names, labels).
// Copies share one allocation, so records that repeat a graph's names cost
// no heap allocation and no character copying; the hash is computed once,
// when the text is made. Intentionally copyable.
class Name {
 public:
  Name() = default;
  Name(std::string text);       // NOLINT: implicit by design
  Name(std::string_view text);  // NOLINT: implicit by design
  Name(const char* text);       // NOLINT: implicit by design

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
    std::string text;
    std::size_t hash;
  };
  static inline const std::size_t kEmptyHash = std::hash<std::string_view>{}(std::string_view());
  std::shared_ptr<const Rep> rep_;
};

// Hash and equality for maps keyed by Name that may also be probed with a
// std::string_view (heterogeneous lookup) without building a Name.
struct NameHash {
  using is_transparent = void;
  // The string hash already spreads its bits, so flat tables use it as is.
  using is_avalanching = void;
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
using NameSet = boost::unordered_flat_set<Name, NameHash, NameEq>;

// Combines `value` into `seed` (the boost recipe, widened to 64 bits).
inline std::size_t hash_combine(std::size_t seed, std::size_t value) {
  return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 12) + (seed >> 4));
}

}  // namespace zellik
