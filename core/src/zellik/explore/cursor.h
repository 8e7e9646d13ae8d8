// The explorer's cursor: a working fork of the net, moved from state to
// state by the executor's choices and by their undo. Internal to the
// explorer.
//
// The choices of a state are listed in an order that depends on the
// state's canonical form only (epochs by their canonical record, never by
// id), so a choice's index means the same thing on any net in the same
// state: that is how a state is reached again, on the working net and on
// the fork that writes a run out. The cursor keeps the transitions from the
// start to where it is, each with the actions it made and their events,
// which is all undo needs, and what is left of the declared injections and
// requests, which belong to the state as much as the net does.

#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>

#include "zellik/explore/explorer.h"
#include "zellik/explore/visited_set.h"

namespace zellik::explore {

// One choice the executor has in a state.
struct Choice {
  enum class Kind : std::uint8_t { Step, Execute, Inject, Request };
  Kind kind = Kind::Step;
  Ulid epoch;                        // Execute
  const Outcome* outcome = nullptr;  // Execute
  std::uint32_t index = 0;           // Inject, Request: which declaration
};

// What taking a choice came to. No: the choice does nothing here (a step
// that moves nothing, an injection into a full port). Failed: the engine
// refused one of its actions.
enum class Applied : std::uint8_t { No, Yes, Failed };

// What every cursor of one exploration shares: the start as a snapshot, the
// declarations, and what they and the graph imply for the transitions. Not
// copyable: the cursors point into it.
struct Setting {
  // `declarations` must have passed check_declarations against the graph.
  Setting(const NetSim& start, Declarations declared);
  Setting(const Setting&) = delete;
  Setting& operator=(const Setting&) = delete;

  std::string snapshot;
  Declarations declarations;
  boost::unordered_flat_map<Name, const Behaviour*, NameHash, NameEq> behaviours;
  // Some transition can change the request state: a node has a request
  // configuration, requests are pending or allowed. Without it, no
  // transition saves the request state.
  bool has_request_state = false;
  // A request of some node fails to resolve: a step can fail after changing
  // the net, and is undone from a snapshot taken before it.
  bool step_may_fail = false;
};

// A working fork of the start and the run that leads to its state from the
// start. Single-threaded; owned by one search. Not copyable.
class NetCursor {
 public:
  // A fork of the start, over `graph` (the start's, or a copy of it), with
  // every allowance whole. With `shows_ids`, its ids and timestamps go on
  // from the start's, for runs written out; otherwise a seeded source makes
  // them without the clock.
  NetCursor(const Setting& setting, const Graph& graph, bool shows_ids);
  NetCursor(const NetCursor&) = delete;
  NetCursor& operator=(const NetCursor&) = delete;
  ~NetCursor();

  // The working net, to describe where the cursor is.
  const NetSim& net() const { return *net_; }
  // Transitions from the start to where the cursor is.
  std::size_t depth() const { return frames_.size() - 1; }
  // The number the search gave the state the cursor is at (the start: 0).
  std::uint32_t state() const { return frames_.back().state; }
  void number(std::uint32_t state) { frames_.back().state = state; }

  // The choices of the state the cursor is at, in canonical order, listed
  // once while it is there (undo gives epochs back with their ids, so the
  // list stays good while the state is on the run). More than 65535 (a
  // choice's index is 16 bits): none, and error() says so.
  const std::vector<Choice>& choices();
  // Why the cursor's state cannot be explored, or empty.
  const std::string& error() const { return error_; }

  // Takes choice `index` of the cursor's state. Yes: the cursor is at the
  // state it reached, one transition further (numbered 0 until number()).
  // No or Failed: the cursor has not moved; `failure` says what the engine
  // refused. With `log`, every action goes there with its response.
  Applied take(std::uint16_t index, std::string* failure,
               std::vector<RecordedAction>* log = nullptr);
  // Undoes the last transition taken.
  void back();
  // Undoes every transition taken.
  void to_start() {
    while (depth() > 0) back();
  }
  // Moves to state `state` along its first run in `visited`: back to where
  // that run and the cursor's part, then down it. With `log`, the actions
  // taken go there with their responses.
  void go_to(std::uint32_t state, const VisitedSet& visited,
             std::vector<RecordedAction>* log = nullptr);
  // Takes choice `index`, which the engine refuses, up to the refused
  // action (in `log`, with the refusal) and leaves the actions before it in
  // place, as a replay of the run does: the cursor can then only describe
  // where it is.
  void take_to_refusal(std::uint16_t index, std::vector<RecordedAction>& log, std::string& failure);

