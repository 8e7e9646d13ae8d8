#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>

#include "zellik/base/copy_on_write.h"
#include "zellik/base/name.h"

namespace zellik {

// A map from Name to V that iterates in insertion order. Inserting an
// existing name replaces its value in place. Copies share one table, so
// copying is O(1); the first insert through a copy that still shares its
// table gives that copy a table of its own. Small maps are searched by a scan
// of the entries; larger ones keep a hash index, so a lookup by name is one
// probe. Intentionally copyable.
template <class V>
class InsertionOrderedMap {
 public:
  using Entry = std::pair<Name, V>;
  using const_iterator = typename std::vector<Entry>::const_iterator;

  void insert(Name name, V value) {
    Rep& rep = own();
    if (const std::size_t at = rep.position(name.view()); at != kAbsent) {
      rep.entries[at].second = std::move(value);
      return;
    }
    rep.entries.emplace_back(std::move(name), std::move(value));
    rep.index_last();
  }

  const V* find(std::string_view name) const {
    if (rep_ == nullptr) return nullptr;
    const std::size_t at = rep_->position(name);
    return at == kAbsent ? nullptr : &rep_->entries[at].second;
  }

  std::size_t size() const { return rep_ ? rep_->entries.size() : 0; }
  bool empty() const { return size() == 0; }
  const_iterator begin() const { return entries().begin(); }
  const_iterator end() const { return entries().end(); }

 private:
  static constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);
  // Up to this many entries a scan beats hashing and saves the index.
  static constexpr std::size_t kScanLimit = 8;

  struct Rep {
    std::vector<Entry> entries;
    // Name -> position in `entries`; empty while there are kScanLimit
    // entries or fewer.
    boost::unordered_flat_map<Name, std::size_t, NameHash, NameEq> index;

    std::size_t position(std::string_view name) const {
      if (entries.size() <= kScanLimit) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
          if (entries[i].first == name) return i;
        }
        return kAbsent;
      }
      auto it = index.find(name);
      return it == index.end() ? kAbsent : it->second;
    }

    // Records the newest entry in the index, building the index when the
    // map has just outgrown a scan.
    void index_last() {
      if (entries.size() <= kScanLimit) return;
      if (index.empty()) {
        index.reserve(entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i) index.emplace(entries[i].first, i);
        return;
      }
      index.emplace(entries.back().first, entries.size() - 1);
    }
  };

  const std::vector<Entry>& entries() const {
    return rep_ ? rep_->entries : empty_table<std::vector<Entry>>();
  }

  Rep& own() { return own_copy(rep_); }

  std::shared_ptr<Rep> rep_;
};

}  // namespace zellik
