"""The runtime's calls on its net: run steps, list the epochs, inject packets,
execute an epoch with an outcome in one go, cancel one. A recording driver
makes every call a separate action and writes each as one JSON line of the
recording format (the seed first, then the action with its response data
and events, an error's class, or an undo), which a fresh net replays."""

from __future__ import annotations

import json
from collections.abc import Callable, Sequence
from typing import IO, TYPE_CHECKING, Any, Protocol, TypeVar

from zellik_sim import (
    EpochState,
    NetAction,
    NetActionResponseData,
    NetEvent,
    NetSim,
    Outcome,
    PacketLocation,
    Salvo,
)

if TYPE_CHECKING:
    from ulid import ULID

# The input salvo condition an epoch made by flushing a node names.
FLUSH = "__flush__"

_Data = TypeVar("_Data", bound=NetActionResponseData)
# Performs one action on the net and gives its response data and events.
_Do = Callable[[NetAction[Any]], tuple[Any, list[NetEvent]]]


class _Execute(Protocol):
    """NetSim.execute's shape."""

    def __call__(self, epoch_id: str, outcome: Outcome, *,
                 events: bool = True) -> tuple[dict[str, list[str]], list[NetEvent]]: ...


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


# A startable epoch as a round lists it: its id, its node's name and its
# input salvo's (port, packet id) pairs.
Startable = tuple[str, str, list[tuple[str, str]]]


class Driver:
    """The net's calls, counted: one per round of steps, one per injection,
    one per epoch executed (``execute``, which the run calls directly and
    counts in ``executed``), none builds an event object."""

    #: Whether an epoch executed through ``execute`` is one call on the net.
    one_call_executes = True

    def __init__(self, net: NetSim) -> None:
        self.net = net
        self.calls = 0
        #: Executes an epoch with an outcome, all or nothing, as
        #: ``NetSim.execute`` does (the run calls it directly).
        self.execute: _Execute = net.execute

    def round(self) -> tuple[int, list[Startable]]:
        """Steps the net until it is blocked: the steps run and the
        startable epochs."""
        self.calls += 1
        steps, startable, _ = self.net.run_round(events=False)
        return steps, startable

    def counts(self, locations: Sequence[PacketLocation]) -> list[int]:
        self.calls += 1
        return self.net.packet_counts(locations)

    def inject(self, location: PacketLocation, count: int) -> list[str]:
        self.calls += 1
        return self.net.inject(location, count, events=False)[0]

    def cancel(self, epoch_id: str) -> list[str]:
        self.calls += 1
        data, _ = self.net.do_action(NetAction.cancel_epoch(epoch_id))
        return data.destroyed_packets

    def flush(self, node: str, ports: Sequence[str]) -> None:
        """Makes one epoch of `node` from every packet waiting in its input
        ports, in port order and each port's arrival order."""
        packets: list[tuple[str, str | ULID]] = []
        for port in ports:
            self.calls += 1
            location = PacketLocation.input_port(node, port)
            # A Salvo reads a ULID's bytes: no text is made for it.
            packets += [(port, i) for i in self.net.get_packets_at_location(location)]
        self.do_create(NetAction.create_epoch(node, Salvo(FLUSH, packets)))

    def do_create(self, action: NetAction[Any]) -> None:
        self.calls += 1
        self.net.do_action(action)


class RecordingDriver(Driver):
    """A driver whose every call is one action written to ``out``."""

    one_call_executes = False

    def __init__(self, net: NetSim, out: IO[str], seed: int | None) -> None:
        super().__init__(net)
        self.execute = self._execute
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

    def round(self) -> tuple[int, list[Startable]]:
        made = 0
        while self.do(NetAction.run_step())[0].made_progress:
            made += 1
        self.calls += 1
        startable = [epoch for epoch in self.net.epochs() if epoch.state == EpochState.Startable]
        return made, [(epoch.id, epoch.node_name, epoch.in_salvo.packets) for epoch in startable]

    def counts(self, locations: Sequence[PacketLocation]) -> list[int]:
        self.calls += len(locations)
        return [self.net.packet_count_at(location) for location in locations]

    def inject(self, location: PacketLocation, count: int) -> list[str]:
        ids: list[str] = []
        for _ in range(count):
            packet_id = self.do(NetAction.create_packet())[0].packet_id
            self.do(NetAction.transport_packet_to_location(packet_id, location))
            ids.append(packet_id)
        return ids

    def _execute(self, epoch_id: str, outcome: Outcome, *,
                 events: bool = True) -> tuple[dict[str, list[str]], list[NetEvent]]:
        packets = [packet_id for _, packet_id in self.net.get_epoch(epoch_id).in_salvo.packets]  # type: ignore[union-attr]
        return execute_by_actions(self.net, epoch_id, outcome, packets=packets, do=self.do, undo=self.undo)

    def cancel(self, epoch_id: str) -> list[str]:
        data, _ = self.do(NetAction.cancel_epoch(epoch_id))
        return data.destroyed_packets

    def do_create(self, action: NetAction[Any]) -> None:
        self.do(action)
