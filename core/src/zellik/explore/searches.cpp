// The three searches, each made of the steps of explorer.cpp.
//
// Depth-first search follows the cursor's run. Breadth-first search visits
// states in the order found and goes from one to the next by undoing to
// their common ancestor and redoing down; states found in a row share most
// of their runs, so each move is short. Without limits it walks the tree
// for every other layer only, and expands the layer after each on the spot
// (finish_tour). Random walks take one random choice after another.

#include <algorithm>

#include "zellik/explore/search.h"

namespace zellik::explore {

// --- Breadth-first -------------------------------------------------------------

bool Explorer::Impl::breadth_first(std::chrono::steady_clock::time_point chunk_end) {
  if (!started_) {
    start();
    const Limits& limits = options_.limits;
    bfs_.two_layers = !options_.exact && limits.max_states == 0 && limits.max_depth == 0 &&
                      limits.max_packets == 0;
    bfs_.tour_end = 1;
  }
  std::uint32_t since_check = 0;
  while (true) {
    if (bfs_.two_layers && bfs_.next == bfs_.tour_end) finish_tour();
    if (bfs_.next >= visited_.size()) break;
    if (++since_check == 16) {
      since_check = 0;
      if (limits_hit()) return true;
      if (std::chrono::steady_clock::now() >= chunk_end) return false;
    }
    const auto state = static_cast<std::uint32_t>(bfs_.next++);
    if (!followed_[state]) continue;
    cursor_.go_to(state, visited_);
    expand(state);
    // The error is the result's; a full set has stopped it already.
    if (!cursor_.error().empty() || states_full_) return true;
  }
  result_.finished = !truncated_;
  return true;
}

template <class Moved>
void Explorer::Impl::try_each(std::uint32_t state, Moved&& moved) {
  const std::vector<Choice>& choices = cursor_.choices();
  if (!cursor_.error().empty()) return;
  Tally tally;
  for (std::size_t i = 0; i < choices.size(); ++i) {
    const auto index = static_cast<std::uint16_t>(i);
    if (!take(state, index, tally)) continue;
    const Go go = moved(index);
    if (go == Go::Leave) return;
    if (go == Go::Stop) break;
  }
  settle(state, tally);
}

void Explorer::Impl::expand(std::uint32_t state) {
  try_each(state, [this, state](std::uint16_t index) {
    const Arrival at = arrive(state, index);
    if (at.how == Reached::Limited) return Go::Stop;
    if (at.how == Reached::Full) return Go::Leave;
    if (at.how == Reached::New && bfs_.two_layers && followed_[at.state]) look_ahead(at.state);
    cursor_.back();
    return Go::On;
  });
}

void Explorer::Impl::look_ahead(std::uint32_t state) {
  try_each(state, [this, state](std::uint16_t index) {
    ++result_.transitions;
    // A state known already stays known: only the others wait.
    const Fingerprint fp = cursor_.key();
    if (keeps_transitions()) {
      const std::uint32_t known = visited_.find(fp, {});
      if (known != VisitedSet::kNone) {
        keep_transition(state, known, index);
      } else {
        bfs_.ahead.push_back({state, index, fp});
      }
    }
    if (!visited_.contains(fp)) {
      bfs_.pending.push_back(state, fp, index);
      // Checked here, where the cursor is at it; numbered with the others.
      if (!checks_.empty()) {
        const auto [violated, now] = check(fp);
        if (now && violated != PropertyCheck::kNone)
          bfs_.violations.emplace_back(fp, violation(violated));
      }
    }
    cursor_.back();
    return Go::On;
  });
}

void Explorer::Impl::finish_tour() {
  const std::size_t next_layer = visited_.size();
  const std::uint64_t depth = bfs_.tour_depth + 2;
  bfs_.pending.drain(
      [this, depth](std::uint32_t parent, const Fingerprint& fp, std::uint16_t choice_index) {
        if (visited_.size() >= kMostStates) return;  // limits_hit stops the search
        if (visited_.insert(fp, {}, parent, choice_index).second) {
          followed_.push_back(true);
          result_.max_depth = std::max<std::uint64_t>(result_.max_depth, depth);
        }
      });
  for (auto& [fp, terminal] : bfs_.violations) {
    const std::uint32_t state = visited_.find(fp, {});
    if (state == VisitedSet::kNone) continue;  // not numbered: the search stops
    followed_[state] = false;
    record_terminal(std::move(terminal), state, 0);
  }
  bfs_.violations.clear();
  bfs_.checked.clear();
  for (const auto& [from, index, fp] : bfs_.ahead) {
    const std::uint32_t to = visited_.find(fp, {});
    if (to != VisitedSet::kNone) keep_transition(from, to, index);
  }
  bfs_.ahead.clear();
  // The layer after the one walked is expanded already: the walk goes on
  // with the one after it.
  bfs_.next = next_layer;
  bfs_.tour_end = visited_.size();
  bfs_.tour_depth = depth;
}

void Explorer::Impl::order_by_depth() {
  std::vector<TerminalState>& found = result_.terminals;
  std::vector<std::size_t> order(found.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&found](std::size_t a, std::size_t b) {
    return found[a].depth < found[b].depth;
  });
  std::vector<TerminalState> terminals;
  std::vector<std::uint32_t> states;
  std::vector<std::uint16_t> refused;
  for (const std::size_t i : order) {
    terminals.push_back(std::move(found[i]));
    states.push_back(terminal_states_[i]);
    refused.push_back(refused_choices_[i]);
  }
  found = std::move(terminals);
  terminal_states_ = std::move(states);
  refused_choices_ = std::move(refused);
}

