"""Pickling, copying and forking: values, graphs and whole nets."""

import copy
import pickle
import random
import re
import struct

import pytest

import zellik_sim as z
from conftest import Flow, pipeline_graph

PROTOCOLS = range(2, pickle.HIGHEST_PROTOCOL + 1)


def round_trips(obj):
    for protocol in PROTOCOLS:
        yield pickle.loads(pickle.dumps(obj, protocol))
    yield copy.copy(obj)
    yield copy.deepcopy(obj)


def term_zoo():
    t = z.SalvoConditionTerm
    return t.or_([t.and_([t.true_(), t.port("in", z.PortState.equals_or_greater_than(2))]),
                  t.not_(t.false_())])


def value_zoo():
    graph, edge = pipeline_graph()
    flow = Flow()
    epoch_id, _ = flow.epoch_at_b()
    epoch = flow.net.get_epoch(epoch_id)
    events = flow.do(z.NetAction.create_request("B", "more"))[1] + flow.net.run_step()[1]
    salvo = z.Salvo("take", [("in", "not-an-id-yet")])
    busy, (running, _) = busy_flow()
    orphans = busy.net.get_epoch(running).orphaned_packets
    assert orphans
    found = z.NetSim(graph, seed=1).explore([], [z.Injection(z.PacketLocation.edge(edge), 2)])
    assert found.terminals
    return [*orphans,
        z.PacketCount.All, z.PacketCount.count(3), z.MaxSalvos.Infinite, z.MaxSalvos.finite(2),
        z.PortSlotSpec.Finite, z.PortSlotSpec.finite(4), z.PortState.NonFull, z.PortState.less_than(5),
        term_zoo(), z.DependencyRequestTrigger.OnNoSalvoTriggered,
        z.DependencyRequestConfig([z.DependencyRequestTrigger.OnStartup], "warm"),
        z.Port(z.PortSlotSpec.finite(2)), z.PortType.Output, edge.source, edge,
        graph.nodes()["B"].in_salvo_conditions["take"], graph.nodes()["B"],
        z.PacketLocation.node(epoch_id), z.PacketLocation.output_port(epoch_id, "out"),
        z.PacketLocation.input_port("B", "in"), z.PacketLocation.edge(edge), z.PacketLocation.outside_net(),
        z.EpochState.Running, flow.net.get_packet(flow.new_packet()), salvo, epoch,
        z.NetAction.run_step(), z.NetAction.create_packet(epoch_id), z.NetAction.consume_packet("x"),
        z.NetAction.create_epoch("B", salvo), z.NetAction.send_output_salvo(epoch_id, "emit"),
        z.NetAction.transport_packet_to_location(epoch_id, z.PacketLocation.edge(edge)),
        z.NetAction.create_request("B", "label"),
        z.NetActionResponseData.StepResult(True), z.NetActionResponseData.Packet(epoch_id),
        z.NetActionResponseData.CreatedEpoch(epoch),
        z.NetActionResponseData.CancelledEpoch(epoch, [epoch_id]), z.NetActionResponseData.Empty(),
        *events,
        *z.Graph([z.Node("X", in_ports={"in": z.Port()})], [edge]).validate(),
        z.Outcome(pass_to="out", creates={"out": 1}, sends=["emit"]),
        z.Behaviour("B", [z.Outcome(), z.Outcome(pass_to="out")]),
        z.Injection(z.PacketLocation.edge(edge), 3), z.RequestAllowance("B", "more", 2),
        found, *found.terminals,
    ]


def text(value):
    # Maps keyed by name iterate in an unspecified order.
    return repr(sorted(value.items()) if isinstance(value, dict) else value)


def public_state(obj):
    """Every property and no-argument getter of a value, in text form."""
    state = {"repr": repr(obj) if not isinstance(obj, z.Node) else obj.name, "type": type(obj)}
    for name in dir(type(obj)):
        attr = getattr(type(obj), name)
        if name.startswith("_"):
            continue
        if isinstance(attr, property) or type(attr).__name__ == "getset_descriptor":
            state[name] = text(getattr(obj, name))
        elif name.startswith("get_") and name != "get_edges_by_head":
            try:
                state[name] = text(getattr(obj, name)())
            except TypeError:
                pass
    return state


