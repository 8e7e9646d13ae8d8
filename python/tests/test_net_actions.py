"""Driving a net through do_action: responses, events, errors, value copies."""

import pytest

import zellik_sim as z
from conftest import Flow

RD = z.NetActionResponseData


def kinds(events: list[z.NetEvent]) -> list[str]:
    return [e.kind for e in events]


class TestEveryAction:
    def test_create_packet_outside_and_inside_an_epoch(self, flow: Flow) -> None:
        data, events = flow.do(z.NetAction.create_packet())
        assert type(data) is RD.Packet and isinstance(data, RD)
        assert kinds(events) == ["PacketCreated"] and events[0].packet_id == data.packet_id
        assert flow.net.get_packet(data.packet_id).location.kind == "OutsideNet"

        epoch_id, _ = flow.epoch_at_b(packets=0)
        inner = flow.new_packet(epoch_id)
        assert flow.net.get_packet(inner).location.epoch_id == epoch_id

    @pytest.mark.parametrize(("make", "kind"), [(z.NetAction.consume_packet, "PacketConsumed"),
                                                 (z.NetAction.destroy_packet, "PacketDestroyed")])
    def test_consume_and_destroy(self, flow: Flow, make, kind: str) -> None:
        packet = flow.packet_at_b()
        data, events = flow.do(make(packet))
        assert type(data) is RD.Empty
        assert kinds(events) == [kind]
        assert events[0].packet_id == packet and events[0].location.kind == "InputPort"
        assert flow.net.get_packet(packet) is None

    def test_epoch_lifecycle_create_start_load_send_finish(self, flow: Flow) -> None:
        packet = flow.packet_at_b()
        data, events = flow.do(z.NetAction.create_epoch("B", z.Salvo("take", [("in", packet)])))
        assert type(data) is RD.CreatedEpoch
        epoch = data.epoch
        assert epoch.state == z.EpochState.Startable and epoch.node_name == "B"
        assert epoch.in_salvo.packets == [("in", packet)]
        assert kinds(events) == ["EpochCreated", "PacketMoved"]
        assert events[1].to_location.epoch_id == epoch.id and events[1].from_index == 0

        data, events = flow.do(z.NetAction.start_epoch(epoch.id))
        assert type(data) is RD.StartedEpoch and data.epoch.state == z.EpochState.Running
        assert kinds(events) == ["EpochStarted"] and events[0].epoch_id == epoch.id

        data, events = flow.do(z.NetAction.load_packet_into_output_port(packet, "out"))
        assert type(data) is RD.Empty and kinds(events) == ["PacketMoved"]
        assert events[0].to_location.kind == "OutputPort" and events[0].to_location.port_name == "out"

        data, events = flow.do(z.NetAction.send_output_salvo(epoch.id, "emit"))
        assert type(data) is RD.Empty
        assert kinds(events) == ["PacketOrphaned", "OutputSalvoTriggered"]
        orphaned = events[0]
        assert (orphaned.packet_id, orphaned.epoch_id, orphaned.node_name, orphaned.orphaned_port_name,
                orphaned.salvo_condition) == (packet, epoch.id, "B", "out", "emit")
        sent = flow.net.get_epoch(epoch.id)
        assert [(o.packet_id, o.from_port, o.salvo_condition) for o in sent.orphaned_packets] == [
            (packet, "out", "emit")]
        assert [s.salvo_condition for s in sent.out_salvos] == ["emit"]

        data, events = flow.do(z.NetAction.finish_epoch(epoch.id))
        assert type(data) is RD.FinishedEpoch and data.epoch.state == z.EpochState.Finished
        assert kinds(events) == ["EpochFinished"]
        assert events[0].epoch.state == z.EpochState.Running and events[0].epoch_id == epoch.id
        assert flow.net.get_epoch(epoch.id) is None

    def test_cancel_epoch_destroys_its_packets(self, flow: Flow) -> None:
        epoch_id, packets = flow.epoch_at_b(packets=2, start=False)
        data, events = flow.do(z.NetAction.cancel_epoch(epoch_id))
        assert type(data) is RD.CancelledEpoch
        assert data.destroyed_packets == packets and data.epoch.state == z.EpochState.Startable
        assert kinds(events) == ["PacketDestroyed", "PacketDestroyed", "EpochCancelled"]
        assert flow.net.get_startable_epochs() == []

    def test_transport_moves_to_the_end_of_the_destination(self, flow: Flow) -> None:
        first, second = flow.new_packet(), flow.new_packet()
        data, events = flow.do(z.NetAction.transport_packet_to_location(first, z.PacketLocation.outside_net()))
        assert type(data) is RD.Empty
        assert kinds(events) == ["PacketMoved"] and events[0].from_index == 0
        assert [str(u) for u in flow.net.get_packets_at_location(z.PacketLocation.outside_net())] == [second, first]

    def test_create_request_then_step_makes_a_request_epoch(self, flow: Flow) -> None:
        data, events = flow.do(z.NetAction.create_request("B", "fetch"))
        assert type(data) is RD.Empty
        assert kinds(events) == ["RequestCreated"]
        assert (events[0].node_name, events[0].label, events[0].request_source) == ("B", "fetch", "External")

        data, events = flow.do(z.NetAction.run_step())
        assert type(data) is RD.StepResult and data.made_progress is True
        assert kinds(events) == ["RequestCascadeResolved", "EpochCreated", "RequestEpochCreated"]
        assert events[0].source_nodes == ["A"] and events[0].label == "fetch"
        assert events[2].node_name == "A" and events[2].epoch_id == events[1].epoch_id
        assert flow.net.get_epoch(events[1].epoch_id).in_salvo.salvo_condition == "__request__"

    def test_run_step_and_run_until_blocked(self, flow: Flow) -> None:
        assert flow.net.run_step() == (False, [])
        packet = flow.new_packet()
        flow.do(z.NetAction.transport_packet_to_location(packet, z.PacketLocation.edge(flow.edge)))
        assert not flow.net.is_blocked()
        events = flow.net.run_until_blocked()
        assert kinds(events) == ["PacketMoved", "InputSalvoTriggered", "EpochCreated", "PacketMoved"]
        assert flow.net.is_blocked() and flow.net.run_until_blocked() == []
        assert flow.net.run_step() == (False, [])

    def test_invalid_graph_raises_the_panic_exception(self) -> None:
        edge = z.Edge(z.PortRef("A", z.PortType.Output, "out"), z.PortRef("Missing", z.PortType.Input, "in"))
        graph = z.Graph([z.Node("A", out_ports={"out": z.Port()})], [edge])
        with pytest.raises(BaseException) as info:
            z.NetSim(graph)
        assert not isinstance(info.value, Exception)
        assert info.value.args[0].startswith("Cannot create NetSim with invalid graph:\n  - ")


