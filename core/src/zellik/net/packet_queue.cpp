#include "zellik/net/packet_queue.h"

#include <algorithm>
#include <bit>

namespace zellik {

namespace {
// Below this many departed slots moving the live ones down is not worth it.
constexpr std::size_t kMinDeadPrefix = 32;
// Free slots opened before the head at least, when undo needs one there.
constexpr std::size_t kMinFrontRoom = 16;
}  // namespace

PacketQueue::Slot PacketQueue::push_back(PacketIndex id) {
  // Compacting only once the dead prefix is at least half the storage keeps
  // the copying proportional to the departures that created it.
  if (ids_.size() == ids_.capacity() && head_ >= kMinDeadPrefix && head_ * 2 >= ids_.size()) {
    reclaim_prefix();
  }
  grow_back();
  const std::size_t k = ids_.size() - 1;
  ids_[k] = id;
  state_[k] = kLive;
  if (live_ == 0) head_ = k;
  ++live_;
  return slot_of_index(k);
}

std::size_t PacketQueue::position(Slot slot) const {
  const std::size_t k = index_of_slot(slot);
  // Slots before the head are never holes, so the holes in [head_, k) are
  // all the holes before k.
  return holes_ == 0 ? k - head_ : k - head_ - holes_before(k);
}

bool PacketQueue::holds(Slot slot, PacketIndex id) const {
  const std::size_t k = index_of_slot(slot);
  return k < ids_.size() && state_[k] == kLive && ids_[k] == id;
}

std::size_t PacketQueue::select(std::size_t i) const {
  // The smallest k such that [0, k] holds head_ + i + 1 slots that are not
  // holes (the head_ gone slots before the head, then the queued packets):
  // a descent of the hole tree to the block that holds k, then a scan of
  // that block. Blocks past the storage count as kBlock slots without
  // holes; the descent never passes the block of the last packet.
  const std::size_t n = tree_.size() - 1;
  std::size_t block = 0;
  std::size_t rem = head_ + i + 1;
  for (std::size_t step = std::bit_floor(n); step > 0; step >>= 1) {
    const std::size_t next = block + step;
    if (next <= n && step * kBlock - tree_[next] < rem) {
      block = next;
      rem -= step * kBlock - tree_[next];
    }
  }
  std::size_t k = block * kBlock;
  for (;; ++k) {
    if (state_[k] != kHole && --rem == 0) return k;
  }
}

void PacketQueue::rebuild_tree() {
  // Room for the storage to double before the next rebuild.
  const std::size_t n = std::max<std::size_t>(2 * ((ids_.size() + kBlock - 1) / kBlock), 16);
  tree_.assign(n + 1, 0);
  if (holes_ == 0) return;
  for (std::size_t k = head_; k < ids_.size(); ++k) {
    if (state_[k] == kHole) ++tree_[k / kBlock + 1];
  }
  for (std::size_t i = 1; i <= n; ++i) {
    const std::size_t parent = i + (i & (~i + 1));
    if (parent <= n) tree_[parent] += tree_[i];
  }
}

void PacketQueue::tree_add(std::size_t k, int delta) {
  for (std::size_t i = k / kBlock + 1; i < tree_.size(); i += i & (~i + 1)) {
    tree_[i] = static_cast<std::uint32_t>(static_cast<int>(tree_[i]) + delta);
  }
}

std::size_t PacketQueue::holes_before(std::size_t k) const {
  std::size_t sum = 0;
  for (std::size_t i = k / kBlock; i > 0; i -= i & (~i + 1)) sum += tree_[i];
  for (std::size_t j = k - k % kBlock; j < k; ++j) sum += state_[j] == kHole;
  return sum;
}

void PacketQueue::mark_hole(std::size_t k) {
  if (!tree_covers_storage()) rebuild_tree();
  state_[k] = kHole;
  ++holes_;
  tree_add(k, +1);
}

void PacketQueue::fill_hole(std::size_t k) {
  if (state_[k] != kHole) return;
  state_[k] = kGone;
  --holes_;
  tree_add(k, -1);
}

void PacketQueue::grow_back() {
  ids_.emplace_back();
  state_.push_back(kGone);
  if (!tree_covers_storage()) refresh_tree();
}

void PacketQueue::refresh_tree() {
  if (holes_ > 0) {
    rebuild_tree();
  } else {
    tree_.clear();
  }
}

void PacketQueue::reset() {
  ids_.clear();
  state_.clear();
  tree_.clear();
  head_ = 0;
  holes_ = 0;
}

void PacketQueue::open_front() {
  const std::size_t room = std::max(kMinFrontRoom, live_ / 2);
  ids_.insert(ids_.begin(), room, PacketIndex{});
  state_.insert(state_.begin(), room, kGone);
  base_ = static_cast<Slot>(base_ - room);
  head_ += room;
  refresh_tree();
}

void PacketQueue::reclaim_prefix() {
  const auto cut = static_cast<std::ptrdiff_t>(head_);
  ids_.erase(ids_.begin(), ids_.begin() + cut);
  state_.erase(state_.begin(), state_.begin() + cut);
  base_ = static_cast<Slot>(base_ + head_);
  head_ = 0;
  refresh_tree();
}

bool PacketQueue::consistent() const {
  if (ids_.size() != state_.size()) return false;
  if (live_ == 0) return ids_.empty() && holes_ == 0;
  if (head_ >= ids_.size() || state_[head_] != kLive || state_.back() != kLive) return false;
  std::size_t live = 0;
  std::size_t holes = 0;
  for (std::size_t k = 0; k < ids_.size(); ++k) {
    if (k < head_ && state_[k] != kGone) return false;
    if (k >= head_ && state_[k] == kGone) return false;
    live += state_[k] == kLive;
    holes += state_[k] == kHole;
  }
  if (live != live_ || holes != holes_) return false;
  if (holes_ == 0) return true;
  if (!tree_covers_storage()) return false;
  std::size_t expected = 0;
  for (std::size_t k = 0; k <= ids_.size(); ++k) {
    if (holes_before(k) != expected) return false;
    if (k < ids_.size()) expected += state_[k] == kHole;
  }
  return true;
}

}  // namespace zellik
