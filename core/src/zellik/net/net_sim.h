#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>

#include "zellik/base/result.h"
#include "zellik/graph/cascade.h"
#include "zellik/graph/graph.h"
#include "zellik/graph/salvo_condition.h"
#include "zellik/net/epoch.h"
#include "zellik/net/fingerprint.h"
#include "zellik/net/found_packet.h"
#include "zellik/net/location_table.h"
#include "zellik/net/net_action.h"
#include "zellik/net/net_action_error.h"
#include "zellik/net/net_action_response.h"
#include "zellik/net/net_event.h"
#include "zellik/net/packet_location.h"
#include "zellik/net/packet_queue.h"
#include "zellik/net/packet_table.h"
#include "zellik/net/ulid.h"
#include "zellik/net/undo_error.h"

namespace zellik {

// A request waiting for the next run step to resolve it.
struct PendingRequest {
  Name node_name;
  Name label;
  friend bool operator==(const PendingRequest&, const PendingRequest&) = default;
};

using EpochTable = std::unordered_map<Ulid, Epoch, UlidHash>;
using UlidSet = std::unordered_set<Ulid, UlidHash>;
using NodeEpochs = std::unordered_map<Name, std::vector<Ulid>, NameHash, NameEq>;
using RequestTokens = std::unordered_map<Name, bool, NameHash, NameEq>;

// The mutable state of a flow network over one validated graph: every packet
// and where it is, every live epoch, the request state. Single-threaded and
// owned by one caller; every change goes through do_action, run_until_blocked
// or undo_action. Not copyable.
class NetSim {
 public:
  // Validates `graph` and creates an empty entry for every edge, every input
  // port and OutsideNet. Throws InternalFailure "Cannot create NetSim with
  // invalid graph:\n  - ..." when validation reports faults. `ids` gives the
  // net its ids and event timestamps (unseeded: random ids, wall clock).
  explicit NetSim(const Graph& graph, IdSource ids = IdSource());
  NetSim(const NetSim&) = delete;
  NetSim& operator=(const NetSim&) = delete;

  const Graph& graph() const { return graph_; }

  // Queries: read-only, never fail.
  FoundPacket get_packet(const Ulid& packet_id) const;
  const Epoch* get_epoch(const Ulid& epoch_id) const;
  // Oldest first; empty when the location has no entry.
  std::vector<Ulid> get_packets_at_location(const PacketLocation& location) const;
  std::uint64_t packet_count_at(const PacketLocation& location) const;
  std::vector<Ulid> get_startable_epochs() const;
  // The packets inside live epoch `epoch_id` (its Node location), oldest
  // first, into `out` (a caller's buffer, reused); empty when none is live.
  void get_epoch_packets(const Ulid& epoch_id, std::vector<Ulid>& out) const;

  // Performs one action: all checks before the first change, so an error
  // leaves the net unchanged (RunStep's request resolution excepted).
  NetActionResponse do_action(const NetAction& action);  // built on perform_action
  // Performs one action as do_action does, appending its events to `events`
  // (a caller's buffer, reused) instead of building a response. An error
  // appends nothing.
  ActionResult perform_action(const NetAction& action, EventList& events);
  // Sets the data of the response do_action gives for `action`, performed as
  // `done` with `success.events` its events, right after it; Empty when none.
  void fill_response(const NetAction& action, const ActionDone& done,
                     NetActionSuccess& success) const;

  // Whether no further step can make progress.
  bool is_blocked() const;
  // Runs steps until blocked, skipping steps that fail; all their events.
  EventList run_until_blocked();
  // Runs steps as run_until_blocked does, appending their events to `events`
  // (a caller's buffer, reused from call to call), but stops after
  // `max_steps` steps, at the first step that ends at or after `deadline`,
  // or at the first step that leaves `events` holding `max_events` events or
  // more, whichever comes first. Returns true when it stopped because the
  // net is blocked; false leaves the rest for another call.
  bool run_steps_into(EventList& events, std::size_t max_steps,
                      std::chrono::steady_clock::time_point deadline,
                      std::size_t max_events = static_cast<std::size_t>(-1));

