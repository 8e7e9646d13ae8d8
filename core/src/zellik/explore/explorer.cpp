// The schedule explorer: a search over the executor's choices on a fork of
// a net, moving between states with actions and their undo (the working
// state and its hot path: search_state.h, transitions.cpp).
//
// Depth-first search follows the stack. Breadth-first search visits states
// in the order found and goes from one to the next by undoing to their
// common ancestor and redoing down; states found in a row share most of
// their runs, so each move is short. Without limits it walks the tree for
// every other layer only, and expands the layer after each on the spot
// (finish_tour).

#include <algorithm>

#include "zellik/explore/search_state.h"
#include "zellik/graph/cascade.h"
#include "zellik/net/snapshot.h"

namespace zellik::explore {

Explorer::Impl::Impl(const NetSim& start, Declarations declared, Options opts)
    : snapshot(encode_snapshot(start)),
      seed(seed_of(start.id_source().state())),
      net(fork_of(start, snapshot)),
      declarations(std::move(declared)),
      options(opts),
      visited(opts.exact),
      rng(opts.seed) {
  share_graph_names(start.graph(), declarations);
  for (const Behaviour& behaviour : declarations.behaviours)
    behaviours[behaviour.node] = &behaviour;
  for (const Injection& injection : declarations.injections)
    injections_left.push_back(injection.count);
  for (const RequestAllowance& request : declarations.requests)
    requests_left.push_back(request.count);
  // A step that sends the startup requests can fail after changing the net
  // (see apply): such steps are undone from a snapshot.
  const Graph& graph = start.graph();
  for (const auto& [name, node] : graph.nodes()) {
    if (node.dependency_request_config) has_request_state = true;
    if (node.dependency_request_config &&
        node.dependency_request_config->has_trigger(DependencyRequestTrigger::OnStartup)) {
      has_startup_requests = true;
    }
  }
  if (!declarations.requests.empty() || !start.pending_requests().empty()) has_request_state = true;
  // Whether some node's requests cannot be resolved: its cascade fails.
  if (has_request_state) {
    for (const auto& [node, ports] : request_start_ports(graph)) {
      if (!cascade_backward(graph, ports).ok()) step_may_fail = true;
    }
  }
  // The working net's ids are never shown (runs are written out on a fork
  // of the start): a seeded source makes them without the clock.
  net->restore_id_source(IdSource::Seeded(1).state());
  if (options.limits.max_time.count() > 0) {
    deadline = std::chrono::steady_clock::now() + options.limits.max_time;
  }
}

bool Explorer::Impl::limits_hit(ExplorationResult& result) {
  if (cancelled) {
    result.stopped = StopReason::Cancelled;
    return true;
  }
  // States are numbered in 32 bits (max_states is kept by visit).
  if (visited.size() >= kMostStates) {
    result.stopped = StopReason::States;
    return true;
  }
  if (deadline && std::chrono::steady_clock::now() >= *deadline) {
    result.stopped = StopReason::Time;
    return true;
  }
  return false;
}

bool Explorer::Impl::breadth_first(std::chrono::steady_clock::time_point chunk_end,
                                   ExplorationResult& result) {
  if (!started) {
    started = true;
    stack.emplace_back();
    visit(0, 0, result);
    const Limits& limits = options.limits;
    two_layers = !options.exact && limits.max_states == 0 && limits.max_depth == 0 &&
                 limits.max_packets == 0;
    tour_end = 1;
  }
  std::uint32_t since_check = 0;
  while (true) {
    if (two_layers && next_to_expand == tour_end) finish_tour(result);
    if (next_to_expand >= visited.size()) break;
    if (++since_check == 16) {
      since_check = 0;
      if (limits_hit(result)) return true;
      if (std::chrono::steady_clock::now() >= chunk_end) return false;
    }
    const auto state = static_cast<std::uint32_t>(next_to_expand++);
    if (!followed[state]) continue;
    go_to(state);
    expand(state, result);
    if (!stop_error.empty()) return true;
    if (states_full) {
      result.stopped = StopReason::States;
      return true;
    }
  }
  result.finished = !truncated;
  return true;
}

void Explorer::Impl::order_by_depth(ExplorationResult& result) {
  const std::size_t count = result.terminals.size();
  std::vector<std::size_t> order(count);
  for (std::size_t i = 0; i < count; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&result](std::size_t a, std::size_t b) {
    return result.terminals[a].depth < result.terminals[b].depth;
  });
  std::vector<TerminalState> terminals;
  std::vector<std::uint32_t> states;
  std::vector<std::pair<std::uint32_t, std::uint16_t>> failed;
  for (const std::size_t i : order) {
    terminals.push_back(std::move(result.terminals[i]));
    states.push_back(terminal_states[i]);
    failed.push_back(failed_choices[i]);
  }
  result.terminals = std::move(terminals);
  terminal_states = std::move(states);
  failed_choices = std::move(failed);
}

