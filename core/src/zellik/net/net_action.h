#pragma once

#include <optional>
#include <string_view>
#include <variant>

#include "zellik/base/name.h"
#include "zellik/base/variant_check.h"
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

using NetAction =
    std::variant<action::RunStep, action::CreatePacket, action::ConsumePacket,
                 action::DestroyPacket, action::StartEpoch, action::FinishEpoch,
                 action::CancelEpoch, action::CreateEpoch, action::LoadPacketIntoOutputPort,
                 action::SendOutputSalvo, action::TransportPacketToLocation, action::CreateRequest>;

// The constructor name of each action, as the system shows it ("run_step",
// "consume_packet", ...); an action without one fails the build below.
namespace action {
template <class A>
inline constexpr std::string_view kConstructorName{};
template <>
inline constexpr std::string_view kConstructorName<RunStep> = "run_step";
template <>
inline constexpr std::string_view kConstructorName<CreatePacket> = "create_packet";
template <>
inline constexpr std::string_view kConstructorName<ConsumePacket> = "consume_packet";
template <>
inline constexpr std::string_view kConstructorName<DestroyPacket> = "destroy_packet";
template <>
inline constexpr std::string_view kConstructorName<StartEpoch> = "start_epoch";
template <>
inline constexpr std::string_view kConstructorName<FinishEpoch> = "finish_epoch";
template <>
inline constexpr std::string_view kConstructorName<CancelEpoch> = "cancel_epoch";
template <>
inline constexpr std::string_view kConstructorName<CreateEpoch> = "create_epoch";
template <>
inline constexpr std::string_view kConstructorName<LoadPacketIntoOutputPort> =
    "load_packet_into_output_port";
template <>
inline constexpr std::string_view kConstructorName<SendOutputSalvo> = "send_output_salvo";
template <>
inline constexpr std::string_view kConstructorName<TransportPacketToLocation> =
    "transport_packet_to_location";
template <>
inline constexpr std::string_view kConstructorName<CreateRequest> = "create_request";
}  // namespace action

static_assert(every_alternative<NetAction>([](auto a) {
                return !action::kConstructorName<typename decltype(a)::type>.empty();
              }),
              "every action has a constructor name");

}  // namespace zellik
