"""Exploring every schedule: declarations, fingerprints, and the explorer against a brute force."""

from __future__ import annotations

import collections
import copy
import io
import pickle
import random
import subprocess
import sys
import threading
import _thread
import pathlib
from typing import Any

import pytest

import zellik_sim as z

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"
sys.path.insert(0, str(EXAMPLES))

import deadlock  # noqa: E402
import recording  # noqa: E402

ONE = z.Port(z.PortSlotSpec.finite(1))


def ref(node: str, kind: z.PortType, port: str) -> z.PortRef:
    return z.PortRef(node, kind, port)


def edge(source: str, out_port: str, target: str, in_port: str) -> z.Edge:
    return z.Edge(ref(source, z.PortType.Output, out_port), ref(target, z.PortType.Input, in_port))


def take_all(port: str) -> z.SalvoCondition:
    return z.SalvoCondition(z.MaxSalvos.finite(1), port, z.SalvoConditionTerm.port(port, z.PortState.non_empty()))


def send(port: str) -> z.SalvoCondition:
    return z.SalvoCondition(z.MaxSalvos.finite(1), port, z.SalvoConditionTerm.port(port, z.PortState.non_empty()))


FEED = edge("src", "out", "router", "in")


def router_graph() -> z.Graph:
    """Source, a router sending left or right, two one-port branches, a join needing both; ports of 1."""
    pair = z.SalvoCondition(
        z.MaxSalvos.finite(1), {"a": z.PacketCount.count(1), "b": z.PacketCount.count(1)},
        z.SalvoConditionTerm.and_([z.SalvoConditionTerm.port("a", z.PortState.non_empty()),
                                   z.SalvoConditionTerm.port("b", z.PortState.non_empty())]))
    nodes = [
        z.Node("src", out_ports={"out": z.Port()}),
        z.Node("router", in_ports={"in": ONE}, out_ports={"left": z.Port(), "right": z.Port()},
               in_salvo_conditions={"take": take_all("in")},
               out_salvo_conditions={"to_left": send("left"), "to_right": send("right")}),
        z.Node("left", in_ports={"in": ONE}, out_ports={"out": z.Port()},
               in_salvo_conditions={"take": take_all("in")}, out_salvo_conditions={"send": send("out")}),
        z.Node("right", in_ports={"in": ONE}, out_ports={"out": z.Port()},
               in_salvo_conditions={"take": take_all("in")}, out_salvo_conditions={"send": send("out")}),
        z.Node("join", in_ports={"a": ONE, "b": ONE}, in_salvo_conditions={"pair": pair}),
    ]
    edges = [FEED, edge("router", "left", "left", "in"), edge("router", "right", "right", "in"),
             edge("left", "out", "join", "a"), edge("right", "out", "join", "b")]
    return z.Graph(nodes, edges)


ROUTER_BEHAVIOURS = [
    z.Behaviour("router", [z.Outcome(pass_to="left", sends=["to_left"]),
                           z.Outcome(pass_to="right", sends=["to_right"])]),
    z.Behaviour("left", [z.Outcome(pass_to="out", sends=["send"])]),
    z.Behaviour("right", [z.Outcome(pass_to="out", sends=["send"])]),
]

CASES = {
    "router": (router_graph, ROUTER_BEHAVIOURS, FEED),
    "deadlock": (lambda: deadlock.build_graph(1), deadlock.BEHAVIOURS, deadlock.FEED_EDGE),
    "deadlock-fixed": (lambda: deadlock.build_graph(2), deadlock.BEHAVIOURS, deadlock.FEED_EDGE),
}


# ---------------------------------------------------------------------------
# A brute force over the public API: the same choices, forks by deepcopy, and
# a state key of its own built from queries.

def state_key(net: z.NetSim, left: int) -> tuple[Any, ...]:
    graph = net.graph
    counts: list[int] = [net.packet_count_at(z.PacketLocation.edge(e)) for e in sorted(graph.edges(), key=str)]
    for name in sorted(graph.nodes()):
        for port in sorted(graph.nodes()[name].in_ports):
            counts.append(net.packet_count_at(z.PacketLocation.input_port(name, port)))
    counts.append(net.packet_count_at(z.PacketLocation.outside_net()))
    epochs = []
    for epoch in net.epochs():
        out_ports = sorted(graph.nodes()[epoch.node_name].out_ports)
        epochs.append((
            epoch.node_name, str(epoch.state), epoch.in_salvo.salvo_condition,
            tuple(sorted(collections.Counter(p for p, _ in epoch.in_salvo.packets).items())),
            net.packet_count_at(z.PacketLocation.node(epoch.id)),
            tuple(net.packet_count_at(z.PacketLocation.output_port(epoch.id, p)) for p in out_ports),
            tuple(sorted(s.salvo_condition for s in epoch.out_salvos)),
        ))
    return tuple(counts), tuple(sorted(epochs)), left


