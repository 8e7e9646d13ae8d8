#pragma once

// Checks of a net's whole state that need no test framework, shared by the
// GoogleTest suite (net_invariants.h) and the fuzz targets:
//   - net_faults: the invariants, as one line per breach (empty when sound);
//   - describe_net: the whole observable state, as sorted lines, so that two
//     nets are in the same state exactly when their descriptions are equal.
//
// The invariants come in two strengths. Actions, steps and undo in reverse
// order keep the strict ones. Undo takes its events from the caller, so an
// undo out of order (or of events the net never produced) can leave packets
// at the locations of an epoch that has ended, an epoch in any state, or a
// Startable epoch the startable set no longer names; the net must stay
// sound all the same: every packet where its record says, every index in
// step, every location the graph and the live epochs need present.

#include <algorithm>
#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "support/net_test_access.h"
#include "zellik/net/net_sim.h"

namespace zellik::testkit {

enum class Strictness {
  kContractKept,  // only actions, steps and undo in reverse order so far
  kAnyUndo,       // undo out of order or of foreign events has happened
};

inline std::string ids_text(const std::vector<Ulid>& ids) {
  std::string out;
  for (const Ulid& id : ids) {
    out += ' ';
    out += id.to_string();
  }
  return out;
}

inline std::string salvo_text(const Salvo& salvo) {
  std::string out = salvo.salvo_condition.str() + "[";
  for (const auto& [port, id] : salvo.packets) {
    out += ' ';
    out += port.str();
    out += ':';
    out += id.to_string();
  }
  return out + " ]";
}

// Every field of an epoch, as one line.
inline std::string epoch_text(const Epoch& e) {
  std::string out = e.id.to_string() + " node=" + e.node_name.str() +
                    " state=" + std::to_string(static_cast<int>(e.state)) +
                    " in=" + salvo_text(e.in_salvo) + " out=";
  for (const Salvo& s : e.out_salvos) out += salvo_text(s);
  out += " orphans=";
  for (const OrphanedPacketInfo& o : e.orphaned_packets) {
    out += '(';
    out += o.packet_id.to_string();
    out += ',';
    out += o.from_port.str();
    out += ',';
    out += o.salvo_condition.str();
    out += ')';
  }
  return out;
}

// The whole observable state of a net, one sorted line per item: packets,
// the queues that hold packets, in order, epochs, the startable set, node
// epoch lists and the request state. Equal descriptions mean equal states.
inline std::vector<std::string> describe_net(const NetSim& net) {
  std::vector<std::string> lines;
  for (const auto& [id, packet] : net.packets()) {
    lines.push_back("packet " + id.to_string() + " at " + packet.location.debug_string());
  }
  for (const auto& [location, entry] : tables_of(net).locations()) {
    if (entry.queue.empty()) continue;
    lines.push_back("location " + location.debug_string() + ":" +
                    ids_text(net.get_packets_at_location(location)));
  }
  for (const auto& [id, epoch] : net.epochs()) lines.push_back("epoch " + epoch_text(epoch));
  for (const Ulid& id : tables_of(net).startable_epochs())
    lines.push_back("startable " + id.to_string());
  for (const auto& [node, ids] : tables_of(net).node_epochs()) {
    lines.push_back("node epochs " + node.str() + ":" + ids_text(ids));
  }
  for (const auto& [node, token] : tables_of(net).requests().tokens) {
    lines.push_back("token " + node.str() + "=" + (token ? "1" : "0"));
  }
  std::string pending = "pending:";
  for (const PendingRequest& r : tables_of(net).requests().pending)
    pending += " " + r.node_name.str() + "/" + r.label.str();
  lines.push_back(pending);
  lines.push_back(std::string("startup sent=") +
                  (tables_of(net).requests().startup_requests_sent ? "1" : "0"));
  std::sort(lines.begin(), lines.end());
  return lines;
}

namespace detail {

inline bool is_epoch_location(const PacketLocation& location) {
  return location.is(PacketLocation::Kind::Node) || location.is(PacketLocation::Kind::OutputPort);
}

// 1. A packet is in exactly one queue, the one keyed by its location; every
// record names the handle and slot that hold it, every queue's own
// bookkeeping adds up.
inline void check_packets(const NetSim& net, std::vector<std::string>& faults) {
  const LocationTable& locations = tables_of(net).locations();
  const PacketTable& records = tables_of(net).packets();
  std::unordered_map<Ulid, std::size_t, UlidHash> seen;
  seen.reserve(net.packet_count());
  // Texts are made only for a fault: the fuzz targets run this after every
  // call.
  const auto fault = [&](const char* what, const PacketLocation& location, const Ulid* id) {
    std::string text = what;
    if (id != nullptr) text.append(" ").append(id->to_string());
    faults.push_back(text.append(" at ").append(location.debug_string()));
  };
  for (const auto& [location, entry] : locations) {
    if (!entry.queue.consistent()) fault("queue bookkeeping broken", location, nullptr);
    if (locations.find(location) != entry.handle()) fault("handle wrong", location, nullptr);
    std::size_t position = 0;
    for (const PacketIndex row : entry.queue) {
      const Ulid id = records[row].id;
      if (entry.queue.at(position) != row) fault("queue order of", location, &id);
      if (records.find(id) != row) fault("row of", location, &id);
      if (records[row].location != entry.handle()) fault("record of", location, &id);
      if (!entry.queue.holds(records[row].slot, row) ||
          entry.queue.position(records[row].slot) != position) {
        fault("slot of", location, &id);
      }
      const std::optional<Packet> packet = net.get_packet(id);
      if (!packet) {
        fault("queue holds unknown packet", location, &id);
      } else if (!(packet->location == location)) {
        fault("packet located elsewhere", location, &id);
      }
      ++seen[id];
      ++position;
    }
  }
  std::size_t packets = 0;
  records.for_each([&](PacketIndex row) {
    ++packets;
    const Ulid id = records[row].id;
    const auto it = seen.find(id);
    const std::size_t times = it == seen.end() ? 0 : it->second;
    if (times != 1) {
      faults.push_back("packet " + id.to_string() + " is queued " + std::to_string(times) +
                       " times");
    }
  });
  if (seen.size() != packets) faults.push_back("queues hold packets the table lacks");
}

// 2. Entries for every edge, input port and OutsideNet, and for the Node and
// output ports of every live epoch. Strictly, nothing else; after any undo,
// also the locations of epochs that have ended.
inline void check_entries(const NetSim& net, Strictness strictness,
                          std::vector<std::string>& faults) {
  const LocationTable& locations = tables_of(net).locations();
  const Graph& graph = net.graph();
  const auto require = [&](const PacketLocation& location) {
    if (!locations.contains(location)) faults.push_back("no entry for " + location.debug_string());
  };
  for (const Edge& edge : graph.edges()) require(PacketLocation::Edge(edge));
  for (const auto& [name, node] : graph.nodes()) {
    for (const auto& [port, slots] : node.in_ports) require(PacketLocation::InputPort(name, port));
  }
  require(PacketLocation::OutsideNet());
  for (const auto& [id, epoch] : net.epochs()) {
    if (!(id == epoch.id)) faults.push_back("epoch keyed " + id.to_string() + " has another id");
    require(PacketLocation::Node(id));
    const Node* node = graph.find_node(epoch.node_name.view());
    if (node == nullptr) {
      faults.push_back("epoch " + id.to_string() + " runs unknown node " + epoch.node_name.str());
      continue;
    }
    for (const auto& [port, slots] : node->out_ports) require(PacketLocation::OutputPort(id, port));
  }

  // Whether the graph or a live epoch calls for the entry of `location`.
  const auto required = [&](const PacketLocation& location) {
    switch (location.kind()) {
      case PacketLocation::Kind::Edge:
        return graph.edges().contains(location.edge());
      case PacketLocation::Kind::InputPort: {
        const Node* node = graph.find_node(location.node_name().view());
        return node != nullptr && node->in_ports.contains(location.port_name());
      }
      case PacketLocation::Kind::OutsideNet:
        return true;
      case PacketLocation::Kind::Node:
      case PacketLocation::Kind::OutputPort:
        break;
    }
    const Epoch* epoch = net.get_epoch(location.epoch_id());
    if (epoch == nullptr) return false;
    if (location.is(PacketLocation::Kind::Node)) return true;
    const Node* node = graph.find_node(epoch->node_name.view());
    return node != nullptr && node->out_ports.contains(location.port_name());
  };
  for (const auto& [location, entry] : locations) {
    if (required(location)) continue;
    if (strictness == Strictness::kAnyUndo && is_epoch_location(location)) continue;
    faults.push_back("stray entry " + location.debug_string());
  }
}

// 3. The startable set names live Startable epochs; strictly, all of them,
// and no live epoch is Finished.
inline void check_epochs(const NetSim& net, Strictness strictness,
                         std::vector<std::string>& faults) {
  for (const Ulid& id : tables_of(net).startable_epochs()) {
    const Epoch* epoch = net.get_epoch(id);
    if (epoch == nullptr || epoch->state != EpochState::Startable)
      faults.push_back("startable set holds " + id.to_string());
  }
  std::unordered_map<Ulid, std::size_t, UlidHash> listed;
  for (const auto& [node_name, ids] : tables_of(net).node_epochs()) {
    for (const Ulid& id : ids) {
      ++listed[id];
      const Epoch* epoch = net.get_epoch(id);
      if (epoch == nullptr || !(epoch->node_name == node_name))
        faults.push_back("epoch list of " + node_name.str() + " holds " + id.to_string());
    }
  }
  for (const auto& [id, epoch] : net.epochs()) {
    const auto it = listed.find(id);
    if (it == listed.end() || it->second != 1)
      faults.push_back("epoch " + id.to_string() + " is not listed once under its node");
    if (strictness == Strictness::kAnyUndo) continue;
    if (epoch.state == EpochState::Finished) faults.push_back("finished epoch still live");
    if ((epoch.state == EpochState::Startable) != tables_of(net).startable_epochs().contains(id))
      faults.push_back("startable set disagrees with epoch " + id.to_string());
  }
}

// 4. The active index: exactly the non-empty Edge / InputPort entries, each
// at the slot it records.
inline void check_active_index(const NetSim& net, std::vector<std::string>& faults) {
  const LocationTable& locations = tables_of(net).locations();
  const auto& active = tables_of(net).locations().active();
  // Each slot names a live entry that records that slot; so no entry is
  // listed twice.
  for (std::size_t slot = 0; slot < active.size(); ++slot) {
    const LocationTable::value_type* entry = active[slot];
    const LocationHandle h = entry->second.handle();
    if (!locations.is_entry_of(h, entry->first) || &locations[h] != entry) {
      faults.push_back("active index slot " + std::to_string(slot) + " points at no entry");
    } else if (entry->second.active_slot() != slot) {
      faults.push_back("active slot of " + entry->first.debug_string());
    }
  }
  for (const auto& item : locations) {
    const PacketLocation& location = item.first;
    const bool should =
        !item.second.queue.empty() &&
        (location.is(PacketLocation::Kind::Edge) || location.is(PacketLocation::Kind::InputPort));
    const std::size_t slot = item.second.active_slot();
    const bool listed = slot < active.size() && active[slot] == &item;
    if (listed != should || (!should && slot != LocationEntry::kNotActive)) {
      faults.push_back("active index wrong for " + location.debug_string());
    }
  }
}

}  // namespace detail

// Every breach of the invariants, one line each; empty when the net is sound.
inline std::vector<std::string> net_faults(const NetSim& net,
                                           Strictness strictness = Strictness::kContractKept) {
  std::vector<std::string> faults;
  detail::check_packets(net, faults);
  detail::check_entries(net, strictness, faults);
  detail::check_epochs(net, strictness, faults);
  detail::check_active_index(net, faults);
  return faults;
}

}  // namespace zellik::testkit
