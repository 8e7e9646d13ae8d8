#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include <boost/unordered/unordered_flat_set.hpp>

#include "zellik/base/shared_record.h"

namespace zellik {

// An immutable piece of text (node, port and condition names, labels).
// Copies share one allocation, so records that repeat a graph's names cost
// no heap allocation and no character copying. The hash is computed once,
// when the text is made, and kept in the shared record with the count of
// sharers, so a Name is one pointer wide (events and locations carry
// several). Intentionally copyable; copies may be made and dropped on
// several threads at once.
class Name {
 public:
  Name() noexcept = default;
  Name(std::string text);       // NOLINT: implicit by design
  Name(std::string_view text);  // NOLINT: implicit by design
  Name(const char* text);       // NOLINT: implicit by design

  const std::string& str() const {
    const Rep* rep = rep_.get();
    return rep != nullptr ? rep->text : empty_text();
  }
  std::string_view view() const { return str(); }
  bool empty() const { return str().empty(); }
  std::size_t hash() const {
    const Rep* rep = rep_.get();
    return rep != nullptr ? rep->hash : empty_hash();
  }

  // Copies of one Name share their record: most comparisons end at the
  // pointers, and only the others are a call.
  friend bool operator==(const Name& a, const Name& b) {
    return a.rep_ == b.rep_ || same_text(a, b);
  }
  friend bool operator==(const Name& a, std::string_view b) { return a.view() == b; }
  // Exact match for literals, which would otherwise convert equally well to
  // Name and to std::string_view.
  friend bool operator==(const Name& a, const char* b) { return a.view() == b; }
  friend bool operator<(const Name& a, const Name& b) { return a.view() < b.view(); }

 private:
  struct Rep {
    std::atomic<std::size_t> refs;
    std::size_t hash;
    std::string text;
  };

  static bool same_text(const Name& a, const Name& b);
  static const std::string& empty_text();
  static std::size_t empty_hash();

  SharedRecord<Rep> rep_;  // null for the empty name made by default
};

static_assert(sizeof(Name) == sizeof(void*));

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
