#pragma once

#include <cstddef>
#include <utility>

#include "zellik/net/epoch.h"

namespace zellik {

// The answer of get_packet: the packet as it stands now, or nothing. Tested
// against null and read through -> like a pointer, but it holds its value.
// Intentionally copyable.
class FoundPacket {
 public:
  FoundPacket() = default;
  explicit FoundPacket(Packet packet) : packet_(std::move(packet)), found_(true) {}
  explicit operator bool() const { return found_; }
  const Packet& operator*() const { return packet_; }
  const Packet* operator->() const { return &packet_; }
  friend bool operator==(const FoundPacket& f, std::nullptr_t) { return !f.found_; }

 private:
  Packet packet_;
  bool found_ = false;
};

}  // namespace zellik
