#pragma once

#include <cstdint>
#include <string>

namespace zellik {

// How many times a salvo condition may trigger.
class MaxSalvos {
 public:
  static MaxSalvos Infinite() { return MaxSalvos(false, 0); }
  static MaxSalvos Finite(std::uint64_t n) { return MaxSalvos(true, n); }

  bool is_infinite() const { return !finite_; }
  std::uint64_t limit() const { return n_; }
  // Whether a condition that has fired `fired` times may fire again.
  bool permits(std::uint64_t fired) const { return !finite_ || fired < n_; }
  // "Infinite" or "Finite(n)".
  std::string debug_name() const;
  friend bool operator==(const MaxSalvos&, const MaxSalvos&) = default;

 private:
  MaxSalvos(bool finite, std::uint64_t n) : finite_(finite), n_(n) {}
  bool finite_;
  std::uint64_t n_;
};

}  // namespace zellik
