"""NetSim.execute, do_actions, inject and run_round against the same actions
done one by one on a twin net: the same events and state when every action
is accepted; on a refusal the same exception class, naming the refused
action, and the net exactly as it was. Leaving the events out changes
nothing but the events list."""

from __future__ import annotations

import random
import re

import pytest

import zellik_sim as z
from conftest import pipeline_graph


def worker_graph() -> z.Graph:
    """W.in -> W -> out (3 slots) -> Sink.in; side has no edge."""
    w = z.Node(
        "W",
        in_ports={"in": z.Port()},
        out_ports={"out": z.Port(z.PortSlotSpec.finite(3)), "side": z.Port()},
        out_salvo_conditions={
            "send": z.SalvoCondition(z.MaxSalvos.finite(1), "out", z.SalvoConditionTerm.true_()),
            "spill": z.SalvoCondition(
                z.MaxSalvos.Infinite, "side", z.SalvoConditionTerm.port("side", z.PortState.NonEmpty)
            ),
        },
    )
    sink = z.Node("Sink", in_ports={"in": z.Port()})
    edge = z.Edge(z.PortRef("W", z.PortType.Output, "out"), z.PortRef("Sink", z.PortType.Input, "in"))
    return z.Graph([w, sink], [edge])


def set_up(net: z.NetSim, n: int, start: bool) -> str:
    taken = []
    for _ in range(n):
        data, _ = net.do_action(z.NetAction.create_packet())
        net.do_action(z.NetAction.transport_packet_to_location(data.packet_id, z.PacketLocation.input_port("W", "in")))
        taken.append(("in", data.packet_id))
    data, _ = net.do_action(z.NetAction.create_epoch("W", z.Salvo("manual", taken)))
    assert isinstance(data, z.NetActionResponseData.CreatedEpoch)
    epoch = str(data.epoch.id)
    if start:
        net.do_action(z.NetAction.start_epoch(epoch))
    return epoch


def state(net: z.NetSim) -> object:
    packets = sorted((str(p.id), repr(p.location)) for p in net.packets())
    queues = sorted(
        (repr(p.location), [str(i) for i in net.get_packets_at_location(p.location)]) for p in net.packets()
    )
    return packets, queues, [e.to_dict() for e in net.epochs()], sorted(map(str, net.get_startable_epochs()))


def one_by_one(net: z.NetSim, epoch: str, outcome: z.Outcome) -> tuple[list[z.NetAction], BaseException | None]:
    """The actions execute makes, done here one at a time; the refusal, if any."""
    done: list[z.NetAction] = []

    def act(action: z.NetAction) -> object:
        result = net.do_action(action)
        done.append(action)
        return result

    try:
        e = net.get_epoch(epoch)
        if e is None or e.state == z.EpochState.Startable:
            act(z.NetAction.start_epoch(epoch))
        for p in net.get_packets_at_location(z.PacketLocation.node(epoch)):
            act(
                z.NetAction.load_packet_into_output_port(p, outcome.pass_to)
                if outcome.pass_to is not None
                else z.NetAction.consume_packet(p)
            )
        for port, count in outcome.creates.items():
            for _ in range(count):
                data, _ = net.do_action(z.NetAction.create_packet(epoch))
                done.append(z.NetAction.create_packet(epoch))
                act(z.NetAction.load_packet_into_output_port(data.packet_id, port))
        for condition in outcome.sends:
            act(z.NetAction.send_output_salvo(epoch, condition))
        act(z.NetAction.finish_epoch(epoch))
    except z.ZellikError as refusal:
        return done, refusal
    return done, None


def test_execute_equals_one_call_per_action_and_changes_nothing_when_refused() -> None:
    rng = random.Random(30)
    refused = accepted = 0
    for round_ in range(300):
        net = z.NetSim(worker_graph(), seed=round_)
        twin = z.NetSim(worker_graph(), seed=round_)
        n, start = rng.randrange(4), rng.random() < 0.5
        epoch = set_up(net, n, start)
        set_up(twin, n, start)
        outcome = z.Outcome(
            pass_to=rng.choice([None, None, "out", "side", "nope"]),
            creates={port: rng.randrange(3) for port in rng.sample(["out", "side", "nope"], rng.randrange(3))},
            sends=[rng.choice(["send", "spill", "nope"]) for _ in range(rng.randrange(3))],
        )
        before = state(net)
        _, refusal = one_by_one(twin, epoch, outcome)
        if refusal is not None:
            refused += 1
            with pytest.raises(type(refusal)) as caught:
                net.execute(epoch, outcome)
            assert re.search(r"step \d+ \(\w+\) was refused", str(caught.value))
            assert state(net) == before
        else:
            accepted += 1
            keep = rng.random() < 0.5
            created, events = net.execute(epoch, outcome, events=keep)
            assert state(net) == state(twin)
            assert all(len(created[port]) == count for port, count in outcome.creates.items())
            assert all(type(i) is str for ids in created.values() for i in ids)
            assert [e.kind for e in events][-1:] == (["EpochFinished"] if keep else [])
    assert refused > 30 and accepted > 30


