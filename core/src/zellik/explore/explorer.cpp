// The schedule explorer: a search over the executor's choices on a fork of
// a net, moving between states with actions and their undo.
//
// Every state is numbered in the order found (VisitedSet) with the state it
// was first reached from and the number of the choice that reached it, so a
// state's run is its chain of parents. The choices of a state are listed in
// an order that depends on the state's canonical form only (epochs by their
// canonical record, never by id), so a choice's number means the same
// thing on any net in the same state: that is how a state is reached again,
// on the working net and on the fork that writes a run out.
//
// The working net is at one state at a time; `stack_` holds the transitions
// from the start to it, each with the actions it made and their events,
// which is all undo needs. Depth-first search follows the stack. Breadth-
// first search visits states in the order found and goes from one to the
// next by undoing to their common ancestor and redoing down; states found
// in a row share most of their runs, so each move is short.

#include "zellik/explore/explorer.h"

#include <algorithm>
#include <deque>
#include <random>
#include <span>
#include <unordered_set>

#include <boost/unordered/unordered_flat_map.hpp>

#include "zellik/base/internal_failure.h"
#include "zellik/net/net_view.h"
#include "zellik/net/snapshot.h"

namespace zellik::explore {

namespace {

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
  std::vector<std::pair<NetAction, EventList>> done;
  int injection = -1;
  int request = -1;
  // When not empty, undo puts the net back from this snapshot instead of
  // from the events (see apply).
  std::string snapshot;
  // Depth-first search: the state's choices and the next one to try.
  std::vector<Choice> choices;
  std::size_t next = 0;
  std::uint32_t applied = 0;
  bool listed = false;
};

const Outcome kConsumeAll{};

// The most states one exploration numbers.
constexpr std::uint64_t kMostStates = 0xFFFFFF00ULL;

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
    frame.injection = -1;
    frame.request = -1;
    frame.snapshot.clear();
    frame.choices.clear();
    frame.next = 0;
    frame.applied = 0;
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

std::unique_ptr<NetSim> fork_of(const NetSim& net, const std::string& snapshot) {
  auto fork = decode_snapshot(net.graph(), snapshot);
  if (!fork.ok()) fail("Cannot fork the net to explore: " + fork.error().text);
  return std::move(fork).value();
}

}  // namespace

struct Explorer::Impl {
  Impl(const NetSim& start, Declarations declared, Options opts)
      : snapshot(encode_snapshot(start)),
        net(fork_of(start, snapshot)),
        declarations(std::move(declared)),
        options(opts),
        visited(opts.exact),
        rng(opts.seed) {
    for (const Behaviour& behaviour : declarations.behaviours)
      behaviours[behaviour.node] = &behaviour;
    for (const Injection& injection : declarations.injections)
      injections_left.push_back(injection.count);
    for (const RequestAllowance& request : declarations.requests)
      requests_left.push_back(request.count);
    // The working net's ids are never shown (runs are written out on a fork
    // of the start): a seeded source makes them without the clock.
    net->restore_id_source(IdSource::Seeded(1).state());
    if (options.limits.max_time.count() > 0) {
      deadline = std::chrono::steady_clock::now() + options.limits.max_time;
    }
  }

  std::string snapshot;               // the start, for the forks that write runs out
  bool has_startup_requests = false;  // some node requests when the net starts
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
  // Scratch of list_choices: each epoch's canonical record.
  struct EpochSpan {
    std::size_t begin;
    std::size_t end;
    const Epoch* epoch;
  };
  std::vector<std::uint64_t> epoch_words;
  std::vector<EpochSpan> epoch_spans;
  std::vector<std::uint32_t> terminal_states;                           // by terminal, the state
  std::vector<std::pair<std::uint32_t, std::uint16_t>> failed_choices;  // by terminal, Failed only
  std::unordered_set<Fingerprint, FingerprintHash> terminal_seen;
  std::mt19937_64 rng;
  std::optional<std::chrono::steady_clock::time_point> deadline;
  std::size_t next_to_expand = 0;  // breadth-first: the next state to expand, by number
  std::uint64_t walks_done = 0;
  std::size_t log_start = 0;
  bool started = false;
  bool truncated = false;
  bool cancelled = false;

