// Runs written out on a fresh cursor over the start, and what a stuck state
// waits for.

#include <algorithm>

#include "zellik/base/internal_failure.h"
#include "zellik/explore/search.h"
#include "zellik/net/net_view.h"

namespace zellik::explore {

namespace {

template <class Map>
std::vector<Name> sorted_keys(const Map& map) {
  std::vector<Name> names;
  for (const auto& [name, _] : map) names.push_back(name);
  std::sort(names.begin(), names.end());
  return names;
}

// Where packets wait in `net`, a stuck state, and the conditions that wait:
// the nodes and their input ports in name order.
void describe_stuck(const NetSim& net, TerminalState& terminal) {
  const Graph& graph = net.graph();
  for (const Name& node_name : sorted_keys(graph.nodes())) {
    const Node& node = *graph.find_node(node_name);
    bool waits = false;
    for (const Name& port : sorted_keys(node.in_ports)) {
      const PacketLocation at = PacketLocation::InputPort(node_name, port);
      if (const std::uint64_t n = net.packet_count_at(at); n > 0) {
        terminal.waiting.emplace_back(at, n);
        waits = true;
      }
      for (const Edge& edge : graph.get_edges_by_head(PortRef{node_name, PortType::Input, port})) {
        const PacketLocation on = PacketLocation::Edge(edge);
        if (const std::uint64_t n = net.packet_count_at(on); n > 0) {
          terminal.waiting.emplace_back(on, n);
          waits = true;
        }
      }
    }
    if (!waits) continue;
    for (const auto& [condition, _] : node.in_salvo_conditions) {
      terminal.blocked_conditions.emplace_back(node_name, condition);
    }
  }
}

}  // namespace

void Explorer::Impl::write_run(std::size_t t, TerminalState& terminal) const {
  const std::uint32_t state = terminal_states_[t];
  // A fork of the start with the declarations' allowances whole, making
  // the ids the start goes on to make.
  NetCursor run(setting_, cursor_.net().graph(), /*shows_ids=*/true);
  run.go_to(state, visited_, &terminal.run);
  if (run.key() != visited_.fingerprint(state)) fail("A run written out does not reach its state");
  if (terminal.kind == TerminalKind::Failed) {
    // The failing transition's actions up to the refused one, left in
    // place: the failure, the picture and the fingerprint are all where the
    // run ends, with the fork's ids.
    run.take_to_refusal(refused_choices_[t], terminal.run, terminal.failure.emplace());
    terminal.fingerprint = fingerprint(run.net());
    terminal.packets = run.packets_inside();
  } else if (terminal.kind == TerminalKind::Stuck) {
    describe_stuck(run.net(), terminal);
  }
  DotLiveState live = dot_live_state(run.net());
  for (const auto& [node, condition] : terminal.blocked_conditions) {
    live.blocked[node].push_back(condition);
  }
  terminal.dot = to_dot(run.net().graph(), live);
  if (terminal.kind == TerminalKind::Livelock) {
    // Where the cycle begins, in the fork's ids; the fork goes on round it.
    terminal.fingerprint = fingerprint(run.net());
    terminal.packets = run.packets_inside();
    write_cycle(t, run, terminal);
  }
}

ExplorationResult Explorer::Impl::finish() {
  if (options_.order == SearchOrder::BreadthFirst) order_by_depth();
  result_.frontier = frontier();
  // Found last, once every transition is known.
  if (options_.livelocks != WaysOut::None && result_.finished) find_livelocks();
  for (std::size_t t = 0; t < result_.terminals.size(); ++t) {
    TerminalState& terminal = result_.terminals[t];
    terminal.seed = seed_;
    if (terminal.kind != TerminalKind::Clean && terminal.kind != TerminalKind::OverLimit) {
      write_run(t, terminal);
    }
  }
  return std::move(result_);
}

}  // namespace zellik::explore
