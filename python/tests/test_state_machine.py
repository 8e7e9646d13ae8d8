"""A randomised state machine over the public net API.

Hypothesis drives seeded nets over one of two small graphs with random
actions (valid ones drawn from the net's own state, and invalid ones), steps,
undos in and out of order, and copies made by copy, deepcopy and pickle. After
every rule it checks that each net's queries agree with one another; a copy
must show its original's state when made and answer the next action with the
same data and events, to the timestamp.

The default run is short. For a long run set ZELLIK_HYPOTHESIS_EXAMPLES (and
optionally ZELLIK_HYPOTHESIS_STEPS, the rules per example), e.g.

    ZELLIK_HYPOTHESIS_EXAMPLES=5000 python -m pytest test_state_machine.py
"""

from __future__ import annotations

import copy
import json
import os
import pickle
from collections.abc import Callable
from dataclasses import dataclass, field, replace
from typing import Any

from hypothesis import HealthCheck, event, settings
from hypothesis import strategies as st
from hypothesis.stateful import Bundle, RuleBasedStateMachine, initialize, invariant, multiple, rule

import zellik_sim as z
from conftest import pipeline_graph

# Well-formed ids that no net ever makes (a seeded net's ids start in 2026).
BOGUS_IDS = ("00000000000000000000000000", "7ZZZZZZZZZZZZZZZZZZZZZZZZZ")
BOGUS_NAME = "Nowhere"
# Copies are checked when made; the first few are kept, driven and checked
# on. Fewer nets leave more of each run to one net.
MAX_NETS = 4
CASCADE_ERRORS = (z.RequestUnconnectedPortError, z.RequestCycleDetectedError)


def chain_graph() -> tuple[z.Graph, set[str]]:
    """S -> M -> T, with zero-capacity ports, an orphaning port, startup and
    no-salvo requests from M, and a cascade from T that fails at M.side.
    Returns the graph and the nodes a request on which fails at the next step."""
    t = z.SalvoConditionTerm
    s_to_m = z.Edge(z.PortRef("S", z.PortType.Output, "o"), z.PortRef("M", z.PortType.Input, "in"))
    m_to_t = z.Edge(z.PortRef("M", z.PortType.Output, "o"), z.PortRef("T", z.PortType.Input, "in"))
    s = z.Node(
        "S",
        out_ports={"o": z.Port(), "x": z.Port(z.PortSlotSpec.finite(0))},
        out_salvo_conditions={"go": z.SalvoCondition(z.MaxSalvos.Infinite, "o", t.port("o", z.PortState.NonEmpty))},
    )
    m = z.Node(
        "M",
        in_ports={"in": z.Port(z.PortSlotSpec.finite(2)), "side": z.Port(z.PortSlotSpec.finite(0))},
        out_ports={"o": z.Port(z.PortSlotSpec.finite(1)), "drop": z.Port()},
        in_salvo_conditions={
            "pair": z.SalvoCondition(z.MaxSalvos.finite(1), {"in": z.PacketCount.All}, t.port("in", z.PortState.Full))
        },
        out_salvo_conditions={
            "fwd": z.SalvoCondition(
                z.MaxSalvos.Infinite, {"o": z.PacketCount.count(1)}, t.port("o", z.PortState.NonEmpty)
            ),
            "spill": z.SalvoCondition(z.MaxSalvos.finite(2), ["drop"], t.true_()),
        },
        dependency_request_config=z.DependencyRequestConfig(
            [z.DependencyRequestTrigger.OnStartup, z.DependencyRequestTrigger.OnNoSalvoTriggered], "warm"
        ),
    )
    t_node = z.Node(
        "T",
        in_ports={"in": z.Port()},
        in_salvo_conditions={
            "batch": z.SalvoCondition(
                z.MaxSalvos.finite(1), {"in": z.PacketCount.count(2)}, t.port("in", z.PortState.equals_or_greater_than(2))
            )
        },
    )
    return z.Graph([s, m, t_node], [s_to_m, m_to_t], dependency_edges=[s_to_m, m_to_t]), {"T"}


