// The explorer's hot path: the choices of a state, the transitions that
// take them and their undo, and the key of the state they reach, in one
// unit so that they inline.

#include "zellik/explore/cursor.h"

#include <algorithm>
#include <span>
#include <string>
#include <variant>

#include "zellik/base/internal_failure.h"
#include "zellik/graph/cascade.h"
#include "zellik/net/net_sim_restore.h"
#include "zellik/net/snapshot.h"

namespace zellik::explore {

namespace {

// What an epoch of a node without a declared behaviour does.
const Outcome kConsumeAll{};

std::unique_ptr<NetSim> fork_of(const Graph& graph, const std::string& snapshot) {
  auto fork = decode_snapshot(graph, snapshot);
  if (!fork.ok()) fail("Cannot fork the net to explore: " + fork.error().text);
  return std::move(fork).value();
}

}  // namespace

Setting::Setting(const NetSim& start, Declarations declared)
    : snapshot(encode_snapshot(start)), declarations(std::move(declared)) {
  const Graph& graph = start.graph();
  share_graph_names(graph, declarations);
  for (const Behaviour& behaviour : declarations.behaviours)
    behaviours[behaviour.node] = &behaviour;
  for (const auto& [name, node] : graph.nodes()) {
    if (node.dependency_request_config) has_request_state = true;
  }
  if (!declarations.requests.empty() || !NetSimRestore::request_state(start).pending.empty())
    has_request_state = true;
  // Whether some node's requests cannot be resolved: its cascade fails.
  if (has_request_state) {
    for (const auto& [node, ports] : request_start_ports(graph)) {
      if (!cascade_backward(graph, ports).ok()) step_may_fail = true;
    }
  }
}

NetCursor::Frame& NetCursor::FrameStack::emplace_back() {
  if (size_ == frames_.size()) frames_.emplace_back();
  Frame& frame = frames_[size_++];
  frame.state = 0;
  frame.done.clear();
  frame.events.clear();
  frame.injection = -1;
  frame.request = -1;
  frame.snapshot.clear();
  frame.saved_requests = false;
  frame.choices.clear();
  frame.listed = false;
  return frame;
}

NetCursor::NetCursor(const Setting& setting, const Graph& graph, bool shows_ids)
    : setting_(setting), net_(fork_of(graph, setting.snapshot)) {
  // The working net's ids are never shown (runs are written out on a fork
  // of the start that shows them): a seeded source makes them without the
  // clock.
  if (!shows_ids) NetSimRestore::restore_id_source(*net_, IdSource::Seeded(1).state());
  for (const Injection& injection : setting.declarations.injections)
    injections_left_.push_back(injection.count);
  for (const RequestAllowance& request : setting.declarations.requests)
    requests_left_.push_back(request.count);
  frames_.emplace_back();
}

NetCursor::~NetCursor() = default;

// --- What the cursor reads of the net ----------------------------------------

void NetCursor::read_canonical_state(std::vector<std::uint64_t>& out) {
  net_->canonical_state(out, &distinct_epochs_);
  distinct_current_ = true;
}

void NetCursor::read_epoch_packets(const Ulid& epoch) { net_->get_epoch_packets(epoch, inside_); }

void NetCursor::save_request_state(Frame& frame) const {
  frame.saved_requests = true;
  frame.requests = NetSimRestore::request_state(*net_);
}

void NetCursor::restore_request_state(Frame& frame) {
  NetSimRestore::restore_requests(*net_, frame.requests);
  frame.saved_requests = false;
}

std::uint64_t NetCursor::packets_inside() const {
  return net_->packet_count() - net_->packet_count_at(PacketLocation::OutsideNet());
}

// --- Choices -------------------------------------------------------------------

void NetCursor::list_choices(std::vector<Choice>& out) {
  out.clear();
  out.push_back(Choice{});
  // The records that fingerprinting this state sorted, when it just did.
  if (!distinct_current_) {
    state_words_.clear();
    read_canonical_state(state_words_);
  }
  for (const Ulid& id : distinct_epochs_) {
    const Epoch* epoch = net_->get_epoch(id);
    const Behaviour* behaviour = behaviour_of(epoch->node_name);
    if (behaviour == nullptr) {
      out.push_back(Choice{Choice::Kind::Execute, id, &kConsumeAll, 0});
      continue;
    }
    for (const Outcome& outcome : behaviour->outcomes) {
      out.push_back(Choice{Choice::Kind::Execute, id, &outcome, 0});
    }
  }
  std::size_t injections = 0;
  for (std::uint32_t i = 0; i < injections_left_.size(); ++i) {
    if (injections_left_[i] > 0) {
      out.push_back(Choice{Choice::Kind::Inject, Ulid(), nullptr, i});
      ++injections;
    }
  }
  std::size_t requests = 0;
  for (std::uint32_t i = 0; i < requests_left_.size(); ++i) {
    if (requests_left_[i] > 0) {
      out.push_back(Choice{Choice::Kind::Request, Ulid(), nullptr, i});
      ++requests;
    }
  }
  if (out.size() > 0xFFFF) {
    error_ = "A state has more than 65535 choices to explore: " + std::to_string(out.size()) +
             " (the step, " + std::to_string(out.size() - 1 - injections - requests) +
             " epoch outcomes, " + std::to_string(injections) + " injections, " +
             std::to_string(requests) + " requests), at depth " + std::to_string(depth());
    out.clear();
  }
}

const std::vector<Choice>& NetCursor::choices() {
  Frame& top = frames_.back();
  if (!top.listed) {
    list_choices(top.choices);
    top.listed = true;
  }
  return top.choices;
}

const Choice& NetCursor::choice_at(std::uint16_t index) {
  static const Choice kStep{};
  if (index == 0) return kStep;
  const std::vector<Choice>& list = choices();
  if (index >= list.size()) fail("The explorer could not take a run it took before");
  return list[index];
}

// --- Transitions -----------------------------------------------------------------

Applied NetCursor::take(std::uint16_t index, std::string* failure,
                        std::vector<RecordedAction>* log) {
  const Choice& choice = choice_at(index);
  Frame& frame = frames_.emplace_back();
  const Applied applied = apply(choice, frame, failure, log);
  if (applied != Applied::Yes) frames_.pop_back();
  return applied;
}

void NetCursor::back() {
  undo(frames_.back());
  frames_.pop_back();
}

void NetCursor::take_to_refusal(std::uint16_t index, std::vector<RecordedAction>& log,
                                std::string& failure) {
  const Choice& choice = choice_at(index);
  keep_refused_ = true;
  apply(choice, frames_.emplace_back(), &failure, &log);
  keep_refused_ = false;
}

void NetCursor::go_to(std::uint32_t state, const VisitedSet& visited,
                      std::vector<RecordedAction>* log) {
  path_.clear();
  for (std::uint32_t s = state; s != 0; s = visited.parent(s)) path_.push_back(s);
  std::reverse(path_.begin(), path_.end());
  std::size_t common = 0;
  while (common < path_.size() && common + 1 < frames_.size() &&
         frames_[common + 1].state == path_[common]) {
    ++common;
  }
  while (frames_.size() > common + 1) back();
  for (std::size_t i = common; i < path_.size(); ++i) {
    if (take(visited.choice_index(path_[i]), nullptr, log) != Applied::Yes) {
      fail("The explorer could not take a run it took before");
    }
    number(path_[i]);
  }
}

// (It changes the working net, which the pointer does not show.)
// NOLINTNEXTLINE(readability-make-member-function-const)
ActionResult NetCursor::act(Frame& frame, NetAction action, std::vector<RecordedAction>* log) {
  const std::size_t begin = frame.events.size();
  ActionResult done = net_->perform_action(action, frame.events);
  if (log != nullptr) {
    // A run written out: the response do_action gives for the same action.
    if (done.ok()) {
      const auto from = frame.events.begin() + static_cast<std::ptrdiff_t>(begin);
      EventList events(from, frame.events.end());
      NetActionResponseData data = response_data(*net_, action, done.value(), events);
      log->push_back(RecordedAction{action, NetActionSuccess{std::move(data), std::move(events)}});
    } else {
      log->push_back(RecordedAction{action, done.error()});
    }
  }
  if (done.ok()) frame.done.emplace_back(std::move(action), frame.events.size());
  return done;
}

void NetCursor::undo(Frame& frame) {
  distinct_current_ = false;
  if (!frame.snapshot.empty()) {
    // The same packets and epochs under the same ids, in the same order:
    // the frames below still undo from their events.
    net_ = fork_of(net_->graph(), frame.snapshot);
    frame.snapshot.clear();
  } else {
    // Last first.
    const std::span<NetEvent> events(frame.events);  // dropped after
    for (std::size_t i = frame.done.size(); i-- > 0;) {
      const std::size_t begin = i > 0 ? frame.done[i - 1].second : 0;
      if (!net_->undo_events(frame.done[i].first,
                             events.subspan(begin, frame.done[i].second - begin))
               .ok())
        fail("The explorer could not undo its own action");
    }
  }
  frame.done.clear();
  frame.events.clear();
  if (frame.saved_requests) restore_request_state(frame);
  if (frame.injection >= 0) ++injections_left_[static_cast<std::size_t>(frame.injection)];
  if (frame.request >= 0) ++requests_left_[static_cast<std::size_t>(frame.request)];
  frame.injection = -1;
  frame.request = -1;
}

Applied NetCursor::apply(const Choice& choice, Frame& frame, std::string* failure,
                         std::vector<RecordedAction>* log) {
  distinct_current_ = false;
  log_start_ = log != nullptr ? log->size() : 0;
  // A step and a finished epoch can change the request state in ways their
  // events do not give back: it is saved, and undo restores it.
  if (setting_.has_request_state && choice.kind != Choice::Kind::Inject &&
      choice.kind != Choice::Kind::Request) {
    save_request_state(frame);
  }
  switch (choice.kind) {
    case Choice::Kind::Step: {
      // A step whose request resolution fails keeps the moves made before
      // it, without their events: where one can, a step is undone from a
      // snapshot taken before it.
      if (setting_.step_may_fail) frame.snapshot = encode_snapshot(*net_);
      ActionResult r = act(frame, action::RunStep{}, log);
      if (!r.ok()) return refuse(frame, r.error(), failure);
      // A transition moves a packet or makes an epoch. A step that only
      // sends or drops requests is none: a request that makes no epoch now
      // never makes one (its cascade depends on the graph alone).
      if (!r.value().made_progress) return withdraw(frame, log);
      return Applied::Yes;
    }
    case Choice::Kind::Execute:
      return execute(choice, frame, failure, log);
    case Choice::Kind::Inject: {
      ActionResult made = act(frame, action::CreatePacket{}, log);
      if (!made.ok()) return refuse(frame, made.error(), failure);
      const Ulid packet = made.value().created;
      const PacketLocation& to = setting_.declarations.injections[choice.index].location;
      ActionResult moved = act(frame, action::TransportPacketToLocation{packet, to}, log);
      // The port is full: no injection there now.
      if (!moved.ok()) return withdraw(frame, log);
      --injections_left_[choice.index];
      frame.injection = static_cast<int>(choice.index);
      return Applied::Yes;
    }
    case Choice::Kind::Request: {
      const RequestAllowance& request = setting_.declarations.requests[choice.index];
      ActionResult r = act(frame, action::CreateRequest{request.node, request.label}, log);
      if (!r.ok()) return refuse(frame, r.error(), failure);
      --requests_left_[choice.index];
      frame.request = static_cast<int>(choice.index);
      return Applied::Yes;
    }
  }
  return Applied::No;
}

Applied NetCursor::withdraw(Frame& frame, std::vector<RecordedAction>* log) {
  undo(frame);
  if (log != nullptr)
    log->erase(log->begin() + static_cast<std::ptrdiff_t>(log_start_), log->end());
  return Applied::No;
}

Applied NetCursor::refuse(Frame& frame, const NetActionError& error, std::string* failure) {
  if (!keep_refused_) undo(frame);
  if (failure != nullptr) *failure = message(error);
  return Applied::Failed;
}

Applied NetCursor::execute(const Choice& choice, Frame& frame, std::string* failure,
                           std::vector<RecordedAction>* log) {
  const Ulid& id = choice.epoch;
  const Epoch* epoch = net_->get_epoch(id);
  if (epoch->state == EpochState::Startable) {
    ActionResult r = act(frame, action::StartEpoch{id}, log);
    if (!r.ok()) return refuse(frame, r.error(), failure);
  }
  const Outcome& outcome = *choice.outcome;
  // The packets inside, copied first: the actions below move them.
  read_epoch_packets(id);
  for (const Ulid& packet : inside_) {
    NetAction a = outcome.pass_to
                      ? NetAction(action::LoadPacketIntoOutputPort{packet, *outcome.pass_to})
                      : NetAction(action::ConsumePacket{packet});
    ActionResult r = act(frame, std::move(a), log);
    if (!r.ok()) return refuse(frame, r.error(), failure);
  }
  for (const auto& [port, count] : outcome.creates) {
    for (std::uint64_t i = 0; i < count; ++i) {
      ActionResult made = act(frame, action::CreatePacket{id}, log);
      if (!made.ok()) return refuse(frame, made.error(), failure);
      const Ulid packet = made.value().created;
      ActionResult r = act(frame, action::LoadPacketIntoOutputPort{packet, port}, log);
      if (!r.ok()) return refuse(frame, r.error(), failure);
    }
  }
  for (const Name& condition : outcome.sends) {
    ActionResult r = act(frame, action::SendOutputSalvo{id, condition}, log);
    if (!r.ok()) return refuse(frame, r.error(), failure);
  }
  ActionResult r = act(frame, action::FinishEpoch{id}, log);
  if (!r.ok()) return refuse(frame, r.error(), failure);
  return Applied::Yes;
}

// --- The key of a state ------------------------------------------------------------

Fingerprint NetCursor::key() {
  words_.clear();
  read_canonical_state(words_);
  words_.insert(words_.end(), injections_left_.begin(), injections_left_.end());
  words_.insert(words_.end(), requests_left_.begin(), requests_left_.end());
  return fingerprint_of(words_);
}

}  // namespace zellik::explore