// --- Depth-first -----------------------------------------------------------------

bool Explorer::Impl::depth_first(std::chrono::steady_clock::time_point chunk_end) {
  if (!started_) {
    start();
    dfs_.emplace_back();
  }
  std::uint32_t since_check = 0;
  while (!dfs_.empty()) {
    if (++since_check == 64) {
      since_check = 0;
      if (limits_hit()) return true;
      if (std::chrono::steady_clock::now() >= chunk_end) return false;
    }
    Progress& top = dfs_.back();
    const std::uint32_t state = cursor_.state();
    if (!top.listed) {
      top.listed = true;
      top.count = followed_[state] ? cursor_.choices().size() : 0;
      if (!cursor_.error().empty()) return true;
    }
    if (top.next >= top.count) {
      if (followed_[state]) settle(state, top.tally);
      dfs_.pop_back();
      if (!dfs_.empty()) cursor_.back();
      continue;
    }
    const auto index = static_cast<std::uint16_t>(top.next++);
    if (!take(state, index, top.tally)) continue;
    const Arrival at = arrive(state, index);
    if (at.how == Reached::Limited) {
      top.next = top.count;
      continue;
    }
    if (at.how == Reached::Full) return true;
    if (at.how == Reached::Known || !followed_[at.state]) {
      cursor_.back();
      continue;
    }
    dfs_.emplace_back();
  }
  result_.finished = !truncated_;
  return true;
}

// --- What a stopped search left --------------------------------------------------

std::uint64_t Explorer::Impl::frontier() const {
  std::uint64_t left = cut_at_depth_;
  if (options_.order == SearchOrder::BreadthFirst) {
    // In two layers the states after the layer walked are expanded already:
    // what they reach waits in `pending`.
    const std::size_t end =
        bfs_.two_layers ? std::min(bfs_.tour_end, visited_.size()) : visited_.size();
    for (std::size_t state = bfs_.next; state < end; ++state) left += followed_[state] ? 1 : 0;
    left += bfs_.pending.size();
  } else if (options_.order == SearchOrder::DepthFirst) {
    left += dfs_.size();
  }
  return left;
}

// --- Random walks ------------------------------------------------------------------

bool Explorer::Impl::random_walks(std::chrono::steady_clock::time_point chunk_end) {
  if (!started_) start();
  std::uint32_t since_check = 0;
  while (true) {
    if (!walks_.under_way) {
      if (walks_.done == options_.walks) break;
      if (limits_hit()) return true;
      if (std::chrono::steady_clock::now() >= chunk_end) return false;
      walks_.under_way = true;
      walks_.seen.clear();
      walks_.seen.insert(0);
    } else if (++since_check == 64) {
      since_check = 0;
      if (limits_hit()) return true;
      if (std::chrono::steady_clock::now() >= chunk_end) return false;
    }
    // One move of the walk. A walk ends where nothing can happen, at a
    // state it passed before (a cycle), or at a limit.
    const std::uint32_t state = cursor_.state();
    bool ends = true;
    if (followed_[state] && !at_depth_limit()) {
      const std::size_t count = cursor_.choices().size();
      if (!cursor_.error().empty()) return true;
      std::vector<std::uint16_t>& order = walks_.order;
      order.resize(count);
      for (std::size_t i = 0; i < count; ++i) order[i] = static_cast<std::uint16_t>(i);
      std::shuffle(order.begin(), order.end(), walks_.rng);
      Tally tally;
      for (const std::uint16_t index : order) {
        if (!take(state, index, tally)) continue;
        const Arrival at = arrive(state, index);
        if (at.how == Reached::Full) return true;
        // The cursor's run is the one that first found the state it is at:
        // a known state is reached along its own run.
        if (at.how == Reached::Known) {
          cursor_.back();
          cursor_.go_to(at.state, visited_);
          result_.max_depth = std::max<std::uint64_t>(result_.max_depth, cursor_.depth());
        }
        ends = !walks_.seen.insert(at.state).second;
        break;
      }
      settle(state, tally);
    }
    if (ends) {
      cursor_.to_start();
      walks_.under_way = false;
      ++walks_.done;
    }
  }
  // Walks prove nothing complete: the search ends when they are made.
  result_.stopped = StopReason::Walks;
  return true;
}

}  // namespace zellik::explore
