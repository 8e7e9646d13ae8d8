// The search over the executor's choices, shared by the explorer's
// translation units: explorer.cpp (the steps every search is made of, and
// the public class), searches.cpp (breadth-first, depth-first and random
// walks) and runs.cpp (runs written out, stuck states described).
// Internal to the explorer.
//
// Every state is numbered in the order found (VisitedSet) with the state it
// was first reached from and the index of the choice that reached it, so a
// state's run is its chain of parents, which the cursor (cursor.h) follows
// to reach it again.

#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "zellik/explore/cursor.h"
#include "zellik/explore/explorer.h"
#include "zellik/explore/visited_set.h"

namespace zellik::explore {

// The most states one exploration numbers.
inline constexpr std::uint64_t kMostStates = 0xFFFFFF00ULL;

// States reached and not numbered yet, in the order found: each by its
// fingerprint, parent and the index of the choice that reached it, 18
// bytes (parents are kept once per run of states found from one parent).
// Its memory stays as large as it once was, in chunks. Not copyable.
class PendingStates {
 public:
  PendingStates() = default;
  PendingStates(const PendingStates&) = delete;
  PendingStates& operator=(const PendingStates&) = delete;

  void push_back(std::uint32_t parent, const Fingerprint& fingerprint, std::uint16_t choice_index) {
    if (runs_.size() == 0 || runs_[runs_.size() - 1].parent != parent)
      runs_.push_back(Run{parent, 0});
    ++runs_[runs_.size() - 1].count;
    fingerprints_.push_back(fingerprint);
    choice_indexes_.push_back(choice_index);
  }
  // Calls `each(parent, fingerprint, choice_index)` on every state in
  // order, then empties it.
  template <class Each>
  void drain(Each&& each) {
    std::size_t i = 0;
    for (std::size_t r = 0; r < runs_.size(); ++r) {
      for (std::uint32_t k = 0; k < runs_[r].count; ++k, ++i) {
        each(runs_[r].parent, fingerprints_[i], choice_indexes_[i]);
      }
    }
    runs_.clear();
    fingerprints_.clear();
    choice_indexes_.clear();
  }
  std::size_t size() const { return fingerprints_.size(); }
  std::size_t bytes() const {
    return runs_.bytes() + fingerprints_.bytes() + choice_indexes_.bytes();
  }

 private:
  struct Run {
    std::uint32_t parent;
    std::uint32_t count;
  };
  ChunkedArray<Run> runs_;
  ChunkedArray<Fingerprint> fingerprints_;
  ChunkedArray<std::uint16_t> choice_indexes_;
};

// An exploration: the cursor, the states it numbered, the terminal states
// found, and the state of the search the options chose. Single-threaded;
// owned by its Explorer. Not copyable.
class Explorer::Impl {
 public:
  Impl(const NetSim& start, Declarations declarations, Options options);
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  // Explores until done or until `chunk_end` (see Explorer::run).
  bool run(std::chrono::steady_clock::time_point chunk_end);
  void cancel();
  const ExplorationResult& result() const { return result_; }
  // Fills in the runs and pictures of the terminal states; once done.
  ExplorationResult finish();

 private:
  // The choices of one state tried so far: how many moved the net, how
  // many the engine refused.
  struct Tally {
    std::uint32_t moved = 0;
    std::uint32_t failed = 0;
  };
  // Where a transition taken led (arrive).
  enum class Reached : std::uint8_t {
    New,      // a state numbered now
    Known,    // a state numbered before
    Limited,  // none: the state it left is at max_depth (the cursor is back)
    Full      // none: max_states are numbered (the cursor is back; the search stops)
  };
  struct Arrival {
    Reached how;
    std::uint32_t state;
  };

  // --- The steps every search is made of (explorer.cpp) ---------------------

  // Numbers the start.
  void start();
  // Takes choice `index` of the cursor's state `state`: true when the
  // cursor moved. A refusal is a Failed terminal state; `tally` counts both.
  bool take(std::uint32_t state, std::uint16_t index, Tally& tally);
  // After take moved from `parent` by choice `index`: numbers the state
  // reached, counts the transition and the depth reached, or stops at a
  // limit (see Reached).
  Arrival arrive(std::uint32_t parent, std::uint16_t index);
  // Once every choice of `state` is tried: a state none of whose choices
  // moved or failed is clean or stuck.
  void settle(std::uint32_t state, const Tally& tally);
  // Records the cursor's state as reached from `parent` by choice `index`:
  // its number and whether it is new. A new state when max_states are
  // numbered is not: VisitedSet::kNone, and `states_full_` is set.
  std::pair<std::uint32_t, bool> visit(std::uint32_t parent, std::uint16_t index);
  // Records a terminal state found at the cursor's state, once per state
  // (a failed one: per state and refused choice).
  void add_terminal(TerminalKind kind, std::uint32_t state, std::string failure = {},
                    std::uint16_t refused = 0);
  // The first property the cursor's state (of fingerprint `fp`) violates,
  // or PropertyCheck::kNone, and whether it was checked now rather than
  // before (in two layers, a state is met twice).
  std::pair<std::size_t, bool> check(const Fingerprint& fp);
  // The cursor's state as a Violated terminal state of property `property`.
  TerminalState violation(std::size_t property) const;
  // Records `terminal`, found at state `state`, unless it was already.
  void record_terminal(TerminalState terminal, std::uint32_t state, std::uint16_t refused);
  bool limits_hit();
  bool at_depth_limit() const {
    return options_.limits.max_depth > 0 && cursor_.depth() >= options_.limits.max_depth;
  }

  // --- The searches (searches.cpp) ------------------------------------------

