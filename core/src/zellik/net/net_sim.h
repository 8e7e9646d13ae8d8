#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "zellik/graph/graph.h"
#include "zellik/base/result.h"
#include "zellik/graph/salvo_condition.h"
#include "zellik/net/epoch.h"
#include "zellik/net/net_action.h"
#include "zellik/net/net_action_error.h"
#include "zellik/net/net_action_response.h"
#include "zellik/net/net_event.h"
#include "zellik/net/packet_location.h"
#include "zellik/net/packet_queue.h"
#include "zellik/net/ulid.h"
#include "zellik/net/undo_error.h"

namespace zellik {

// A request waiting for the next run step to resolve it.
struct PendingRequest {
  Name node_name;
  Name label;
  friend bool operator==(const PendingRequest&, const PendingRequest&) = default;
};

// The packets queued at one location. `active_slot` is the entry's position
// in the net's index of non-empty Edge / InputPort locations (kNotActive when
// it is not there); only the queue primitives of NetSim touch it.
struct LocationEntry {
  static constexpr std::size_t kNotActive = std::numeric_limits<std::size_t>::max();
  PacketQueue queue;
  std::size_t active_slot = kNotActive;
};

using PacketTable = std::unordered_map<Ulid, Packet, UlidHash>;
using LocationTable = std::unordered_map<PacketLocation, LocationEntry, PacketLocationHash>;
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
  explicit NetSim(Graph graph, IdSource ids = IdSource());
  NetSim(const NetSim&) = delete;
  NetSim& operator=(const NetSim&) = delete;

  const Graph& graph() const { return graph_; }

  // Queries: read-only, never fail.
  const Packet* get_packet(const Ulid& packet_id) const;
  const Epoch* get_epoch(const Ulid& epoch_id) const;
  // Oldest first; empty when the location has no entry.
  std::vector<Ulid> get_packets_at_location(const PacketLocation& location) const;
  std::uint64_t packet_count_at(const PacketLocation& location) const;
  std::vector<Ulid> get_startable_epochs() const;

  // Performs one action: all checks before the first change, so an error
  // leaves the net unchanged (RunStep's request resolution excepted).
  NetActionResponse do_action(const NetAction& action);

  // Whether no further step can make progress.
  bool is_blocked() const;
  // Runs steps until blocked, skipping steps that fail; all their events.
  EventList run_until_blocked();

  // Reverses `events` (produced by `action`) last first; stops at the first
  // event that cannot be reversed, keeping what was reversed before it.
  Result<Unit, UndoError> undo_action(const NetAction& action, const EventList& events);

  // Sets the node's request token, only when the node exists and has the
  // OnNoSalvoTriggered trigger; otherwise does nothing.
  void set_request_token(std::string_view node_name, bool value);

  // Puts a removed packet back at the end of `location` (creating the entry).
  // StateMismatch "packet {id} already exists" when the id is in use.
  Result<Unit, UndoError> recreate_packet(const Ulid& packet_id, const PacketLocation& location);

  // Read-only views of the whole state, for tests and tools.
  const PacketTable& packets() const { return packets_; }
  const LocationTable& packets_by_location() const { return packets_by_location_; }
  const EpochTable& epochs() const { return epochs_; }
  const UlidSet& startable_epochs() const { return startable_epochs_; }
  const NodeEpochs& node_to_epochs() const { return node_to_epochs_; }
  const std::vector<PendingRequest>& pending_requests() const { return pending_requests_; }
  const RequestTokens& request_tokens() const { return request_tokens_; }
  bool startup_requests_sent() const { return startup_requests_sent_; }
  // Where ids and timestamps come from; a snapshot carries its state.
  const IdSource& id_source() const { return ids_; }
  // Continues the ids and clock from a snapshot's state; false (no change)
  // for a state no source can be in.
  bool restore_id_source(const IdSource::State& state) { return ids_.restore(state); }
  // The Edge / InputPort entries that currently hold packets (any order).
  const std::vector<LocationTable::value_type*>& active_locations() const { return active_; }

 private:
  // Epoch actions (epoch_actions.cpp).
  NetActionResponse create_epoch(const action::CreateEpoch& a);
  NetActionResponse start_epoch(const action::StartEpoch& a);
  NetActionResponse finish_epoch(const action::FinishEpoch& a);
  NetActionResponse cancel_epoch(const action::CancelEpoch& a);

