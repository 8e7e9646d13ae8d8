#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

#include "zellik/net/handles.h"

namespace zellik {

// The packets at one location in arrival order, named by their rows in the
// net's packet table.
//
// Each packet occupies an arrival slot: a number the queue hands out on
// append and that stays the packet's while it is queued (the owner keeps it
// beside the packet, so the queue never searches for an id). A packet that
// leaves from the middle leaves a hole behind; holes are counted per block of
// kBlock slots in a Fenwick tree over the blocks, so the position of a slot
// and the slot at a position cost O(log n) plus a scan of one block at any
// depth, and the tree stays small enough to sit in cache (4 bytes per block).
// The common FIFO path (append at the back, leave at the head) never touches
// the tree. Undo puts a packet back into the hole it left
// (O(log n)); only when no hole is next to the position does the queue shift
// the shorter run of neighbours by one slot.
//
// Slots are 32-bit and wrap: only differences of slots are ever used, so a
// queue may hand out any number of them over its life as long as fewer than
// 2^32 are in use at once.
//
// Whenever the queue gives a queued packet a new slot (compaction, shifting)
// it reports it through the `Renumber` callback, called as
// `renumber(PacketIndex packet, Slot new_slot)`.
// Intentionally copyable.
class PacketQueue {
 public:
  using Slot = std::uint32_t;
  using value_type = PacketIndex;

  std::size_t size() const { return live_; }
  bool empty() const { return live_ == 0; }

  // The i-th oldest packet (0 is the head). Requires i < size().
  const PacketIndex& at(std::size_t i) const { return ids_[index_at(i)]; }
  const PacketIndex& front() const { return ids_[head_]; }
  // The slot of the i-th oldest packet. Requires i < size().
  Slot slot_at(std::size_t i) const { return slot_of_index(index_at(i)); }

  // Appends `id` and returns its slot.
  Slot push_back(PacketIndex id);

  // 0-based position of the packet in `slot`. Requires a queued slot.
  std::size_t position(Slot slot) const;
  // Whether `slot` holds `id`.
  bool holds(Slot slot, PacketIndex id) const;

  // Removes the packet in `slot`, keeping the order of the others. Requires
  // a queued slot.
  template <class Renumber>
  void remove_slot(Slot slot, Renumber&& renumber);

  // Inserts `id` so that it becomes the i-th packet and returns its slot.
  // Requires i <= size().
  template <class Renumber>
  Slot insert_at(std::size_t i, PacketIndex id, Renumber&& renumber);

  // Walks the queued packets oldest first, stepping over holes.
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = PacketIndex;
    using difference_type = std::ptrdiff_t;
    using pointer = const PacketIndex*;
    using reference = const PacketIndex&;
    const_iterator() = default;
    reference operator*() const { return q_->ids_[i_]; }
    pointer operator->() const { return &q_->ids_[i_]; }
    const_iterator& operator++() {
      ++i_;
      skip();
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator old = *this;
      ++*this;
      return old;
    }
    friend bool operator==(const const_iterator& a, const const_iterator& b) {
      return a.i_ == b.i_;
    }

   private:
    friend class PacketQueue;
    const_iterator(const PacketQueue* q, std::size_t i) : q_(q), i_(i) { skip(); }
    void skip() {
      while (i_ < q_->ids_.size() && q_->state_[i_] != kLive) ++i_;
    }
    const PacketQueue* q_ = nullptr;
    std::size_t i_ = 0;
  };
  const_iterator begin() const { return const_iterator(this, head_); }
  const_iterator end() const { return const_iterator(this, ids_.size()); }

  // Checks the queue's own bookkeeping (tests): counts, holes, tree.
  bool consistent() const;

  // Empties the queue into a new one (slots start again), keeping its
  // storage for the packets to come.
  void recycle() {
    reset();
    base_ = 0;
    live_ = 0;
  }
  // The slots the storage holds without growing.
  std::size_t capacity() const { return ids_.capacity(); }

 private:
  // Slot states. A hole is a departed slot between the head and the tail; it
  // is counted in the tree. Gone slots lie before the head (or were never
  // used) and are not counted.
  static constexpr std::uint8_t kGone = 0;
  static constexpr std::uint8_t kLive = 1;
  static constexpr std::uint8_t kHole = 2;

  Slot slot_of_index(std::size_t k) const { return static_cast<Slot>(base_ + k); }
  std::size_t index_of_slot(Slot s) const { return static_cast<Slot>(s - base_); }
  // The storage index of the i-th packet.
  std::size_t index_at(std::size_t i) const { return holes_ == 0 ? head_ + i : select(i); }
  std::size_t select(std::size_t i) const;

  // Hole tree (Fenwick, 1-based over blocks of kBlock storage indexes, each
  // counting the holes in its block). Whenever holes_ > 0 it is built and
  // covers every storage index.
  static constexpr std::size_t kBlock = 64;
  bool tree_covers_storage() const {
    return !tree_.empty() && (tree_.size() - 1) * kBlock >= ids_.size();
  }
  void rebuild_tree();
  void tree_add(std::size_t k, int delta);
  std::size_t holes_before(std::size_t k) const;  // holes in [0, k)