GRAPHS: dict[str, Callable[[], tuple[z.Graph, set[str]]]] = {
    "pipeline": lambda: (pipeline_graph()[0], set()),
    "chain": chain_graph,
}


def key(location: z.PacketLocation) -> str:
    return json.dumps(location.to_dict(), sort_keys=True)


def ids(values: list[Any]) -> list[str]:
    return [str(v) for v in values]


class Shape:
    """What the machine needs to know of a graph."""

    def __init__(self, graph: z.Graph, failing_requests: set[str]) -> None:
        self.graph = graph
        nodes = graph.nodes()
        self.in_ports = {n: sorted(node.in_ports) for n, node in nodes.items()}
        self.out_ports = {n: sorted(node.out_ports) for n, node in nodes.items()}
        self.in_conditions = {n: sorted(node.in_salvo_conditions) for n, node in nodes.items()}
        self.out_conditions = {n: sorted(node.out_salvo_conditions) for n, node in nodes.items()}
        self.edges = graph.edges()
        self.failing_requests = failing_requests
        self.fixed_locations = (
            [z.PacketLocation.outside_net()]
            + [z.PacketLocation.edge(e) for e in self.edges]
            + [z.PacketLocation.input_port(n, p) for n, ports in self.in_ports.items() for p in ports]
        )

    def epoch_locations(self, epoch_id: str, node: str) -> list[z.PacketLocation]:
        return [z.PacketLocation.node(epoch_id)] + [
            z.PacketLocation.output_port(epoch_id, p) for p in self.out_ports.get(node, [])
        ]


@dataclass
class Entry:
    """One performed action: its events and the visible state before it.
    `level` says how well undoing it now must restore that state: 2 exactly,
    1 up to the order of each queue, 0 not at all (something unrecorded
    happened since)."""

    action: z.NetAction
    events: list[z.NetEvent]
    before: dict[str, Any]
    level: int = 2


@dataclass
class Run:
    net: z.NetSim
    shape: Shape
    name: str
    history: list[Entry] = field(default_factory=list)
    undone: list[Entry] = field(default_factory=list)
    epochs_seen: dict[str, str] = field(default_factory=dict)  # epoch id -> node name
    packets_seen: set[str] = field(default_factory=set)
    # A request is (or may be) pending whose cascade fails at the next step.
    failing_request: bool = False

    def fork(self, net: z.NetSim, name: str) -> Run:
        return Run(net, self.shape, name, [replace(e) for e in self.history], [replace(e) for e in self.undone],
                   dict(self.epochs_seen), set(self.packets_seen), self.failing_request)

    def downgrade(self, level: int) -> None:
        for entry in self.history:
            entry.level = min(entry.level, level)

    def note(self, events: list[z.NetEvent]) -> None:
        for event in events:
            if event.packet_id is not None:
                self.packets_seen.add(event.packet_id)
            if event.kind in ("EpochFinished", "EpochCancelled"):
                assert event.epoch is not None
                self.epochs_seen[event.epoch.id] = event.epoch.node_name
            elif event.kind == "EpochCreated":
                assert event.epoch_id is not None
                epoch = self.net.get_epoch(event.epoch_id)
                if epoch is not None:
                    self.epochs_seen[epoch.id] = epoch.node_name


def locations_to_read(run: Run, packets: list[z.Packet], epochs: list[z.Epoch]) -> dict[str, z.PacketLocation]:
    shape = run.shape
    found = {key(loc): loc for loc in shape.fixed_locations}
    nodes = dict(run.epochs_seen)
    nodes.update({e.id: e.node_name for e in epochs})
    for epoch_id, node in nodes.items():
        found.update((key(loc), loc) for loc in shape.epoch_locations(epoch_id, node))
    found.update((key(p.location), p.location) for p in packets)
    return found


