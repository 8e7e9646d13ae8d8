// Drives a small net with random actions and steps. After every successful
// action the action is undone with its own events, the state is compared with
// what undo promises, and the action is performed again before going on.
// Every state is also forked through a snapshot, and now and then an older
// action is undone out of order: the fork must equal its original in every
// state either reaches.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "support/graph_zoo.h"
#include "support/net_fixtures.h"
#include "support/net_invariants.h"
#include "support/step_fixtures.h"
#include "support/undo_model.h"
#include "zellik/base/internal_failure.h"
#include "zellik/net/snapshot.h"

namespace zellik {
namespace {

using namespace testkit;  // NOLINT: test-local shorthand

std::string action_name(const NetAction& action) {
  return std::string(kKindNames<NetAction>[action.index()]);
}

// Picks random actions that are usually, not always, valid.
class ActionPicker {
 public:
  ActionPicker(const NetSim& net, std::uint32_t seed) : net_(net), rng_(seed) {}

  NetAction next() {
    switch (pick(20)) {
      case 0:
      case 1:
      case 2:
      case 3:
        return action::RunStep{};
      case 4:
      case 5:
        return create_packet();
      case 6:
        return action::ConsumePacket{any_packet()};
      case 7:
        return action::DestroyPacket{any_packet()};
      case 8:
      case 9:
        return action::StartEpoch{any_epoch()};
      case 10:
        return action::FinishEpoch{any_epoch()};
      case 11:
        return pick(2) == 0 ? NetAction{action::CancelEpoch{any_epoch()}}
                            : NetAction{action::FinishEpoch{any_epoch()}};
      case 12:
        return create_epoch();
      case 13:
      case 14:
        return load();
      case 15:
      case 16:
        return send();
      case 17:
      case 18:
        return action::TransportPacketToLocation{any_packet(), any_location()};
      default:
        return action::CreateRequest{Name(one_of<const char*>({"R", "K", "S"})),
                                     Name(one_of<const char*>({"l1", "l2"}))};
    }
  }

 private:
  std::size_t pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
  }

  template <class T>
  T one_of(const std::vector<T>& items) {
    return items[pick(items.size())];
  }

  std::vector<Ulid> sorted_packets() const {
    std::vector<Ulid> ids;
    for (const auto& [id, packet] : net_.packets()) ids.push_back(id);
    std::sort(ids.begin(), ids.end());
    return ids;
  }

  std::vector<Ulid> sorted_epochs() const {
    std::vector<Ulid> ids;
    for (const auto& [id, epoch] : net_.epochs()) ids.push_back(id);
    std::sort(ids.begin(), ids.end());
    return ids;
  }

  // Now and then an id that names nothing, to exercise refusals.
  Ulid any_packet() {
    const std::vector<Ulid> ids = sorted_packets();
    return ids.empty() || pick(10) == 0 ? Ulid{9, 9} : one_of(ids);
  }
  Ulid any_epoch() {
    const std::vector<Ulid> ids = sorted_epochs();
    return ids.empty() || pick(10) == 0 ? Ulid{9, 9} : one_of(ids);
  }

  NetAction create_packet() {
    std::vector<Ulid> running;
    for (const Ulid& id : sorted_epochs()) {
      if (net_.get_epoch(id)->state == EpochState::Running) running.push_back(id);
    }
    if (running.empty() || pick(3) == 0) return action::CreatePacket{};
    return action::CreatePacket{one_of(running)};
  }

  NetAction create_epoch() {
    const char* node = one_of<const char*>({"M", "M", "K", "R", "S"});
    const char* port = std::string_view(node) == "M" ? "a" : "in";
    std::vector<std::pair<Name, Ulid>> taken;
    for (const Ulid& id : net_.get_packets_at_location(at_input(node, port))) {
      if (pick(2) == 0) taken.emplace_back(Name(port), id);
    }
    return action::CreateEpoch{Name(node), Salvo{Name("hand"), std::move(taken)}};
  }

  NetAction load() {
    std::vector<Ulid> inside;
    for (const Ulid& id : sorted_packets()) {
      const PacketLocation location = net_.get_packet(id)->location;
      // After an undo out of order a packet can sit in an epoch that ended.
      if (location.is(PacketLocation::Kind::Node) && net_.get_epoch(location.epoch_id()) != nullptr)
        inside.push_back(id);
    }
    if (inside.empty()) return action::LoadPacketIntoOutputPort{any_packet(), Name("x")};
    const Ulid id = one_of(inside);
    const Epoch* epoch = net_.get_epoch(net_.get_packet(id)->location.epoch_id());
    const Node* node = net_.graph().find_node(epoch->node_name.view());
    std::vector<Name> ports;
    for (const auto& [name, port] : node->out_ports) ports.push_back(name);
    std::sort(ports.begin(), ports.end());
    if (ports.empty() || pick(8) == 0) ports.emplace_back("nowhere");
    return action::LoadPacketIntoOutputPort{id, one_of(ports)};
  }

