"""Reproducible runs: seeded nets, traces as plain dicts, and replaying them."""

import json
import sys

import pytest

import zellik_sim as z
from conftest import pipeline_graph

SEEDED_START_MS = 1767225600000  # 2026-01-01T00:00:00Z

Record = tuple[z.NetAction, z.NetActionResponseData, list[z.NetEvent]]


def drive(net: z.NetSim) -> list[Record]:
    """A run through the pipeline that makes every kind of event and response."""
    edge = pipeline_graph()[1]
    records: list[Record] = []

    def do(action: z.NetAction) -> z.NetActionResponseData:
        data, events = net.do_action(action)
        records.append((action, data, events))
        return data

    for _ in range(2):
        packet = do(z.NetAction.create_packet()).packet_id
        do(z.NetAction.transport_packet_to_location(packet, z.PacketLocation.edge(edge)))
    do(z.NetAction.run_step())
    do(z.NetAction.run_step())
    first, second = (epoch.id for epoch in net.epochs())
    do(z.NetAction.start_epoch(first))
    inside = [str(p) for p in net.get_packets_at_location(z.PacketLocation.node(first))]
    do(z.NetAction.load_packet_into_output_port(inside[0], "out"))
    do(z.NetAction.send_output_salvo(first, "emit"))  # "out" has no edge: an orphan
    do(z.NetAction.finish_epoch(first))
    do(z.NetAction.cancel_epoch(second))
    packet = do(z.NetAction.create_packet()).packet_id
    do(z.NetAction.transport_packet_to_location(packet, z.PacketLocation.input_port("B", "in")))
    third = do(z.NetAction.create_epoch("B", z.Salvo("take", [("in", packet)]))).epoch.id
    do(z.NetAction.start_epoch(third))
    made = do(z.NetAction.create_packet(third)).packet_id
    do(z.NetAction.destroy_packet(packet))
    do(z.NetAction.consume_packet(made))
    do(z.NetAction.finish_epoch(third))
    do(z.NetAction.create_request("B", "more \"work\"\n"))
    do(z.NetAction.run_step())
    return records


def event_reprs(records: list[Record]) -> list[str]:
    return [repr(e) for _, _, events in records for e in events]


def through_json(value: dict) -> dict:
    return json.loads(json.dumps(value))


class TestSeededNets:
    def test_same_seed_same_calls_give_identical_ids_and_events(self) -> None:
        first = event_reprs(drive(z.NetSim(pipeline_graph()[0], seed=11)))
        assert first == event_reprs(drive(z.NetSim(pipeline_graph()[0], seed=11)))
        assert first != event_reprs(drive(z.NetSim(pipeline_graph()[0], seed=12)))

    def test_logical_clock_orders_ids_and_events_by_creation(self) -> None:
        events = [e for _, _, evs in drive(z.NetSim(pipeline_graph()[0], seed=0)) for e in evs]
        stamps = [e.timestamp for e in events]
        assert stamps == sorted(set(stamps))
        assert SEEDED_START_MS <= stamps[0] and stamps[-1] < SEEDED_START_MS + 1000
        created = [e.packet_id for e in events if e.kind == "PacketCreated"]
        assert created == sorted(created) and len(set(created)) == len(created)
        epoch = next(e.epoch for e in events if e.kind == "EpochFinished")
        assert SEEDED_START_MS <= epoch.start_time() < stamps[-1]

    def test_unseeded_nets_still_make_fresh_random_ids_on_the_wall_clock(self) -> None:
        first = drive(z.NetSim(pipeline_graph()[0]))
        second = drive(z.NetSim(pipeline_graph()[0], seed=None))
        ids = [e.packet_id for _, _, evs in first + second for e in evs if e.kind == "PacketCreated"]
        assert len(set(ids)) == len(ids)
        assert all(e.timestamp > SEEDED_START_MS + 10**9 for _, _, evs in first for e in evs)

    @pytest.mark.parametrize("args, kwargs, error", [
        ((1,), {}, TypeError),                 # the seed is keyword-only
        ((), {"seed": "1"}, TypeError),
        ((), {"seed": -1}, ValueError),
        ((), {"seed": 2**64}, ValueError),
    ])
    def test_seed_must_be_a_keyword_u64(self, args: tuple, kwargs: dict, error: type) -> None:
        with pytest.raises(error):
            z.NetSim(pipeline_graph()[0], *args, **kwargs)
        assert z.NetSim(pipeline_graph()[0], seed=2**64 - 1).is_blocked()


class TestEventObjects:
    def test_every_kind_is_a_small_object_and_the_whole_run_undoes(self) -> None:
        net = z.NetSim(pipeline_graph()[0], seed=6)
        records = drive(net)
        events = [e for _, _, evs in records for e in evs]
        assert len({e.kind for e in events}) == 14
        # Small enough for the interpreter's small-object allocator, with room to spare.
        assert max(sys.getsizeof(e) for e in events) <= 128
        finished = [e for e in events if e.kind in ("EpochFinished", "EpochCancelled")]
        assert [e.epoch.id == e.epoch_id for e in finished] == [True, True, True]
        for action, _, evs in reversed(records):
            net.undo_action(action, evs)
        assert (net.packets(), net.epochs()) == ([], [])