  // Reverses `events` (produced by `action`) last first; stops at the first
  // event that cannot be reversed, keeping what was reversed before it.
  Result<Unit, UndoError> undo_action(const NetAction& action, const EventList& events) {
    return undo_events(action, events);
  }
  // The same for events kept in part of a caller's buffer (perform_action).
  Result<Unit, UndoError> undo_events(const NetAction& action, std::span<const NetEvent> events);
  // The same for events dropped after: an epoch one holds goes back by move.
  Result<Unit, UndoError> undo_events(const NetAction& action, std::span<NetEvent> events);

  // Sets the node's request token, only when the node exists and has the
  // OnNoSalvoTriggered trigger; otherwise does nothing.
  void set_request_token(std::string_view node_name, bool value);

  // Puts a removed packet back at the end of `location` (creating the entry).
  // StateMismatch "packet {id} already exists" when the id is in use.
  Result<Unit, UndoError> recreate_packet(const Ulid& packet_id, const PacketLocation& location);

  // Calls `visit(location, ids)` for every location that holds packets, ids
  // oldest first. The Edge and InputPort locations come first, in the order
  // the run step visits them, so that refilling the locations in this order
  // (restore_packets) gives a net that steps the same way (save_restore.cpp).
  using OccupiedLocationVisitor =
      std::function<void(const PacketLocation& location, std::span<const Ulid> ids)>;
  void for_each_occupied_location(const OccupiedLocationVisitor& visit) const;

  // --- Restoring a saved state (save_restore.cpp) --------------------------
  // Building blocks for a decoder that has checked its input against the
  // graph already. They keep the net's own indexes in step but check nothing
  // else and record no events: they are not actions and cannot be undone.

  // Sizes the tables for the totals about to be restored.
  void reserve_for_restore(std::size_t packets, std::size_t epochs);
  // Gives `node_name` an epoch list, empty until epochs are restored into it.
  void restore_node_epoch_list(const Name& node_name);
  // Adds `epoch` as a live epoch with empty Node and OutputPort locations and
  // appends its id to its node's epoch list. The startable set is filled
  // separately. Throws InternalFailure when the node is not in the graph.
  void restore_epoch(Epoch epoch);
  // Fills the startable set with `ids`, given in get_startable_epochs order.
  void restore_startable_epochs(const std::vector<Ulid>& ids);
  // Appends the packets `ids` to the end of `location`, making the entry of
  // a Node or OutputPort location whose epoch has ended. Returns an id
  // already in use, if any, and then leaves the net partly restored: the
  // caller must drop it. Throws InternalFailure when any other location has
  // no entry.
  std::optional<Ulid> restore_packets(const PacketLocation& location, std::span<const Ulid> ids);
  // Replaces the pending requests, sets the given request tokens and the
  // startup flag.
  void restore_request_state(std::vector<PendingRequest> pending, const RequestTokens& tokens,
                             bool startup_requests_sent);

  // --- Fingerprints (fingerprint.cpp) -------------------------------------
  // The state as words that ignore ids and timestamps, appended to `out`:
  // packet counts per fixed location, each live epoch as its node, state,
  // salvo shapes and location counts (records sorted, so ids and order do
  // not show), the request state. Nets over equal graphs whose states differ
  // only in ids give equal words, any other difference other words.
  // O(locations + epochs). `distinct`: set to the live epochs in record
  // order, the first of each distinct record; good until the net changes.
  void canonical_state(std::vector<std::uint64_t>& out,
                       std::vector<const Epoch*>* distinct = nullptr) const;
  // The 128-bit digest of canonical_state.
  Fingerprint fingerprint() const;
  // The canonical record of one live epoch, as canonical_state writes it.
  void canonical_epoch(const Epoch& epoch, std::vector<std::uint64_t>& out) const;
  // The numbering canonical_state uses; built on first use.
  const StateLayout& state_layout() const;

