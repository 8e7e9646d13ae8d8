// The explorer's working state, shared by its translation units:
// transitions.cpp (choices, transitions, the states they reach and the
// expansion of a state: the hot path, in one unit so that it inlines),
// explorer.cpp (the three searches and the public class) and runs.cpp
// (runs written out, stuck states described). Internal to the explorer.
//
// Every state is numbered in the order found (VisitedSet) with the state it
// was first reached from and the number of the choice that reached it, so a
// state's run is its chain of parents. The choices of a state are listed in
// an order that depends on the state's canonical form only (epochs by their
// canonical record, never by id), so a choice's number means the same
// thing on any net in the same state: that is how a state is reached again,
// on the working net and on the fork that writes a run out.
//
// The working net is at one state at a time; `stack` holds the transitions
// from the start to it, each with the actions it made and their events,
// which is all undo needs.

#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>

#include "zellik/explore/explorer.h"

namespace zellik::explore {

// One choice the executor has in a state.
struct Choice {
  enum class Kind : std::uint8_t { Step, Execute, Inject, Request };
  Kind kind = Kind::Step;
  Ulid epoch;                        // Execute
  const Outcome* outcome = nullptr;  // Execute
  std::uint32_t index = 0;           // Inject, Request: which declaration
};

enum class Applied : std::uint8_t { No, Yes, Failed };

// The transition that led to a state: its actions with their events (undo
// reverses them last first), and what it used of the declared allowances.
struct Frame {
  std::uint32_t state = 0;
  // The actions made, each with the end of its events in `events`.
  std::vector<std::pair<NetAction, std::size_t>> done;
  EventList events;
  int injection = -1;
  int request = -1;
  // When not empty, undo puts the net back from this snapshot instead of
  // from the events (see apply).
  std::string snapshot;
  // The request state before the transition, when it could change: undo of
  // the events alone does not give it back (a finished epoch's undo takes
  // its node's token, a step drops requests without an event).
  bool saved_requests = false;
  bool startup_sent = false;
  std::vector<PendingRequest> pending;
  RequestTokens tokens;
  // Depth-first search: the state's choices and the next one to try.
  std::vector<Choice> choices;
  std::size_t next = 0;
  std::uint32_t applied = 0;
  std::uint32_t failed = 0;
  bool listed = false;
};

// What an epoch of a node without a declared behaviour does.
inline const Outcome kConsumeAll{};

// The most states one exploration numbers.
inline constexpr std::uint64_t kMostStates = 0xFFFFFF00ULL;

// The transitions from the start to the working net's state. Frames popped
// keep their buffers for the next push, so a transition allocates none of
// its own. Not copyable.
class FrameStack {
 public:
  FrameStack() = default;
  FrameStack(const FrameStack&) = delete;
  FrameStack& operator=(const FrameStack&) = delete;

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  Frame& back() { return frames_[size_ - 1]; }
  Frame& operator[](std::size_t i) { return frames_[i]; }
  // A cleared frame on top.
  Frame& emplace_back() {
    if (size_ == frames_.size()) frames_.emplace_back();
    Frame& frame = frames_[size_++];
    frame.state = 0;
    frame.done.clear();
    frame.events.clear();
    frame.injection = -1;
    frame.request = -1;
    frame.snapshot.clear();
    frame.saved_requests = false;
    frame.choices.clear();
    frame.next = 0;
    frame.applied = 0;
    frame.failed = 0;
    frame.listed = false;
    return frame;
  }
  void pop_back() { --size_; }
  void swap(FrameStack& other) {
    frames_.swap(other.frames_);
    std::swap(size_, other.size_);
  }

 private:
  std::deque<Frame> frames_;  // a deque: pushing moves no frame
  std::size_t size_ = 0;
};

// States reached and not numbered yet, in the order found: each by its
// fingerprint, parent and label, 18 bytes (parents are kept once per run of
// states found from one parent). Its memory stays as large as it once was,
// in chunks. Not copyable.
class PendingStates {
 public:
  PendingStates() = default;
  PendingStates(const PendingStates&) = delete;
  PendingStates& operator=(const PendingStates&) = delete;

