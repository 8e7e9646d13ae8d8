// Livelocks: after a finished exploration, the states from which no way
// out can be reached, and the cycles among them that the net can never
// leave.
//
// Every transition taken was kept (from, to, choice). A backward search
// from the ways out (the terminal states, or the clean ones only) marks
// every state that can reach one; the others are trapped, and they are
// closed under transitions: a successor of a trapped state is trapped. The
// strongly connected components of the trapped states (Tarjan's, iterative:
// a run of a million states must not use a million stack frames) with no
// transition leaving them and a transition inside them are the livelocks:
// cycles the net can never leave. Each is reported at its state nearest
// the start (breadth-first: the run to it is a shortest one), with a
// shortest cycle through that state.

#include <algorithm>
#include <unordered_map>

#include "zellik/base/internal_failure.h"
#include "zellik/explore/search.h"

namespace zellik::explore {

namespace {

constexpr std::uint32_t kUnseen = 0xFFFFFFFFU;

// The transitions by the state they leave, or by the one they reach: the
// numbers of those of state s are at [begin[s], begin[s + 1]).
struct Adjacency {
  std::vector<std::uint32_t> begin;
  std::vector<std::uint32_t> edges;  // transition numbers
};

template <class Transitions, class End>
Adjacency adjacency(const Transitions& transitions, std::size_t states, End end) {
  Adjacency a;
  a.begin.assign(states + 1, 0);
  for (std::size_t i = 0; i < transitions.size(); ++i) ++a.begin[end(transitions[i]) + 1];
  for (std::size_t s = 0; s < states; ++s) a.begin[s + 1] += a.begin[s];
  a.edges.resize(transitions.size());
  std::vector<std::uint32_t> next(a.begin.begin(), a.begin.end() - 1);
  for (std::size_t i = 0; i < transitions.size(); ++i) {
    a.edges[next[end(transitions[i])]++] = static_cast<std::uint32_t>(i);
  }
  return a;
}

}  // namespace

void Explorer::Impl::find_livelocks() {
  const std::size_t states = visited_.size();
  const Adjacency out = adjacency(transitions_, states, [](const Transition& t) { return t.from; });
  const Adjacency in = adjacency(transitions_, states, [](const Transition& t) { return t.to; });

  // The states that can reach a way out, from the ways out backwards.
  std::vector<bool> leaves(states, false);
  std::vector<std::uint32_t> queue;
  for (std::size_t t = 0; t < result_.terminals.size(); ++t) {
    const TerminalKind kind = result_.terminals[t].kind;
    if (options_.livelocks == WaysOut::CleanEnd && kind != TerminalKind::Clean) continue;
    if (!leaves[terminal_states_[t]]) {
      leaves[terminal_states_[t]] = true;
      queue.push_back(terminal_states_[t]);
    }
  }
  for (std::size_t q = 0; q < queue.size(); ++q) {
    const std::uint32_t s = queue[q];
    for (std::uint32_t e = in.begin[s]; e < in.begin[s + 1]; ++e) {
      const std::uint32_t from = transitions_[in.edges[e]].from;
      if (!leaves[from]) {
        leaves[from] = true;
        queue.push_back(from);
      }
    }
  }
  result_.trapped = states - queue.size();
  if (result_.trapped == 0) return;

  // Tarjan's components of the trapped states.
  std::vector<std::uint32_t> order(states, kUnseen);
  std::vector<std::uint32_t> low(states, 0);
  std::vector<std::uint32_t> component(states, kUnseen);
  std::vector<bool> on_stack(states, false);
  std::vector<std::uint32_t> stack;
  struct Call {
    std::uint32_t state;
    std::uint32_t next;  // its next transition, by position in `out`
  };
  std::vector<Call> calls;
  std::uint32_t counter = 0;
  std::uint32_t components = 0;
  // The livelocks, each by its state nearest the start.
  std::vector<std::uint32_t> entries;

  auto enter = [&](std::uint32_t s) {
    order[s] = low[s] = counter++;
    stack.push_back(s);
    on_stack[s] = true;
    calls.push_back(Call{s, out.begin[s]});
  };
  // The component rooted at `root` is on the stack down to it.
  auto close = [&](std::uint32_t root) {
    const std::uint32_t id = components++;
    const auto first = std::find(stack.rbegin(), stack.rend(), root).base() - 1;
    for (auto it = first; it != stack.end(); ++it) {
      component[*it] = id;
      on_stack[*it] = false;
    }
    bool closed = true;
    bool cycles = stack.end() - first > 1;
    std::uint32_t entry = root;
    for (auto it = first; it != stack.end(); ++it) {
      entry = std::min(entry, *it);
      for (std::uint32_t e = out.begin[*it]; e < out.begin[*it + 1]; ++e) {
        const std::uint32_t to = transitions_[out.edges[e]].to;
        if (component[to] != id) closed = false;
        if (to == *it) cycles = true;
      }
    }
    stack.erase(first, stack.end());
    if (closed && cycles) entries.push_back(entry);
  };
  for (std::uint32_t s = 0; s < states; ++s) {
    if (leaves[s] || order[s] != kUnseen) continue;
    enter(s);
    while (!calls.empty()) {
      Call& call = calls.back();
      const std::uint32_t v = call.state;
      if (call.next < out.begin[v + 1]) {
        const std::uint32_t w = transitions_[out.edges[call.next++]].to;
        if (order[w] == kUnseen) {
          enter(w);  // `call` may move
        } else if (on_stack[w]) {
          low[v] = std::min(low[v], order[w]);
        }
        continue;
      }
      calls.pop_back();
      if (!calls.empty()) {
        const std::uint32_t parent = calls.back().state;
        low[parent] = std::min(low[parent], low[v]);
      }
      if (low[v] == order[v]) close(v);
    }
  }

  // Each livelock at its entry, nearest first, with a shortest cycle
  // through it: a breadth-first search inside its component back to it.
  std::sort(entries.begin(), entries.end());
  for (const std::uint32_t entry : entries) {
    const std::uint32_t id = component[entry];
    std::unordered_map<std::uint32_t, std::uint32_t> reached_by;  // state -> transition
    std::vector<std::uint32_t> frontier{entry};
    std::uint32_t closing = kUnseen;
    for (std::size_t q = 0; q < frontier.size() && closing == kUnseen; ++q) {
      const std::uint32_t s = frontier[q];
      for (std::uint32_t e = out.begin[s]; e < out.begin[s + 1]; ++e) {
        const std::uint32_t to = transitions_[out.edges[e]].to;
        if (component[to] != id) continue;
        if (to == entry) {
          closing = out.edges[e];
          break;
        }
        if (reached_by.emplace(to, out.edges[e]).second) frontier.push_back(to);
      }
    }
    if (closing == kUnseen) fail("A livelock's cycle does not come back to its state");
    std::vector<std::uint16_t> cycle{transitions_[closing].index};
    for (std::uint32_t s = transitions_[closing].from; s != entry;) {
      const Transition& by = transitions_[reached_by.at(s)];
      cycle.push_back(by.index);
      s = by.from;
    }
    std::reverse(cycle.begin(), cycle.end());

    TerminalState t;
    t.kind = TerminalKind::Livelock;
    t.fingerprint = visited_.fingerprint(entry);
    for (std::uint32_t s = entry; s != 0; s = visited_.parent(s)) ++t.depth;
    result_.terminals.push_back(std::move(t));
    terminal_states_.push_back(entry);
    refused_choices_.push_back(0);
    cycles_.resize(result_.terminals.size());
    cycles_.back() = std::move(cycle);
  }
}

void Explorer::Impl::write_cycle(std::size_t t, NetCursor& run, TerminalState& terminal) const {
  const Fingerprint at = run.key();
  for (const std::uint16_t index : cycles_[t]) {
    if (run.take(index, nullptr, &terminal.cycle) != Applied::Yes) {
      fail("The explorer could not take a cycle it took before");
    }
  }
  if (run.key() != at) fail("A livelock's cycle does not come back to its state");
}

}  // namespace zellik::explore
