#pragma once

// What the explorer's fuzz target checks after an exploration: every stuck
// and failed state's run replays on a fresh fork of the start and ends
// where the state is; what each terminal state says of itself holds on the
// replayed net; the limits hold; and two explorations of one space agree.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "fuzz_input.h"
#include "zellik/base/internal_failure.h"
#include "zellik/explore/explorer.h"
#include "zellik/net/net_sim.h"
#include "zellik/net/record_codec.h"
#include "zellik/net/snapshot.h"

namespace zellik::fuzz {

inline const char* kind_text(explore::TerminalKind kind) {
  switch (kind) {
    case explore::TerminalKind::Clean:
      return "clean";
    case explore::TerminalKind::Stuck:
      return "stuck";
    case explore::TerminalKind::OverLimit:
      return "over_limit";
    case explore::TerminalKind::Failed:
      return "failed";
    case explore::TerminalKind::Violated:
      return "violated";
    case explore::TerminalKind::Livelock:
      return "livelock";
  }
  return "?";
}

inline std::string terminal_text(const explore::TerminalState& t, std::size_t index) {
  return "terminal " + std::to_string(index) + " (" + kind_text(t.kind) + ", depth " +
         std::to_string(t.depth) + ", packets " + std::to_string(t.packets) + ", run of " +
         std::to_string(t.run.size()) + " actions)";
}

inline std::vector<std::string> event_forms(const EventList& events) {
  std::vector<std::string> out;
  out.reserve(events.size());
  for (const NetEvent& e : events) out.push_back(encode_record(e));
  return out;
}

// Packets in the net: everywhere but outside it.
inline std::uint64_t packets_in_net(const NetSim& net) {
  return net.packet_count() - net.packet_count_at(PacketLocation::OutsideNet());
}

// The ids a replay makes in place of those a recorded run made: a copy of
// an unseeded start makes ids of its own, and its replay pairs them as they
// appear (the packets and epochs each event creates, in order).
class IdPairs {
 public:
  Ulid operator()(const Ulid& id) const {
    const auto at = ids_.find(id);
    return at == ids_.end() ? id : at->second;
  }
  NetAction renamed(NetAction action) const {
    std::visit(
        [this](auto& a) {
          if constexpr (requires { a.packet_id; }) a.packet_id = (*this)(a.packet_id);
          if constexpr (requires { a.epoch_id; }) {
            if constexpr (std::is_same_v<decltype(a.epoch_id), Ulid>) {
              a.epoch_id = (*this)(a.epoch_id);
            } else if (a.epoch_id) {
              a.epoch_id = (*this)(*a.epoch_id);
            }
          }
        },
        action);
    return action;
  }
  // Pairs the ids `recorded` creates with those `replayed` creates; false
  // when the two differ in their kinds of events.
  bool pair(const EventList& recorded, const EventList& replayed) {
    if (recorded.size() != replayed.size()) return false;
    for (std::size_t i = 0; i < recorded.size(); ++i) {
      if (recorded[i].index() != replayed[i].index()) return false;
      if (const auto* made = std::get_if<event::PacketCreated>(&recorded[i])) {
        ids_[made->packet_id] = std::get<event::PacketCreated>(replayed[i]).packet_id;
      } else if (const auto* epoch = std::get_if<event::EpochCreated>(&recorded[i])) {
        ids_[epoch->epoch_id] = std::get<event::EpochCreated>(replayed[i]).epoch_id;
      }
    }
    return true;
  }

