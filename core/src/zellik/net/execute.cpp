// One call per epoch, and a list of actions in one call: each performs the
// actions a caller would, one by one, and takes them all back on a refusal.

#include "zellik/net/execute.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "zellik/base/internal_failure.h"
#include "zellik/net/net_sim_restore.h"

namespace zellik {

namespace {

// The most actions a batch makes room for before it starts.
constexpr std::size_t kExpectedMost = 64;

// The most ids inject reserves room for up front.
constexpr std::uint64_t kInjectReserve = 1U << 16;

// Whether undoing `action` from its events can leave the request state other
// than it was: a finish or cancel gives its node's token back, which undo
// takes away; a step takes requests that undo does not give back.
bool touches_requests(const NetAction& action) {
  return std::holds_alternative<action::RunStep>(action) ||
         std::holds_alternative<action::FinishEpoch>(action) ||
         std::holds_alternative<action::CancelEpoch>(action);
}

// The position of packet `packet_id` in its location, or 0 when it has none.
std::uint64_t position_of(const NetSim& net, const Ulid& packet_id) {
  const std::optional<Packet> packet = net.get_packet(packet_id);
  if (!packet) return 0;
  const std::vector<Ulid> ids = net.get_packets_at_location(packet->location);
  return static_cast<std::uint64_t>(std::find(ids.begin(), ids.end(), packet_id) - ids.begin());
}

// Where the packet of `event` stood before it left its place, when undo puts
// it back elsewhere (at the end of the place): a consumed or destroyed
// packet at `removed_at` (a cancel destroys each packet from the head), an
// orphaned one at the head of its output port. The move that puts it back,
// undone, re-queues it there.
std::optional<event::PacketMoved> requeue_of(const NetEvent& event, std::uint64_t removed_at) {
  auto at = [](Timestamp t, const Ulid& id, const PacketLocation& where, std::uint64_t index) {
    return event::PacketMoved{t, id, where, where, index};
  };
  if (const auto* e = std::get_if<event::PacketConsumed>(&event)) {
    return at(e->timestamp, e->packet_id, e->location, removed_at);
  }
  if (const auto* e = std::get_if<event::PacketDestroyed>(&event)) {
    return at(e->timestamp, e->packet_id, e->location, removed_at);
  }
  if (const auto* e = std::get_if<event::PacketOrphaned>(&event)) {
    return at(e->timestamp, e->packet_id, PacketLocation::OutputPort(e->epoch_id, e->port_name), 0);
  }
  return std::nullopt;
}

// Undoes one accepted action from its events, newest first, and puts every
// packet it removed or orphaned back where it stood, so that the actions of a
// batch undone in reverse leave the net exactly as before them. Undoing a
// batch's own actions cannot fail while the net's invariants hold.
void undo_exactly(NetSim& net, const NetAction& action, std::span<NetEvent> events,
                  std::uint64_t removed_at) {
  for (std::size_t i = events.size(); i-- > 0;) {
    const std::optional<event::PacketMoved> requeue = requeue_of(events[i], removed_at);
    bool undone = net.undo_events(action, events.subspan(i, 1)).ok();
    if (undone && requeue) {
      EventList move{*requeue};
      undone = net.undo_events(action, std::span<NetEvent>(move)).ok();
    }
    if (!undone) fail("A refused batch of actions could not undo its own action");
  }
}

// Where the packet an action removes stands just before (ConsumePacket and
// DestroyPacket; 0 for any other).
std::uint64_t removal_position(const NetSim& net, const NetAction& action) {
  if (const auto* a = std::get_if<action::ConsumePacket>(&action)) {
    return position_of(net, a->packet_id);
  }
  if (const auto* a = std::get_if<action::DestroyPacket>(&action)) {
    return position_of(net, a->packet_id);
  }
  return 0;
}

// The actions of one execute or inject call, made into the caller's event
// list, each one's events from its mark on.
class BatchRun {
 public:
  BatchRun(NetSim& net, EventList& events) : net_(net), events_(events), start_(events.size()) {}

  // Makes room for about `actions` actions up front, so that a short batch
  // (an epoch's half dozen) grows its lists once; a long one grows as it
  // goes.
  void expect(std::size_t actions) {
    const std::size_t room = std::min(actions, kExpectedMost);
    made_.reserve(room);
    marks_.reserve(room + 1);
    events_.reserve(start_ + room + 2);
  }

  // Performs `action`; false when refused, everything taken back and the
  // refusal kept for error().
  bool act(NetAction action, Ulid* created = nullptr) {
    // Every packet execute removes is the head of its epoch's packets;
    // inject removes none.
    const std::size_t mark = events_.size();
    ActionResult done = net_.perform_action(action, events_);
    if (!done.ok()) {
      error_ = BatchError{made_.size(), std::move(action), std::move(done).error()};
      roll_back();
      return false;
    }
    if (created != nullptr) *created = done.value().created;
    made_.push_back(std::move(action));
    marks_.push_back(mark);
    return true;
  }

