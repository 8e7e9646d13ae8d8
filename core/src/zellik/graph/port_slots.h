#pragma once

#include <cstdint>

namespace zellik {

// The capacity of a port: unbounded, or at most n packets (0 is allowed and
// makes the port always full). Intentionally copyable.
class PortSlotSpec {
 public:
  static PortSlotSpec Infinite() { return PortSlotSpec(false, 0); }
  static PortSlotSpec Finite(std::uint64_t n) { return PortSlotSpec(true, n); }

  bool is_infinite() const { return !finite_; }
  // The limit of a Finite capacity; 0 for Infinite.
  std::uint64_t capacity() const { return n_; }
  // Whether a port holding `count` packets can take one more.
  bool has_room(std::uint64_t count) const { return !finite_ || count < n_; }

  friend bool operator==(const PortSlotSpec&, const PortSlotSpec&) = default;

 private:
  PortSlotSpec(bool finite, std::uint64_t n) : finite_(finite), n_(n) {}
  bool finite_;
  std::uint64_t n_;
};

}  // namespace zellik
