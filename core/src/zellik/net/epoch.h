#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "zellik/base/fields.h"
#include "zellik/base/kind_table.h"
#include "zellik/base/name.h"
#include "zellik/net/packet_location.h"
#include "zellik/net/ulid.h"

namespace zellik {

enum class EpochState : std::uint8_t { Startable = 0, Running = 1, Finished = 2 };

inline constexpr KindName<EpochState> kEpochStateNames[] = {{EpochState::Startable, "Startable"},
                                                            {EpochState::Running, "Running"},
                                                            {EpochState::Finished, "Finished"}};
static_assert(rows_follow_kinds(kEpochStateNames, EpochState::Finished));

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

// Field lists (zellik/base/fields.h), in the order of the byte form.
constexpr auto fields_of(std::type_identity<Salvo>) {
  return std::tuple{field("salvo_condition", &Salvo::salvo_condition),
                    field("packets", &Salvo::packets)};
}
constexpr auto fields_of(std::type_identity<OrphanedPacketInfo>) {
  return std::tuple{field("packet_id", &OrphanedPacketInfo::packet_id),
                    field("from_port", &OrphanedPacketInfo::from_port),
                    field("salvo_condition", &OrphanedPacketInfo::salvo_condition)};
}
constexpr auto fields_of(std::type_identity<Epoch>) {
  return std::tuple{field("id", &Epoch::id),
                    field("node_name", &Epoch::node_name),
                    field("state", &Epoch::state),
                    field("in_salvo", &Epoch::in_salvo),
                    field("out_salvos", &Epoch::out_salvos),
                    field("orphaned_packets", &Epoch::orphaned_packets)};
}
constexpr auto fields_of(std::type_identity<Packet>) {
  return std::tuple{field("id", &Packet::id), field("location", &Packet::location)};
}
static_assert(lists_every_member<Salvo>() && lists_every_member<OrphanedPacketInfo>() &&
              lists_every_member<Epoch>() && lists_every_member<Packet>());

}  // namespace zellik
