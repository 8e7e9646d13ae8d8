#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "support/graph_builders.h"
#include "support/step_fixtures.h"
#include "zellik/net/net_sim.h"
#include "zellik/net/ulid.h"

namespace zellik {
namespace {

using testkit::act;
using testkit::edge;
using testkit::expect_success;
using testkit::make_packet;
using testkit::node;
using testkit::NodeBuilder;
using testkit::on_edge;
using testkit::when_non_empty;

Timestamp timestamp_of(const NetEvent& event) {
  return std::visit([](const auto& e) { return e.timestamp; }, event);
}

std::vector<Ulid> take_ids(IdSource& source, int count) {
  std::vector<Ulid> ids;
  for (int i = 0; i < count; ++i) ids.push_back(source.next_id());
  return ids;
}

TEST(IdSource, SameSeedSameSequenceStrictlyOrderedOnALogicalClock) {
  IdSource a = IdSource::Seeded(42);
  IdSource b = IdSource::Seeded(42);
  IdSource other = IdSource::Seeded(43);
  const std::vector<Ulid> ids = take_ids(a, 50);
  EXPECT_EQ(ids, take_ids(b, 50));
  EXPECT_NE(ids, take_ids(other, 50));

  // One millisecond per id, from the fixed start: creation order is id order.
  for (std::size_t i = 0; i < ids.size(); ++i) {
    EXPECT_EQ(ids[i].timestamp_ms(), static_cast<std::uint64_t>(IdSource::kSeededStartMillis) + i);
    if (i > 0) {
      EXPECT_LT(ids[i - 1], ids[i]);
    }
  }
  // Timestamps share the clock with ids.
  EXPECT_EQ(a.next_timestamp(), IdSource::kSeededStartMillis + 50);
  EXPECT_EQ(a.next_id().timestamp_ms(),
            static_cast<std::uint64_t>(IdSource::kSeededStartMillis) + 51);
}

TEST(IdSource, RestoredStateContinuesTheSequence) {
  IdSource source = IdSource::Seeded(7);
  take_ids(source, 3);
  const IdSource::State saved = source.state();
  const std::vector<Ulid> expected = take_ids(source, 5);

  IdSource restored;
  ASSERT_TRUE(restored.restore(saved));
  EXPECT_TRUE(restored.seeded());
  EXPECT_EQ(take_ids(restored, 5), expected);
  EXPECT_EQ(restored.state(), source.state());

  // A generator never reaches all-zero words; such a state is refused.
  IdSource::State broken = saved;
  broken.generator = {0, 0, 0, 0};
  EXPECT_FALSE(restored.restore(broken));
  EXPECT_EQ(restored.state(), source.state());
}

TEST(IdSource, UnseededFollowsTheWallClockWithFreshIds) {
  IdSource a;
  IdSource b;
  EXPECT_FALSE(a.seeded());
  const Timestamp before = now_millis();
  const Ulid id = a.next_id();
  EXPECT_NE(id, b.next_id());
  EXPECT_GE(static_cast<Timestamp>(id.timestamp_ms()), before);
  EXPECT_GE(a.next_timestamp(), before);
  EXPECT_FALSE(a.state().seeded);
}

// A run that touches packets, epochs, salvos and orphans: every event kind
// that an action or a step builds with a timestamp.
EventList drive(NetSim& net) {
  EventList all;
  auto append = [&all](const EventList& events) {
    all.insert(all.end(), events.begin(), events.end());
  };
  const Ulid p = make_packet(net);
  append(act(net, action::TransportPacketToLocation{p, on_edge("A.out", "B.in")}));
  append(net.run_until_blocked());
  const Ulid epoch = net.get_startable_epochs().at(0);
  append(act(net, action::StartEpoch{epoch}));
  append(act(net, action::LoadPacketIntoOutputPort{p, Name("lost")}));
  append(act(net, action::SendOutputSalvo{epoch, Name("send")}));
  const NetActionSuccess made = expect_success(net.do_action(action::CreatePacket{epoch}));
  append(made.events);
  append(act(net, action::CancelEpoch{epoch}));
  return all;
}

Graph orphaning_graph() {
  return Graph({node("A", {}, {"out"}), NodeBuilder("B")
                                            .in("in")
                                            .out("lost")
                                            .in_condition("go", when_non_empty("in"))
                                            .out_condition("send", when_non_empty("lost"))},
               {edge("A.out", "B.in")});
}

TEST(IdSource, SeededNetsGiveIdenticalIdsAndTimestampsFromTheNetsClock) {
  NetSim first(orphaning_graph(), IdSource::Seeded(5));
  NetSim second(orphaning_graph(), IdSource::Seeded(5));
  const EventList a = drive(first);
  const EventList b = drive(second);
  ASSERT_EQ(a.size(), b.size());
  ASSERT_GE(a.size(), 10u);
  Timestamp previous = IdSource::kSeededStartMillis - 1;
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].index(), b[i].index());
    EXPECT_EQ(timestamp_of(a[i]), timestamp_of(b[i]));
    // Every event took the net's clock, never the wall clock.
    EXPECT_GT(timestamp_of(a[i]), previous) << "event " << i;
    previous = timestamp_of(a[i]);
  }
  EXPECT_LT(previous, IdSource::kSeededStartMillis + 1000);
  EXPECT_EQ(first.id_source().state(), second.id_source().state());
  EXPECT_EQ(std::get<event::PacketMoved>(a[0]).packet_id,
            std::get<event::PacketMoved>(b[0]).packet_id);
}

}  // namespace
}  // namespace zellik
