"""The capacity search against an exhaustive one, on graphs where more capacity can hurt."""

from __future__ import annotations

import itertools
import pathlib
import time
from unittest import mock

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import zellik_sim as z
from zellik_sim.capacities import _explore, largest_clean_injection, minimal_capacities, with_capacities
from zellik_sim.files import read_declarations, read_graph
from zellik_sim.properties import Property

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
Term = z.SalvoConditionTerm


def inport(node: str, port: str = "in") -> z.PortRef:
    return z.PortRef(node, z.PortType.Input, port)


def edge(source: str, target: str, port: str = "in") -> z.Edge:
    return z.Edge(z.PortRef(source, z.PortType.Output, "out"), inport(target, port))


def fires_when(port: str, *states: z.PortState | z.PortStateNumeric, take: int | None = None) -> z.SalvoCondition:
    terms = [Term.port(port, s) for s in states]
    ports = {port: z.PacketCount.All if take is None else z.PacketCount.count(take)}
    return z.SalvoCondition(z.MaxSalvos.finite(1), ports, terms[0] if len(terms) == 1 else Term.and_(terms))


SEND = z.SalvoCondition(z.MaxSalvos.finite(1), "out", Term.port("out", z.PortState.non_empty()))
PASS = z.Outcome(pass_to="out", sends=["send"])


def stage(name: str, condition: z.SalvoCondition, has_out: bool = True) -> z.Node:
    return z.Node(name, in_ports={"in": z.Port(z.PortSlotSpec.finite(1))},
                  out_ports={"out": z.Port()} if has_out else {},
                  in_salvo_conditions={"fire": condition},
                  out_salvo_conditions={"send": SEND} if has_out else {})


def full_pair_graph() -> z.Graph:
    """src -> fill: fill consumes what its port holds once the port is full
    and holds two packets or more."""
    fill = stage("fill", fires_when("in", z.PortState.full(), z.PortState.equals_or_greater_than(2)), False)
    return z.Graph([z.Node("src", out_ports={"out": z.Port()}), fill], [edge("src", "fill")])


def feed(target: str, packets: int) -> list[z.Injection]:
    return [z.Injection(z.PacketLocation.edge(edge("src", target)), packets)]


def clean_with(graph: z.Graph, behaviours: list[z.Behaviour], injections: list[z.Injection]) -> bool:
    result = z.NetSim(graph).explore(behaviours, injections, order="depth_first")
    assert result.finished
    return set(result.counts) <= {"clean"} or all(n == 0 for k, n in result.counts.items() if k != "clean")


def exhaustive(graph, behaviours, injections, bounds) -> tuple[set, list]:
    """The clean vectors of the whole box, and the minimal ones among them."""
    clean = set()
    for vector in itertools.product(*(range(1, b + 1) for b in bounds.values())):
        if clean_with(with_capacities(graph, dict(zip(bounds, vector))), behaviours, injections):
            clean.add(vector)
    minimal = sorted(v for v in clean if not any(u != v and all(a <= b for a, b in zip(u, v)) for u in clean))
    return clean, minimal


def test_more_capacity_can_make_a_graph_stuck_and_the_search_does_not_assume_otherwise():
    graph = full_pair_graph()
    behaviours = [z.Behaviour("fill", [z.Outcome()])]
    six = feed("fill", 6)
    # Full and two or more: six packets go in batches of 2, 3 or 6; 4 and 5 leave some behind.
    clean = [c for c in range(1, 8) if clean_with(with_capacities(graph, {inport("fill"): c}), behaviours, six)]
    assert clean == [2, 3, 6]
    found = minimal_capacities(graph, behaviours, six, {inport("fill"): 7})
    assert (found.minimal, found.unsettled, found.open, found.settled) == ([(2,)], [], [], True)
    assert [(c.capacities, c.verdict) for c in found.checks] == [((1,), "fault"), ((2,), "clean")]
    assert found.skipped == 5
    stuck = found.checks[0].fault
    assert stuck is not None and stuck.kind == "stuck" and found.checks[0].blocked == (inport("fill"),)
    # The same graph asked the other way round: which counts a port of 3 takes.
    counted = largest_clean_injection(with_capacities(graph, {inport("fill"): 3}), behaviours, six, 7)
    assert counted.clean == [3, 6] and counted.largest == 6 and counted.clean_up_to == 0
    assert [c.packets for c in counted.checks] == list(range(1, 8)) and counted.open == []


