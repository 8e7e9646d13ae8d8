"""The explorer at its edges: request state across backtracking, cycles under random walks, limits
counted exactly, what a terminal state reports, and runs that replay where they say they do."""

from __future__ import annotations

import _thread
import copy
import io
import json
import pickle
import threading
import time

import pytest

import zellik_sim as z
from test_explore import FEED, ROUTER_BEHAVIOURS, edge, recording, router_graph, send, take_all

T = z.SalvoConditionTerm
ORDERS = ["breadth_first", "depth_first", "random_walk"]


def one_shot(port: str) -> z.SalvoCondition:
    return z.SalvoCondition(z.MaxSalvos.finite(1), port, T.port(port, z.PortState.NonEmpty))


def always(port: str) -> z.SalvoCondition:
    return z.SalvoCondition(z.MaxSalvos.Infinite, port, T.port(port, z.PortState.NonEmpty))


def config(*triggers: z.DependencyRequestTrigger) -> z.DependencyRequestConfig:
    return z.DependencyRequestConfig(list(triggers), "auto")


def firing_node_graph(trigger: bool) -> z.Graph:
    """A fires whenever a packet waits, so its request token is never spent."""
    a = z.Node("A", in_ports={"a": z.Port()}, in_salvo_conditions={"t": one_shot("a")},
               dependency_request_config=config(z.DependencyRequestTrigger.OnNoSalvoTriggered) if trigger else None)
    e = edge("R", "x", "A", "a")
    return z.Graph([a, z.Node("R", out_ports={"x": z.Port()})], [e], [e])


def startup_graph() -> z.Graph:
    b = z.Node("B", in_ports={"b": z.Port()}, in_salvo_conditions={"t": one_shot("b")},
               dependency_request_config=config(z.DependencyRequestTrigger.OnStartup,
                                                z.DependencyRequestTrigger.OnNoSalvoTriggered))
    r = z.Node("R", out_ports={"x": z.Port()}, out_salvo_conditions={"s": always("x")})
    e = edge("R", "x", "B", "b")
    return z.Graph([b, r, z.Node("D", in_ports={"a": z.Port()})], [e], [e])


STARTUP_BEHAVIOURS = [z.Behaviour("R", [z.Outcome(creates={"x": 1}, sends=["s"]), z.Outcome()])]


def loop_net(dependency: bool = False) -> z.NetSim:
    """A passes its packet to itself, for ever; with `dependency`, the loop is also a dependency
    edge and A asks for packets when the net starts."""
    a = z.Node("A", in_ports={"a": z.Port()}, out_ports={"x": z.Port()},
               in_salvo_conditions={"t": one_shot("a")}, out_salvo_conditions={"s": always("x")},
               dependency_request_config=config(z.DependencyRequestTrigger.OnStartup) if dependency else None)
    loop = edge("A", "x", "A", "a")
    return z.NetSim(z.Graph([a], [loop], [loop] if dependency else []), seed=1)


LOOP_BEHAVIOURS = [z.Behaviour("A", [z.Outcome(pass_to="x", sends=["s"])])]
LOOP_FEED = [z.Injection(z.PacketLocation.input_port("A", "a"), 1)]


def replayed(start: z.NetSim, run: list[z.NetAction]) -> z.NetSim:
    net = copy.copy(start)
    for action in run:
        net.do_action(action)
    return net


def inside(net: z.NetSim) -> int:
    return len(net.packets()) - net.packet_count_at(z.PacketLocation.outside_net())


# ---------------------------------------------------------------------------
# Backtracking gives back the request state it left

@pytest.mark.parametrize("order", ORDERS)
@pytest.mark.parametrize("limits", [{}, {"max_states": 1000}, {"exact": True}, {"max_depth": 100}])
def test_a_request_token_never_spent_gives_the_states_of_a_net_without_one(order, limits) -> None:
    injections = [z.Injection(z.PacketLocation.input_port("A", "a"), 3)]
    plain = z.NetSim(firing_node_graph(False), seed=1).explore([], injections)
    assert plain.states == 25
    result = z.NetSim(firing_node_graph(True), seed=1).explore([], injections, order=order, **limits)
    if order == "random_walk":
        assert result.states <= 25
    else:
        assert result.states == 25 and result.counts == plain.counts


