// The cost of building a net: copying node records, constructing the graph,
// validating it and making a NetSim over it, per node, for a graph of many
// small node pairs (A{i}.out -> B{i}.in, one port and one condition each).

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "zellik/graph/graph.h"
#include "zellik/graph/validation.h"
#include "zellik/net/net_sim.h"

namespace zellik {
namespace {

struct PairGraph {
  std::vector<Node> nodes;
  std::vector<Edge> edges;
};

// `pairs` sources, each sending everything in out onto its own edge, and as
// many sinks taking one packet of in at a time.
PairGraph pair_graph(std::size_t pairs) {
  const Name in("in");
  const Name out("out");
  PairGraph g;
  g.nodes.reserve(2 * pairs);
  g.edges.reserve(pairs);
  for (std::size_t i = 0; i < pairs; ++i) {
    // Appended rather than "A" + to_string(i): GCC 12 misreports that form
    // under -Wrestrict at -O3.
    const std::string number = std::to_string(i);
    Node a;
    a.name = Name(std::string("A").append(number));
    a.out_ports.insert_or_assign(out, Port{});
    SalvoCondition send{
        MaxSalvos::Infinite(), {}, SalvoConditionTerm::Port(out, PortState::Kind::NonEmpty)};
    send.ports.insert_or_assign(out, PacketCount::All());
    a.out_salvo_conditions.insert(Name("send"), std::move(send));

    Node b;
    b.name = Name(std::string("B").append(number));
    b.in_ports.insert_or_assign(in, Port{});
    SalvoCondition take{
        MaxSalvos::Finite(1), {}, SalvoConditionTerm::Port(in, PortState::Kind::NonEmpty)};
    take.ports.insert_or_assign(in, PacketCount::Count(1));
    b.in_salvo_conditions.insert(Name("take"), std::move(take));

    g.edges.push_back(
        Edge{PortRef{a.name, PortType::Output, out}, PortRef{b.name, PortType::Input, in}});
    g.nodes.push_back(std::move(a));
    g.nodes.push_back(std::move(b));
  }
  return g;
}

void set_per_node(benchmark::State& state, std::size_t nodes) {
  state.counters["per_node"] =
      benchmark::Counter(static_cast<double>(nodes) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Copying the node records, as the Python layer does for every node it is
// given.
void BM_CopyNodes(benchmark::State& state) {
  const PairGraph g = pair_graph(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::vector<Node> copy = g.nodes;
    benchmark::DoNotOptimize(copy.data());
    state.PauseTiming();
    copy = {};
    state.ResumeTiming();
  }
  set_per_node(state, g.nodes.size());
}
BENCHMARK(BM_CopyNodes)->Arg(100'000)->Unit(benchmark::kMillisecond);

void BM_ConstructGraph(benchmark::State& state) {
  const PairGraph g = pair_graph(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<Node> nodes = g.nodes;
    std::vector<Edge> edges = g.edges;
    state.ResumeTiming();
    Graph graph(std::move(nodes), std::move(edges));
    benchmark::DoNotOptimize(&graph);
    state.PauseTiming();
    graph = Graph({}, {});
    state.ResumeTiming();
  }
  set_per_node(state, g.nodes.size());
}
BENCHMARK(BM_ConstructGraph)->Arg(100'000)->Unit(benchmark::kMillisecond);

void BM_Validate(benchmark::State& state) {
  PairGraph g = pair_graph(static_cast<std::size_t>(state.range(0)));
  const std::size_t node_count = g.nodes.size();
  const Graph graph(std::move(g.nodes), std::move(g.edges));
  for (auto _ : state) {
    std::vector<GraphValidationError> errors = validate(graph);
    if (!errors.empty()) state.SkipWithError("graph reported faults");
    benchmark::DoNotOptimize(errors.data());
  }
  set_per_node(state, node_count);
}
BENCHMARK(BM_Validate)->Arg(100'000)->Unit(benchmark::kMillisecond);

// From an existing graph, as NetSim(graph) does in Python: the graph is
// passed by copy.
void BM_ConstructNetSim(benchmark::State& state) {
  PairGraph g = pair_graph(static_cast<std::size_t>(state.range(0)));
  const std::size_t node_count = g.nodes.size();
  const Graph graph(std::move(g.nodes), std::move(g.edges));
  for (auto _ : state) {
    auto net = std::make_unique<NetSim>(graph);
    benchmark::DoNotOptimize(net.get());
    state.PauseTiming();
    net.reset();
    state.ResumeTiming();
  }
  set_per_node(state, node_count);
}
BENCHMARK(BM_ConstructNetSim)->Arg(100'000)->Unit(benchmark::kMillisecond);

// The same from a graph no net has been made from and nobody has validated:
// the net's own validation included.
void BM_ConstructNetSimFreshGraph(benchmark::State& state) {
  const PairGraph g = pair_graph(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    auto graph = std::make_unique<Graph>(g.nodes, g.edges);
    state.ResumeTiming();
    auto net = std::make_unique<NetSim>(*graph);
    benchmark::DoNotOptimize(net.get());
    state.PauseTiming();
    net.reset();
    graph.reset();
    state.ResumeTiming();
  }
  set_per_node(state, g.nodes.size());
}
BENCHMARK(BM_ConstructNetSimFreshGraph)->Arg(100'000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zellik