def test_every_value_class_round_trips_through_pickle_and_copy():
    zoo = value_zoo()
    covered = {type(v).__name__ for v in zoo}
    module_classes = {n for n, v in vars(z).items() if isinstance(v, type) and not issubclass(v, BaseException)}
    # A StateView is a predicate's view of an exploration's state, not a value of its own.
    assert module_classes - covered == {"NetSim", "Graph", "NetActionResponseData", "StateView"}
    for value in zoo:
        for back in round_trips(value):
            assert public_state(back) == public_state(value)
            if type(value).__eq__ is not object.__eq__:
                assert back == value


def test_graph_round_trip_keeps_edge_order_repeats_and_findings():
    edges = [z.Edge(z.PortRef(src, z.PortType.Output, "out"), z.PortRef("C", z.PortType.Input, "in"))
             for src in ("B", "A", "B")]
    nodes = [z.Node("A", out_ports={"out": z.Port()}), z.Node("B", out_ports={"out": z.Port()}),
             z.Node("C", in_ports={"in": z.Port()})]
    graph = z.Graph(nodes, edges, dependency_edges=[edges[1]])
    head = z.PortRef("C", z.PortType.Input, "in")
    for back in round_trips(graph):
        assert back.get_edges_by_head(head) == edges
        assert sorted(map(repr, back.edges())) == sorted(map(repr, graph.edges()))
        assert back.dependency_edges() == [edges[1]]
        assert {n: repr(v) for n, v in back.nodes().items()} == {n: repr(v) for n, v in graph.nodes().items()}
        assert [repr(f) for f in back.validate()] == [repr(f) for f in graph.validate()]


# --- Whole nets -------------------------------------------------------------------


def busy_flow() -> tuple[Flow, list[str]]:
    """A pipeline net with packets everywhere, epochs in both states and
    output salvos sent and orphaned, and requests under way."""
    flow = Flow()
    running, _ = flow.epoch_at_b(2)
    out_packet = flow.new_packet(running)
    flow.do(z.NetAction.load_packet_into_output_port(out_packet, "out"))
    flow.do(z.NetAction.send_output_salvo(running, "emit"))  # orphans it: out has no edge
    spare = flow.new_packet(running)
    flow.do(z.NetAction.load_packet_into_output_port(spare, "spare"))
    startable, _ = flow.epoch_at_b(1, start=False)
    for _ in range(3):
        packet = flow.new_packet()
        flow.do(z.NetAction.transport_packet_to_location(packet, z.PacketLocation.edge(flow.edge)))
    flow.packet_at_b()
    flow.new_packet()
    flow.do(z.NetAction.create_request("B", "more"))
    return flow, [running, startable]


def same_state(a: Flow, b: z.NetSim, epochs: list[str]) -> None:
    other = Flow.__new__(Flow)
    other.__dict__.update(a.__dict__, net=b)
    assert other.snapshot(*epochs) == a.snapshot(*epochs)
    assert [str(u) for u in b.get_startable_epochs()] == [str(u) for u in a.net.get_startable_epochs()]
    for location in (z.PacketLocation.outside_net(), a.b_in):
        for packet in a.net.get_packets_at_location(location):
            assert repr(b.get_packet(packet)) == repr(a.net.get_packet(packet))


def normalised(events: list[z.NetEvent], known: set[str]) -> list[str]:
    """Event reprs without timestamps, with ids the nets made fresh numbered
    by first appearance (the two nets make different ones)."""
    fresh: dict[str, str] = {}

    def name(match: re.Match) -> str:
        text = match.group(0)
        return text if text.strip("'") in known else fresh.setdefault(text, f"<new {len(fresh)}>")

    return [re.sub(r"'[0-9A-Z]{26}'", name, re.sub(r"ts=\d+", "ts", repr(e))) for e in events]


def drive(net: z.NetSim, epochs: list[str]) -> list[z.NetEvent]:
    running, startable = epochs
    events = []
    for action in (z.NetAction.finish_epoch(running), z.NetAction.cancel_epoch(running),
                   z.NetAction.start_epoch(startable), z.NetAction.run_step(), z.NetAction.run_step()):
        try:
            events += net.do_action(action)[1]
        except z.ZellikError as error:
            events.append(type(error).__name__)
    return events + net.run_until_blocked()