void Explorer::Impl::finish_tour(ExplorationResult& result) {
  const std::size_t next_layer = visited.size();
  // The terminal states of the two layers, found interleaved, are put in
  // order of depth at the end (order_by_depth).
  pending.drain([this, &result](std::uint32_t parent, const Fingerprint& fp, std::uint16_t label) {
    if (visited.size() >= kMostStates) return;  // limits_hit stops the search
    if (visited.insert(fp, {}, parent, label).second) {
      followed.push_back(true);
      result.max_depth = std::max<std::uint64_t>(result.max_depth, tour_depth + 2);
    }
  });
  // The layer after the one walked is expanded already: the walk goes on
  // with the one after it.
  next_to_expand = next_layer;
  tour_end = visited.size();
  tour_depth += 2;
}

bool Explorer::Impl::depth_first(std::chrono::steady_clock::time_point chunk_end,
                                 ExplorationResult& result) {
  if (!started) {
    started = true;
    stack.emplace_back();
    visit(0, 0, result);
  }
  std::uint32_t since_check = 0;
  while (!stack.empty()) {
    if (++since_check == 64) {
      since_check = 0;
      if (limits_hit(result)) return true;
      if (std::chrono::steady_clock::now() >= chunk_end) return false;
    }
    Frame& top = stack.back();
    if (!top.listed) {
      top.listed = true;
      top.next = 0;
      top.applied = 0;
      top.failed = 0;
      if (followed[top.state]) list_choices(top.choices);
      if (!stop_error.empty()) return true;
    }
    if (top.next >= top.choices.size()) {
      if (top.applied == 0 && top.failed == 0 && followed[top.state]) {
        classify(top.state, result);
      }
      if (stack.size() == 1) {
        stack.pop_back();
        break;
      }
      pop(top);
      continue;
    }
    const std::uint32_t state = top.state;
    const auto label = static_cast<std::uint16_t>(top.next++);
    const Choice choice = top.choices[label];
    const bool limited = at_depth_limit();
    std::string failure;
    Frame& frame = stack.emplace_back();
    const Applied a = apply(choice, frame, &failure);
    if (a != Applied::Yes) {
      stack.pop_back();
      if (a == Applied::Failed) {
        ++stack.back().failed;
        add_terminal(TerminalKind::Failed, state, stack.size() - 1, result, failure, label);
      }
      continue;
    }
    ++stack[stack.size() - 2].applied;
    if (limited) {
      truncated = true;
      result.stopped = StopReason::Depth;
      pop(stack.back());
      stack.back().next = stack.back().choices.size();
      continue;
    }
    auto [next, fresh] = visit(state, label, result);
    if (next == VisitedSet::kNone) {
      pop(stack.back());
      result.stopped = StopReason::States;
      return true;
    }
    ++result.transitions;
    // Every new state counts towards the depth reached, those not followed
    // (over max_packets) included, as breadth-first counts them.
    if (fresh) result.max_depth = std::max<std::uint64_t>(result.max_depth, stack.size() - 1);
    if (!fresh || !followed[next]) {
      pop(stack.back());
      continue;
    }
    stack.back().state = next;
  }
  result.finished = !truncated && stack.empty();
  return true;
}

