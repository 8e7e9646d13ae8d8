#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <unordered_map>
#include <vector>

#include "zellik/net/packet_queue.h"

namespace zellik {
namespace {

using Ids = std::vector<PacketIndex>;

PacketIndex id(std::uint64_t n) { return static_cast<PacketIndex>(n); }

Ids contents(const PacketQueue& q) { return Ids(q.begin(), q.end()); }

TEST(PacketQueue, DrainingAHundredThousandFromTheHeadIsLinear) {
  constexpr std::uint64_t kCount = 100000;
  PacketQueue q;
  for (std::uint64_t n = 0; n < kCount; ++n) q.push_back(id(n));
  auto no_renumber = [](PacketIndex, PacketQueue::Slot) {};
  const auto start = std::chrono::steady_clock::now();
  for (std::uint64_t n = 0; n < kCount; ++n) {
    ASSERT_EQ(q.front(), id(n));
    ASSERT_EQ(q.position(q.slot_at(0)), 0u);
    q.remove_slot(q.slot_at(0), no_renumber);
    if (n % 10000 == 0) {
      // Arrivals during the drain keep their place behind the rest.
      q.push_back(id(kCount + n));
      ASSERT_EQ(q.at(q.size() - 1), id(kCount + n));
    }
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(q.size(), 10u);
  EXPECT_EQ(q.front(), id(kCount));
  // A quadratic drain shifts ~80 GB here and takes many seconds.
  EXPECT_LT(elapsed, std::chrono::seconds(3));
}

// A queue driven by slots, as the net drives it, checked against a plain
// vector after every operation: order, positions, slots and the queue's own
// bookkeeping. Removals anywhere are put back newest first (as undo does),
// sometimes after enough removals that the queue compacted in between.
class SlotModel {
  using SlotMap = std::unordered_map<PacketIndex, PacketQueue::Slot>;
  struct Renumber {
    SlotMap& slots;
    void operator()(PacketIndex id, PacketQueue::Slot slot) const { slots[id] = slot; }
  };
  Renumber renumber() { return Renumber{slots_}; }

 public:
  explicit SlotModel(std::uint32_t seed) : rng_(seed) {}

  void push(PacketIndex id) {
    slots_[id] = q_.push_back(id);
    order_.push_back(id);
  }
  void remove_at(std::size_t p) {
    const PacketIndex id = order_[p];
    q_.remove_slot(slots_.at(id), renumber());
    slots_.erase(id);
    order_.erase(order_.begin() + static_cast<std::ptrdiff_t>(p));
    removed_.emplace_back(p, id);
  }
  void insert_at(std::size_t p, PacketIndex id) {
    slots_[id] = q_.insert_at(p, id, renumber());
    order_.insert(order_.begin() + static_cast<std::ptrdiff_t>(p), id);
  }
  // Puts back the newest removal where it was.
  void undo_one() {
    const auto [p, id] = removed_.back();
    removed_.pop_back();
    insert_at(p, id);
  }
  std::size_t pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
  }
  std::size_t size() const { return order_.size(); }
  std::size_t pending_undos() const { return removed_.size(); }
  void forget_undos() { removed_.clear(); }

  void check() const {
    ASSERT_TRUE(q_.consistent());
    ASSERT_EQ(q_.size(), order_.size());
    ASSERT_EQ(contents(q_), order_);
    for (std::size_t i = 0; i < order_.size(); ++i) {
      const PacketQueue::Slot slot = slots_.at(order_[i]);
      ASSERT_TRUE(q_.holds(slot, order_[i])) << "position " << i;
      ASSERT_EQ(q_.position(slot), i);
      ASSERT_EQ(q_.at(i), order_[i]);
      ASSERT_EQ(q_.slot_at(i), slot);
    }
  }

 private:
  PacketQueue q_;
  Ids order_;
  SlotMap slots_;
  std::vector<std::pair<std::size_t, PacketIndex>> removed_;
  std::mt19937 rng_;
};

TEST(PacketQueueSlots, RandomOperationsAgreeWithAPlainVector) {
  for (std::uint32_t seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    SlotModel m(seed);
    std::uint64_t next = 1;
    for (int step = 0; step < 1500; ++step) {
      const std::size_t op = m.pick(10);
      if (m.size() == 0 || op < 3) {
        m.push(id(next++));
      } else if (op == 3) {
        m.remove_at(0);
      } else if (op == 4) {
        m.remove_at(m.size() - 1);
      } else if (op < 7) {
        m.remove_at(m.pick(m.size()));
      } else if (op == 7) {
        m.forget_undos();
        m.insert_at(m.pick(m.size() + 1), id(next++));
      } else if (m.pending_undos() > 0) {
        m.undo_one();
      }
      // Undo stays valid only while nothing but removals happened since.
      if (op < 3) m.forget_undos();
      m.check();
      if (HasFatalFailure()) return;
    }
  }
}

// Holes spread over many blocks of a deep queue: removals anywhere (mostly
// from the middle), undos and inserts, checked against the plain vector.
TEST(PacketQueueSlots, RandomOperationsOnADeepQueueAgreeWithAPlainVector) {
  for (std::uint32_t seed = 1; seed <= 3; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    SlotModel m(seed);
    std::uint64_t next = 1;
    for (int n = 0; n < 1000; ++n) m.push(id(next++));
    for (int step = 0; step < 400; ++step) {
      const std::size_t op = m.pick(10);
      if (op == 0) {
        m.push(id(next++));
        m.forget_undos();
      } else if (op < 6) {
        m.remove_at(m.pick(m.size()));
      } else if (op == 6) {
        m.forget_undos();
        m.insert_at(m.pick(m.size() + 1), id(next++));
      } else if (m.pending_undos() > 0) {
        m.undo_one();
      }
      if (step % 20 == 0) m.check();
      if (HasFatalFailure()) return;
    }
    m.check();
  }
}

TEST(PacketQueueSlots, UndoAtEveryPositionOfADeepQueueRestoresOrderAndSlot) {
  constexpr std::uint64_t kDepth = 600;
  PacketQueue q;
  std::vector<PacketQueue::Slot> slots;
  for (std::uint64_t n = 0; n < kDepth; ++n) slots.push_back(q.push_back(id(n)));
  const Ids original = contents(q);
  auto no_renumber = [](PacketIndex who, PacketQueue::Slot) { ADD_FAILURE() << who << " moved"; };
  for (std::size_t p = 0; p < kDepth; ++p) {
    ASSERT_EQ(q.position(slots[p]), p);
    q.remove_slot(slots[p], no_renumber);
    // The packet goes back into the hole it left: no other packet moves.
    ASSERT_EQ(q.insert_at(p, id(p), no_renumber), slots[p]);
    ASSERT_EQ(contents(q), original);
    ASSERT_TRUE(q.consistent());
  }
}

TEST(PacketQueueSlots, PutsBackManyRemovalsAfterCompactionAndAtTheFront) {
  SlotModel m(99);
  for (std::uint64_t n = 0; n < 400; ++n) m.push(id(n));
  // Enough removals from the middle that holes outnumber packets and the
  // queue compacts; the holes are gone when undo puts the packets back.
  for (int i = 0; i < 300; ++i) m.remove_at(1 + m.pick(m.size() - 2));
  m.check();
  while (m.pending_undos() > 0) m.undo_one();
  m.check();
  // A drained head put back one by one, past the reclaimed prefix.
  for (int i = 0; i < 390; ++i) m.remove_at(0);
  for (int i = 0; i < 100; ++i) m.push(id(1000 + static_cast<std::uint64_t>(i)));
  m.forget_undos();
  for (int i = 0; i < 50; ++i) m.insert_at(0, id(5000 + static_cast<std::uint64_t>(i)));
  m.check();
}

}  // namespace
}  // namespace zellik