@pytest.mark.parametrize("restore", [
    pytest.param(lambda net: pickle.loads(pickle.dumps(net)), id="pickle"),
    pytest.param(lambda net: pickle.loads(pickle.dumps(net, 2)), id="pickle-2"),
    pytest.param(copy.copy, id="copy"),
    pytest.param(copy.deepcopy, id="deepcopy"),
])
def test_restored_net_answers_and_behaves_as_the_original(restore):
    flow, epochs = busy_flow()
    restored = restore(flow.net)
    assert type(restored) is z.NetSim and restored is not flow.net
    same_state(flow, restored, epochs)
    known = {str(p) for loc in (z.PacketLocation.outside_net(), flow.b_in, z.PacketLocation.edge(flow.edge))
             for p in flow.net.get_packets_at_location(loc)} | set(epochs)
    ours, theirs = drive(flow.net, epochs), drive(restored, epochs)
    assert len(ours) > 5
    assert normalised(theirs, known) == normalised(ours, known)


def test_packet_undone_back_into_an_ended_epoch_survives_every_copy():
    # Destroyed inside the epoch, the epoch finished, then the destroy undone:
    # the packet waits at the output port of an epoch that no longer exists.
    flow = Flow()
    epoch, (taken,) = flow.epoch_at_b()
    flow.do(z.NetAction.consume_packet(taken))
    packet = flow.new_packet(epoch)
    flow.do(z.NetAction.load_packet_into_output_port(packet, "out"))
    destroy = z.NetAction.destroy_packet(packet)
    _, events = flow.do(destroy)
    flow.do(z.NetAction.finish_epoch(epoch))
    flow.net.undo_action(destroy, events)
    port = z.PacketLocation.output_port(epoch, "out")
    for copied in round_trips(flow.net):
        same_state(flow, copied, [epoch])
        assert [str(p) for p in copied.get_packets_at_location(port)] == [packet]
        copied.do_action(z.NetAction.transport_packet_to_location(packet, flow.b_in))
        assert copied.get_packets_at_location(port) == []
        assert copied.get_packet(packet).location.kind == "InputPort"
    assert [str(p) for p in flow.net.get_packets_at_location(port)] == [packet]


def test_fork_shares_nothing_with_the_original():
    flow, epochs = busy_flow()
    before = flow.snapshot(*epochs)
    fork = copy.copy(flow.net)
    drive(fork, epochs)
    assert flow.snapshot(*epochs) == before
    drive(flow.net, epochs)
    assert flow.net.graph is not fork.graph


def test_pending_request_resolves_after_restore():
    # A pending request made before the snapshot resolves after it.
    flow = Flow()
    flow.do(z.NetAction.create_request("B", "more"))
    restored = pickle.loads(pickle.dumps(flow.net))
    kinds = [e.kind for e in restored.run_step()[1]]
    assert "RequestEpochCreated" in kinds


# --- Bad snapshots ------------------------------------------------------------------


def snapshot_bytes(net: z.NetSim) -> bytes:
    cls, args, state = net.__reduce__()
    assert cls is z.NetSim and isinstance(state, bytes)
    return state


def refuses(net: z.NetSim, data: bytes, flow: Flow, epochs=()) -> str:
    before = flow.snapshot(*epochs)
    with pytest.raises(ValueError) as info:
        net.__setstate__(data)
    assert flow.snapshot(*epochs) == before
    return str(info.value)