def behaviour_of(behaviours: list[z.Behaviour], node: str) -> list[z.Outcome]:
    for b in behaviours:
        if b.node == node:
            return b.outcomes
    return [z.Outcome()]


def execute(net: z.NetSim, epoch_id: str, outcome: z.Outcome) -> None:
    net.do_action(z.NetAction.start_epoch(epoch_id))
    for packet in net.get_packets_at_location(z.PacketLocation.node(epoch_id)):
        if outcome.pass_to is None:
            net.do_action(z.NetAction.consume_packet(packet))
        else:
            net.do_action(z.NetAction.load_packet_into_output_port(packet, outcome.pass_to))
    for port, count in outcome.creates.items():
        for _ in range(count):
            made, _events = net.do_action(z.NetAction.create_packet(epoch_id))
            net.do_action(z.NetAction.load_packet_into_output_port(made.packet_id, port))
    for condition in outcome.sends:
        net.do_action(z.NetAction.send_output_salvo(epoch_id, condition))
    net.do_action(z.NetAction.finish_epoch(epoch_id))


class World:
    """A state of the brute force: the net, what is left to inject and request, and the request
    state the engine keeps out of sight (tokens, startup flag, pending requests), followed here
    from the events."""

    def __init__(self, net: z.NetSim, injections: list[z.Injection], requests: list[z.RequestAllowance]) -> None:
        self.net = net
        self.injections_left = tuple(i.count for i in injections)
        self.requests_left = tuple(r.count for r in requests)
        nodes = net.graph.nodes()
        self.token_nodes = sorted(n for n, node in nodes.items() if node.dependency_request_config
                                  and z.DependencyRequestTrigger.OnNoSalvoTriggered
                                  in node.dependency_request_config.triggers)
        self.tokens = tuple(True for _ in self.token_nodes)
        self.startup_sent = False
        self.pending: tuple[tuple[str, str], ...] = ()

    def fork(self) -> World:
        other = copy.copy(self)
        other.net = copy.deepcopy(self.net)
        return other

    def key(self) -> tuple[Any, ...]:
        return state_key(self.net, (self.injections_left, self.requests_left, self.tokens,
                                    self.startup_sent, self.pending))

    def packets_inside(self) -> int:
        return len(self.net.packets()) - self.net.packet_count_at(z.PacketLocation.outside_net())

    def set_token(self, node: str, value: bool) -> None:
        if node in self.token_nodes:
            tokens = list(self.tokens)
            tokens[self.token_nodes.index(node)] = value
            self.tokens = tuple(tokens)

    def stepped(self, events: list[z.NetEvent]) -> None:
        for event in events:
            if event.kind == "RequestCreated" and event.request_source == "OnStartup":
                self.startup_sent = True
            elif event.kind == "RequestCreated" and event.request_source == "OnNoSalvoTriggered":
                self.set_token(str(event.node_name), False)
        self.pending = ()  # a step resolves every pending request, or drops it


def successors(world: World, behaviours: list[z.Behaviour], injections: list[z.Injection],
               requests: list[z.RequestAllowance]):
    """Each state one transition away, or None for a choice the engine refuses part way."""
    net = world.net
    stepped = world.fork()
    try:
        progress, events = stepped.net.run_step()
    except z.ZellikError:
        yield None
    else:
        if progress:  # a step that moves nothing and makes no epoch is no transition
            stepped.stepped(events)
            yield stepped
    for epoch_id in net.get_startable_epochs():
        node = net.get_epoch(epoch_id).node_name
        for outcome in behaviour_of(behaviours, node):
            fork = world.fork()
            try:
                execute(fork.net, str(epoch_id), outcome)
            except z.ZellikError:
                yield None
                continue
            fork.set_token(node, True)
            yield fork
    for i, injection in enumerate(injections):
        if world.injections_left[i] > 0:
            fork = world.fork()
            made, _ = fork.net.do_action(z.NetAction.create_packet())
            try:
                fork.net.do_action(z.NetAction.transport_packet_to_location(made.packet_id, injection.location))
            except z.ZellikError:
                continue  # the port is full
            fork.injections_left = tuple(n - (j == i) for j, n in enumerate(world.injections_left))
            yield fork
    for i, request in enumerate(requests):
        if world.requests_left[i] > 0:
            fork = world.fork()
            fork.net.do_action(z.NetAction.create_request(request.node, request.label))
            fork.requests_left = tuple(n - (j == i) for j, n in enumerate(world.requests_left))
            fork.pending = world.pending + ((request.node, request.label),)
            yield fork


