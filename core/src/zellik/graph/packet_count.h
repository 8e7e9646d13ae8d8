#pragma once

#include <cstdint>

namespace zellik {

// How many packets a salvo takes from one port: all, or at most n.
class PacketCount {
 public:
  static PacketCount All() { return PacketCount(true, 0); }
  static PacketCount Count(std::uint64_t n) { return PacketCount(false, n); }

  bool is_all() const { return all_; }
  std::uint64_t count() const { return n_; }
  // How many of `available` packets a salvo takes.
  std::uint64_t take_from(std::uint64_t available) const {
    return all_ ? available : (n_ < available ? n_ : available);
  }
  friend bool operator==(const PacketCount&, const PacketCount&) = default;

 private:
  PacketCount(bool all, std::uint64_t n) : all_(all), n_(n) {}
  bool all_;
  std::uint64_t n_;
};

}  // namespace zellik
