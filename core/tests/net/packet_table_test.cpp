#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "zellik/net/packet_table.h"

namespace zellik {
namespace {

// The table against a plain map of id to row: every live id is found at its
// row with its record, every departed or unknown id is not found, and a walk
// visits each live row once.
class Model {
 public:
  PacketIndex insert(const Ulid& id) {
    const auto location = static_cast<LocationHandle>(id.lo % 1000);
    const auto slot = static_cast<LocationQueue::Slot>(id.hi % 1000);
    const PacketIndex row = table.insert(id, location, slot);
    EXPECT_TRUE(rows.emplace(id, row).second) << id.to_string();
    return row;
  }
  void erase(const Ulid& id) {
    const auto it = rows.find(id);
    ASSERT_NE(it, rows.end());
    table.erase(it->second);
    rows.erase(it);
    gone.push_back(id);
  }
  // Checks every live id and up to `departed` of the departed ones.
  void check(std::size_t departed = 200) const {
    ASSERT_EQ(table.size(), rows.size());
    for (const auto& [id, row] : rows) {
      ASSERT_EQ(table.find(id), row) << id.to_string();
      ASSERT_TRUE(table.contains(id));
      ASSERT_EQ(table[row].id, id);
      ASSERT_EQ(table[row].location, static_cast<LocationHandle>(id.lo % 1000));
      ASSERT_EQ(table[row].slot, static_cast<LocationQueue::Slot>(id.hi % 1000));
    }
    for (std::size_t i = 0; i < std::min(departed, gone.size()); ++i) {
      const Ulid& id = gone[gone.size() - 1 - i];
      if (rows.count(id) != 0) continue;  // came back
      ASSERT_EQ(table.find(id), kNoPacket) << id.to_string();
      ASSERT_FALSE(table.contains(id));
    }
    std::unordered_set<PacketIndex> visited;
    table.for_each([&](PacketIndex row) { EXPECT_TRUE(visited.insert(row).second) << row; });
    ASSERT_EQ(visited.size(), rows.size());
    for (const auto& [id, row] : rows) ASSERT_EQ(visited.count(row), 1u) << id.to_string();
  }

