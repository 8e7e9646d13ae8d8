// Dependency requests: the CreateRequest action, the request token, and the
// step's startup, no-salvo and resolution phases.

#include <cstddef>
#include <unordered_set>
#include <utility>
#include <vector>

#include "zellik/base/internal_failure.h"
#include "zellik/graph/cascade.h"
#include "zellik/net/net_sim.h"

namespace zellik {

namespace {

// The fixed in-salvo name of every request epoch.
const Name& request_salvo_name() {
  static const Name kRequestSalvo("__request__");
  return kRequestSalvo;
}

bool has_trigger(const Node& node, DependencyRequestTrigger trigger) {
  return node.dependency_request_config.has_value() &&
         node.dependency_request_config->has_trigger(trigger);
}

// A (source node, label) pair of phase 5, compared by both texts.
struct SourceLabel {
  Name node;
  Name label;
  friend bool operator==(const SourceLabel&, const SourceLabel&) = default;
};

struct SourceLabelHash {
  std::size_t operator()(const SourceLabel& p) const {
    return hash_combine(p.node.hash(), p.label.hash());
  }
};

}  // namespace

const NetSim::RequestIndex& NetSim::request_index() const {
  if (!request_index_) {
    RequestIndex index;
    for (const auto& [name, node] : graph_.nodes()) {
      if (has_trigger(node, DependencyRequestTrigger::OnStartup))
        index.startup_nodes.push_back(&node);
    }
    index.start_ports = request_start_ports(graph_);
    request_index_ = std::move(index);
  }
  return *request_index_;
}

ActionResult NetSim::act(const action::CreateRequest& a, EventList& events) {
  if (graph_.find_node(a.node_name) == nullptr) {
    return NetActionError::RequestNodeNotFound(a.node_name);
  }
  state_.add_request(PendingRequest{a.node_name, a.label});
  events.emplace_back(
      event::RequestCreated{now_millis(), a.node_name, a.label, RequestCreatedSource::External});
  return ActionDone{};
}

void NetSim::set_request_token(std::string_view node_name, bool value) {
  // Every node with the trigger has a token from the start (the
  // constructor) and none is ever dropped: without tokens, no node has it.
  if (state_.requests().tokens.empty()) return;
  const Node* node = graph_.find_node(node_name);
  if (node == nullptr || !has_trigger(*node, DependencyRequestTrigger::OnNoSalvoTriggered)) return;
  state_.set_request_token(node->name, value);
}

void NetSim::emit_startup_requests(EventList& events) {
  if (state_.requests().startup_requests_sent) return;
  const std::vector<const Node*>& nodes = request_index().startup_nodes;
  for (const Node* node : nodes) {
    const Name& label = node->dependency_request_config->label;
    events.emplace_back(
        event::RequestCreated{now_millis(), node->name, label, RequestCreatedSource::OnStartup});
    state_.add_request(PendingRequest{node->name, label});
  }
  if (!nodes.empty()) state_.set_startup_requests_sent(true);
}

void NetSim::emit_no_salvo_requests(const std::vector<std::uint32_t>& waiting, EventList& events) {
  for (const std::uint32_t index : waiting) {
    const NodeInputs& inputs = state_.node_inputs()[index];
    if (!inputs.requests_when_idle || step_marks_[index].fired_in_step == step_serial_) continue;
    const Node* node = inputs.node;
    if (!state_.take_request_token(node->name)) continue;
    const Name& label = node->dependency_request_config->label;
    events.emplace_back(event::RequestCreated{now_millis(), node->name, label,
                                              RequestCreatedSource::OnNoSalvoTriggered});
    state_.add_request(PendingRequest{node->name, label});
  }
}

Result<bool, NetActionError> NetSim::resolve_pending_requests(EventList& events) {
  if (state_.requests().pending.empty()) return false;
  // The list leaves the net before any request is looked at: a failing
  // cascade loses the rest of it.
  const std::vector<PendingRequest> taken = state_.take_requests();

  const RequestIndex& index = request_index();
  std::vector<SourceLabel> pairs;
  std::unordered_set<SourceLabel, SourceLabelHash> seen;
  for (const PendingRequest& request : taken) {
    const auto ports = index.start_ports.find(request.node_name);
    if (ports == index.start_ports.end()) continue;
    Result<CascadeResult, CascadeError> cascade = cascade_backward(graph_, ports->second);
    if (!cascade.ok()) {
      const CascadeError& error = cascade.error();
      if (error.kind == CascadeError::Kind::CycleDetected) {
        return NetActionError::RequestCycleDetected(error.node_name);
      }
      return NetActionError::RequestUnconnectedPort(error.port_name, error.node_name);
    }
    std::vector<Name>& sources = cascade.value().source_nodes;
    for (const Name& source : sources) {
      SourceLabel pair{source, request.label};
      if (seen.insert(pair).second) pairs.push_back(std::move(pair));
    }
    events.emplace_back(
        event::RequestCascadeResolved{now_millis(), std::move(sources), request.label});
  }

  for (const SourceLabel& pair : pairs) {
    const Node* node = graph_.find_node(pair.node);
    if (node == nullptr) fail("Source node from cascade should exist");
    const Ulid epoch_id = insert_new_epoch(*node, Salvo{request_salvo_name(), {}});
    events.emplace_back(event::EpochCreated{now_millis(), epoch_id});
    events.emplace_back(event::RequestEpochCreated{now_millis(), epoch_id, pair.node, pair.label});
  }
  return !pairs.empty();
}

}  // namespace zellik