  // Read-only views of the whole state, for tests and tools.
  // Every packet with its location, in no particular order.
  std::vector<std::pair<Ulid, Packet>> packets() const;
  std::size_t packet_count() const { return packets_.size(); }
  // Each packet's id, location handle and queue slot, by row.
  const PacketTable& packet_records() const { return packets_; }
  const LocationTable& packets_by_location() const { return locations_; }
  const EpochTable& epochs() const { return epochs_; }
  const UlidSet& startable_epochs() const { return startable_epochs_; }
  const NodeEpochs& node_to_epochs() const { return node_to_epochs_; }
  const std::vector<PendingRequest>& pending_requests() const { return pending_requests_; }
  const RequestTokens& request_tokens() const { return request_tokens_; }
  bool startup_requests_sent() const { return startup_requests_sent_; }
  // Where ids and timestamps come from; a snapshot carries its state.
  const IdSource& id_source() const { return ids_; }
  // Continues ids and clock from a snapshot's state; false (no change) if none can be in it.
  bool restore_id_source(const IdSource::State& state) { return ids_.restore(state); }
  // The Edge / InputPort entries that currently hold packets (any order).
  const std::vector<LocationTable::value_type*>& active_locations() const {
    return locations_.active();
  }

 private:
  // The actions, one overload per kind, which perform_action picks; each
  // appends its events to `events`. The step (net_sim.cpp):
  ActionResult act(const action::RunStep& a, EventList& events);
  // Packets and salvos (packet_actions.cpp):
  ActionResult act(const action::CreatePacket& a, EventList& events);
  ActionResult act(const action::ConsumePacket& a, EventList& events);
  ActionResult act(const action::DestroyPacket& a, EventList& events);
  ActionResult act(const action::LoadPacketIntoOutputPort& a, EventList& events);
  ActionResult act(const action::SendOutputSalvo& a, EventList& events);
  ActionResult act(const action::TransportPacketToLocation& a, EventList& events);
  // Epochs (epoch_actions.cpp) and requests (requests.cpp):
  ActionResult act(const action::StartEpoch& a, EventList& events);
  ActionResult act(const action::FinishEpoch& a, EventList& events);
  ActionResult act(const action::CancelEpoch& a, EventList& events);
  ActionResult act(const action::CreateEpoch& a, EventList& events);
  ActionResult act(const action::CreateRequest& a, EventList& events);
  // Consuming and destroying, which differ only in the event they record.
  template <class Removed>
  ActionResult remove_packet(const Ulid& packet_id, EventList& events);

  // Run step (run_step.cpp).
  // One step appending its events to `events`; whether it made progress.
  // On an error the events already appended stay for the caller to drop.
  Result<bool, NetActionError> run_step_into(EventList& events);
  // One step appending straight to `events`; a step that fails takes its
  // events back out (the loops skip failed steps).
  void run_step_keeping_success(EventList& events);
  struct NodeInputs;
  bool try_trigger_input_salvo(const NodeInputs& inputs, EventList& events);
  bool any_input_condition_holds(const NodeInputs& inputs) const;

  // Requests (requests.cpp): phases 3 to 5 of a step.
  void emit_startup_requests(EventList& events);
  // `waiting` are node_inputs_ indexes; a node fired this step when its
  // fired_in_step is step_serial_.
  void emit_no_salvo_requests(const std::vector<std::uint32_t>& waiting, EventList& events);
  // Whether a request epoch was made; an action error ends the step.
  Result<bool, NetActionError> resolve_pending_requests(EventList& events);

  // Undo of one event (undo.cpp); it may move from `spare`, the epoch the event holds.
  Result<Unit, UndoError> undo_event(const NetAction& action, const NetEvent& event,
                                     Epoch* spare = nullptr);

