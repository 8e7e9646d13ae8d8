"""Packet and epoch identifiers: what is accepted, when it is parsed, what comes back."""

import sys

import pytest
import ulid

import zellik_sim as z
from conftest import Flow

VALID = "01ARZ3NDEKTSV4RRFFQ69G5FAV"

MALFORMED = [
    (VALID[:25], "invalid length"),
    (VALID + "0", "invalid length"),
    ("", "invalid length"),
    (VALID[:25] + "\u00e9", "invalid length"),  # 26 characters, 27 bytes in UTF-8
    (VALID[:25] + "U", "invalid character"),
    (VALID[:25] + "l", "invalid character"),
    (VALID[:25] + "-", "invalid character"),
    ("8" + VALID[1:], "value out of range"),
    ("Z" + VALID[1:], "value out of range"),
]


@pytest.mark.parametrize(("text", "reason"), MALFORMED)
def test_parsed_at_once_by_locations_and_queries(flow: Flow, text: str, reason: str) -> None:
    message = f"^Invalid ULID: {reason}$"
    for call in (z.PacketLocation.node, lambda t: z.PacketLocation.output_port(t, "out"),
                 flow.net.get_packet, flow.net.get_epoch):
        with pytest.raises(ValueError, match=message):
            call(text)


def test_largest_value_is_accepted() -> None:
    assert z.PacketLocation.node("7" + "Z" * 25).epoch_id == "7" + "Z" * 25


@pytest.mark.parametrize(("text", "reason"), [("not a ulid", "invalid length"),
                                              (VALID[:25] + "O", "invalid character"),
                                              ("9" + VALID[1:], "value out of range")])
def test_actions_store_text_and_parse_it_in_do_action(flow: Flow, text: str, reason: str) -> None:
    epoch_id, (packet,) = flow.epoch_at_b(packets=1, start=False)
    actions = [
        z.NetAction.start_epoch(text),
        z.NetAction.create_packet(text),
        z.NetAction.transport_packet_to_location(text, z.PacketLocation.outside_net()),
        # The bad id comes after a good pair: nothing may have happened to the first.
        z.NetAction.create_epoch("B", z.Salvo("take", [("in", flow.packet_at_b()), ("in", text)])),
    ]
    assert repr(actions[0]) == f"NetAction.start_epoch('{text}')"
    before = flow.snapshot(epoch_id)
    for action in actions:
        with pytest.raises(ValueError, match=f"^Invalid ULID: {reason}$"):
            flow.do(action)
        assert flow.snapshot(epoch_id) == before


def test_any_object_goes_through_str(flow: Flow) -> None:
    packet = flow.new_packet()
    as_ulid = ulid.ULID.from_str(packet)
    assert flow.net.get_packet(as_ulid).id == packet

    class Named:
        def __str__(self) -> str:
            return packet.lower()

    assert flow.net.get_packet(Named()).id == packet
    assert repr(z.NetAction.consume_packet(Named())) == f"NetAction.consume_packet('{packet.lower()}')"
    flow.do(z.NetAction.consume_packet(Named()))
    assert flow.net.get_packet(packet) is None


def test_unknown_well_formed_ids_give_none(flow: Flow) -> None:
    assert flow.net.get_packet(VALID) is None
    assert flow.net.get_epoch(VALID) is None


def test_ulid_objects_come_back_from_the_four_calls(flow: Flow) -> None:
    epoch_id, (packet,) = flow.epoch_at_b(packets=1, start=False)
    (startable,) = flow.net.get_startable_epochs()
    (inside,) = flow.net.get_packets_at_location(z.PacketLocation.node(epoch_id))
    epoch = flow.net.get_epoch(epoch_id)
    got = flow.net.get_packet(packet).get_id()
    for value, text in [(startable, epoch_id), (inside, packet), (epoch.get_id(), epoch_id), (got, packet)]:
        assert isinstance(value, ulid.ULID) and str(value) == text
    assert epoch.start_time() == ulid.ULID.from_str(epoch_id).milliseconds
    assert flow.net.packet_count_at(z.PacketLocation.node(epoch_id)) == 1