  PacketTable table;
  std::unordered_map<Ulid, PacketIndex, UlidHash> rows;
  std::vector<Ulid> gone;
};

Ulid random_id(std::mt19937_64& rng) { return Ulid{rng() >> 16, rng()}; }

TEST(PacketTable, MatchesAMapUnderRandomInsertEraseAndFind) {
  Model m;
  std::mt19937_64 rng(11);
  std::vector<Ulid> live;
  // Grow to 60,000 packets through many rehashes, shrink to a few, grow
  // again: erased rows are reused and the index stays exact throughout.
  for (const std::size_t target : {60'000u, 500u, 30'000u, 0u, 5'000u}) {
    while (live.size() != target) {
      const bool grow = live.size() < target ? rng() % 4 != 0 : rng() % 4 == 0;
      if (grow || live.empty()) {
        live.push_back(random_id(rng));
        m.insert(live.back());
      } else {
        const std::size_t k = rng() % live.size();
        m.erase(live[k]);
        live[k] = live.back();
        live.pop_back();
      }
      if (m.rows.size() % 4'999 == 0) m.check(20);
    }
    m.check();
  }
  EXPECT_EQ(m.table.find(random_id(rng)), kNoPacket);
}

TEST(PacketTable, ReusesDepartedRowsBeforeGrowing) {
  Model m;
  const Ulid a{1, 1}, b{2, 2}, c{3, 3};
  const PacketIndex ra = m.insert(a);
  const PacketIndex rb = m.insert(b);
  EXPECT_NE(ra, rb);
  m.erase(a);
  EXPECT_EQ(m.insert(c), ra);
  m.check();
  // A departed id put back is found again, at whatever row it gets.
  m.insert(a);
  m.check();
}

// An id already in the table is refused without a trace: no row taken, no
// record changed, the packet that has it still found at its row.
TEST(PacketTable, TryInsertRefusesAnIdItHoldsAndChangesNothing) {
  Model m;
  const Ulid a{1, 1}, b{2, 2};
  const PacketIndex ra = m.insert(a);
  m.insert(b);
  EXPECT_EQ(m.table.try_insert(a, 7, 7), kNoPacket);
  m.check();
  // The row it would have taken is still the next one handed out.
  m.erase(b);
  const PacketIndex rc = m.table.try_insert(Ulid{3, 3}, 1, 2);
  ASSERT_NE(rc, kNoPacket);
  EXPECT_NE(rc, ra);
  EXPECT_EQ(m.table.find(Ulid{3, 3}), rc);
  EXPECT_EQ(m.table.find(a), ra);
  EXPECT_EQ(m.table.size(), 2u);
}

// Ids whose hashes are equal, or equal in their low bits, crowd one part of
// the index, so finds must tell them apart by the id in the row and erasures
// must leave every other id of the crowd findable.
TEST(PacketTable, StaysExactWhenHashesCollide) {
  Model m;
  std::mt19937_64 rng(5);
  std::vector<Ulid> ids;
  constexpr std::uint64_t kGolden = 0x9e3779b97f4a7c15ULL;  // the id hash's multiplier
  for (std::uint64_t k = 1; k <= 300; ++k) {
    ids.push_back(Ulid{k, 0x1234 ^ (k * kGolden)});  // one hash for all of them
    ids.push_back(Ulid{0, k << 32});                 // low 32 bits of the hash equal
    ids.push_back(Ulid{0, (k << 32) | 0xffffffffu});
    ids.push_back(Ulid{k, rng()});  // and some unrelated ids
  }
  ASSERT_EQ(UlidHash{}(ids[0]), UlidHash{}(ids[4]));
  for (const Ulid& id : ids) m.insert(id);
  m.check();
  // Erase in an order that opens holes at the front, middle and end of runs.
  std::vector<Ulid> order = ids;
  std::shuffle(order.begin(), order.end(), rng);
  for (std::size_t i = 0; i < order.size(); ++i) {
    m.erase(order[i]);
    if (i % 37 == 0) m.check();
    if (i % 3 == 0) {  // refill as we go, so runs keep changing shape
      const Ulid back{0, ((i + 1000) << 32) | 0xffffffffu};
      m.insert(back);
    }
  }
  m.check();
  for (const auto& [id, row] : std::unordered_map<Ulid, PacketIndex, UlidHash>(m.rows)) m.erase(id);
  m.check();
  EXPECT_EQ(m.table.size(), 0u);
}

TEST(PacketTable, FindWithHintChecksTheHintedRow) {
  PacketTable t;
  const Ulid a{1, 10}, b{2, 20};
  const PacketIndex ra = t.insert(a, 3, 4);
  const PacketIndex rb = t.insert(b, 5, 6);
  EXPECT_EQ(t.find(a, ra), ra);
  EXPECT_EQ(t.find(a, rb), ra);     // wrong hint: looked up
  EXPECT_EQ(t.find(a, 12345), ra);  // hint past the rows
  EXPECT_EQ(t.find(a, kNoPacket), ra);
  t.erase(ra);
  EXPECT_EQ(t.find(a, ra), kNoPacket);  // the hinted row is empty now
  const PacketIndex rc = t.insert(Ulid{3, 30}, 7, 8);
  ASSERT_EQ(rc, ra);
  EXPECT_EQ(t.find(a, rc), kNoPacket);  // the row holds another packet
  EXPECT_EQ(t.find(b, rb), rb);
}

// Packets are often looked up in the order they were made, one row after
// another; whatever shortcut that takes, a row that was emptied or given to
// another packet must not answer for the id it used to hold.
TEST(PacketTable, FindsInRowOrderNeverTrustAStaleRow) {
  PacketTable t;
  std::vector<Ulid> ids;
  for (std::uint64_t k = 0; k < 10; ++k) ids.push_back(Ulid{100 + k, 7 * k + 1});
  for (const Ulid& id : ids) t.insert(id, 1, 0);
  for (PacketIndex row = 0; row < 10; ++row) ASSERT_EQ(t.find(ids[row]), row);
  ASSERT_EQ(t.find(Ulid{999, 999}), kNoPacket);  // past the last row

  // Row 4 is given to another packet.
  t.erase(4);
  const Ulid other{555, 555};
  ASSERT_EQ(t.insert(other, 2, 0), 4u);
  ASSERT_EQ(t.find(ids[3]), 3u);
  EXPECT_EQ(t.find(ids[4]), kNoPacket);
  ASSERT_EQ(t.find(ids[3]), 3u);
  EXPECT_EQ(t.find(other), 4u);

  // Row 5 is emptied; row 7 is emptied, holds the all-zero id a while and is
  // emptied again: an empty row's record has that id too.
  t.erase(5);
  EXPECT_EQ(t.find(ids[5]), kNoPacket);
  t.erase(7);
  const Ulid zero{0, 0};
  ASSERT_EQ(t.insert(zero, 3, 0), 7u);  // the last row freed comes back first
  ASSERT_EQ(t.find(ids[6]), 6u);
  ASSERT_EQ(t.find(zero), 7u);
  t.erase(7);
  const PacketTable& view = t;
  ASSERT_EQ(view.find(ids[6]), 6u);
  EXPECT_EQ(view.find(zero), kNoPacket);
  ASSERT_EQ(view.find(ids[6]), 6u);
  EXPECT_FALSE(view.contains(zero));
  ASSERT_EQ(view.find(ids[8]), 8u);
  ASSERT_EQ(view.find(ids[9]), 9u);
  EXPECT_EQ(t.size(), 8u);
}

TEST(PacketTable, ReserveKeepsWhatIsThere) {
  Model m;
  std::mt19937_64 rng(3);
  for (int i = 0; i < 1'000; ++i) m.insert(random_id(rng));
  m.table.reserve(200'000);
  m.check();
  for (int i = 0; i < 10'000; ++i) m.insert(random_id(rng));
  m.check();
}

}  // namespace
}  // namespace zellik
