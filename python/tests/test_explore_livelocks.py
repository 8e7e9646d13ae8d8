"""Livelocks: cycles the net can never leave, against the brute force over the public API."""

from __future__ import annotations

import collections
import copy
import io
from typing import Any

import pytest

import zellik_sim as z
from zellik_sim.recording import replay
from test_explore import CASES, World, edge, random_case, successors, take_all


def ping_pong(consumes: bool) -> tuple[z.Graph, list[z.Behaviour], list[z.Injection]]:
    """Two nodes passing a packet back and forth; with `consumes`, b may also keep it."""
    def node(name: str) -> z.Node:
        return z.Node(name, in_ports={"in": z.Port()}, out_ports={"out": z.Port()},
                      in_salvo_conditions={"take": take_all("in")},
                      out_salvo_conditions={"send": take_all("out")})
    graph = z.Graph([node("a"), node("b")], [edge("a", "out", "b", "in"), edge("b", "out", "a", "in")])
    passing = z.Outcome(pass_to="out", sends=["send"])
    behaviours = [z.Behaviour("a", [passing]), z.Behaviour("b", [passing] + [z.Outcome()] * consumes)]
    return graph, behaviours, [z.Injection(z.PacketLocation.input_port("a", "in"), 1)]


def test_a_packet_passed_back_and_forth_is_a_livelock_with_a_lasso_that_replays() -> None:
    graph, behaviours, injections = ping_pong(consumes=False)
    net = z.NetSim(graph, seed=7)
    plain = net.explore(behaviours, injections)
    assert plain.terminals == [], "no terminal state: invisible without looking for livelocks"
    result = net.explore(behaviours, injections, livelocks="any_end")
    assert result.states == plain.states and result.trapped == result.states
    (live,) = result.terminals
    assert live.kind == "livelock" and result.livelocks == [live] and result.counts["livelock"] == 1
    # The lasso: the run to the first state of the cycle (the nearest one), then the cycle.
    assert live.depth == 2 and live.run, "injected, then a step makes an epoch of a"
    assert live.cycle, "a cycle of at least one transition"
    fresh = copy.deepcopy(net)
    for action in live.run:
        fresh.do_action(action)
    assert fresh.fingerprint() == live.fingerprint
    # Replayed on a fresh net: the run, then once round the cycle, back where the cycle began.
    round_once = copy.deepcopy(net)
    performed = live.replay(round_once)
    assert len(performed) == len(live.run) + len(live.cycle)
    assert round_once.fingerprint() == live.fingerprint
    assert replay(graph, io.StringIO(live.to_jsonl())) == len(live.run) + len(live.cycle)
    assert z.TerminalState.from_dict(live.to_dict()) == live
    assert live.to_dot().startswith("digraph")
    # Breadth-first: the nearest state of the cycle and a shortest cycle through it.
    depth_first = net.explore(behaviours, injections, livelocks="any_end", order="depth_first")
    assert depth_first.trapped == result.trapped and depth_first.counts["livelock"] == 1
    assert len(depth_first.livelocks[0].run) >= len(live.run)


def test_a_way_out_ends_the_livelock_and_only_a_clean_end_counts_with_clean_end() -> None:
    graph, behaviours, injections = ping_pong(consumes=True)
    net = z.NetSim(graph, seed=7)
    result = net.explore(behaviours, injections, livelocks="any_end")
    assert (result.trapped, result.counts["livelock"], result.counts["clean"]) == (0, 0, 1)
    assert result.to_dict() == net.explore(behaviours, injections, livelocks="clean_end").to_dict()
    # A cycle whose only way out is a violated property: a way out for any_end, none for clean_end.
    from zellik_sim.properties import Property
    graph, behaviours, injections = ping_pong(consumes=False)
    net = z.NetSim(graph, seed=7)
    watched = [Property.live_epochs_at_most("b", 0)]
    any_end = net.explore(behaviours, injections, properties=watched, livelocks="any_end")
    assert any_end.counts["violated"] >= 1 and any_end.trapped == 0 and not any_end.livelocks
    clean_end = net.explore(behaviours, injections, properties=watched, livelocks="clean_end")
    assert clean_end.trapped == clean_end.states, "no state can reach a clean end"
    assert not clean_end.livelocks, "a violated state is not followed: the cycle is broken there"


def test_livelocks_are_looked_for_only_on_a_finished_breadth_or_depth_first_search() -> None:
    graph, behaviours, injections = ping_pong(consumes=False)
    net = z.NetSim(graph, seed=7)
    stopped = net.explore(behaviours, injections, livelocks="any_end", max_states=2)
    assert not stopped.finished and stopped.trapped == 0 and not stopped.livelocks
    walks = net.explore(behaviours, injections, livelocks="any_end", order="random_walk", walks=3)
    assert walks.trapped == 0 and not walks.livelocks
    with pytest.raises(ValueError, match="livelocks must be 'any_end', 'clean_end' or None, not \"always\""):
        net.explore(behaviours, injections, livelocks="always")  # type: ignore[arg-type]


