#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "zellik/base/result.h"
#include "zellik/graph/cascade.h"
#include "zellik/graph/graph.h"
#include "zellik/net/epoch.h"
#include "zellik/net/fingerprint.h"
#include "zellik/net/net_action.h"
#include "zellik/net/net_action_error.h"
#include "zellik/net/net_action_response.h"
#include "zellik/net/net_event.h"
#include "zellik/net/net_state.h"
#include "zellik/net/packet_location.h"
#include "zellik/net/ulid.h"
#include "zellik/net/undo_error.h"

namespace zellik {

// A flow network over one validated graph: its state (every packet and where
// it is, every live epoch, the request state, all held in a NetState that
// nothing outside changes) and the engine that changes it: the actions, the
// run step and undo. Single-threaded and owned by one caller; every change
// goes through do_action, perform_action, the run loops or undo. A saved
// state goes back in through NetSimRestore alone. Not copyable.
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

  // --- Queries: read-only, never fail ---------------------------------------

  // The packet as it stands now, or nothing when no packet has the id.
  std::optional<Packet> get_packet(const Ulid& packet_id) const;
  // The live epoch, or null (finished and cancelled epochs are gone); good
  // until the net next changes.
  const Epoch* get_epoch(const Ulid& epoch_id) const;
  // The packets at `location`, oldest first; empty when it has no entry.
  std::vector<Ulid> get_packets_at_location(const PacketLocation& location) const;
  // The number of packets at `location`; 0 when it has no entry.
  std::uint64_t packet_count_at(const PacketLocation& location) const;
  // The ids of the Startable epochs, in the startable set's order.
  std::vector<Ulid> get_startable_epochs() const;
  // The packets inside live epoch `epoch_id` (its Node location), oldest
  // first, into `out` (a caller's buffer, reused); empty when none is live.
  void get_epoch_packets(const Ulid& epoch_id, std::vector<Ulid>& out) const;
  // The number of packets in the net, wherever they are.
  std::size_t packet_count() const { return state_.packets().size(); }
  // Every packet with its location, in no particular order.
  std::vector<std::pair<Ulid, Packet>> packets() const;
  // Every live epoch by id, in no particular order; good until the net next
  // changes.
  const EpochTable& epochs() const { return state_.epochs(); }
  // Where the net's ids and timestamps come from; a snapshot carries its state.
  const IdSource& id_source() const { return ids_; }

  // --- Actions --------------------------------------------------------------

  // Performs one action: all checks before the first change, so an error
  // leaves the net unchanged (RunStep's request resolution excepted).
  NetActionResponse do_action(const NetAction& action);
  // Performs one action as do_action does, appending its events to `events`
  // (a caller's buffer, reused) instead of building a response; an error
  // appends nothing. response_data gives do_action's data from the result.
  ActionResult perform_action(const NetAction& action, EventList& events);

  // --- The run step ---------------------------------------------------------

  // Whether no further step can make progress.
  bool is_blocked() const;
  // Runs steps until blocked, skipping steps that fail; all their events.
  EventList run_until_blocked();
  // Runs steps as run_until_blocked does, appending their events to `events`
  // (a caller's buffer, reused from call to call), but stops after
  // `max_steps` steps, at the first step that ends at or after `deadline`,
  // or at the first step that leaves `events` holding `max_events` events or
  // more, whichever comes first. Returns true when it stopped because the
  // net is blocked; false leaves the rest for another call. Adds the steps it
  // ran to `*steps_run` when given.
  bool run_steps_into(EventList& events, std::size_t max_steps,
                      std::chrono::steady_clock::time_point deadline,
                      std::size_t max_events = static_cast<std::size_t>(-1),
                      std::size_t* steps_run = nullptr);

  // --- Undo -----------------------------------------------------------------

  // Reverses `events` (produced by `action`) last first; stops at the first
  // event that cannot be reversed, keeping what was reversed before it.
  Result<Unit, UndoError> undo_action(const NetAction& action, std::span<const NetEvent> events);
  // The same for events the caller drops afterwards: an epoch one of them
  // holds goes back into the net by move instead of by copy.
  Result<Unit, UndoError> undo_events(const NetAction& action, std::span<NetEvent> events);

  // --- The canonical state (canonical_state.cpp) ----------------------------

  // Appends the state as words that ignore ids and timestamps to `out`:
  // packet counts per fixed location, each live epoch as its node, state,
  // salvo shapes and location counts (records sorted, so ids and order do
  // not show), the request state. Nets over equal graphs whose states differ
  // only in ids give equal words, any other difference other words.
  // O(locations + epochs). When `distinct` is given, sets it to the ids of
  // the live epochs in record order, the first of each distinct record.
  void canonical_state(std::vector<std::uint64_t>& out,
                       std::vector<Ulid>* distinct = nullptr) const;

 private:
  friend class NetSimRestore;     // the saved state back in (net_sim_restore.h)
  friend class NetSimTestAccess;  // tests' read-only view of the state

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
  // Creates a Startable epoch of `node` with `in_salvo` and a fresh id; the id.
  Ulid insert_new_epoch(const Node& node, Salvo in_salvo);

  // Run step (run_step.cpp).
  // One step appending its events to `events`; whether it made progress.
  // On an error the events already appended stay for the caller to drop.
  Result<bool, NetActionError> run_step_into(EventList& events);
  // One step appending straight to `events`; a step that fails takes its
  // events back out (the loops skip failed steps).
  void run_step_keeping_success(EventList& events);
  bool try_trigger_input_salvo(const NodeInputs& inputs, EventList& events);
  bool any_input_condition_holds(const NodeInputs& inputs) const;

  // Requests (requests.cpp): phases 3 to 5 of a step.
  void emit_startup_requests(EventList& events);
  // `waiting` are NodeInputs indexes; a node fired this step when its
  // fired_in_step is step_serial_.
  void emit_no_salvo_requests(const std::vector<std::uint32_t>& waiting, EventList& events);
  // Whether a request epoch was made; an action error ends the step.
  Result<bool, NetActionError> resolve_pending_requests(EventList& events);
  // Sets the node's request token, only when the node exists and has the
  // OnNoSalvoTriggered trigger; otherwise does nothing.
  void set_request_token(std::string_view node_name, bool value);

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

  // The numbering canonical_state uses; built on first use (canonical_state.cpp).
  const StateLayout& state_layout() const;
  // The canonical record of one live epoch, as canonical_state writes it.
  void canonical_epoch(const Epoch& epoch, std::vector<std::uint64_t>& out) const;

  // The time stamped on the next event, from the net's IdSource. Inside the
  // members of NetSim this name hides the free now_millis() on purpose, so
  // every event a member builds takes the net's clock, seeded or not.
  Timestamp now_millis() { return ids_.next_timestamp(); }

  Graph graph_;
  IdSource ids_;
  // The tables; declared after graph_, which they point into.
  NetState state_;
  // By NodeInputs index, the last step that gave the node its chance to
  // fire, and the last in which it fired.
  struct StepMarks {
    std::uint64_t seen_in_step = 0;
    std::uint64_t fired_in_step = 0;
  };
  std::vector<StepMarks> step_marks_;
  std::uint64_t step_serial_ = 0;
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

// The data of the response do_action gives for `action`, just performed on
// `net` by perform_action as `done` with `events` its events: Empty for the
// actions that have none.
NetActionResponseData response_data(const NetSim& net, const NetAction& action,
                                    const ActionDone& done, std::span<const NetEvent> events);

// The 128-bit digest of the net's canonical state: equal for nets whose
// states differ only in ids and timestamps.
Fingerprint fingerprint(const NetSim& net);

}  // namespace zellik