def visible(run: Run) -> dict[str, Any]:
    """The net's state as its queries show it, in a form that compares by value."""
    net = run.net
    packets, epochs = net.packets(), net.epochs()
    queues = {}
    for name, loc in locations_to_read(run, packets, epochs).items():
        queue = ids(net.get_packets_at_location(loc))
        if queue:
            queues[name] = queue
    return {
        "packets": [(p.id, key(p.location)) for p in packets],
        "queues": queues,
        "epochs": [e.to_dict() for e in epochs],
        "startable": sorted(ids(net.get_startable_epochs())),
        "blocked": net.is_blocked(),
    }


def undone_state(before: dict[str, Any], events: list[z.NetEvent]) -> dict[str, Any]:
    """The state that undoing `events` is meant to give back: `before`, except
    that a consumed or destroyed packet comes back at the end of its queue."""
    state = copy.deepcopy(before)
    for event in reversed(events):
        if event.kind in ("PacketConsumed", "PacketDestroyed"):
            assert event.location is not None
            queue = state["queues"][key(event.location)]
            queue.remove(event.packet_id)
            queue.append(event.packet_id)
    return state


def comparable(state: dict[str, Any], level: int) -> dict[str, Any]:
    # Undo does not bring back requests that a step took, so whether the net
    # is blocked is not part of what an undo restores.
    out = {k: v for k, v in state.items() if k != "blocked"}
    if level < 2:
        out["queues"] = {k: sorted(v) for k, v in out["queues"].items()}
    return out


class EnginePanic(AssertionError):
    pass


def guarded(call: Callable[[], Any]) -> Any:
    """Run a call into the module; an engine panic (a BaseException that is
    not an Exception) becomes an assertion failure that Hypothesis can shrink."""
    try:
        return call()
    except Exception:
        raise
    except (KeyboardInterrupt, SystemExit, GeneratorExit):
        raise
    except BaseException as panic:
        raise EnginePanic(f"engine panic: {type(panic).__name__}: {panic}") from None


def outcome(run: Run, action: z.NetAction) -> tuple[Any, ...]:
    try:
        data, events = guarded(lambda: run.net.do_action(action))
    except z.ZellikError as error:
        return ("error", type(error).__name__, str(error))
    return ("ok", data.to_dict(), [e.to_dict() for e in events], data, events)


@dataclass
class Plan:
    action: z.NetAction
    kind: str
    must_fail: bool = False
    must_succeed: bool = False


