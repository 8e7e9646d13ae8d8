// Throughput of the engine's actions: an executor-style packet cycle, a full
// epoch cycle, and the per-packet cost of draining a deep queue (which must
// stay flat as the queue grows).

#include <benchmark/benchmark.h>

#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include "zellik/graph/graph.h"
#include "zellik/net/net_sim.h"

namespace zellik {
namespace {

// A.out -> B.in. A's condition "send" takes everything in out, without limit.
Graph two_node_graph() {
  Node a;
  a.name = Name("A");
  a.out_ports.emplace(Name("out"), Port{});
  SalvoCondition send{MaxSalvos::Infinite(), {}, SalvoConditionTerm::True()};
  send.ports.emplace(Name("out"), PacketCount::All());
  a.out_salvo_conditions.insert(Name("send"), std::move(send));
  Node b;
  b.name = Name("B");
  b.in_ports.emplace(Name("in"), Port{});
  Edge e{PortRef{Name("A"), PortType::Output, Name("out")},
         PortRef{Name("B"), PortType::Input, Name("in")}};
  return Graph({std::move(a), std::move(b)}, {std::move(e)});
}

const Edge& the_edge(const NetSim& net) { return *net.graph().edges().begin(); }

// Performs `action`; stops the benchmark on a refusal.
NetActionSuccess run(NetSim& net, const NetAction& action, benchmark::State& state) {
  NetActionResponse r = net.do_action(action);
  if (!r.ok()) {
    state.SkipWithError("action refused");
    return NetActionSuccess{response::Empty{}, {}};
  }
  return std::move(r).value();
}

Ulid new_packet(NetSim& net, std::optional<Ulid> epoch, benchmark::State& state) {
  const NetActionSuccess done = run(net, action::CreatePacket{epoch}, state);
  const auto* p = std::get_if<response::Packet>(&done.data);
  return p == nullptr ? Ulid{} : p->packet_id;
}

Ulid new_epoch(NetSim& net, const char* node, Salvo salvo, benchmark::State& state) {
  const NetActionSuccess done = run(net, action::CreateEpoch{Name(node), std::move(salvo)}, state);
  const auto* e = std::get_if<response::CreatedEpoch>(&done.data);
  return e == nullptr ? Ulid{} : e->epoch.id;
}

// create -> transport into a startable epoch of A -> load -> send onto the
// edge -> consume: five actions per packet.
void BM_PacketCycle(benchmark::State& state) {
  NetSim net(two_node_graph());
  const Ulid epoch = new_epoch(net, "A", Salvo{Name("manual"), {}}, state);
  const PacketLocation inside = PacketLocation::Node(epoch);
  const Name out("out");
  const Name send("send");
  for (auto _ : state) {
    const Ulid p = new_packet(net, std::nullopt, state);
    run(net, action::TransportPacketToLocation{p, inside}, state);
    run(net, action::LoadPacketIntoOutputPort{p, out}, state);
    run(net, action::SendOutputSalvo{epoch, send}, state);
    run(net, action::ConsumePacket{p}, state);
  }
  state.SetItemsProcessed(state.iterations() * 5);
  state.counters["actions"] = 5;
}
BENCHMARK(BM_PacketCycle);

// The executor's full round: A runs and sends a packet; B takes it, runs and
// consumes it. Eleven actions per packet, two epochs made and finished.
void BM_EpochCycle(benchmark::State& state) {
  NetSim net(two_node_graph());
  const PacketLocation b_in = PacketLocation::InputPort(Name("B"), Name("in"));
  const Name out("out");
  const Name send("send");
  const Name in("in");
  for (auto _ : state) {
    const Ulid a = new_epoch(net, "A", Salvo{Name("manual"), {}}, state);
    run(net, action::StartEpoch{a}, state);
    const Ulid p = new_packet(net, a, state);
    run(net, action::LoadPacketIntoOutputPort{p, out}, state);
    run(net, action::SendOutputSalvo{a, send}, state);
    run(net, action::FinishEpoch{a}, state);
    run(net, action::TransportPacketToLocation{p, b_in}, state);
    const Ulid b = new_epoch(net, "B", Salvo{Name("manual"), {{in, p}}}, state);
    run(net, action::StartEpoch{b}, state);
    run(net, action::ConsumePacket{p}, state);
    run(net, action::FinishEpoch{b}, state);
  }
  state.SetItemsProcessed(state.iterations() * 11);
  state.counters["actions"] = 11;
}
BENCHMARK(BM_EpochCycle);

// Fills the edge with `n` packets (untimed) and returns them oldest first.
std::vector<Ulid> fill_edge(NetSim& net, std::size_t n, benchmark::State& state) {
  const PacketLocation edge = PacketLocation::Edge(the_edge(net));
  std::vector<Ulid> ids;
  ids.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    const Ulid p = new_packet(net, std::nullopt, state);
    run(net, action::TransportPacketToLocation{p, edge}, state);
    ids.push_back(p);
  }
  return ids;
}

// Consumes the head of a deep edge queue until it is empty.
void BM_DrainEdgeByConsume(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  std::optional<NetSim> net;
  for (auto _ : state) {
    state.PauseTiming();
    net.reset();  // tearing down the previous net is not part of the drain
    net.emplace(two_node_graph());
    const std::vector<Ulid> ids = fill_edge(*net, n, state);
    state.ResumeTiming();
    for (const Ulid& p : ids) run(*net, action::ConsumePacket{p}, state);
  }
  benchmark::DoNotOptimize(net->packets().size());
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
}
BENCHMARK(BM_DrainEdgeByConsume)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Transports the head of a deep edge queue to the input port until the edge
// is empty: the edge shrinks from the front while the port grows at the back.
void BM_DrainEdgeByTransport(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const PacketLocation b_in = PacketLocation::InputPort(Name("B"), Name("in"));
  std::optional<NetSim> net;
  for (auto _ : state) {
    state.PauseTiming();
    net.reset();
    net.emplace(two_node_graph());
    const std::vector<Ulid> ids = fill_edge(*net, n, state);
    state.ResumeTiming();
    for (const Ulid& p : ids) run(*net, action::TransportPacketToLocation{p, b_in}, state);
  }
  benchmark::DoNotOptimize(net->packet_count_at(b_in));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
}
BENCHMARK(BM_DrainEdgeByTransport)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zellik
