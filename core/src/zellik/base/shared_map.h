#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <utility>

#include <boost/unordered/unordered_flat_map.hpp>

#include "zellik/base/copy_on_write.h"

namespace zellik {

// A flat hash map held behind a shared pointer. Copies share one table, so a
// record that carries maps (a node's ports, a condition's salvo ports) copies
// in O(1) however many entries it has; the first change made through a copy
// that still shares its table gives that copy a table of its own, so no copy
// ever sees another's change. Lookups accept any key the hash and equality
// accept (a Name or a std::string_view for name-keyed maps). Iteration order
// is unspecified. Intentionally copyable.
template <class K, class V, class Hash, class Eq>
class SharedMap {
 public:
  using Map = boost::unordered_flat_map<K, V, Hash, Eq>;
  using key_type = K;
  using mapped_type = V;
  using value_type = typename Map::value_type;
  using const_iterator = typename Map::const_iterator;
  using iterator = const_iterator;

  SharedMap() = default;
  SharedMap(std::initializer_list<value_type> entries)  // NOLINT: a map literal
      : map_(entries.size() == 0 ? nullptr : std::make_shared<Map>(entries)) {}

  const_iterator begin() const { return map().begin(); }
  const_iterator end() const { return map().end(); }
  std::size_t size() const { return map_ ? map_->size() : 0; }
  bool empty() const { return size() == 0; }

  template <class Key>
  const_iterator find(const Key& key) const {
    return map().find(key);
  }
  template <class Key>
  bool contains(const Key& key) const {
    return map_ != nullptr && map_->contains(key);
  }

  // Changes: each one first makes the table this copy's own.
  template <class Key, class Value>
  void insert_or_assign(Key&& key, Value&& value) {
    own().insert_or_assign(std::forward<Key>(key), std::forward<Value>(value));
  }
  template <class... Args>
  std::pair<const_iterator, bool> emplace(Args&&... args) {
    auto [it, inserted] = own().emplace(std::forward<Args>(args)...);
    return {const_iterator(it), inserted};
  }
  void clear() { map_.reset(); }

 private:
  const Map& map() const { return map_ ? *map_ : empty_table<Map>(); }
  Map& own() { return own_copy(map_); }

  std::shared_ptr<Map> map_;
};

}  // namespace zellik
