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
    return Make(Kind::PacketNotFound, {.packet = packet});
  }
  static NetActionError EpochNotFound(Ulid epoch) {
    return Make(Kind::EpochNotFound, {.epoch = epoch});
  }
  static NetActionError EpochNotRunning(Ulid epoch) {
    return Make(Kind::EpochNotRunning, {.epoch = epoch});
  }
  static NetActionError EpochNotStartable(Ulid epoch) {
    return Make(Kind::EpochNotStartable, {.epoch = epoch});
  }
  static NetActionError CannotFinishNonEmptyEpoch(Ulid epoch) {
    return Make(Kind::CannotFinishNonEmptyEpoch, {.epoch = epoch});
  }
  static NetActionError UnsentOutputSalvo(Ulid epoch, Name port) {
    return Make(Kind::UnsentOutputSalvo, {.epoch = epoch, .port = std::move(port)});
  }
  static NetActionError PacketNotInAnyNode(Ulid packet) {
    return Make(Kind::PacketNotInAnyNode, {.packet = packet});
  }
  static NetActionError OutputPortNotFound(Name port, Ulid epoch) {
    return Make(Kind::OutputPortNotFound, {.epoch = epoch, .port = std::move(port)});
  }
  static NetActionError SalvoConditionNotFound(Name condition, Ulid epoch) {
    return Make(Kind::SalvoConditionNotFound, {.epoch = epoch, .condition = std::move(condition)});
  }
  static NetActionError MaxSalvosExceeded(Name condition, Ulid epoch) {
    return Make(Kind::MaxSalvosExceeded, {.epoch = epoch, .condition = std::move(condition)});
  }
  static NetActionError SalvoConditionNotMet(Name condition, Ulid epoch) {
    return Make(Kind::SalvoConditionNotMet, {.epoch = epoch, .condition = std::move(condition)});
  }
  static NetActionError OutputPortFull(Name port, Ulid epoch) {
    return Make(Kind::OutputPortFull, {.epoch = epoch, .port = std::move(port)});
  }
  static NetActionError NodeNotFound(Name node) {
    return Make(Kind::NodeNotFound, {.node = std::move(node)});
  }
  static NetActionError PacketNotAtInputPort(Ulid packet, Name port, Name node) {
    return Make(Kind::PacketNotAtInputPort,
                {.packet = packet, .node = std::move(node), .port = std::move(port)});
  }
  static NetActionError InputPortNotFound(Name port, Name node) {
    return Make(Kind::InputPortNotFound, {.node = std::move(node), .port = std::move(port)});
  }
  static NetActionError InputPortFull(Name port, Name node) {
    return Make(Kind::InputPortFull, {.node = std::move(node), .port = std::move(port)});
  }
  static NetActionError CannotMovePacketFromRunningEpoch(Ulid packet, Ulid epoch) {
    return Make(Kind::CannotMovePacketFromRunningEpoch, {.packet = packet, .epoch = epoch});
  }
  static NetActionError CannotMovePacketIntoRunningEpoch(Ulid packet, Ulid epoch) {
    return Make(Kind::CannotMovePacketIntoRunningEpoch, {.packet = packet, .epoch = epoch});
  }
  static NetActionError EdgeNotFound(Edge edge) {
    return Make(Kind::EdgeNotFound, {.edge = std::move(edge)});
  }
  static NetActionError RequestCycleDetected(Name node) {
    return Make(Kind::RequestCycleDetected, {.node = std::move(node)});
  }
  static NetActionError RequestUnconnectedPort(Name port, Name node) {
    return Make(Kind::RequestUnconnectedPort, {.node = std::move(node), .port = std::move(port)});
  }
  static NetActionError RequestNodeNotFound(Name node) {
    return Make(Kind::RequestNodeNotFound, {.node = std::move(node)});
  }

 private:
  // The fields a kind sets, by name; the others stay empty.
  struct Fields {
    Ulid packet{};
    Ulid epoch{};
    Name node{};
    Name port{};
    Name condition{};
    std::optional<Edge> edge{};
  };
  static NetActionError Make(Kind kind, Fields f) {
    return NetActionError{kind,
                          f.packet,
                          f.epoch,
                          std::move(f.node),
                          std::move(f.port),
                          std::move(f.condition),
                          std::move(f.edge)};
  }
};

// The variant name of a kind, e.g. "PacketNotFound".
std::string_view kind_name(NetActionError::Kind kind);

// The message of the error, e.g. "Packet not found: {packet_id}" with the id
// in its text form (net_action_error.cpp holds one template per kind).
std::string message(const NetActionError& error);

}  // namespace zellik