def test_bad_snapshots_are_refused_with_a_clear_message_and_the_net_kept():
    source, epochs = busy_flow()
    data = snapshot_bytes(source.net)
    target = Flow()
    target.packet_at_b()
    assert refuses(target.net, b"", target) == "Invalid NetSim snapshot: the bytes are not a snapshot"
    assert refuses(target.net, b"PK\x03\x04" + data[4:], target).endswith("not a snapshot")
    assert refuses(target.net, data[:10], target).endswith("cut short")
    assert refuses(target.net, data[:-1], target).endswith("cut short")
    assert refuses(target.net, data + b"\0", target).endswith("trailing bytes)")
    flipped = bytearray(data)
    flipped[len(data) // 2] ^= 0x10
    assert refuses(target.net, bytes(flipped), target).endswith("(checksum mismatch)")
    other_version = data[:4] + struct.pack("<I", 2) + data[8:]
    assert refuses(target.net, other_version, target) == (
        "Invalid NetSim snapshot: format version 2 is not supported (this build reads version 1)")
    with pytest.raises(TypeError):
        target.net.__setstate__("text")


def net_over(nodes_b_in: str = "in", with_edge: bool = True, b_name: str = "B") -> z.NetSim:
    graph, edge = pipeline_graph()
    nodes = graph.nodes()
    b = nodes["B"]
    b = z.Node(b_name, in_ports={b_in: p for b_in, p in [(nodes_b_in, z.Port())]}, out_ports=b.out_ports,
               out_salvo_conditions=b.out_salvo_conditions)
    edges = [z.Edge(edge.source, z.PortRef(b_name, z.PortType.Input, nodes_b_in))] if with_edge else []
    return z.NetSim(z.Graph([nodes["A"], b], edges))


@pytest.mark.parametrize("target, message", [
    (lambda: net_over(b_name="C"), 'node "B" is missing'),
    (lambda: net_over(nodes_b_in="input"), "port B.in.in is missing"),
    (lambda: net_over(with_edge=False), "edge A.out.out -> B.in.in is missing"),
])
def test_snapshot_naming_what_the_graph_lacks_is_refused(target, message):
    source, _ = busy_flow()
    net = target()
    with pytest.raises(ValueError) as info:
        net.__setstate__(snapshot_bytes(source.net))
    assert str(info.value).startswith("NetSim snapshot does not fit the graph: ")
    assert message in str(info.value)
    assert net.get_packets_at_location(z.PacketLocation.outside_net()) == []


def test_loader_survives_thousands_of_random_and_mutated_byte_strings():
    rng = random.Random(1234)
    source, _ = busy_flow()
    data = snapshot_bytes(source.net)
    small = snapshot_bytes(Flow().net)
    target = Flow()
    refused = 0

    def feed(candidate: bytes) -> None:
        nonlocal refused
        try:
            target.net.__setstate__(candidate)
        except ValueError:
            refused += 1
        else:  # only a mutation that changed nothing may pass
            assert candidate in (data, small)

    for _ in range(1500):
        feed(rng.randbytes(rng.randrange(0, 200)))
        feed(b"ZSNP" + struct.pack("<I", 1) + rng.randbytes(rng.randrange(0, 120)))
    for _ in range(2500):
        base = bytearray(rng.choice((data, small)))
        for _ in range(rng.randrange(1, 4)):
            kind = rng.randrange(4)
            pos = rng.randrange(len(base))
            if kind == 0:
                base[pos] ^= 1 << rng.randrange(8)
            elif kind == 1:
                del base[pos:pos + rng.randrange(1, 16)]
            elif kind == 2:
                base[pos:pos] = rng.randbytes(rng.randrange(1, 16))
            else:
                base[pos:pos + 8] = struct.pack("<Q", rng.choice((0, 1, 2**63, 2**64 - 1)))
        feed(bytes(base))
    assert refused > 5400
    target.net.__setstate__(data)  # still usable, and takes a good snapshot
    assert len(target.net.get_packets_at_location(z.PacketLocation.edge(target.edge))) == 3


def test_record_bytes_that_are_not_a_record_are_refused():
    for bad in (b"", b"P", b"P" + b"\0" * 5, b"Q" + b"\0" * 40):
        with pytest.raises(ValueError, match="Not the byte form of a zellik_sim record"):
            z._record_from_bytes(bad)


def test_seeded_net_continues_the_same_ids_and_clock_after_restore():
    graph, _ = pipeline_graph()
    net = z.NetSim(graph, seed=7)
    net.do_action(z.NetAction.create_packet())
    forks = [pickle.loads(pickle.dumps(net)), copy.copy(net), copy.deepcopy(net)]
    data, events = net.do_action(z.NetAction.create_packet())
    for fork in forks:
        fork_data, fork_events = fork.do_action(z.NetAction.create_packet())
        assert fork_data.packet_id == data.packet_id
        assert [e.timestamp for e in fork_events] == [e.timestamp for e in events]
