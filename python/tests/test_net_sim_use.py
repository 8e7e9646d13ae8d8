"""Holding a NetSim: undo and its argument checks, re-entry, interruption, memory."""

import gc
import os
import random
import signal

import pytest

import zellik_sim as z
from conftest import Flow


class TestUndo:
    def test_undo_errors_are_undo_exceptions(self, flow: Flow) -> None:
        epoch_id, _ = flow.epoch_at_b(packets=0, start=False)
        action = z.NetAction.start_epoch(epoch_id)
        _, events = flow.do(action)
        flow.net.undo_action(action, events)
        with pytest.raises(z.UndoStateMismatchError) as info:
            flow.net.undo_action(action, events)
        assert info.value.args == (f"State mismatch: epoch {epoch_id} is not in Running state, cannot undo start",)
        assert isinstance(info.value, z.UndoError) and isinstance(info.value, z.ZellikError)

        create = z.NetAction.create_packet()
        data, created = flow.do(create)
        flow.do(z.NetAction.consume_packet(data.packet_id))
        with pytest.raises(z.UndoNotFoundError, match=f"^Entity not found: packet {data.packet_id} not found$"):
            flow.net.undo_action(create, created)

    @pytest.mark.parametrize("shape", ["tuple", "foreign item", "event then foreign item", "bad action",
                                       "malformed action id"])
    def test_bad_arguments_raise_before_the_engine_runs(self, flow: Flow, shape: str) -> None:
        packet = flow.new_packet()
        move = z.NetAction.transport_packet_to_location(packet, flow.b_in)
        _, events = flow.do(move)
        assert len(events) == 1
        before = flow.snapshot()
        action, args, error, match = {
            "tuple": (move, tuple(events), TypeError, "argument 'events'"),
            "foreign item": (move, ["PacketMoved"], TypeError, "argument 'events'"),
            "event then foreign item": (move, [events[0], None], TypeError, "argument 'events'"),
            "bad action": ("transport", events, TypeError, "argument 'action'"),
            "malformed action id": (z.NetAction.transport_packet_to_location("x", flow.b_in), events, ValueError,
                                    "^Invalid ULID: invalid length$"),
        }[shape]
        with pytest.raises(error, match=match):
            flow.net.undo_action(action, args)
        assert flow.snapshot() == before
        flow.net.undo_action(move, events)  # the net is still whole and free
        assert flow.net.get_packet(packet).location.kind == "OutsideNet"


class TestHolds:
    def test_changing_the_net_during_a_query_fails(self, flow: Flow) -> None:
        packet = flow.new_packet()
        attempts: list[BaseException] = []

        class Sneaky:
            def __str__(self) -> str:
                assert flow.net.is_blocked() in (True, False)  # a second reader is fine
                for call in (flow.net.run_step, flow.net.run_until_blocked,
                             lambda: flow.net.do_action(z.NetAction.create_packet()),
                             lambda: flow.net.undo_action(z.NetAction.run_step(), [])):
                    try:
                        call()
                    except RuntimeError as e:
                        attempts.append(e)
                return packet

        before = flow.snapshot()
        assert flow.net.get_packet(Sneaky()).id == packet
        assert len(attempts) == 4
        assert flow.snapshot() == before

    def test_interrupt_stops_run_until_blocked_between_steps(self) -> None:
        # Node C holds a packet at in; its condition holds on in but takes from
        # other, which stays empty: every step makes another empty epoch, and the
        # net is never blocked.
        c = z.Node(
            "C",
            in_ports={"in": z.Port(), "other": z.Port()},
            in_salvo_conditions={"loop": z.SalvoCondition(
                z.MaxSalvos.finite(1), "other", z.SalvoConditionTerm.port("in", z.PortState.NonEmpty))},
        )
        net = z.NetSim(z.Graph([c], []))
        data, _ = net.do_action(z.NetAction.create_packet())
        net.do_action(z.NetAction.transport_packet_to_location(data.packet_id, z.PacketLocation.input_port("C", "in")))
        refused: list[RuntimeError] = []

        def on_alarm(signum, frame):
            try:
                net.is_blocked()
            except RuntimeError as e:
                refused.append(e)
            raise KeyboardInterrupt

        previous = signal.signal(signal.SIGALRM, on_alarm)
        try:
            signal.setitimer(signal.ITIMER_REAL, 0.2)
            with pytest.raises(KeyboardInterrupt):
                net.run_until_blocked()
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
            signal.signal(signal.SIGALRM, previous)
        assert len(refused) == 1
        steps = len(net.get_startable_epochs())
        assert steps > 0 and not net.is_blocked()
        assert net.run_step()[0] is True
        assert len(net.get_startable_epochs()) == steps + 1


