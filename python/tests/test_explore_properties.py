"""Properties checked at every visited state, against the brute force over the public API."""

from __future__ import annotations

import collections
import copy
import random
from collections.abc import Callable
from typing import Any

import pytest

import zellik_sim as z
from zellik_sim.properties import Property
from test_explore import CASES, FEED, ROUTER_BEHAVIOURS, World, edge, random_case, router_graph, successors, take_all

# A property as the brute force checks it: holds(net, packets outside at the start).
Check = Callable[[z.NetSim, int], bool]


def outside(net: z.NetSim) -> int:
    return net.packet_count_at(z.PacketLocation.outside_net())


def live_epochs(net: z.NetSim, node: str) -> int:
    return sum(1 for e in net.epochs() if e.node_name == node)


def out_port_count(net: z.NetSim, node: str, port: str) -> int:
    return sum(net.packet_count_at(z.PacketLocation.output_port(e.id, port))
               for e in net.epochs() if e.node_name == node)


def brute_force(net: z.NetSim, behaviours: list[z.Behaviour], injections: list[z.Injection],
                requests: list[z.RequestAllowance], max_packets: int | None,
                checks: list[tuple[str, Check]]) -> tuple[int, dict[str, int], dict[str, int]]:
    """Distinct states, terminal states by kind, and the depth of the nearest violation of each
    property: a violated state (the first property declared that fails) is not followed, and a
    violation stands before the packet limit."""
    at_start = outside(net)
    start = World(net, injections, requests)
    seen = {start.key()}
    queue = collections.deque([(start, 0)])
    kinds: dict[str, set[Any]] = {k: set() for k in ("clean", "stuck", "over_limit", "failed", "violated")}
    nearest: dict[str, int] = {}
    while queue:
        current, depth = queue.popleft()
        broken = next((name for name, holds in checks if not holds(current.net, at_start)), None)
        if broken is not None:
            kinds["violated"].add(current.key())
            nearest.setdefault(broken, depth)
            continue
        if max_packets is not None and current.packets_inside() > max_packets:
            kinds["over_limit"].add(current.key())
            continue
        moved = failed = False
        for fork in successors(current, behaviours, injections, requests):
            if fork is None:
                failed = True
                continue
            moved = True
            if fork.key() not in seen:
                seen.add(fork.key())
                queue.append((fork, depth + 1))
        if failed:
            kinds["failed"].add(current.key())
        elif not moved:
            kinds["stuck" if current.packets_inside() else "clean"].add(current.key())
    return len(seen), {k: len(v) for k, v in kinds.items()}, nearest


def random_properties(graph: z.Graph, rng: random.Random) -> list[tuple[Property, Check, Property]]:
    """A few properties of `graph`: each declared, as the brute force checks it, and as a
    predicate over the state view that says the same."""
    nodes = graph.nodes()
    name = rng.choice(sorted(nodes))
    port = rng.choice(sorted(nodes[name].in_ports))
    at_port = z.PacketLocation.input_port(name, port)
    k = rng.randint(0, 1)
    n = rng.randint(1, 2)
    made: list[tuple[Property, Check, Callable[[z.StateView], bool]]] = [
        (Property.input_port_at_most(name, port, k),
         lambda net, _: net.packet_count_at(at_port) <= k, lambda v: v.packet_count_at(at_port) <= k),
        (Property.packets_at_most(n),
         lambda net, _: len(net.packets()) - outside(net) <= n, lambda v: v.packets_inside() <= n),
        (Property.live_epochs_at_most(name, k),
         lambda net, _: live_epochs(net, name) <= k,
         lambda v: sum(1 for e in v.epochs() if e.node_name == name) <= k),
        (Property.no_orphans(), lambda net, start: outside(net) <= start, None),
    ]
    if graph.edges():
        on = rng.choice(graph.edges())
        at_edge = z.PacketLocation.edge(on)
        made.append((Property.on_edge_at_most(on, k, name="edge"),
                     lambda net, _: net.packet_count_at(at_edge) <= k,
                     lambda v: v.packet_count_at(at_edge) <= k))
    chosen = rng.sample(made, rng.randint(1, 3))
    out = []
    for p, check, predicate in chosen:
        if predicate is None:  # counted from the start: the predicate reads it off the view's net
            predicate = (lambda start: lambda v: v.packet_count_at(z.PacketLocation.outside_net()) <= start)(0)
        out.append((p, check, Property.holds(p.name, predicate)))
    return out


