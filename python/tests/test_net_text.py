"""Text forms of the net classes, the None rule of event properties, docstrings."""

import re

import pytest

import zellik_sim as z
from conftest import Flow

ID = "01ARZ3NDEKTSV4RRFFQ69G5FAV"
TS = r"ts=\d+"


def test_action_reprs_show_stored_text_and_quoted_names() -> None:
    odd = 'a"b\\c\n'
    edge = z.Edge(z.PortRef("A", z.PortType.Output, "out"), z.PortRef("B", z.PortType.Input, "in"))
    cases = {
        z.NetAction.run_step(): "NetAction.run_step()",
        z.NetAction.create_packet(): "NetAction.create_packet()",
        z.NetAction.create_packet(None): "NetAction.create_packet()",
        z.NetAction.create_packet("xyz"): "NetAction.create_packet('xyz')",
        z.NetAction.consume_packet(ID): f"NetAction.consume_packet('{ID}')",
        z.NetAction.destroy_packet(ID): f"NetAction.destroy_packet('{ID}')",
        z.NetAction.start_epoch("not a ulid"): "NetAction.start_epoch('not a ulid')",
        z.NetAction.finish_epoch(ID): f"NetAction.finish_epoch('{ID}')",
        z.NetAction.cancel_epoch(ID): f"NetAction.cancel_epoch('{ID}')",
        z.NetAction.create_epoch(odd, z.Salvo("c", [])): 'NetAction.create_epoch("a\\"b\\\\c\\n", ...)',
        z.NetAction.load_packet_into_output_port(ID, "out"): f"NetAction.load_packet_into_output_port('{ID}', \"out\")",
        z.NetAction.send_output_salvo(ID, "emit"): f"NetAction.send_output_salvo('{ID}', \"emit\")",
        z.NetAction.transport_packet_to_location(ID, z.PacketLocation.edge(edge)):
            f"NetAction.transport_packet_to_location('{ID}', PacketLocation.edge(A.out.out -> B.in.in))",
        z.NetAction.create_request("B", "fetch"): 'NetAction.create_request("B", "fetch")',
    }
    for action, text in cases.items():
        assert repr(action) == text


def test_location_and_record_reprs() -> None:
    edge = z.Edge(z.PortRef("A", z.PortType.Output, "out"), z.PortRef("B", z.PortType.Input, "in"))
    assert repr(z.PacketLocation.node(ID.lower())) == f"PacketLocation.node('{ID}')"
    assert repr(z.PacketLocation.input_port("N", 'p"q')) == 'PacketLocation.input_port("N", "p\\"q")'
    assert repr(z.PacketLocation.output_port(ID, "out")) == f"PacketLocation.output_port('{ID}', \"out\")"
    assert repr(z.PacketLocation.edge(edge)) == "PacketLocation.edge(A.out.out -> B.in.in)"
    assert repr(z.PacketLocation.outside_net()) == "PacketLocation.outside_net()"
    assert repr(z.Salvo("take", [])) == 'Salvo(salvo_condition="take", packets=[])'
    assert repr(z.Salvo("take", [("in", "x"), ("in", ID)])) == (
        f'Salvo(salvo_condition="take", packets=[("in", "x"), ("in", "{ID}")])')
    assert repr(z.EpochState.Finished) == "EpochState.Finished"


def test_location_properties_by_kind() -> None:
    edge = z.Edge(z.PortRef("A", z.PortType.Output, "out"), z.PortRef("B", z.PortType.Input, "in"))
    rows = [
        (z.PacketLocation.node(ID), "Node", None, None, ID),
        (z.PacketLocation.input_port("N", "p"), "InputPort", "N", "p", None),
        (z.PacketLocation.output_port(ID, "p"), "OutputPort", None, "p", ID),
        (z.PacketLocation.edge(edge), "Edge", None, None, None),
        (z.PacketLocation.outside_net(), "OutsideNet", None, None, None),
    ]
    for loc, kind, node_name, port_name, epoch_id in rows:
        assert (loc.kind, loc.node_name, loc.port_name, loc.epoch_id) == (kind, node_name, port_name, epoch_id)
        assert (loc.get_edge() == edge) is (kind == "Edge")
    with pytest.raises(TypeError, match="argument 'edge'"):
        z.PacketLocation.edge("A.out.out -> B.in.in")
    with pytest.raises(TypeError, match="argument 'port_name'"):
        z.PacketLocation.input_port("N", 3)