# Port conditions that make a node's firing depend on its capacity in
# different ways: any packet, a full port, a full port of two or more, a
# count reached.
CONDITIONS = [
    lambda: fires_when("in", z.PortState.non_empty()),
    lambda: fires_when("in", z.PortState.full()),
    lambda: fires_when("in", z.PortState.full(), z.PortState.equals_or_greater_than(2)),
    lambda: fires_when("in", z.PortState.equals_or_greater_than(2), take=2),
    lambda: fires_when("in", z.PortState.equals(2)),
]


@st.composite
def small_cases(draw):
    """Two or three stages fed from one source, in a line or fanned out, each
    with a condition of CONDITIONS, and 2 to 5 packets."""
    count = draw(st.integers(2, 3))
    names = [f"s{i}" for i in range(count)]
    shape = draw(st.sampled_from(["line", "fan"]))
    conditions = [draw(st.integers(0, len(CONDITIONS) - 1)) for _ in names]
    nodes = [z.Node("src", out_ports={"out": z.Port()}, out_salvo_conditions={"send": SEND})]
    edges = [edge("src", names[0])]
    for i, name in enumerate(names):
        has_out = i < count - 1 if shape == "line" else i == 0
        nodes.append(stage(name, CONDITIONS[conditions[i]](), has_out))
        if shape == "line" and i > 0:
            edges.append(edge(names[i - 1], name))
    behaviours = []
    if shape == "fan":
        # The first stage passes what it takes on to one of the others.
        edges = [edge("src", names[0])]
        nodes[1] = z.Node(names[0], in_ports={"in": z.Port(z.PortSlotSpec.finite(1))},
                          out_ports={f"o{j}": z.Port() for j in range(1, count)},
                          in_salvo_conditions={"fire": CONDITIONS[conditions[0]]()},
                          out_salvo_conditions={f"to{j}": z.SalvoCondition(
                              z.MaxSalvos.finite(1), f"o{j}", Term.port(f"o{j}", z.PortState.non_empty()))
                              for j in range(1, count)})
        edges += [z.Edge(z.PortRef(names[0], z.PortType.Output, f"o{j}"), inport(names[j])) for j in range(1, count)]
        behaviours.append(z.Behaviour(names[0], [z.Outcome(pass_to=f"o{j}", sends=[f"to{j}"])
                                                 for j in range(1, count)]))
    else:
        behaviours += [z.Behaviour(n, [PASS]) for n in names[:-1]]
    behaviours.append(z.Behaviour(names[-1], [z.Outcome()]))
    if shape == "fan":
        behaviours += [z.Behaviour(n, [z.Outcome()]) for n in names[1:-1]]
    bounds = {inport(n): draw(st.integers(1, 3)) for n in names}
    packets = draw(st.integers(2, 5))
    return z.Graph(nodes, edges), behaviours, feed(names[0], packets), bounds


# Conditions over two input ports "a" and "b", which tie their capacities
# together: both full, one full and the other holding a packet, either full
# with two or more.
PAIR_CONDITIONS = [
    lambda: Term.and_([Term.port("a", z.PortState.full()), Term.port("b", z.PortState.full())]),
    lambda: Term.and_([Term.port("a", z.PortState.full()), Term.port("b", z.PortState.non_empty())]),
    lambda: Term.or_([Term.and_([Term.port(p, z.PortState.full()), Term.port(p, z.PortState.equals_or_greater_than(2))])
                      for p in "ab"]),
]


def pair_graph(term: z.SalvoConditionTerm) -> tuple[z.Graph, list[z.Edge]]:
    """One node with two input ports fed from two edges, taking all of both when `term` holds."""
    condition = z.SalvoCondition(z.MaxSalvos.finite(1), {"a": z.PacketCount.All, "b": z.PacketCount.All}, term)
    one = z.Port(z.PortSlotSpec.finite(1))
    pair = z.Node("pair", in_ports={"a": one, "b": one}, in_salvo_conditions={"fire": condition})
    edges = [z.Edge(z.PortRef("src", z.PortType.Output, p), inport("pair", p)) for p in "ab"]
    return z.Graph([z.Node("src", out_ports={"a": z.Port(), "b": z.Port()}), pair], edges), edges


