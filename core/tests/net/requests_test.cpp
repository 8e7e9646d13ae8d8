#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/net_test_access.h"
#include "support/step_fixtures.h"

namespace zellik {
namespace {

using namespace testkit;  // NOLINT: test-local shorthand

using Kinds = std::vector<std::string>;
using Texts = std::vector<std::string>;

// Source S feeds R through a dependency edge; R requests on the given
// triggers with label "lbl".
Graph source_graph(std::vector<DependencyRequestTrigger> triggers = {}) {
  NodeBuilder r("R");
  r.in("in").in_condition("pair", condition(port_term("in", {PortState::Kind::Equals, 2}), {"in"}));
  if (!triggers.empty()) r.requests(std::move(triggers), "lbl");
  return with_dependency_edges(Graph({node("S", {}, {"out"}), r}, {edge("S.out", "R.in")}),
                               {edge("S.out", "R.in")});
}

TEST(Requests, ExternalRequestGivesTheSourceARequestEpochAtTheNextStep) {
  NetSim net(source_graph());
  const EventList made = act(net, action::CreateRequest{Name("R"), Name("job")});
  ASSERT_EQ(event_kinds(made), Kinds{"RequestCreated"});
  EXPECT_EQ(event_as<event::RequestCreated>(made, 0).request_source,
            RequestCreatedSource::External);
  ASSERT_EQ(tables_of(net).requests().pending.size(), 1u);

  const StepOutcome s = step(net);
  EXPECT_TRUE(s.made_progress);
  ASSERT_EQ(event_kinds(s.events),
            (Kinds{"RequestCascadeResolved", "EpochCreated", "RequestEpochCreated"}));
  const auto& resolved = event_as<event::RequestCascadeResolved>(s.events, 0);
  EXPECT_EQ(names(resolved.source_nodes), Texts{"S"});
  EXPECT_EQ(resolved.label, "job");
  const auto& created = event_as<event::RequestEpochCreated>(s.events, 2);
  EXPECT_EQ(created.epoch_id, event_as<event::EpochCreated>(s.events, 1).epoch_id);
  EXPECT_EQ(created.source_node, "S");
  EXPECT_EQ(created.label, "job");

  const Epoch* epoch = net.get_epoch(created.epoch_id);
  ASSERT_NE(epoch, nullptr);
  EXPECT_EQ(epoch->state, EpochState::Startable);
  EXPECT_EQ(epoch->in_salvo.salvo_condition, "__request__");
  EXPECT_TRUE(epoch->in_salvo.packets.empty());
  EXPECT_TRUE(
      tables_of(net).locations().contains(PacketLocation::OutputPort(epoch->id, Name("out"))));
  EXPECT_TRUE(tables_of(net).requests().pending.empty());
}

TEST(Requests, RequestsThatCannotStartAnythingAreRefusedOrDropped) {
  NetSim net(source_graph());
  const NetActionResponse missing = net.do_action(action::CreateRequest{Name("Z"), Name("x")});
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().kind, NetActionError::Kind::RequestNodeNotFound);
  EXPECT_EQ(missing.error().node_name, "Z");
  EXPECT_TRUE(tables_of(net).requests().pending.empty());