def test_random_actions_undo_back_to_the_start() -> None:
    """Seeded random driving through the Python API, then undoing everything.

    A failed action must leave the net as it was; after each undo the net must
    be as it was before that action (ids at each location compared as sets,
    since an undone removal re-appends a packet at the end of its location)."""
    rng = random.Random(20240611)
    flow = Flow()
    packets: list[str] = []
    epochs: list[str] = []

    def state(known: list[str]) -> dict[str, object]:
        snap = flow.snapshot(*known)
        snap.pop("blocked")  # a request taken by a step is not given back by undo
        return {k: sorted(v) if isinstance(v, list) else v for k, v in snap.items()}

    def random_action() -> z.NetAction:
        p = rng.choice(packets) if packets else "01ARZ3NDEKTSV4RRFFQ69G5FAV"
        e = rng.choice(epochs) if epochs else "01ARZ3NDEKTSV4RRFFQ69G5FAV"
        places = [z.PacketLocation.outside_net(), z.PacketLocation.edge(flow.edge), flow.b_in,
                  z.PacketLocation.node(e), z.PacketLocation.output_port(e, "out")]
        waiting = [str(u) for u in flow.net.get_packets_at_location(flow.b_in)]
        return rng.choice([
            lambda: z.NetAction.create_packet(),
            lambda: z.NetAction.create_packet(e),
            lambda: z.NetAction.transport_packet_to_location(p, rng.choice(places)),
            lambda: z.NetAction.run_step(),
            lambda: z.NetAction.create_epoch("B", z.Salvo("take", [("in", w) for w in waiting[:rng.randint(0, 2)]])),
            lambda: z.NetAction.start_epoch(e),
            lambda: z.NetAction.load_packet_into_output_port(p, rng.choice(["out", "spare"])),
            lambda: z.NetAction.send_output_salvo(e, "emit"),
            lambda: z.NetAction.finish_epoch(e),
            lambda: z.NetAction.cancel_epoch(e),
            lambda: z.NetAction.consume_packet(p),
            lambda: z.NetAction.destroy_packet(p),
            lambda: z.NetAction.create_request("B", "r"),
        ])()

    done: list[tuple[z.NetAction, list[z.NetEvent], list[str], dict[str, object]]] = []
    failures = 0
    for _ in range(400):
        action = random_action()
        known = list(epochs)
        before = state(known)
        try:
            _, events = flow.net.do_action(action)
        except z.ZellikError:
            failures += 1
            assert state(known) == before, repr(action)
            continue
        for event in events:
            if event.kind == "PacketCreated":
                packets.append(event.packet_id)
            elif event.kind == "EpochCreated":
                epochs.append(event.epoch_id)
        done.append((action, events, known, before))
    assert failures and len(done) > 100
    succeeded = {repr(a).split("(")[0] for a, *_ in done}
    assert len(succeeded) >= 11, succeeded

    while done:
        action, events, known, before = done.pop()
        flow.net.undo_action(action, events)
        assert state(known) == before, repr(action)
    assert all(flow.net.get_packet(p) is None for p in packets)
    assert all(flow.net.get_epoch(e) is None for e in epochs)


def _rss_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")
def test_long_use_does_not_grow_memory() -> None:
    flow = Flow()
    edge = z.PacketLocation.edge(flow.edge)

    def round_trip() -> None:
        create = z.NetAction.create_packet()
        data, created = flow.net.do_action(create)
        move = z.NetAction.transport_packet_to_location(data.packet_id, edge)
        _, moved = flow.net.do_action(move)
        step, stepped = flow.net.run_step()
        text = repr(created) + repr(moved) + repr(stepped) + repr(data) + repr(move)
        assert text
        (epoch_id,) = [e.epoch_id for e in stepped if e.kind == "EpochCreated"]
        epoch = flow.net.get_epoch(epoch_id)
        assert repr(epoch) and epoch.in_salvo.packets and flow.net.get_packet(data.packet_id).location
        assert flow.net.packet_count_at(z.PacketLocation.node(epoch_id)) == 1
        flow.net.undo_action(z.NetAction.run_step(), stepped)
        flow.net.undo_action(move, moved)
        flow.net.undo_action(create, created)
        try:
            flow.net.do_action(z.NetAction.start_epoch(epoch_id))
        except z.EpochNotFoundError:
            pass
        try:
            flow.net.get_epoch("bad")
        except ValueError:
            pass

    for _ in range(5_000):
        round_trip()
    gc.collect()
    start = _rss_bytes()
    for _ in range(20_000):  # 100,000 calls of the engine, and as many queries and reprs
        round_trip()
    flow.net.get_startable_epochs()
    gc.collect()
    assert _rss_bytes() - start < 30 * 1024 * 1024
    assert flow.net.get_startable_epochs() == []