@st.composite
def pair_cases(draw):
    """A pair graph firing on a condition of PAIR_CONDITIONS, 1 to 4 packets on each edge."""
    graph, edges = pair_graph(draw(st.sampled_from(PAIR_CONDITIONS))())
    injections = [z.Injection(z.PacketLocation.edge(e), draw(st.integers(1, 4))) for e in edges]
    bounds = {inport("pair", p): draw(st.integers(1, 4)) for p in "ab"}
    return graph, [z.Behaviour("pair", [z.Outcome()])], injections, bounds


@settings(max_examples=40, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.one_of(small_cases(), pair_cases()), st.integers(0, 3), st.sampled_from([3, 40, _explore.PROBE_STATES]))
def test_the_search_finds_what_an_exhaustive_search_finds_and_explores_only_what_it_must(case, walks, probe):
    graph, behaviours, injections, bounds = case
    clean, minimal = exhaustive(graph, behaviours, injections, bounds)
    # A first search cut short at `probe` states goes on with random walks
    # and then the full search, which must settle every vector the same way.
    with mock.patch.object(_explore, "PROBE_STATES", probe):
        found = minimal_capacities(graph, behaviours, injections, bounds, walks=walks)
    assert found.settled and found.unsettled == []
    assert found.minimal == minimal
    # Every verdict is the exhaustive one, and a fault has a run that replays to it.
    for check in found.checks:
        assert (check.verdict == "clean") == (check.capacities in clean), check
        if check.verdict == "fault":
            assert check.fault is not None and check.fault.kind in ("stuck", "failed")
    # It explores each vector not above a minimal one exactly once, and no other.
    box = list(itertools.product(*(range(1, b + 1) for b in bounds.values())))
    needed = [v for v in box if not any(m != v and all(a <= b for a, b in zip(m, v)) for m in minimal)]
    assert sorted(c.capacities for c in found.checks) == sorted(needed)
    assert found.skipped == len(box) - len(needed)
    assert found.explorations >= len(needed) and found.states >= len(needed)


def test_a_limit_leaves_vectors_open_and_what_is_above_them_unsettled():
    graph = full_pair_graph()
    behaviours = [z.Behaviour("fill", [z.Outcome()])]
    # With at most 2 packets in the net, six on the way are never all explored.
    found = minimal_capacities(graph, behaviours, feed("fill", 6), {inport("fill"): 3}, max_packets=2, walks=0)
    assert not found.settled and found.minimal == []
    assert all(c.verdict == "open" for c in found.checks) and found.open == [(1,), (2,), (3,)]


def test_a_violated_property_or_a_schedule_that_never_ends_is_a_fault():
    graph = full_pair_graph()
    behaviours = [z.Behaviour("fill", [z.Outcome()])]
    # The executor may inject all six packets before anything moves: more
    # than four in the net, whatever the capacity.
    four = [Property.packets_at_most(4)]
    found = minimal_capacities(graph, behaviours, feed("fill", 6), {inport("fill"): 3}, properties=four)
    assert found.minimal == [] and found.settled and len(found.checks) == 3
    assert {c.fault.kind for c in found.checks if c.fault} >= {"violated"}
    assert all(c.verdict == "fault" for c in found.checks)
    # Two nodes passing one packet back and forth never end: no terminal state
    # at all, or a livelock when asked for.
    nodes = [stage(n, fires_when("in", z.PortState.non_empty())) for n in ("ping", "pong")]
    loop = z.Graph(nodes, [edge("ping", "pong"), edge("pong", "ping")])
    passes = [z.Behaviour(n, [PASS]) for n in ("ping", "pong")]
    one_packet = [z.Injection(z.PacketLocation.input_port("ping", "in"), 1)]
    for livelocks, kind in ((None, None), ("any_end", "livelock")):
        found = minimal_capacities(loop, passes, one_packet, {inport("ping"): 2}, livelocks=livelocks, walks=0)
        assert found.minimal == [] and [c.verdict for c in found.checks] == ["fault", "fault"]
        assert [c.fault and c.fault.kind for c in found.checks] == [kind, kind]


