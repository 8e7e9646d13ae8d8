#pragma once

#include <optional>
#include <string_view>
#include <variant>

#include "zellik/base/fields.h"
#include "zellik/base/name.h"
#include "zellik/base/variant_check.h"
#include "zellik/net/epoch.h"
#include "zellik/net/packet_location.h"
#include "zellik/net/ulid.h"

namespace zellik {

// The actions that change a net, one struct per variant, in variant order:
// its kind name and its constructor's name as the system shows them, then
// its arguments (listed once more, by name, below). To add an action: its
// struct, its list, its place in NetAction, its case in NetSim::do_action
// (net_sim.cpp); undo works from the events it makes. Its Python
// constructor, repr, pickle and plain dict follow from the list.
namespace action {

struct RunStep {
  static constexpr std::string_view kKind = "RunStep";
  static constexpr std::string_view kConstructor = "run_step";
};
struct CreatePacket {
  static constexpr std::string_view kKind = "CreatePacket";
  static constexpr std::string_view kConstructor = "create_packet";
  std::optional<Ulid> epoch_id;  // none: the packet is made outside the net
};
struct ConsumePacket {
  static constexpr std::string_view kKind = "ConsumePacket";
  static constexpr std::string_view kConstructor = "consume_packet";
  Ulid packet_id;
};
struct DestroyPacket {
  static constexpr std::string_view kKind = "DestroyPacket";
  static constexpr std::string_view kConstructor = "destroy_packet";
  Ulid packet_id;
};
struct StartEpoch {
  static constexpr std::string_view kKind = "StartEpoch";
  static constexpr std::string_view kConstructor = "start_epoch";
  Ulid epoch_id;
};
struct FinishEpoch {
  static constexpr std::string_view kKind = "FinishEpoch";
  static constexpr std::string_view kConstructor = "finish_epoch";
  Ulid epoch_id;
};
struct CancelEpoch {
  static constexpr std::string_view kKind = "CancelEpoch";
  static constexpr std::string_view kConstructor = "cancel_epoch";
  Ulid epoch_id;
};
struct CreateEpoch {
  static constexpr std::string_view kKind = "CreateEpoch";
  static constexpr std::string_view kConstructor = "create_epoch";
  Name node_name;
  Salvo salvo;
};
struct LoadPacketIntoOutputPort {
  static constexpr std::string_view kKind = "LoadPacketIntoOutputPort";
  static constexpr std::string_view kConstructor = "load_packet_into_output_port";
  Ulid packet_id;
  Name port_name;
};
struct SendOutputSalvo {
  static constexpr std::string_view kKind = "SendOutputSalvo";
  static constexpr std::string_view kConstructor = "send_output_salvo";
  Ulid epoch_id;
  Name salvo_condition_name;
};
struct TransportPacketToLocation {
  static constexpr std::string_view kKind = "TransportPacketToLocation";
  static constexpr std::string_view kConstructor = "transport_packet_to_location";
  Ulid packet_id;
  PacketLocation destination;
};
struct CreateRequest {
  static constexpr std::string_view kKind = "CreateRequest";
  static constexpr std::string_view kConstructor = "create_request";
  Name node_name;
  Name label;
};

// Field lists (zellik/base/fields.h): the action's arguments, in order.
constexpr auto fields_of(std::type_identity<RunStep>) { return std::tuple{}; }
constexpr auto fields_of(std::type_identity<CreatePacket>) {
  return std::tuple{field("epoch_id", &CreatePacket::epoch_id)};
}
constexpr auto fields_of(std::type_identity<ConsumePacket>) {
  return std::tuple{field("packet_id", &ConsumePacket::packet_id)};
}
constexpr auto fields_of(std::type_identity<DestroyPacket>) {
  return std::tuple{field("packet_id", &DestroyPacket::packet_id)};
}
constexpr auto fields_of(std::type_identity<StartEpoch>) {
  return std::tuple{field("epoch_id", &StartEpoch::epoch_id)};
}
constexpr auto fields_of(std::type_identity<FinishEpoch>) {
  return std::tuple{field("epoch_id", &FinishEpoch::epoch_id)};
}
constexpr auto fields_of(std::type_identity<CancelEpoch>) {
  return std::tuple{field("epoch_id", &CancelEpoch::epoch_id)};
}
constexpr auto fields_of(std::type_identity<CreateEpoch>) {
  return std::tuple{field("node_name", &CreateEpoch::node_name),
                    field("salvo", &CreateEpoch::salvo)};
}
constexpr auto fields_of(std::type_identity<LoadPacketIntoOutputPort>) {
  return std::tuple{field("packet_id", &LoadPacketIntoOutputPort::packet_id),
                    field("port_name", &LoadPacketIntoOutputPort::port_name)};
}
constexpr auto fields_of(std::type_identity<SendOutputSalvo>) {
  return std::tuple{field("epoch_id", &SendOutputSalvo::epoch_id),
                    field("salvo_condition_name", &SendOutputSalvo::salvo_condition_name)};
}
constexpr auto fields_of(std::type_identity<TransportPacketToLocation>) {
  return std::tuple{field("packet_id", &TransportPacketToLocation::packet_id),
                    field("destination", &TransportPacketToLocation::destination)};
}
constexpr auto fields_of(std::type_identity<CreateRequest>) {
  return std::tuple{field("node_name", &CreateRequest::node_name),
                    field("label", &CreateRequest::label)};
}
}  // namespace action

using NetAction =
    std::variant<action::RunStep, action::CreatePacket, action::ConsumePacket,
                 action::DestroyPacket, action::StartEpoch, action::FinishEpoch,
                 action::CancelEpoch, action::CreateEpoch, action::LoadPacketIntoOutputPort,
                 action::SendOutputSalvo, action::TransportPacketToLocation, action::CreateRequest>;

static_assert(every_alternative<NetAction>([](auto a) {
                return lists_every_member<typename decltype(a)::type>();
              }),
              "every member of every action is in its field list");

}  // namespace zellik
