// Cost of the engine's hot paths at depth: the edge moves of run steps over
// 200 deep edges and their undo, per event; and each queue operation (append,
// leave at the head, leave from the middle or the tail, put back by undo) on
// a location holding 1,000 packets against one holding 1,000,000. A queue
// operation must cost the same at both depths.

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "bench_nets.h"
#include "zellik/graph/graph.h"
#include "zellik/net/net_sim.h"

namespace zellik {
namespace {

using namespace bench;  // NOLINT: the shared benchmark nets

// A net of `edges` edges holding `depth` packets each.
std::unique_ptr<NetSim> deep_net(long edges, long depth, std::vector<Ulid>* ids = nullptr) {
  auto net = std::make_unique<NetSim>(pairs_graph(edges));
  for (long e = 0; e < edges; ++e) {
    const PacketLocation where = pair_edge(e);
    for (long i = 0; i < depth; ++i) {
      const Ulid id = place_packet(*net, where);
      if (ids != nullptr) ids->push_back(id);
    }
  }
  return net;
}

using Clock = std::chrono::steady_clock;
double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs `timed(state, net)` on a fresh net of 200 edges holding range(0)
// packets each, per iteration; `timed` sets the iteration's time itself and
// returns how many events it made or reversed. Reported per event.
template <class Timed>
void per_event(benchmark::State& state, Timed&& timed) {
  constexpr long kEdges = 200;
  long events = 0;
  for (auto _ : state) {
    std::unique_ptr<NetSim> net = deep_net(kEdges, state.range(0));
    events += timed(state, *net);
  }
  state.SetItemsProcessed(events);
  state.counters["ns_per_event"] = benchmark::Counter(
      static_cast<double>(events), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// One run_until_blocked: one edge move (and its event) per edge per step.
void BM_EdgeMovesUntilBlocked(benchmark::State& state) {
  per_event(state, [](benchmark::State& st, NetSim& net) {
    const auto start = Clock::now();
    EventList produced = net.run_until_blocked();
    st.SetIterationTime(seconds_since(start));
    if (produced.size() != static_cast<std::size_t>(200 * st.range(0)))
      st.SkipWithError("wrong event count");
    return static_cast<long>(produced.size());
  });
}
BENCHMARK(BM_EdgeMovesUntilBlocked)->Arg(2'500)->UseManualTime()->Unit(benchmark::kMillisecond);

// The same moves driven step by step, as an executor does: each do_action
// (RunStep) returns one step's events (one per edge) and they are dropped
// before the next step.
void BM_EdgeMovesPerStep(benchmark::State& state) {
  per_event(state, [](benchmark::State& st, NetSim& net) {
    const NetAction step = action::RunStep{};
    long events = 0;
    const auto start = Clock::now();
    for (;;) {
      NetActionResponse r = net.do_action(step);
      const std::size_t n = r.value().events.size();
      if (n == 0) break;
      events += static_cast<long>(n);
    }
    st.SetIterationTime(seconds_since(start));
    return events;
  });
}
BENCHMARK(BM_EdgeMovesPerStep)->Arg(2'500)->UseManualTime()->Unit(benchmark::kMillisecond);

// Undo of every step of the run above, newest step first.
void BM_UndoEdgeMoves(benchmark::State& state) {
  per_event(state, [](benchmark::State& st, NetSim& net) {
    const NetAction step = action::RunStep{};
    std::vector<EventList> history;
    while (!net.is_blocked()) history.push_back(std::move(net.do_action(step).value().events));
    long events = 0;
    const auto start = Clock::now();
    for (auto it = history.rbegin(); it != history.rend(); ++it) {
      if (!net.undo_action(step, *it).ok()) st.SkipWithError("undo failed");
      events += static_cast<long>(it->size());
    }
    st.SetIterationTime(seconds_since(start));
    return events;
  });
}
BENCHMARK(BM_UndoEdgeMoves)->Arg(2'500)->UseManualTime()->Unit(benchmark::kMillisecond);

// --- Queue operations at depth --------------------------------------------
// One edge of `depth` packets; each iteration does one action and (where
// noted) its undo, so the depth stays put.

struct DeepEdge {
  std::unique_ptr<NetSim> net;
  std::vector<Ulid> ids;  // oldest first
  PacketLocation edge = pair_edge(0);
  explicit DeepEdge(long depth) { net = deep_net(1, depth, &ids); }
};

// The head leaves and joins the tail of the same edge: remove head + append.
void BM_QueueRotateHead(benchmark::State& state) {
  DeepEdge d(state.range(0));
  std::size_t next = 0;
  for (auto _ : state) {
    NetActionResponse r = d.net->do_action(action::TransportPacketToLocation{d.ids[next], d.edge});
    benchmark::DoNotOptimize(r);
    if (++next == d.ids.size()) next = 0;
  }
}
BENCHMARK(BM_QueueRotateHead)->Arg(1'000)->Arg(1'000'000);

// A packet moves from position `where` of the edge to OutsideNet (the
// position is found, the packet removed) and the move is undone (the packet
// is put back at that position).
void queue_move_and_undo(benchmark::State& state, double where) {
  DeepEdge d(state.range(0));
  const Ulid id = d.ids[static_cast<std::size_t>(where * static_cast<double>(d.ids.size() - 1))];
  const NetAction move = action::TransportPacketToLocation{id, PacketLocation::OutsideNet()};
  for (auto _ : state) {
    NetActionResponse r = d.net->do_action(move);
    if (!r.ok() || !d.net->undo_action(move, r.value().events).ok()) state.SkipWithError("failed");
  }
}
void BM_QueueMoveNewestAndUndo(benchmark::State& state) { queue_move_and_undo(state, 1.0); }
void BM_QueueMoveMiddleAndUndo(benchmark::State& state) { queue_move_and_undo(state, 0.5); }
void BM_QueueMoveOldestAndUndo(benchmark::State& state) { queue_move_and_undo(state, 0.0); }
BENCHMARK(BM_QueueMoveNewestAndUndo)->Arg(1'000)->Arg(1'000'000);
BENCHMARK(BM_QueueMoveMiddleAndUndo)->Arg(1'000)->Arg(1'000'000);
BENCHMARK(BM_QueueMoveOldestAndUndo)->Arg(1'000)->Arg(1'000'000);

// A packet from OutsideNet is appended to the deep edge and consumed there
// (append at the tail, then removal of the newest).
void BM_QueueAppendAndConsume(benchmark::State& state) {
  DeepEdge d(state.range(0));
  for (auto _ : state) {
    const Ulid id = place_packet(*d.net, d.edge);
    d.net->do_action(action::ConsumePacket{id});
  }
}
BENCHMARK(BM_QueueAppendAndConsume)->Arg(1'000)->Arg(1'000'000);

}  // namespace
}  // namespace zellik
