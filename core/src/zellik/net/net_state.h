#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "zellik/graph/graph.h"
#include "zellik/net/epoch.h"
#include "zellik/net/location_table.h"
#include "zellik/net/net_event.h"
#include "zellik/net/packet_location.h"
#include "zellik/net/packet_table.h"
#include "zellik/net/ulid.h"

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

// The dependency-request state of a net: the requests waiting for the next
// run step, oldest first; the token of each node with the OnNoSalvoTriggered
// trigger; whether the startup requests have been made. A plain value.
// Intentionally copyable.
struct RequestState {
  std::vector<PendingRequest> pending;
  RequestTokens tokens;
  bool startup_requests_sent = false;
};

// What the run step needs to know about the input ports of one node, fixed
// when the net is made: the node, its ports' (name, handle) in port order,
// whether it has input salvo conditions, whether it requests when none fires.
struct NodeInputs {
  const Node* node = nullptr;
  InputPortHandles ports;
  bool has_conditions = false;
  bool requests_when_idle = false;
};

// The tables of one net: every packet with the queue and slot that hold it,
// the entry of every location, every live epoch with the startable set and
// its node's epoch list, and the request state. They change only through
// the primitives below, each of which keeps every table it touches in step:
// a packet's record always names the queue and slot that hold it, and an
// epoch, its locations, its node's list and the startable set change
// together. The primitives check nothing the actions check and record no
// events. Reading is open to whoever holds the state; a NetSim holds one and
// hands it to no one else but a restorer (NetSimRestore) and tests. Not
// copyable.
class NetState {
 public:
  // Makes the fixed entries over `graph`, which must be valid and must
  // outlive the state: every input port (numbered per node for node_inputs),
  // every edge (linked to its target port), OutsideNet; and the token of
  // every node with the OnNoSalvoTriggered trigger, set.
  explicit NetState(const Graph& graph);
  NetState(const NetState&) = delete;
  NetState& operator=(const NetState&) = delete;

  // --- Queries: read-only, never fail ---------------------------------------

  const Graph& graph() const { return graph_; }
  // Each packet's id, location handle and queue slot, by row.
  const PacketTable& packets() const { return packets_; }
  const LocationTable& locations() const { return locations_; }
  // The live epochs by id; its positions are what the epoch primitives take.
  const EpochTable& epochs() const { return epochs_; }
  const UlidSet& startable_epochs() const { return startable_epochs_; }
  // Each node's live epochs in creation order (a list may stay when empty).
  const NodeEpochs& node_epochs() const { return node_to_epochs_; }
  const RequestState& requests() const { return requests_; }
  // By LocationEntry::node_index, the input ports of each node that has some.
  const std::vector<NodeInputs>& node_inputs() const { return node_inputs_; }
  // The input ports of `node`, or null when it has none.
  const InputPortHandles* input_ports_of(const Node& node) const;
  // The handle of input port `port_name` of `node`, or kNoLocation.
  LocationHandle input_port_handle(const Node& node, const Name& port_name) const;

  std::uint64_t count_at(LocationHandle h) const { return locations_.queue(h).size(); }
  // The entry of epoch `id`'s Node location, or of its output port `port`
  // (no location made), or kNoLocation.
  LocationHandle epoch_place(const Ulid& id, const Name* port = nullptr) const {
    using Kind = PacketLocation::Kind;
    return locations_.find(EpochPlace{port == nullptr ? Kind::Node : Kind::OutputPort, &id, port});
  }
  // The handle of a location the net must have; InternalFailure "{what} has
  // no entry in self._packets_by_location" otherwise.
  LocationHandle handle_of(const PacketLocation& location, const char* what) const;
  // The packet's position in its location's queue.
  std::uint64_t position_of(PacketIndex packet) const;
  Packet packet_value(PacketIndex packet) const {
    const PacketRecord& record = packets_[packet];
    return Packet{record.id, locations_.location(record.location)};
  }
  // A copy of the location of `h`, for an event.
  PacketLocation copy_location(LocationHandle h) const { return locations_.copy_location(h); }
  // Replaces `ids` with the ids queued in `queue`, oldest first.
  void copy_ids(const LocationQueue& queue, std::vector<Ulid>& ids) const;
  // The event of a move just made: `packet` left `from`, where it was at
  // `from_index`, for where it is now.
  event::PacketMoved moved_event(Timestamp at, PacketIndex packet, LocationHandle from,
                                 std::uint64_t from_index) const {
    const PacketRecord& record = packets_[packet];
    return event::PacketMoved{
        at,     record.id, copy_location(from), copy_location(record.location), from_index,
        packet, from};
  }
  // InternalFailure unless the record's queue slot holds the packet.
  void check_queued(PacketIndex packet) const;