  // --- Choices and transitions ----------------------------------------------

  const Behaviour* behaviour_of(const Name& node) const {
    const auto it = behaviours.find(node);
    return it == behaviours.end() ? nullptr : it->second;
  }

  // The choices of the working net's state, in canonical order.
  void list_choices(std::vector<Choice>& out) {
    out.clear();
    out.push_back(Choice{});
    epoch_words.clear();
    epoch_spans.clear();
    for (const auto& entry : net->epochs()) {
      const Epoch& epoch = entry.second;
      const std::size_t begin = epoch_words.size();
      net->canonical_epoch(epoch, epoch_words);
      epoch_spans.push_back(EpochSpan{begin, epoch_words.size(), &epoch});
    }
    const std::span<const std::uint64_t> words_of(epoch_words);
    auto less = [words_of](const EpochSpan& x, const EpochSpan& y) {
      return std::ranges::lexicographical_compare(words_of.subspan(x.begin, x.end - x.begin),
                                                  words_of.subspan(y.begin, y.end - y.begin));
    };
    std::sort(epoch_spans.begin(), epoch_spans.end(), less);
    for (std::size_t i = 0; i < epoch_spans.size(); ++i) {
      // Epochs of one record are alike but for ids: one choice stands for all.
      if (i > 0 && !less(epoch_spans[i - 1], epoch_spans[i])) continue;
      const Epoch& epoch = *epoch_spans[i].epoch;
      const Ulid& id = epoch.id;
      const Behaviour* behaviour = behaviour_of(epoch.node_name);
      if (behaviour == nullptr) {
        out.push_back(Choice{Choice::Kind::Execute, id, &kConsumeAll, 0});
        continue;
      }
      for (const Outcome& outcome : behaviour->outcomes) {
        out.push_back(Choice{Choice::Kind::Execute, id, &outcome, 0});
      }
    }
    for (std::uint32_t i = 0; i < injections_left.size(); ++i) {
      if (injections_left[i] > 0) out.push_back(Choice{Choice::Kind::Inject, Ulid(), nullptr, i});
    }
    for (std::uint32_t i = 0; i < requests_left.size(); ++i) {
      if (requests_left[i] > 0) out.push_back(Choice{Choice::Kind::Request, Ulid(), nullptr, i});
    }
    if (out.size() > 0xFFFF) fail("A state has more than 65535 choices to explore");
  }

  // Performs `action` as part of `frame`; the response, kept in `frame`
  // when it succeeds.
  // (It changes the working net, which the pointer does not show.)
  // NOLINTNEXTLINE(readability-make-member-function-const)
  NetActionResponse act(Frame& frame, NetAction action, std::vector<RecordedAction>* log) {
    NetActionResponse response = net->do_action(action);
    if (log != nullptr) log->push_back(RecordedAction{action, response});
    if (response.ok())
      frame.done.emplace_back(std::move(action), std::move(response.value().events));
    return response;
  }

  void undo(Frame& frame) {
    if (!frame.snapshot.empty()) {
      // The same packets and epochs under the same ids, in the same order:
      // the frames below still undo from their events.
      net = fork_of(*net, frame.snapshot);
      frame.snapshot.clear();
    } else {
      // Last first.
      for (std::size_t i = frame.done.size(); i-- > 0;) {
        if (!net->undo_action(frame.done[i].first, frame.done[i].second).ok())
          fail("The explorer could not undo its own action");
      }
    }
    frame.done.clear();
    if (frame.injection >= 0) ++injections_left[static_cast<std::size_t>(frame.injection)];
    if (frame.request >= 0) ++requests_left[static_cast<std::size_t>(frame.request)];
    frame.injection = -1;
    frame.request = -1;
  }

