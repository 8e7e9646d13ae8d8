#pragma once

#include <variant>
#include <vector>

#include "zellik/base/result.h"
#include "zellik/net/epoch.h"
#include "zellik/net/net_action_error.h"
#include "zellik/net/net_event.h"
#include "zellik/net/ulid.h"

namespace zellik {

// The result data of a successful action, one struct per variant, in variant
// order.
namespace response {

struct StepResult {
  bool made_progress;
};
struct Packet {
  Ulid packet_id;
};
struct CreatedEpoch {
  Epoch epoch;
};
struct StartedEpoch {
  Epoch epoch;
};
struct FinishedEpoch {
  Epoch epoch;
};
struct CancelledEpoch {
  Epoch epoch;
  std::vector<Ulid> destroyed_packets;
};
struct Empty {};

}  // namespace response

using NetActionResponseData =
    std::variant<response::StepResult, response::Packet, response::CreatedEpoch,
                 response::StartedEpoch, response::FinishedEpoch, response::CancelledEpoch,
                 response::Empty>;

// A successful action: its data and every change it made, in order.
struct NetActionSuccess {
  NetActionResponseData data;
  EventList events;
};

// Success, or the one error that refused the action.
using NetActionResponse = Result<NetActionSuccess, NetActionError>;

}  // namespace zellik
