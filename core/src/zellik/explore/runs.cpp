// Runs written out on a fresh fork of the start, and what a stuck state
// waits for.

#include <algorithm>

#include "zellik/base/internal_failure.h"
#include "zellik/explore/search_state.h"
#include "zellik/net/net_view.h"

namespace zellik::explore {

void Explorer::Impl::write_run(std::size_t t, TerminalState& terminal) {
  const std::uint32_t state = terminal_states[t];
  std::vector<std::uint32_t> chain;
  for (std::uint32_t s = state; s != 0; s = visited.parent(s)) chain.push_back(s);
  std::reverse(chain.begin(), chain.end());
  // A fork of the start, with the declarations' allowances full again.
  std::swap(net, scratch_net);
  net = fork_of(*scratch_net, snapshot);
  distinct_current = false;
  auto saved_injections = injections_left;
  auto saved_requests = requests_left;
  for (std::size_t i = 0; i < declarations.injections.size(); ++i) {
    injections_left[i] = declarations.injections[i].count;
  }
  for (std::size_t i = 0; i < declarations.requests.size(); ++i) {
    requests_left[i] = declarations.requests[i].count;
  }
  FrameStack saved_stack;
  saved_stack.swap(stack);
  stack.emplace_back();
  for (const std::uint32_t s : chain) redo(s, visited.label(s), &terminal.run);
  if (key() != visited.fingerprint(state)) fail("A run written out does not reach its state");
  if (terminal.kind == TerminalKind::Failed) {
    // The failing transition's actions up to the refused one, left in
    // place: the failure, the picture and the fingerprint are all where the
    // run ends, with the fork's ids.
    std::vector<Choice> choices;
    list_choices(choices);
    Frame frame;
    keep_refused = true;
    apply(choices[failed_choices[t].second], frame, &terminal.failure, &terminal.run);
    keep_refused = false;
    terminal.fingerprint = net->fingerprint();
    terminal.packets = packets_inside();
  } else {
    describe_stuck(terminal);
  }
  terminal.dot = to_dot(*net);
  stack.swap(saved_stack);
  injections_left = std::move(saved_injections);
  requests_left = std::move(saved_requests);
  std::swap(net, scratch_net);
  scratch_net.reset();
  distinct_current = false;
}

void Explorer::Impl::describe_stuck(TerminalState& terminal) const {
  const Graph& graph = net->graph();
  std::vector<Name> waiting_nodes;
  for (const Name& node_name : net->state_layout().node_order) {
    const Node& node = *graph.find_node(node_name);
    bool waits = false;
    for (const Name& port : net->state_layout().nodes.at(node_name).in_ports) {
      const PacketLocation at = PacketLocation::InputPort(node_name, port);
      if (const std::uint64_t n = net->packet_count_at(at); n > 0) {
        terminal.waiting.emplace_back(at, n);
        waits = true;
      }
      for (const Edge& edge : graph.get_edges_by_head(PortRef{node_name, PortType::Input, port})) {
        const PacketLocation on = PacketLocation::Edge(edge);
        if (const std::uint64_t n = net->packet_count_at(on); n > 0) {
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

}  // namespace zellik::explore
