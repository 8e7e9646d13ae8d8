#pragma once

#include <memory>

namespace zellik {

// Building blocks of a copy-on-write table: copies of the owner share one
// table until one of them writes.

// The table `shared` refers to, made this owner's own before a write: a new
// empty table when there is none, a copy when others share it.
template <class T>
T& own_copy(std::shared_ptr<T>& shared) {
  if (shared == nullptr) {
    shared = std::make_shared<T>();
  } else if (shared.use_count() > 1) {
    shared = std::make_shared<T>(*shared);
  }
  return *shared;
}

// The empty table read through an owner that has none yet. Leaked on
// purpose: tables may be read by objects destroyed at exit.
template <class T>
const T& empty_table() {
  static const T* const kEmpty = new T();
  return *kEmpty;
}

}  // namespace zellik