  // The digest of the cursor's state with what is left to inject and
  // request; key_words() holds its encoding until the next call.
  Fingerprint key();
  std::span<const std::uint64_t> key_words() const { return words_; }
  // Packets in the net: those that left it (OutsideNet) are not counted.
  std::uint64_t packets_inside() const;

 private:
  // The transition that led to a state: its actions with their events
  // (undo reverses them last first), and what it used of the allowances.
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
    // The request state before the transition, when it could change: undo
    // of the events alone does not give it back (a finished epoch's undo
    // takes its node's token, a step drops requests without an event).
    bool saved_requests = false;
    RequestState requests;
    // The state's choices, once listed.
    std::vector<Choice> choices;
    bool listed = false;
  };
  // Frames popped keep their buffers for the next push, so a transition
  // allocates none of its own. A deque: pushing moves no frame, so a
  // state's list of choices stays where it is while the cursor goes on.
  class FrameStack {
   public:
    std::size_t size() const { return size_; }
    Frame& back() { return frames_[size_ - 1]; }
    const Frame& back() const { return frames_[size_ - 1]; }
    Frame& operator[](std::size_t i) { return frames_[i]; }
    // A cleared frame on top.
    Frame& emplace_back();
    void pop_back() { --size_; }

   private:
    std::deque<Frame> frames_;
    std::size_t size_ = 0;
  };

  // The choices of the net's state, in canonical order, into `out`.
  void list_choices(std::vector<Choice>& out);
  const Behaviour* behaviour_of(const Name& node) const {
    const auto it = setting_.behaviours.find(node);
    return it == setting_.behaviours.end() ? nullptr : it->second;
  }
  // The choice `index` of the cursor's state; the step needs no list.
  const Choice& choice_at(std::uint16_t index);
  // Applies `choice` to the net as `frame`'s transition (see take).
  Applied apply(const Choice& choice, Frame& frame, std::string* failure,
                std::vector<RecordedAction>* log);
  Applied execute(const Choice& choice, Frame& frame, std::string* failure,
                  std::vector<RecordedAction>* log);
  // Undoes a transition that came to nothing, with its actions in `log`: No.
  Applied withdraw(Frame& frame, std::vector<RecordedAction>* log);
  // Undoes a transition the engine refused (but see keep_refused_): Failed.
  Applied refuse(Frame& frame, const NetActionError& error, std::string* failure);
  // Performs `action` as part of `frame`, which keeps it and its events when
  // it succeeds; with `log`, its response goes there.
  ActionResult act(Frame& frame, NetAction action, std::vector<RecordedAction>* log);
  // Undoes `frame`'s transition, which leaves it empty.
  void undo(Frame& frame);

  // What the cursor reads of the net beyond actions and undo, each in one
  // place. The canonical words of the net's state into `out`, with its live
  // epochs in canonical order into distinct_epochs_.
  void read_canonical_state(std::vector<std::uint64_t>& out);
  // The packets inside epoch `epoch`, oldest first, into inside_.
  void read_epoch_packets(const Ulid& epoch);
  void save_request_state(Frame& frame) const;
  void restore_request_state(Frame& frame);

  const Setting& setting_;
  std::unique_ptr<NetSim> net_;
  FrameStack frames_;  // frames_[0] is the start: no transition
  std::vector<std::uint64_t> injections_left_;
  std::vector<std::uint64_t> requests_left_;
  // Set while a refused choice is taken to its refusal (take_to_refusal).
  bool keep_refused_ = false;
  std::string error_;
  std::vector<std::uint64_t> words_;  // key()'s
  // The net's live epochs in canonical order, one per distinct record, as
  // key() or list_choices found them; `distinct_current_` while the net has
  // not changed since (apply and undo reset it).
  std::vector<Ulid> distinct_epochs_;
  bool distinct_current_ = false;
  std::vector<std::uint64_t> state_words_;  // scratch of list_choices
  std::vector<Ulid> inside_;                // scratch of execute
  std::vector<std::uint32_t> path_;         // scratch of go_to
  std::size_t log_start_ = 0;
};

}  // namespace zellik::explore