 private:
  std::unordered_map<Ulid, Ulid, UlidHash> ids_;
};

// Replays the run of a stuck or failed terminal on a fork of the start
// (`start` is its snapshot, `seed` the seed of its ids, when it has one):
// every action answers as recorded, with the same events when the start is
// seeded (ids and times included) and events of the same kinds otherwise;
// the net ends with the terminal's fingerprint and packets, and a stuck
// one is as it says.
inline void check_replay(const Graph& graph, const std::string& start,
                         std::optional<std::uint64_t> seed, const explore::TerminalState& t,
                         std::size_t index) {
  const std::string what = terminal_text(t, index);
  if (t.seed != seed) finding("a run names the wrong seed", {what});
  auto fork = decode_snapshot(graph, start);
  if (!fork.ok()) finding("the start does not restore: " + fork.error().text);
  NetSim& net = *fork.value();
  const bool failed = t.kind == explore::TerminalKind::Failed;
  if (failed && (t.run.empty() || t.run.back().response.ok() || !t.failure || t.failure->empty()))
    finding("a failed run does not end in a refused action with a reason", {what});
  IdPairs ids;
  for (std::size_t i = 0; i < t.run.size(); ++i) {
    const explore::RecordedAction& step = t.run[i];
    const bool last = i + 1 == t.run.size();
    if (!step.response.ok() && !(failed && last))
      finding("a run holds a refused action before its end", {what, "action " + std::to_string(i)});
    const NetActionResponse got = [&] {
      try {
        return net.do_action(seed ? step.action : ids.renamed(step.action));
      } catch (const InternalFailure& failure) {
        finding(std::string("internal failure replaying a run: ") + failure.what(), {what});
      }
    }();
    const std::string at = "action " + std::to_string(i) + " of " + std::to_string(t.run.size());
    if (got.ok() != step.response.ok()) {
      finding(
          "a run replays otherwise than recorded",
          {what, at, got.ok() ? "replay: done" : "replay: " + message(got.error()),
           step.response.ok() ? "recorded: done" : "recorded: " + message(step.response.error())});
    }
    if (!got.ok() && got.error().kind != step.response.error().kind)
      finding("a replayed action is refused for another reason", {what, at, message(got.error())});
    if (!got.ok()) continue;
    const EventList& recorded = step.response.value().events;
    if (seed ? event_forms(got.value().events) != event_forms(recorded)
             : !ids.pair(recorded, got.value().events))
      finding("a replayed action has other events than recorded", {what, at});
  }
  if (fingerprint(net) != t.fingerprint)
    finding("a replayed run does not end at its terminal's fingerprint", {what});
  if (t.packets != packets_in_net(net)) {
    finding("a terminal counts other packets than its replayed run ends with",
            {what, "packets in the net " + std::to_string(packets_in_net(net))});
  }
  if (t.kind != explore::TerminalKind::Stuck) return;
  std::uint64_t waiting = 0;
  for (const auto& [location, count] : t.waiting) waiting += count;
  if (!net.epochs().empty() || t.waiting.empty() || waiting != packets_in_net(net)) {
    finding("a stuck state is not as it says",
            {what, "live epochs " + std::to_string(net.epochs().size()),
             "waiting " + std::to_string(waiting) + " in " + std::to_string(t.waiting.size()) +
                 " places, " + std::to_string(t.blocked_conditions.size()) + " blocked conditions",
             "packets in the net " + std::to_string(packets_in_net(net))});
  }
}

// What a result says of itself and of the limits it had.
inline void check_result(const explore::ExplorationResult& r, const explore::Options& o,
                         bool cancelled) {
  const explore::Limits& limits = o.limits;
  if (!r.error.empty()) finding("an exploration of a small net stopped: " + r.error);
  if (r.finished && r.stopped != explore::StopReason::None)
    finding("a finished exploration says it stopped");
  if (!r.finished && r.stopped == explore::StopReason::None)
    finding("an unfinished exploration says neither why it stopped nor an error");
  if (cancelled) return;
  if (limits.max_states > 0 &&
      (r.states > limits.max_states ||
       (r.stopped == explore::StopReason::States && r.states != limits.max_states))) {
    finding("other than max_states states", {std::to_string(r.states) + " states, max_states " +
                                             std::to_string(limits.max_states)});
  }
  if (limits.max_depth > 0 && r.max_depth > limits.max_depth) finding("deeper than max_depth");
  std::uint64_t last_depth = 0;
  for (std::size_t i = 0; i < r.terminals.size(); ++i) {
    const explore::TerminalState& t = r.terminals[i];
    const std::string what = terminal_text(t, i);
    if (t.depth > r.max_depth && t.kind != explore::TerminalKind::Failed)
      finding("a terminal deeper than the deepest state", {what});
    if (t.kind == explore::TerminalKind::Clean && t.packets != 0)
      finding("a clean terminal with packets in the net", {what});
    if (limits.max_packets > 0) {
      const bool over = t.packets > limits.max_packets;
      if (over != (t.kind == explore::TerminalKind::OverLimit) &&
          t.kind != explore::TerminalKind::Failed)
        finding("a terminal on the wrong side of max_packets", {what});
    }
    if (o.order == explore::SearchOrder::BreadthFirst) {
      if (t.depth < last_depth) finding("breadth-first terminals not nearest first", {what});
      last_depth = t.depth;
    }
  }
}

using TerminalKey = std::tuple<explore::TerminalKind, std::uint64_t, std::uint64_t>;

inline std::set<TerminalKey> terminal_keys(const explore::ExplorationResult& r) {
  std::set<TerminalKey> keys;
  for (const explore::TerminalState& t : r.terminals)
    keys.emplace(t.kind, t.fingerprint.hi, t.fingerprint.lo);
  return keys;
}

inline std::string counts_text(const char* name, const explore::ExplorationResult& r) {
  std::size_t by_kind[4] = {};
  for (const explore::TerminalState& t : r.terminals) ++by_kind[static_cast<int>(t.kind)];
  return std::string(name) + ": " + std::to_string(r.states) + " states, " +
         std::to_string(r.transitions) + " transitions, clean " + std::to_string(by_kind[0]) +
         ", stuck " + std::to_string(by_kind[1]) + ", over_limit " + std::to_string(by_kind[2]) +
         ", failed " + std::to_string(by_kind[3]);
}

// The least depth each terminal state is found at.
inline std::map<TerminalKey, std::uint64_t> least_depths(const explore::ExplorationResult& r) {
  std::map<TerminalKey, std::uint64_t> depths;
  for (const explore::TerminalState& t : r.terminals) {
    const auto [at, fresh] =
        depths.emplace(TerminalKey{t.kind, t.fingerprint.hi, t.fingerprint.lo}, t.depth);
    if (!fresh && t.depth < at->second) at->second = t.depth;
  }
  return depths;
}

// Two complete explorations of one space without limits find the same
// states, transitions and terminal states; the first, breadth-first, finds
// each terminal state no deeper than the other does.
inline void check_same_space(const char* a_name, const explore::ExplorationResult& a,
                             const char* b_name, const explore::ExplorationResult& b) {
  if (!a.finished || !b.finished) {
    finding("an exploration without limits did not finish",
            {counts_text(a_name, a), counts_text(b_name, b)});
  }
  if (a.states != b.states || a.transitions != b.transitions ||
      terminal_keys(a) != terminal_keys(b)) {
    finding(std::string(a_name) + " and " + b_name + " explore different spaces",
            {counts_text(a_name, a), counts_text(b_name, b)});
  }
  const std::map<TerminalKey, std::uint64_t> other = least_depths(b);
  for (const auto& [key, depth] : least_depths(a)) {
    if (depth > other.at(key)) {
      finding(std::string(a_name) + " finds a terminal state deeper than " + b_name + " does",
              {std::string(kind_text(std::get<0>(key))) + " at depth " + std::to_string(depth) +
               " and " + std::to_string(other.at(key))});
    }
  }
}

// Random walks see part of the space a complete search sees.
inline void check_part_of(const explore::ExplorationResult& walks,
                          const explore::ExplorationResult& all) {
  const std::set<TerminalKey> theirs = terminal_keys(all);
  bool inside = walks.states <= all.states;
  for (const TerminalKey& key : terminal_keys(walks)) inside = inside && theirs.count(key) > 0;
  if (!inside) {
    finding("random walks found what a complete search does not",
            {counts_text("walks", walks), counts_text("breadth-first", all)});
  }
}

}  // namespace zellik::fuzz
