#pragma once

#include <optional>
#include <variant>

#include "zellik/base/name.h"
#include "zellik/net/epoch.h"
#include "zellik/net/packet_location.h"
#include "zellik/net/ulid.h"

namespace zellik {

// The actions that change a net, one struct per variant, in variant order.
namespace action {

struct RunStep {};
struct CreatePacket {
  std::optional<Ulid> epoch_id;  // none: the packet is made outside the net
};
struct ConsumePacket {
  Ulid packet_id;
};
struct DestroyPacket {
  Ulid packet_id;
};
struct StartEpoch {
  Ulid epoch_id;
};
struct FinishEpoch {
  Ulid epoch_id;
};
struct CancelEpoch {
  Ulid epoch_id;
};
struct CreateEpoch {
  Name node_name;
  Salvo salvo;
};
struct LoadPacketIntoOutputPort {
  Ulid packet_id;
  Name port_name;
};
struct SendOutputSalvo {
  Ulid epoch_id;
  Name salvo_condition_name;
};
struct TransportPacketToLocation {
  Ulid packet_id;
  PacketLocation destination;
};
struct CreateRequest {
  Name node_name;
  Name label;
};

}  // namespace action

using NetAction = std::variant<action::RunStep, action::CreatePacket, action::ConsumePacket,
                               action::DestroyPacket, action::StartEpoch, action::FinishEpoch,
                               action::CancelEpoch, action::CreateEpoch,
                               action::LoadPacketIntoOutputPort, action::SendOutputSalvo,
                               action::TransportPacketToLocation, action::CreateRequest>;

}  // namespace zellik
