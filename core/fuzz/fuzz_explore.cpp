// Fuzz target of the schedule explorer: the input bytes choose a graph (one
// of the zoo's or a small random one), declarations, limits and an order,
// and a few actions that take the net mid-run; then it explores the net and
// checks what it found (explore_checks.h). Declarations spoiled on purpose
// must be refused with a sentence and go no further. Every search runs in
// short chunks, so resuming is exercised too, and one that grows past a few
// hundred states is cancelled: the inputs stay quick.
//
// Without limits, depth-first and breadth-first search must agree, and
// random walks must see part of what breadth-first search sees. The
// caller's net must be as it was, and nothing may end in an internal
// failure.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "explore_checks.h"
#include "explore_input.h"
#include "fuzz_input.h"
#include "random_graph.h"
#include "support/explore_graphs.h"
#include "support/graph_zoo.h"
#include "zellik/base/internal_failure.h"
#include "zellik/explore/explorer.h"
#include "zellik/net/net_sim_restore.h"
#include "zellik/net/snapshot.h"

namespace {

using namespace zellik;
using explore::Declarations;
using explore::Explorer;
using explore::Options;
using explore::SearchOrder;
using explore::TerminalKind;
using explore::TerminalState;

// An exploration past this many states, or this long, is cancelled (a net
// whose epochs multiply makes each state slower than the last).
constexpr std::uint64_t kMostStates = 300;
constexpr std::chrono::milliseconds kLongest{100};
// How many terminal states' runs are replayed at first, and at most as many
// again spread over the rest.
constexpr std::size_t kSampled = 8;

struct Explored {
  explore::ExplorationResult result;
  bool cancelled = false;
};

Explored explore_net(const NetSim& start, const Declarations& d, const Options& o) {
  try {
    Explorer explorer(start, d, o);
    Explored out;
    const auto cut = std::chrono::steady_clock::now() + kLongest;
    // A chunk that ends at once runs to the search's first look at the
    // clock; random walks look before each walk, so theirs lasts one.
    const bool walks = o.order == SearchOrder::RandomWalk;
    while (!explorer.run(walks ? std::chrono::steady_clock::now() + std::chrono::seconds(1)
                               : std::chrono::steady_clock::time_point::min())) {
      // A cancelled exploration is done: what it found so far is finished
      // at once, as the binding does at an interrupt.
      if (explorer.result().states > kMostStates || std::chrono::steady_clock::now() > cut) {
        explorer.cancel();
        out.cancelled = true;
        break;
      }
    }
    out.result = explorer.finish();
    return out;
  } catch (const InternalFailure& failure) {
    fuzz::finding(std::string("internal failure exploring: ") + failure.what());
  }
}

const char* order_name(const Options& o) {
  switch (o.order) {
    case SearchOrder::BreadthFirst:
      return o.exact ? "breadth-first (exact)" : "breadth-first";
    case SearchOrder::DepthFirst:
      return o.exact ? "depth-first (exact)" : "depth-first";
    case SearchOrder::RandomWalk:
      return "random walks";
  }
  return "?";
}

bool unlimited(const explore::Limits& limits) {
  return limits.max_states == 0 && limits.max_depth == 0 && limits.max_packets == 0;
}

const std::vector<Graph>& fixed_graphs() {
  static const std::vector<Graph> graphs = [] {
    std::vector<Graph> g = testkit::graph_zoo();
    g.push_back(testkit::router_graph());
    g.push_back(testkit::fork_join_graph(1));
    g.push_back(testkit::fork_join_graph(2));
    return g;
  }();
  return graphs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // ZELLIK_FUZZ_TRACE=1 says what an input chose and found, for reading a
  // finding or checking what the corpus reaches.
  static const bool trace = std::getenv("ZELLIK_FUZZ_TRACE") != nullptr;
  fuzz::ByteInput in(data, size);
  const Graph graph =
      in.pick(3) == 0 ? fixed_graphs()[in.pick(fixed_graphs().size())] : fuzz::random_graph(in);
  Declarations declarations = fuzz::random_declarations(in, graph);
  if (const auto refused = explore::check_declarations(graph, declarations))
    fuzz::finding("declarations made valid are refused: " + *refused);
  if (in.pick(8) == 7) {
    const std::string spoiled = fuzz::spoil(in, graph, declarations);
    const auto refused = explore::check_declarations(graph, declarations);
    if (trace) std::fprintf(stderr, "spoiled: %s\n", spoiled.c_str());
    if (!refused) fuzz::finding("declarations not refused: " + spoiled);
    if (refused->empty() || refused->find('{') != std::string::npos)
      fuzz::finding("declarations refused without a clear sentence: " + *refused);
    return 0;
  }
  const Options options = fuzz::random_options(in);
  std::optional<std::uint64_t> seed = in.byte() % 4;
  NetSim start(graph, IdSource::Seeded(*seed));
  fuzz::take_mid_run(in, start);
  const bool seeded = in.pick(4) != 3;
  if (!seeded) {
    NetSimRestore::restore_id_source(start, IdSource().state());
    seed.reset();
  }
  const std::string before = encode_snapshot(start);
  const Fingerprint start_fingerprint = fingerprint(start);

  const Explored first = explore_net(start, declarations, options);
  if (encode_snapshot(start) != before || fingerprint(start) != start_fingerprint)
    fuzz::finding("exploring changed the caller's net");
  if (trace) {
    std::fprintf(stderr, "%zu nodes, %zu behaviours, %zu injections, %zu requests, %s start\n",
                 graph.node_count(), declarations.behaviours.size(), declarations.injections.size(),
                 declarations.requests.size(),
                 start.packet_count() + start.epochs().size() > 0 ? "mid-run" : "fresh");
    std::fprintf(stderr, "%s, %s%s\n", fuzz::counts_text(order_name(options), first.result).c_str(),
                 seeded ? "seeded" : "unseeded", first.cancelled ? ", cancelled" : "");
  }
  fuzz::check_result(first.result, options, first.cancelled);
  // The runs of the first terminal states and of a sample of the rest (a
  // space can hold hundreds), the last included.
  const std::vector<TerminalState>& terminals = first.result.terminals;
  const std::size_t stride = 1 + terminals.size() / kSampled;
  for (std::size_t i = 0; i < terminals.size(); ++i) {
    const TerminalState& t = terminals[i];
    const bool sampled = i < kSampled || i % stride == 0 || i + 1 == terminals.size();
    if (sampled && (t.kind == TerminalKind::Stuck || t.kind == TerminalKind::Failed))
      fuzz::check_replay(graph, before, seed, t, i);
  }
  if (first.cancelled) return 0;

  // The same space searched otherwise.
  Options other;
  other.order = options.order == SearchOrder::BreadthFirst ? SearchOrder::DepthFirst
                                                           : SearchOrder::BreadthFirst;
  other.exact = !options.exact && in.pick(4) == 3;
  if (options.order != SearchOrder::RandomWalk && unlimited(options.limits)) {
    const Explored second = explore_net(start, declarations, other);
    if (second.cancelled) return 0;
    const bool bfs_first = options.order == SearchOrder::BreadthFirst;
    const Explored& bfs = bfs_first ? first : second;
    const Explored& dfs = bfs_first ? second : first;
    fuzz::check_same_space(order_name(bfs_first ? options : other), bfs.result,
                           order_name(bfs_first ? other : options), dfs.result);
  } else if (options.order == SearchOrder::RandomWalk && options.limits.max_packets == 0) {
    const Explored all = explore_net(start, declarations, other);
    if (!all.cancelled) fuzz::check_part_of(first.result, all.result);
  }
  if (encode_snapshot(start) != before) fuzz::finding("exploring changed the caller's net");
  return 0;
}