def brute_force(net: z.NetSim, behaviours: list[z.Behaviour], feed: z.Edge | None = None, packets: int = 0,
                injections: list[z.Injection] | None = None, requests: list[z.RequestAllowance] | None = None,
                max_packets: int | None = None):
    """Distinct states, and terminal state keys by kind ('failed': states with a refused choice)."""
    if injections is None:
        injections = [z.Injection(z.PacketLocation.edge(feed), packets)] if feed is not None else []
    requests = requests or []
    start = World(net, injections, requests)
    seen = {start.key()}
    queue = collections.deque([start])
    terminals: dict[str, set[tuple[Any, ...]]] = {"clean": set(), "stuck": set(), "over_limit": set(),
                                                  "failed": set()}
    while queue:
        current = queue.popleft()
        if max_packets is not None and current.packets_inside() > max_packets:
            terminals["over_limit"].add(current.key())
            continue
        moved = failed = False
        for fork in successors(current, behaviours, injections, requests):
            if fork is None:
                failed = True
                continue
            moved = True
            key = fork.key()
            if key not in seen:
                seen.add(key)
                queue.append(fork)
        if failed:
            terminals["failed"].add(current.key())
        elif not moved:
            terminals["stuck" if current.packets_inside() else "clean"].add(current.key())
    return len(seen), {kind: len(keys) for kind, keys in terminals.items()}


@pytest.mark.parametrize("case", sorted(CASES))
@pytest.mark.parametrize("packets", [1, 2, 3])
def test_explorer_agrees_with_a_brute_force_over_the_public_api(case: str, packets: int) -> None:
    make_graph, behaviours, feed = CASES[case]
    net = z.NetSim(make_graph())
    states, terminals = brute_force(net, behaviours, feed, packets)
    injections = [z.Injection(z.PacketLocation.edge(feed), packets)]
    for order, exact in [("breadth_first", False), ("depth_first", False), ("breadth_first", True)]:
        result = net.explore(behaviours, injections, order=order, exact=exact)
        assert result.finished and result.stopped is None
        assert result.states == states, (order, exact)
        counts = result.counts
        assert (counts["clean"], counts["stuck"]) == (terminals["clean"], terminals["stuck"]), (order, exact)
        assert counts["over_limit"] == counts["failed"] == 0
        assert result.transitions >= result.states - 1


