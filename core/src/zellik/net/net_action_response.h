#pragma once

#include <string_view>
#include <tuple>
#include <type_traits>
#include <variant>
#include <vector>

#include "zellik/base/fields.h"
#include "zellik/base/result.h"
#include "zellik/base/variant_check.h"
#include "zellik/net/epoch.h"
#include "zellik/net/net_action_error.h"
#include "zellik/net/net_event.h"
#include "zellik/net/ulid.h"

namespace zellik {

// The result data of a successful action, one struct per variant, in variant
// order: its kind name as the system shows it, then its fields (listed once
// more, by name, below).
namespace response {

struct StepResult {
  static constexpr std::string_view kKind = "StepResult";
  bool made_progress;
};
struct Packet {
  static constexpr std::string_view kKind = "Packet";
  Ulid packet_id;
};
struct CreatedEpoch {
  static constexpr std::string_view kKind = "CreatedEpoch";
  Epoch epoch;
};
struct StartedEpoch {
  static constexpr std::string_view kKind = "StartedEpoch";
  Epoch epoch;
};
struct FinishedEpoch {
  static constexpr std::string_view kKind = "FinishedEpoch";
  Epoch epoch;
};
struct CancelledEpoch {
  static constexpr std::string_view kKind = "CancelledEpoch";
  Epoch epoch;
  std::vector<Ulid> destroyed_packets;
};
struct Empty {
  static constexpr std::string_view kKind = "Empty";
};

// Field lists (zellik/base/fields.h).
constexpr auto fields_of(std::type_identity<StepResult>) {
  return std::tuple{field("made_progress", &StepResult::made_progress)};
}
constexpr auto fields_of(std::type_identity<Packet>) {
  return std::tuple{field("packet_id", &Packet::packet_id)};
}
constexpr auto fields_of(std::type_identity<CreatedEpoch>) {
  return std::tuple{field("epoch", &CreatedEpoch::epoch)};
}
constexpr auto fields_of(std::type_identity<StartedEpoch>) {
  return std::tuple{field("epoch", &StartedEpoch::epoch)};
}
constexpr auto fields_of(std::type_identity<FinishedEpoch>) {
  return std::tuple{field("epoch", &FinishedEpoch::epoch)};
}
constexpr auto fields_of(std::type_identity<CancelledEpoch>) {
  return std::tuple{field("epoch", &CancelledEpoch::epoch),
                    field("destroyed_packets", &CancelledEpoch::destroyed_packets)};
}
constexpr auto fields_of(std::type_identity<Empty>) { return std::tuple{}; }

}  // namespace response

using NetActionResponseData =
    std::variant<response::StepResult, response::Packet, response::CreatedEpoch,
                 response::StartedEpoch, response::FinishedEpoch, response::CancelledEpoch,
                 response::Empty>;

static_assert(every_alternative<NetActionResponseData>([](auto t) {
                return lists_every_member<typename decltype(t)::type>();
              }),
              "every member of every response is in its field list");

// A successful action: its data and every change it made, in order.
struct NetActionSuccess {
  NetActionResponseData data;
  EventList events;
};

// Success, or the one error that refused the action.
using NetActionResponse = Result<NetActionSuccess, NetActionError>;

// What NetSim::perform_action tells of an action that succeeded, short of a
// response: the id of the packet or epoch it created (CreatePacket,
// CreateEpoch; nil otherwise) and, for RunStep, whether it made progress.
struct ActionDone {
  Ulid created;
  bool made_progress = false;
};
using ActionResult = Result<ActionDone, NetActionError>;

}  // namespace zellik