class NetMachine(RuleBasedStateMachine):
    nets = Bundle("nets")

    def __init__(self) -> None:
        super().__init__()
        self.runs: list[Run] = []

    @initialize(target=nets, graph=st.sampled_from(sorted(GRAPHS)), seed=st.integers(0, 2**64 - 1),
                warm=st.integers(0, 3))
    def make_net(self, graph: str, seed: int, warm: int) -> Run:
        g, failing = GRAPHS[graph]()
        run = Run(z.NetSim(g, seed=seed), Shape(g, failing), "original")
        self.runs.append(run)
        # Start a few epochs by hand, each holding one packet, so that runs
        # begin where the executor's actions have something to work on.
        a = z.NetAction
        entries = [(n, p) for n, ports in run.shape.in_ports.items() for p in ports if p == "in"]
        for i in range(warm):
            node, port = entries[i % len(entries)]
            self.apply(run, Plan(a.create_packet(), "create_packet", must_succeed=True))
            packet = run.history[-1].events[0].packet_id
            assert packet is not None
            destination = z.PacketLocation.input_port(node, port)
            self.apply(run, Plan(a.transport_packet_to_location(packet, destination), "transport_packet_to_location",
                                 must_succeed=True))
            salvo = z.Salvo(run.shape.in_conditions[node][0], [(port, packet)])
            self.apply(run, Plan(a.create_epoch(node, salvo), "create_epoch", must_succeed=True))
            epoch = run.history[-1].events[0].epoch_id
            assert epoch is not None
            self.apply(run, Plan(a.start_epoch(epoch), "start_epoch", must_succeed=True))
        return run

    # --- drawing actions from a net's state -----------------------------------------

    def draw_plan(self, run: Run, data: st.DataObject) -> Plan:
        shape, net = run.shape, run.net
        packets = net.packets()
        epochs = net.epochs()
        live_packets = {p.id: p for p in packets}
        live_epochs = {e.id: e for e in epochs}
        dead_epochs = sorted(set(run.epochs_seen) - set(live_epochs))
        dead_packets = sorted(run.packets_seen - set(live_packets))
        nodes = sorted(shape.in_ports)

        # Mostly well-aimed actions, so that runs get deep; now and then one
        # that names something gone or never made, which must fail.
        aimed = data.draw(st.integers(0, 5)) > 0

        def epoch_id(prefer: list[str] | None = None) -> str:
            choices = (prefer or sorted(live_epochs)) if aimed else []
            return str(data.draw(st.sampled_from(choices or dead_epochs[-2:] + [BOGUS_IDS[0]])))

        def packet_id(prefer: list[str] | None = None) -> str:
            choices = (prefer or sorted(live_packets)) if aimed else []
            return str(data.draw(st.sampled_from(choices or dead_packets[-2:] + [BOGUS_IDS[1]])))

        def node_of(eid: str) -> str | None:
            return live_epochs[eid].node_name if eid in live_epochs else run.epochs_seen.get(eid)

        running = sorted(e.id for e in epochs if e.state == z.EpochState.Running)
        startable = sorted(e.id for e in epochs if e.state == z.EpochState.Startable)
        # Every kind can come up; the ones that take the net further are likelier.
        kinds = [
            "run_step", "create_packet", "create_packet_in", "consume_packet", "destroy_packet", "start_epoch",
            "finish_epoch", "cancel_epoch", "create_epoch", "load_packet_into_output_port", "send_output_salvo",
            "transport_packet_to_location", "create_request", "create_packet", "transport_packet_to_location",
        ]
        if startable:
            kinds += ["start_epoch"] * 3
        if running:
            kinds += ["create_packet_in", "send_output_salvo"] * 2 + ["finish_epoch"] * 3
        if any(p.location.kind == "Node" for p in packets):
            kinds += ["load_packet_into_output_port"] * 3 + ["consume_packet", "destroy_packet"]
        if any(p.location.kind == "OutsideNet" for p in packets):
            kinds += ["transport_packet_to_location"] * 2
        kind = data.draw(st.sampled_from(kinds))
        a = z.NetAction
        if kind == "run_step":
            return Plan(a.run_step(), kind)
        if kind == "create_packet":
            return Plan(a.create_packet(), kind, must_succeed=True)
        if kind == "create_packet_in":
            e = epoch_id(running)
            return Plan(a.create_packet(e), "create_packet", must_fail=e not in live_epochs, must_succeed=e in running)
        if kind in ("consume_packet", "destroy_packet"):
            inside = [q.id for q in packets if q.location.epoch_id is not None]
            p = packet_id(inside if data.draw(st.booleans()) else None)
            make = a.consume_packet if kind == "consume_packet" else a.destroy_packet
            return Plan(make(p), kind, must_fail=p not in live_packets, must_succeed=p in live_packets)
        if kind in ("start_epoch", "finish_epoch", "cancel_epoch"):
            e = epoch_id({"start_epoch": startable, "finish_epoch": running}.get(kind))
            must_succeed = (kind == "cancel_epoch" and e in live_epochs) or (kind == "start_epoch" and e in startable)
            return Plan(getattr(a, kind)(e), kind, must_fail=e not in live_epochs, must_succeed=must_succeed)
        if kind == "create_epoch":
            node = data.draw(st.sampled_from(nodes if aimed else [BOGUS_NAME, *nodes]))
            waiting = [(port, str(p)) for port in shape.in_ports.get(node, [])
                       for p in net.get_packets_at_location(z.PacketLocation.input_port(node, port))]
            if not aimed:
                waiting.append((data.draw(st.sampled_from(["in", "nope"])), packet_id()))
            pairs = data.draw(st.lists(st.sampled_from(waiting), max_size=3)) if waiting else []
            # The condition's name is not checked.
            condition = data.draw(st.sampled_from(shape.in_conditions.get(node, []) + ["unlisted"]))
            # A packet named twice is refused too (it has left the port by its second turn).
            wrong = node not in shape.in_ports or len({p for _, p in pairs}) < len(pairs) or any(
                p not in live_packets or key(live_packets[p].location) != key(z.PacketLocation.input_port(node, port))
                for port, p in pairs)
            return Plan(a.create_epoch(node, z.Salvo(condition, pairs)), kind, must_fail=wrong)
        if kind == "load_packet_into_output_port":
            p = packet_id([q.id for q in packets if q.location.kind == "Node"])
            loc = live_packets[p].location if p in live_packets else None
            owner = node_of(loc.epoch_id) if loc is not None and loc.epoch_id else None
            all_ports = sorted({q for ports in shape.out_ports.values() for q in ports})
            own = shape.out_ports.get(owner, []) if owner else []
            port = data.draw(st.sampled_from((own if aimed else []) or all_ports + ["nope"]))
            wrong = loc is None or loc.kind != "Node" or (loc.epoch_id in live_epochs and port not in own)
            return Plan(a.load_packet_into_output_port(p, port), kind, must_fail=wrong)
        if kind == "send_output_salvo":
            e = epoch_id(running)
            owner = node_of(e)
            all_conditions = sorted({c for cs in shape.out_conditions.values() for c in cs})
            own = shape.out_conditions.get(owner, []) if owner else []
            condition = data.draw(st.sampled_from((own if aimed else []) or all_conditions + ["nope"]))
            wrong = e not in live_epochs or condition not in own
            return Plan(a.send_output_salvo(e, condition), kind, must_fail=wrong)
        if kind == "transport_packet_to_location":
            p = packet_id()
            wrong = p not in live_packets
            places = ["outside", "edge", "edge", "input", "input", "node", "output"]
            where = data.draw(st.sampled_from(places if aimed else places + ["bad edge", "bad node", "bad port"]))
            if where == "outside":
                dest = z.PacketLocation.outside_net()
            elif where == "edge":
                dest = z.PacketLocation.edge(data.draw(st.sampled_from(shape.edges)))
            elif where == "bad edge":
                dest, wrong = z.PacketLocation.edge(z.Edge(shape.edges[0].target, shape.edges[0].source)), True
            elif where == "bad node":
                dest, wrong = z.PacketLocation.input_port(BOGUS_NAME, "in"), True
            elif where == "input" or where == "bad port":
                node = data.draw(st.sampled_from([n for n in nodes if shape.in_ports[n]]))
                port = "nope" if where == "bad port" else data.draw(st.sampled_from(shape.in_ports[node]))
                dest = z.PacketLocation.input_port(node, port)
                wrong = wrong or where == "bad port"
            else:
                e = epoch_id(startable)
                owner = node_of(e)
                wrong = wrong or e not in live_epochs
                if where == "node":
                    dest = z.PacketLocation.node(e)
                else:
                    ports = shape.out_ports.get(owner, []) if owner else []
                    port = data.draw(st.sampled_from((ports if aimed else []) or ["nope"]))
                    dest = z.PacketLocation.output_port(e, port)
                    wrong = wrong or port == "nope"
            return Plan(a.transport_packet_to_location(p, dest), kind, must_fail=wrong)
        assert kind == "create_request"
        node = data.draw(st.sampled_from(nodes if aimed else [BOGUS_NAME]))
        label = data.draw(st.sampled_from(["x", "y"]))
        return Plan(a.create_request(node, label), kind, must_fail=node == BOGUS_NAME,
                    must_succeed=node != BOGUS_NAME)

    # --- performing actions -------------------------------------------------------------

    def apply(self, run: Run, plan: Plan, done: tuple[dict[str, Any], tuple[Any, ...]] | None = None) -> None:
        """Perform a planned action on a net (or take the state before and
        the result of having done so) and check what it did."""
        if done is None:
            before = visible(run)
            result = outcome(run, plan.action)
        else:
            before, result = done
        event(f"{plan.kind}: {'ok' if result[0] == 'ok' else result[1]}")
        if result[0] == "error":
            assert not plan.must_succeed, f"{plan.action!r} failed: {result[1:]}"
            if plan.kind == "run_step":
                # Only the request cascade can fail a step, after its other phases.
                assert result[1] in {c.__name__ for c in CASCADE_ERRORS}, result
                assert run.failing_request, f"a step failed with no failing request pending: {result}"
                run.failing_request = False
                run.downgrade(0)
            else:
                assert visible(run) == before, f"failed {plan.action!r} changed the net"
            return
        assert not plan.must_fail, f"{plan.action!r} succeeded on {run.name}"
        _, _, _, data, events = result
        net = run.net
        if plan.kind == "run_step":
            assert isinstance(data, z.NetActionResponseData.StepResult)
            check_blocked_step(before["blocked"], data.made_progress, events)
            run.failing_request = False
        elif plan.kind == "create_packet":
            assert isinstance(data, z.NetActionResponseData.Packet)
            assert [(e.kind, e.packet_id) for e in events] == [("PacketCreated", data.packet_id)]
            packet = net.get_packet(data.packet_id)
            assert packet is not None
            assert packet.location.epoch_id == plan.action.to_dict().get("epoch_id")
        elif plan.kind in ("consume_packet", "destroy_packet"):
            (gone,) = events
            assert gone.kind == ("PacketConsumed" if plan.kind == "consume_packet" else "PacketDestroyed")
            assert gone.packet_id is not None and net.get_packet(gone.packet_id) is None
            assert gone.location is not None and (gone.packet_id, key(gone.location)) in before["packets"]
        elif plan.kind == "start_epoch":
            assert isinstance(data, z.NetActionResponseData.StartedEpoch)
            assert [e.kind for e in events] == ["EpochStarted"]
            epoch = net.get_epoch(data.epoch.id)
            assert epoch is not None and epoch.state == z.EpochState.Running
        elif plan.kind in ("finish_epoch", "cancel_epoch"):
            assert isinstance(data, (z.NetActionResponseData.FinishedEpoch, z.NetActionResponseData.CancelledEpoch))
            assert net.get_epoch(data.epoch.id) is None
            assert events[-1].kind == ("EpochFinished" if plan.kind == "finish_epoch" else "EpochCancelled")
            if isinstance(data, z.NetActionResponseData.CancelledEpoch):
                assert data.destroyed_packets == [e.packet_id for e in events[:-1]]
                assert all(net.get_packet(p) is None for p in data.destroyed_packets)
            else:
                assert data.epoch.state == z.EpochState.Finished
        elif plan.kind == "create_epoch":
            assert isinstance(data, z.NetActionResponseData.CreatedEpoch)
            assert data.epoch.state == z.EpochState.Startable
            assert data.epoch.id in ids(net.get_startable_epochs())
            moved = [(e.packet_id, key(e.to_location)) for e in events if e.to_location is not None]
            assert moved == [(p, key(z.PacketLocation.node(data.epoch.id))) for _, p in data.epoch.in_salvo.packets]
        elif plan.kind == "create_request":
            if plan.action.to_dict()["node_name"] in run.shape.failing_requests:
                run.failing_request = True
        run.note(events)
        run.history.append(Entry(plan.action, events, before))

    def steps_of(self, run: Run, until_blocked: bool) -> None:
        before = visible(run)
        if until_blocked:
            events = guarded(run.net.run_until_blocked)
            assert run.net.is_blocked()
        else:
            try:
                made_progress, events = guarded(run.net.run_step)
            except CASCADE_ERRORS:
                assert run.failing_request
                run.failing_request = False
                run.downgrade(0)
                return
            check_blocked_step(before["blocked"], made_progress, events)
        run.note(events)
        # A step that failed inside run_until_blocked left its changes without events.
        entry = Entry(z.NetAction.run_step(), events, before, level=0 if run.failing_request else 2)
        if until_blocked:
            run.downgrade(entry.level)
        run.failing_request = False
        run.history.append(entry)

    # --- rules ------------------------------------------------------------------------------

    @rule(run=nets, data=st.data())
    def act(self, run: Run, data: st.DataObject) -> None:
        self.apply(run, self.draw_plan(run, data))

    @rule(run=nets, until_blocked=st.booleans())
    def step(self, run: Run, until_blocked: bool) -> None:
        self.steps_of(run, until_blocked)

    @rule(run=nets, through_dicts=st.booleans())
    def undo_newest(self, run: Run, through_dicts: bool) -> None:
        if not run.history:
            return
        entry = run.history.pop()
        events = [z.NetEvent.from_dict(e.to_dict()) for e in entry.events] if through_dicts else entry.events
        try:
            guarded(lambda: run.net.undo_action(entry.action, events))
        except z.UndoError:
            assert entry.level == 0, f"undo of the newest action {entry.action!r} failed"
            run.downgrade(0)
            return
        run.undone.append(entry)
        if entry.level == 0:
            run.downgrade(0)
            return
        expected = undone_state(entry.before, entry.events)
        assert comparable(visible(run), entry.level) == comparable(expected, entry.level)
        if expected != entry.before:
            # Packets that came back at the end of their queues: earlier
            # actions can no longer restore queue order.
            run.downgrade(1)

    @rule(run=nets, data=st.data())
    def undo_out_of_order(self, run: Run, data: st.DataObject) -> None:
        pool = run.history[:-1] + run.undone
        if not pool:
            return
        # Undos that bring something back are the ones that can leave it
        # where it no longer belongs: make them likelier.
        bring_back = {"PacketConsumed", "PacketDestroyed", "EpochFinished", "EpochCancelled"}
        pool += [e for e in pool if bring_back & {ev.kind for ev in e.events}] * 2
        entry = data.draw(st.sampled_from(pool))
        if entry in run.history:
            run.history.remove(entry)
            run.undone.append(entry)
        try:
            guarded(lambda: run.net.undo_action(entry.action, entry.events))
            event("undo out of order: ok")
        except z.UndoError as error:
            event(f"undo out of order: {type(error).__name__}")
        run.downgrade(0)

    @rule(target=nets, run=nets, how=st.sampled_from(["copy", "deepcopy", "pickle"]), data=st.data())
    def fork(self, run: Run, how: str, data: st.DataObject) -> Any:
        before = visible(run)
        if how == "copy":
            net = copy.copy(run.net)
        elif how == "deepcopy":
            net = copy.deepcopy(run.net)
        else:
            net = pickle.loads(pickle.dumps(run.net, data.draw(st.integers(2, pickle.HIGHEST_PROTOCOL))))
        assert type(net) is z.NetSim and net is not run.net
        fork = run.fork(net, f"{how} of {run.name}")
        event(f"{how} made")
        assert visible(fork) == before
        assert repr(net) == repr(run.net) and net.graph is not run.net.graph
        # Driven by the same next action, the two nets answer alike.
        plan = self.draw_plan(run, data)
        ours, theirs = outcome(run, plan.action), outcome(fork, plan.action)
        assert ours[:3] == theirs[:3], f"{plan.action!r} on the {how}"
        self.apply(run, plan, (before, ours))
        self.apply(fork, plan, (before, theirs))
        if len(self.runs) >= MAX_NETS:
            return multiple()
        self.runs.append(fork)
        return fork

    # --- invariants ---------------------------------------------------------------------

    @invariant()
    def queries_agree(self) -> None:
        for run in self.runs:
            check_consistent(run)

    @invariant()
    def startable_epochs_start(self) -> None:
        for run in self.runs:
            check_startable(run)