def state_graph(net: z.NetSim, behaviours: list[z.Behaviour], injections: list[z.Injection],
                requests: list[z.RequestAllowance], max_packets: int) -> tuple[dict[Any, int], dict[Any, set[Any]], dict[Any, str]]:
    """Every state's depth, its successors, and the terminal kind of each terminal state (a state
    with a refused choice: 'failed'), by the brute force's own keys."""
    start = World(net, injections, requests)
    depth = {start.key(): 0}
    after: dict[Any, set[Any]] = {}
    kind: dict[Any, str] = {}
    queue = collections.deque([start])
    while queue:
        current = queue.popleft()
        key = current.key()
        after[key] = set()
        if current.packets_inside() > max_packets:
            kind[key] = "over_limit"
            continue
        failed = False
        for fork in successors(current, behaviours, injections, requests):
            if fork is None:
                failed = True
                continue
            after[key].add(fork.key())
            if fork.key() not in depth:
                depth[fork.key()] = depth[key] + 1
                queue.append(fork)
        if failed:
            kind[key] = "failed"
        elif not after[key]:
            kind[key] = "stuck" if current.packets_inside() else "clean"
    return depth, after, kind


def livelocks_of(after: dict[Any, set[Any]], ways_out: set[Any]) -> tuple[int, set[frozenset[Any]]]:
    """The trapped states, and for each closed cycle among them, a state of it (by a plain
    fixed point: a closed set reachable from each of its states)."""
    can_leave = set(ways_out)
    changed = True
    while changed:
        changed = False
        for s, nexts in after.items():
            if s not in can_leave and nexts & can_leave:
                can_leave.add(s)
                changed = True
    trapped = set(after) - can_leave

    def reach(s: Any) -> frozenset[Any]:
        seen, todo = set(), [s]
        while todo:
            for n in after[todo.pop()]:
                if n not in seen:
                    seen.add(n)
                    todo.append(n)
        return frozenset(seen)

    closed = {reach(s) for s in trapped if s in reach(s) and all(s in reach(n) for n in reach(s))}
    return len(trapped), closed


@pytest.mark.parametrize("seed", range(40))
def test_trapped_states_and_livelocks_agree_with_the_brute_force(seed: int) -> None:
    graph, behaviours, injections, requests = random_case(seed)
    net = z.NetSim(graph, seed=seed)
    depth, after, kind = state_graph(net, behaviours, injections, requests, 2)
    for mode in ("any_end", "clean_end"):
        ways_out = {s for s, k in kind.items() if mode == "any_end" or k == "clean"}
        trapped, cycles = livelocks_of(after, ways_out)
        nearest = sorted(min(depth[s] for s in c) for c in cycles)
        for order in ("breadth_first", "depth_first"):
            result = net.explore(behaviours, injections, requests, order=order, max_packets=2, livelocks=mode)
            assert result.states == len(after), (mode, order)
            assert result.trapped == trapped, (mode, order)
            assert len(result.livelocks) == len(cycles), (mode, order)
            if order == "breadth_first":
                assert [t.depth for t in result.livelocks] == nearest, "each at its nearest state"
                exact = net.explore(behaviours, injections, requests, max_packets=2, livelocks=mode, exact=True)
                assert exact.trapped == trapped
                assert [(t.fingerprint, t.depth, len(t.cycle)) for t in exact.livelocks] == \
                    [(t.fingerprint, t.depth, len(t.cycle)) for t in result.livelocks]
            for live in result.livelocks:
                replayed = copy.deepcopy(net)
                live.replay(replayed)
                assert replayed.fingerprint() == live.fingerprint, "once round the cycle, back at its state"
                assert live.cycle and live.packets >= 0


def unlimited_cases() -> list[tuple[z.Graph, list[z.Behaviour], list[z.Injection]]]:
    cases = []
    for name, (make_graph, behaviours, feed) in sorted(CASES.items()):
        for packets in (1, 2):
            cases.append((make_graph(), behaviours, [z.Injection(z.PacketLocation.edge(feed), packets)]))
    for consumes in (False, True):
        graph, behaviours, injections = ping_pong(consumes)
        cases.append((graph, behaviours, [z.Injection(injections[0].location, 2)]))
    return cases


@pytest.mark.parametrize("case", range(8))
def test_without_limits_transitions_found_ahead_are_kept_too(case: int) -> None:
    """Without limits breadth-first search numbers every other layer after expanding it on the
    spot; the transitions into it count as any other."""
    graph, behaviours, injections = unlimited_cases()[case]
    net = z.NetSim(graph, seed=case)
    depth, after, kind = state_graph(net, behaviours, injections, [], 1 << 30)
    for mode in ("any_end", "clean_end"):
        ways_out = {s for s, k in kind.items() if mode == "any_end" or k == "clean"}
        trapped, cycles = livelocks_of(after, ways_out)
        results = [net.explore(behaviours, injections, livelocks=mode, **options)
                   for options in ({}, {"exact": True}, {"order": "depth_first"})]
        for result in results:
            assert (result.states, result.trapped, len(result.livelocks)) == (len(after), trapped, len(cycles))
        assert [t.depth for t in results[0].livelocks] == sorted(min(depth[s] for s in c) for c in cycles)
