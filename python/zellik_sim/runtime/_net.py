"""The runtime's calls on its net: run steps, list the epochs, inject packets,
execute an epoch with an outcome in one go, cancel one. A recording driver
makes every call a separate action and writes each as one JSON line of the
recording format (the seed first, then the action with its response data
and events, an error's class, or an undo), which a fresh net replays."""

from __future__ import annotations

import json
from collections.abc import Callable, Sequence
from typing import IO, Any, TypeVar

from zellik_sim import (
    Epoch,
    NetAction,
    NetActionResponseData,
    NetEvent,
    NetSim,
    Outcome,
    PacketLocation,
    Salvo,
)

# The input salvo condition an epoch made by flushing a node names.
FLUSH = "__flush__"

_Data = TypeVar("_Data", bound=NetActionResponseData)
# Performs one action on the net and gives its response data and events.
_Do = Callable[[NetAction[Any]], tuple[Any, list[NetEvent]]]


def execute_by_actions(net: NetSim, epoch_id: str, outcome: Outcome, *,
                       packets: Sequence[str] | None = None,
                       do: _Do | None = None,
                       undo: Callable[[NetAction[Any], list[NetEvent]], None] | None = None,
                       ) -> tuple[dict[str, list[str]], list[NetEvent]]:
    """Executes an epoch with one outcome through separate actions, all or
    nothing: starts it when it is startable, consumes the packets inside it
    (or loads them into ``outcome.pass_to``), creates and loads
    ``outcome.creates[port]`` packets per port, sends ``outcome.sends`` in
    order and finishes it. Returns the created packet ids per port, in
    order, and every event. On a refusal every action done is undone, last
    first, and the engine's exception goes on.

    ``packets`` are the ids inside the epoch when the caller knows them
    (the epoch is then taken to be startable); ``do`` performs an action and
    ``undo`` undoes one (``net.do_action`` and ``net.undo_action`` by
    default).
    """
    if not isinstance(net, NetSim):
        raise TypeError(f"execute_by_actions: net must be a NetSim, not {type(net).__name__}")
    if not isinstance(epoch_id, str):
        raise TypeError(f"execute_by_actions: epoch_id must be a str, not {type(epoch_id).__name__}")
    if not isinstance(outcome, Outcome):
        raise TypeError(f"execute_by_actions: outcome must be an Outcome, not {type(outcome).__name__}")
    if packets is not None and (isinstance(packets, str) or not isinstance(packets, Sequence)
                                or not all(isinstance(p, str) for p in packets)):
        raise TypeError("execute_by_actions: packets must be a sequence of packet ids or None")
    perform: _Do = do or net.do_action
    reverse = undo or net.undo_action
    done: list[tuple[NetAction[Any], list[NetEvent]]] = []
    events: list[NetEvent] = []

    def act(action: NetAction[_Data]) -> _Data:
        data, new = perform(action)
        done.append((action, new))
        events.extend(new)
        return data  # type: ignore[no-any-return]

    created: dict[str, list[str]] = {}
    try:
        if packets is None:
            epoch = net.get_epoch(epoch_id)
            if epoch is None or epoch.state == 0:  # unknown or startable: the start says which
                act(NetAction.start_epoch(epoch_id))
            inside = [str(p) for p in net.get_packets_at_location(PacketLocation.node(epoch_id))]
        else:
            act(NetAction.start_epoch(epoch_id))
            inside = list(packets)
        for packet_id in inside:
            if outcome.pass_to is None:
                act(NetAction.consume_packet(packet_id))
            else:
                act(NetAction.load_packet_into_output_port(packet_id, outcome.pass_to))
        for port, count in outcome.creates.items():
            ids = created.setdefault(port, [])
            for _ in range(count):
                packet_id = act(NetAction.create_packet(epoch_id)).packet_id
                act(NetAction.load_packet_into_output_port(packet_id, port))
                ids.append(packet_id)
        for condition in outcome.sends:
            act(NetAction.send_output_salvo(epoch_id, condition))
        act(NetAction.finish_epoch(epoch_id))
    except BaseException:
        for action, new in reversed(done):
            reverse(action, new)
        raise
    return created, events


