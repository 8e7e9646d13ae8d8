// The schedule explorer: a search over the executor's choices on a fork of
// a net, moving between states with actions and their undo (the cursor:
// cursor.h). Every search is made of the same steps: take a choice (a
// refusal is a failed terminal state), arrive where it leads (numbered, or
// stopped by a limit), come back, and settle a state once its choices are
// tried (clean or stuck when none moved or failed).

#include <algorithm>

#include "zellik/explore/search.h"

namespace zellik::explore {

Explorer::Impl::Impl(const NetSim& start, Declarations declarations, Options options)
    : setting_(start, std::move(declarations)),
      options_(options),
      checks_(start, setting_.declarations.properties),
      seed_(seed_of(start.id_source().state())),
      cursor_(setting_, start.graph(), /*shows_ids=*/false),
      visited_(options.exact) {
  walks_.rng.seed(options.seed);
  if (options.limits.max_time.count() > 0) {
    deadline_ = std::chrono::steady_clock::now() + options.limits.max_time;
  }
}

// --- The steps -----------------------------------------------------------------

void Explorer::Impl::start() {
  started_ = true;
  visit(0, 0);
}

bool Explorer::Impl::take(std::uint32_t state, std::uint16_t index, Tally& tally) {
  std::string failure;
  const Applied applied = cursor_.take(index, &failure);
  if (applied == Applied::Yes) {
    ++tally.moved;
    return true;
  }
  if (applied == Applied::Failed) {
    ++tally.failed;
    add_terminal(TerminalKind::Failed, state, std::move(failure), index);
  }
  return false;
}

Explorer::Impl::Arrival Explorer::Impl::arrive(std::uint32_t parent, std::uint16_t index) {
  const Limits& limits = options_.limits;
  if (limits.max_depth > 0 && cursor_.depth() - 1 >= limits.max_depth) {
    truncated_ = true;
    ++cut_at_depth_;
    result_.stopped = StopReason::Depth;
    cursor_.back();
    return {Reached::Limited, VisitedSet::kNone};
  }
  const auto [next, fresh] = visit(parent, index);
  if (next == VisitedSet::kNone) {
    cursor_.back();
    result_.stopped = StopReason::States;
    return {Reached::Full, next};
  }
  ++result_.transitions;
  keep_transition(parent, next, index);
  cursor_.number(next);
  if (!fresh) return {Reached::Known, next};
  // Every new state counts towards the depth reached, those not followed
  // (over max_packets) included.
  result_.max_depth = std::max<std::uint64_t>(result_.max_depth, cursor_.depth());
  return {Reached::New, next};
}

void Explorer::Impl::settle(std::uint32_t state, const Tally& tally) {
  // A state whose every choice fails is told by its failures alone.
  if (tally.moved > 0 || tally.failed > 0) return;
  const TerminalKind kind =
      cursor_.packets_inside() > 0 ? TerminalKind::Stuck : TerminalKind::Clean;
  add_terminal(kind, state);
}

std::pair<std::uint32_t, bool> Explorer::Impl::visit(std::uint32_t parent, std::uint16_t index) {
  const Fingerprint fp = cursor_.key();
  if (options_.limits.max_states > 0 && visited_.size() >= options_.limits.max_states) {
    const std::uint32_t known = visited_.find(fp, cursor_.key_words());
    if (known == VisitedSet::kNone) states_full_ = true;
    return {known, false};
  }
  auto [state, fresh] = visited_.insert(fp, cursor_.key_words(), parent, index);
  if (!fresh) return {state, false};
  const std::uint64_t max_packets = options_.limits.max_packets;
  const bool over = max_packets > 0 && cursor_.packets_inside() > max_packets;
  // A violation is a finding, and stands before the limit.
  const std::size_t violated = checks_.empty() ? PropertyCheck::kNone : check(fp).first;
  followed_.push_back(!over && violated == PropertyCheck::kNone);
  if (violated != PropertyCheck::kNone) {
    record_terminal(violation(violated), state, 0);
  } else if (over) {
    add_terminal(TerminalKind::OverLimit, state);
  }
  return {state, true};
}

void Explorer::Impl::add_terminal(TerminalKind kind, std::uint32_t state, std::string failure,
                                  std::uint16_t refused) {
  TerminalState t;
  t.kind = kind;
  t.fingerprint = fingerprint(cursor_.net());
  t.depth = cursor_.depth();
  t.packets = cursor_.packets_inside();
  if (!failure.empty()) t.failure = std::move(failure);
  record_terminal(std::move(t), state, refused);
}

std::pair<std::size_t, bool> Explorer::Impl::check(const Fingerprint& fp) {
  if (!bfs_.two_layers) return {checks_.first_violated(cursor_.net()), true};
  const auto [at, fresh] = bfs_.checked.try_emplace(fp, PropertyCheck::kNone);
  if (fresh) at->second = checks_.first_violated(cursor_.net());
  return {at->second, fresh};
}

TerminalState Explorer::Impl::violation(std::size_t property) const {
  TerminalState t;
  t.kind = TerminalKind::Violated;
  t.fingerprint = fingerprint(cursor_.net());
  t.depth = cursor_.depth();
  t.packets = cursor_.packets_inside();
  t.property_name = checks_[property].name;
  return t;
}

void Explorer::Impl::record_terminal(TerminalState terminal, std::uint32_t state,
                                     std::uint16_t refused) {
  Fingerprint key = visited_.fingerprint(state);
  // One failure per state and choice.
  if (terminal.kind == TerminalKind::Failed) key.hi ^= 0x9E3779B97F4A7C15ULL * (refused + 1U);
  if (!terminals_seen_.insert(key).second) return;
  result_.terminals.push_back(std::move(terminal));
  terminal_states_.push_back(state);
  refused_choices_.push_back(refused);
}

bool Explorer::Impl::limits_hit() {
  if (cancelled_) {
    result_.stopped = StopReason::Cancelled;
    return true;
  }
  // States are numbered in 32 bits (max_states is kept by visit).
  if (visited_.size() >= kMostStates) {
    result_.stopped = StopReason::States;
    return true;
  }
  if (deadline_ && std::chrono::steady_clock::now() >= *deadline_) {
    result_.stopped = StopReason::Time;
    return true;
  }
  return false;
}

bool Explorer::Impl::run(std::chrono::steady_clock::time_point chunk_end) {
  // A cancelled exploration is done: it explores no further, so it cannot
  // finish after its cancel.
  if (!cursor_.error().empty() || cancelled_) return true;
  bool done = false;
  switch (options_.order) {
    case SearchOrder::BreadthFirst:
      done = breadth_first(chunk_end);
      break;
    case SearchOrder::DepthFirst:
      done = depth_first(chunk_end);
      break;
    case SearchOrder::RandomWalk:
      done = random_walks(chunk_end);
      break;
  }
  result_.error = cursor_.error();
  result_.states = visited_.size();
  result_.visited_bytes =
      visited_.bytes() + followed_.capacity() / 8 + bfs_.pending.bytes() + transitions_.bytes();
  return done;
}

void Explorer::Impl::cancel() {
  cancelled_ = true;
  if (!result_.finished) result_.stopped = StopReason::Cancelled;
}

// --- The public class --------------------------------------------------------------

Explorer::Explorer(const NetSim& start, Declarations declarations, Options options)
    : impl_(std::make_unique<Impl>(start, std::move(declarations), options)) {}

Explorer::~Explorer() = default;

bool Explorer::run(std::chrono::steady_clock::time_point chunk_end) {
  return impl_->run(chunk_end);
}

void Explorer::cancel() { impl_->cancel(); }

const ExplorationResult& Explorer::result() const { return impl_->result(); }

ExplorationResult Explorer::finish() { return impl_->finish(); }

}  // namespace zellik::explore