  void push_back(std::uint32_t parent, const Fingerprint& fingerprint, std::uint16_t label) {
    if (runs_.size() == 0 || runs_[runs_.size() - 1].parent != parent)
      runs_.push_back(Run{parent, 0});
    ++runs_[runs_.size() - 1].count;
    fingerprints_.push_back(fingerprint);
    labels_.push_back(label);
  }
  // Calls `each(parent, fingerprint, label)` on every state in order, then
  // empties it.
  template <class Each>
  void drain(Each&& each) {
    std::size_t i = 0;
    for (std::size_t r = 0; r < runs_.size(); ++r) {
      for (std::uint32_t k = 0; k < runs_[r].count; ++k, ++i) {
        each(runs_[r].parent, fingerprints_[i], labels_[i]);
      }
    }
    runs_.clear();
    fingerprints_.clear();
    labels_.clear();
  }
  std::size_t bytes() const { return runs_.bytes() + fingerprints_.bytes() + labels_.bytes(); }

 private:
  struct Run {
    std::uint32_t parent;
    std::uint32_t count;
  };
  ChunkedArray<Run> runs_;
  ChunkedArray<Fingerprint> fingerprints_;
  ChunkedArray<std::uint16_t> labels_;
};

// A fork of `net` from its snapshot `snapshot`.
std::unique_ptr<NetSim> fork_of(const NetSim& net, const std::string& snapshot);

struct Explorer::Impl {
  Impl(const NetSim& start, Declarations declared, Options opts);

  std::string snapshot;               // the start, for the forks that write runs out
  std::optional<std::uint64_t> seed;  // the start's (seed_of)
  bool has_startup_requests = false;  // some node requests when the net starts
  // Some transition can change the request state: a node has a request
  // trigger, requests are pending or allowed. Without it, no frame saves it.
  bool has_request_state = false;
  // A request of some node fails to resolve: a step can fail after changing
  // the net, and is undone from a snapshot (see apply).
  bool step_may_fail = false;
  // Set while a failed run is written out: a refused action leaves the
  // actions before it in place, as a replay of the run does.
  bool keep_refused = false;
  std::unique_ptr<NetSim> net;
  Declarations declarations;
  Options options;
  boost::unordered_flat_map<Name, const Behaviour*, NameHash, NameEq> behaviours;
  std::vector<std::uint64_t> injections_left;
  std::vector<std::uint64_t> requests_left;
  VisitedSet visited;
  std::vector<bool> followed;  // by state: whether its choices are to be tried
  FrameStack stack;            // stack[0] is the start; no transition
  std::vector<std::uint64_t> words;
  std::vector<std::uint32_t> path;  // scratch of go_to: the run to a state
  // The working net's live epochs in canonical order, one per distinct
  // record, as key() or list_choices found them; `distinct_current` while
  // the net has not changed since (apply and undo reset it).
  std::vector<const Epoch*> distinct_epochs;
  bool distinct_current = false;
  std::vector<std::uint64_t> state_words;                               // scratch of list_choices
  std::vector<Ulid> inside;                                             // scratch of execute
  std::vector<std::uint32_t> terminal_states;                           // by terminal, the state
  std::vector<std::pair<std::uint32_t, std::uint16_t>> failed_choices;  // by terminal, Failed only
  std::unordered_set<Fingerprint, FingerprintHash> terminal_seen;
  std::mt19937_64 rng;
  std::optional<std::chrono::steady_clock::time_point> deadline;
  std::size_t next_to_expand = 0;  // breadth-first: the next state to expand, by number
  std::uint64_t walks_done = 0;
  // Random walks: whether one is under way, the states it passed, scratch.
  bool in_walk = false;
  std::unordered_set<std::uint32_t> walk_seen;
  std::vector<Choice> walk_choices;
  std::vector<std::uint16_t> walk_order;
  std::size_t log_start = 0;
  bool started = false;
  bool truncated = false;
  // A new state was met with max_states states numbered: not numbered.
  bool states_full = false;
  bool cancelled = false;
  // Why the exploration cannot go on (see ExplorationResult::error); empty while it can.
  std::string stop_error;
  // Breadth-first in two layers (without limits on states, depth or packets,
  // and by fingerprint): a layer is expanded by walking the tree of first
  // runs, the next one on the spot; see finish_tour.
  bool two_layers = false;
  PendingStates pending;         // reached from the layer after the one walked, not numbered
  std::size_t tour_end = 0;      // the end of the layer walked, by number
  std::uint64_t tour_depth = 0;  // its depth
  // write_run: the working net, set aside while a run is written out.
  std::unique_ptr<NetSim> scratch_net;

  // --- Choices and transitions (transitions.cpp) ----------------------------

  const Behaviour* behaviour_of(const Name& node) const {
    const auto it = behaviours.find(node);
    return it == behaviours.end() ? nullptr : it->second;
  }