@pytest.mark.parametrize("order", ORDERS)
def test_startup_and_no_salvo_requests_explore_without_panic_and_stuck_runs_replay(order) -> None:
    start = z.NetSim(startup_graph(), seed=1)
    injections = [z.Injection(z.PacketLocation.input_port("D", "a"), 1)]
    result = start.explore(STARTUP_BEHAVIOURS, injections, order=order)
    if order != "random_walk":
        assert result.finished and result.states == 10
    assert result.stuck
    for stuck in result.stuck:
        assert replayed(start, stuck.run).fingerprint() == stuck.fingerprint


def test_a_step_that_only_sends_a_request_making_nothing_is_no_transition() -> None:
    # A's startup request walks back round its own loop and finds no source: nothing moves and no
    # epoch is made, so the net has nowhere to go.
    result = loop_net(dependency=True).explore(LOOP_BEHAVIOURS)
    assert (result.states, result.transitions) == (1, 0)
    assert result.counts == {"clean": 1, "stuck": 0, "over_limit": 0, "failed": 0, "violated": 0, "livelock": 0}


def test_a_request_allowance_where_no_dependency_edge_leads_is_refused() -> None:
    with pytest.raises(ValueError, match=r"^explore: requests of node 'join', which no dependency edge leads into"):
        z.NetSim(router_graph()).explore(ROUTER_BEHAVIOURS, requests=[z.RequestAllowance("join", "more", 1)])


# ---------------------------------------------------------------------------
# Random walks through cycles

def test_a_random_walk_round_a_cycle_ends_and_says_why() -> None:
    net = loop_net()
    began = time.monotonic()
    result = net.explore(LOOP_BEHAVIOURS, LOOP_FEED, order="random_walk", walks=3)
    assert time.monotonic() - began < 5
    assert (result.finished, result.stopped) == (False, "walks")
    assert result.states == net.explore(LOOP_BEHAVIOURS, LOOP_FEED).states == 4
    # Walks without a count go on until another limit stops them.
    began = time.monotonic()
    timed = net.explore(LOOP_BEHAVIOURS, LOOP_FEED, order="random_walk", walks=None, max_time=0.2)
    assert (timed.finished, timed.stopped) == (False, "time") and time.monotonic() - began < 2


def test_ctrl_c_stops_endless_random_walks() -> None:
    timer = threading.Timer(0.3, _thread.interrupt_main)
    timer.start()
    with pytest.raises(KeyboardInterrupt) as raised:
        loop_net().explore(LOOP_BEHAVIOURS, LOOP_FEED, order="random_walk", walks=None)
    timer.join()
    assert raised.value.result.stopped == "cancelled"  # type: ignore[attr-defined]


# ---------------------------------------------------------------------------
# Limits

FEED6 = [z.Injection(z.PacketLocation.edge(FEED), 6)]


@pytest.mark.parametrize("order", ORDERS)
def test_max_states_is_the_number_of_states_numbered_exactly(order) -> None:
    net = z.NetSim(router_graph(), seed=1)
    total = net.explore(ROUTER_BEHAVIOURS, FEED6).states
    for most in (1, 2, 7, 500):
        result = net.explore(ROUTER_BEHAVIOURS, FEED6, order=order, max_states=most, walks=None)
        assert (result.states, result.finished, result.stopped) == (most, False, "states"), most
    if order != "random_walk":
        whole = net.explore(ROUTER_BEHAVIOURS, FEED6, order=order, max_states=total)
        assert (whole.states, whole.finished, whole.stopped) == (total, True, None)


@pytest.mark.parametrize("name", ["max_states", "max_depth", "max_packets", "walks"])
def test_a_limit_of_zero_is_refused_and_none_is_no_limit(name) -> None:
    net = z.NetSim(router_graph())
    before = net.fingerprint()
    for bad in (0, -1, 2**64):
        with pytest.raises(ValueError, match=rf"^argument '{name}': expected an int from 1 to 2\*\*64-1"):
            net.explore(ROUTER_BEHAVIOURS, FEED6, **{name: bad})
    with pytest.raises(TypeError, match=name):
        net.explore(ROUTER_BEHAVIOURS, FEED6, **{name: 1.5})
    assert net.fingerprint() == before
    if name != "walks":
        assert net.explore(ROUTER_BEHAVIOURS, FEED6, **{name: None}).finished