  // Applies `choice` to the working net as `frame`'s transition. No: the
  // choice does nothing here (the net is as before). Failed: the engine
  // refused a declared outcome; the net is as before and `failure` says why.
  Applied apply(const Choice& choice, Frame& frame, std::string* failure,
                std::vector<RecordedAction>* log = nullptr) {
    frame.done.clear();
    frame.injection = -1;
    frame.request = -1;
    log_start = log != nullptr ? log->size() : 0;
    switch (choice.kind) {
      case Choice::Kind::Step: {
        // A step that handles requests can change the net in ways its events
        // do not all tell: a request whose cascade reaches no source goes
        // without an event (and without progress), and a resolution that
        // fails keeps the moves made before it. Such a step is undone from
        // a snapshot taken before it.
        std::vector<std::uint64_t> before;
        if (!net->pending_requests().empty() ||
            (has_startup_requests && !net->startup_requests_sent())) {
          frame.snapshot = encode_snapshot(*net);
          net->canonical_state(before);
        }
        NetActionResponse r = act(frame, action::RunStep{}, log);
        if (!r.ok()) return refuse(frame, r.error(), failure);
        if (!std::get<response::StepResult>(r.value().data).made_progress) {
          if (!frame.snapshot.empty()) {
            std::vector<std::uint64_t> after;
            net->canonical_state(after);
            if (after != before) return Applied::Yes;  // a change all the same
          }
          undo(frame);
          if (log != nullptr)
            log->erase(log->begin() + static_cast<std::ptrdiff_t>(log_start), log->end());
          return Applied::No;
        }
        return Applied::Yes;
      }
      case Choice::Kind::Execute:
        return execute(choice, frame, failure, log);
      case Choice::Kind::Inject: {
        NetActionResponse made = act(frame, action::CreatePacket{}, log);
        if (!made.ok()) return refuse(frame, made.error(), failure);
        const Ulid packet = std::get<response::Packet>(made.value().data).packet_id;
        const PacketLocation& to = declarations.injections[choice.index].location;
        NetActionResponse moved = act(frame, action::TransportPacketToLocation{packet, to}, log);
        if (!moved.ok()) {
          // The port is full: no injection there now.
          undo(frame);
          if (log != nullptr)
            log->erase(log->begin() + static_cast<std::ptrdiff_t>(log_start), log->end());
          return Applied::No;
        }
        --injections_left[choice.index];
        frame.injection = static_cast<int>(choice.index);
        return Applied::Yes;
      }
      case Choice::Kind::Request: {
        const RequestAllowance& request = declarations.requests[choice.index];
        NetActionResponse r = act(frame, action::CreateRequest{request.node, request.label}, log);
        if (!r.ok()) return refuse(frame, r.error(), failure);
        --requests_left[choice.index];
        frame.request = static_cast<int>(choice.index);
        return Applied::Yes;
      }
    }
    return Applied::No;
  }

  Applied refuse(Frame& frame, const NetActionError& error, std::string* failure) {
    undo(frame);
    if (failure != nullptr) *failure = message(error);
    return Applied::Failed;
  }

  Applied execute(const Choice& choice, Frame& frame, std::string* failure,
                  std::vector<RecordedAction>* log) {
    const Ulid& id = choice.epoch;
    const Epoch* epoch = net->get_epoch(id);
    if (epoch->state == EpochState::Startable) {
      NetActionResponse r = act(frame, action::StartEpoch{id}, log);
      if (!r.ok()) return refuse(frame, r.error(), failure);
    }
    const Outcome& outcome = *choice.outcome;
    for (const Ulid& packet : net->get_packets_at_location(PacketLocation::Node(id))) {
      NetAction a = outcome.pass_to
                        ? NetAction(action::LoadPacketIntoOutputPort{packet, *outcome.pass_to})
                        : NetAction(action::ConsumePacket{packet});
      NetActionResponse r = act(frame, std::move(a), log);
      if (!r.ok()) return refuse(frame, r.error(), failure);
    }
    for (const auto& [port, count] : outcome.creates) {
      for (std::uint64_t i = 0; i < count; ++i) {
        NetActionResponse made = act(frame, action::CreatePacket{id}, log);
        if (!made.ok()) return refuse(frame, made.error(), failure);
        const Ulid packet = std::get<response::Packet>(made.value().data).packet_id;
        NetActionResponse r = act(frame, action::LoadPacketIntoOutputPort{packet, port}, log);
        if (!r.ok()) return refuse(frame, r.error(), failure);
      }
    }
    for (const Name& condition : outcome.sends) {
      NetActionResponse r = act(frame, action::SendOutputSalvo{id, condition}, log);
      if (!r.ok()) return refuse(frame, r.error(), failure);
    }
    NetActionResponse r = act(frame, action::FinishEpoch{id}, log);
    if (!r.ok()) return refuse(frame, r.error(), failure);
    return Applied::Yes;
  }