  // The choices of the working net's state, in canonical order.
  // More than 65535 of them: none, and `stop_error` says so.
  void list_choices(std::vector<Choice>& out);
  // Performs `action` as part of `frame`, which keeps it and its events when
  // it succeeds; with `log`, its response goes there.
  ActionResult act(Frame& frame, NetAction action, std::vector<RecordedAction>* log);
  void undo(Frame& frame);
  // Applies `choice` to the working net as `frame`'s transition. No: the
  // choice does nothing here (the net is as before). Failed: the engine
  // refused a declared outcome; the net is as before and `failure` says why.
  Applied apply(const Choice& choice, Frame& frame, std::string* failure,
                std::vector<RecordedAction>* log = nullptr);
  Applied refuse(Frame& frame, const NetActionError& error, std::string* failure);
  Applied execute(const Choice& choice, Frame& frame, std::string* failure,
                  std::vector<RecordedAction>* log);

  // --- States (transitions.cpp) ---------------------------------------------

  // The digest of the working net's state with what is left to inject and
  // request; `words` holds its encoding.
  Fingerprint key();
  // Records the working net's state as reached from `parent` by choice
  // `label`; its number and whether it is new. A new state when max_states
  // are numbered is not: VisitedSet::kNone, and `states_full` is set.
  std::pair<std::uint32_t, bool> visit(std::uint32_t parent, std::uint16_t label,
                                       ExplorationResult& result);
  // Packets in the net: those that left it (OutsideNet) are not counted.
  std::uint64_t packets_inside() const;
  void add_terminal(TerminalKind kind, std::uint32_t state, std::uint64_t depth,
                    ExplorationResult& result, std::string failure = {},
                    std::uint16_t failed_label = 0);
  // Classifies the working net's state, which has no transition.
  void classify(std::uint32_t state, ExplorationResult& result);

  // --- Moving the working net (transitions.cpp) -----------------------------

  void pop(Frame& frame) {
    undo(frame);
    stack.pop_back();
  }

  // The choices of the working net's state, listed once per visit of it:
  // undo gives its epochs back with their ids, so the list stays good while
  // the state is on the stack.
  const std::vector<Choice>& choices_here();
  // Redoes choice `label` of the working net's state, reaching `state`, and
  // pushes it.
  void redo(std::uint32_t state, std::uint16_t label, std::vector<RecordedAction>* log = nullptr);
  // Moves the working net to `state` along its run.
  void go_to(std::uint32_t state);
  // Breadth-first in two layers: tries every choice of the working net's
  // state (`state`, new in the layer after the one expanded, at the top of
  // the stack) as expand does, but keeps what they reach in `pending`, to
  // be numbered once that layer is complete (finish_tour), and puts the net
  // back.
  void look_ahead(std::uint32_t state, ExplorationResult& result);
  // Tries every choice of the working net's state (`state`, at the top of
  // the stack), records what they reach, and puts the net back.
  void expand(std::uint32_t state, ExplorationResult& result);

  bool at_depth_limit() const {
    return options.limits.max_depth > 0 && stack.size() - 1 >= options.limits.max_depth;
  }

  // --- The searches (explorer.cpp) ------------------------------------------

  // Breadth-first in two layers: once every state of a layer is expanded
  // (each reached by undoing and redoing along the tree of first runs), the
  // states new in the next layer have been expanded too, on the spot, as
  // they were found. What they reach is numbered here, in the order found,
  // which is the order expanding them one by one gives; the terminal states
  // of the two layers are put in order of depth.
  void finish_tour(ExplorationResult& result);

  bool limits_hit(ExplorationResult& result);
  // Breadth-first: the terminal states in order of depth, each depth's in
  // the order found (an over_limit state is found one level early).
  void order_by_depth(ExplorationResult& result);
  bool breadth_first(std::chrono::steady_clock::time_point chunk_end, ExplorationResult& result);
  bool depth_first(std::chrono::steady_clock::time_point chunk_end, ExplorationResult& result);
  bool random_walks(std::chrono::steady_clock::time_point chunk_end, ExplorationResult& result);

  // --- Runs (runs.cpp) ------------------------------------------------------

  // Writes out the run to terminal `t` on a fresh fork of the start, with
  // the picture of where it ends.
  void write_run(std::size_t t, TerminalState& terminal);
  // Where packets wait in the working net, and the conditions that wait.
  void describe_stuck(TerminalState& terminal) const;
};

}  // namespace zellik::explore