  void mark_hole(std::size_t k);
  // Adds one unused slot at the back (the caller fills it).
  void grow_back();
  void fill_hole(std::size_t k);
  // Builds the hole tree afresh when there are holes, drops it otherwise.
  void refresh_tree();
  void reset();
  // Makes room for at least one slot before the head.
  void open_front();
  // Moves out the dead prefix when storage is full; no slot changes.
  void reclaim_prefix();
  template <class Renumber>
  void compact(Renumber&& renumber);

  // The steps of insert_at. Each puts `id` in and returns its slot.
  // Into the free slot just before the head.
  Slot push_front(PacketIndex id);
  // Into the unused slot k (a hole, or a gone slot before the head).
  Slot occupy(std::size_t k, PacketIndex id);
  // Before the packet in storage slot k, whose neighbour k - 1 is queued:
  // the shorter run of packets moves one slot towards the nearest free slot.
  template <class Renumber>
  Slot shift_in(std::size_t k, PacketIndex id, Renumber&& renumber);

  std::vector<PacketIndex> ids_;
  std::vector<std::uint8_t> state_;
  std::vector<std::uint32_t> tree_;  // empty when not built
  Slot base_ = 0;                    // slot of ids_[0]
  std::size_t head_ = 0;             // storage index of the head (ids_.size() when empty)
  std::size_t live_ = 0;
  std::size_t holes_ = 0;
};

// --- Template members ------------------------------------------------------

template <class Renumber>
void PacketQueue::remove_slot(Slot slot, Renumber&& renumber) {
  const std::size_t k = index_of_slot(slot);
  --live_;
  if (live_ == 0) {
    reset();
    return;
  }
  if (k == head_) {
    state_[k] = kGone;
    ++head_;
    // Holes the head passes become part of the dead prefix.
    while (state_[head_] != kLive) {
      fill_hole(head_);
      state_[head_] = kGone;
      ++head_;
    }
    return;
  }
  if (k + 1 == ids_.size()) {
    ids_.pop_back();
    state_.pop_back();
    while (state_.back() != kLive) {
      fill_hole(ids_.size() - 1);
      ids_.pop_back();
      state_.pop_back();
    }
    return;
  }
  mark_hole(k);
  // Holes outnumbering packets would make the queue's memory follow its
  // history instead of its size.
  if (holes_ > live_ + 64) compact(renumber);
}

template <class Renumber>
PacketQueue::Slot PacketQueue::insert_at(std::size_t i, PacketIndex id, Renumber&& renumber) {
  if (i == live_) return push_back(id);
  if (i == 0) return push_front(id);
  const std::size_t k = index_at(i);  // the packet that will follow `id`
  // The usual undo: the hole the packet left is still there.
  if (state_[k - 1] == kHole) return occupy(k - 1, id);
  return shift_in(k, id, renumber);
}

inline PacketQueue::Slot PacketQueue::push_front(PacketIndex id) {
  if (head_ == 0) open_front();
  --head_;
  return occupy(head_, id);
}

inline PacketQueue::Slot PacketQueue::occupy(std::size_t k, PacketIndex id) {
  fill_hole(k);
  ids_[k] = id;
  state_[k] = kLive;
  ++live_;
  return slot_of_index(k);
}

template <class Renumber>
PacketQueue::Slot PacketQueue::shift_in(std::size_t k, PacketIndex id, Renumber&& renumber) {
  // Slot k - 1 is queued, so the search to the left starts one further out;
  // the search to the right ends at the tail at the latest (growing it).
  for (std::size_t d = 1;; ++d) {
    if (d < k && state_[k - 1 - d] != kLive) {
      // Packets k - d .. k - 1 move one slot left; `id` takes slot k - 1.
      const std::size_t free = k - 1 - d;
      fill_hole(free);
      state_[free] = kLive;
      for (std::size_t j = free; j + 1 < k; ++j) {
        ids_[j] = ids_[j + 1];
        renumber(ids_[j], slot_of_index(j));
      }
      if (free < head_) head_ = free;
      ids_[k - 1] = id;
      ++live_;
      return slot_of_index(k - 1);
    }
    const std::size_t free = k + d;
    if (free == ids_.size()) grow_back();
    if (state_[free] != kLive) {
      // Packets k .. k + d - 1 move one slot right; `id` takes slot k.
      fill_hole(free);
      state_[free] = kLive;
      for (std::size_t j = free; j > k; --j) {
        ids_[j] = ids_[j - 1];
        renumber(ids_[j], slot_of_index(j));
      }
      ids_[k] = id;
      ++live_;
      return slot_of_index(k);
    }
  }
}

template <class Renumber>
void PacketQueue::compact(Renumber&& renumber) {
  std::size_t out = 0;
  for (std::size_t k = head_; k < ids_.size(); ++k) {
    if (state_[k] != kLive) continue;
    if (out != k - head_) {
      ids_[head_ + out] = ids_[k];
      renumber(ids_[head_ + out], slot_of_index(head_ + out));
    }
    state_[head_ + out] = kLive;
    ++out;
  }
  ids_.resize(head_ + out);
  state_.resize(head_ + out);
  holes_ = 0;
  tree_.clear();
}

}  // namespace zellik