  // --- States ---------------------------------------------------------------

  // The digest of the working net's state with what is left to inject and
  // request; `words` holds its encoding.
  Fingerprint key() {
    words.clear();
    net->canonical_state(words);
    words.insert(words.end(), injections_left.begin(), injections_left.end());
    words.insert(words.end(), requests_left.begin(), requests_left.end());
    return fingerprint_of(words);
  }

  // Records the working net's state as reached from `parent` by choice
  // `label`; its number and whether it is new.
  std::pair<std::uint32_t, bool> visit(std::uint32_t parent, std::uint16_t label, Result& result) {
    const Fingerprint fp = key();
    auto [state, fresh] = visited.insert(fp, words, parent, label);
    if (!fresh) return {state, false};
    const bool over =
        options.limits.max_packets > 0 && net->packet_count() > options.limits.max_packets;
    followed.push_back(!over);
    if (over) add_terminal(TerminalKind::OverLimit, state, stack.size() - 1, result);
    return {state, true};
  }

  void add_terminal(TerminalKind kind, std::uint32_t state, std::uint64_t depth, Result& result,
                    std::string failure = {}, std::uint16_t failed_label = 0) {
    Fingerprint key = visited.fingerprint(state);
    // One failure per state and choice.
    if (kind == TerminalKind::Failed) key.hi ^= 0x9E3779B97F4A7C15ULL * (failed_label + 1U);
    if (!terminal_seen.insert(key).second) return;
    TerminalState t;
    t.kind = kind;
    t.fingerprint = net->fingerprint();
    t.depth = depth;
    t.packets = net->packet_count();
    t.failure = std::move(failure);
    result.terminals.push_back(std::move(t));
    terminal_states.push_back(state);
    failed_choices.emplace_back(state, failed_label);
  }

  // Classifies the working net's state, which has no transition.
  void classify(std::uint32_t state, Result& result) {
    const std::uint64_t outside = net->packet_count_at(PacketLocation::OutsideNet());
    const TerminalKind kind =
        net->packet_count() > outside ? TerminalKind::Stuck : TerminalKind::Clean;
    add_terminal(kind, state, stack.size() - 1, result);
  }

  // --- Moving the working net -----------------------------------------------

  void pop(Frame& frame) {
    undo(frame);
    stack.pop_back();
  }

  // Redoes choice `label` of the working net's state and pushes it.
  // The choices of the working net's state, listed once per visit of it:
  // undo gives its epochs back with their ids, so the list stays good while
  // the state is on the stack.
  const std::vector<Choice>& choices_here() {
    Frame& top = stack.back();
    if (!top.listed) {
      list_choices(top.choices);
      top.listed = true;
    }
    return top.choices;
  }

  void redo(std::uint32_t state, std::uint16_t label, std::vector<RecordedAction>* log = nullptr) {
    // Choice 0 is always the step: it needs no list.
    Choice choice;
    if (label != 0) {
      const std::vector<Choice>& choices = choices_here();
      if (label >= choices.size()) fail("The explorer could not take a run it took before");
      choice = choices[label];
    }
    Frame& frame = stack.emplace_back();
    frame.state = state;
    if (apply(choice, frame, nullptr, log) != Applied::Yes) {
      fail("The explorer could not take a run it took before");
    }
  }