@pytest.mark.parametrize("seed", range(40))
def test_violations_agree_with_the_brute_force_and_their_runs_replay(seed: int) -> None:
    graph, behaviours, injections, requests = random_case(seed)
    net = z.NetSim(graph, seed=seed)
    props = random_properties(graph, random.Random(seed))
    declared = [p for p, _, _ in props]
    states, kinds, nearest = brute_force(net, behaviours, injections, requests, 2,
                                         [(p.name, check) for p, check, _ in props])
    found = {}
    for order in ("breadth_first", "depth_first"):
        result = net.explore(behaviours, injections, requests, order=order, max_packets=2, properties=declared)
        assert result.finished
        assert result.states == states, order
        counts = result.counts
        assert {k: counts[k] for k in ("clean", "stuck", "over_limit", "violated")} == \
            {k: kinds[k] for k in ("clean", "stuck", "over_limit", "violated")}, order
        found[order] = {(t.kind, t.fingerprint, t.property_name) for t in result.terminals}
        if order == "breadth_first":
            first = {}
            for t in result.terminals:
                if t.kind == "violated":
                    first.setdefault(t.property_name, t.depth)
            assert first == nearest, "breadth-first reports a shortest run to each property's violation"
            checks = dict((p.name, check) for p, check, _ in props)
            for t in result.terminals:
                if t.kind != "violated":
                    assert t.property_name is None
                    continue
                replayed = copy.deepcopy(net)
                for action in t.run:
                    replayed.do_action(action)
                assert len(t.run) >= t.depth and replayed.fingerprint() == t.fingerprint
                assert not checks[t.property_name](replayed, outside(net))
                assert t.to_dot().startswith("digraph")
                assert z.TerminalState.from_dict(t.to_dict()) == t
            # The same properties as Python predicates over the state view find the same.
            slow = net.explore(behaviours, injections, requests, order=order, max_packets=2,
                               properties=[q for _, _, q in props])
            assert slow.to_dict() == result.to_dict()
    assert found["breadth_first"] == found["depth_first"]


@pytest.mark.parametrize("case", sorted(CASES))
@pytest.mark.parametrize("seed", range(4))
def test_without_limits_a_layer_checked_ahead_finds_what_the_brute_force_does(case: str, seed: int) -> None:
    """Without limits breadth-first search expands every other layer on the spot and checks the
    states it finds there before numbering them."""
    make_graph, behaviours, feed = CASES[case]
    net = z.NetSim(make_graph(), seed=seed)
    injections = [z.Injection(z.PacketLocation.edge(feed), 1 + seed % 3)]
    props = random_properties(net.graph, random.Random(seed))
    states, kinds, nearest = brute_force(net, behaviours, injections, [], None,
                                         [(p.name, check) for p, check, _ in props])
    declared = [p for p, _, _ in props]
    ahead = net.explore(behaviours, injections, properties=declared)
    assert ahead.states == states and ahead.counts["violated"] == kinds["violated"]
    first: dict[str, int] = {}
    for t in ahead.terminals:
        if t.kind == "violated":
            first.setdefault(t.property_name, t.depth)
    assert first == nearest
    # One layer at a time finds the same at the same depths (in another order within a depth).
    def found(r: z.ExplorationResult) -> list[tuple[str, int, int, str | None]]:
        return sorted((t.kind, t.fingerprint, t.depth, t.property_name) for t in r.terminals)
    assert found(net.explore(behaviours, injections, properties=declared, exact=True)) == found(ahead)
    slow = net.explore(behaviours, injections, properties=[q for _, _, q in props])
    assert slow.to_dict() == ahead.to_dict()


def test_each_kind_of_property_on_the_router() -> None:
    """The router with three packets: what each kind finds, and the depth of its nearest violation."""
    net = z.NetSim(router_graph(), seed=1)
    feed = [z.Injection(z.PacketLocation.edge(FEED), 3)]
    plain = net.explore(ROUTER_BEHAVIOURS, feed)

    def nearest(p: Property) -> int | None:
        r = net.explore(ROUTER_BEHAVIOURS, feed, properties=[p])
        violated = [t for t in r.terminals if t.kind == "violated"]
        assert all(t.property_name == p.name for t in violated)
        assert r.states <= plain.states
        return min((t.depth for t in violated), default=None)

    assert nearest(Property.on_edge_at_most(FEED, 0)) == 1  # the first injection
    assert nearest(Property.on_edge_at_most(FEED, 3)) is None
    # The step that moves a packet into router.in fires the router at once: between two
    # choices the port is never seen holding it. join.a waits for its pair.
    assert nearest(Property.input_port_at_most("router", "in", 0)) is None
    assert nearest(Property.input_port_at_most("join", "a", 0)) == 6
    assert nearest(Property.input_port_at_most("join", "a", 1)) is None  # a port of one
    assert nearest(Property.packets_at_most(1)) == 2
    assert nearest(Property.packets_at_most(2)) == 3
    assert nearest(Property.packets_at_most(3)) is None
    assert nearest(Property.live_epochs_at_most("router", 0)) == 2  # injected, then the step fires it
    assert nearest(Property.live_epochs_at_most("join", 0)) == 10
    assert nearest(Property.no_orphans()) is None  # every output port has an edge
    # A property that always holds changes nothing.
    same = net.explore(ROUTER_BEHAVIOURS, feed, properties=[Property.packets_at_most(3)])
    assert same.to_dict() == plain.to_dict()


