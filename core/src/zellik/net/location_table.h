#pragma once

#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>

#include "zellik/base/huge_pages.h"
#include "zellik/graph/node.h"
#include "zellik/graph/port.h"
#include "zellik/net/handles.h"
#include "zellik/net/packet_location.h"
#include "zellik/net/packet_queue.h"

namespace zellik {

// The input ports of one node: (port name, handle), in port order.
using InputPortHandles = std::vector<std::pair<Name, LocationHandle>>;

// The handle of `port_name` among `ports`, or kNoLocation.
inline LocationHandle find_port_handle(const InputPortHandles& ports, const Name& port_name) {
  for (const auto& [name, h] : ports) {
    if (name == port_name) return h;
  }
  return kNoLocation;
}

using LocationQueue = PacketQueue;

// The packets queued at one location, and what a run step needs to know about
// it without looking anything up by name: an edge's target input port (its
// handle and its slots), an input port's node.
class LocationEntry {
 public:
  LocationQueue queue;
  LocationHandle target = kNoLocation;  // Edge: the input port it delivers to
  const Port* target_port = nullptr;    // Edge: that port's slots
  const Node* node = nullptr;           // InputPort, Node: the node (of the epoch)
  std::uint32_t node_index = 0;         // InputPort: the owner's number for that node
  // Node: the epoch's first output port; OutputPort: the same epoch's next
  // one, in the node's port order (NetState::add_epoch links them).
  LocationHandle next_port = kNoLocation;

  // The entry's position in the table's active index, or kNotActive.
  static constexpr std::size_t kNotActive = std::numeric_limits<std::size_t>::max();
  std::size_t active_slot() const { return active_slot_; }
  LocationHandle handle() const { return handle_; }
  // The kind of the entry's location, kept beside the queue so that a walk
  // over the active entries reads no location record.
  PacketLocation::Kind kind() const { return kind_; }

 private:
  friend class LocationTable;
  std::size_t active_slot_ = kNotActive;
  LocationHandle handle_ = kNoLocation;
  mutable std::uint32_t prepaid_copies_ = 0;  // of the location, paid for, not yet made
  PacketLocation::Kind kind_ = PacketLocation::Kind::OutsideNet;
  bool in_use_ = false;
};

// Every location of a net that has an entry, by handle and by value, and the
// index of active locations: exactly the Edge and InputPort entries whose
// queue is not empty (the only packets a run step can move). The table owns
// that invariant: every change to a queue goes through append, remove and
// insert here, never through the queue directly. Entries never move in
// memory while they exist. Not copyable.
class LocationTable {
 public:
  using value_type = std::pair<const PacketLocation, LocationEntry>;

  LocationTable() = default;
  LocationTable(const LocationTable&) = delete;
  LocationTable& operator=(const LocationTable&) = delete;
  ~LocationTable();

  // Room for `count` entries in the index by value, so that adding that
  // many rehashes nothing.
  void reserve(std::size_t count) { by_location_.reserve(count); }

  // The handle of `location`, or kNoLocation when it has no entry.
  LocationHandle find(const PacketLocation& location) const;
  // The same for an epoch's or an edge's location, made nowhere.
  template <class Place>
  requires std::same_as<Place, EpochPlace> || std::same_as<Place, EdgePlace> LocationHandle
  find(const Place& place)
  const {
    const auto it = by_location_.find(place);
    return it == by_location_.end() ? kNoLocation : it->second;
  }
  bool contains(const PacketLocation& location) const { return find(location) != kNoLocation; }
  // The number of entries.
  std::size_t size() const { return by_location_.size(); }

  // The entry of a handle that exists.
  value_type& operator[](LocationHandle h) { return entries_[h]; }
  const value_type& operator[](LocationHandle h) const { return entries_[h]; }
  const PacketLocation& location(LocationHandle h) const { return entries_[h].first; }
  // A copy of the location of `h`, for an event. Copies are paid for in
  // batches of kPrepaidCopies: one update of the location's shared count per
  // batch instead of one per copy, on a path that makes two copies for every
  // packet it moves. Unused copies are given back when the entry goes. Const:
  // the count of copies paid for is bookkeeping that no reader sees.
  PacketLocation copy_location(LocationHandle h) const {
    const value_type& entry = entries_[h];
    std::uint32_t& prepaid = entry.second.prepaid_copies_;
    if (prepaid == 0) {
      entry.first.add_shares(kPrepaidCopies);
      prepaid = kPrepaidCopies;
    }
    --prepaid;
    return entry.first.prepaid_copy();
  }
  const LocationQueue& queue(LocationHandle h) const { return entries_[h].second.queue; }
  // Whether `h` is the entry of `location` now (a handle kept from earlier
  // may have been reused, or be any number at all).
  bool is_entry_of(LocationHandle h, const PacketLocation& location) const {
    return h < entries_.size() && entries_[h].second.in_use_ && entries_[h].first == location;
  }

  // The entry of `location`, created empty when absent.
  LocationHandle ensure(const PacketLocation& location);
  // Drops the entry of `location`, if any.
  void erase(const PacketLocation& location);
  // Drops the entry of `h`, which exists.
  void erase(LocationHandle h);

