#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "zellik/net/ulid.h"

namespace zellik {

// The packets at one location in arrival order: a FIFO queue that appends at
// the back and removes its head in O(1), keeps the order of the others when a
// packet leaves from the middle, finds a packet's position by scanning from
// the head (cheap for the packets that usually move: the oldest), and can
// insert at a position (undo puts packets back where they were).
// Membership is not checked here: the packet table knows where each packet is.
// Intentionally copyable.
class PacketQueue {
 public:
  std::size_t size() const { return items_.size() - head_; }
  bool empty() const { return size() == 0; }

  // The i-th oldest packet (0 is the head). Requires i < size().
  const Ulid& at(std::size_t i) const { return items_[head_ + i]; }
  const Ulid& front() const { return items_[head_]; }

  void push_back(const Ulid& id) { items_.push_back(id); }

  // 0-based position of `id`, or nothing if it is not queued here.
  std::optional<std::size_t> index_of(const Ulid& id) const;

  // Removes `id`, keeping the order of the others. False if it is not here.
  bool remove(const Ulid& id);

  // Inserts `id` so that it becomes the i-th packet. Requires i <= size().
  void insert_at(std::size_t i, const Ulid& id);

  // The packets, oldest first.
  std::vector<Ulid> to_vector() const {
    return std::vector<Ulid>(items_.begin() + static_cast<std::ptrdiff_t>(head_), items_.end());
  }
  std::vector<Ulid>::const_iterator begin() const {
    return items_.begin() + static_cast<std::ptrdiff_t>(head_);
  }
  std::vector<Ulid>::const_iterator end() const { return items_.end(); }

 private:
  void compact_if_sparse();

  std::vector<Ulid> items_;
  std::size_t head_ = 0;  // items_[0, head_) are packets that already left
};

}  // namespace zellik
