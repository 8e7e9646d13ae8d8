#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "zellik/net/epoch.h"
#include "zellik/net/net_sim.h"
#include "zellik/net/net_state.h"
#include "zellik/net/packet_location.h"
#include "zellik/net/ulid.h"

namespace zellik {

// The one way a saved state goes back into a net, and the reads that save a
// state in the order it goes back: the snapshot codec (snapshot.cpp) uses
// all of it; whoever changes a net and must be able to go back (a batch of
// actions, a search over schedules) saves and puts back the request state,
// which undo does not cover, and may restart the ids of a net whose ids it
// never shows. The restoring members keep the net's own indexes in step but check
// nothing else and record no events: they are not actions and cannot be
// undone. A friend of NetSim and NetState with static members only.
class NetSimRestore {
 public:
  NetSimRestore() = delete;

  // --- Reading a state out in restore order ---------------------------------

  // Calls `visit(location, ids)` for every location that holds packets, ids
  // oldest first. The Edge and InputPort locations come first, in the order
  // the run step visits them, so that refilling the locations in this order
  // (restore_packets) gives a net that steps the same way.
  using OccupiedLocationVisitor =
      std::function<void(const PacketLocation& location, std::span<const Ulid> ids)>;
  static void for_each_occupied_location(const NetSim& net, const OccupiedLocationVisitor& visit);
  // Each node's live epochs in list order, lists emptied by finishes kept.
  static const NodeEpochs& node_epochs(const NetSim& net) { return net.state_.node_epochs(); }
  // The dependency-request state, as restore_requests takes it back; the
  // reference is good until the net next changes.
  static const RequestState& request_state(const NetSim& net) { return net.state_.requests(); }

  // --- Putting a state back, over a new net ---------------------------------
  // A decoder calls these on a net made over the graph it has checked its
  // input against, in this order: reserve, epochs, startable set, packets,
  // requests, ids.

  // Sizes the tables for the totals about to be restored.
  static void reserve(NetSim& net, std::size_t packets, std::size_t epochs);
  // Gives `node_name` an epoch list, empty until epochs are restored into it.
  static void restore_node_epoch_list(NetSim& net, const Name& node_name);
  // Adds `epoch` as a live epoch with empty Node and OutputPort locations and
  // appends its id to its node's epoch list. The startable set is filled
  // separately. Throws InternalFailure when the node is not in the graph.
  static void restore_epoch(NetSim& net, Epoch epoch);
  // Fills the startable set with `ids`, given in get_startable_epochs order.
  static void restore_startable_epochs(NetSim& net, const std::vector<Ulid>& ids);
  // Appends the packets `ids` to the end of `location`, making the entry of
  // a Node or OutputPort location whose epoch has ended. Returns an id
  // already in use, if any, and then leaves the net partly restored: the
  // caller must drop it. Throws InternalFailure when any other location has
  // no entry.
  static std::optional<Ulid> restore_packets(NetSim& net, const PacketLocation& location,
                                             std::span<const Ulid> ids);

  // --- Putting back part of a state, on a net in use ------------------------

  // Puts back a request state request_state gave: replaces the pending
  // requests, sets the given request tokens (the others keep theirs) and
  // the startup flag.
  static void restore_requests(NetSim& net, const RequestState& saved);
  // Continues ids and clock from `state`; false (no change) if no IdSource
  // can be in it.
  static bool restore_id_source(NetSim& net, const IdSource::State& state) {
    return net.ids_.restore(state);
  }
};

}  // namespace zellik
