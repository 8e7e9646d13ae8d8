// Cost of the run step: one step that moves one packet must cost the same on
// a graph of a thousand node pairs as on one of a hundred thousand, and a
// pipeline driven by an executor loop shows the steps per second a real
// workload gets.

#include <benchmark/benchmark.h>

#include <chrono>
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

bool succeeded(const NetActionResponse& r, benchmark::State& state) {
  if (!r.ok()) state.SkipWithError("action refused");
  return r.ok();
}

// One step that moves the single packet of the net off the middle pair's edge;
// undoing the step (outside the timed part) puts it back for the next round.
void BM_StepMovingOnePacket(benchmark::State& state) {
  const long pairs = state.range(0);
  NetSim net(pairs_graph(pairs));
  const Name middle_a = numbered("A", pairs / 2);
  const Name middle_b = numbered("B", pairs / 2);
  const PacketLocation on_edge =
      PacketLocation::Edge(Edge{out_port(middle_a, "out"), in_port(middle_b, "in")});

  NetActionResponse made = net.do_action(action::CreatePacket{});
  if (!succeeded(made, state)) return;
  const Ulid packet = std::get<response::Packet>(made.value().data).packet_id;
  if (!succeeded(net.do_action(action::TransportPacketToLocation{packet, on_edge}), state)) return;

  const NetAction step = action::RunStep{};
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    NetActionResponse r = net.do_action(step);
    const auto stop = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(r);
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    if (!succeeded(r, state) || r.value().events.size() != 1) {
      state.SkipWithError("the step did not move exactly one packet");
      return;
    }
    if (!net.undo_action(step, r.value().events).ok()) {
      state.SkipWithError("undo failed");
      return;
    }
  }
  state.counters["nodes"] = static_cast<double>(pairs * 2);
}
BENCHMARK(BM_StepMovingOnePacket)->Arg(1'000)->Arg(10'000)->Arg(100'000)->UseManualTime();

// Src.out -> P0.in -> ... -> P{n-1}.in. Every P takes one packet per epoch
// and forwards it; the last one has no outgoing edge and consumes.
Graph pipeline_graph(long stages) {
  std::vector<Node> nodes;
  std::vector<Edge> edges;
  Node src;
  src.name = Name("Src");
  src.out_ports.emplace(Name("out"), Port{});
  Name previous = src.name;
  nodes.push_back(std::move(src));
  for (long i = 0; i < stages; ++i) {
    Node p;
    p.name = numbered("P", i);
    p.in_ports.emplace(Name("in"), Port{PortSlotSpec::Finite(1)});
    SalvoCondition take{
        MaxSalvos::Finite(1), {}, SalvoConditionTerm::Port(Name("in"), PortState::Kind::NonEmpty)};
    take.ports.emplace(Name("in"), PacketCount::All());
    p.in_salvo_conditions.insert(Name("take"), std::move(take));
    if (i + 1 < stages) {
      p.out_ports.emplace(Name("out"), Port{});
      SalvoCondition send{MaxSalvos::Infinite(), {}, SalvoConditionTerm::True()};
      send.ports.emplace(Name("out"), PacketCount::All());
      p.out_salvo_conditions.insert(Name("send"), std::move(send));
    }
    edges.push_back(Edge{out_port(previous, "out"), in_port(p.name, "in")});
    previous = p.name;
    nodes.push_back(std::move(p));
  }
  return Graph(std::move(nodes), std::move(edges));
}

// The executor loop over a 50-stage pipeline carrying 10,000 packets: step,
// then start every startable epoch, load and send its packets (or consume
// them at the last stage) and finish it, until every packet is consumed.
void BM_PipelineExecutor(benchmark::State& state) {
  constexpr long kStages = 50;
  constexpr long kPackets = 10'000;
  const Graph graph = pipeline_graph(kStages);
  const PacketLocation feeder =
      PacketLocation::Edge(*graph.get_edge_by_tail(out_port(Name("Src"), "out")));
  const Name out("out");
  const Name send("send");
  const Name last = numbered("P", kStages - 1);
  long steps = 0;
  long actions = 0;

  for (auto _ : state) {
    state.PauseTiming();
    NetSim net(graph);
    for (long i = 0; i < kPackets; ++i) {
      NetActionResponse made = net.do_action(action::CreatePacket{});
      if (!succeeded(made, state)) return;
      const Ulid p = std::get<response::Packet>(made.value().data).packet_id;
      if (!succeeded(net.do_action(action::TransportPacketToLocation{p, feeder}), state)) return;
    }
    state.ResumeTiming();

    long consumed = 0;
    while (consumed < kPackets) {
      if (!succeeded(net.do_action(action::RunStep{}), state)) return;
      ++steps;
      ++actions;
      for (const Ulid& epoch_id : net.get_startable_epochs()) {
        net.do_action(action::StartEpoch{epoch_id});
        const Epoch* epoch = net.get_epoch(epoch_id);
        const bool at_end = epoch->node_name == last;
        const std::vector<Ulid> inside =
            net.get_packets_at_location(PacketLocation::Node(epoch_id));
        for (const Ulid& p : inside) {
          if (at_end) {
            net.do_action(action::ConsumePacket{p});
            ++consumed;
          } else {
            net.do_action(action::LoadPacketIntoOutputPort{p, out});
          }
          ++actions;
        }
        if (!at_end) {
          net.do_action(action::SendOutputSalvo{epoch_id, send});
          ++actions;
        }
        if (!succeeded(net.do_action(action::FinishEpoch{epoch_id}), state)) return;
        actions += 2;
      }
    }
  }
  state.counters["steps_per_second"] =
      benchmark::Counter(static_cast<double>(steps), benchmark::Counter::kIsRate);
  state.counters["actions_per_second"] =
      benchmark::Counter(static_cast<double>(actions), benchmark::Counter::kIsRate);
  state.counters["steps_per_run"] =
      benchmark::Counter(static_cast<double>(steps), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_PipelineExecutor)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zellik