class Driver:
    """The net's calls, counted. Uses ``NetSim.execute`` when the module
    has it, else ``execute_by_actions``."""

    def __init__(self, net: NetSim) -> None:
        self.net = net
        self.calls = 0
        self._execute = getattr(net, "execute", None)

    def steps(self) -> int:
        """Steps the net until it is blocked; the steps that made progress."""
        run_step = self.net.run_step
        made = 0
        while run_step()[0]:
            made += 1
        self.calls += made + 1
        return made

    def epochs(self) -> list[Epoch]:
        self.calls += 1
        return self.net.epochs()

    def count(self, location: PacketLocation) -> int:
        self.calls += 1
        return self.net.packet_count_at(location)

    def inject(self, location: PacketLocation, count: int) -> list[str]:
        ids: list[str] = []
        do = self.net.do_action
        for _ in range(count):
            packet_id = do(NetAction.create_packet())[0].packet_id
            do(NetAction.transport_packet_to_location(packet_id, location))
            ids.append(packet_id)
        self.calls += 2 * count
        return ids

    def execute(self, epoch_id: str, outcome: Outcome, packets: Sequence[str]) -> dict[str, list[str]]:
        if self._execute is not None:
            self.calls += 1
            created: dict[str, list[Any]] = self._execute(epoch_id, outcome)[0]
            return {port: [str(i) for i in ids] for port, ids in created.items()}
        return self._by_actions(epoch_id, outcome, packets)

    def _by_actions(self, epoch_id: str, outcome: Outcome, packets: Sequence[str]) -> dict[str, list[str]]:
        """execute_by_actions for a startable epoch whose packets are known,
        written out for speed: no events kept but those an undo needs."""
        net = self.net
        do = net.do_action
        done: list[tuple[NetAction[Any], list[NetEvent]]] = []
        pass_to = outcome.pass_to
        created: dict[str, list[str]] = {}
        try:
            action: NetAction[Any] = NetAction.start_epoch(epoch_id)
            done.append((action, do(action)[1]))
            for packet_id in packets:
                action = (NetAction.consume_packet(packet_id) if pass_to is None
                          else NetAction.load_packet_into_output_port(packet_id, pass_to))
                done.append((action, do(action)[1]))
            for port, count in outcome.creates.items():
                ids = created[port] = []
                for _ in range(count):
                    action = NetAction.create_packet(epoch_id)
                    data, events = do(action)
                    done.append((action, events))
                    packet_id = data.packet_id
                    action = NetAction.load_packet_into_output_port(packet_id, port)
                    done.append((action, do(action)[1]))
                    ids.append(packet_id)
            for condition in outcome.sends:
                action = NetAction.send_output_salvo(epoch_id, condition)
                done.append((action, do(action)[1]))
            action = NetAction.finish_epoch(epoch_id)
            done.append((action, do(action)[1]))
        except BaseException:
            for action, events in reversed(done):
                net.undo_action(action, events)
            self.calls += 2 * len(done) + 1
            raise
        self.calls += len(done)
        return created

    def cancel(self, epoch_id: str) -> list[str]:
        self.calls += 1
        data, _ = self.net.do_action(NetAction.cancel_epoch(epoch_id))
        return data.destroyed_packets

    def flush(self, node: str, ports: Sequence[str]) -> None:
        """Makes one epoch of `node` from every packet waiting in its input
        ports, in port order and each port's arrival order."""
        packets = []
        for port in ports:
            self.calls += 1
            location = PacketLocation.input_port(node, port)
            packets += [(port, str(i)) for i in self.net.get_packets_at_location(location)]
        self.do_create(NetAction.create_epoch(node, Salvo(FLUSH, packets)))

    def do_create(self, action: NetAction[Any]) -> None:
        self.calls += 1
        self.net.do_action(action)


class RecordingDriver(Driver):
    """A driver whose every call is one action written to ``out``."""

    def __init__(self, net: NetSim, out: IO[str], seed: int | None) -> None:
        super().__init__(net)
        self.out = out
        self._write({"seed": seed})

    def _write(self, record: dict[str, Any]) -> None:
        self.out.write(json.dumps(record, ensure_ascii=False) + "\n")

    def do(self, action: NetAction[_Data]) -> tuple[_Data, list[NetEvent]]:
        self.calls += 1
        try:
            data, events = self.net.do_action(action)
        except Exception as error:
            self._write({"action": action.to_dict(), "error": type(error).__name__})
            raise
        self._write({"action": action.to_dict(), "response": data.to_dict(),
                     "events": [event.to_dict() for event in events]})
        return data, events

    def undo(self, action: NetAction[Any], events: list[NetEvent]) -> None:
        self.calls += 1
        self.net.undo_action(action, events)
        self._write({"undo": action.to_dict(), "events": [event.to_dict() for event in events]})

    def steps(self) -> int:
        made = 0
        while self.do(NetAction.run_step())[0].made_progress:
            made += 1
        return made

    def inject(self, location: PacketLocation, count: int) -> list[str]:
        ids: list[str] = []
        for _ in range(count):
            packet_id = self.do(NetAction.create_packet())[0].packet_id
            self.do(NetAction.transport_packet_to_location(packet_id, location))
            ids.append(packet_id)
        return ids

    def execute(self, epoch_id: str, outcome: Outcome, packets: Sequence[str]) -> dict[str, list[str]]:
        return execute_by_actions(self.net, epoch_id, outcome, packets=packets, do=self.do,
                                  undo=self.undo)[0]

    def cancel(self, epoch_id: str) -> list[str]:
        data, _ = self.do(NetAction.cancel_epoch(epoch_id))
        return data.destroyed_packets

    def do_create(self, action: NetAction[Any]) -> None:
        self.do(action)
