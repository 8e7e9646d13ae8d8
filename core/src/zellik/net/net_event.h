#pragma once

#include <cstdint>
#include <string_view>
#include <variant>
#include <vector>

#include "zellik/base/heap_value.h"
#include "zellik/base/name.h"
#include "zellik/base/variant_check.h"
#include "zellik/net/epoch.h"
#include "zellik/net/handles.h"
#include "zellik/net/packet_location.h"
#include "zellik/net/ulid.h"

namespace zellik {

// Where a request came from.
enum class RequestCreatedSource : std::uint8_t {
  External = 0,
  OnStartup = 1,
  OnNoSalvoTriggered = 2
};

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
// The two kinds that carry a whole epoch keep it on the heap: an epoch is
// several times the size of any other event, and every event of a list
// takes the room of the largest kind.
struct EpochFinished {
  Timestamp timestamp;
  HeapValue<Epoch> epoch;  // as it stood before finishing
};
struct EpochCancelled {
  Timestamp timestamp;
  HeapValue<Epoch> epoch;  // as it stood before cancelling
};
struct PacketMoved {
  Timestamp timestamp;
  Ulid packet_id;
  PacketLocation from_location;
  PacketLocation to_location;
  std::uint64_t from_index;  // position in from_location just before the move
  // Where the net that made the event kept the packet and from_location then.
  // Only that net's undo reads them, and only after checking them against
  // packet_id and from_location; they are not part of the event's value.
  PacketIndex packet_row = kNoPacket;
  LocationHandle from_handle = kNoLocation;
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

// Runs make events by the million: an event is at most a move's size plus
// its kind (PacketOrphaned, the largest, is one word more).
static_assert(sizeof(void*) != 8 || sizeof(NetEvent) <= 72, "events must stay small");

using EventList = std::vector<NetEvent>;

// The kind name of each event struct, as the system shows it; a struct
// without one fails the build below.
namespace event {
template <class E>
inline constexpr std::string_view kKindName{};
template <>
inline constexpr std::string_view kKindName<PacketCreated> = "PacketCreated";
template <>
inline constexpr std::string_view kKindName<PacketConsumed> = "PacketConsumed";
template <>
inline constexpr std::string_view kKindName<PacketDestroyed> = "PacketDestroyed";
template <>
inline constexpr std::string_view kKindName<EpochCreated> = "EpochCreated";
template <>
inline constexpr std::string_view kKindName<EpochStarted> = "EpochStarted";
template <>
inline constexpr std::string_view kKindName<EpochFinished> = "EpochFinished";
template <>
inline constexpr std::string_view kKindName<EpochCancelled> = "EpochCancelled";
template <>
inline constexpr std::string_view kKindName<PacketMoved> = "PacketMoved";
template <>
inline constexpr std::string_view kKindName<InputSalvoTriggered> = "InputSalvoTriggered";
template <>
inline constexpr std::string_view kKindName<OutputSalvoTriggered> = "OutputSalvoTriggered";
template <>
inline constexpr std::string_view kKindName<PacketOrphaned> = "PacketOrphaned";
template <>
inline constexpr std::string_view kKindName<RequestCreated> = "RequestCreated";
template <>
inline constexpr std::string_view kKindName<RequestCascadeResolved> = "RequestCascadeResolved";
template <>
inline constexpr std::string_view kKindName<RequestEpochCreated> = "RequestEpochCreated";
}  // namespace event

static_assert(every_alternative<NetEvent>([](auto e) {
                return !event::kKindName<typename decltype(e)::type>.empty();
              }),
              "every event kind has a name");

// "PacketCreated", "PacketMoved", ...
inline std::string_view kind_name(const NetEvent& e) {
  return std::visit([]<class E>(const E&) { return event::kKindName<E>; }, e);
}

inline Timestamp event_timestamp(const NetEvent& e) {
  return std::visit([](const auto& ev) { return ev.timestamp; }, e);
}

}  // namespace zellik