  // S has no dependency edge into it: the request is taken and dropped.
  act(net, action::CreateRequest{Name("S"), Name("x")});
  const StepOutcome s = step(net);
  EXPECT_FALSE(s.made_progress);
  EXPECT_TRUE(s.events.empty());
  EXPECT_TRUE(tables_of(net).requests().pending.empty());
  EXPECT_TRUE(net.epochs().empty());
}

TEST(Requests, StartupRequestsAreMadeOnce) {
  NetSim net(
      source_graph({DependencyRequestTrigger::OnStartup, DependencyRequestTrigger::OnStartup}));
  const StepOutcome first = step(net);
  ASSERT_EQ(event_kinds(first.events), (Kinds{"RequestCreated", "RequestCascadeResolved",
                                              "EpochCreated", "RequestEpochCreated"}));
  const auto& created = event_as<event::RequestCreated>(first.events, 0);
  EXPECT_EQ(created.request_source, RequestCreatedSource::OnStartup);
  EXPECT_EQ(created.node_name, "R");
  EXPECT_EQ(created.label, "lbl");
  EXPECT_TRUE(tables_of(net).requests().startup_requests_sent);

  const StepOutcome second = step(net);
  EXPECT_TRUE(second.events.empty());
  EXPECT_EQ(epochs_of(net, "S").size(), 1u);
}

TEST(Requests, NoSalvoTokenComesBackWhenAnEpochOfTheNodeEnds) {
  NetSim net(source_graph({DependencyRequestTrigger::OnNoSalvoTriggered}));
  EXPECT_EQ(tables_of(net).requests().tokens.at(Name("R")), true);
  place_packet(net, at_input("R", "in"));
  ASSERT_EQ(event_kinds(step(net).events).front(), "RequestCreated");
  EXPECT_EQ(tables_of(net).requests().tokens.at(Name("R")), false);
  EXPECT_TRUE(step(net).events.empty());

  // Finishing an epoch of R gives the token back, and R asks again.
  const Epoch created =
      std::get<response::CreatedEpoch>(
          expect_success(net.do_action(action::CreateEpoch{Name("R"), Salvo{Name("hand"), {}}}))
              .data)
          .epoch;
  act(net, action::StartEpoch{created.id});
  act(net, action::FinishEpoch{created.id});
  EXPECT_EQ(tables_of(net).requests().tokens.at(Name("R")), true);
  EXPECT_EQ(event_kinds(step(net).events).front(), "RequestCreated");
  EXPECT_EQ(tables_of(net).requests().tokens.at(Name("R")), false);

  // So does cancelling one.
  const Epoch other =
      std::get<response::CreatedEpoch>(
          expect_success(net.do_action(action::CreateEpoch{Name("R"), Salvo{Name("hand"), {}}}))
              .data)
          .epoch;
  act(net, action::CancelEpoch{other.id});
  EXPECT_EQ(tables_of(net).requests().tokens.at(Name("R")), true);

  // A node without the trigger never gets a token.
  NetSimTestAccess::set_request_token(net, "S", true);
  EXPECT_FALSE(tables_of(net).requests().tokens.contains(Name("S")));
}

TEST(Requests, DiamondReachesItsSourceOnce) {
  // A -> B, A -> C, B -> D.in1, C -> D.in2; both D ports have dependency edges.
  const std::vector<Edge> edges = {edge("A.ob", "B.in"), edge("A.oc", "C.in"),
                                   edge("B.out", "D.in1"), edge("C.out", "D.in2")};
  NetSim net(with_dependency_edges(Graph({node("A", {}, {"ob", "oc"}), node("B", {"in"}, {"out"}),
                                          node("C", {"in"}, {"out"}), node("D", {"in1", "in2"})},
                                         edges),
                                   {edges[2], edges[3]}));
  act(net, action::CreateRequest{Name("D"), Name("x")});
  const StepOutcome s = step(net);
  ASSERT_EQ(event_kinds(s.events),
            (Kinds{"RequestCascadeResolved", "EpochCreated", "RequestEpochCreated"}));
  EXPECT_EQ(names(event_as<event::RequestCascadeResolved>(s.events, 0).source_nodes), Texts{"A"});
  EXPECT_EQ(epochs_of(net, "A").size(), 1u);
}

TEST(Requests, CycleResolvesWithNoSources) {
  // X and Y feed each other and nothing else feeds them; X also feeds R.
  const Edge to_r = edge("X.o1", "R.in");
  NetSim net(with_dependency_edges(
      Graph({node("X", {"in"}, {"o1", "o2"}), node("Y", {"in"}, {"out"}), node("R", {"in"})},
            {to_r, edge("X.o2", "Y.in"), edge("Y.out", "X.in")}),
      {to_r}));
  act(net, action::CreateRequest{Name("R"), Name("x")});
  const StepOutcome s = step(net);
  EXPECT_FALSE(s.made_progress);
  ASSERT_EQ(event_kinds(s.events), Kinds{"RequestCascadeResolved"});
  EXPECT_TRUE(event_as<event::RequestCascadeResolved>(s.events, 0).source_nodes.empty());
  EXPECT_TRUE(net.epochs().empty());
}

// R1 and R3 are fed by source S; R2 by B, whose second input y has no edge.
Graph half_connected_graph() {
  const std::vector<Edge> deps = {edge("S.o1", "R1.in"), edge("B.out", "R2.in"),
                                  edge("S.o3", "R3.in")};
  std::vector<Edge> edges = deps;
  edges.push_back(edge("S.ob", "B.x"));
  edges.push_back(edge("S.op", "P.in"));
  return with_dependency_edges(
      Graph({node("S", {}, {"o1", "o3", "ob", "op"}), node("B", {"x", "y"}, {"out"}),
             node("R1", {"in"}), node("R2", {"in"}), node("R3", {"in"}), node("P", {"in"})},
            edges),
      deps);
}

TEST(Requests, FailingCascadeEndsTheStepButKeepsEarlierEffects) {
  NetSim net(half_connected_graph());
  const Ulid moving = place_packet(net, on_edge("S.op", "P.in"));
  act(net, action::CreateRequest{Name("R1"), Name("a")});
  act(net, action::CreateRequest{Name("R2"), Name("b")});
  act(net, action::CreateRequest{Name("R3"), Name("c")});

  const NetActionResponse r = net.do_action(action::RunStep{});
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, NetActionError::Kind::RequestUnconnectedPort);
  EXPECT_EQ(r.error().node_name, "B");
  EXPECT_EQ(r.error().port_name, "y");
  // The phase-1 move stays; the whole list is gone; no epoch was made for R1
  // because epochs come only after every request resolved.
  EXPECT_EQ(net.get_packet(moving)->location, at_input("P", "in"));
  EXPECT_TRUE(tables_of(net).requests().pending.empty());
  EXPECT_TRUE(net.epochs().empty());
  EXPECT_TRUE(net.is_blocked());
}

TEST(Requests, RequestEpochsAreOnePerSourceAndLabel) {
  NetSim net(half_connected_graph());
  act(net, action::CreateRequest{Name("R1"), Name("a")});
  act(net, action::CreateRequest{Name("R3"), Name("a")});
  act(net, action::CreateRequest{Name("R1"), Name("b")});
  const StepOutcome s = step(net);
  ASSERT_EQ(event_kinds(s.events),
            (Kinds{"RequestCascadeResolved", "RequestCascadeResolved", "RequestCascadeResolved",
                   "EpochCreated", "RequestEpochCreated", "EpochCreated", "RequestEpochCreated"}));
  EXPECT_EQ(event_as<event::RequestEpochCreated>(s.events, 4).label, "a");
  EXPECT_EQ(event_as<event::RequestEpochCreated>(s.events, 6).label, "b");
  EXPECT_EQ(epochs_of(net, "S").size(), 2u);
}

}  // namespace
}  // namespace zellik
