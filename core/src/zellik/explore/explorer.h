#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "zellik/base/fields.h"
#include "zellik/explore/behaviour.h"
#include "zellik/explore/visited_set.h"
#include "zellik/net/net_action.h"
#include "zellik/net/net_action_response.h"
#include "zellik/net/net_sim.h"

namespace zellik::explore {

enum class SearchOrder : std::uint8_t { BreadthFirst = 0, DepthFirst = 1, RandomWalk = 2 };

// How far an exploration may go. A limit of 0 means none.
struct Limits {
  std::uint64_t max_states = 0;   // states numbered, the start included: exactly so many
  std::uint64_t max_depth = 0;    // transitions from the start
  std::uint64_t max_packets = 0;  // packets in the net: a state above it is not followed
  std::chrono::milliseconds max_time{0};
};

// What counts as a way out when livelocks are looked for: any terminal
// state (clean, stuck, over the packet limit, a refused choice, a violated
// property), or a clean one only.
enum class WaysOut : std::uint8_t { None = 0, AnyEnd = 1, CleanEnd = 2 };

struct Options {
  SearchOrder order = SearchOrder::BreadthFirst;
  // Not None: once an exploration finishes, the states from which no way
  // out is reachable are counted (ExplorationResult::trapped), and each
  // cycle among them that the net can never leave is a Livelock terminal
  // state. Keeps every transition taken, 12 bytes each. Random walks and
  // explorations stopped early look for none.
  WaysOut livelocks = WaysOut::None;
  // Keep every visited state's whole canonical encoding instead of its
  // 128-bit fingerprint: exact, and larger.
  bool exact = false;
  Limits limits;
  // RandomWalk: the generator's seed and how many walks from the start. A
  // walk ends where nothing can happen, at a limit, or at a state it passed.
  std::uint64_t seed = 0;
  std::uint64_t walks = 100;
};

enum class TerminalKind : std::uint8_t {
  Clean = 0,      // no packet left in the net (outside it excepted)
  Stuck = 1,      // no transition, no choice refused, and packets wait
  OverLimit = 2,  // more packets than Limits::max_packets: not followed
  Failed = 3,     // the engine refused a choice here (a state whose every
                  // choice is refused is told by its failures alone)
  Violated = 4,   // a declared property does not hold: not followed
  Livelock = 5,   // the first state of a cycle no way out can be reached
                  // from (Options::livelocks)
};

// Why an exploration stopped before exploring every state it reached.
// Walks: random walks never finish; they stop once all are made.
enum class StopReason : std::uint8_t {
  None = 0,
  States = 1,
  Depth = 2,
  Time = 3,
  Cancelled = 4,
  Walks = 5
};

// One step of a run: the action and what the engine answered.
struct RecordedAction {
  NetAction action;
  NetActionResponse response;
};

// A state nothing can leave, or that the explorer did not follow. A plain
// value. Intentionally copyable.
struct TerminalState {
  TerminalKind kind = TerminalKind::Clean;
  Fingerprint fingerprint;  // the net's, as NetSim::fingerprint gives it
  // Transitions from the start (Failed: to the state the choice was made in).
  std::uint64_t depth = 0;
  std::uint64_t packets = 0;  // in the net: those at OutsideNet are not
  // Stuck: where packets wait (Edge and InputPort locations), how many. A
  // stuck state has no live epoch (each could be executed), so every packet
  // is at one of them.
  std::vector<std::pair<PacketLocation, std::uint64_t>> waiting;
  // Stuck: (node, input salvo condition) of every node that packets wait
  // for, none of whose conditions holds, nor ever will from here.
  std::vector<std::pair<Name, Name>> blocked_conditions;
  // Failed: what the engine refused, in the run's ids; none for the others.
  std::optional<std::string> failure;
  // Violated: the name of the property that does not hold (the first
  // declared, when several do not); none for the others.
  std::optional<std::string> property_name;
  // Livelock: the cycle, from the state reached by `run` back to it (a
  // shortest one through it), every action with its response, as the same
  // fork goes on after `run`.
  std::vector<RecordedAction> cycle;
  // Stuck, Failed, Violated and Livelock: the run from the start, every action with its
  // response, as a fork of the start replays it (write_run fills it). A
  // failed run ends with the refused choice's actions up to the refused one,
  // and `fingerprint`, `packets` and `dot` are then where it ends.
  std::vector<RecordedAction> run;
  // Stuck, Failed, Violated and Livelock: the state's picture (Graphviz DOT).
  std::string dot;
  // The seed the start's ids come from (seed_of), when it has one.
  std::optional<std::uint64_t> seed;
};

struct ExplorationResult {
  std::uint64_t states = 0;  // distinct states visited, the start included
  // Transitions taken, to new states or known ones. A transition is an epoch
  // executed, an injection, a request made, or a step that moves a packet or
  // makes an epoch (one that only sends or drops requests is none).
  std::uint64_t transitions = 0;
  std::uint64_t max_depth = 0;  // the deepest state reached
  bool finished = false;        // every reachable state within the limits was explored
  StopReason stopped = StopReason::None;
  // States reached and not explored when the search stopped: those cut off
  // at max_depth, and breadth-first those numbered and not expanded with
  // those found and not numbered yet (a state found twice counts twice),
  // depth-first those on the run it was following. 0 for a search that
  // finished and for random walks.
  std::uint64_t frontier = 0;
  // Each distinct one, in the order found; breadth-first: by depth, then so.
  std::vector<TerminalState> terminals;
  // Memory of the visited set and its links, with the states found and not
  // numbered yet (breadth-first), at their most.
  std::size_t visited_bytes = 0;
  // Options::livelocks on a finished exploration: the states from which no
  // way out can be reached (the livelocks' cycles and what leads only to
  // them; with CleanEnd, also every state that can reach no clean end).
  std::uint64_t trapped = 0;
  // When not empty, the exploration stopped at a state it cannot explore
  // and this sentence says why: a state with more than 65535 choices (a
  // choice's number is 16 bits), with their count. Not finished then.
  std::string error;
};

// Field lists (zellik/base/fields.h), in the order of the plain dicts. A
// result's error is not listed: an exploration that has one raises it.
constexpr auto fields_of(std::type_identity<TerminalState>) {
  return std::tuple{field("kind", &TerminalState::kind),
                    field("fingerprint", &TerminalState::fingerprint),
                    field("depth", &TerminalState::depth),
                    field("packets", &TerminalState::packets),
                    field("waiting", &TerminalState::waiting),
                    field("blocked_conditions", &TerminalState::blocked_conditions),
                    field("failure", &TerminalState::failure),
                    field("property_name", &TerminalState::property_name),
                    field("seed", &TerminalState::seed),
                    field("run", &TerminalState::run),
                    field("cycle", &TerminalState::cycle),
                    field("dot", &TerminalState::dot)};
}
constexpr auto fields_of(std::type_identity<ExplorationResult>) {
  return std::tuple{field("states", &ExplorationResult::states),
                    field("transitions", &ExplorationResult::transitions),
                    field("max_depth", &ExplorationResult::max_depth),
                    field("finished", &ExplorationResult::finished),
                    field("stopped", &ExplorationResult::stopped),
                    field("frontier", &ExplorationResult::frontier),
                    field("terminals", &ExplorationResult::terminals),
                    field("visited_bytes", &ExplorationResult::visited_bytes),
                    field("trapped", &ExplorationResult::trapped)};
}
static_assert(lists_every_member<TerminalState>() && lists_every_member<ExplorationResult>(1));

// The seed a net's ids were made from, read back from its id generator's
// state: none for an unseeded one (or one more than 2**25 ids past it).
std::optional<std::uint64_t> seed_of(const IdSource::State& state);

// Explores every schedule of an executor over a net: which startable epoch
// to execute next (start, one declared outcome, finish), when to run a step
// that moves packets, when to inject a packet or make a request. Works on
// its own fork of the net given, made at construction; the caller's net is
// never touched. Single-threaded; owned by one caller. Not copyable.
class Explorer {
 public:
  // `declarations` must have passed check_declarations against the graph.
  Explorer(const NetSim& start, Declarations declarations, Options options);
  Explorer(const Explorer&) = delete;
  Explorer& operator=(const Explorer&) = delete;
  ~Explorer();

  // Explores until done or until `chunk_end`; true when done (finished or
  // stopped by a limit). Call again to go on.
  bool run(std::chrono::steady_clock::time_point chunk_end);
  // Stops at the next chance: a cancelled exploration is done.
  void cancel();
  // What was found so far. Runs and pictures of stuck and failed states
  // are filled in by finish().
  const ExplorationResult& result() const;
  // Fills in the runs and pictures of the terminal states; call once done.
  ExplorationResult finish();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zellik::explore
