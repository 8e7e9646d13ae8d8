// The schedule explorer: transitions per second exploring the fork-join
// graph of examples/deadlock.py with packets injected, memory per visited
// state, and the cost of a fingerprint per packet in the net; the same
// exploration checking four declared properties that always hold there,
// and looking for livelocks.

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

#include "bench_nets.h"
#include "support/explore_graphs.h"
#include "zellik/explore/explorer.h"

namespace zellik::bench {
namespace {

// Properties that hold in every state of the fork-join exploration, one of
// each kind the core evaluates by lookup: what they cost is the check alone.
std::vector<explore::Property> holding_properties() {
  using Kind = explore::Property::Kind;
  std::vector<explore::Property> p(4);
  p[0] = {Kind::AtLocation,
          "join.a",
          PacketLocation::InputPort(Name("join"), Name("a")),
          Name(),
          Name(),
          1'000,
          {}};
  p[1] = {Kind::InNet, "in net", PacketLocation::OutsideNet(), Name(), Name(), 1'000, {}};
  p[2] = {
      Kind::LiveEpochs, "batch", PacketLocation::OutsideNet(), Name("batch"), Name(), 1'000, {}};
  p[3] = {Kind::NoOrphans, "no orphans", PacketLocation::OutsideNet(), Name(), Name(), 0, {}};
  return p;
}

enum class Extra : std::uint8_t { None, Properties, Livelocks };

void explore_fork_join(benchmark::State& state, explore::SearchOrder order,
                       Extra extra = Extra::None) {
  const auto packets = static_cast<std::uint64_t>(state.range(0));
  NetSim net(testkit::fork_join_graph(2));
  explore::Options options;
  options.order = order;
  if (extra == Extra::Livelocks) options.livelocks = explore::WaysOut::AnyEnd;
  explore::Declarations declarations = testkit::fork_join_declarations(packets);
  if (extra == Extra::Properties) declarations.properties = holding_properties();
  explore::ExplorationResult last;
  double seconds = 0;
  for (auto _ : state) {
    const auto began = std::chrono::steady_clock::now();
    explore::Explorer explorer(net, declarations, options);
    while (!explorer.run(std::chrono::steady_clock::time_point::max())) {
    }
    last = explorer.finish();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
    seconds += took.count();
    state.SetIterationTime(took.count());
  }
  state.counters["states"] = static_cast<double>(last.states);
  state.counters["transitions"] = static_cast<double>(last.transitions);
  state.counters["transitions_per_s"] =
      static_cast<double>(last.transitions) * static_cast<double>(state.iterations()) / seconds;
  state.counters["bytes_per_state"] =
      static_cast<double>(last.visited_bytes) / static_cast<double>(last.states);
  if (!last.finished) state.SkipWithError("the exploration did not finish");
}

void BM_ExploreBreadthFirst(benchmark::State& state) {
  explore_fork_join(state, explore::SearchOrder::BreadthFirst);
}
void BM_ExploreDepthFirst(benchmark::State& state) {
  explore_fork_join(state, explore::SearchOrder::DepthFirst);
}
void BM_ExploreBreadthFirstProperties(benchmark::State& state) {
  explore_fork_join(state, explore::SearchOrder::BreadthFirst, Extra::Properties);
}
void BM_ExploreDepthFirstProperties(benchmark::State& state) {
  explore_fork_join(state, explore::SearchOrder::DepthFirst, Extra::Properties);
}
void BM_ExploreBreadthFirstLivelocks(benchmark::State& state) {
  explore_fork_join(state, explore::SearchOrder::BreadthFirst, Extra::Livelocks);
}
void BM_ExploreDepthFirstLivelocks(benchmark::State& state) {
  explore_fork_join(state, explore::SearchOrder::DepthFirst, Extra::Livelocks);
}
BENCHMARK(BM_ExploreBreadthFirst)->Arg(8)->Arg(12)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExploreDepthFirst)->Arg(8)->Arg(12)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExploreBreadthFirstProperties)
    ->Arg(8)
    ->Arg(12)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExploreDepthFirstProperties)
    ->Arg(8)
    ->Arg(12)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExploreBreadthFirstLivelocks)
    ->Arg(8)
    ->Arg(12)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExploreDepthFirstLivelocks)
    ->Arg(8)
    ->Arg(12)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A fingerprint of a net holding `packets` packets: half on edges, half in
// the input ports and startable epochs the run step made of them.
void BM_Fingerprint(benchmark::State& state) {
  const long pairs = state.range(0);
  NetSim net(testkit::fork_join_graph(2));
  const PacketLocation feed = PacketLocation::Edge(testkit::feed_edge("split"));
  for (long i = 0; i < pairs; ++i) place_packet(net, feed);
  net.do_action(action::RunStep{});
  for (auto _ : state) benchmark::DoNotOptimize(fingerprint(net));
  state.counters["ns_per_packet"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * static_cast<double>(net.packet_count()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Fingerprint)->Arg(1)->Arg(12)->Arg(1'000);

}  // namespace
}  // namespace zellik::bench
