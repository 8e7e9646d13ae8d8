#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "zellik/base/name.h"
#include "zellik/net/packet_location.h"
#include "zellik/net/ulid.h"

namespace zellik {

enum class EpochState : std::uint8_t { Startable = 0, Running = 1, Finished = 2 };

// A named group of packets entering or leaving an epoch.
struct Salvo {
  Name salvo_condition;
  // (port name, packet id), in the order the packets were taken.
  std::vector<std::pair<Name, Ulid>> packets;
};

// A packet that an output salvo sent through an output port with no edge.
struct OrphanedPacketInfo {
  Ulid packet_id;
  Name from_port;
  Name salvo_condition;
};

// One execution of a node. A plain value. Intentionally copyable.
struct Epoch {
  Ulid id;
  Name node_name;
  Salvo in_salvo;
  std::vector<Salvo> out_salvos;
  EpochState state = EpochState::Startable;
  std::vector<OrphanedPacketInfo> orphaned_packets;

  // The creation time: the milliseconds embedded in the id.
  std::uint64_t start_time() const { return id.timestamp_ms(); }
};

// A packet: identity and position only, no payload.
struct Packet {
  Ulid id;
  PacketLocation location;
};

}  // namespace zellik
