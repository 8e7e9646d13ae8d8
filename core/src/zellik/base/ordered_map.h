#pragma once

#include <cstddef>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "zellik/base/name.h"

namespace zellik {

// A map from Name to V that iterates in insertion order and answers lookups
// by name with one hash probe. Inserting an existing name replaces its value
// in place. Intentionally copyable.
template <class V>
class InsertionOrderedMap {
 public:
  using Entry = std::pair<Name, V>;

  void insert(Name name, V value) {
    auto it = index_.find(name);
    if (it != index_.end()) {
      entries_[it->second].second = std::move(value);
      return;
    }
    index_.emplace(name, entries_.size());
    entries_.emplace_back(std::move(name), std::move(value));
  }

  const V* find(std::string_view name) const {
    auto it = index_.find(name);
    return it == index_.end() ? nullptr : &entries_[it->second].second;
  }

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  typename std::vector<Entry>::const_iterator begin() const { return entries_.begin(); }
  typename std::vector<Entry>::const_iterator end() const { return entries_.end(); }

 private:
  std::vector<Entry> entries_;
  std::unordered_map<Name, std::size_t, NameHash, NameEq> index_;
};

}  // namespace zellik
