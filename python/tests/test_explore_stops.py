"""What an exploration owns up to: how much a limit left unexplored, which
nodes it would run without a declared behaviour, and where a stuck state is
blocked in its picture."""

from __future__ import annotations

import collections
import re

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import zellik_sim as z
from test_explore import CASES, FEED, ROUTER_BEHAVIOURS, World, router_graph, successors


def layers(net: z.NetSim, behaviours: list[z.Behaviour], injections: list[z.Injection]) -> list[list[World]]:
    """Every state a brute force over the public API reaches, by its least
    depth: layer d holds the states first found d transitions from the start."""
    start = World(net, injections, [])
    seen = {start.key()}
    found = [[start]]
    while found[-1]:
        nxt = []
        for world in found[-1]:
            for fork in successors(world, behaviours, injections, []):
                if fork is not None and fork.key() not in seen:
                    seen.add(fork.key())
                    nxt.append(fork)
        found.append(nxt)
    return found[:-1]


def moves(world: World, behaviours: list[z.Behaviour], injections: list[z.Injection]) -> bool:
    return any(fork is not None for fork in successors(world, behaviours, injections, []))


@pytest.mark.parametrize("case", sorted(CASES))
def test_a_search_cut_at_a_depth_counts_the_states_it_did_not_follow(case: str) -> None:
    make_graph, behaviours, feed = CASES[case]
    net = z.NetSim(make_graph())
    injections = [z.Injection(z.PacketLocation.edge(feed), 2)]
    by_depth = layers(net, behaviours, injections)
    deepest = len(by_depth) - 1
    for depth in range(1, deepest + 2):
        result = net.explore(behaviours, injections, max_depth=depth)
        if depth <= deepest:
            # The states at the cut that could still move, to new states or
            # known ones: each is followed no further.
            cut = sum(moves(w, behaviours, injections) for w in by_depth[depth])
            assert result.frontier == cut, depth
            assert (result.finished, result.stopped) == ((False, "depth") if cut else (True, None)), depth
            assert result.max_depth == depth
            assert result.states == sum(len(layer) for layer in by_depth[:depth + 1])
        else:
            assert result.finished and result.frontier == 0 and result.max_depth == deepest


def test_a_search_stopped_by_states_or_time_says_how_much_it_left_and_how_deep_it_went() -> None:
    net = z.NetSim(router_graph())
    injections = [z.Injection(z.PacketLocation.edge(FEED), 6)]
    full = net.explore(ROUTER_BEHAVIOURS, injections)
    assert full.frontier == 0 and "frontier" not in repr(full)
    for order in ("breadth_first", "depth_first"):
        for limit in (50, 300, 900):
            part = net.explore(ROUTER_BEHAVIOURS, injections, order=order, max_states=limit)
            assert part.stopped == "states" and 0 < part.frontier < part.states, (order, limit)
            if order == "depth_first":
                # The states on the run it was following: one per level at most.
                assert part.frontier <= part.max_depth + 1
            assert part.to_dict()["frontier"] == part.frontier
            assert repr(part).endswith(f", stopped='states', frontier={part.frontier}, max_depth={part.max_depth})")
    by_time = net.explore(ROUTER_BEHAVIOURS, [z.Injection(z.PacketLocation.edge(FEED), 40)], max_time=0.2)
    assert by_time.stopped == "time" and by_time.frontier > 0
    walks = net.explore(ROUTER_BEHAVIOURS, injections, order="random_walk", walks=5)
    assert walks.stopped == "walks" and walks.frontier == 0 and "frontier" not in repr(walks)


# ---------------------------------------------------------------------------
# strict=True

def conditioned(graph: z.Graph) -> list[str]:
    return [name for name, node in graph.nodes().items() if node.in_salvo_conditions]


@settings(max_examples=30, deadline=None)
@given(declared=st.sets(st.sampled_from(["router", "left", "right", "join"])))
def test_strict_refuses_exactly_the_nodes_with_input_conditions_left_undeclared(declared: set[str]) -> None:
    graph = router_graph()
    outcomes = {b.node: b.outcomes for b in ROUTER_BEHAVIOURS}
    behaviours = [z.Behaviour(node, outcomes.get(node, [z.Outcome()])) for node in sorted(declared)]
    injections = [z.Injection(z.PacketLocation.edge(FEED), 2)]
    net = z.NetSim(graph, seed=1)  # runs with the same ids each time
    missing = [name for name in conditioned(graph) if name not in declared]
    assert "src" not in conditioned(graph)  # a source makes no epochs from inputs: never asked for
    loose = net.explore(behaviours, injections)
    if not missing:
        assert net.explore(behaviours, injections, strict=True) == loose
        return
    with pytest.raises(ValueError) as refused:
        net.explore(behaviours, injections, strict=True)
    message = str(refused.value)
    assert message.startswith("explore: node")
    assert re.findall(r"'(\w+)'", message.split(" input salvo")[0]) == missing
    assert "no declared behaviour" in message


def test_strict_is_a_flag_and_the_command_line_passes_it() -> None:
    net = z.NetSim(router_graph())
    with pytest.raises(TypeError, match="strict"):
        net.explore(ROUTER_BEHAVIOURS, strict="yes")  # type: ignore[arg-type]
    with pytest.raises(ValueError, match="node 'join' has input salvo conditions"):
        net.explore(ROUTER_BEHAVIOURS, strict=True)


# ---------------------------------------------------------------------------
# The picture of a stuck state

NODE_LINE = re.compile(r'^\s+n\d+ \[label=<.*?BGCOLOR="[^"]*"><B>(?P<name>[^<]*)</B>(?P<rest>.*)$')


def marks(dot: str) -> dict[str, list[str] | None]:
    """Each node of the picture: the conditions marked as waited on when it is
    drawn blocked, else None."""
    found: dict[str, list[str] | None] = {}
    for line in dot.splitlines():
        m = NODE_LINE.match(line)
        if m:
            rest = m["rest"]
            blocked = "<B>blocked</B>" in rest
            waits = re.findall(r"&#10007; in: (.*?) \(waits\)", rest)
            assert blocked or not waits
            found[m["name"]] = waits if blocked else None
    return found


@pytest.mark.parametrize("case", sorted(CASES))
def test_a_stuck_picture_marks_the_blocked_nodes_and_the_conditions_they_wait_on(case: str) -> None:
    make_graph, behaviours, feed = CASES[case]
    net = z.NetSim(make_graph())
    result = net.explore(behaviours, [z.Injection(z.PacketLocation.edge(feed), 3)])
    for terminal in result.terminals:
        shown = marks(terminal.to_dot())
        if terminal.kind != "stuck":
            assert all(v is None for v in shown.values())
            continue
        expected: dict[str, list[str]] = collections.defaultdict(list)
        for node, condition in terminal.blocked_conditions:
            expected[node].append(condition)
        assert {n: w for n, w in shown.items() if w is not None} == expected
        count = len(expected)
        assert f"stuck: {count} blocked node{'s' if count != 1 else ''}" in terminal.to_dot()
    assert result.stuck  # an odd number of packets strands one in every case
