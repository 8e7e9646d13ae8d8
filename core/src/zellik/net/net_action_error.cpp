// The name and message of every kind of action error.

#include "zellik/net/net_action_error.h"

#include "zellik/base/internal_failure.h"
#include "zellik/base/kind_table.h"

namespace zellik {

namespace {

// One row per kind, in the kinds' order. Placeholders name the error's
// fields: ids in their 26-character text, names as they are, the edge in its
// text form.
struct ActionErrorText {
  NetActionError::Kind kind;
  std::string_view name;
  std::string_view message;
};

using K = NetActionError::Kind;
constexpr ActionErrorText kActionErrors[] = {
    {K::PacketNotFound, "PacketNotFound", "Packet not found: {packet_id}"},
    {K::EpochNotFound, "EpochNotFound", "Epoch not found: {epoch_id}"},
    {K::EpochNotRunning, "EpochNotRunning", "Epoch not running: {epoch_id}"},
    {K::EpochNotStartable, "EpochNotStartable", "Epoch not startable: {epoch_id}"},
    {K::CannotFinishNonEmptyEpoch, "CannotFinishNonEmptyEpoch",
     "Cannot finish epoch with packets remaining: {epoch_id}"},
    {K::UnsentOutputSalvo, "UnsentOutputSalvo",
     "Cannot finish epoch {epoch_id}: output port '{port_name}' has unsent packets"},
    {K::PacketNotInAnyNode, "PacketNotInAnyNode", "Packet {packet_id} is not inside any epoch"},
    {K::OutputPortNotFound, "OutputPortNotFound",
     "Output port '{port_name}' not found in epoch {epoch_id}"},
    {K::SalvoConditionNotFound, "SalvoConditionNotFound",
     "Salvo condition '{condition_name}' not found for epoch {epoch_id}"},
    {K::MaxSalvosExceeded, "MaxSalvosExceeded",
     "Max salvos exceeded for condition '{condition_name}' in epoch {epoch_id}"},
    {K::SalvoConditionNotMet, "SalvoConditionNotMet",
     "Salvo condition '{condition_name}' not met for epoch {epoch_id}"},
    {K::OutputPortFull, "OutputPortFull", "Output port '{port_name}' is full in epoch {epoch_id}"},
    {K::NodeNotFound, "NodeNotFound", "Node not found: {node_name}"},
    {K::PacketNotAtInputPort, "PacketNotAtInputPort",
     "Packet {packet_id} not at input port '{port_name}' on node '{node_name}'"},
    {K::InputPortNotFound, "InputPortNotFound",
     "Input port '{port_name}' not found on node {node_name}"},
    {K::InputPortFull, "InputPortFull", "Input port '{port_name}' is full on node {node_name}"},
    {K::CannotMovePacketFromRunningEpoch, "CannotMovePacketFromRunningEpoch",
     "Cannot move packet {packet_id} from running epoch {epoch_id}"},
    {K::CannotMovePacketIntoRunningEpoch, "CannotMovePacketIntoRunningEpoch",
     "Cannot move packet {packet_id} into running epoch {epoch_id}"},
    {K::EdgeNotFound, "EdgeNotFound", "Edge not found: {edge}"},
    {K::RequestCycleDetected, "RequestCycleDetected",
     "Request cascade cycle detected at node '{node_name}'"},
    {K::RequestUnconnectedPort, "RequestUnconnectedPort",
     "Request cascade reached unconnected input port '{port_name}' on node '{node_name}'"},
    {K::RequestNodeNotFound, "RequestNodeNotFound",
     "Request targets non-existent node '{node_name}'"},
};

static_assert(rows_follow_kinds(kActionErrors, K::RequestNodeNotFound),
              "one action error row per kind, in the kinds' order");

// The text of the field a placeholder names.
std::string field_text(const NetActionError& error, std::string_view field) {
  if (field == "packet_id") return error.packet_id.to_string();
  if (field == "epoch_id") return error.epoch_id.to_string();
  if (field == "node_name") return error.node_name.str();
  if (field == "port_name") return error.port_name.str();
  if (field == "condition_name") return error.condition_name.str();
  if (field == "edge") return error.edge ? error.edge->to_string() : std::string();
  fail("Unknown action error field " + std::string(field));
}

}  // namespace

std::string_view kind_name(NetActionError::Kind kind) { return row_of(kActionErrors, kind).name; }

std::string message(const NetActionError& error) {
  const std::string_view templ = row_of(kActionErrors, error.kind).message;
  std::string text;
  std::size_t pos = 0;
  while (pos < templ.size()) {
    const std::size_t open = templ.find('{', pos);
    if (open == std::string_view::npos) break;
    const std::size_t close = templ.find('}', open);
    text.append(templ.substr(pos, open - pos));
    text.append(field_text(error, templ.substr(open + 1, close - open - 1)));
    pos = close + 1;
  }
  text.append(templ.substr(pos));
  return text;
}

}  // namespace zellik
