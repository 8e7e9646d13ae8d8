#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "zellik/base/name.h"
#include "zellik/base/result.h"
#include "zellik/net/net_action.h"
#include "zellik/net/net_action_error.h"
#include "zellik/net/net_action_response.h"
#include "zellik/net/net_event.h"
#include "zellik/net/net_sim.h"
#include "zellik/net/ulid.h"

namespace zellik {

// What one epoch does, as its executor declares it. A plain value.
// Intentionally copyable.
struct EpochOutcome {
  // None: the epoch consumes its input packets; a port name: it loads them
  // into that output port.
  std::optional<Name> pass_to;
  // New packets made inside the epoch and loaded into an output port:
  // (port name, how many), in order.
  std::vector<std::pair<Name, std::uint64_t>> creates;
  // The output salvo conditions sent once the packets are loaded, in order.
  std::vector<Name> sends;
};

// Why a batch of actions was refused: the position of the refused action
// among those the call made (for execute: start, then each consume or
// load, create and load, send, finish), the action and its own error.
// Intentionally copyable.
struct BatchError {
  std::size_t step = 0;
  NetAction action;
  NetActionError error;
};

// The packets execute made, by output port in the order of the outcome's
// creates (a port named twice appears twice), each port's ids in order.
using CreatedPackets = std::vector<std::pair<Name, std::vector<Ulid>>>;

// Runs the live epoch `epoch_id` to its end as `outcome` says, in one call:
// starts it when Startable, consumes its input packets oldest first (or
// loads them into `outcome.pass_to`), creates and loads the packets of
// `outcome.creates`, sends `outcome.sends` in order and finishes it: the
// same actions, in that order, that a caller would perform one by one. Their
// events are appended to `events`. All or nothing: on a refusal every action
// already made is undone from its events and the request state put back,
// `events` is left as it was and the error names the refused action.
Result<CreatedPackets, BatchError> execute(NetSim& net, const Ulid& epoch_id,
                                           const EpochOutcome& outcome, EventList& events);

// Makes `count` packets outside the net and moves each to `location`, one
// after the other (create, then transport, per packet: the actions a caller
// would perform one by one), their events appended to `events`. Returns the
// new ids in order. All or nothing as execute: when the location runs out of
// room (or is not in the graph) no packet is left made. `count` must fit in
// the packet table (below kNoPacket with the packets already there); the
// caller checks.
Result<std::vector<Ulid>, BatchError> inject(NetSim& net, const PacketLocation& location,
                                             std::uint64_t count, EventList& events);

// Performs `actions` in order, each as do_action would, into `done` (one
// response per action, its data and its events). All or nothing as execute:
// on a refusal the actions made before it are undone, the request state put
// back and `done` left as it was. A RunStep refused by its request phase
// keeps the moves it made, as do_action's does.
Result<Unit, BatchError> do_actions(NetSim& net, std::span<const NetAction> actions,
                                    std::vector<NetActionSuccess>& done);

}  // namespace zellik