def check_blocked_step(blocked: bool, made_progress: bool, events: list[z.NetEvent]) -> None:
    # A blocked net can still move in a step only through a node that holds
    # packets none of its conditions take and so asks for work upstream.
    if blocked and made_progress:
        assert "OnNoSalvoTriggered" in [e.request_source for e in events], "a blocked net made progress"


def check_consistent(run: Run) -> None:
    net = run.net
    packets, epochs = net.packets(), net.epochs()
    live = {e.id for e in epochs}
    if any(p.location.epoch_id not in (None, *live) for p in packets):
        event("state: a packet at an ended epoch's location")
    packet_ids = [p.id for p in packets]
    assert packet_ids == sorted(set(packet_ids)), "packets() is not ordered by id, or repeats one"
    at: dict[str, set[str]] = {}
    for p in packets:
        got = net.get_packet(p.id)
        assert got is not None and got.id == p.id and key(got.location) == key(p.location)
        at.setdefault(key(p.location), set()).add(p.id)
    for name, loc in locations_to_read(run, packets, epochs).items():
        queue = ids(net.get_packets_at_location(loc))
        assert len(queue) == len(set(queue)) == net.packet_count_at(loc), name
        assert set(queue) == at.get(name, set()), f"queue at {name} disagrees with the packets' locations"
    for gone in run.packets_seen - set(packet_ids):
        assert net.get_packet(gone) is None
    epoch_ids = [e.id for e in epochs]
    assert epoch_ids == sorted(set(epoch_ids)), "epochs() is not ordered by id, or repeats one"
    for e in epochs:
        found = net.get_epoch(e.id)
        assert found is not None and found.to_dict() == e.to_dict()
        assert e.state in (z.EpochState.Startable, z.EpochState.Running)
        assert e.node_name in run.shape.in_ports
    for gone in set(run.epochs_seen) - set(epoch_ids):
        assert net.get_epoch(gone) is None
    startable = ids(net.get_startable_epochs())
    assert len(startable) == len(set(startable))
    assert set(startable) == {e.id for e in epochs if e.state == z.EpochState.Startable}