  NetAction send() {
    // Mostly a condition whose ports hold something, so that packets leave.
    std::vector<std::pair<Ulid, Name>> loaded;
    for (const Ulid& id : sorted_epochs()) {
      const Node* node = net_.graph().find_node(net_.get_epoch(id)->node_name.view());
      for (const auto& [name, c] : node->out_salvo_conditions) {
        for (const auto& [port, count] : c.ports) {
          if (net_.packet_count_at(PacketLocation::OutputPort(id, port)) != 0) {
            loaded.emplace_back(id, name);
            break;
          }
        }
      }
    }
    if (!loaded.empty() && pick(4) != 0) {
      const auto& [id, name] = loaded[pick(loaded.size())];
      return action::SendOutputSalvo{id, name};
    }
    const Ulid id = any_epoch();
    const Epoch* epoch = net_.get_epoch(id);
    if (epoch == nullptr) return action::SendOutputSalvo{id, Name("fwd")};
    const Node* node = net_.graph().find_node(epoch->node_name.view());
    std::vector<Name> conditions;
    for (const auto& [name, c] : node->out_salvo_conditions) conditions.push_back(name);
    if (conditions.empty()) conditions.emplace_back("none");
    return action::SendOutputSalvo{id, one_of(conditions)};
  }

  PacketLocation any_location() {
    std::vector<PacketLocation> places = {PacketLocation::OutsideNet(), at_input("M", "a"),
                                          at_input("K", "in"),          at_input("R", "in"),
                                          on_edge("S.o", "M.a"),        on_edge("T.o", "M.a"),
                                          on_edge("M.x", "K.in"),       on_edge("K.out", "R.in")};
    for (const Ulid& id : sorted_epochs()) {
      places.push_back(PacketLocation::Node(id));
      if (net_.get_epoch(id)->node_name == "M")
        places.push_back(PacketLocation::OutputPort(id, Name("u")));
    }
    return one_of(places);
  }

  const NetSim& net_;
  std::mt19937 rng_;
};

// A fork of `net` through its snapshot, which must describe the same state.
void expect_fork_equal(const NetSim& net) {
  auto fork = decode_snapshot(net.graph(), encode_snapshot(net));
  ASSERT_TRUE(fork.ok()) << fork.error().text;
  ASSERT_EQ(describe_net(*fork.value()), describe_net(net));
}

void run_roundtrips(std::uint32_t seed, int actions) {
  NetSim net(roundtrip_graph());
  ActionPicker picker(net, seed);
  std::mt19937 rng(seed);
  std::vector<std::pair<NetAction, EventList>> done;
  Strictness strictness = Strictness::kContractKept;
  int undone = 0;
  for (int i = 0; i < actions; ++i) {
    const NetAction action = picker.next();
    SCOPED_TRACE("seed " + std::to_string(seed) + ", action " + std::to_string(i) + " " +
                 action_name(action));
    const Expected before = capture(net);
    const std::vector<std::string> described = describe_net(net);
    NetActionResponse first = NetActionResponse(NetActionError::NodeNotFound(Name("")));
    try {
      first = net.do_action(action);
    } catch (const InternalFailure& failure) {
      // Undo out of order can leave a packet in an ended epoch, which some
      // actions stop on; with the contract kept nothing may stop.
      ASSERT_EQ(strictness, Strictness::kAnyUndo) << failure.what();
      ASSERT_EQ(describe_net(net), described) << "a stopped action changed the net";
      continue;
    }
    ExpectNetInvariants(net, strictness);
    expect_fork_equal(net);
    if (!first.ok()) {
      ASSERT_EQ(describe_net(net), described) << "a refused action changed the net";
      continue;
    }
    const EventList events = first.value().events;

    // Every other undo moves out of a copy of the events, as the explorer
    // does with the buffers it drops; both must leave the same net.
    EventList spent = events;
    const Result<Unit, UndoError> undo = i % 2 == 0
                                             ? net.undo_action(action, events)
                                             : net.undo_events(action, std::span<NetEvent>(spent));
    ASSERT_TRUE(undo.ok()) << undo.error().text;
    ExpectNetInvariants(net, strictness);
    ASSERT_EQ(capture(net).lines(), promised(before, net.graph(), action, events).lines());
    expect_fork_equal(net);
    ++undone;

    NetActionResponse again = net.do_action(action);
    ASSERT_TRUE(again.ok()) << "the action was refused after its undo";
    done.emplace_back(action, std::move(again.value().events));

    // Now and then an older action is undone out of order, which may fail
    // part way; the net must stay sound and forkable either way.
    if (done.size() > 2 && rng() % 16 == 0) {
      const std::size_t k = rng() % (done.size() - 1);
      (void)net.undo_action(done[k].first, done[k].second);
      done.erase(done.begin() + static_cast<std::ptrdiff_t>(k));
      strictness = Strictness::kAnyUndo;
      ExpectNetInvariants(net, strictness);
      expect_fork_equal(net);
    }
  }
  // The mix of actions must leave most of them succeeding, or the test
  // checks little.
  EXPECT_GT(undone, actions / 3);
}

TEST(UndoRoundtrip, RandomActionsUndoAndRedoCleanly) {
  for (std::uint32_t seed = 1; seed <= 12; ++seed) run_roundtrips(seed, 400);
}

}  // namespace
}  // namespace zellik