  // Queue changes. Each keeps the active index right.
  LocationQueue::Slot append(LocationHandle h, PacketIndex packet);
  template <class Renumber>
  void remove(LocationHandle h, LocationQueue::Slot slot, Renumber&& renumber);
  template <class Renumber>
  LocationQueue::Slot insert(LocationHandle h, std::size_t index, PacketIndex packet,
                             Renumber&& renumber);

  // The active index (any order).
  const std::vector<value_type*>& active() const { return active_; }

  // Entries by handle, in segments that never move: segment s holds
  // kFirstSegment << s entries, so a handle finds its entry with a shift
  // and a bit count, and a net of any size makes few allocations.
  class Segments {
   public:
    Segments() = default;
    Segments(const Segments&) = delete;
    Segments& operator=(const Segments&) = delete;
    ~Segments();

    std::size_t size() const { return size_; }
    value_type& operator[](std::size_t h) { return *slot(h); }
    const value_type& operator[](std::size_t h) const { return *slot(h); }
    template <class... Args>
    value_type& emplace_back(Args&&... args);

   private:
    static constexpr std::size_t kFirstSegment = 64;
    // Segment s starts at handle kFirstSegment * (2^s - 1).
    static std::size_t segment_of(std::size_t h) {
      // bit_width(x >> 1) is bit_width(x) - 1 for x >= 1.
      return static_cast<std::size_t>(std::bit_width((h / kFirstSegment + 1) >> 1));
    }
    static std::size_t segment_start(std::size_t s) {
      return kFirstSegment * ((std::size_t{1} << s) - 1);
    }
    value_type* slot(std::size_t h) const {
      const std::size_t s = segment_of(h);
      return segments_[s] + (h - segment_start(s));
    }
    std::vector<value_type*> segments_;  // raw storage, the first size_ slots built
    std::size_t size_ = 0;
  };

  // Walks the entries that exist, in handle order.
  template <class Entry, class Storage>
  class basic_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Entry;
    using difference_type = std::ptrdiff_t;
    using pointer = Entry*;
    using reference = Entry&;
    basic_iterator() = default;
    basic_iterator(Storage* d, std::size_t i) : d_(d), i_(i) { skip(); }
    reference operator*() const { return (*d_)[i_]; }
    pointer operator->() const { return &(*d_)[i_]; }
    basic_iterator& operator++() {
      ++i_;
      skip();
      return *this;
    }
    friend bool operator==(const basic_iterator& a, const basic_iterator& b) {
      return a.i_ == b.i_;
    }

   private:
    void skip() {
      while (i_ < d_->size() && !(*d_)[i_].second.in_use_) ++i_;
    }
    Storage* d_ = nullptr;
    std::size_t i_ = 0;
  };
  using const_iterator = basic_iterator<const value_type, const Segments>;
  const_iterator begin() const { return const_iterator(&entries_, 0); }
  const_iterator end() const { return const_iterator(&entries_, entries_.size()); }

 private:
  static bool is_tracked(PacketLocation::Kind kind) {
    return kind == PacketLocation::Kind::Edge || kind == PacketLocation::Kind::InputPort;
  }
  static constexpr std::uint32_t kPrepaidCopies = 256;
  // The largest queue storage a dropped entry keeps for its successor.
  static constexpr std::size_t kKeptQueueSlots = 64;

  void activate(LocationHandle h);
  void deactivate(LocationHandle h);
  void give_back_prepaid_copies(LocationHandle h);

  Segments entries_;
  std::vector<LocationHandle> free_;
  boost::unordered_flat_map<PacketLocation, LocationHandle, PacketLocationHash, PacketLocationEq>
      by_location_;
  std::vector<value_type*> active_;
};

template <class... Args>
LocationTable::value_type& LocationTable::Segments::emplace_back(Args&&... args) {
  const std::size_t s = segment_of(size_);
  if (s == segments_.size()) {
    segments_.reserve(s + 1);
    segments_.push_back(std::allocator<value_type>().allocate(kFirstSegment << s));
    // The big segments of a big net are written once through, entry by entry.
    advise_huge_pages(segments_.back(), (kFirstSegment << s) * sizeof(value_type));
  }
  value_type* entry = std::construct_at(slot(size_), std::forward<Args>(args)...);
  ++size_;
  return *entry;
}

template <class Renumber>
void LocationTable::remove(LocationHandle h, LocationQueue::Slot slot, Renumber&& renumber) {
  LocationQueue& queue = entries_[h].second.queue;
  queue.remove_slot(slot, renumber);
  if (queue.empty()) deactivate(h);
}

template <class Renumber>
LocationQueue::Slot LocationTable::insert(LocationHandle h, std::size_t index, PacketIndex packet,
                                          Renumber&& renumber) {
  const LocationQueue::Slot slot = entries_[h].second.queue.insert_at(index, packet, renumber);
  activate(h);
  return slot;
}

// The packet counts at the ports a salvo condition names, read from `table`
// through `find`, which gives a port's entry by name (kNoLocation: none).
template <class Find>
class CountsAtPorts final : public PortCountSource {
 public:
  CountsAtPorts(const LocationTable& table, Find find) : table_(table), find_(std::move(find)) {}
  std::uint64_t count(const Name& port_name) const override {
    const LocationHandle h = find_(port_name);
    return h == kNoLocation ? 0 : table_.queue(h).size();
  }

 private:
  const LocationTable& table_;
  Find find_;
};

}  // namespace zellik
