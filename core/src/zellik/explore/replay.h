#pragma once

// Replaying a run the explorer wrote out, on a net in the state the
// exploration started from (a copy of the start: copy.copy, pickle, a
// snapshot).
//
// A run names the ids its actions made on the explorer's fork of the start.
// A copy of a seeded start makes the same ids; a copy of an unseeded one
// makes ids of its own. The replay pairs them as they appear: each packet
// and epoch a recorded event creates is renamed to the one the same event
// creates on the net, and every later action is renamed before it is done.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "zellik/explore/explorer.h"

namespace zellik::explore {

// The ids of a recorded run and those a replay made in their place.
// Intentionally copyable.
class IdRenaming {
 public:
  // `action` with every id this renaming knows replaced by its partner.
  NetAction renamed(const NetAction& action) const;
  // The partner of `id`, or `id` itself when it has none.
  Ulid renamed(const Ulid& id) const;
  // Pairs the ids `recorded` creates with those `replayed` creates, event
  // by event; false (pairing nothing further) when the two differ in
  // length or in the kind of an event.
  bool pair(std::span<const NetEvent> recorded, std::span<const NetEvent> replayed);

 private:
  std::unordered_map<Ulid, Ulid, UlidHash> ids_;
};

struct Replay {
  // The run in the net's ids, every action of it (a failed run's refused
  // one included).
  std::vector<NetAction> actions;
  // Actions the net performed: all of a stuck run's, all but the last of a
  // failed run's, fewer when the replay stopped early.
  std::size_t done = 0;
  // Why the replay stopped early, or empty: an action the run did that the
  // net refused, a refused one that the net performed, or one whose events
  // differ in kind from the recorded ones. The net is then as the actions
  // before it left it (the one it performed unexpectedly is undone).
  std::string mismatch;
  // The error of the action that stopped it, when the net refused one.
  std::optional<NetActionError> refused;
};

// Performs `run` on `net`, renaming ids as they appear.
Replay replay_run(NetSim& net, std::span<const RecordedAction> run);

}  // namespace zellik::explore