def orphaning_graph() -> z.Graph:
    """One node whose output port has no edge."""
    node = z.Node("n", in_ports={"in": z.Port()}, out_ports={"out": z.Port()},
                  in_salvo_conditions={"take": take_all("in")},
                  out_salvo_conditions={"send": z.SalvoCondition(
                      z.MaxSalvos.finite(1), "out", z.SalvoConditionTerm.port("out", z.PortState.non_empty()))})
    return z.Graph([node], [])


def test_an_orphaned_packet_and_a_running_epochs_output_port() -> None:
    net = z.NetSim(orphaning_graph(), seed=2)
    into = [z.Injection(z.PacketLocation.input_port("n", "in"), 1)]
    passing = [z.Behaviour("n", [z.Outcome(pass_to="out", sends=["send"]), z.Outcome()])]
    result = net.explore(passing, into, properties=[Property.no_orphans(name="kept")])
    (violated,) = [t for t in result.terminals if t.kind == "violated"]
    assert (violated.property_name, violated.depth, violated.packets) == ("kept", 3, 0)
    assert result.counts["clean"] == 1  # consumed instead: no orphan
    # The same, counted at the location the orphan goes to.
    outside = net.explore(passing, into, properties=[Property.at_most(z.PacketLocation.outside_net(), 0, name="kept")])
    assert outside.to_dict() == result.to_dict()
    # A start holding a running epoch with a packet in its output port.
    packet = net.do_action(z.NetAction.create_packet())[0].packet_id
    net.do_action(z.NetAction.transport_packet_to_location(packet, z.PacketLocation.input_port("n", "in")))
    net.run_step()
    (epoch,) = net.get_startable_epochs()
    net.do_action(z.NetAction.start_epoch(epoch))
    net.do_action(z.NetAction.load_packet_into_output_port(packet, "out"))
    at_start = net.explore(properties=[Property.output_port_at_most("n", "out", 0)])
    assert [(t.kind, t.depth) for t in at_start.terminals] == [("violated", 0)]
    assert net.explore(properties=[Property.output_port_at_most("n", "out", 1)]).counts["violated"] == 0


def test_bad_properties_are_refused_before_anything_runs() -> None:
    net = z.NetSim(router_graph())
    bad = [
        ([Property.input_port_at_most("nowhere", "in", 1)], "node 'nowhere'"),
        ([Property.input_port_at_most("router", "nope", 1)], "input port 'nope'"),
        ([Property.output_port_at_most("router", "in", 1)], "output port 'in'"),
        ([Property.live_epochs_at_most("ghost", 1)], "node 'ghost'"),
        ([Property.packets_at_most(1, name="x"), Property.no_orphans(name="x")], "two properties are named 'x'"),
        ([Property.at_most(z.PacketLocation.node("01ARZ3NDEKTSV4RRFFQ69G5FAV"), 1)], "a location of one epoch"),
    ]
    for properties, fragment in bad:
        with pytest.raises(ValueError, match=fragment):
            net.explore(properties=properties)
    with pytest.raises(TypeError, match="properties"):
        net.explore(properties=[z.Behaviour("router", [z.Outcome()])])  # type: ignore[list-item]


def test_a_predicate_sees_each_state_once_and_a_view_it_keeps_is_a_copy_of_that_state() -> None:
    net = z.NetSim(router_graph(), seed=4)
    feed = [z.Injection(z.PacketLocation.edge(FEED), 2)]
    views: list[z.StateView] = []

    def keep(view: z.StateView) -> bool:
        views.append(view)
        return True

    result = net.explore(ROUTER_BEHAVIOURS, feed, properties=[Property.holds("kept", keep)])
    assert len(views) == result.states  # once per state visited
    # States differ by what is left to inject too, which a net does not show: the start and
    # the clean end are one net. A view that still read the working net would show its last state.
    fingerprints = {v.fingerprint() for v in views}
    assert len(fingerprints) == result.states - 1, "each kept view holds the state it was given"
    assert net.fingerprint() in fingerprints
    assert {t.fingerprint for t in result.terminals} <= fingerprints
    for v in views:
        assert v.packets_inside() == len(v.packets()) - v.packet_count_at(z.PacketLocation.outside_net())
        assert v.to_dot().startswith("digraph")


def test_a_predicates_error_ends_the_exploration() -> None:
    net = z.NetSim(router_graph(), seed=4)
    feed = [z.Injection(z.PacketLocation.edge(FEED), 1)]

    def broken(view: z.StateView) -> bool:
        if view.packets_inside():
            raise KeyError("mine")
        return True

    with pytest.raises(KeyError, match="mine"):
        net.explore(ROUTER_BEHAVIOURS, feed, properties=[Property.holds("broken", broken)])
    with pytest.raises(TypeError, match="property 'none': the predicate returned NoneType, not a bool"):
        net.explore(ROUTER_BEHAVIOURS, feed, properties=[Property.holds("none", lambda v: None)])  # type: ignore[arg-type, return-value]