def random_case(seed: int):
    """A small random graph with cycles, self-loops, unconnected output ports, dependency edges and
    request triggers, with its behaviours, injections and request allowances."""
    rng = random.Random(seed)
    names = [f"n{i}" for i in range(rng.randint(2, 3))]
    ins = {n: [f"i{k}" for k in range(rng.randint(1, 2))] for n in names}
    outs = {n: [f"o{k}" for k in range(rng.randint(0, 2))] for n in names}
    free_ins = [(n, p) for n in names for p in ins[n]]
    rng.shuffle(free_ins)
    edges = []
    for n in names:
        for p in outs[n]:
            if free_ins and rng.random() < 0.8:  # else unconnected: packets sent there leave the net
                target, port = free_ins.pop()
                edges.append(edge(n, p, target, port))
    deps = [e for e in edges if rng.random() < 0.7]
    triggers = [z.DependencyRequestTrigger.OnStartup, z.DependencyRequestTrigger.OnNoSalvoTriggered]
    targets = sorted({e.target.node_name for e in deps})
    nodes = []
    for n in names:
        conditions = {f"t{p}": take_all(p) for p in ins[n]}
        if len(ins[n]) == 2 and rng.random() < 0.5:
            both = z.SalvoConditionTerm.and_([z.SalvoConditionTerm.port(p, z.PortState.non_empty()) for p in ins[n]])
            conditions = {"both": z.SalvoCondition(z.MaxSalvos.finite(1), ins[n], both)}
        chosen = [t for t in triggers if n in targets and rng.random() < 0.6]
        nodes.append(z.Node(
            n, in_ports={p: rng.choice([ONE, z.Port()]) for p in ins[n]}, out_ports={p: z.Port() for p in outs[n]},
            in_salvo_conditions=conditions, out_salvo_conditions={f"s{p}": send(p) for p in outs[n]},
            dependency_request_config=z.DependencyRequestConfig(chosen, "more") if chosen else None))
    behaviours = []
    for n in names:
        outcomes = [z.Outcome()]
        for p in outs[n]:
            outcomes.append(z.Outcome(pass_to=p, sends=[f"s{p}"]))
            if rng.random() < 0.5:
                outcomes.append(z.Outcome(creates={p: 1}, sends=[f"s{p}"]))
        behaviours.append(z.Behaviour(n, rng.sample(outcomes, rng.randint(1, len(outcomes)))))
    n = rng.choice(names)
    injections = [z.Injection(z.PacketLocation.input_port(n, rng.choice(ins[n])), rng.randint(1, 2))]
    requests = [z.RequestAllowance(t, "asked", 1) for t in targets if rng.random() < 0.5]
    return z.Graph(nodes, edges, deps), behaviours, injections, requests


@pytest.mark.parametrize("seed", range(32))
def test_explorer_agrees_with_the_brute_force_on_random_graphs_with_requests(seed: int) -> None:
    graph, behaviours, injections, requests = random_case(seed)
    net = z.NetSim(graph, seed=seed)
    states, terminals = brute_force(net, behaviours, injections=injections, requests=requests, max_packets=2)
    found = {}
    for order in ("breadth_first", "depth_first"):
        result = net.explore(behaviours, injections, requests, order=order, max_packets=2)
        assert result.finished and result.stopped is None
        counts = result.counts
        assert result.states == states, order
        assert {k: counts[k] for k in ("clean", "stuck", "over_limit")} == \
            {k: terminals[k] for k in ("clean", "stuck", "over_limit")}, order
        assert (counts["failed"] > 0) == (terminals["failed"] > 0), order
        found[order] = {(t.kind, t.fingerprint) for t in result.terminals}
        for t in result.terminals:
            assert t.packets <= 2 or t.kind == "over_limit"
            assert t.kind != "clean" or t.packets == 0
            assert t.kind != "stuck" or t.waiting
    assert found["breadth_first"] == found["depth_first"]
    walks = net.explore(behaviours, injections, requests, order="random_walk", walks=30, seed=seed, max_packets=2)
    assert (walks.finished, walks.stopped) == (False, "walks")
    assert walks.states <= states
    assert {(t.kind, t.fingerprint) for t in walks.terminals} <= found["breadth_first"]


def test_stuck_runs_replay_to_their_state_and_breadth_first_finds_a_shortest_one() -> None:
    graph = router_graph()
    start = z.NetSim(graph, seed=3)
    before = pickle.dumps(start)
    result = start.explore(ROUTER_BEHAVIOURS, [z.Injection(z.PacketLocation.edge(FEED), 3)])
    assert pickle.dumps(start) == before, "the caller's net changed"
    assert result.stuck and result.counts["stuck"] == len(result.stuck)
    depths = [t.depth for t in result.terminals]
    assert depths == sorted(depths), "breadth-first finds nearer terminal states first"
    for stuck in result.stuck:
        net = copy.deepcopy(start)
        for action in stuck.run:
            net.do_action(action)
        assert net.fingerprint() == stuck.fingerprint
        assert net.is_blocked() and not net.get_startable_epochs()
        waiting = {str(loc): n for loc, n in stuck.waiting}
        assert sum(waiting.values()) == stuck.packets == len(net.packets())
        assert {node for node, _ in stuck.blocked_conditions} <= {"join", "left", "right", "router"}
        assert stuck.to_dot().startswith("digraph")
        # The recording replays against a fresh net over the graph, event by event.
        assert recording.replay(graph, io.StringIO(stuck.to_jsonl())) == len(stuck.run)


