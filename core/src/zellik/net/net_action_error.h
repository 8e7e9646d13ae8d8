#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "zellik/base/name.h"
#include "zellik/graph/port.h"
#include "zellik/net/ulid.h"

namespace zellik {

// Why an action was refused. Made by the named factories; fields a kind does
// not use stay empty. Its name and message are given by kind_name() and
// message() below. Intentionally copyable.
struct NetActionError {
  enum class Kind : std::uint8_t {
    PacketNotFound = 0,
    EpochNotFound = 1,
    EpochNotRunning = 2,
    EpochNotStartable = 3,
    CannotFinishNonEmptyEpoch = 4,
    UnsentOutputSalvo = 5,
    PacketNotInAnyNode = 6,
    OutputPortNotFound = 7,
    SalvoConditionNotFound = 8,
    MaxSalvosExceeded = 9,
    SalvoConditionNotMet = 10,
    OutputPortFull = 11,
    NodeNotFound = 12,
    PacketNotAtInputPort = 13,
    InputPortNotFound = 14,
    InputPortFull = 15,
    CannotMovePacketFromRunningEpoch = 16,
    CannotMovePacketIntoRunningEpoch = 17,
    EdgeNotFound = 18,
    RequestCycleDetected = 19,
    RequestUnconnectedPort = 20,
    RequestNodeNotFound = 21,
  };

  Kind kind;
  Ulid packet_id;
  Ulid epoch_id;
  Name node_name;
  Name port_name;
  Name condition_name;
  std::optional<Edge> edge;

  static NetActionError PacketNotFound(Ulid packet) {
    return WithPacket(Kind::PacketNotFound, packet);
  }
  static NetActionError EpochNotFound(Ulid epoch) { return WithEpoch(Kind::EpochNotFound, epoch); }
  static NetActionError EpochNotRunning(Ulid epoch) {
    return WithEpoch(Kind::EpochNotRunning, epoch);
  }
  static NetActionError EpochNotStartable(Ulid epoch) {
    return WithEpoch(Kind::EpochNotStartable, epoch);
  }
  static NetActionError CannotFinishNonEmptyEpoch(Ulid epoch) {
    return WithEpoch(Kind::CannotFinishNonEmptyEpoch, epoch);
  }
  static NetActionError UnsentOutputSalvo(Ulid epoch, Name port) {
    NetActionError e = WithEpoch(Kind::UnsentOutputSalvo, epoch);
    e.port_name = std::move(port);
    return e;
  }
  static NetActionError PacketNotInAnyNode(Ulid packet) {
    return WithPacket(Kind::PacketNotInAnyNode, packet);
  }
  static NetActionError OutputPortNotFound(Name port, Ulid epoch) {
    NetActionError e = WithEpoch(Kind::OutputPortNotFound, epoch);
    e.port_name = std::move(port);
    return e;
  }
  static NetActionError SalvoConditionNotFound(Name condition, Ulid epoch) {
    NetActionError e = WithEpoch(Kind::SalvoConditionNotFound, epoch);
    e.condition_name = std::move(condition);
    return e;
  }
  static NetActionError MaxSalvosExceeded(Name condition, Ulid epoch) {
    NetActionError e = WithEpoch(Kind::MaxSalvosExceeded, epoch);
    e.condition_name = std::move(condition);
    return e;
  }
  static NetActionError SalvoConditionNotMet(Name condition, Ulid epoch) {
    NetActionError e = WithEpoch(Kind::SalvoConditionNotMet, epoch);
    e.condition_name = std::move(condition);
    return e;
  }
  static NetActionError OutputPortFull(Name port, Ulid epoch) {
    NetActionError e = WithEpoch(Kind::OutputPortFull, epoch);
    e.port_name = std::move(port);
    return e;
  }
  static NetActionError NodeNotFound(Name node) {
    return WithNode(Kind::NodeNotFound, std::move(node));
  }
  static NetActionError PacketNotAtInputPort(Ulid packet, Name port, Name node) {
    NetActionError e = WithPacket(Kind::PacketNotAtInputPort, packet);
    e.port_name = std::move(port);
    e.node_name = std::move(node);
    return e;
  }
  static NetActionError InputPortNotFound(Name port, Name node) {
    NetActionError e = WithNode(Kind::InputPortNotFound, std::move(node));
    e.port_name = std::move(port);
    return e;
  }
  static NetActionError InputPortFull(Name port, Name node) {
    NetActionError e = WithNode(Kind::InputPortFull, std::move(node));
    e.port_name = std::move(port);
    return e;
  }
  static NetActionError CannotMovePacketFromRunningEpoch(Ulid packet, Ulid epoch) {
    NetActionError e = WithPacket(Kind::CannotMovePacketFromRunningEpoch, packet);
    e.epoch_id = epoch;
    return e;
  }
  static NetActionError CannotMovePacketIntoRunningEpoch(Ulid packet, Ulid epoch) {
    NetActionError e = WithPacket(Kind::CannotMovePacketIntoRunningEpoch, packet);
    e.epoch_id = epoch;
    return e;
  }
  static NetActionError EdgeNotFound(Edge edge) {
    NetActionError e{Kind::EdgeNotFound, {}, {}, {}, {}, {}, std::move(edge)};
    return e;
  }
  static NetActionError RequestCycleDetected(Name node) {
    return WithNode(Kind::RequestCycleDetected, std::move(node));
  }
  static NetActionError RequestUnconnectedPort(Name port, Name node) {
    NetActionError e = WithNode(Kind::RequestUnconnectedPort, std::move(node));
    e.port_name = std::move(port);
    return e;
  }
  static NetActionError RequestNodeNotFound(Name node) {
    return WithNode(Kind::RequestNodeNotFound, std::move(node));
  }

 private:
  static NetActionError WithPacket(Kind k, Ulid packet) {
    return NetActionError{k, packet, {}, {}, {}, {}, std::nullopt};
  }
  static NetActionError WithEpoch(Kind k, Ulid epoch) {
    return NetActionError{k, {}, epoch, {}, {}, {}, std::nullopt};
  }
  static NetActionError WithNode(Kind k, Name node) {
    return NetActionError{k, {}, {}, std::move(node), {}, {}, std::nullopt};
  }
};

// The variant name of a kind, e.g. "PacketNotFound".
std::string_view kind_name(NetActionError::Kind kind);

// The message of the error, e.g. "Packet not found: {packet_id}" with the id
// in its text form (net_action_error.cpp holds one template per kind).
std::string message(const NetActionError& error);

}  // namespace zellik