  // Moves the working net to `state` along its run.
  void go_to(std::uint32_t state) {
    path.clear();
    for (std::uint32_t s = state; s != 0; s = visited.parent(s)) path.push_back(s);
    std::reverse(path.begin(), path.end());
    std::size_t common = 0;
    while (common < path.size() && common + 1 < stack.size() &&
           stack[common + 1].state == path[common]) {
      ++common;
    }
    while (stack.size() > common + 1) pop(stack.back());
    for (std::size_t i = common; i < path.size(); ++i) redo(path[i], visited.label(path[i]));
  }

  // --- The searches ---------------------------------------------------------

  bool limits_hit(Result& result) {
    if (cancelled) {
      result.stopped = StopReason::Cancelled;
      return true;
    }
    // States are numbered in 32 bits.
    const std::uint64_t most =
        options.limits.max_states > 0 ? options.limits.max_states : kMostStates;
    if (visited.size() >= std::min<std::uint64_t>(most, kMostStates)) {
      result.stopped = StopReason::States;
      return true;
    }
    if (deadline && std::chrono::steady_clock::now() >= *deadline) {
      result.stopped = StopReason::Time;
      return true;
    }
    return false;
  }

  bool at_depth_limit() const {
    return options.limits.max_depth > 0 && stack.size() - 1 >= options.limits.max_depth;
  }

  // Tries every choice of the working net's state (`state`, at the top of
  // the stack), records what they reach, and puts the net back.
  void expand(std::uint32_t state, Result& result) {
    const std::vector<Choice>& choices = choices_here();
    std::uint32_t applied = 0;
    std::string failure;
    const bool limited = at_depth_limit();
    for (std::size_t i = 0; i < choices.size(); ++i) {
      Frame& frame = stack.emplace_back();
      const Applied a = apply(choices[i], frame, &failure);
      if (a == Applied::Failed) {
        stack.pop_back();
        add_terminal(TerminalKind::Failed, state, stack.size() - 1, result, failure,
                     static_cast<std::uint16_t>(i));
        continue;
      }
      if (a == Applied::No) {
        stack.pop_back();
        continue;
      }
      ++applied;
      if (limited) {
        truncated = true;
        result.stopped = StopReason::Depth;
        pop(stack.back());
        break;
      }
      ++result.transitions;
      auto [next, fresh] = visit(state, static_cast<std::uint16_t>(i), result);
      frame.state = next;
      if (fresh) result.max_depth = std::max<std::uint64_t>(result.max_depth, stack.size() - 1);
      pop(stack.back());
    }
    if (applied == 0) classify(state, result);
  }

  bool breadth_first(std::chrono::steady_clock::time_point chunk_end, Result& result) {
    if (!started) {
      started = true;
      stack.emplace_back();
      visit(0, 0, result);
    }
    std::uint32_t since_check = 0;
    while (next_to_expand < visited.size()) {
      if (++since_check == 16) {
        since_check = 0;
        if (limits_hit(result)) return true;
        if (std::chrono::steady_clock::now() >= chunk_end) return false;
      }
      const auto state = static_cast<std::uint32_t>(next_to_expand++);
      if (!followed[state]) continue;
      go_to(state);
      expand(state, result);
      if (options.limits.max_states > 0 && visited.size() >= options.limits.max_states &&
          next_to_expand < visited.size()) {
        result.stopped = StopReason::States;
        return true;
      }
    }
    result.finished = !truncated;
    return true;
  }