  // --- Packet primitives ----------------------------------------------------

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
  // Adds a packet at the back of `location`. The id must be free.
  PacketIndex insert_packet(const Ulid& packet_id, LocationHandle location);
  // The same, unless the id is taken: then kNoPacket and nothing changes.
  PacketIndex try_insert_packet(const Ulid& packet_id, LocationHandle location);
  // Removes a packet from its queue and from the table.
  void erase_packet(PacketIndex packet);
  // The entry of `location`, made empty when it has none. Only undo makes
  // one this way: the locations of an epoch that has ended.
  LocationHandle ensure_location(const PacketLocation& location) {
    return locations_.ensure(location);
  }

  // --- Epoch primitives -----------------------------------------------------

  // Adds `epoch`, whose id must be free, to the epoch table, its node's
  // list and, when `startable`, the startable set; creates the Node and
  // OutputPort entries of `node` for it, linked (the Node entry alone when
  // `node` is null: an undo may bring back an epoch of another graph). An
  // entry that exists already keeps its packets: an undo out of order can
  // leave packets at the locations of an ended epoch, there when it returns.
  const Epoch& add_epoch(Epoch epoch, const Node* node, bool startable);
  // Removes a live epoch (returned) from the epoch table, the startable set
  // and its node's list (dropping an emptied list when `drop_empty_list`),
  // and drops the entries add_epoch made for it.
  Epoch drop_epoch(EpochTable::const_iterator epoch, bool drop_empty_list);
  // Makes a live epoch Startable (joining the startable set) or Running
  // (leaving it).
  void set_startable(EpochTable::const_iterator epoch, bool startable);
  // Appends `salvo` to a live epoch's output salvos and `orphans` to its
  // orphaned packets.
  void add_output_salvo(EpochTable::const_iterator epoch, Salvo&& salvo,
                        const std::vector<OrphanedPacketInfo>& orphans);
  // Removes the last output salvo of a live epoch; false when it has none.
  bool pop_output_salvo(EpochTable::const_iterator epoch);
  // Removes every record of `packet_id` from a live epoch's orphaned packets.
  void forget_orphan(EpochTable::const_iterator epoch, const Ulid& packet_id);

  // --- Request primitives ---------------------------------------------------

  // Appends a request for the next step.
  void add_request(PendingRequest request) { requests_.pending.push_back(std::move(request)); }
  // Takes every pending request out, oldest first, leaving none.
  std::vector<PendingRequest> take_requests();
  // Removes the newest pending request equal to `request`, if any.
  void remove_last_request(const PendingRequest& request);
  // Sets `node_name`'s request token, inserting it when absent.
  void set_request_token(const Name& node_name, bool value) {
    requests_.tokens.insert_or_assign(node_name, value);
  }
  // Clears `node_name`'s token if it has one that is set; whether it did.
  bool take_request_token(const Name& node_name);
  void set_startup_requests_sent(bool sent) { requests_.startup_requests_sent = sent; }

 private:
  friend class NetSimRestore;

  // The unchecked move to the back: the caller has checked that the packet
  // is queued.
  void requeue_back(PacketIndex packet, LocationHandle to);
  // Keeps a record in step when a queue gives a packet another slot.
  auto renumberer() {
    return [this](PacketIndex packet, LocationQueue::Slot slot) { packets_[packet].slot = slot; };
  }
  // The epoch at a position the queries gave out, to change. Every epoch
  // of the table is this state's own and not const: only the positions
  // handed out are, so that no one else changes it.
  Epoch& writable(EpochTable::const_iterator epoch) {
    return const_cast<Epoch&>(epoch->second);  // NOLINT(cppcoreguidelines-pro-type-const-cast)
  }

  const Graph& graph_;
  PacketTable packets_;
  LocationTable locations_;
  std::vector<NodeInputs> node_inputs_;  // indexed by LocationEntry::node_index
  // A node's index into node_inputs_, by the node's position in the graph;
  // kNoInputs for a node without input ports.
  static constexpr std::uint32_t kNoInputs = std::numeric_limits<std::uint32_t>::max();
  std::vector<std::uint32_t> node_input_index_;
  EpochTable epochs_;
  UlidSet startable_epochs_;
  NodeEpochs node_to_epochs_;
  RequestState requests_;
};

// The moves undo and the actions make one at a time, inline where they are
// made.
inline void NetState::requeue_back(PacketIndex packet, LocationHandle to) {
  PacketRecord& record = packets_[packet];
  locations_.remove(record.location, record.slot, renumberer());
  record.location = to;
  record.slot = locations_.append(to, packet);
}

inline void NetState::move_packet(PacketIndex packet, LocationHandle to, std::size_t index) {
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