UNKNOWN_ID = "01ARZ3NDEKTSV4RRFFQ69G5FAV"


# Each case puts the pipeline into a state and returns the failing action, the
# epochs to watch, the exception class and its message.
def _create_packet_in_startable(flow: Flow):
    e, _ = flow.epoch_at_b(packets=0, start=False)
    return z.NetAction.create_packet(e), [e], z.EpochNotRunningError, f"Epoch not running: {e}"


def _finish_with_unsent_output(flow: Flow):
    e, (p,) = flow.epoch_at_b()
    flow.do(z.NetAction.load_packet_into_output_port(p, "spare"))
    return (z.NetAction.finish_epoch(e), [e], z.UnsentOutputSalvoError,
            f"Cannot finish epoch {e}: output port 'spare' has unsent packets")


def _load_into_full_port(flow: Flow):
    e, (p, q) = flow.epoch_at_b(packets=2)
    flow.do(z.NetAction.load_packet_into_output_port(p, "out"))
    return (z.NetAction.load_packet_into_output_port(q, "out"), [e], z.OutputPortFullError,
            f"Output port 'out' is full in epoch {e}")


def _send_twice(flow: Flow):
    e, (p, q) = flow.epoch_at_b(packets=2)
    flow.do(z.NetAction.load_packet_into_output_port(p, "out"))
    flow.do(z.NetAction.send_output_salvo(e, "emit"))
    flow.do(z.NetAction.load_packet_into_output_port(q, "out"))
    return (z.NetAction.send_output_salvo(e, "emit"), [e], z.MaxSalvosExceededError,
            f"Max salvos exceeded for condition 'emit' in epoch {e}")