  bool depth_first(std::chrono::steady_clock::time_point chunk_end, Result& result) {
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
        if (followed[top.state]) list_choices(top.choices);
      }
      if (top.next >= top.choices.size()) {
        if (top.applied == 0 && followed[top.state]) classify(top.state, result);
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
      ++result.transitions;
      auto [next, fresh] = visit(state, label, result);
      if (!fresh || !followed[next]) {
        pop(stack.back());
        continue;
      }
      stack.back().state = next;
      result.max_depth = std::max<std::uint64_t>(result.max_depth, stack.size() - 1);
    }
    result.finished = !truncated && stack.empty();
    return true;
  }

  bool random_walks(std::chrono::steady_clock::time_point chunk_end, Result& result) {
    if (!started) {
      started = true;
      stack.emplace_back();
      visit(0, 0, result);
    }
    std::vector<Choice> choices;
    std::vector<std::uint16_t> order;
    while (walks_done < options.walks) {
      if (limits_hit(result)) return true;
      if (std::chrono::steady_clock::now() >= chunk_end) return false;
      // One walk from the start until nothing can happen or a limit.
      while (true) {
        const std::uint32_t state = stack.back().state;
        if (!followed[state] || at_depth_limit()) break;
        list_choices(choices);
        order.resize(choices.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint16_t>(i);
        std::shuffle(order.begin(), order.end(), rng);
        bool moved = false;
        for (const std::uint16_t label : order) {
          std::string failure;
          Frame& frame = stack.emplace_back();
          const Applied a = apply(choices[label], frame, &failure);
          if (a != Applied::Yes) {
            stack.pop_back();
            if (a == Applied::Failed) {
              add_terminal(TerminalKind::Failed, state, stack.size() - 1, result, failure, label);
            }
            continue;
          }
          ++result.transitions;
          auto [next, fresh] = visit(state, label, result);
          // A state known already keeps the run it was first found by; the
          // walk goes on along the run that found it.
          if (!fresh) {
            pop(stack.back());
            go_to(next);
          } else {
            stack.back().state = next;
          }
          result.max_depth = std::max<std::uint64_t>(result.max_depth, stack.size() - 1);
          moved = true;
          break;
        }
        if (!moved) {
          classify(state, result);
          break;
        }
      }
      while (stack.size() > 1) pop(stack.back());
      ++walks_done;
    }
    return true;
  }

  // --- Runs -----------------------------------------------------------------

  // Writes out the run to terminal `t` on a fresh fork of the start, with
  // the picture of where it ends.
  void write_run(std::size_t t, TerminalState& terminal) {
    const std::uint32_t state = terminal_states[t];
    std::vector<std::uint32_t> chain;
    for (std::uint32_t s = state; s != 0; s = visited.parent(s)) chain.push_back(s);
    std::reverse(chain.begin(), chain.end());
    // A fork of the start, with the declarations' allowances full again.
    std::swap(net, scratch_net);
    net = fork_of(*scratch_net, snapshot);
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
      std::vector<Choice> choices;
      list_choices(choices);
      Frame frame;
      apply(choices[failed_choices[t].second], frame, nullptr, &terminal.run);
    } else {
      describe_stuck(terminal);
    }
    terminal.dot = to_dot(*net);
    stack.swap(saved_stack);
    injections_left = std::move(saved_injections);
    requests_left = std::move(saved_requests);
    std::swap(net, scratch_net);
    scratch_net.reset();
  }

  // Where packets wait in the working net, and the conditions that wait.
  void describe_stuck(TerminalState& terminal) const {
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
        for (const Edge& edge :
             graph.get_edges_by_head(PortRef{node_name, PortType::Input, port})) {
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

  // write_run: the working net, set aside while a run is written out.
  std::unique_ptr<NetSim> scratch_net;
};

Explorer::Explorer(const NetSim& start, Declarations declarations, Options options)
    : impl_(std::make_unique<Impl>(start, std::move(declarations), options)) {}

Explorer::~Explorer() = default;

bool Explorer::run(std::chrono::steady_clock::time_point chunk_end) {
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
  result_.states = impl_->visited.size();
  result_.visited_bytes = impl_->visited.bytes() + impl_->followed.capacity() / 8;
  return done;
}

void Explorer::cancel() {
  impl_->cancelled = true;
  if (!result_.finished) result_.stopped = StopReason::Cancelled;
}

Result Explorer::finish() {
  for (std::size_t t = 0; t < result_.terminals.size(); ++t) {
    TerminalState& terminal = result_.terminals[t];
    if (terminal.kind == TerminalKind::Stuck || terminal.kind == TerminalKind::Failed) {
      impl_->write_run(t, terminal);
    }
  }
  return std::move(result_);
}

}  // namespace zellik::explore
