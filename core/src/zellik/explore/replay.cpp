// Replaying a recorded run: actions renamed into the replaying net's ids.

#include "zellik/explore/replay.h"

#include <utility>
#include <variant>

namespace zellik::explore {

Ulid IdRenaming::renamed(const Ulid& id) const {
  const auto it = ids_.find(id);
  return it == ids_.end() ? id : it->second;
}

namespace {

// Renames the ids of one action's members; names and the rest stay.
struct Renamer {
  const IdRenaming& renaming;

  Ulid id(const Ulid& v) const { return renaming.renamed(v); }
  void member(Ulid& v) const { v = id(v); }
  void member(std::optional<Ulid>& v) const {
    if (v) *v = id(*v);
  }
  void member(Salvo& v) const {
    for (auto& packet : v.packets) packet.second = id(packet.second);
  }
  void member(PacketLocation& v) const {
    if (v.is(PacketLocation::Kind::Node)) {
      v = PacketLocation::Node(id(v.epoch_id()));
    } else if (v.is(PacketLocation::Kind::OutputPort)) {
      v = PacketLocation::OutputPort(id(v.epoch_id()), v.port_name());
    }
  }
  void member(Name&) const {}
};

// The id an event creates, if it creates one.
const Ulid* created(const NetEvent& event) {
  if (const auto* made = std::get_if<event::PacketCreated>(&event)) return &made->packet_id;
  if (const auto* made = std::get_if<event::EpochCreated>(&event)) return &made->epoch_id;
  return nullptr;
}

}  // namespace

NetAction IdRenaming::renamed(const NetAction& action) const {
  NetAction out = action;
  std::visit(
      [this]<class A>(A& a) {
        const Renamer renamer{*this};
        std::apply([&](const auto&... fd) { (renamer.member(a.*fd.member), ...); }, kFields<A>);
      },
      out);
  return out;
}

bool IdRenaming::pair(std::span<const NetEvent> recorded, std::span<const NetEvent> replayed) {
  if (recorded.size() != replayed.size()) return false;
  for (std::size_t i = 0; i < recorded.size(); ++i) {
    if (recorded[i].index() != replayed[i].index()) return false;
  }
  for (std::size_t i = 0; i < recorded.size(); ++i) {
    const Ulid* was = created(recorded[i]);
    if (was != nullptr) ids_[*was] = *created(replayed[i]);
  }
  return true;
}

Replay replay_run(NetSim& net, std::span<const RecordedAction> run) {
  Replay replay;
  IdRenaming renaming;
  EventList events;
  for (std::size_t i = 0; i < run.size(); ++i) {
    const RecordedAction& step = run[i];
    replay.actions.push_back(renaming.renamed(step.action));
    const NetAction& action = replay.actions.back();
    events.clear();
    ActionResult done = net.perform_action(action, events);
    const std::string at = "action " + std::to_string(i) + " (" +
                           std::string(kKindNames<NetAction>[action.index()]) + ")";
    if (!step.response.ok()) {
      // The refused action that ends a failed run.
      if (done.ok()) {
        (void)net.undo_events(action, std::span<NetEvent>(events));
        replay.mismatch = at + " was refused in the run and is done here";
      }
      continue;
    }
    if (!done.ok()) {
      replay.mismatch = at + " was done in the run and is refused here";
      replay.refused = done.error();
      break;
    }
    ++replay.done;
    if (!renaming.pair(step.response.value().events, events)) {
      replay.mismatch = at + " makes other events than in the run";
      break;
    }
  }
  return replay;
}

}  // namespace zellik::explore