  // Packet and salvo actions (packet_actions.cpp).
  NetActionResponse create_packet(const action::CreatePacket& a);
  NetActionResponse remove_packet(const Ulid& packet_id, bool destroyed);
  NetActionResponse load_packet_into_output_port(const action::LoadPacketIntoOutputPort& a);
  NetActionResponse send_output_salvo(const action::SendOutputSalvo& a);
  NetActionResponse transport_packet_to_location(const action::TransportPacketToLocation& a);
  // Moves a packet whose checks have passed to `to` and reports the move as
  // the action's one event.
  NetActionResponse move_as_action(const Ulid& packet_id, PacketLocation to);

  // Run step (run_step.cpp).
  NetActionResponse run_step();
  bool try_trigger_input_salvo(const Node& node, EventList& events);
  bool any_input_condition_holds(const Node& node) const;

  // Requests (requests.cpp): the action and phases 3 to 5 of a step.
  NetActionResponse create_request(const action::CreateRequest& a);
  void emit_startup_requests(EventList& events);
  void emit_no_salvo_requests(const std::vector<const Node*>& waiting, const NameSet& fired,
                              EventList& events);
  // Whether a request epoch was made; an action error ends the step.
  Result<bool, NetActionError> resolve_pending_requests(EventList& events);

  // Undo of one event (undo.cpp).
  Result<Unit, UndoError> undo_event(const NetAction& action, const NetEvent& event);

  // What the step needs to know about the fixed graph's requests, gathered
  // once so that no step walks every node or dependency edge (requests.cpp).
  struct RequestIndex {
    // Nodes whose request configuration has the OnStartup trigger.
    std::vector<const Node*> startup_nodes;
    // Node name -> targets of the dependency edges entering that node.
    std::unordered_map<Name, std::vector<PortRef>, NameHash, NameEq> start_ports;
  };
  // Built on first use; the graph never changes afterwards.
  const RequestIndex& request_index() const;

  // The time stamped on the next event, from the net's IdSource. Inside the
  // members of NetSim this name hides the free now_millis() on purpose, so
  // every event a member builds takes the net's clock, seeded or not.
  Timestamp now_millis() { return ids_.next_timestamp(); }

  // --- State primitives (net_sim.cpp) -------------------------------------
  // Every change to a location's queue passes through queue_append,
  // queue_remove and queue_insert, which keep `active_` in step.

  // Moves a packet to `to`, appending it there. Throws InternalFailure when
  // an entry is missing or the packet is already at `to`'s queue.
  void move_packet(const Ulid& packet_id, const PacketLocation& to);
  void queue_append(LocationTable::value_type& entry, const Ulid& packet_id);
  void queue_remove(LocationTable::value_type& entry, const Ulid& packet_id);
  void queue_insert(LocationTable::value_type& entry, std::size_t index, const Ulid& packet_id);

  LocationTable::value_type* find_entry(const PacketLocation& location);
  const LocationTable::value_type* find_entry(const PacketLocation& location) const;
  // The entry of `location`, created empty when absent.
  LocationTable::value_type& ensure_entry(const PacketLocation& location);
  // Replaces the entry of `location` with an empty one.
  void reset_entry(const PacketLocation& location);
  void erase_entry(const PacketLocation& location);

  // Creates a Startable epoch of `node` with `in_salvo`: a fresh id, the epoch
  // tables and its empty Node and OutputPort locations. Returns it.
  Epoch& insert_new_epoch(const Node& node, Salvo in_salvo);
  // Creates (replacing) the Node and OutputPort entries of an epoch of `node`.
  void create_epoch_locations(const Ulid& epoch_id, const Node& node);
  void remove_epoch_locations(const Ulid& epoch_id, const Node& node);
  void remove_from_node_epochs(const Name& node_name, const Ulid& epoch_id, bool drop_empty_list);

  Graph graph_;
  IdSource ids_;
  PacketTable packets_;
  LocationTable packets_by_location_;
  EpochTable epochs_;
  UlidSet startable_epochs_;
  NodeEpochs node_to_epochs_;
  std::vector<PendingRequest> pending_requests_;
  RequestTokens request_tokens_;
  bool startup_requests_sent_ = false;
  std::vector<LocationTable::value_type*> active_;
  mutable std::optional<RequestIndex> request_index_;
};

}  // namespace zellik