def _create_epoch_unknown_node_first(flow: Flow):
    salvo = z.Salvo("take", [("nope", UNKNOWN_ID)])
    return z.NetAction.create_epoch("Nope", salvo), [], z.NodeNotFoundError, "Node not found: Nope"


def _create_epoch_packet_elsewhere(flow: Flow):
    good, elsewhere = flow.packet_at_b(), flow.new_packet()
    salvo = z.Salvo("take", [("in", good), ("in", elsewhere), ("nope", good)])
    return (z.NetAction.create_epoch("B", salvo), [], z.PacketNotAtInputPortError,
            f"Packet {elsewhere} not at input port 'in' on node 'B'")


def _transport_from_running(flow: Flow):
    e, (p,) = flow.epoch_at_b()
    return (z.NetAction.transport_packet_to_location(p, z.PacketLocation.outside_net()), [e],
            z.CannotMovePacketFromRunningEpochError, f"Cannot move packet {p} from running epoch {e}")


def _transport_onto_unknown_edge(flow: Flow):
    p = flow.new_packet()
    edge = z.Edge(z.PortRef("B", z.PortType.Output, "out"), z.PortRef("A", z.PortType.Input, "x"))
    return (z.NetAction.transport_packet_to_location(p, z.PacketLocation.edge(edge)), [], z.EdgeNotFoundError,
            "Edge not found: B.out.out -> A.in.x")


def _request_unknown_node(flow: Flow):
    return (z.NetAction.create_request("Nope", "l"), [], z.RequestNodeNotFoundError,
            "Request targets non-existent node 'Nope'")


@pytest.mark.parametrize("case", [
    _create_packet_in_startable, _finish_with_unsent_output, _load_into_full_port, _send_twice,
    _create_epoch_unknown_node_first, _create_epoch_packet_elsewhere, _transport_from_running,
    _transport_onto_unknown_edge, _request_unknown_node,
], ids=lambda f: f.__name__.strip("_"))
def test_failed_action_raises_its_error_and_changes_nothing(flow: Flow, case) -> None:
    action, epochs, error, message = case(flow)
    before = flow.snapshot(*epochs)
    with pytest.raises(error) as info:
        flow.do(action)
    assert info.value.args == (message,)
    assert flow.snapshot(*epochs) == before


def test_none_is_never_an_empty_default_of_an_action(flow: Flow) -> None:
    """A None for a required argument is refused by name when the action is
    made: it never reaches the net as an empty name or location."""
    packet = flow.packet_at_b()
    before = flow.snapshot()
    makers = [
        lambda: z.NetAction.transport_packet_to_location(packet, None),
        lambda: z.NetAction.transport_packet_to_location(None, flow.b_in),
        lambda: z.NetAction.load_packet_into_output_port(packet, None),
        lambda: z.NetAction.create_epoch("B", None),
        lambda: z.NetAction.create_request(None, "x"),
        lambda: z.NetAction.start_epoch(None),
    ]
    for make in makers:
        with pytest.raises(TypeError, match=r"^argument '\w+': expected "):
            make()
    assert flow.snapshot() == before
    # The one optional id still takes None for "outside any epoch".
    assert z.NetAction.create_packet(None).to_dict() == {"kind": "CreatePacket", "epoch_id": None}


