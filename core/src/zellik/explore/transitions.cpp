// The explorer's hot path: the choices of a state, the transitions that
// take them and their undo, the states they reach, and the moves of the
// working net between states.

#include <algorithm>
#include <span>
#include <string>
#include <variant>

#include "zellik/base/internal_failure.h"
#include "zellik/explore/search_state.h"
#include "zellik/net/snapshot.h"

namespace zellik::explore {

std::unique_ptr<NetSim> fork_of(const NetSim& net, const std::string& snapshot) {
  auto fork = decode_snapshot(net.graph(), snapshot);
  if (!fork.ok()) fail("Cannot fork the net to explore: " + fork.error().text);
  return std::move(fork).value();
}

void Explorer::Impl::list_choices(std::vector<Choice>& out) {
  out.clear();
  out.push_back(Choice{});
  // The records that fingerprinting this state sorted, when it just did.
  if (!distinct_current) {
    state_words.clear();
    net->canonical_state(state_words, &distinct_epochs);
    distinct_current = true;
  }
  for (const Epoch* epoch : distinct_epochs) {
    const Ulid& id = epoch->id;
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
  for (std::uint32_t i = 0; i < injections_left.size(); ++i) {
    if (injections_left[i] > 0) {
      out.push_back(Choice{Choice::Kind::Inject, Ulid(), nullptr, i});
      ++injections;
    }
  }
  std::size_t requests = 0;
  for (std::uint32_t i = 0; i < requests_left.size(); ++i) {
    if (requests_left[i] > 0) {
      out.push_back(Choice{Choice::Kind::Request, Ulid(), nullptr, i});
      ++requests;
    }
  }
  if (out.size() > 0xFFFF) {
    stop_error = "A state has more than 65535 choices to explore: " + std::to_string(out.size()) +
                 " (the step, " + std::to_string(out.size() - 1 - injections - requests) +
                 " epoch outcomes, " + std::to_string(injections) + " injections, " +
                 std::to_string(requests) + " requests), at depth " +
                 std::to_string(stack.size() - 1);
    out.clear();
  }
}

// (It changes the working net, which the pointer does not show.)
// NOLINTNEXTLINE(readability-make-member-function-const)
ActionResult Explorer::Impl::act(Frame& frame, NetAction action, std::vector<RecordedAction>* log) {
  const std::size_t begin = frame.events.size();
  ActionResult done = net->perform_action(action, frame.events);
  if (log != nullptr) {
    // A run written out: the response do_action gives for the same action.
    if (done.ok()) {
      const auto from = frame.events.begin() + static_cast<std::ptrdiff_t>(begin);
      NetActionSuccess success{response::Empty{}, EventList(from, frame.events.end())};
      net->fill_response(action, done.value(), success);
      log->push_back(RecordedAction{action, std::move(success)});
    } else {
      log->push_back(RecordedAction{action, done.error()});
    }
  }
  if (done.ok()) frame.done.emplace_back(std::move(action), frame.events.size());
  return done;
}

void Explorer::Impl::undo(Frame& frame) {
  distinct_current = false;
  if (!frame.snapshot.empty()) {
    // The same packets and epochs under the same ids, in the same order:
    // the frames below still undo from their events.
    net = fork_of(*net, frame.snapshot);
    frame.snapshot.clear();
  } else {
    // Last first.
    const std::span<NetEvent> events(frame.events);  // dropped after
    for (std::size_t i = frame.done.size(); i-- > 0;) {
      const std::size_t begin = i > 0 ? frame.done[i - 1].second : 0;
      if (!net->undo_events(frame.done[i].first,
                            events.subspan(begin, frame.done[i].second - begin))
               .ok())
        fail("The explorer could not undo its own action");
    }
  }
  frame.done.clear();
  frame.events.clear();
  if (frame.saved_requests) {
    net->restore_request_state(frame.pending, frame.tokens, frame.startup_sent);
    frame.saved_requests = false;
  }
  if (frame.injection >= 0) ++injections_left[static_cast<std::size_t>(frame.injection)];
  if (frame.request >= 0) ++requests_left[static_cast<std::size_t>(frame.request)];
  frame.injection = -1;
  frame.request = -1;
}

Applied Explorer::Impl::apply(const Choice& choice, Frame& frame, std::string* failure,
                              std::vector<RecordedAction>* log) {
  distinct_current = false;
  frame.done.clear();
  frame.events.clear();
  frame.injection = -1;
  frame.request = -1;
  frame.saved_requests = false;
  log_start = log != nullptr ? log->size() : 0;
  // A step and a finished epoch can change the request state in ways their
  // events do not give back: it is saved, and undo restores it.
  if (has_request_state && choice.kind != Choice::Kind::Inject &&
      choice.kind != Choice::Kind::Request) {
    frame.saved_requests = true;
    frame.startup_sent = net->startup_requests_sent();
    frame.pending = net->pending_requests();
    frame.tokens = net->request_tokens();
  }
  switch (choice.kind) {
    case Choice::Kind::Step: {
      // A step whose request resolution fails keeps the moves made before
      // it, without their events: where one can, a step is undone from a
      // snapshot taken before it.
      if (step_may_fail) frame.snapshot = encode_snapshot(*net);
      ActionResult r = act(frame, action::RunStep{}, log);
      if (!r.ok()) return refuse(frame, r.error(), failure);
      // A transition moves a packet or makes an epoch. A step that only
      // sends or drops requests is none: a request that makes no epoch now
      // never makes one (its cascade depends on the graph alone).
      if (!r.value().made_progress) {
        undo(frame);
        if (log != nullptr)
          log->erase(log->begin() + static_cast<std::ptrdiff_t>(log_start), log->end());
        return Applied::No;
      }
      return Applied::Yes;
    }
    case Choice::Kind::Execute:
      return execute(choice, frame, failure, log);
    case Choice::Kind::Inject: {
      ActionResult made = act(frame, action::CreatePacket{}, log);
      if (!made.ok()) return refuse(frame, made.error(), failure);
      const Ulid packet = made.value().created;
      const PacketLocation& to = declarations.injections[choice.index].location;
      ActionResult moved = act(frame, action::TransportPacketToLocation{packet, to}, log);
      if (!moved.ok()) {
        // The port is full: no injection there now.
        undo(frame);
        if (log != nullptr)
          log->erase(log->begin() + static_cast<std::ptrdiff_t>(log_start), log->end());
        return Applied::No;
      }
      --injections_left[choice.index];
      frame.injection = static_cast<int>(choice.index);
      return Applied::Yes;
    }
    case Choice::Kind::Request: {
      const RequestAllowance& request = declarations.requests[choice.index];
      ActionResult r = act(frame, action::CreateRequest{request.node, request.label}, log);
      if (!r.ok()) return refuse(frame, r.error(), failure);
      --requests_left[choice.index];
      frame.request = static_cast<int>(choice.index);
      return Applied::Yes;
    }
  }
  return Applied::No;
}

Applied Explorer::Impl::refuse(Frame& frame, const NetActionError& error, std::string* failure) {
  if (!keep_refused) undo(frame);
  if (failure != nullptr) *failure = message(error);
  return Applied::Failed;
}

Applied Explorer::Impl::execute(const Choice& choice, Frame& frame, std::string* failure,
                                std::vector<RecordedAction>* log) {
  const Ulid& id = choice.epoch;
  const Epoch* epoch = net->get_epoch(id);
  if (epoch->state == EpochState::Startable) {
    ActionResult r = act(frame, action::StartEpoch{id}, log);
    if (!r.ok()) return refuse(frame, r.error(), failure);
  }
  const Outcome& outcome = *choice.outcome;
  // The packets inside, copied first: the actions below move them.
  inside.clear();
  const LocationTable& table = net->packets_by_location();
  const LocationHandle node = table.find(EpochPlace{PacketLocation::Kind::Node, &id, nullptr});
  if (node != kNoLocation) {
    for (const PacketIndex packet : table.queue(node)) {
      inside.push_back(net->packet_records()[packet].id);
    }
  }
  for (const Ulid& packet : inside) {
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

Fingerprint Explorer::Impl::key() {
  words.clear();
  net->canonical_state(words, &distinct_epochs);
  distinct_current = true;
  words.insert(words.end(), injections_left.begin(), injections_left.end());
  words.insert(words.end(), requests_left.begin(), requests_left.end());
  return fingerprint_of(words);
}

std::pair<std::uint32_t, bool> Explorer::Impl::visit(std::uint32_t parent, std::uint16_t label,
                                                     ExplorationResult& result) {
  const Fingerprint fp = key();
  if (options.limits.max_states > 0 && visited.size() >= options.limits.max_states) {
    const std::uint32_t known = visited.find(fp, words);
    if (known == VisitedSet::kNone) states_full = true;
    return {known, false};
  }
  auto [state, fresh] = visited.insert(fp, words, parent, label);
  if (!fresh) return {state, false};
  const bool over = options.limits.max_packets > 0 && packets_inside() > options.limits.max_packets;
  followed.push_back(!over);
  if (over) add_terminal(TerminalKind::OverLimit, state, stack.size() - 1, result);
  return {state, true};
}

std::uint64_t Explorer::Impl::packets_inside() const {
  return net->packet_count() - net->packet_count_at(PacketLocation::OutsideNet());
}

void Explorer::Impl::add_terminal(TerminalKind kind, std::uint32_t state, std::uint64_t depth,
                                  ExplorationResult& result, std::string failure,
                                  std::uint16_t failed_label) {
  Fingerprint key = visited.fingerprint(state);
  // One failure per state and choice.
  if (kind == TerminalKind::Failed) key.hi ^= 0x9E3779B97F4A7C15ULL * (failed_label + 1U);
  if (!terminal_seen.insert(key).second) return;
  TerminalState t;
  t.kind = kind;
  t.fingerprint = net->fingerprint();
  t.depth = depth;
  t.packets = packets_inside();
  t.failure = std::move(failure);
  result.terminals.push_back(std::move(t));
  terminal_states.push_back(state);
  failed_choices.emplace_back(state, failed_label);
}

void Explorer::Impl::classify(std::uint32_t state, ExplorationResult& result) {
  const TerminalKind kind = packets_inside() > 0 ? TerminalKind::Stuck : TerminalKind::Clean;
  add_terminal(kind, state, stack.size() - 1, result);
}

const std::vector<Choice>& Explorer::Impl::choices_here() {
  Frame& top = stack.back();
  if (!top.listed) {
    list_choices(top.choices);
    top.listed = true;
  }
  return top.choices;
}

void Explorer::Impl::redo(std::uint32_t state, std::uint16_t label,
                          std::vector<RecordedAction>* log) {
  // Choice 0 is always the step: it needs no list.
  Choice choice;
  if (label != 0) {
    const std::vector<Choice>& choices = choices_here();
    if (label >= choices.size()) fail("The explorer could not take a run it took before");
    choice = choices[label];
  }
  Frame& frame = stack.emplace_back();
  frame.state = state;
  if (apply(choice, frame, nullptr, log) != Applied::Yes) {
    fail("The explorer could not take a run it took before");
  }
}

void Explorer::Impl::go_to(std::uint32_t state) {
  path.clear();
  for (std::uint32_t s = state; s != 0; s = visited.parent(s)) path.push_back(s);
  std::reverse(path.begin(), path.end());
  std::size_t common = 0;
  while (common < path.size() && common + 1 < stack.size() &&
         stack[common + 1].state == path[common]) {
    ++common;
  }
  while (stack.size() > common + 1) pop(stack.back());
  for (std::size_t i = common; i < path.size(); ++i) redo(path[i], visited.label(path[i]));
}

void Explorer::Impl::expand(std::uint32_t state, ExplorationResult& result) {
  const std::vector<Choice>& choices = choices_here();
  if (!stop_error.empty()) return;
  std::uint32_t applied = 0;
  std::uint32_t failed = 0;
  std::string failure;
  const bool limited = at_depth_limit();
  for (std::size_t i = 0; i < choices.size(); ++i) {
    Frame& frame = stack.emplace_back();
    const Applied a = apply(choices[i], frame, &failure);
    if (a == Applied::Failed) {
      stack.pop_back();
      ++failed;
      add_terminal(TerminalKind::Failed, state, stack.size() - 1, result, failure,
                   static_cast<std::uint16_t>(i));
      continue;
    }
    if (a == Applied::No) {
      stack.pop_back();
      continue;
    }
    ++applied;
    if (limited) {
      truncated = true;
      result.stopped = StopReason::Depth;
      pop(stack.back());
      break;
    }
    auto [next, fresh] = visit(state, static_cast<std::uint16_t>(i), result);
    if (next == VisitedSet::kNone) {  // max_states reached: the search stops
      pop(stack.back());
      return;
    }
    ++result.transitions;
    frame.state = next;
    if (fresh) {
      result.max_depth = std::max<std::uint64_t>(result.max_depth, stack.size() - 1);
      if (two_layers) look_ahead(next, result);
    }
    pop(stack.back());
  }
  // A state whose every choice fails is told by its failures alone.
  if (applied == 0 && failed == 0) classify(state, result);
}

void Explorer::Impl::look_ahead(std::uint32_t state, ExplorationResult& result) {
  const std::vector<Choice>& choices = choices_here();
  if (!stop_error.empty()) return;
  bool applied = false;
  bool failed = false;
  std::string failure;
  for (std::size_t i = 0; i < choices.size(); ++i) {
    Frame& frame = stack.emplace_back();
    const Applied a = apply(choices[i], frame, &failure);
    if (a != Applied::Yes) {
      stack.pop_back();
      if (a == Applied::Failed) {
        failed = true;
        add_terminal(TerminalKind::Failed, state, stack.size() - 1, result, failure,
                     static_cast<std::uint16_t>(i));
      }
      continue;
    }
    applied = true;
    ++result.transitions;
    // A state known already stays known: only the others wait.
    const Fingerprint fp = key();
    if (!visited.contains(fp)) pending.push_back(state, fp, static_cast<std::uint16_t>(i));
    pop(stack.back());
  }
  if (!applied && !failed) classify(state, result);
}

}  // namespace zellik::explore
