#include "zellik/net/packet_queue.h"

#include <algorithm>

namespace zellik {

namespace {
// Below this many departed slots compaction is not worth a move.
constexpr std::size_t kMinDeadPrefix = 32;
}  // namespace

std::optional<std::size_t> PacketQueue::index_of(const Ulid& id) const {
  for (std::size_t i = head_; i < items_.size(); ++i) {
    if (items_[i] == id) return i - head_;
  }
  return std::nullopt;
}

bool PacketQueue::remove(const Ulid& id) {
  if (empty()) return false;
  if (items_[head_] == id) {
    ++head_;
    compact_if_sparse();
    return true;
  }
  const auto first = items_.begin() + static_cast<std::ptrdiff_t>(head_);
  const auto it = std::find(first + 1, items_.end(), id);
  if (it == items_.end()) return false;
  items_.erase(it);
  return true;
}

void PacketQueue::insert_at(std::size_t i, const Ulid& id) {
  if (i == 0 && head_ > 0) {
    // Reuse a departed slot: putting the head back stays O(1).
    items_[--head_] = id;
    return;
  }
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(head_ + i), id);
}

void PacketQueue::compact_if_sparse() {
  if (head_ == items_.size()) {
    items_.clear();
    head_ = 0;
    return;
  }
  // Compacting only once the dead prefix is at least half the storage keeps
  // the copying proportional to the removals that created it.
  if (head_ >= kMinDeadPrefix && head_ * 2 >= items_.size()) {
    items_.erase(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
  }
}

}  // namespace zellik
