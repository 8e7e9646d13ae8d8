// Undo: reverses an action's events last first, one reversal per event kind.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <string>
#include <variant>

#include "zellik/net/net_sim.h"

namespace zellik {

namespace {

std::string packet_not_found(const Ulid& id) { return "packet " + id.to_string() + " not found"; }
std::string epoch_not_found(const Ulid& id) { return "epoch " + id.to_string() + " not found"; }

// Undoes `events` newest first with `undo_one`, stopping at the first that
// cannot be undone.
template <class Event, class UndoOne>
Result<Unit, UndoError> newest_first(std::span<Event> events, UndoOne&& undo_one) {
  for (auto it = events.rbegin(); it != events.rend(); ++it) {  // NOLINT(modernize-loop-convert)
    Result<Unit, UndoError> undone = undo_one(*it);
    if (!undone.ok()) return undone;
  }
  return Unit{};
}

// The epoch a finished or cancelled event holds, or null.
Epoch* held_epoch(NetEvent& event) {
  if (auto* finished = std::get_if<event::EpochFinished>(&event)) return &*finished->epoch;
  if (auto* cancelled = std::get_if<event::EpochCancelled>(&event)) return &*cancelled->epoch;
  return nullptr;
}

}  // namespace

Result<Unit, UndoError> NetSim::undo_action(const NetAction& action,
                                            std::span<const NetEvent> events) {
  return newest_first(events, [&](const NetEvent& e) { return undo_event(action, e); });
}

Result<Unit, UndoError> NetSim::undo_events(const NetAction& action, std::span<NetEvent> events) {
  return newest_first(events, [&](NetEvent& e) { return undo_event(action, e, held_epoch(e)); });
}

Result<Unit, UndoError> NetSim::undo_event(const NetAction& action, const NetEvent& event,
                                           Epoch* spare) {
  using Undone = Result<Unit, UndoError>;

  // One reversal per event kind. As a local class of a member function it
  // reaches the net's state, which it changes through its primitives.
  struct Reversal {
    NetSim& net;
    NetState& state;
    const NetAction& action;
    Epoch* spare;  // the event's epoch, to move from

    Undone operator()(const event::PacketCreated& e) const {
      const PacketIndex packet = state.packets().find(e.packet_id);
      if (packet == kNoPacket) return UndoError::NotFound(packet_not_found(e.packet_id));
      state.erase_packet(packet);
      return Unit{};
    }

    Undone operator()(const event::PacketConsumed& e) const {
      return recreate_packet(e.packet_id, e.location);
    }

    Undone operator()(const event::PacketDestroyed& e) const {
      return recreate_packet(e.packet_id, e.location);
    }

    Undone operator()(const event::EpochCreated& e) const {
      const auto it = state.epochs().find(e.epoch_id);
      if (it == state.epochs().end()) return UndoError::NotFound(epoch_not_found(e.epoch_id));
      const Node* node = net.graph_.find_node(it->second.node_name);
      // Dropping locations that still hold packets would leave those packets
      // pointing nowhere: only an out-of-order undo gets here.
      if (holds_packets(e.epoch_id)) return still_holds(e.epoch_id);
      if (node != nullptr) {
        for (const auto& [port_name, port] : node->out_ports) {
          if (holds_packets(e.epoch_id, &port_name)) {
            return still_holds(e.epoch_id);
          }
        }
      }
      state.drop_epoch(it, /*drop_empty_list=*/true);
      return Unit{};
    }

    Undone operator()(const event::EpochStarted& e) const {
      const auto it = state.epochs().find(e.epoch_id);
      if (it == state.epochs().end()) return UndoError::NotFound(epoch_not_found(e.epoch_id));
      if (it->second.state != EpochState::Running) {
        return UndoError::StateMismatch("epoch " + e.epoch_id.to_string() +
                                        " is not in Running state, cannot undo start");
      }
      state.set_startable(it, true);
      return Unit{};
    }

    Undone operator()(const event::EpochFinished& e) const {
      return restore_epoch(e.epoch, /*startable=*/false);
    }

    // A cancelled Startable epoch comes back into the startable set.
    Undone operator()(const event::EpochCancelled& e) const {
      return restore_epoch(e.epoch, e.epoch->state == EpochState::Startable);
    }

    Undone operator()(const event::PacketMoved& e) const {
      const PacketIndex packet = state.packets().find(e.packet_id, e.packet_row);
      if (packet == kNoPacket) return UndoError::NotFound(packet_not_found(e.packet_id));
      const PacketRecord& record = state.packets()[packet];
      const PacketLocation& at = state.locations().location(record.location);
      if (!(at == e.to_location)) {
        return UndoError::StateMismatch(
            "packet " + e.packet_id.to_string() + " is not at expected location " +
            e.to_location.debug_string() + ", found at " + at.debug_string());
      }
      // The room at from_location once the packet has left to_location (the
      // two are the same location when a move re-queued the packet).
      LocationHandle from = state.locations().is_entry_of(e.from_handle, e.from_location)
                                ? e.from_handle
                                : state.locations().find(e.from_location);
      std::uint64_t room = from == kNoLocation ? 0 : state.count_at(from);
      if (from == record.location) --room;
      if (e.from_index > room) {
        return UndoError::StateMismatch("packet " + e.packet_id.to_string() +
                                        " cannot return to index " + std::to_string(e.from_index) +
                                        " of " + e.from_location.debug_string() + ", which holds " +
                                        std::to_string(room) + " packets");
      }
      if (from == kNoLocation) from = state.ensure_location(e.from_location);
      state.move_packet(packet, from, static_cast<std::size_t>(e.from_index));
      return Unit{};
    }

    Undone operator()(const event::InputSalvoTriggered&) const { return Unit{}; }

    Undone operator()(const event::OutputSalvoTriggered& e) const {
      if (!std::holds_alternative<action::SendOutputSalvo>(action)) return Unit{};
      const auto it = state.epochs().find(e.epoch_id);
      if (it == state.epochs().end()) return UndoError::NotFound(epoch_not_found(e.epoch_id));
      if (!state.pop_output_salvo(it)) {
        return UndoError::StateMismatch("epoch " + e.epoch_id.to_string() +
                                        " has no out_salvos to pop");
      }
      return Unit{};
    }

    Undone operator()(const event::PacketOrphaned& e) const {
      const PacketIndex packet = state.packets().find(e.packet_id);
      if (packet == kNoPacket) return UndoError::NotFound(packet_not_found(e.packet_id));
      const PacketLocation& at = state.locations().location(state.packets()[packet].location);
      if (!at.is(PacketLocation::Kind::OutsideNet)) {
        return UndoError::StateMismatch("packet " + e.packet_id.to_string() +
                                        " is not at OutsideNet, found at " + at.debug_string());
      }
      state.move_packet(packet,
                        state.ensure_location(PacketLocation::OutputPort(e.epoch_id, e.port_name)));
      const auto epoch = state.epochs().find(e.epoch_id);
      if (epoch != state.epochs().end()) state.forget_orphan(epoch, e.packet_id);
      return Unit{};
    }

    Undone operator()(const event::RequestCreated& e) const {
      switch (e.request_source) {
        case RequestCreatedSource::OnNoSalvoTriggered:
          state.set_request_token(e.node_name, true);
          break;
        case RequestCreatedSource::OnStartup:
          state.set_startup_requests_sent(false);
          break;
        case RequestCreatedSource::External:
          state.remove_last_request(PendingRequest{e.node_name, e.label});
          break;
      }
      return Unit{};
    }

    Undone operator()(const event::RequestCascadeResolved&) const { return Unit{}; }
    Undone operator()(const event::RequestEpochCreated&) const { return Unit{}; }

    // Puts a removed packet back at the end of `location`, making its entry
    // when it has none; StateMismatch when the id is in use.
    Undone recreate_packet(const Ulid& packet_id, const PacketLocation& location) const {
      if (state.packets().contains(packet_id)) {
        return UndoError::StateMismatch("packet " + packet_id.to_string() + " already exists");
      }
      state.insert_packet(packet_id, state.ensure_location(location));
      return Unit{};
    }

    // Whether the epoch's Node location, or its output port `port`, holds packets.
    bool holds_packets(const Ulid& epoch_id, const Name* port = nullptr) const {
      const LocationHandle h = state.epoch_place(epoch_id, port);
      return h != kNoLocation && state.count_at(h) != 0;
    }

    static Undone still_holds(const Ulid& epoch_id) {
      return UndoError::StateMismatch("epoch " + epoch_id.to_string() +
                                      " still holds packets, cannot undo its creation");
    }

    // Puts back a finished or cancelled epoch as recorded, and takes the
    // node's request token again. Its locations are empty, unless an undo
    // out of order has already put packets back at them: those stay.
    Undone restore_epoch(const Epoch& recorded, bool startable) const {
      if (state.epochs().contains(recorded.id)) {
        return UndoError::StateMismatch("epoch " + recorded.id.to_string() + " already exists");
      }
      const Node* node = net.graph_.find_node(recorded.node_name);
      net.set_request_token(recorded.node_name.view(), false);
      if (spare != nullptr) {
        state.add_epoch(std::move(*spare), node, startable);
      } else {
        state.add_epoch(recorded, node, startable);
      }
      return Unit{};
    }
  };

  return std::visit(Reversal{*this, state_, action, spare}, event);
}

}  // namespace zellik