def random_schedule(net: z.NetSim, rng: random.Random, behaviours: list[z.Behaviour], feed: z.Edge,
                    left: int, steps: int) -> list[tuple[Any, ...]]:
    """Drives `net` with choices made by `rng`, never by id; the state key after each."""
    keys = []
    for _ in range(steps):
        epochs = sorted(net.get_startable_epochs(), key=lambda e: state_key_of_epoch(net, str(e)))
        choice = rng.randrange(3)
        if choice == 0 and epochs:
            epoch_id = str(epochs[rng.randrange(len(epochs))])
            outcomes = behaviour_of(behaviours, net.get_epoch(epoch_id).node_name)
            execute(net, epoch_id, outcomes[rng.randrange(len(outcomes))])
        elif choice == 1 and left > 0:
            made, _ = net.do_action(z.NetAction.create_packet())
            net.do_action(z.NetAction.transport_packet_to_location(made.packet_id, z.PacketLocation.edge(feed)))
            left -= 1
        else:
            net.run_step()
        keys.append(state_key(net, 0))
    return keys


def state_key_of_epoch(net: z.NetSim, epoch_id: str) -> tuple[Any, ...]:
    epoch = net.get_epoch(epoch_id)
    return epoch.node_name, tuple(sorted(p for p, _ in epoch.in_salvo.packets))


@pytest.mark.parametrize("seed", range(6))
def test_fingerprints_ignore_ids_and_tell_every_other_difference(seed: int) -> None:
    make_graph, behaviours, feed = CASES[["router", "deadlock", "deadlock-fixed"][seed % 3]]
    rng_seed = random.Random(seed).randrange(1 << 30)
    one, other = z.NetSim(make_graph(), seed=seed), z.NetSim(make_graph())
    by_key: dict[tuple[Any, ...], int] = {}
    by_fingerprint: dict[int, tuple[Any, ...]] = {}
    rng_one, rng_other = random.Random(rng_seed), random.Random(rng_seed)
    for _ in range(40):
        keys = random_schedule(one, rng_one, behaviours, feed, 4, 1)
        random_schedule(other, rng_other, behaviours, feed, 4, 1)
        fingerprint = one.fingerprint()
        assert other.fingerprint() == fingerprint, "nets differing only in ids"
        assert 0 <= fingerprint < 1 << 128
        key = keys[-1]
        assert by_key.setdefault(key, fingerprint) == fingerprint
        assert by_fingerprint.setdefault(fingerprint, key) == key, "two different states, one fingerprint"
    # A fork of the graph built anew, and a pickled copy, agree too.
    assert pickle.loads(pickle.dumps(one)).fingerprint() == one.fingerprint()


# ---------------------------------------------------------------------------
# Declarations

DECLARATIONS = [
    z.Outcome(),
    z.Outcome(pass_to="out", creates={"out": 2, "x": 0}, sends=["send", "send"]),
    z.Behaviour("router", [z.Outcome(pass_to="left", sends=["to_left"]), z.Outcome()]),
    z.Injection(z.PacketLocation.edge(FEED), 5),
    z.Injection(z.PacketLocation.input_port("join", "a"), 0),
    z.RequestAllowance("join", "more", 2),
]


@pytest.mark.parametrize("value", DECLARATIONS, ids=repr)
def test_declarations_are_values_that_repr_pickle_and_round_trip_through_dicts(value: Any) -> None:
    cls = type(value)
    text = repr(value)
    assert text.startswith(cls.__name__ + "(")
    if "->" not in text:  # a location's repr shows an edge as text
        assert eval(text, vars(z)) == value  # noqa: S307 - the repr is the constructor call
    assert pickle.loads(pickle.dumps(value)) == value
    assert copy.deepcopy(value) == value
    assert cls.from_dict(value.to_dict()) == value
    assert value != object() and not (value != value)


@pytest.mark.parametrize("value", DECLARATIONS, ids=repr)
def test_declaration_dicts_are_read_strictly(value: Any) -> None:
    cls, data = type(value), value.to_dict()
    with pytest.raises(ValueError, match=r"^invalid field 'extra': unexpected field$"):
        cls.from_dict({**data, "extra": 1})
    # Every field but Outcome's (all optional) is needed, and the message names them all.
    names = [f"'{key}'" for key in data]
    needs = f"{cls.__name__}.from_dict: the dict needs {', '.join(names[:-1])} and {names[-1]}"
    for key in data:
        rest = {k: v for k, v in data.items() if k != key}
        if cls is z.Outcome:
            assert cls.from_dict(rest) == cls(**{k: getattr(value, k) for k in rest})
        else:
            with pytest.raises(ValueError) as raised:
                cls.from_dict(rest)
            assert str(raised.value) == needs


