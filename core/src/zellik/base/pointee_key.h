#pragma once

#include <cstddef>

namespace zellik {

// Hash and equality of a value kept elsewhere and indexed through a pointer
// to it, probed by pointer or by value: the index of pointers into a vector
// of records looks a record up without copying the probe. `Hash` hashes a T.
template <class T, class Hash>
struct PointeeHash {
  using is_transparent = void;
  std::size_t operator()(const T* p) const { return Hash{}(*p); }
  std::size_t operator()(const T& v) const { return Hash{}(v); }
};

template <class T>
struct PointeeEq {
  using is_transparent = void;
  static const T& value(const T* p) { return *p; }
  static const T& value(const T& v) { return v; }
  template <class A, class B>
  bool operator()(const A& a, const B& b) const {
    return value(a) == value(b);
  }
};

}  // namespace zellik
