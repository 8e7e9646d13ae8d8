#include "zellik/explore/cursor.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/explore_graphs.h"
#include "zellik/net/net_view.h"

namespace zellik::explore {
namespace {

// Everything the net holds, ids included, as text, with the order of the
// queues that keep one: edges and input ports. (Undoing a consume puts the
// packet back at the end of its epoch, so the order inside one is not kept.)
std::string exact_state(const NetSim& net) {
  std::string out;
  for (const Packet& packet : list_packets(net)) {
    out += packet.id.to_string() + " at " + packet.location.debug_string();
    if (!packet.location.is(PacketLocation::Kind::Edge) &&
        !packet.location.is(PacketLocation::Kind::InputPort)) {
      out += "\n";
      continue;
    }
    out += " behind";
    for (const Ulid& other : net.get_packets_at_location(packet.location)) {
      if (other == packet.id) break;
      out.append(" ").append(other.to_string());
    }
    out += "\n";
  }
  for (const Epoch& epoch : list_epochs(net)) {
    out += epoch.id.to_string() + " of " + epoch.node_name.str() + " state " +
           std::to_string(static_cast<int>(epoch.state)) + " salvos out " +
           std::to_string(epoch.out_salvos.size()) + "\n";
  }
  return out;
}

struct Case {
  Graph graph;
  Declarations declarations;
};

std::vector<Case> cases() {
  return {{testkit::router_graph(), testkit::router_declarations(3)},
          {testkit::fork_join_graph(1), testkit::fork_join_declarations(3)},
          {testkit::fork_join_graph(2), testkit::fork_join_declarations(4)}};
}

// Random choices taken and undone: every undo puts the net back exactly,
// ids and queue order included, with the allowances it used; a choice that
// does not move the cursor changes nothing.
TEST(NetCursor, BackPutsTheNetAndTheAllowancesBackExactly) {
  for (const Case& c : cases()) {
    NetSim start(c.graph, IdSource::Seeded(3));
    const Setting setting(start, c.declarations);
    NetCursor cursor(setting, start.graph(), /*shows_ids=*/false);
    std::mt19937_64 rng(11);
    std::vector<std::pair<std::string, Fingerprint>> run{{exact_state(cursor.net()), cursor.key()}};
    std::size_t deepest = 0;
    for (int move = 0; move < 3000; ++move) {
      const std::size_t count = cursor.choices().size();
      ASSERT_GT(count, 0U);
      if (cursor.depth() > 0 && rng() % 3 == 0) {
        cursor.back();
        run.pop_back();
        ASSERT_EQ(exact_state(cursor.net()), run.back().first) << "move " << move;
        ASSERT_EQ(cursor.key(), run.back().second) << "move " << move;
        continue;
      }
      std::string failure;
      const auto index = static_cast<std::uint16_t>(rng() % count);
      if (cursor.take(index, &failure) == Applied::Yes) {
        run.emplace_back(exact_state(cursor.net()), cursor.key());
        ASSERT_NE(run.back().second, run[run.size() - 2].second) << "a move that changes nothing";
        deepest = std::max(deepest, cursor.depth());
      } else {
        ASSERT_EQ(exact_state(cursor.net()), run.back().first) << "move " << move;
        ASSERT_EQ(cursor.key(), run.back().second) << "move " << move;
      }
      ASSERT_EQ(cursor.depth() + 1, run.size());
    }
    EXPECT_GT(deepest, 5U) << "the walk stayed near the start";
    cursor.to_start();
    EXPECT_EQ(cursor.key(), run.front().second);
  }
}

// States numbered as a search numbers them are reached again along their
// first runs, from wherever the cursor is, and on a cursor that shows the
// start's ids, whose run replays on the start.
TEST(NetCursor, GoToReachesANumberedStateFromAnywhere) {
  for (const Case& c : cases()) {
    NetSim start(c.graph, IdSource::Seeded(4));
    const Setting setting(start, c.declarations);
    NetCursor cursor(setting, start.graph(), /*shows_ids=*/false);
    VisitedSet visited(/*exact=*/false);
    visited.insert(cursor.key(), cursor.key_words(), 0, 0);
    std::mt19937_64 rng(5);
    // Number what random walks from the start find.
    for (int walk = 0; walk < 40; ++walk) {
      cursor.to_start();
      for (int step = 0; step < 30; ++step) {
        const std::size_t count = cursor.choices().size();
        const auto index = static_cast<std::uint16_t>(rng() % count);
        const std::uint32_t parent = cursor.state();
        if (cursor.take(index, nullptr) != Applied::Yes) continue;
        const auto [state, fresh] = visited.insert(cursor.key(), cursor.key_words(), parent, index);
        if (!fresh) {
          cursor.back();
          cursor.go_to(state, visited);
        } else {
          cursor.number(state);
        }
      }
    }
    ASSERT_GT(visited.size(), 20U);
    for (int i = 0; i < 200; ++i) {
      const auto state = static_cast<std::uint32_t>(rng() % visited.size());
      cursor.go_to(state, visited);
      ASSERT_EQ(cursor.state(), state);
      ASSERT_EQ(cursor.key(), visited.fingerprint(state)) << "state " << state;
    }
    for (std::uint32_t state = 0; state < visited.size(); state += 7) {
      NetCursor shown(setting, start.graph(), /*shows_ids=*/true);
      std::vector<RecordedAction> log;
      shown.go_to(state, visited, &log);
      ASSERT_EQ(shown.key(), visited.fingerprint(state));
      NetSim replay(c.graph, IdSource::Seeded(4));
      for (const RecordedAction& step : log) {
        const NetActionResponse response = replay.do_action(step.action);
        ASSERT_TRUE(response.ok());
        ASSERT_EQ(response.value().events.size(), step.response.value().events.size());
      }
      EXPECT_EQ(exact_state(replay), exact_state(shown.net())) << "state " << state;
    }
  }
}

}  // namespace
}  // namespace zellik::explore