bool Explorer::Impl::random_walks(std::chrono::steady_clock::time_point chunk_end,
                                  ExplorationResult& result) {
  if (!started) {
    started = true;
    stack.emplace_back();
    visit(0, 0, result);
  }
  std::vector<Choice>& choices = walk_choices;
  std::vector<std::uint16_t>& order = walk_order;
  std::uint32_t since_check = 0;
  while (true) {
    if (!in_walk) {
      if (walks_done == options.walks) break;
      if (limits_hit(result)) return true;
      if (std::chrono::steady_clock::now() >= chunk_end) return false;
      in_walk = true;
      walk_seen.clear();
      walk_seen.insert(0);
    } else if (++since_check == 64) {
      since_check = 0;
      if (limits_hit(result)) return true;
      if (std::chrono::steady_clock::now() >= chunk_end) return false;
    }
    // One move of the walk. A walk ends where nothing can happen, at a
    // state it passed before (a cycle), or at a limit.
    const std::uint32_t state = stack.back().state;
    bool ends = true;
    if (followed[state] && !at_depth_limit()) {
      list_choices(choices);
      if (!stop_error.empty()) return true;
      order.resize(choices.size());
      for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint16_t>(i);
      std::shuffle(order.begin(), order.end(), rng);
      bool moved = false;
      bool failed = false;
      for (const std::uint16_t label : order) {
        std::string failure;
        Frame& frame = stack.emplace_back();
        const Applied a = apply(choices[label], frame, &failure);
        if (a != Applied::Yes) {
          stack.pop_back();
          if (a == Applied::Failed) {
            failed = true;
            add_terminal(TerminalKind::Failed, state, stack.size() - 1, result, failure, label);
          }
          continue;
        }
        auto [next, fresh] = visit(state, label, result);
        if (next == VisitedSet::kNone) {
          pop(stack.back());
          result.stopped = StopReason::States;
          return true;
        }
        ++result.transitions;
        // The stack holds the run that first found the state it is at: a
        // known state is reached along its own run.
        if (!fresh) {
          pop(stack.back());
          go_to(next);
        } else {
          stack.back().state = next;
        }
        result.max_depth = std::max<std::uint64_t>(result.max_depth, stack.size() - 1);
        moved = true;
        ends = !walk_seen.insert(next).second;
        break;
      }
      if (!moved && !failed) classify(state, result);
    }
    if (ends) {
      while (stack.size() > 1) pop(stack.back());
      in_walk = false;
      ++walks_done;
    }
  }
  // Walks prove nothing complete: the search ends when they are made.
  result.stopped = StopReason::Walks;
  return true;
}

Explorer::Explorer(const NetSim& start, Declarations declarations, Options options)
    : impl_(std::make_unique<Impl>(start, std::move(declarations), options)) {}

Explorer::~Explorer() = default;

bool Explorer::run(std::chrono::steady_clock::time_point chunk_end) {
  // A cancelled exploration is done: it explores no further, so it cannot
  // finish after its cancel.
  if (!impl_->stop_error.empty() || impl_->cancelled) return true;
  bool done = false;
  switch (impl_->options.order) {
    case SearchOrder::BreadthFirst:
      done = impl_->breadth_first(chunk_end, result_);
      break;
    case SearchOrder::DepthFirst:
      done = impl_->depth_first(chunk_end, result_);
      break;
    case SearchOrder::RandomWalk:
      done = impl_->random_walks(chunk_end, result_);
      break;
  }
  result_.error = impl_->stop_error;
  result_.states = impl_->visited.size();
  result_.visited_bytes =
      impl_->visited.bytes() + impl_->followed.capacity() / 8 + impl_->pending.bytes();
  return done;
}

void Explorer::cancel() {
  impl_->cancelled = true;
  if (!result_.finished) result_.stopped = StopReason::Cancelled;
}

ExplorationResult Explorer::finish() {
  if (impl_->options.order == SearchOrder::BreadthFirst) impl_->order_by_depth(result_);
  for (std::size_t t = 0; t < result_.terminals.size(); ++t) {
    TerminalState& terminal = result_.terminals[t];
    terminal.seed = impl_->seed;
    if (terminal.kind == TerminalKind::Stuck || terminal.kind == TerminalKind::Failed) {
      impl_->write_run(t, terminal);
    }
  }
  return std::move(result_);
}

}  // namespace zellik::explore