  BatchError error() && { return std::move(*error_); }

 private:
  void roll_back() {
    marks_.push_back(events_.size());
    const std::span<NetEvent> all(events_);
    for (std::size_t i = made_.size(); i-- > 0;) {
      undo_exactly(net_, made_[i], all.subspan(marks_[i], marks_[i + 1] - marks_[i]), 0);
    }
    events_.erase(events_.begin() + static_cast<std::ptrdiff_t>(start_), events_.end());
  }

  NetSim& net_;
  EventList& events_;
  std::size_t start_;
  std::vector<NetAction> made_;
  std::vector<std::size_t> marks_;
  std::optional<BatchError> error_;
};

}  // namespace

Result<CreatedPackets, BatchError> execute(NetSim& net, const Ulid& epoch_id,
                                           const EpochOutcome& outcome, EventList& events) {
  BatchRun run(net, events);
  std::uint64_t planned = 2 + outcome.sends.size();  // start and finish, the sends
  for (const auto& [port, count] : outcome.creates) planned += 2 * std::min(count, kExpectedMost);
  run.expect(static_cast<std::size_t>(std::min<std::uint64_t>(planned, kExpectedMost)) + 1);
  const Epoch* epoch = net.get_epoch(epoch_id);
  if (epoch == nullptr || epoch->state == EpochState::Startable) {
    if (!run.act(action::StartEpoch{epoch_id})) return std::move(run).error();
  }
  // The packets inside, copied first: the actions below move them.
  std::vector<Ulid> inside;
  net.get_epoch_packets(epoch_id, inside);
  for (const Ulid& packet : inside) {
    NetAction a = outcome.pass_to
                      ? NetAction(action::LoadPacketIntoOutputPort{packet, *outcome.pass_to})
                      : NetAction(action::ConsumePacket{packet});
    if (!run.act(std::move(a))) return std::move(run).error();
  }
  CreatedPackets created;
  created.reserve(outcome.creates.size());
  for (const auto& [port, count] : outcome.creates) {
    std::vector<Ulid>& ids = created.emplace_back(port, std::vector<Ulid>()).second;
    for (std::uint64_t i = 0; i < count; ++i) {
      Ulid packet;
      if (!run.act(action::CreatePacket{epoch_id}, &packet)) return std::move(run).error();
      if (!run.act(action::LoadPacketIntoOutputPort{packet, port})) return std::move(run).error();
      ids.push_back(packet);
    }
  }
  for (const Name& condition : outcome.sends) {
    if (!run.act(action::SendOutputSalvo{epoch_id, condition})) return std::move(run).error();
  }
  if (!run.act(action::FinishEpoch{epoch_id})) return std::move(run).error();
  return created;
}

Result<std::vector<Ulid>, BatchError> inject(NetSim& net, const PacketLocation& location,
                                             std::uint64_t count, EventList& events) {
  BatchRun run(net, events);
  std::vector<Ulid> ids;
  // A count past what could fit is refused by the location, not reserved.
  ids.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(count, kInjectReserve)));
  for (std::uint64_t i = 0; i < count; ++i) {
    Ulid packet;
    if (!run.act(action::CreatePacket{std::nullopt}, &packet)) return std::move(run).error();
    if (!run.act(action::TransportPacketToLocation{packet, location})) {
      return std::move(run).error();
    }
    ids.push_back(packet);
  }
  return ids;
}

Result<Unit, BatchError> do_actions(NetSim& net, std::span<const NetAction> actions,
                                    std::vector<NetActionSuccess>& done) {
  const std::size_t start = done.size();
  std::optional<RequestState> saved;
  for (const NetAction& action : actions) {
    if (!saved && touches_requests(action)) saved = NetSimRestore::request_state(net);
  }
  std::vector<NetAction> made;
  std::vector<std::uint64_t> removed_at;
  made.reserve(actions.size());
  for (const NetAction& action : actions) {
    const std::uint64_t position = removal_position(net, action);
    NetActionSuccess success{response::Empty{}, EventList()};
    ActionResult result = net.perform_action(action, success.events);
    if (!result.ok()) {
      for (std::size_t i = made.size(); i-- > 0;) {
        undo_exactly(net, made[i], done[start + i].events, removed_at[i]);
      }
      done.erase(done.begin() + static_cast<std::ptrdiff_t>(start), done.end());
      if (saved) {
        NetSimRestore::restore_requests(net, *saved);
      }
      return BatchError{made.size(), action, std::move(result).error()};
    }
    success.data = response_data(net, action, result.value(), success.events);
    done.push_back(std::move(success));
    made.push_back(action);
    removed_at.push_back(position);
  }
  return Unit{};
}

}  // namespace zellik
