#include "zellik/net/packet_table.h"

#include "zellik/base/internal_failure.h"

namespace zellik {

PacketIndex PacketTable::insert(const Ulid& id, LocationHandle location, LocationQueue::Slot slot) {
  const PacketIndex row = try_insert(id, location, slot);
  if (row == kNoPacket) fail("Packet " + id.to_string() + " is in the table already");
  return row;
}

PacketIndex PacketTable::try_insert(const Ulid& id, LocationHandle location,
                                    LocationQueue::Slot slot) {
  PacketIndex row;
  if (free_.empty()) {
    if (rows_.size() >= kNoPacket) fail("Too many packets in one net");
    row = static_cast<PacketIndex>(rows_.size());
    rows_.push_back(PacketRecord{id, location, slot});
  } else {
    row = free_.back();
    free_.pop_back();
    rows_[row] = PacketRecord{id, location, slot};
  }
  // The row holds the id before the set hashes it.
  if (!index_.insert(row).second) {
    rows_[row] = PacketRecord{};
    free_.push_back(row);
    return kNoPacket;
  }
  return row;
}

void PacketTable::erase(PacketIndex row) {
  // The set finds the row by the id still in it.
  index_.erase(row);
  rows_[row] = PacketRecord{};
  free_.push_back(row);
}

void PacketTable::reserve(std::size_t packets) {
  rows_.reserve(packets);
  index_.reserve(packets);
}

}  // namespace zellik
