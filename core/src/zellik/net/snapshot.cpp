// The snapshot format. All integers little-endian:
//
//   "ZSNP"            4 bytes, marks the bytes as a snapshot
//   version           u32, kSnapshotFormatVersion
//   payload size      u64
//   payload           see below
//   checksum          u64, checksum64 of everything before it
//
// The payload, in this order:
//   startup flag      u8 (0 or 1)
//   id source         u8 seeded (0 or 1), u64 clock, 4 x u64 generator words
//   epoch lists       u64 count; each: node name, u64 count, epoch records
//   startable set     u64 count; epoch ids in get_startable_epochs order
//   locations         u64 count; each: location, u64 count, packet ids
//                     (occupied locations only, in restore order)
//   pending requests  u64 count; each: node name, label
//   request tokens    u64 count; each: node name, u8 value
//
// Decoding reads the whole payload into plain records, checks them against
// the graph, and only then builds the net, so a refused snapshot leaves
// nothing behind. A later format version that adds state adds a section and
// a version number.

#include "zellik/net/snapshot.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "zellik/base/byte_stream.h"
#include "zellik/base/internal_failure.h"
#include "zellik/base/quote.h"
#include "zellik/net/net_sim_restore.h"
#include "zellik/net/record_codec.h"

namespace zellik {

namespace {

constexpr char kMagic[4] = {'Z', 'S', 'N', 'P'};
constexpr std::size_t kHeaderBytes = 4 + 4 + 8;
constexpr std::size_t kTrailerBytes = 8;
using codec::kMinNameBytes;
using codec::kUlidBytes;

// --- Encoding -------------------------------------------------------------------

void put_payload(ByteWriter& w, const NetSim& net) {
  const RequestState& requests = NetSimRestore::request_state(net);
  w.u8(requests.startup_requests_sent ? 1 : 0);
  const IdSource::State source = net.id_source().state();
  w.u8(source.seeded ? 1 : 0);
  w.u64(source.clock_ms);
  for (std::uint64_t word : source.generator) w.u64(word);

  const NodeEpochs& lists = NetSimRestore::node_epochs(net);
  w.u64(lists.size());
  for (const auto& [node_name, ids] : lists) {
    codec::put(w, node_name);
    w.u64(ids.size());
    for (const Ulid& id : ids) {
      const Epoch* epoch = net.get_epoch(id);
      if (epoch == nullptr)
        fail("Epoch list of node '" + node_name.str() + "' names a missing epoch");
      codec::put(w, *epoch);
    }
  }

  const std::vector<Ulid> startable = net.get_startable_epochs();
  codec::put_ids(w, startable);

  const std::size_t count_at = w.size();
  w.u64(0);  // patched below
  std::uint64_t locations = 0;
  NetSimRestore::for_each_occupied_location(
      net, [&](const PacketLocation& location, std::span<const Ulid> ids) {
        codec::put(w, location);
        codec::put_ids(w, ids);
        ++locations;
      });
  w.patch_u64(count_at, locations);

  w.u64(requests.pending.size());
  for (const PendingRequest& request : requests.pending) {
    codec::put(w, request.node_name);
    codec::put(w, request.label);
  }
  w.u64(requests.tokens.size());
  for (const auto& [node_name, value] : requests.tokens) {
    codec::put(w, node_name);
    w.u8(value ? 1 : 0);
  }
}

// --- Decoding -------------------------------------------------------------------

// One occupied location: its packets are ids_[first, first + count).
struct DecodedLocation {
  PacketLocation location;
  std::size_t first;
  std::size_t count;
};

struct DecodedState {
  RequestState requests;
  IdSource::State ids;
  std::vector<std::pair<Name, std::vector<Epoch>>> epoch_lists;
  std::vector<Ulid> startable;
  std::vector<DecodedLocation> locations;
  std::vector<Ulid> packet_ids;
};

SnapshotError invalid(const std::string& why) {
  return SnapshotError{"Invalid NetSim snapshot: " + why};
}
SnapshotError misfit(const std::string& why) {
  return SnapshotError{"NetSim snapshot does not fit the graph: " + why};
}

std::string node_text(const Name& name) { return "node " + quote_string_literal(name.view()); }

// A u8 that must be 0 or 1; false for anything else.
bool read_flag(ByteReader& r, bool& out) {
  const std::uint8_t b = r.u8();
  out = b == 1;
  return b <= 1;
}

// Reads the payload into records; false when it is not well formed.
bool read_payload(ByteReader& r, DecodedState& s) {
  if (!read_flag(r, s.requests.startup_requests_sent) || !read_flag(r, s.ids.seeded)) return false;
  s.ids.clock_ms = r.u64();
  for (std::uint64_t& word : s.ids.generator) word = r.u64();

  const std::uint64_t lists = r.count(kMinNameBytes + 8);
  s.epoch_lists.reserve(lists);
  for (std::uint64_t i = 0; i < lists && r.ok(); ++i) {
    auto& [node_name, epochs] = s.epoch_lists.emplace_back();
    codec::get(r, node_name);
    const std::uint64_t n = r.count(kUlidBytes);
    epochs.reserve(n);
    for (std::uint64_t k = 0; k < n && r.ok(); ++k) codec::get(r, epochs.emplace_back());
  }

  const std::uint64_t startable = r.count(kUlidBytes);
  s.startable.reserve(startable);
  codec::get_ids(r, s.startable, startable);

  const std::uint64_t locations = r.count(1 + 8);
  s.locations.reserve(locations);
  for (std::uint64_t i = 0; i < locations && r.ok(); ++i) {
    DecodedLocation& entry = s.locations.emplace_back();
    codec::get(r, entry.location);
    entry.count = r.count(kUlidBytes);
    entry.first = s.packet_ids.size();
    // Reserving for what the remaining bytes can hold keeps a lying count
    // from allocating; a true count fits.
    if (s.packet_ids.capacity() < s.packet_ids.size() + entry.count) {
      s.packet_ids.reserve(s.packet_ids.size() +
                           std::max<std::size_t>(entry.count, r.remaining() / kUlidBytes));
    }
    codec::get_ids(r, s.packet_ids, entry.count);
  }

  const std::uint64_t pending = r.count(2 * kMinNameBytes);
  s.requests.pending.reserve(pending);
  for (std::uint64_t i = 0; i < pending && r.ok(); ++i) {
    PendingRequest& request = s.requests.pending.emplace_back();
    codec::get(r, request.node_name);
    codec::get(r, request.label);
  }

  const std::uint64_t tokens = r.count(kMinNameBytes + 1);
  for (std::uint64_t i = 0; i < tokens && r.ok(); ++i) {
    Name node_name;
    codec::get(r, node_name);
    bool value = false;
    if (!read_flag(r, value) ||
        !s.requests.tokens.insert_or_assign(std::move(node_name), value).second)
      return false;
  }
  return r.ok() && r.remaining() == 0;
}

using EpochIndex = std::unordered_map<Ulid, const Epoch*, UlidHash>;

bool has_port(const PortMap& ports, const Name& port_name) { return ports.contains(port_name); }

std::string port_text(const Name& node, PortType type, const Name& port) {
  return (type == PortType::Input ? "input port " : "output port ") +
         PortRef{node, type, port}.to_string();
}

// Checks one epoch record against its node; the error when it does not fit.
std::optional<SnapshotError> check_epoch(const Epoch& epoch, const Node& node) {
  for (const auto& [port, id] : epoch.in_salvo.packets) {
    if (!has_port(node.in_ports, port))
      return misfit(port_text(node.name, PortType::Input, port) + " is missing");
  }
  for (const Salvo& salvo : epoch.out_salvos) {
    if (node.out_salvo_conditions.find(salvo.salvo_condition.view()) == nullptr) {
      return misfit("output salvo condition " + quote_string_literal(salvo.salvo_condition.view()) +
                    " of " + node_text(node.name) + " is missing");
    }
    for (const auto& [port, id] : salvo.packets) {
      if (!has_port(node.out_ports, port)) {
        return misfit(port_text(node.name, PortType::Output, port) + " is missing");
      }
    }
  }
  for (const OrphanedPacketInfo& info : epoch.orphaned_packets) {
    if (!has_port(node.out_ports, info.from_port)) {
      return misfit(port_text(node.name, PortType::Output, info.from_port) + " is missing");
    }
  }
  return std::nullopt;
}

std::optional<SnapshotError> check_location(const PacketLocation& location, const Graph& graph,
                                            const EpochIndex& epochs) {
  using Kind = PacketLocation::Kind;
  switch (location.kind()) {
    case Kind::Node:
    case Kind::OutputPort: {
      // Packets can wait at the locations of an epoch that has ended (an
      // undo out of order puts them back there); nothing names its node.
      const auto it = epochs.find(location.epoch_id());
      if (it == epochs.end() || location.is(Kind::Node)) return std::nullopt;
      const Node* node = graph.find_node(it->second->node_name);
      if (!has_port(node->out_ports, location.port_name())) {
        return misfit(port_text(node->name, PortType::Output, location.port_name()) +
                      " is missing");
      }
      return std::nullopt;
    }
    case Kind::InputPort: {
      const Node* node = graph.find_node(location.node_name());
      if (node == nullptr) return misfit(node_text(location.node_name()) + " is missing");
      if (!has_port(node->in_ports, location.port_name())) {
        return misfit(port_text(node->name, PortType::Input, location.port_name()) + " is missing");
      }
      return std::nullopt;
    }
    case Kind::Edge:
      if (!graph.edges().contains(location.edge())) {
        return misfit("edge " + location.edge().to_string() + " is missing");
      }
      return std::nullopt;
    case Kind::OutsideNet:
      break;
  }
  return std::nullopt;
}

// Checks the decoded state against the graph: every name it uses exists,
// every epoch is listed once under its own node, the startable set names
// Startable epochs only, and no location appears twice. Packet ids are
// checked for repeats as they are restored.
//
// What undo can put back is accepted as the engine holds it, since undo
// takes its events from the caller: an epoch in any state, a Startable
// epoch outside the startable set, a request token on a node without the
// trigger, packets at the locations of an epoch that has ended.
std::optional<SnapshotError> check_state(const DecodedState& s, const Graph& graph,
                                         EpochIndex& epochs) {
  NameSet listed_nodes;
  for (const auto& [node_name, list] : s.epoch_lists) {
    const Node* node = graph.find_node(node_name);
    if (node == nullptr) return misfit(node_text(node_name) + " is missing");
    if (!listed_nodes.insert(node_name).second)
      return invalid(node_text(node_name) + " has two epoch lists");
    for (const Epoch& epoch : list) {
      if (!(epoch.node_name == node_name)) {
        return invalid("epoch " + epoch.id.to_string() + " is listed under another node");
      }
      if (!epochs.emplace(epoch.id, &epoch).second) {
        return invalid("epoch " + epoch.id.to_string() + " appears twice");
      }
      if (auto error = check_epoch(epoch, *node)) return error;
    }
  }

  UlidSet startable;
  for (const Ulid& id : s.startable) {
    const auto it = epochs.find(id);
    if (it == epochs.end() || it->second->state != EpochState::Startable ||
        !startable.insert(id).second) {
      return invalid("the startable set disagrees with the epochs");
    }
  }

  std::unordered_set<PacketLocation, PacketLocationHash> seen;
  seen.reserve(s.locations.size());
  for (const DecodedLocation& entry : s.locations) {
    if (auto error = check_location(entry.location, graph, epochs)) return error;
    if (!seen.insert(entry.location).second) {
      return invalid(entry.location.debug_string() + " appears twice");
    }
  }

  for (const PendingRequest& request : s.requests.pending) {
    if (graph.find_node(request.node_name) == nullptr)
      return misfit(node_text(request.node_name) + " is missing");
  }
  for (const auto& [node_name, value] : s.requests.tokens) {
    if (graph.find_node(node_name) == nullptr) return misfit(node_text(node_name) + " is missing");
  }
  return std::nullopt;
}

}  // namespace

std::string encode_snapshot(const NetSim& net) {
  std::size_t packets = 0;
  std::size_t locations = 0;
  NetSimRestore::for_each_occupied_location(net,
                                            [&](const PacketLocation&, std::span<const Ulid> ids) {
                                              packets += ids.size();
                                              ++locations;
                                            });

  ByteWriter w;
  w.reserve(kHeaderBytes + kTrailerBytes + 256 + packets * kUlidBytes + locations * 96);
  w.raw(kMagic, sizeof kMagic);
  w.u32(kSnapshotFormatVersion);
  const std::size_t size_at = w.size();
  w.u64(0);  // patched below
  put_payload(w, net);
  w.patch_u64(size_at, w.size() - kHeaderBytes);
  w.u64(checksum64(w.bytes()));
  return std::move(w.bytes());
}

Result<std::unique_ptr<NetSim>, SnapshotError> decode_snapshot(const Graph& graph,
                                                               std::string_view bytes) {
  if (bytes.size() < sizeof kMagic ||
      bytes.substr(0, sizeof kMagic) != std::string_view(kMagic, sizeof kMagic)) {
    return invalid("the bytes are not a snapshot");
  }
  if (bytes.size() < kHeaderBytes) return invalid("the bytes are cut short");
  ByteReader header(bytes.substr(sizeof kMagic, kHeaderBytes - sizeof kMagic));
  const std::uint32_t version = header.u32();
  const std::uint64_t payload_size = header.u64();
  if (version != kSnapshotFormatVersion) {
    return invalid("format version " + std::to_string(version) +
                   " is not supported (this build reads version " +
                   std::to_string(kSnapshotFormatVersion) + ")");
  }
  const std::size_t body = bytes.size() - kHeaderBytes;
  if (body < kTrailerBytes || payload_size > body - kTrailerBytes)
    return invalid("the bytes are cut short");
  if (payload_size != body - kTrailerBytes)
    return invalid("the bytes are corrupted (unexpected trailing bytes)");
  const std::string_view covered = bytes.substr(0, kHeaderBytes + payload_size);
  ByteReader trailer(bytes.substr(covered.size()));
  if (trailer.u64() != checksum64(covered))
    return invalid("the bytes are corrupted (checksum mismatch)");

  DecodedState state;
  ByteReader r(bytes.substr(kHeaderBytes, payload_size));
  if (!read_payload(r, state)) return invalid("the contents are malformed");
  EpochIndex epochs;
  if (auto error = check_state(state, graph, epochs)) return std::move(*error);

  // Build. The checks above leave only repeated packet ids to be found here.
  auto net = std::make_unique<NetSim>(graph);
  using Restore = NetSimRestore;
  Restore::reserve(*net, state.packet_ids.size(), epochs.size());
  for (auto& [node_name, list] : state.epoch_lists) {
    Restore::restore_node_epoch_list(*net, node_name);
    for (Epoch& epoch : list) Restore::restore_epoch(*net, std::move(epoch));
  }
  Restore::restore_startable_epochs(*net, state.startable);
  const std::span<const Ulid> all_ids(state.packet_ids);
  for (const DecodedLocation& entry : state.locations) {
    if (auto repeated = Restore::restore_packets(*net, entry.location,
                                                 all_ids.subspan(entry.first, entry.count))) {
      return invalid("packet " + repeated->to_string() + " appears twice");
    }
  }
  Restore::restore_requests(*net, state.requests);
  if (!Restore::restore_id_source(*net, state.ids)) {
    return invalid("the id generator state is impossible");
  }
  return net;
}

}  // namespace zellik
