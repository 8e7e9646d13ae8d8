#include "zellik/net/location_table.h"

#include <memory>
#include <utility>

namespace zellik {

LocationTable::Segments::~Segments() {
  for (std::size_t h = 0; h < size_; ++h) std::destroy_at(slot(h));
  for (std::size_t s = 0; s < segments_.size(); ++s) {
    std::allocator<value_type>().deallocate(segments_[s], kFirstSegment << s);
  }
}

LocationTable::~LocationTable() {
  for (std::size_t h = 0; h < entries_.size(); ++h) {
    give_back_prepaid_copies(static_cast<LocationHandle>(h));
  }
}

void LocationTable::give_back_prepaid_copies(LocationHandle h) {
  value_type& entry = entries_[h];
  entry.first.drop_shares(std::exchange(entry.second.prepaid_copies_, 0));
}

LocationHandle LocationTable::find(const PacketLocation& location) const {
  const auto it = by_location_.find(location);
  return it == by_location_.end() ? kNoLocation : it->second;
}

LocationHandle LocationTable::ensure(const PacketLocation& location) {
  const auto [it, inserted] = by_location_.try_emplace(location, kNoLocation);
  if (!inserted) return it->second;
  LocationHandle h;
  if (free_.empty()) {
    h = static_cast<LocationHandle>(entries_.size());
    entries_.emplace_back(location, LocationEntry{});
  } else {
    h = free_.back();
    free_.pop_back();
    value_type* slot = &entries_[h];
    LocationQueue kept = std::move(slot->second.queue);  // see erase
    std::destroy_at(slot);
    std::construct_at(slot, location, LocationEntry{});
    slot->second.queue = std::move(kept);
  }
  entries_[h].second.in_use_ = true;
  entries_[h].second.handle_ = h;
  entries_[h].second.kind_ = location.kind();
  it->second = h;
  return h;
}

void LocationTable::erase(const PacketLocation& location) {
  const LocationHandle h = find(location);
  if (h != kNoLocation) erase(h);
}

void LocationTable::erase(LocationHandle h) {
  deactivate(h);
  give_back_prepaid_copies(h);
  by_location_.erase(entries_[h].first);
  // A small queue's storage stays for the next entry made in this slot
  // (epochs come and go all the time); a large one's is released.
  LocationEntry& entry = entries_[h].second;
  LocationQueue kept = std::move(entry.queue);
  entry = LocationEntry{};
  if (kept.capacity() <= kKeptQueueSlots) {
    kept.recycle();
    entry.queue = std::move(kept);
  }
  free_.push_back(h);
}

LocationQueue::Slot LocationTable::append(LocationHandle h, PacketIndex packet) {
  const LocationQueue::Slot slot = entries_[h].second.queue.push_back(packet);
  activate(h);
  return slot;
}

void LocationTable::activate(LocationHandle h) {
  value_type& entry = entries_[h];
  if (entry.second.active_slot_ != LocationEntry::kNotActive || !is_tracked(entry.second.kind_)) {
    return;
  }
  entry.second.active_slot_ = active_.size();
  active_.push_back(&entry);
}

// Swap-remove: the last entry of the index takes the departing entry's slot.
void LocationTable::deactivate(LocationHandle h) {
  LocationEntry& entry = entries_[h].second;
  const std::size_t slot = entry.active_slot_;
  if (slot == LocationEntry::kNotActive) return;
  value_type* last = active_.back();
  active_[slot] = last;
  last->second.active_slot_ = slot;
  active_.pop_back();
  entry.active_slot_ = LocationEntry::kNotActive;
}

}  // namespace zellik
