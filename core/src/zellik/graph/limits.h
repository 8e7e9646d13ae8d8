#pragma once

#include <cstdint>
#include <string>

namespace zellik {

// A limit of the graph model: none, or at most n (n may be 0). The state,
// equality and the two ways a limit is applied are written here once; each
// limit below adds only its own vocabulary. Intentionally copyable.
template <class Derived>
class Limit {
 public:
  static Derived unlimited() { return make(false, 0); }
  static Derived at_most(std::uint64_t n) { return make(true, n); }

  bool is_unlimited() const { return !finite_; }
  // n of a limit of n; 0 when unlimited.
  std::uint64_t n() const { return n_; }
  // Whether `count` is below the limit (always, when unlimited).
  bool admits(std::uint64_t count) const { return !finite_ || count < n_; }
  // How many of `available` the limit lets through.
  std::uint64_t take_of(std::uint64_t available) const {
    return (!finite_ || available < n_) ? available : n_;
  }
  friend bool operator==(const Limit&, const Limit&) = default;

 protected:
  Limit() = default;

 private:
  // Each limit makes its default constructor private and befriends Limit,
  // so that values are made only here.
  static Derived make(bool finite, std::uint64_t n) {
    Derived limit;
    limit.finite_ = finite;
    limit.n_ = n;
    return limit;
  }

  bool finite_ = false;
  std::uint64_t n_ = 0;
};

// A limit whose two forms are called Infinite and Finite(n).
template <class Derived>
class InfiniteOrFinite : public Limit<Derived> {
 public:
  static Derived Infinite() { return InfiniteOrFinite::unlimited(); }
  static Derived Finite(std::uint64_t n) { return InfiniteOrFinite::at_most(n); }
  bool is_infinite() const { return this->is_unlimited(); }
};

// How many packets a salvo takes from one port: all, or at most n.
class PacketCount : public Limit<PacketCount> {
 public:
  static PacketCount All() { return unlimited(); }
  static PacketCount Count(std::uint64_t n) { return at_most(n); }
  bool is_all() const { return is_unlimited(); }
  std::uint64_t count() const { return n(); }
  // How many of `available` packets a salvo takes.
  std::uint64_t take_from(std::uint64_t available) const { return take_of(available); }

 private:
  friend Limit;
  PacketCount() = default;
};

// How many times a salvo condition may trigger.
class MaxSalvos : public InfiniteOrFinite<MaxSalvos> {
 public:
  std::uint64_t limit() const { return n(); }
  // Whether a condition that has fired `fired` times may fire again.
  bool permits(std::uint64_t fired) const { return admits(fired); }
  // "Infinite" or "Finite(n)".
  std::string debug_name() const {
    return is_unlimited() ? "Infinite" : "Finite(" + std::to_string(n()) + ")";
  }

 private:
  friend Limit;
  MaxSalvos() = default;
};

// The capacity of a port: unbounded, or at most n packets (0 is allowed and
// makes the port always full).
class PortSlotSpec : public InfiniteOrFinite<PortSlotSpec> {
 public:
  // The limit of a Finite capacity; 0 for Infinite.
  std::uint64_t capacity() const { return n(); }
  // Whether a port holding `count` packets can take one more.
  bool has_room(std::uint64_t count) const { return admits(count); }

 private:
  friend Limit;
  PortSlotSpec() = default;
};

}  // namespace zellik