def test_arguments_are_refused_by_name():
    graph = full_pair_graph()
    behaviours = [z.Behaviour("fill", [z.Outcome()])]
    for bounds, fragment in [({}, "at least one port"), ({inport("nowhere"): 2}, "no port nowhere.in.in"),
                             ({inport("fill"): 0}, "from 1 to")]:
        with pytest.raises(ValueError, match="argument 'bounds'") as raised:
            minimal_capacities(graph, behaviours, feed("fill", 2), bounds)
        assert fragment in str(raised.value)
    with pytest.raises(ValueError, match="argument 'injections'"):
        largest_clean_injection(graph, behaviours, [], 3)
    with pytest.raises(ValueError, match="max_states"):
        minimal_capacities(graph, behaviours, feed("fill", 2), {inport("fill"): 2}, max_states=0)


def fork_join():
    declarations = read_declarations(EXAMPLES / "fork-join.declarations.json")
    return read_graph(EXAMPLES / "fork-join.graph.json"), declarations.behaviours, declarations.injections


def five_nodes(packets: int):
    """src -> split, which passes each packet left and makes one for the right;
    left sends batches when its port is full and holds two or more, right
    when its port is full; join takes one from each side at a time."""
    both = Term.and_([Term.port(p, z.PortState.non_empty()) for p in ("left", "right")])
    split = z.Node("split", in_ports={"in": z.Port(z.PortSlotSpec.finite(1))},
                   out_ports={"left": z.Port(), "right": z.Port()},
                   in_salvo_conditions={"fire": fires_when("in", z.PortState.non_empty())},
                   out_salvo_conditions={"both": z.SalvoCondition(z.MaxSalvos.finite(1), ["left", "right"], both)})
    left = stage("left", fires_when("in", z.PortState.full(), z.PortState.equals_or_greater_than(2)))
    right = stage("right", fires_when("in", z.PortState.full()))
    pair = z.SalvoCondition(z.MaxSalvos.finite(1), {"a": z.PacketCount.count(1), "b": z.PacketCount.count(1)},
                            Term.and_([Term.port(p, z.PortState.non_empty()) for p in "ab"]))
    one = z.Port(z.PortSlotSpec.finite(1))
    join = z.Node("join", in_ports={"a": one, "b": one}, in_salvo_conditions={"pair": pair})
    edges = [edge("src", "split"), z.Edge(z.PortRef("split", z.PortType.Output, "left"), inport("left")),
             z.Edge(z.PortRef("split", z.PortType.Output, "right"), inport("right")),
             edge("left", "join", "a"), edge("right", "join", "b")]
    behaviours = [z.Behaviour("split", [z.Outcome(pass_to="left", creates={"right": 1}, sends=["both"])]),
                  z.Behaviour("left", [PASS]), z.Behaviour("right", [PASS]), z.Behaviour("join", [z.Outcome()])]
    graph = z.Graph([z.Node("src", out_ports={"out": z.Port()}), split, left, right, join], edges)
    return graph, behaviours, feed("split", packets)


@pytest.mark.parametrize(("case", "bounds", "minimal"), [
    (fork_join, {inport("batch"): 4, inport("join", "a"): 4, inport("join", "b"): 4}, [(2, 1, 1)]),
    (lambda: five_nodes(6), {inport("left"): 6, inport("right"): 3, inport("join", "a"): 3}, [(2, 1, 1)]),
], ids=["fork-join", "five-nodes"])
def test_larger_graphs_are_answered_within_a_minute_as_the_exhaustive_search_answers(case, bounds, minimal):
    graph, behaviours, injections = case()
    began = time.perf_counter()
    found = minimal_capacities(graph, behaviours, injections, bounds)
    assert time.perf_counter() - began < 60
    assert found.minimal == minimal and found.settled
    assert found.minimal == exhaustive(graph, behaviours, injections, bounds)[1]
    assert found.skipped > 0 and found.states >= len(found.checks)



def test_a_search_ends_once_a_whole_sum_lies_above_clean_vectors():
    # Either port full fires the pair, so one slot each does; the search ends
    # after that vector instead of going through 2**32 of them.
    graph, edges = pair_graph(Term.or_([Term.port(p, z.PortState.full()) for p in "ab"]))
    injections = [z.Injection(z.PacketLocation.edge(e), 2) for e in edges]
    found = minimal_capacities(graph, [z.Behaviour("pair", [z.Outcome()])], injections,
                               {inport("pair", "a"): 1 << 16, inport("pair", "b"): 1 << 16})
    assert found.minimal == [(1, 1)] and len(found.checks) == 1 and found.skipped == (1 << 32) - 1