class TestValueCopies:
    def test_returned_objects_do_not_follow_the_net(self, flow: Flow) -> None:
        packet = flow.new_packet()
        before = flow.net.get_packet(packet)
        epoch_id, _ = flow.epoch_at_b(packets=0, start=False)
        startable = flow.net.get_epoch(epoch_id)
        flow.do(z.NetAction.transport_packet_to_location(packet, flow.b_in))
        flow.do(z.NetAction.start_epoch(epoch_id))
        assert before.location.kind == "OutsideNet"
        assert startable.state == z.EpochState.Startable
        assert flow.net.get_epoch(epoch_id).state == z.EpochState.Running

    def test_every_property_read_is_a_fresh_object(self, flow: Flow) -> None:
        epoch_id, _ = flow.epoch_at_b()
        epoch = flow.net.get_epoch(epoch_id)
        assert epoch.in_salvo is not epoch.in_salvo
        assert epoch.out_salvos is not epoch.out_salvos
        packet = flow.net.get_packet(flow.new_packet())
        assert packet.location is not packet.location

    def test_only_epoch_state_compares_by_value(self) -> None:
        assert z.PacketLocation.outside_net() != z.PacketLocation.outside_net()
        assert z.NetAction.run_step() != z.NetAction.run_step()
        assert z.EpochState.Running == 1 and z.EpochState.Running == z.EpochState.Running
        assert z.EpochState.Running != z.EpochState.Finished and int(z.EpochState.Finished) == 2
        with pytest.raises(TypeError):
            hash(z.EpochState.Running)
        location = z.PacketLocation.outside_net()
        assert {location: 1}[location] == 1  # identity hash

    @pytest.mark.parametrize("cls", [z.NetEvent, z.Packet, z.Epoch, z.OrphanedPacketInfo, z.PacketLocation,
                                     z.NetAction, z.NetActionResponseData])
    def test_classes_without_constructor(self, cls) -> None:
        with pytest.raises(TypeError, match=f"^No constructor defined for {cls.__name__}$"):
            cls()


class TestResponseData:
    def test_pattern_matching_on_variants(self, flow: Flow) -> None:
        epoch_id, packets = flow.epoch_at_b(packets=1)
        data, _ = flow.do(z.NetAction.cancel_epoch(epoch_id))
        match data:
            case RD.CancelledEpoch(epoch, destroyed):
                assert epoch.id == epoch_id and destroyed == packets
            case _:
                pytest.fail("CancelledEpoch did not match")
        match flow.do(z.NetAction.run_step())[0]:
            case RD.Packet(_) | RD.Empty():
                pytest.fail("matched the wrong variant")
            case RD.StepResult(made_progress):
                assert made_progress is False

    def test_variant_classes_are_subclasses_with_their_own_constructors(self, flow: Flow) -> None:
        epoch = flow.net.get_epoch(flow.epoch_at_b(packets=0)[0])
        pid = flow.new_packet()
        made = [RD.StepResult(True), RD.Packet(pid), RD.CreatedEpoch(epoch), RD.StartedEpoch(epoch=epoch),
                RD.FinishedEpoch(epoch), RD.CancelledEpoch(epoch, (pid,)), RD.Empty()]
        assert all(isinstance(d, RD) for d in made)
        assert made[0].made_progress is True and made[1].packet_id == pid
        assert made[3].epoch.id == epoch.id and made[5].destroyed_packets == [pid]
        assert RD.CancelledEpoch.__name__ == "NetActionResponseData_CancelledEpoch"
        assert RD.CancelledEpoch.__match_args__ == ("epoch", "destroyed_packets")
        assert RD.Empty.__match_args__ == ()
        assert not hasattr(z, "NetActionResponseData_Packet")
        with pytest.raises(TypeError, match="argument 'epoch'"):
            RD.CreatedEpoch("not an epoch")
        with pytest.raises(TypeError):
            RD.Empty(1)