def test_breadth_first_lists_every_kind_of_terminal_nearest_first() -> None:
    # G's first outcome leads, two moves on, to an epoch of H that makes three packets (over the
    # limit at depth 3); its second to a packet stuck in D at depth 2, found after that epoch.
    g = z.Node("G", in_ports={"in": z.Port()}, out_ports={"x": z.Port(), "y": z.Port()},
               in_salvo_conditions={"take": take_all("in")}, out_salvo_conditions={"sx": send("x"), "sy": send("y")})
    h = z.Node("H", in_ports={"h": z.Port()}, out_ports={"z": z.Port()},
               in_salvo_conditions={"take": take_all("h")}, out_salvo_conditions={"sz": send("z")})
    sinks = [z.Node(n, in_ports={"d": z.Port()}) for n in ("D", "E")]
    graph = z.Graph([g, h, *sinks], [edge("G", "x", "H", "h"), edge("G", "y", "D", "d"), edge("H", "z", "E", "d")])
    net = z.NetSim(graph, seed=3)
    made, _ = net.do_action(z.NetAction.create_packet())
    net.do_action(z.NetAction.transport_packet_to_location(made.packet_id, z.PacketLocation.input_port("G", "in")))
    net.run_step()
    behaviours = [z.Behaviour("G", [z.Outcome(creates={"x": 1}, sends=["sx"]), z.Outcome(creates={"y": 1}, sends=["sy"])]),
                  z.Behaviour("H", [z.Outcome(creates={"z": 3}, sends=["sz"])])]
    result = net.explore(behaviours, max_packets=2)
    assert [(t.kind, t.depth, t.packets) for t in result.terminals] == [("stuck", 2, 1), ("over_limit", 3, 3)]


# ---------------------------------------------------------------------------
# What a terminal state reports

def leaking_net() -> z.NetSim:
    """S passes each packet out of an output port no edge leaves: it leaves the net."""
    s = z.Node("S", in_ports={"in": z.Port()}, out_ports={"gone": z.Port()},
               in_salvo_conditions={"take": take_all("in")}, out_salvo_conditions={"send": send("gone")})
    return z.NetSim(z.Graph([s], []), seed=2)


def test_packets_that_left_the_net_are_not_counted() -> None:
    net = leaking_net()
    behaviours = [z.Behaviour("S", [z.Outcome(pass_to="gone", creates={"gone": 1}, sends=["send"])])]
    injections = [z.Injection(z.PacketLocation.input_port("S", "in"), 2)]
    result = net.explore(behaviours, injections, max_packets=2)  # 2 wait at most; 3 or 4 leave
    assert result.finished and result.terminals
    assert all((t.kind, t.packets) == ("clean", 0) for t in result.terminals)


def failing_net(seed: int | None = 5) -> z.NetSim:
    """left's outcome loads its packet but sends nothing: finishing the epoch is refused."""
    net = z.NetSim(router_graph(), seed=seed)
    made, _ = net.do_action(z.NetAction.create_packet())
    net.do_action(z.NetAction.transport_packet_to_location(made.packet_id, z.PacketLocation.input_port("left", "in")))
    return net


@pytest.mark.parametrize("order", ORDERS)
@pytest.mark.parametrize("seed", [5, None])
def test_a_failed_terminal_describes_where_its_run_ends(order, seed) -> None:
    start = failing_net(seed)
    result = start.explore([z.Behaviour("left", [z.Outcome(pass_to="out")])], order=order)
    assert result.counts == {"clean": 0, "stuck": 0, "over_limit": 0, "failed": 1, "violated": 0, "livelock": 0}
    (failed,) = result.terminals
    refused = failed.run[-1]
    assert "UnsentOutputSalvo" in json.loads(failed.to_jsonl().splitlines()[-1])["error"]
    epoch = refused.to_dict()["epoch_id"]
    assert epoch in failed.failure
    assert any(a.to_dict().get("epoch_id") == epoch for a in failed.run[:-1])
    if seed is not None:  # the run names the ids a copy of a seeded start makes
        net = replayed(start, failed.run[:-1])
        with pytest.raises(z.UnsentOutputSalvoError):
            net.do_action(refused)
        assert net.fingerprint() == failed.fingerprint and inside(net) == failed.packets == 1
    net = copy.copy(start)
    assert failed.replay(net)[-1].to_dict()["kind"] == refused.to_dict()["kind"]
    assert net.fingerprint() == failed.fingerprint and inside(net) == failed.packets == 1


def test_a_running_epoch_that_cannot_finish_is_failed_and_nothing_else() -> None:
    net = failing_net()
    net.run_step()
    (epoch,) = net.get_startable_epochs()
    net.do_action(z.NetAction.start_epoch(epoch))
    (packet,) = net.get_packets_at_location(z.PacketLocation.node(epoch))
    net.do_action(z.NetAction.consume_packet(packet))
    # Nothing inside any more: the outcome's send finds its port empty.
    result = net.explore([z.Behaviour("left", [z.Outcome(pass_to="out", sends=["send"])])])
    assert result.counts == {"clean": 0, "stuck": 0, "over_limit": 0, "failed": 1, "violated": 0, "livelock": 0}
    assert result.terminals[0].depth == 0


