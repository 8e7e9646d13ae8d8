#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <variant>
#include <vector>

#include "zellik/base/fields.h"
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

// The record of one change, one struct per variant, in variant order: its
// kind name as the system shows it, then the wall-clock time at which it was
// built, then its fields (listed once more, by name, below).
namespace event {

struct PacketCreated {
  static constexpr std::string_view kKind = "PacketCreated";
  Timestamp timestamp;
  Ulid packet_id;
};
struct PacketConsumed {
  static constexpr std::string_view kKind = "PacketConsumed";
  Timestamp timestamp;
  Ulid packet_id;
  PacketLocation location;  // where it was
};
struct PacketDestroyed {
  static constexpr std::string_view kKind = "PacketDestroyed";
  Timestamp timestamp;
  Ulid packet_id;
  PacketLocation location;  // where it was
};
struct EpochCreated {
  static constexpr std::string_view kKind = "EpochCreated";
  Timestamp timestamp;
  Ulid epoch_id;
};
struct EpochStarted {
  static constexpr std::string_view kKind = "EpochStarted";
  Timestamp timestamp;
  Ulid epoch_id;
};
// The two kinds that carry a whole epoch keep it on the heap: an epoch is
// several times the size of any other event, and every event of a list
// takes the room of the largest kind.
struct EpochFinished {
  static constexpr std::string_view kKind = "EpochFinished";
  Timestamp timestamp;
  HeapValue<Epoch> epoch;  // as it stood before finishing
};
struct EpochCancelled {
  static constexpr std::string_view kKind = "EpochCancelled";
  Timestamp timestamp;
  HeapValue<Epoch> epoch;  // as it stood before cancelling
};
struct PacketMoved {
  static constexpr std::string_view kKind = "PacketMoved";
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
  static constexpr std::string_view kKind = "InputSalvoTriggered";
  Timestamp timestamp;
  Ulid epoch_id;
  Name salvo_condition;
};
struct OutputSalvoTriggered {
  static constexpr std::string_view kKind = "OutputSalvoTriggered";
  Timestamp timestamp;
  Ulid epoch_id;
  Name salvo_condition;
};
struct PacketOrphaned {
  static constexpr std::string_view kKind = "PacketOrphaned";
  Timestamp timestamp;
  Ulid packet_id;
  Ulid epoch_id;
  Name node_name;
  Name port_name;  // the unconnected output port
  Name salvo_condition;
};
struct RequestCreated {
  static constexpr std::string_view kKind = "RequestCreated";
  Timestamp timestamp;
  Name node_name;
  Name label;
  RequestCreatedSource request_source;
};
struct RequestCascadeResolved {
  static constexpr std::string_view kKind = "RequestCascadeResolved";
  Timestamp timestamp;
  std::vector<Name> source_nodes;
  Name label;
};
struct RequestEpochCreated {
  static constexpr std::string_view kKind = "RequestEpochCreated";
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

// --- One field list per event ------------------------------------------------
// fields_of names every field of an event after its timestamp, with its
// member, in the order of the byte form, the plain dict and the repr; each
// of those walks it with for_each_field. To add an event: its struct above
// (with its kind name), its list here, its reversal in undo.cpp. A member
// left out of a list fails the build below.
namespace event {

constexpr auto fields_of(std::type_identity<PacketCreated>) {
  return std::tuple{field("packet_id", &PacketCreated::packet_id)};
}
constexpr auto fields_of(std::type_identity<PacketConsumed>) {
  return std::tuple{field("packet_id", &PacketConsumed::packet_id),
                    field("location", &PacketConsumed::location)};
}
constexpr auto fields_of(std::type_identity<PacketDestroyed>) {
  return std::tuple{field("packet_id", &PacketDestroyed::packet_id),
                    field("location", &PacketDestroyed::location)};
}
constexpr auto fields_of(std::type_identity<EpochCreated>) {
  return std::tuple{field("epoch_id", &EpochCreated::epoch_id)};
}
constexpr auto fields_of(std::type_identity<EpochStarted>) {
  return std::tuple{field("epoch_id", &EpochStarted::epoch_id)};
}
constexpr auto fields_of(std::type_identity<EpochFinished>) {
  return std::tuple{field("epoch", &EpochFinished::epoch)};
}
constexpr auto fields_of(std::type_identity<EpochCancelled>) {
  return std::tuple{field("epoch", &EpochCancelled::epoch)};
}
// packet_row and from_handle are not part of the value (see PacketMoved).
constexpr auto fields_of(std::type_identity<PacketMoved>) {
  return std::tuple{field("packet_id", &PacketMoved::packet_id),
                    field("from_location", &PacketMoved::from_location),
                    field("to_location", &PacketMoved::to_location),
                    field("from_index", &PacketMoved::from_index)};
}
constexpr auto fields_of(std::type_identity<InputSalvoTriggered>) {
  return std::tuple{field("epoch_id", &InputSalvoTriggered::epoch_id),
                    field("salvo_condition", &InputSalvoTriggered::salvo_condition)};
}
constexpr auto fields_of(std::type_identity<OutputSalvoTriggered>) {
  return std::tuple{field("epoch_id", &OutputSalvoTriggered::epoch_id),
                    field("salvo_condition", &OutputSalvoTriggered::salvo_condition)};
}
constexpr auto fields_of(std::type_identity<PacketOrphaned>) {
  return std::tuple{field("packet_id", &PacketOrphaned::packet_id),
                    field("epoch_id", &PacketOrphaned::epoch_id),
                    field("node_name", &PacketOrphaned::node_name),
                    field("port_name", &PacketOrphaned::port_name),
                    field("salvo_condition", &PacketOrphaned::salvo_condition)};
}
constexpr auto fields_of(std::type_identity<RequestCreated>) {
  return std::tuple{field("node_name", &RequestCreated::node_name),
                    field("label", &RequestCreated::label),
                    field("request_source", &RequestCreated::request_source)};
}
constexpr auto fields_of(std::type_identity<RequestCascadeResolved>) {
  return std::tuple{field("source_nodes", &RequestCascadeResolved::source_nodes),
                    field("label", &RequestCascadeResolved::label)};
}
constexpr auto fields_of(std::type_identity<RequestEpochCreated>) {
  return std::tuple{field("epoch_id", &RequestEpochCreated::epoch_id),
                    field("source_node", &RequestEpochCreated::source_node),
                    field("label", &RequestEpochCreated::label)};
}

// Members of an event that are not part of its value and so not listed.
template <class E>
inline constexpr std::size_t kUnlisted = 0;
template <>
inline constexpr std::size_t kUnlisted<PacketMoved> = 2;

}  // namespace event

static_assert(every_alternative<NetEvent>([](auto e) {
                using E = typename decltype(e)::type;
                return lists_every_member<E>(1 + event::kUnlisted<E>);  // and the timestamp
              }),
              "every member of every event is in its field list");

// "PacketCreated", "PacketMoved", ...
inline std::string_view kind_name(const NetEvent& e) {
  return std::visit([]<class E>(const E&) { return E::kKind; }, e);
}

inline Timestamp event_timestamp(const NetEvent& e) {
  return std::visit([](const auto& ev) { return ev.timestamp; }, e);
}

}  // namespace zellik
