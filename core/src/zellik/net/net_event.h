#pragma once

#include <cstdint>
#include <string_view>
#include <variant>
#include <vector>

#include "zellik/base/name.h"
#include "zellik/net/epoch.h"
#include "zellik/net/packet_location.h"
#include "zellik/net/ulid.h"

namespace zellik {

// Where a request came from.
enum class RequestCreatedSource : std::uint8_t { External = 0, OnStartup = 1, OnNoSalvoTriggered = 2 };

// "External", "OnStartup" or "OnNoSalvoTriggered".
std::string_view request_source_name(RequestCreatedSource source);

// The record of one change, one struct per variant, in variant order. Every
// event carries the wall-clock time at which it was built.
namespace event {

struct PacketCreated {
  Timestamp timestamp;
  Ulid packet_id;
};
struct PacketConsumed {
  Timestamp timestamp;
  Ulid packet_id;
  PacketLocation location;  // where it was
};
struct PacketDestroyed {
  Timestamp timestamp;
  Ulid packet_id;
  PacketLocation location;  // where it was
};
struct EpochCreated {
  Timestamp timestamp;
  Ulid epoch_id;
};
struct EpochStarted {
  Timestamp timestamp;
  Ulid epoch_id;
};
struct EpochFinished {
  Timestamp timestamp;
  Epoch epoch;  // as it stood before finishing
};
struct EpochCancelled {
  Timestamp timestamp;
  Epoch epoch;  // as it stood before cancelling
};
struct PacketMoved {
  Timestamp timestamp;
  Ulid packet_id;
  PacketLocation from_location;
  PacketLocation to_location;
  std::uint64_t from_index;  // position in from_location just before the move
};
struct InputSalvoTriggered {
  Timestamp timestamp;
  Ulid epoch_id;
  Name salvo_condition;
};
struct OutputSalvoTriggered {
  Timestamp timestamp;
  Ulid epoch_id;
  Name salvo_condition;
};
struct PacketOrphaned {
  Timestamp timestamp;
  Ulid packet_id;
  Ulid epoch_id;
  Name node_name;
  Name port_name;  // the unconnected output port
  Name salvo_condition;
};
struct RequestCreated {
  Timestamp timestamp;
  Name node_name;
  Name label;
  RequestCreatedSource request_source;
};
struct RequestCascadeResolved {
  Timestamp timestamp;
  std::vector<Name> source_nodes;
  Name label;
};
struct RequestEpochCreated {
  Timestamp timestamp;
  Ulid epoch_id;
  Name source_node;
  Name label;
};

}  // namespace event

using NetEvent =
    std::variant<event::PacketCreated, event::PacketConsumed, event::PacketDestroyed,
                 event::EpochCreated, event::EpochStarted, event::EpochFinished,
                 event::EpochCancelled, event::PacketMoved, event::InputSalvoTriggered,
                 event::OutputSalvoTriggered, event::PacketOrphaned, event::RequestCreated,
                 event::RequestCascadeResolved, event::RequestEpochCreated>;

using EventList = std::vector<NetEvent>;

inline Timestamp event_timestamp(const NetEvent& e) {
  return std::visit([](const auto& ev) { return ev.timestamp; }, e);
}

}  // namespace zellik