  // What the step needs to know about the fixed graph's requests, gathered
  // once so that no step walks every node or dependency edge (requests.cpp).
  struct RequestIndex {
    // Nodes whose request configuration has the OnStartup trigger.
    std::vector<const Node*> startup_nodes;
    // Node name -> targets of the dependency edges entering that node.
    RequestStartPorts start_ports;
  };
  // Built on first use; the graph never changes afterwards.
  const RequestIndex& request_index() const;

  // The time stamped on the next event, from the net's IdSource. Inside the
  // members of NetSim this name hides the free now_millis() on purpose, so
  // every event a member builds takes the net's clock, seeded or not.
  Timestamp now_millis() { return ids_.next_timestamp(); }

  // --- State primitives (net_sim.cpp) -------------------------------------
  // Actions, undo, restore and the run step change the tables only through
  // these. The packet table and the location table change together only
  // here: a packet's record always names the queue and slot that hold it.
  // An epoch, its locations, its node's epoch list and the startable set
  // change together only here.

  // The index of move_packet that means the back of the location.
  static constexpr std::size_t kBack = static_cast<std::size_t>(-1);
  // Moves a packet to position `index` of `to` (kBack: its back), counted
  // once the packet has left where it is. Requires index <= that count.
  void move_packet(PacketIndex packet, LocationHandle to, std::size_t index = kBack);
  // Moves the head packet of its queue to the back of `to`.
  void move_head(PacketIndex packet, LocationHandle to);
  // Moves a packet to the back of `to` and returns the move as an event
  // stamped `at`.
  event::PacketMoved move_reported(PacketIndex packet, LocationHandle to, Timestamp at);
  // The event of a move just made: `packet` left `from`, where it was at
  // `from_index`, for where it is now.
  event::PacketMoved moved_event(Timestamp at, PacketIndex packet, LocationHandle from,
                                 std::uint64_t from_index) {
    const PacketRecord& record = packets_[packet];
    return event::PacketMoved{at,
                              record.id,
                              locations_.copy_location(from),
                              locations_.copy_location(record.location),
                              from_index,
                              packet,
                              from};
  }
  // Adds a packet at the back of `location`. The id must be free.
  PacketIndex insert_packet(const Ulid& packet_id, LocationHandle location);
  // The same, unless the id is taken: then kNoPacket and nothing changes.
  PacketIndex try_insert_packet(const Ulid& packet_id, LocationHandle location);
  // Removes a packet from its queue and from the table.
  void erase_packet(PacketIndex packet);

  // Adds `epoch`, whose id must be free, to the epoch table, its node's
  // list and, when `startable`, the startable set; creates the Node and
  // OutputPort entries of `node` for it, linked (the Node entry alone when
  // `node` is null: an undo may bring back an epoch of another graph). An
  // entry that exists already keeps its packets: an undo out of order can
  // leave packets at the locations of an ended epoch, there when it returns.
  Epoch& add_epoch(Epoch epoch, const Node* node, bool startable);
  // Removes a live epoch (returned) from the epoch table, the startable set
  // and its node's list (dropping an emptied list when `drop_empty_list`),
  // and drops the entries add_epoch made for it.
  Epoch drop_epoch(EpochTable::iterator epoch, bool drop_empty_list);
  // Makes a live epoch Startable (joining the startable set) or Running
  // (leaving it).
  void set_startable(Epoch& epoch, bool startable);
  // Creates a Startable epoch of `node` with `in_salvo` and a fresh id.
  Epoch& insert_new_epoch(const Node& node, Salvo in_salvo);

  // Helpers of the primitives. The unchecked move to the back: the caller
  // has checked that the packet is queued.
  void requeue_back(PacketIndex packet, LocationHandle to);
  // InternalFailure unless the record's queue slot holds the packet.
  void check_queued(PacketIndex packet) const;
  // The packet's position in its location's queue.
  std::uint64_t position_of(PacketIndex packet) const;
  // Keeps a record in step when a queue gives a packet another slot.
  auto renumberer() {
    return [this](PacketIndex packet, LocationQueue::Slot slot) { packets_[packet].slot = slot; };
  }