@pytest.mark.parametrize(("declare", "fragment"), [
    (lambda: dict(behaviours=[z.Behaviour("nobody", [z.Outcome()])]), "node 'nobody'"),
    (lambda: dict(behaviours=[z.Behaviour("router", [])]), "'router' has no outcome"),
    (lambda: dict(behaviours=[z.Behaviour("router", [z.Outcome(pass_to="up")])]), "output port 'up'"),
    (lambda: dict(behaviours=[z.Behaviour("left", [z.Outcome(creates={"nope": 1})])]), "output port 'nope'"),
    (lambda: dict(behaviours=[z.Behaviour("left", [z.Outcome(sends=["shout"])])]), "condition 'shout'"),
    (lambda: dict(behaviours=[z.Behaviour("left", [z.Outcome()]), z.Behaviour("left", [z.Outcome()])]),
     "'left' has two behaviours"),
    (lambda: dict(injections=[z.Injection(z.PacketLocation.input_port("join", "c"), 1)]), "input port 'c'"),
    (lambda: dict(injections=[z.Injection(z.PacketLocation.outside_net(), 1)]), "only an edge or an input port"),
    (lambda: dict(injections=[z.Injection(z.PacketLocation.edge(edge("left", "out", "join", "b")), 1)]),
     "left.out.out -> join.in.b"),
    (lambda: dict(requests=[z.RequestAllowance("ghost", "x", 1)]), "'ghost'"),
    (lambda: dict(order="sideways"), "order"),
    (lambda: dict(max_states=-1), "argument 'max_states': expected an int from 1"),
    (lambda: dict(max_time=0), "max_time"),
])
def test_bad_declarations_raise_value_error_naming_the_fault_before_anything_runs(declare, fragment) -> None:
    net = z.NetSim(router_graph())
    with pytest.raises(ValueError, match=None) as raised:
        net.explore(**declare())
    assert fragment in str(raised.value)


@pytest.mark.parametrize(("make", "fragment"), [
    (lambda: z.Outcome(creates={"out": -1}), """argument 'creates["out"]': expected an int from 0 to 2**64-1, got -1"""),
    (lambda: z.Injection(z.PacketLocation.edge(FEED), -3), "Injection: argument 'count': expected an int from 0"),
    (lambda: z.RequestAllowance("join", "x", 2**64), "RequestAllowance: argument 'count'"),
])
def test_negative_counts_are_refused_when_declared(make, fragment) -> None:
    with pytest.raises(ValueError) as raised:
        make()
    assert fragment in str(raised.value)


@pytest.mark.parametrize("order", ["breadth_first", "depth_first", "random_walk"])
def test_a_state_with_more_choices_than_a_choice_number_holds_raises_value_error(order: str) -> None:
    # Each injection declared is a choice of its own: with the step, one more than 16 bits number.
    net = z.NetSim(router_graph())
    before = net.fingerprint()
    with pytest.raises(ValueError) as raised:
        net.explore(ROUTER_BEHAVIOURS, [z.Injection(z.PacketLocation.edge(FEED), 1)] * 65_535, order=order)
    assert str(raised.value) == (
        "explore: A state has more than 65535 choices to explore: 65536 "
        "(the step, 0 epoch outcomes, 65535 injections, 0 requests), at depth 0"
    )
    assert net.fingerprint() == before


# ---------------------------------------------------------------------------
# Limits, signals, and the caller's net

def test_limits_stop_cleanly_and_say_so() -> None:
    net = z.NetSim(router_graph())
    injections = [z.Injection(z.PacketLocation.edge(FEED), 6)]
    full = net.explore(ROUTER_BEHAVIOURS, injections)
    assert full.finished and full.states > 1000
    by_states = net.explore(ROUTER_BEHAVIOURS, injections, max_states=500)
    assert (by_states.finished, by_states.stopped) == (False, "states") and 500 <= by_states.states < full.states
    by_depth = net.explore(ROUTER_BEHAVIOURS, injections, max_depth=5)
    assert (by_depth.finished, by_depth.stopped) == (False, "depth") and by_depth.max_depth <= 5
    by_time = net.explore(ROUTER_BEHAVIOURS, [z.Injection(z.PacketLocation.edge(FEED), 40)], max_time=0.2)
    assert (by_time.finished, by_time.stopped) == (False, "time")
    over = net.explore(ROUTER_BEHAVIOURS, injections, max_packets=3)
    assert over.finished and over.counts["over_limit"] > 0
    assert all(t.packets > 3 for t in over.terminals if t.kind == "over_limit")
    walks = [net.explore(ROUTER_BEHAVIOURS, injections, order="random_walk", seed=7, walks=20) for _ in range(2)]
    assert walks[0].states == walks[1].states and not walks[0].finished
    assert {t.fingerprint for t in walks[0].terminals} <= {t.fingerprint for t in full.terminals}