  // What to do after a choice that moved: the next choice (On), no more
  // choices (Stop), or no more and no settling either (Leave: the search
  // stops).
  enum class Go : std::uint8_t { On, Stop, Leave };
  // Takes every choice of the cursor's state `state` in turn, calls
  // `moved(index)` with the cursor where each that moved led (it comes
  // back itself), and settles the state.
  template <class Moved>
  void try_each(std::uint32_t state, Moved&& moved);
  bool breadth_first(std::chrono::steady_clock::time_point chunk_end);
  // Tries every choice of the cursor's state `state`, numbers what they
  // reach, and comes back.
  void expand(std::uint32_t state);
  // Breadth-first in two layers: tries every choice of the cursor's state
  // (`state`, new in the layer after the one expanded) as expand does, but
  // keeps what they reach in `pending`, to be numbered once that layer is
  // complete (finish_tour), and comes back.
  void look_ahead(std::uint32_t state);
  // Breadth-first in two layers: once every state of a layer is expanded
  // (each reached by undoing and redoing along the tree of first runs), the
  // states new in the next layer have been expanded too, on the spot, as
  // they were found. What they reach is numbered here, in the order found,
  // which is the order expanding them one by one gives; the terminal states
  // of the two layers are put in order of depth at the end.
  void finish_tour();
  // Breadth-first: the terminal states in order of depth, each depth's in
  // the order found (an over_limit state is found one level early).
  void order_by_depth();
  bool depth_first(std::chrono::steady_clock::time_point chunk_end);
  bool random_walks(std::chrono::steady_clock::time_point chunk_end);
  // The states reached and not explored (ExplorationResult::frontier).
  std::uint64_t frontier() const;

  // --- Livelocks (livelocks.cpp) -------------------------------------------

  // One transition taken: from a state to another, by the choice `index`
  // (12 bytes).
  struct Transition {
    std::uint32_t from;
    std::uint32_t to;
    std::uint16_t index;
  };
  bool keeps_transitions() const {
    return options_.livelocks != WaysOut::None && options_.order != SearchOrder::RandomWalk;
  }
  // Keeps the transition that led from `from`, by choice `index`, to `to`.
  void keep_transition(std::uint32_t from, std::uint32_t to, std::uint16_t index) {
    if (keeps_transitions()) transitions_.push_back(Transition{from, to, index});
  }
  // Once the search finished: counts the trapped states and adds a
  // Livelock terminal state for each cycle among them that cannot be left.
  void find_livelocks();
  // Writes out the cycle of livelock `t` on `run`, a cursor at its state.
  void write_cycle(std::size_t t, NetCursor& run, TerminalState& terminal) const;

  // --- Runs (runs.cpp) --------------------------------------------------------

  // Writes out the run to terminal `t` on a fresh cursor that shows the
  // start's ids, with the picture of where it ends.
  void write_run(std::size_t t, TerminalState& terminal) const;

  const Setting setting_;
  const Options options_;
  const PropertyCheck checks_;
  const std::optional<std::uint64_t> seed_;  // the start's (seed_of)
  std::optional<std::chrono::steady_clock::time_point> deadline_;
  NetCursor cursor_;
  VisitedSet visited_;
  std::vector<bool> followed_;  // by state: whether its choices are to be tried
  ExplorationResult result_;
  // By terminal state found: the state it was found at and, for a failed
  // one, the index of the choice refused; what identifies each found.
  std::vector<std::uint32_t> terminal_states_;
  std::vector<std::uint16_t> refused_choices_;
  // Livelocks: every transition taken, and by livelock found, its cycle as
  // the choices taken from its state.
  ChunkedArray<Transition> transitions_;
  std::vector<std::vector<std::uint16_t>> cycles_;
  std::unordered_set<Fingerprint, FingerprintHash> terminals_seen_;
  bool started_ = false;
  bool truncated_ = false;          // some state was not followed for max_depth
  std::uint64_t cut_at_depth_ = 0;  // how many
  bool states_full_ = false;        // a new state was met with max_states numbered
  bool cancelled_ = false;

  // Breadth-first: the next state to expand, by number. In two layers
  // (without limits on states, depth or packets, and by fingerprint): a
  // layer is expanded by walking the tree of first runs, the next one on
  // the spot; see finish_tour.
  struct BreadthFirst {
    std::size_t next = 0;
    bool two_layers = false;
    PendingStates pending;  // reached from the layer after the one walked, not numbered
    // Those of them that violate a property, by fingerprint, as
    // violation() found them on the spot.
    std::vector<std::pair<Fingerprint, TerminalState>> violations;
    // The states checked since the layer walked began, with the property
    // each violates (PropertyCheck::kNone: none): one reached ahead and
    // then found nearer is checked once.
    std::unordered_map<Fingerprint, std::size_t, FingerprintHash> checked;
    // Livelocks: the transitions to them, numbered with them.
    struct Ahead {
      std::uint32_t from;
      std::uint16_t index;
      Fingerprint to;
    };
    std::vector<Ahead> ahead;
    std::size_t tour_end = 0;      // the end of the layer walked, by number
    std::uint64_t tour_depth = 0;  // its depth
  } bfs_;
  // Depth-first: by state on the cursor's run, its choices and the next to try.
  struct Progress {
    std::size_t count = 0;
    std::size_t next = 0;
    bool listed = false;
    Tally tally;
  };
  std::vector<Progress> dfs_;
  // Random walks: the generator, the walks made, whether one is under way,
  // the states it passed, the order it tries a state's choices in.
  struct Walks {
    std::mt19937_64 rng;
    std::uint64_t done = 0;
    bool under_way = false;
    std::unordered_set<std::uint32_t> seen;
    std::vector<std::uint16_t> order;
  } walks_;
};

}  // namespace zellik::explore
