#pragma once

// A test-only check of the invariants every action and step must keep:
// packets and location queues agree, the required location entries exist
// (and no others), the startable set matches the epochs' states, node epoch
// lists name live epochs of that node, and the active index lists exactly
// the non-empty Edge and InputPort entries; every packet's record names the
// handle and queue slot that hold it, and every queue's own bookkeeping
// (holes, hole tree) adds up.

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "zellik/net/net_sim.h"

namespace zellik::testkit {

inline void ExpectNetInvariants(const NetSim& net) {
  const LocationTable& locations = net.packets_by_location();

  // 1. A packet is in exactly one queue, the one keyed by its location.
  std::unordered_map<Ulid, std::size_t, UlidHash> seen;
  for (const auto& [location, entry] : locations) {
    EXPECT_TRUE(entry.queue.consistent())
        << "queue bookkeeping broken at " << location.debug_string();
    EXPECT_EQ(locations.find(location), entry.handle()) << location.debug_string();
    std::size_t position = 0;
    const PacketTable& records = net.packet_records();
    for (const PacketIndex row : entry.queue) {
      EXPECT_EQ(entry.queue.at(position), row)
          << location.debug_string() << " position " << position;
      const Ulid id = records[row].id;
      EXPECT_EQ(records.find(id), row) << "row of " << id.to_string();
      EXPECT_EQ(records[row].location, entry.handle()) << "record of " << id.to_string();
      EXPECT_TRUE(entry.queue.holds(records[row].slot, row)) << "slot of " << id.to_string();
      EXPECT_EQ(entry.queue.position(records[row].slot), position)
          << "position of " << id.to_string();
      ++position;
      ++seen[id];
      const FoundPacket packet = net.get_packet(id);
      if (packet == nullptr) {
        ADD_FAILURE() << "queue of " << location.debug_string() << " holds unknown packet "
                      << id.to_string();
      } else if (!(packet->location == location)) {
        ADD_FAILURE() << "packet " << id.to_string() << " is queued at " << location.debug_string()
                      << " but located at " << packet->location.debug_string();
      }
    }
  }
  for (const auto& [id, packet] : net.packets()) {
    EXPECT_EQ(id, packet.id);
    const auto it = seen.find(id);
    const std::size_t times = it == seen.end() ? 0 : it->second;
    EXPECT_EQ(times, 1u) << "packet " << id.to_string() << " is queued " << times << " times";
  }
  EXPECT_EQ(seen.size(), net.packets().size()) << "queues hold packets the table lacks";

  // 2. Entries for every edge, input port and OutsideNet, and for the Node
  // and output ports of every live epoch; nothing else.
  std::unordered_set<PacketLocation, PacketLocationHash> required;
  for (const Edge& edge : net.graph().edges()) required.insert(PacketLocation::Edge(edge));
  for (const auto& [name, node] : net.graph().nodes()) {
    for (const auto& [port, slots] : node.in_ports) {
      required.insert(PacketLocation::InputPort(name, port));
    }
  }
  required.insert(PacketLocation::OutsideNet());
  for (const auto& [id, epoch] : net.epochs()) {
    EXPECT_EQ(id, epoch.id);
    required.insert(PacketLocation::Node(id));
    const Node* node = net.graph().find_node(epoch.node_name.view());
    if (node == nullptr) {
      ADD_FAILURE() << "epoch " << id.to_string() << " runs unknown node " << epoch.node_name.str();
      continue;
    }
    for (const auto& [port, slots] : node->out_ports) {
      required.insert(PacketLocation::OutputPort(id, port));
    }
  }
  for (const PacketLocation& location : required) {
    EXPECT_TRUE(locations.contains(location)) << "no entry for " << location.debug_string();
  }
  for (const auto& [location, entry] : locations) {
    EXPECT_TRUE(required.contains(location)) << "stray entry " << location.debug_string();
  }

  // 3. The startable set is exactly the live epochs in state Startable.
  for (const Ulid& id : net.startable_epochs()) {
    const Epoch* epoch = net.get_epoch(id);
    EXPECT_TRUE(epoch != nullptr && epoch->state == EpochState::Startable)
        << "startable set holds " << id.to_string();
  }
  for (const auto& [id, epoch] : net.epochs()) {
    EXPECT_NE(epoch.state, EpochState::Finished) << "finished epoch still live";
    EXPECT_EQ(epoch.state == EpochState::Startable, net.startable_epochs().contains(id))
        << "startable set disagrees with epoch " << id.to_string();
  }

  // 4. Node epoch lists name live epochs of that node.
  for (const auto& [node_name, ids] : net.node_to_epochs()) {
    for (const Ulid& id : ids) {
      const Epoch* epoch = net.get_epoch(id);
      EXPECT_TRUE(epoch != nullptr && epoch->node_name == node_name)
          << "epoch list of " << node_name.str() << " holds " << id.to_string();
    }
  }

  // The active index: exactly the non-empty Edge / InputPort entries, each
  // at the slot it records.
  const auto& active = net.active_locations();
  std::unordered_set<const LocationTable::value_type*> live;
  for (const auto& item : locations) live.insert(&item);
  std::unordered_set<const LocationTable::value_type*> listed;
  for (std::size_t slot = 0; slot < active.size(); ++slot) {
    const LocationTable::value_type* entry = active[slot];
    if (!live.contains(entry)) {
      ADD_FAILURE() << "active index slot " << slot << " points at a removed entry";
      continue;
    }
    EXPECT_TRUE(listed.insert(entry).second) << "active index lists an entry twice";
    EXPECT_EQ(entry->second.active_slot(), slot) << entry->first.debug_string();
  }
  for (const auto& item : locations) {
    const PacketLocation& location = item.first;
    const bool should =
        !item.second.queue.empty() &&
        (location.is(PacketLocation::Kind::Edge) || location.is(PacketLocation::Kind::InputPort));
    EXPECT_EQ(listed.contains(&item), should)
        << "active index wrong for " << location.debug_string();
    if (!should) {
      EXPECT_EQ(item.second.active_slot(), LocationEntry::kNotActive);
    }
  }
  EXPECT_EQ(listed.size(), active.size());
}

}  // namespace zellik::testkit