# ---------------------------------------------------------------------------
# Runs that replay

def test_runs_of_a_seeded_net_replay_on_copies_and_name_its_seed() -> None:
    start = z.NetSim(router_graph(), seed=11)
    result = start.explore(ROUTER_BEHAVIOURS, [z.Injection(z.PacketLocation.edge(FEED), 3)])
    stuck = result.stuck[0]
    for copied in (copy.copy(start), pickle.loads(pickle.dumps(start))):
        assert replayed(copied, stuck.run).fingerprint() == stuck.fingerprint
    assert json.loads(stuck.to_jsonl().splitlines()[0]) == {"seed": 11}
    # The recording replays with the seed: ids and timestamps exactly as recorded.
    assert recording.replay(router_graph(), io.StringIO(stuck.to_jsonl())) == len(stuck.run)
    # From the middle of a run, the seed is the one the net was made with.
    start.run_until_blocked()
    made, _ = start.do_action(z.NetAction.create_packet())
    start.do_action(z.NetAction.transport_packet_to_location(made.packet_id, z.PacketLocation.edge(FEED)))
    later = start.explore(ROUTER_BEHAVIOURS, [z.Injection(z.PacketLocation.edge(FEED), 2)]).stuck[0]
    assert json.loads(later.to_jsonl().splitlines()[0]) == {"seed": 11}
    unseeded = z.NetSim(router_graph()).explore(ROUTER_BEHAVIOURS, [z.Injection(z.PacketLocation.edge(FEED), 3)])
    assert json.loads(unseeded.stuck[0].to_jsonl().splitlines()[0]) == {"seed": None}
    assert recording.replay(router_graph(), io.StringIO(unseeded.stuck[0].to_jsonl())) == len(unseeded.stuck[0].run)


@pytest.mark.parametrize("seed", [11, None])
def test_every_stuck_and_failed_run_replays_on_a_copy_of_the_start_seeded_or_not(seed) -> None:
    cases = [
        (z.NetSim(router_graph(), seed=seed), ROUTER_BEHAVIOURS, [z.Injection(z.PacketLocation.edge(FEED), 3)]),
        (failing_net(seed), [z.Behaviour("left", [z.Outcome(pass_to="out")])], []),
        (z.NetSim(startup_graph(), seed=seed), STARTUP_BEHAVIOURS,
         [z.Injection(z.PacketLocation.input_port("D", "a"), 1)]),
    ]
    replays = 0
    for start, behaviours, injections in cases:
        for t in start.explore(behaviours, injections).terminals:
            if t.kind not in ("stuck", "failed"):
                continue
            for net in (copy.copy(start), pickle.loads(pickle.dumps(start))):
                actions = t.replay(net)
                assert net.fingerprint() == t.fingerprint and inside(net) == t.packets
                assert [a.to_dict()["kind"] for a in actions] == [a.to_dict()["kind"] for a in t.run]
                if seed is not None:  # a copy of a seeded start makes the very ids of the run
                    assert [a.to_dict() for a in actions] == [a.to_dict() for a in t.run]
                replays += 1
    assert replays >= 6


def test_a_replay_on_a_net_elsewhere_is_refused_by_name_and_stops_there() -> None:
    start = z.NetSim(router_graph())
    stuck = start.explore(ROUTER_BEHAVIOURS, [z.Injection(z.PacketLocation.edge(FEED), 3)]).stuck[0]
    elsewhere = copy.copy(start)
    elsewhere.run_step()  # nothing to move: the same state; then make it differ
    made, _ = elsewhere.do_action(z.NetAction.create_packet())
    elsewhere.do_action(z.NetAction.transport_packet_to_location(made.packet_id, z.PacketLocation.edge(FEED)))
    elsewhere.do_action(z.NetAction.transport_packet_to_location(
        elsewhere.do_action(z.NetAction.create_packet())[0].packet_id, z.PacketLocation.input_port("router", "in")))
    with pytest.raises(ValueError, match=r"^replay: action \d+ \(\w+\) .*the net given is not in the state"):
        stuck.replay(elsewhere)
    with pytest.raises(TypeError, match=r"^argument 'net': expected NetSim"):
        stuck.replay(router_graph())  # type: ignore[arg-type]
    # Terminals without a run replay nothing.
    clean = [t for t in start.explore([], []).terminals if t.kind == "clean"]
    assert clean and clean[0].replay(copy.copy(start)) == []
