#pragma once

#include <memory>
#include <utility>

namespace zellik {

// A value of T kept on the heap, with value semantics: a copy copies the
// value, a move hands the allocation over. For a rare, large member of a
// small record made by the million (an event that carries a whole epoch), so
// that the common records stay small. Converts to `const T&`, and `->` and
// `*` reach the value. A moved-from HeapValue may only be destroyed or
// assigned to.
template <class T>
class HeapValue {
 public:
  HeapValue() : value_(std::make_unique<T>()) {}
  HeapValue(T value) : value_(std::make_unique<T>(std::move(value))) {}  // NOLINT: implicit
  HeapValue(const HeapValue& other) : value_(std::make_unique<T>(*other)) {}
  HeapValue(HeapValue&&) noexcept = default;
  HeapValue& operator=(const HeapValue& other) {
    if (this != &other) value_ = std::make_unique<T>(*other);
    return *this;
  }
  HeapValue& operator=(HeapValue&&) noexcept = default;
  ~HeapValue() = default;

  const T& operator*() const { return *value_; }
  T& operator*() { return *value_; }
  const T* operator->() const { return value_.get(); }
  T* operator->() { return value_.get(); }
  operator const T&() const { return *value_; }  // NOLINT: implicit on purpose

  friend bool operator==(const HeapValue& a, const HeapValue& b) { return *a == *b; }

 private:
  std::unique_ptr<T> value_;
};

}  // namespace zellik