def test_do_actions_is_all_or_nothing() -> None:
    rng = random.Random(31)
    for round_ in range(200):
        net = z.NetSim(worker_graph(), seed=round_)
        twin = z.NetSim(worker_graph(), seed=round_)
        start = rng.random() < 0.5
        epoch = set_up(net, 2, start)
        set_up(twin, 2, start)
        inside = net.get_packets_at_location(z.PacketLocation.node(epoch))
        pool = [
            z.NetAction.start_epoch(epoch),
            z.NetAction.consume_packet(inside[0]),
            z.NetAction.load_packet_into_output_port(inside[1], "out"),
            z.NetAction.load_packet_into_output_port(inside[0], "side"),
            z.NetAction.send_output_salvo(epoch, "send"),
            z.NetAction.send_output_salvo(epoch, "spill"),
            z.NetAction.run_step(),
            z.NetAction.finish_epoch(epoch),
            z.NetAction.cancel_epoch(epoch),
            z.NetAction.destroy_packet(inside[1]),
        ]
        actions = [rng.choice(pool) for _ in range(rng.randrange(6))]
        before = state(net)
        expected: list[list[dict[str, object]]] = []
        refusal: BaseException | None = None
        for action in actions:
            try:
                _, events = twin.do_action(action)
            except z.ZellikError as e:
                refusal = e
                break
            expected.append([e.to_dict() for e in events])
        if refusal is not None:
            with pytest.raises(type(refusal), match=r"action \d+ \(\w+\) was refused"):
                net.do_actions(actions)
            assert state(net) == before
        else:
            done = net.do_actions(actions)
            assert [[e.to_dict() for e in events] for _, events in done] == expected
            assert state(net) == state(twin)


def test_inject_equals_create_and_transport_one_by_one_or_changes_nothing() -> None:
    """B.in holds two packets, so injecting there is refused past its room;
    the edge takes any number."""
    rng = random.Random(32)
    graph, edge = pipeline_graph()
    refused = 0
    for round_ in range(200):
        net, twin = z.NetSim(graph, seed=round_), z.NetSim(graph, seed=round_)
        b_in = z.PacketLocation.input_port("B", "in")
        before = rng.randrange(3)
        for sim in (net, twin):
            sim.inject(b_in, before)
        location = rng.choice([b_in, z.PacketLocation.edge(edge)])
        count = rng.randrange(4)
        expected_ids, expected_events, refusal = [], [], None
        for _ in range(count):
            try:
                data, created = twin.do_action(z.NetAction.create_packet())
                _, moved = twin.do_action(z.NetAction.transport_packet_to_location(data.packet_id, location))
            except z.ZellikError as e:
                refusal = e
                break
            expected_ids.append(data.packet_id)
            expected_events += [e.to_dict() for e in created + moved]
        snapshot = state(net)
        if refusal is not None:
            refused += 1
            with pytest.raises(type(refusal), match=r"step \d+ \(\w+\) was refused"):
                net.inject(location, count)
            assert state(net) == snapshot
        else:
            keep = rng.random() < 0.5
            ids, events = net.inject(location, count, events=keep)
            assert ids == expected_ids
            assert [e.to_dict() for e in events] == (expected_events if keep else [])
            assert state(net) == state(twin)
    assert refused > 20


def test_run_round_is_run_step_until_no_progress_then_the_startable_epochs() -> None:
    rng = random.Random(33)
    graph, edge = pipeline_graph()
    places = [z.PacketLocation.edge(edge), z.PacketLocation.input_port("B", "in")]
    for round_ in range(100):
        net, twin = z.NetSim(graph, seed=round_), z.NetSim(graph, seed=round_)
        for sim in (net, twin):
            sim.inject(places[0], round_ % 5)
        keep = rng.random() < 0.5
        steps, startable, events = net.run_round(events=keep)
        expected_steps, expected_events = 0, []
        while True:
            progress, step_events = twin.run_step()
            if not progress:
                break
            expected_steps += 1
            expected_events += [e.to_dict() for e in step_events]
        assert steps == expected_steps
        assert [e.to_dict() for e in events] == (expected_events if keep else [])
        assert state(net) == state(twin)
        epochs = {e.id: e for e in twin.epochs()}
        assert [s[0] for s in startable] == [str(i) for i in twin.get_startable_epochs()]
        assert startable == [
            (epoch_id, epochs[epoch_id].node_name, epochs[epoch_id].in_salvo.packets)
            for epoch_id, _, _ in startable
        ]
        assert net.packet_counts(places) == [twin.packet_count_at(p) for p in places]
        assert net.run_round() == (0, startable, [])


def test_a_count_past_the_nets_room_is_refused_before_anything_is_made() -> None:
    """An edge has no capacity: without the bound these calls would make
    packets until the memory ran out."""
    graph, edge = pipeline_graph()
    net = z.NetSim(graph, seed=1)
    on_edge = z.PacketLocation.edge(edge)
    for count in (2**32 - 1, 2**63, 2**64 - 1):
        with pytest.raises(ValueError, match=r"inject\(\) argument 'count' makes more packets"):
            net.inject(on_edge, count)
    assert net.packets() == []
    net = z.NetSim(worker_graph(), seed=1)
    epoch = set_up(net, 1, start=False)
    before = state(net)
    for creates in ({"out": 2**63}, {"out": 2**63, "side": 2**63}, {"out": 1, "side": 2**32}):
        with pytest.raises(ValueError, match=r"execute\(\) argument 'outcome' makes more packets"):
            net.execute(epoch, z.Outcome(creates=creates, sends=["send"]))
        assert state(net) == before
