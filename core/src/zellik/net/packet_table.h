#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

#include <boost/unordered/unordered_flat_set.hpp>

#include "zellik/base/huge_pages.h"
#include "zellik/net/location_table.h"
#include "zellik/net/ulid.h"

namespace zellik {

// A packet as the net keeps it: its id, its location's handle and its slot in
// that location's queue.
struct PacketRecord {
  Ulid id;
  LocationHandle location = kNoLocation;
  LocationQueue::Slot slot = 0;
};

// Every packet of a net. The records live in one dense vector, one row per
// packet (a departed packet's row is reused), so the packets that arrived
// together sit together; queues name packets by row. Ids are found through a
// flat open-addressing set of row numbers hashed by the id in their row: four
// bytes of index per packet. Not copyable or movable: the set's hash and
// equality read the rows through a pointer to them.
//
// A look-up by id tries the row after the last one found before the set:
// packets made one after another get neighbouring rows and often leave in
// that order (a deep queue drained from its head), and then a look-up reads
// only a row next to one just read. In a big table the set's look-up is a
// miss to memory, which the guess spares; a wrong guess costs one compare.
class PacketTable {
 public:
  PacketTable() : index_(0, RowHash{&rows_}, RowEq{&rows_}) {}
  PacketTable(const PacketTable&) = delete;
  PacketTable& operator=(const PacketTable&) = delete;

  // The row of the packet `id`, or kNoPacket.
  PacketIndex find(const Ulid& id) const {
    const PacketIndex next = last_found_.load(std::memory_order_relaxed) + 1;  // 0 after none
    if (holds(next, id)) return found(next);
    const auto it = index_.find(id);
    return it == index_.end() ? kNoPacket : found(*it);
  }
  bool contains(const Ulid& id) const { return index_.contains(id); }
  // The row of the packet `id`, tried first at `hint` (a row the packet had
  // once, or any number), which saves hashing the id when it still holds.
  PacketIndex find(const Ulid& id, PacketIndex hint) const {
    return holds(hint, id) ? found(hint) : find(id);
  }
  std::size_t size() const { return index_.size(); }

  // Adds a packet whose id is not in the table and returns its row.
  PacketIndex insert(const Ulid& id, LocationHandle location, LocationQueue::Slot slot);
  // Adds a packet and returns its row, unless the id is in the table already
  // (then kNoPacket, the table unchanged): one probe of the set where a test
  // and an insert would make two.
  PacketIndex try_insert(const Ulid& id, LocationHandle location, LocationQueue::Slot slot);
  // Drops the packet in `row`.
  void erase(PacketIndex row);
  // Room for `packets` packets in all.
  void reserve(std::size_t packets);

  // The record in a row that holds a packet.
  PacketRecord& operator[](PacketIndex row) { return rows_[row]; }
  const PacketRecord& operator[](PacketIndex row) const { return rows_[row]; }

  // Calls `visit(row)` for every packet, in no particular order.
  template <class Visit>
  void for_each(Visit&& visit) const {
    for (const PacketIndex row : index_) visit(row);
  }

 private:
  // Whether `row` (any number) holds the packet `id`. An empty row holds the
  // all-zero id, so its location tells it apart.
  bool holds(PacketIndex row, const Ulid& id) const {
    return row < rows_.size() && rows_[row].id == id && rows_[row].location != kNoLocation;
  }
  PacketIndex found(PacketIndex row) const {
    last_found_.store(row, std::memory_order_relaxed);
    return row;
  }

  using Rows = std::vector<PacketRecord, HugePageAllocator<PacketRecord>>;
  struct RowHash {
    using is_transparent = void;
    const Rows* rows;
    std::size_t operator()(const Ulid& id) const { return UlidHash{}(id); }
    std::size_t operator()(PacketIndex row) const { return UlidHash{}((*rows)[row].id); }
  };
  struct RowEq {
    using is_transparent = void;
    const Rows* rows;
    // Two rows are the same element when they hold the same id (a row
    // being inserted may repeat an id already in the set).
    bool operator()(PacketIndex a, PacketIndex b) const {
      return a == b || (*rows)[a].id == (*rows)[b].id;
    }
    bool operator()(const Ulid& id, PacketIndex row) const { return (*rows)[row].id == id; }
    bool operator()(PacketIndex row, const Ulid& id) const { return (*rows)[row].id == id; }
  };

  Rows rows_;
  // The row found last: only a guess, checked before use, so finds through a
  // const table may update it from several threads at once.
  mutable std::atomic<PacketIndex> last_found_{kNoPacket};
  std::vector<PacketIndex> free_;
  boost::unordered_flat_set<PacketIndex, RowHash, RowEq, HugePageAllocator<PacketIndex>> index_;
};

}  // namespace zellik
