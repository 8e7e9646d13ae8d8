#include "zellik/explore/explorer.h"
#include "zellik/explore/replay.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <map>
#include <random>
#include <tuple>

#include "support/explore_graphs.h"
#include "zellik/net/snapshot.h"

namespace zellik::explore {
namespace {

using testkit::feed_edge;

ExplorationResult explore_all(const NetSim& net, const Declarations& d, Options options = {}) {
  Explorer explorer(net, d, options);
  while (!explorer.run(std::chrono::steady_clock::now() + std::chrono::seconds(10))) {
  }
  return explorer.finish();
}

std::map<TerminalKind, int> kinds(const ExplorationResult& r) {
  std::map<TerminalKind, int> counts;
  for (const TerminalState& t : r.terminals) ++counts[t.kind];
  return counts;
}

// Packets put on the feed edge by hand, one by one.
void inject(NetSim& net, const Edge& feed, int packets) {
  for (int i = 0; i < packets; ++i) {
    const NetActionResponse made = net.do_action(action::CreatePacket{});
    const Ulid id = std::get<response::Packet>(made.value().data).packet_id;
    ASSERT_TRUE(
        net.do_action(action::TransportPacketToLocation{id, PacketLocation::Edge(feed)}).ok());
  }
}

TEST(Fingerprint, IgnoresIdsAndTellsCountsEpochsAndPlacesApart) {
  NetSim one(testkit::router_graph(), IdSource::Seeded(1));
  NetSim other(testkit::router_graph(), IdSource::Seeded(2));
  const Edge feed = feed_edge("router");
  std::vector<Fingerprint> seen{fingerprint(one)};
  EXPECT_EQ(fingerprint(one), fingerprint(other));
  for (int round = 0; round < 3; ++round) {
    inject(one, feed, 1);
    inject(other, feed, 1);
    seen.push_back(fingerprint(one));
    ASSERT_TRUE(one.do_action(action::RunStep{}).ok());
    ASSERT_TRUE(other.do_action(action::RunStep{}).ok());
    EXPECT_EQ(fingerprint(one), fingerprint(other)) << "round " << round;
    seen.push_back(fingerprint(one));
  }
  // Every state above differs from every other: packet counts, places and
  // the startable epoch all show.
  for (std::size_t i = 0; i < seen.size(); ++i) {
    for (std::size_t j = i + 1; j < seen.size(); ++j) EXPECT_NE(seen[i], seen[j]) << i << " " << j;
  }
  // A startable epoch becoming running is a difference too.
  const Ulid epoch = one.get_startable_epochs().front();
  const Fingerprint startable = fingerprint(one);
  ASSERT_TRUE(one.do_action(action::StartEpoch{epoch}).ok());
  EXPECT_NE(fingerprint(one), startable);
}

// The three ways of keeping and ordering states agree on what is reachable.
TEST(Explorer, OrdersAndModesAgreeOnStatesAndTerminalStates) {
  for (const auto& [graph, declarations] :
       {std::pair{testkit::router_graph(), testkit::router_declarations(3)},
        std::pair{testkit::fork_join_graph(1), testkit::fork_join_declarations(3)},
        std::pair{testkit::fork_join_graph(2), testkit::fork_join_declarations(4)}}) {
    NetSim net(graph);
    const ExplorationResult bfs = explore_all(net, declarations);
    Options dfs_options;
    dfs_options.order = SearchOrder::DepthFirst;
    const ExplorationResult dfs = explore_all(net, declarations, dfs_options);
    Options exact_options;
    exact_options.exact = true;
    const ExplorationResult exact = explore_all(net, declarations, exact_options);
    EXPECT_TRUE(bfs.finished && dfs.finished && exact.finished);
    EXPECT_EQ(bfs.states, dfs.states);
    EXPECT_EQ(bfs.states, exact.states);
    EXPECT_EQ(kinds(bfs), kinds(dfs));
    EXPECT_EQ(kinds(bfs), kinds(exact));
    // A limit never reached makes breadth-first expand one layer at a time
    // instead of two: the same states, transitions, and terminal states in
    // the same order with runs as long.
    Options one_layer;
    one_layer.limits.max_packets = 1000;
    const ExplorationResult layer = explore_all(net, declarations, one_layer);
    EXPECT_EQ(std::tuple(bfs.states, bfs.transitions, bfs.max_depth),
              std::tuple(layer.states, layer.transitions, layer.max_depth));
    ASSERT_EQ(bfs.terminals.size(), layer.terminals.size());
    for (std::size_t i = 0; i < bfs.terminals.size(); ++i) {
      const TerminalState& x = bfs.terminals[i];
      const TerminalState& y = layer.terminals[i];
      EXPECT_EQ(std::tuple(x.kind, x.fingerprint, x.depth, x.run.size()),
                std::tuple(y.kind, y.fingerprint, y.depth, y.run.size()))
          << "terminal " << i;
    }
    // Breadth-first finds terminal states nearest first.
    for (std::size_t i = 1; i < bfs.terminals.size(); ++i) {
      EXPECT_LE(bfs.terminals[i - 1].depth, bfs.terminals[i].depth);
    }
  }
}

// Every stuck state's run, replayed on a fork of the start, reaches it.
TEST(Explorer, StuckRunsReplayOnAForkOfTheStart) {
  NetSim start(testkit::fork_join_graph(1), IdSource::Seeded(5));
  const std::string before = encode_snapshot(start);
  const ExplorationResult result = explore_all(start, testkit::fork_join_declarations(3));
  EXPECT_EQ(encode_snapshot(start), before) << "the caller's net changed";
  ASSERT_EQ(kinds(result)[TerminalKind::Stuck], static_cast<int>(result.terminals.size()));
  for (const TerminalState& stuck : result.terminals) {
    auto fork = decode_snapshot(start.graph(), before);
    ASSERT_TRUE(fork.ok());
    NetSim& net = *fork.value();
    for (const RecordedAction& step : stuck.run) ASSERT_TRUE(net.do_action(step.action).ok());
    EXPECT_EQ(fingerprint(net), stuck.fingerprint);
    EXPECT_TRUE(net.is_blocked());
    EXPECT_TRUE(net.get_startable_epochs().empty());
    EXPECT_FALSE(stuck.waiting.empty());
    EXPECT_EQ(stuck.blocked_conditions.front(), std::pair(Name("batch"), Name("two")));
  }
}

// An unseeded start's fork makes ids of its own: the replay pairs them.
TEST(Replay, PairsTheIdsOfAnUnseededStartAndStopsWhereTheNetDiffers) {
  NetSim start(testkit::fork_join_graph(1));
  const std::string before = encode_snapshot(start);
  const ExplorationResult result = explore_all(start, testkit::fork_join_declarations(3));
  ASSERT_FALSE(result.terminals.empty());
  for (const TerminalState& stuck : result.terminals) {
    auto fork = decode_snapshot(start.graph(), before);
    ASSERT_TRUE(fork.ok());
    const Replay replay = replay_run(*fork.value(), stuck.run);
    EXPECT_EQ(replay.mismatch, "");
    EXPECT_EQ(replay.done, stuck.run.size());
    EXPECT_EQ(fingerprint(*fork.value()), stuck.fingerprint);
    std::size_t renamed = 0;
    for (std::size_t i = 0; i < stuck.run.size(); ++i) {
      using Transport = action::TransportPacketToLocation;
      if (const auto* was = std::get_if<Transport>(&stuck.run[i].action)) {
        renamed += std::get<Transport>(replay.actions[i]).packet_id != was->packet_id;
      }
    }
    EXPECT_GT(renamed, 0U) << "an unseeded fork made the run's own ids";
  }
  // A net with a packet more on the feed: some action of the run goes otherwise.
  NetSim elsewhere(testkit::fork_join_graph(1));
  inject(elsewhere, feed_edge("split"), 1);
  const Replay stopped = replay_run(elsewhere, result.terminals.front().run);
  EXPECT_NE(stopped.mismatch, "");
  EXPECT_LT(stopped.done, result.terminals.front().run.size());
}

TEST(Explorer, LimitsStopItAndSaySo) {
  NetSim net(testkit::router_graph());
  const Declarations d = testkit::router_declarations(8);
  Options options;
  options.limits.max_states = 1000;
  const ExplorationResult by_states = explore_all(net, d, options);
  EXPECT_FALSE(by_states.finished);
  EXPECT_EQ(by_states.stopped, StopReason::States);
  EXPECT_GE(by_states.states, 1000U);
  options = {};
  options.limits.max_depth = 4;
  const ExplorationResult by_depth = explore_all(net, d, options);
  EXPECT_FALSE(by_depth.finished);
  EXPECT_EQ(by_depth.stopped, StopReason::Depth);
  EXPECT_LE(by_depth.max_depth, 4U);
}

TEST(Explorer, AStoppedSearchCountsTheStatesItLeftUnexplored) {
  NetSim net(testkit::router_graph());
  const Declarations d = testkit::router_declarations(6);
  EXPECT_EQ(explore_all(net, d).frontier, 0U);
  for (const SearchOrder order : {SearchOrder::BreadthFirst, SearchOrder::DepthFirst}) {
    Options options;
    options.order = order;
    options.limits.max_states = 200;
    const ExplorationResult r = explore_all(net, d, options);
    ASSERT_EQ(r.stopped, StopReason::States);
    EXPECT_GT(r.frontier, 0U);
    EXPECT_LT(r.frontier, r.states);
    // Depth-first leaves the states on its run: one a level at the most.
    if (order == SearchOrder::DepthFirst) {
      EXPECT_LE(r.frontier, r.max_depth + 1);
    }
  }
  Options walks;
  walks.order = SearchOrder::RandomWalk;
  walks.walks = 3;
  EXPECT_EQ(explore_all(net, d, walks).frontier, 0U);
}

TEST(Explorer, ACancelledExplorationExploresNoFurtherInAnyOrder) {
  NetSim net(testkit::router_graph());
  for (const SearchOrder order :
       {SearchOrder::BreadthFirst, SearchOrder::DepthFirst, SearchOrder::RandomWalk}) {
    Options options;
    options.order = order;
    Explorer explorer(net, testkit::router_declarations(3), options);
    explorer.cancel();
    EXPECT_TRUE(explorer.run(std::chrono::steady_clock::now() + std::chrono::seconds(10)));
    const ExplorationResult r = explorer.finish();
    EXPECT_FALSE(r.finished);
    EXPECT_EQ(r.stopped, StopReason::Cancelled);
    EXPECT_EQ(r.states, 0U);
  }
}

TEST(Declarations, NamesWhatTheGraphCannotCarryOut) {
  const Graph graph = testkit::router_graph();
  EXPECT_EQ(check_declarations(graph, testkit::router_declarations(2)), std::nullopt);
  Declarations d = testkit::router_declarations(2);
  d.behaviours[0].outcomes[0].creates = {{Name("left"), 2}};
  d.behaviours[1].outcomes[0].sends = {Name("nothing")};
  EXPECT_EQ(check_declarations(graph, d),
            "behaviour of node 'left', outcome 0: sends output salvo condition 'nothing', which "
            "the node lacks");
}

TEST(Declarations, UndeclaredNodesAreThoseWithInputConditionsAndNoBehaviour) {
  const Graph graph = testkit::router_graph();
  Declarations d = testkit::router_declarations(1);
  // feed has no input conditions; join consumes what it takes.
  EXPECT_EQ(undeclared_nodes(graph, d), std::vector<Name>{Name("join")});
  d.behaviours.erase(d.behaviours.begin());
  EXPECT_EQ(undeclared_nodes(graph, d), (std::vector<Name>{Name("router"), Name("join")}));
  d.behaviours.push_back({Name("join"), {Outcome{}}});
  d.behaviours.push_back({Name("router"), {Outcome{}}});
  EXPECT_TRUE(undeclared_nodes(graph, d).empty());
}

TEST(Declarations, TakeTheGraphsOwnNamesWithoutChangingValue) {
  const Graph graph = testkit::router_graph();
  Declarations d = testkit::router_declarations(3);
  d.injections.push_back({PacketLocation::InputPort(Name("join"), Name("a")), 1});
  d.requests.push_back({Name("join"), Name("more"), 1});
  d.requests.push_back({Name("elsewhere"), Name("more"), 1});  // not in the graph: kept
  const Declarations given = d;
  share_graph_names(graph, d);
  EXPECT_EQ(d.behaviours, given.behaviours);
  EXPECT_EQ(d.injections, given.injections);
  EXPECT_EQ(d.requests, given.requests);

  // One record: the same text object.
  auto shared = [](const Name& a, const Name& b) { return &a.str() == &b.str(); };
  const Node& router = *graph.find_node("router");
  const Outcome& to_left = d.behaviours[0].outcomes[0];
  EXPECT_TRUE(shared(d.behaviours[0].node, router.name));
  EXPECT_TRUE(shared(*to_left.pass_to, router.out_ports.find(Name("left"))->first));
  bool sends_shared = false;
  for (const auto& [condition, unused] : router.out_salvo_conditions) {
    sends_shared = sends_shared || shared(to_left.sends[0], condition);
  }
  EXPECT_TRUE(sends_shared);
  const Edge& feed = d.injections[0].location.edge();
  bool edge_shared = false;
  for (const Edge& edge : graph.edges()) {
    edge_shared = edge_shared || shared(feed.target.port_name, edge.target.port_name);
  }
  EXPECT_TRUE(edge_shared);
  const Node& join = *graph.find_node("join");
  EXPECT_TRUE(shared(d.injections[1].location.node_name(), join.name));
  EXPECT_TRUE(shared(d.injections[1].location.port_name(), join.in_ports.find(Name("a"))->first));
  EXPECT_TRUE(shared(d.requests[0].node, join.name));
}

}  // namespace
}  // namespace zellik::explore