def test_event_reprs_of_a_whole_flow(flow: Flow) -> None:
    """Every event kind that the pipeline produces, with its exact text."""
    seen: dict[str, str] = {}

    def record(events: list[z.NetEvent]) -> None:
        for e in events:
            seen.setdefault(e.kind, repr(e))

    data, events = flow.do(z.NetAction.create_packet())
    p = data.packet_id
    record(events)
    record(flow.do(z.NetAction.transport_packet_to_location(p, z.PacketLocation.edge(flow.edge)))[1])
    record(flow.net.run_step()[1])
    (e,) = [str(u) for u in flow.net.get_startable_epochs()]
    record(flow.do(z.NetAction.start_epoch(e))[1])
    record(flow.do(z.NetAction.load_packet_into_output_port(p, "out"))[1])
    record(flow.do(z.NetAction.send_output_salvo(e, "emit"))[1])
    record(flow.do(z.NetAction.consume_packet(p))[1])
    record(flow.do(z.NetAction.finish_epoch(e))[1])
    e2, (q,) = flow.epoch_at_b(packets=1, start=False)
    record(flow.do(z.NetAction.cancel_epoch(e2))[1])
    record(flow.do(z.NetAction.create_request("B", "fe\"tch"))[1])
    record(flow.net.run_step()[1])

    expected = {
        "PacketCreated": rf"NetEvent.PacketCreated\({TS}, packet_id='{p}'\)",
        "PacketMoved": rf"NetEvent.PacketMoved\({TS}, packet_id='{p}', from=PacketLocation.outside_net\(\), "
                       rf"to=PacketLocation.edge\(A.out.out -> B.in.in\), from_index=0\)",
        "InputSalvoTriggered": rf"NetEvent.InputSalvoTriggered\({TS}, epoch_id='{e}', condition=\"take\"\)",
        "EpochCreated": rf"NetEvent.EpochCreated\({TS}, epoch_id='{e}'\)",
        "EpochStarted": rf"NetEvent.EpochStarted\({TS}, epoch_id='{e}'\)",
        "PacketOrphaned": rf"NetEvent.PacketOrphaned\({TS}, packet_id='{p}', epoch_id='{e}', node=\"B\", "
                          rf"port=\"out\", condition=\"emit\"\)",
        "OutputSalvoTriggered": rf"NetEvent.OutputSalvoTriggered\({TS}, epoch_id='{e}', condition=\"emit\"\)",
        "PacketConsumed": rf"NetEvent.PacketConsumed\({TS}, packet_id='{p}', location=PacketLocation.outside_net\(\)\)",
        "EpochFinished": rf"NetEvent.EpochFinished\({TS}, epoch=Epoch\(id='{e}', node_name=\"B\", "
                         rf"state=EpochState.Running\)\)",
        "PacketDestroyed": rf"NetEvent.PacketDestroyed\({TS}, packet_id='{q}', location=PacketLocation.node\('{e2}'\)\)",
        "EpochCancelled": rf"NetEvent.EpochCancelled\({TS}, epoch=Epoch\(id='{e2}', node_name=\"B\", "
                          rf"state=EpochState.Startable\)\)",
        "RequestCreated": rf"NetEvent.RequestCreated\({TS}, node=\"B\", label=\"fe\\\"tch\", source=External\)",
        "RequestCascadeResolved": rf"NetEvent.RequestCascadeResolved\({TS}, source_nodes=\[\"A\"\], "
                                  rf"label=\"fe\\\"tch\"\)",
        "RequestEpochCreated": rf"NetEvent.RequestEpochCreated\({TS}, epoch_id='[0-9A-Z]{{26}}', "
                               rf"source_node=\"A\", label=\"fe\\\"tch\"\)",
    }
    assert set(seen) == set(expected)
    for kind, pattern in expected.items():
        assert re.fullmatch(pattern, seen[kind]), seen[kind]


