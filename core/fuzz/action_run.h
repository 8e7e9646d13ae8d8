#pragma once

// A run of calls on a net, chosen by the input bytes (every action kind with
// valid and invalid arguments, run steps, undo of the newest action, of an
// older one out of order and of events altered on the way back, forks
// through snapshots), checking after every call: the net keeps its
// invariants; a refused action leaves it as it was; a successful action,
// undone on a fork, gives what undo promises; a snapshot restores to the
// same state; and a fork, driven alongside its original, answers every call
// the same way.
//
// Until the run undoes out of order, the strict invariants hold; afterwards
// the net may hold what only undo makes (a packet inside an epoch that
// ended, an epoch in any state), and must stay sound. No call may stop with
// an internal failure either way.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "fuzz_input.h"
#include "support/net_checks.h"
#include "support/undo_model.h"
#include "zellik/base/internal_failure.h"
#include "zellik/net/net_action_error.h"
#include "zellik/net/net_sim.h"
#include "zellik/net/record_codec.h"
#include "zellik/net/snapshot.h"

namespace zellik::fuzz {

using testkit::Strictness;

inline constexpr std::size_t kMaxCalls = 64;
inline const Ulid kUnknownId{9, 9};

// An action that was done, with its events, for later undo.
struct Done {
  NetAction action;
  EventList events;
};

inline std::vector<std::string> event_bytes(const EventList& events) {
  std::vector<std::string> out;
  out.reserve(events.size());
  for (const NetEvent& e : events) out.push_back(encode_record(e));
  return out;
}

inline std::string_view action_name(const NetAction& action) {
  return std::visit([](const auto& a) { return std::decay_t<decltype(a)>::kConstructor; }, action);
}

// An action's outcome in a line: its error's kind, or its events' kinds.
inline std::string outcome(const NetActionResponse& response) {
  if (!response.ok()) return "error " + std::string(kind_name(response.error().kind));
  std::string text = "events";
  for (const NetEvent& e : response.value().events) {
    text += ' ';
    text += std::visit([](const auto& v) { return std::decay_t<decltype(v)>::kKind; }, e);
  }
  return text;
}

// Every event's byte form reads back to the same event.
inline void check_byte_forms(const EventList& events) {
  for (const NetEvent& e : events) {
    const std::string bytes = encode_record(e);
    const std::optional<NetEvent> back = decode_record<NetEvent>(bytes);
    if (!back || encode_record(*back) != bytes)
      finding("an event's byte form does not read back", {std::string(kind_name(e))});
  }
}

// An error's text names every field its template asks for.
inline void check_text(const NetActionError& error) {
  const std::string text = message(error);
  if (text.empty() || text.find('{') != std::string::npos || kind_name(error.kind).empty())
    finding("an action error without a clear text: " + text);
}
inline void check_text(const UndoError& error) {
  if (error.text.empty() || error.message().rfind(UndoError::prefix(error.kind), 0) != 0)
    finding("an undo error without a clear text: " + error.message());
}

// A copy of `net` through its snapshot, which must be in `state`, the state
// of `net`, and continue the same ids.
inline std::unique_ptr<NetSim> fork_of(const NetSim& net, const testkit::Expected& state,
                                       const std::string& bytes) {
  auto fork = decode_snapshot(net.graph(), bytes);
  if (!fork.ok()) finding("a reachable state does not restore: " + fork.error().text);
  std::unique_ptr<NetSim> copy = std::move(fork).value();
  const testkit::Expected theirs = testkit::capture(*copy);
  if (theirs != state)
    finding("a restored state differs", difference(state.lines(), theirs.lines()));
  if (!(copy->id_source().state() == net.id_source().state()))
    finding("a restored net continues other ids");
  return copy;
}

inline std::unique_ptr<NetSim> fork_of(const NetSim& net) {
  return fork_of(net, testkit::capture(net), encode_snapshot(net));
}

class Run {
 public:
  // A run on `net`, a net over `graph` (which outlives the run).
  Run(const Graph& graph, ByteInput& in, std::unique_ptr<NetSim> net, Strictness strictness)
      : graph_(graph), in_(in), net_(std::move(net)), strictness_(strictness) {
    for (const auto& [name, node] : graph.nodes()) {
      nodes_.push_back(&node);
      node_names_.push_back(name);
    }
    node_names_.emplace_back("nowhere");
    for (const Edge& edge : graph.edges()) graph_places_.push_back(PacketLocation::Edge(edge));
    for (const Node* node : nodes_) {
      for (const auto& [port, slots] : node->in_ports)
        graph_places_.push_back(PacketLocation::InputPort(node->name, port));
    }
    graph_places_.push_back(PacketLocation::OutsideNet());
    // What the net holds already, in id order, so that forks choose alike.
    for (const auto& [id, packet] : net_->packets()) packets_.push_back(id);
    std::sort(packets_.begin(), packets_.end());
    for (const auto& [id, epoch] : net_->epochs()) {
      if (const Node* node = graph_.find_node(epoch.node_name)) epochs_.emplace_back(id, node);
    }
    std::sort(epochs_.begin(), epochs_.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    state_ = testkit::capture(*net_);
    bytes_ = encode_snapshot(*net_);
  }

  const NetSim& net() const { return *net_; }

  void run() {
    // ZELLIK_FUZZ_TRACE=1 lists the calls of a run, for reading a finding.
    static const bool trace = std::getenv("ZELLIK_FUZZ_TRACE") != nullptr;
    for (std::size_t call = 0; call < kMaxCalls && !in_.done(); ++call) {
      const std::size_t choice = in_.pick(20);
      if (trace) std::fprintf(stderr, "call %zu: %zu\n", call, choice);
      switch (choice) {
        case 0:
        case 1:
          act(action::RunStep{});
          break;
        case 2:
          act(action::CreatePacket{});
          break;
        case 3:
          act(action::CreatePacket{epoch()});
          break;
        case 4:
          act(action::ConsumePacket{packet()});
          break;
        case 5:
          act(action::DestroyPacket{packet()});
          break;
        case 6:
          act(action::StartEpoch{epoch()});
          break;
        case 7:
          act(action::FinishEpoch{epoch()});
          break;
        case 8:
          act(action::CancelEpoch{epoch()});
          break;
        case 9:
          act(create_epoch());
          break;
        case 10:
          act(action::LoadPacketIntoOutputPort{packet(), any_port_name()});
          break;
        case 11:
          act(send());
          break;
        case 12:
          act(action::TransportPacketToLocation{packet(), place(/*or_missing=*/true)});
          break;
        case 13:
          act(action::CreateRequest{in_.one_of(node_names_), Name(in_.pick(2) ? "l1" : "l2")});
          break;
        case 14:
          run_steps();
          break;
        case 15:
          undo_newest();
          break;
        case 16:
          undo_older();
          break;
        case 17:
          undo_altered();
          break;
        default:
          fork();
          break;
      }
    }
  }

 private:
  // --- Choosing arguments ---------------------------------------------------
  // Ids come from every packet and epoch the run has made (live or not) and
  // now and then one no net made; ids repeat between a net and its forks,
  // which are seeded alike.

  Ulid packet() {
    const std::size_t n = packets_.size();
    const std::size_t i = in_.pick(n + 1);
    return i == n ? kUnknownId : packets_[i];
  }
  Ulid epoch() {
    const std::size_t n = epochs_.size();
    const std::size_t i = in_.pick(n + 1);
    return i == n ? kUnknownId : epochs_[i].first;
  }
  const Node& node() { return *nodes_[in_.pick(nodes_.size())]; }
  Name any_port_name() {
    const Node& n = node();
    std::vector<Name> names;
    for (const auto& [port, slots] : n.out_ports) names.push_back(port);
    for (const auto& [port, slots] : n.in_ports) names.push_back(port);
    names.emplace_back("nowhere");
    return in_.one_of(names);
  }

  // Any location a packet can be at: the graph's, and the Node and output
  // port locations of every epoch the run has made. As a destination, now
  // and then one that names what the graph lacks.
  PacketLocation place(bool or_missing = false) {
    const std::size_t n = graph_places_.size();
    const std::size_t i = in_.pick(n + 2 * epochs_.size() + (or_missing ? 2 : 0));
    if (i < n) return graph_places_[i];
    if (i == n + 2 * epochs_.size()) return PacketLocation::InputPort(Name("nowhere"), Name("in"));
    if (i > n + 2 * epochs_.size()) {
      return epochs_.empty() ? PacketLocation::OutsideNet()
                             : PacketLocation::OutputPort(epochs_.back().first, Name("nowhere"));
    }
    const auto& [id, node] = epochs_[(i - n) / 2];
    if ((i - n) % 2 == 0 || node->out_ports.empty()) return PacketLocation::Node(id);
    std::vector<Name> ports;
    for (const auto& [port, slots] : node->out_ports) ports.push_back(port);
    return PacketLocation::OutputPort(id, in_.one_of(ports));
  }

  NetAction create_epoch() {
    const Node& n = node();
    std::vector<std::pair<Name, Ulid>> salvo;
    for (const auto& [port, slots] : n.in_ports) {
      for (const Ulid& id :
           net_->get_packets_at_location(PacketLocation::InputPort(n.name, port))) {
        if (in_.pick(2) == 0) salvo.emplace_back(port, id);
      }
    }
    if (in_.pick(8) == 0) salvo.emplace_back(Name("in"), packet());
    return action::CreateEpoch{n.name, Salvo{Name("manual"), std::move(salvo)}};
  }

  NetAction send() {
    const Ulid id = epoch();
    const Epoch* e = net_->get_epoch(id);
    const Node* n = e == nullptr ? nullptr : net_->graph().find_node(e->node_name.view());
    std::vector<Name> conditions = {Name("none")};
    if (n != nullptr) {
      for (const auto& [name, condition] : n->out_salvo_conditions) conditions.push_back(name);
    }
    return action::SendOutputSalvo{id, in_.one_of(conditions)};
  }

  // --- Calls ------------------------------------------------------------------

  bool strict() const { return strictness_ == Strictness::kContractKept; }

  void check(const NetSim& net, const char* what) const {
    const std::vector<std::string> faults = testkit::net_faults(net, strictness_);
    if (!faults.empty()) finding(std::string("invariants broken ") + what, faults);
  }

  // After a call that may have changed the net: its invariants, its state
  // (kept for the next call), a fork through its snapshot (returned), and
  // the twin, when there is one, in the same state.
  std::unique_ptr<NetSim> settle(const char* what) {
    check(*net_, what);
    state_ = testkit::capture(*net_);
    bytes_ = encode_snapshot(*net_);
    std::unique_ptr<NetSim> fork = fork_of(*net_, state_, bytes_);
    if (twin_) {
      check(*twin_, "in the twin");
      const testkit::Expected theirs = testkit::capture(*twin_);
      if (theirs != state_)
        finding("a fork left its original", difference(state_.lines(), theirs.lines()));
    }
    return fork;
  }

  NetActionResponse perform(NetSim& net, const NetAction& action) {
    try {
      return net.do_action(action);
    } catch (const InternalFailure& failure) {
      finding(std::string("internal failure: ") + failure.what());
    }
  }

  void run_steps(NetSim& net, EventList& events) {
    try {
      net.run_steps_into(events, 32, std::chrono::steady_clock::time_point::max());
    } catch (const InternalFailure& failure) {
      finding(std::string("internal failure in a run: ") + failure.what());
    }
  }

  void learn(const NetSim& net, const EventList& events) {
    for (const NetEvent& e : events) {
      if (const auto* created = std::get_if<event::PacketCreated>(&e)) {
        packets_.push_back(created->packet_id);
      } else if (const auto* made = std::get_if<event::EpochCreated>(&e)) {
        // The zoo's graph outlives every net of the run; a net's own copy
        // goes with the net.
        const Epoch* epoch = net.get_epoch(made->epoch_id);
        const Node* node = epoch == nullptr ? nullptr : graph_.find_node(epoch->node_name);
        if (node != nullptr) epochs_.emplace_back(made->epoch_id, node);
      }
    }
  }

  void act(const NetAction& action) {
    static const bool trace = std::getenv("ZELLIK_FUZZ_TRACE") != nullptr;
    if (trace) std::fprintf(stderr, "  %s\n", std::string(action_name(action)).c_str());
    testkit::Expected before = std::move(state_);
    NetActionResponse response = perform(*net_, action);
    if (twin_) {
      const NetActionResponse theirs = perform(*twin_, action);
      if (theirs.ok() != response.ok() ||
          (!theirs.ok() && theirs.error().kind != response.error().kind) ||
          (theirs.ok() &&
           event_bytes(theirs.value().events) != event_bytes(response.value().events))) {
        finding("a fork answered an action otherwise",
                {"action " + std::string(action_name(action)), "original: " + outcome(response),
                 "fork: " + outcome(theirs)});
      }
    }
    if (!response.ok()) {
      check_text(response.error());
      check(*net_, "after a refused action");
      // Equal snapshot bytes mean an equal state, one already restored.
      if (!twin_ && encode_snapshot(*net_) == bytes_) {
        state_ = std::move(before);
        return;
      }
      (void)settle("after a refused action");
      if (state_ != before)
        finding("a refused action changed the net", difference(before.lines(), state_.lines()));
      return;
    }
    EventList events = std::move(response.value().events);
    check_byte_forms(events);
    learn(*net_, events);

    // Undone on a fork, the action must give back what undo promises.
    std::unique_ptr<NetSim> fork = settle("after an action");
    const Result<Unit, UndoError> undone = fork->undo_action(action, events);
    if (!undone.ok()) {
      if (strict()) finding("undo of the newest action failed: " + undone.error().text);
    } else {
      check(*fork, "after undo");
      const testkit::Expected got = testkit::capture(*fork);
      const testkit::Expected want =
          testkit::promised(std::move(before), net_->graph(), action, events);
      if (got != want) {
        finding("undo of " + std::string(action_name(action)) + " did not give what it promises",
                difference(want.lines(), got.lines()));
      }
    }
    done_.push_back(Done{action, std::move(events)});
  }

  void run_steps() {
    EventList events;
    run_steps(*net_, events);
    if (twin_) {
      EventList theirs;
      run_steps(*twin_, theirs);
      if (event_bytes(theirs) != event_bytes(events)) finding("a fork ran otherwise");
    }
    check_byte_forms(events);
    learn(*net_, events);
    (void)settle("after a run");
    done_.push_back(Done{action::RunStep{}, std::move(events)});
  }

  // Undoes `done` on the net and its twin alike.
  void undo(const Done& done, bool must_succeed) {
    const Result<Unit, UndoError> ours = net_->undo_action(done.action, done.events);
    if (!ours.ok()) check_text(ours.error());
    if (must_succeed && !ours.ok()) finding("undo in reverse order failed: " + ours.error().text);
    if (twin_) {
      const Result<Unit, UndoError> theirs = twin_->undo_action(done.action, done.events);
      if (theirs.ok() != ours.ok() || (!ours.ok() && theirs.error().text != ours.error().text))
        finding("a fork undid otherwise");
    }
    (void)settle("after undo");
  }

  void undo_newest() {
    if (done_.empty()) return;
    const Done last = std::move(done_.back());
    done_.pop_back();
    undo(last, strict());
  }

  void undo_older() {
    if (done_.size() < 2) return;
    const std::size_t k = in_.pick(done_.size() - 1);
    const Done older = std::move(done_[k]);
    done_.erase(done_.begin() + static_cast<std::ptrdiff_t>(k));
    strictness_ = Strictness::kAnyUndo;
    undo(older, false);
  }

  // Undoes the events of an earlier action, altered the way a caller's
  // mistakes alter them: events dropped, repeated or swapped, locations,
  // positions, ids and epoch states changed, the net's own notes on a move
  // (row and handle) made up, and another action named.
  void undo_altered() {
    if (done_.empty()) return;
    Done altered = done_[in_.pick(done_.size())];
    if (in_.pick(2) == 0) altered.action = done_[in_.pick(done_.size())].action;
    EventList& events = altered.events;
    for (std::size_t n = 1 + in_.pick(3); n > 0 && !events.empty(); --n) {
      const std::size_t i = in_.pick(events.size());
      switch (in_.pick(6)) {
        case 0:
          events.erase(events.begin() + static_cast<std::ptrdiff_t>(i));
          break;
        case 1:
          events.push_back(events[i]);
          break;
        case 2:
          std::swap(events[i], events[in_.pick(events.size())]);
          break;
        default:
          alter(events[i]);
          break;
      }
    }
    strictness_ = Strictness::kAnyUndo;
    undo(altered, false);
  }

  void alter(NetEvent& event) {
    std::visit(
        [&](auto& e) {
          using E = std::decay_t<decltype(e)>;
          if constexpr (std::is_same_v<E, event::PacketMoved>) {
            switch (in_.pick(5)) {
              case 0:
                e.from_location = place();
                break;
              case 1:
                e.to_location = place();
                break;
              case 2:
                e.from_index = in_.pick(2) == 0 ? in_.pick(4) : ~std::uint64_t{0};
                break;
              case 3:
                e.packet_row = static_cast<PacketIndex>(in_.u64());
                e.from_handle = static_cast<LocationHandle>(in_.u64());
                break;
              default:
                e.packet_id = packet();
                break;
            }
          } else if constexpr (std::is_same_v<E, event::PacketConsumed> ||
                               std::is_same_v<E, event::PacketDestroyed>) {
            if (in_.pick(2) == 0) {
              e.location = place();
            } else {
              e.packet_id = packet();
            }
          } else if constexpr (std::is_same_v<E, event::EpochFinished> ||
                               std::is_same_v<E, event::EpochCancelled>) {
            Epoch epoch = *e.epoch;
            epoch.state = static_cast<EpochState>(in_.pick(3));
            e.epoch = HeapValue<Epoch>(std::move(epoch));
          } else if constexpr (std::is_same_v<E, event::RequestCreated>) {
            e.node_name = node().name;
            e.request_source = static_cast<RequestCreatedSource>(in_.pick(3));
          } else if constexpr (std::is_same_v<E, event::PacketCreated>) {
            e.packet_id = packet();
          } else if constexpr (std::is_same_v<E, event::EpochCreated> ||
                               std::is_same_v<E, event::EpochStarted> ||
                               std::is_same_v<E, event::OutputSalvoTriggered>) {
            e.epoch_id = epoch();
          }
        },
        event);
  }

  // Forks the net through a snapshot; the run goes on with either, and the
  // other follows it call by call.
  void fork() {
    std::unique_ptr<NetSim> copy = fork_of(*net_, state_, bytes_);
    if (in_.pick(2) == 0) {
      twin_ = std::move(copy);
    } else {
      twin_ = std::exchange(net_, std::move(copy));
    }
  }

  const Graph& graph_;
  ByteInput& in_;
  std::unique_ptr<NetSim> net_;
  std::unique_ptr<NetSim> twin_;
  std::vector<const Node*> nodes_;
  std::vector<Name> node_names_;
  std::vector<PacketLocation> graph_places_;
  std::vector<Ulid> packets_;
  std::vector<std::pair<Ulid, const Node*>> epochs_;
  std::vector<Done> done_;
  Strictness strictness_;
  testkit::Expected state_;  // of net_, after the last call
  std::string bytes_;        // its snapshot
};

}  // namespace zellik::fuzz