class TestPlainDicts:
    def test_every_action_event_and_response_round_trips_exactly(self) -> None:
        records = drive(z.NetSim(pipeline_graph()[0], seed=3))
        event_kinds, response_kinds, action_kinds = set(), set(), set()
        for action, data, events in records:
            d = through_json(action.to_dict())
            assert d == action.to_dict()
            back = z.NetAction.from_dict(d)
            assert (repr(back), back.to_dict()) == (repr(action), d)
            action_kinds.add(d["kind"])
            response_kinds.add(through_json(data.to_dict())["kind"])
            for event in events:
                d = through_json(event.to_dict())
                back = z.NetEvent.from_dict(d)
                assert (repr(back), back.to_dict()) == (repr(event), d)
                event_kinds.add(event.kind)
        assert len(event_kinds) == 14 and len(response_kinds) == 7 and len(action_kinds) == 12

    def test_events_read_back_undo_like_the_originals(self) -> None:
        net = z.NetSim(pipeline_graph()[0], seed=4)
        action, _, events = drive(net)[-1]  # the step that resolves the request
        assert [e.node_name for e in net.epochs()] == ["A"]
        net.undo_action(action, [z.NetEvent.from_dict(through_json(e.to_dict())) for e in events])
        assert net.epochs() == []
        assert [p.location.kind for p in net.packets()] == ["OutsideNet"]  # the orphan

    def test_values_are_plain_and_ids_are_text(self) -> None:
        net = z.NetSim(pipeline_graph()[0], seed=5)
        records = drive(net)
        finished = next(e for _, _, evs in records for e in evs if e.kind == "EpochFinished").to_dict()
        assert finished["epoch"]["state"] == "Running"
        assert finished["epoch"]["orphaned_packets"][0]["from_port"] == "out"
        assert [len(p) for _, p in finished["epoch"]["in_salvo"]["packets"]] == [26]
        moved = next(e for _, _, evs in records for e in evs if e.kind == "PacketMoved").to_dict()
        assert moved["to_location"] == {"kind": "Edge", "edge": {
            "source": {"node_name": "A", "port_type": "Output", "port_name": "out"},
            "target": {"node_name": "B", "port_type": "Input", "port_name": "in"}}}
        for location in (z.PacketLocation.outside_net(), z.PacketLocation.input_port("B", "in"),
                         z.PacketLocation.node(moved["packet_id"]),
                         z.PacketLocation.output_port(moved["packet_id"], "x")):
            d = location.to_dict()
            assert repr(z.PacketLocation.from_dict(through_json(d))) == repr(location)
        salvo = z.Salvo("s", [("in", "not-checked-yet")])
        assert salvo.to_dict() == {"salvo_condition": "s", "packets": [["in", "not-checked-yet"]]}
        assert z.NetAction.from_dict({"kind": "CreatePacket", "epoch_id": None}).to_dict() == {
            "kind": "CreatePacket", "epoch_id": None}

    @pytest.mark.parametrize("cls, data, message", [
        (z.NetEvent, {"kind": "Nope", "timestamp": 1}, "invalid field 'kind': unknown event kind 'Nope'"),
        (z.NetEvent, {"kind": "PacketCreated"}, "invalid field 'timestamp': missing"),
        (z.NetEvent, {"kind": "PacketCreated", "timestamp": True, "packet_id": "0" * 26},
         "invalid field 'timestamp': expected int"),
        (z.NetEvent, {"kind": "PacketCreated", "timestamp": 1, "packet_id": "0" * 25},
         "invalid field 'packet_id': Invalid ULID: invalid length"),
        (z.NetEvent, {"kind": "PacketCreated", "timestamp": 1, "packet_id": "0" * 26, "extra": 1},
         "invalid field 'extra': unexpected field"),
        (z.NetEvent, {"kind": "PacketMoved", "timestamp": 1, "packet_id": "0" * 26,
                      "from_location": {"kind": "OutsideNet"}, "to_location": {"kind": "Node", "epoch_id": 5},
                      "from_index": 0}, "invalid field 'to_location.epoch_id': expected str"),
        (z.NetEvent, {"kind": "PacketMoved", "timestamp": 1, "packet_id": "0" * 26,
                      "from_location": {"kind": "OutsideNet"}, "to_location": {"kind": "OutsideNet"},
                      "from_index": -1}, "invalid field 'from_index': out of range"),
        (z.NetAction, {"kind": "CreateEpoch", "node_name": "B",
                       "salvo": {"salvo_condition": "s", "packets": [["in"]]}},
         "invalid field 'salvo.packets[0]': expected [port_name, packet_id]"),
        (z.NetAction, {"kind": "TransportPacketToLocation", "packet_id": "p",
                       "destination": {"kind": "Edge", "edge": {"source": {}}}},
         "invalid field 'destination.edge.source.node_name': missing"),
        (z.PacketLocation, {"kind": "InputPort", "node_name": "B", "port_name": 3},
         "invalid field 'port_name': expected str"),
        (z.PacketLocation, {"kind": "Edge", "edge": []}, "invalid field 'edge': expected dict"),
    ])
    def test_bad_dicts_name_the_field(self, cls: type, data: dict, message: str) -> None:
        with pytest.raises(ValueError) as info:
            cls.from_dict(data)
        assert str(info.value) == message

    def test_from_dict_wants_a_dict(self) -> None:
        with pytest.raises(TypeError):
            z.NetEvent.from_dict([("kind", "PacketCreated")])


class TestListing:
    def test_packets_and_epochs_list_the_whole_state_in_id_order(self, flow) -> None:
        assert flow.net.packets() == [] and flow.net.epochs() == []
        epoch_id, inside = flow.epoch_at_b(packets=2)
        outside = flow.new_packet()
        waiting = flow.packet_at_b()
        packets = flow.net.packets()
        assert sorted(inside + [outside, waiting]) == [p.id for p in packets]
        where = {p.id: p.location.kind for p in packets}
        assert where[outside] == "OutsideNet" and where[waiting] == "InputPort" and where[inside[0]] == "Node"
        assert [repr(e) for e in flow.net.epochs()] == [repr(flow.net.get_epoch(epoch_id))]
        flow.do(z.NetAction.cancel_epoch(epoch_id))
        assert flow.net.epochs() == [] and len(flow.net.packets()) == 2