def test_missing_ulid_package_fails_only_the_calls_that_need_it(flow: Flow, monkeypatch) -> None:
    epoch_id, _ = flow.epoch_at_b(packets=0, start=False)
    monkeypatch.setitem(sys.modules, "ulid", None)  # import of "ulid" now raises ImportError
    with pytest.raises(ImportError):
        flow.net.get_startable_epochs()
    with pytest.raises(ImportError):
        flow.net.get_epoch(epoch_id).get_id()
    assert flow.net.get_epoch(epoch_id).id == epoch_id
    flow.do(z.NetAction.start_epoch(epoch_id))
    monkeypatch.undo()
    assert flow.net.get_startable_epochs() == []


def test_ids_come_back_upper_case(flow: Flow) -> None:
    epoch_id, _ = flow.epoch_at_b(packets=0, start=False)
    assert z.PacketLocation.node(epoch_id.lower()).epoch_id == epoch_id
    data, _ = flow.do(z.NetAction.start_epoch(epoch_id.lower()))
    assert data.epoch.id == epoch_id


def test_ulid_results_equal_the_ones_built_from_text(flow: Flow) -> None:
    epoch_id, (packet,) = flow.epoch_at_b(packets=1, start=False)
    results = [
        (flow.net.get_startable_epochs()[0], epoch_id),
        (flow.net.get_packets_at_location(z.PacketLocation.node(epoch_id))[0], packet),
        (flow.net.get_epoch(epoch_id).get_id(), epoch_id),
        (flow.net.get_packet(packet).get_id(), packet),
    ]
    for value, text in results:
        documented = ulid.ULID.from_str(text)
        assert type(value) is ulid.ULID
        assert value == documented and hash(value) == hash(documented)
        assert str(value) == text and value.bytes == documented.bytes
        assert vars(value) == vars(documented)
        assert value.milliseconds == documented.milliseconds


def test_ulid_arguments_act_as_their_text(flow: Flow) -> None:
    epoch_id, (packet,) = flow.epoch_at_b(packets=1, start=False)
    epoch_ulid, packet_ulid = ulid.ULID.from_str(epoch_id), ulid.ULID.from_str(packet)
    assert flow.net.get_epoch(epoch_ulid).id == epoch_id
    assert flow.net.get_packet(packet_ulid).id == packet
    assert z.PacketLocation.node(epoch_ulid).epoch_id == epoch_id
    assert z.PacketLocation.output_port(epoch_ulid, "out").epoch_id == epoch_id
    # Actions and salvos store the text str() would spell, and repr shows it.
    assert repr(z.NetAction.start_epoch(epoch_ulid)) == f"NetAction.start_epoch('{epoch_id}')"
    assert repr(z.NetAction.create_packet(epoch_ulid)) == f"NetAction.create_packet('{epoch_id}')"
    assert z.Salvo("take", [("in", packet_ulid)]).packets == [("in", packet)]
    assert z.NetActionResponseData.Packet(packet_ulid).packet_id == packet
    data, _ = flow.do(z.NetAction.start_epoch(epoch_ulid))
    assert data.epoch.id == epoch_id
    # A subclass is not exactly a ULID: it goes through its own str().
    class Shouting(ulid.ULID):
        def __str__(self) -> str:
            return packet.lower()

    shouting = Shouting.from_str(epoch_id)
    assert repr(z.NetAction.consume_packet(shouting)) == f"NetAction.consume_packet('{packet.lower()}')"
    assert flow.net.get_packet(shouting).id == packet


@pytest.mark.parametrize("call", [
    lambda: z.NetActionResponseData.Packet(5),
    lambda: z.NetActionResponseData.Packet(b"0" * 26),
    lambda: z.Salvo("take", [("in", 5)]),
    lambda: z.Salvo("take", [(5, VALID)]),
    lambda: z.NetActionResponseData.CancelledEpoch(None, []),
])
def test_ids_documented_as_str_refuse_other_types(call) -> None:
    with pytest.raises(TypeError):
        call()


def test_destroyed_packets_are_type_checked_before_parsing(flow: Flow) -> None:
    epoch = flow.net.get_epoch(flow.epoch_at_b(packets=0)[0])
    with pytest.raises(TypeError, match="destroyed_packets"):
        z.NetActionResponseData.CancelledEpoch(epoch, ["not a ulid", 5])
    with pytest.raises(ValueError, match="^Invalid ULID: invalid length$"):
        z.NetActionResponseData.CancelledEpoch(epoch, ["not a ulid"])