  Packet packet_value(PacketIndex packet) const {
    const PacketRecord& record = packets_[packet];
    return Packet{record.id, locations_.location(record.location)};
  }
  // Replaces `ids` with the ids queued in `queue`, oldest first.
  void copy_ids(const LocationQueue& queue, std::vector<Ulid>& ids) const;
  // The handle of a location the net must have; InternalFailure otherwise.
  LocationHandle handle_of(const PacketLocation& location, const char* what) const;
  std::uint64_t count_at(LocationHandle h) const { return locations_.queue(h).size(); }
  // The entry of epoch `id`'s Node location or output port `port` (no location made), or none.
  LocationHandle epoch_place(const Ulid& id, const Name* port = nullptr) const {
    using Kind = PacketLocation::Kind;
    return locations_.find(EpochPlace{port == nullptr ? Kind::Node : Kind::OutputPort, &id, port});
  }
  // The input port handles of a node (fixed), by port name.
  LocationHandle input_port_handle(const Node& node, const Name& port_name) const;
  // The input ports of `node`, or null when it has none.
  const InputPortHandles* input_ports_of(const Node& node) const;

  Graph graph_;
  IdSource ids_;
  PacketTable packets_;
  LocationTable locations_;
  // The input ports of each node that has some, (port name, handle), the last
  // step that gave the node its chance to fire, and what the step asks of the
  // node without visiting it: has it input salvo conditions, does it request
  // when none fires.
  struct NodeInputs {
    const Node* node = nullptr;
    InputPortHandles ports;
    std::uint64_t seen_in_step = 0;
    std::uint64_t fired_in_step = 0;
    bool has_conditions = false;
    bool requests_when_idle = false;
  };
  std::vector<NodeInputs> node_inputs_;  // indexed by LocationEntry::node_index
  // A node's index into node_inputs_, by the node's position in the graph;
  // kNoInputs for a node without input ports.
  static constexpr std::uint32_t kNoInputs = std::numeric_limits<std::uint32_t>::max();
  std::vector<std::uint32_t> node_input_index_;
  std::uint64_t step_serial_ = 0;
  EpochTable epochs_;
  UlidSet startable_epochs_;
  NodeEpochs node_to_epochs_;
  std::vector<PendingRequest> pending_requests_;
  RequestTokens request_tokens_;
  bool startup_requests_sent_ = false;
  // Scratch of the run step, kept to avoid allocating per step.
  struct EdgeMove {
    LocationHandle from;
    LocationHandle to;
    PacketIndex packet;
  };
  std::vector<EdgeMove> step_moves_;
  std::vector<std::uint32_t> step_waiting_;
  mutable std::optional<RequestIndex> request_index_;
  mutable std::optional<StateLayout> state_layout_;
  // Scratch of canonical_state: the epoch records before sorting.
  mutable std::vector<std::uint64_t> canon_epochs_;
  mutable std::vector<EpochRecordSpan> canon_spans_;
};

// The moves undo and the actions make one at a time, inline where they are
// made.
inline void NetSim::requeue_back(PacketIndex packet, LocationHandle to) {
  PacketRecord& record = packets_[packet];
  locations_.remove(record.location, record.slot, renumberer());
  record.location = to;
  record.slot = locations_.append(to, packet);
}

inline void NetSim::move_packet(PacketIndex packet, LocationHandle to, std::size_t index) {
  check_queued(packet);
  if (index == kBack) {
    requeue_back(packet, to);
    return;
  }
  PacketRecord& record = packets_[packet];
  locations_.remove(record.location, record.slot, renumberer());
  record.location = to;
  record.slot = locations_.insert(to, index, packet, renumberer());
}

}  // namespace zellik