PROPERTIES = ["packet_id", "epoch_id", "epoch", "location", "from_location", "to_location", "from_index",
              "salvo_condition", "node_name", "orphaned_port_name", "label", "source_nodes", "request_source"]

CARRIED = {
    "PacketCreated": {"packet_id"},
    "PacketConsumed": {"packet_id", "location"},
    "PacketDestroyed": {"packet_id", "location"},
    "EpochCreated": {"epoch_id"},
    "EpochStarted": {"epoch_id"},
    "EpochFinished": {"epoch_id", "epoch"},
    "EpochCancelled": {"epoch_id", "epoch"},
    "PacketMoved": {"packet_id", "from_location", "to_location", "from_index"},
    "InputSalvoTriggered": {"epoch_id", "salvo_condition"},
    "OutputSalvoTriggered": {"epoch_id", "salvo_condition"},
    "PacketOrphaned": {"packet_id", "epoch_id", "node_name", "orphaned_port_name", "salvo_condition"},
    "RequestCreated": {"node_name", "label", "request_source"},
    "RequestCascadeResolved": {"source_nodes", "label"},
    "RequestEpochCreated": {"epoch_id", "node_name", "label"},
}


def test_event_properties_are_none_where_the_kind_lacks_them(flow: Flow) -> None:
    events: list[z.NetEvent] = []
    e, (p,) = flow.epoch_at_b(packets=1)
    events += flow.do(z.NetAction.load_packet_into_output_port(p, "out"))[1]
    events += flow.do(z.NetAction.send_output_salvo(e, "emit"))[1]
    events += flow.do(z.NetAction.destroy_packet(p))[1]
    events += flow.do(z.NetAction.finish_epoch(e))[1]
    e2, _ = flow.epoch_at_b(packets=1)
    events += flow.do(z.NetAction.cancel_epoch(e2))[1]
    events += flow.do(z.NetAction.create_packet())[1]
    events += flow.do(z.NetAction.create_request("B", "l"))[1]
    events += flow.net.run_step()[1]
    events += flow.do(z.NetAction.consume_packet(flow.new_packet()))[1]
    x, _ = flow.epoch_at_b(packets=0, start=False)
    events += flow.do(z.NetAction.start_epoch(x))[1]

    covered = set()
    for event in events:
        covered.add(event.kind)
        assert isinstance(event.timestamp, int) and event.timestamp > 0
        for name in PROPERTIES:
            value = getattr(event, name)
            assert (value is not None) == (name in CARRIED[event.kind]), (event.kind, name)
    assert covered >= set(CARRIED) - {"InputSalvoTriggered"}


def test_docstrings_carry_signatures() -> None:
    assert z.NetSim.__doc__ == "The runtime state of a flow-based network."
    assert z.NetSim.__text_signature__ == "(graph, *, seed=None)"
    assert z.NetSim.undo_action.__doc__ == (
        "Undo a previously executed action.\n\nArgs:\n    action: The original action that was executed\n"
        "    events: The events that were produced by the action\n\nRaises:\n    UndoError: If the undo "
        "operation fails")
    assert z.NetAction.create_packet.__text_signature__ == "(epoch_id=None)"
    assert z.NetEvent.request_source.__doc__ == (
        'Get the request source (for RequestCreated events).\nReturns "External", "OnStartup", or '
        '"OnNoSalvoTriggered".')


def test_net_repr_and_graph_copy(flow: Flow) -> None:
    assert repr(flow.net) == "Net(graph=Graph(nodes=2, edges=1))"
    graph = flow.net.graph
    assert graph is not flow.net.graph
    assert sorted(graph.nodes()) == ["A", "B"] and graph.edges() == [flow.edge]