def test_a_signal_stops_exploration_with_what_was_found_and_the_net_unchanged(capsys) -> None:
    net = z.NetSim(router_graph(), seed=1)
    before = pickle.dumps(net)
    timer = threading.Timer(0.3, _thread.interrupt_main)
    timer.start()
    with pytest.raises(KeyboardInterrupt) as raised:
        net.explore(ROUTER_BEHAVIOURS, [z.Injection(z.PacketLocation.edge(FEED), 60)], progress=True)
    timer.join()
    partial = raised.value.result  # type: ignore[attr-defined]
    assert partial.states > 0 and not partial.finished and partial.stopped == "cancelled"
    assert pickle.dumps(net) == before
    assert "states/s" in capsys.readouterr().err
    net.run_until_blocked()  # still usable


def test_exploring_from_the_middle_of_a_run() -> None:
    net = z.NetSim(router_graph(), seed=2)
    for _ in range(2):
        made, _ = net.do_action(z.NetAction.create_packet())
        net.do_action(z.NetAction.transport_packet_to_location(made.packet_id, z.PacketLocation.edge(FEED)))
    net.run_step()
    states, terminals = brute_force(net, ROUTER_BEHAVIOURS, FEED, 0)
    result = net.explore(ROUTER_BEHAVIOURS)
    assert result.states == states and result.counts["stuck"] == terminals["stuck"]


def test_deadlock_example_finds_the_stuck_state_and_the_fix() -> None:
    stuck = subprocess.run([sys.executable, str(EXAMPLES / "deadlock.py"), "--packets", "3"],
                           capture_output=True, text=True, check=True)
    assert "stuck after" in stuck.stdout and "batch.two never holds" in stuck.stdout
    fixed = subprocess.run([sys.executable, str(EXAMPLES / "deadlock.py"), "--capacity", "2", "--packets", "4"],
                           capture_output=True, text=True, check=True)
    assert "no stuck state" in fixed.stdout and "explored completely: True" in fixed.stdout


def test_a_step_whose_startup_request_fails_is_explored_from_where_it_began() -> None:
    # lone asks up for packets when the net starts; up has an unconnected
    # input port, so every step fails after marking the startup requests
    # sent. The explorer must come back from each such step.
    lone = z.Node("lone", in_ports={"in": ONE}, in_salvo_conditions={"take": take_all("in")},
                  dependency_request_config=z.DependencyRequestConfig([z.DependencyRequestTrigger.OnStartup], "boot"))
    feeder = z.Node("feeder", out_ports={"out": z.Port()})
    up = z.Node("up", in_ports={"x": ONE, "z": ONE}, out_ports={"out": z.Port()})
    wanted = edge("up", "out", "lone", "in")
    base = router_graph()
    graph = z.Graph(list(base.nodes().values()) + [lone, feeder, up],
                    base.edges() + [edge("feeder", "out", "up", "x"), wanted], [wanted])
    net = z.NetSim(graph, seed=5)
    before = pickle.dumps(net)
    found = {}
    for order in ("breadth_first", "depth_first"):
        result = net.explore(ROUTER_BEHAVIOURS, [z.Injection(z.PacketLocation.edge(FEED), 2)], order=order)
        assert result.finished and pickle.dumps(net) == before
        found[order] = (result.states, result.counts)
        failed = [t for t in result.terminals if t.kind == "failed"]
        assert failed and all("unconnected input port 'z'" in t.failure for t in failed)
        for t in failed:
            replay = copy.deepcopy(net)
            for action in t.run[:-1]:
                replay.do_action(action)
            with pytest.raises(z.RequestUnconnectedPortError):
                replay.do_action(t.run[-1])
    assert found["breadth_first"] == found["depth_first"]