def check_startable(run: Run) -> None:
    """Every listed epoch starts (the start then undone), and no running one does."""
    net = run.net
    before = visible(run)
    for epoch in net.epochs():
        action = z.NetAction.start_epoch(epoch.id)
        if epoch.state == z.EpochState.Running:
            try:
                guarded(lambda: net.do_action(action))
            except z.EpochNotStartableError:
                pass
            else:
                raise AssertionError(f"running epoch {epoch.id} started again")
            continue
        data, events = guarded(lambda: net.do_action(action))
        assert data.epoch.state == z.EpochState.Running and [e.kind for e in events] == ["EpochStarted"]
        assert epoch.id not in ids(net.get_startable_epochs())
        guarded(lambda: net.undo_action(action, events))
    assert visible(run) == before


def _settings() -> settings:
    examples = int(os.environ.get("ZELLIK_HYPOTHESIS_EXAMPLES", "0"))
    steps = int(os.environ.get("ZELLIK_HYPOTHESIS_STEPS", "0"))
    return settings(
        max_examples=examples or 200,
        stateful_step_count=steps or 40,
        deadline=None,
        database=None,
        suppress_health_check=[HealthCheck.too_slow],
    )


TestNetMachine = NetMachine.TestCase
TestNetMachine.settings = _settings()
