"""Record a run of a net as JSON Lines and replay it against a fresh net.

The recorder stands between a program and its ``NetSim``: every action (and
every undo) goes through it, and it writes one line per call holding the
action, its response data and its events as plain dicts. The first line
holds the seed the net was made with. ``TerminalState.to_jsonl()`` writes
the run to a terminal state in the same form.

The replay makes a fresh net over the same graph, applies the recorded
actions in order and checks that every response and event matches. With a
seed, ids and timestamps must match exactly. Without one, a fresh net makes
other ids and reads the clock anew: the replay learns which new id stands for
each recorded one as they appear and ignores timestamps.
"""

# A trace is JSON: its values are untyped until they are compared.
# pyright: reportUnknownArgumentType=false, reportUnknownVariableType=false

from __future__ import annotations

import json
from collections.abc import Iterable
from typing import IO, Any, TypeVar, cast

from zellik_sim import Graph, NetAction, NetActionResponseData, NetEvent, NetSim, ZellikError

__all__ = ["Mismatch", "Recorder", "replay"]

# The response data of an action: recording does not change what a call returns.
_Data = TypeVar("_Data", bound=NetActionResponseData)


class Recorder:
    """Drives a net and writes each call with its outcome as one JSON line."""

    def __init__(self, net: NetSim, out: IO[str], seed: int | None) -> None:
        if not isinstance(net, NetSim):
            raise TypeError(f"argument 'net': expected NetSim, got {type(net).__name__}")
        if seed is not None and (not isinstance(seed, int) or isinstance(seed, bool) or not 0 <= seed < 2**64):
            raise TypeError(f"argument 'seed': expected None or an int from 0 to 2**64-1, got {seed!r}")
        self.net = net
        self.out = out
        self._write({"seed": seed})

    def _write(self, record: dict[str, Any]) -> None:
        self.out.write(json.dumps(record, ensure_ascii=False, sort_keys=False) + "\n")

    def do_action(self, action: NetAction[_Data]) -> tuple[_Data, list[NetEvent]]:
        """Does `action` on the net and writes it with its response and events."""
        try:
            data, events = self.net.do_action(action)
        except Exception as error:
            self._write({"action": action.to_dict(), "error": type(error).__name__})
            raise
        self._write({
            "action": action.to_dict(),
            "response": data.to_dict(),
            "events": [event.to_dict() for event in events],
        })
        return data, events

    def undo_action(self, action: NetAction, events: list[NetEvent]) -> None:
        """Undoes `action` on the net and writes the undo with its events."""
        self.net.undo_action(action, events)
        self._write({"undo": action.to_dict(), "events": [event.to_dict() for event in events]})


class Mismatch(Exception):
    """A replayed call did not give what the trace recorded, or a line of
    the trace is not a call."""


class _Ids:
    """Which id of the fresh net stands for each recorded id (unseeded replays)."""

    def __init__(self, exact: bool) -> None:
        self.exact = exact
        self.recorded_to_new: dict[str, str] = {}

    def translate(self, value: Any) -> Any:
        """A recorded action dict with the ids the fresh net knows them by."""
        if isinstance(value, dict):
            fields = cast("dict[str, Any]", value)
            return {key: self.translate(item) for key, item in fields.items()}
        if isinstance(value, list):
            return [self.translate(item) for item in list[Any](value)]
        if isinstance(value, str):
            return self.recorded_to_new.get(value, value)
        return value

    def match(self, recorded: Any, actual: Any, where: str) -> None:
        """Compares two plain values; without exactness learns the id pairing."""
        if isinstance(recorded, dict) and isinstance(actual, dict):
            recorded_fields = cast("dict[str, Any]", recorded)
            actual_fields = cast("dict[str, Any]", actual)
            if list(recorded_fields) != list(actual_fields):
                raise Mismatch(f"{where}: fields {list(recorded_fields)} != {list(actual_fields)}")
            for key in recorded_fields:
                if key == "timestamp" and not self.exact:
                    continue
                self.match(recorded_fields[key], actual_fields[key], f"{where}.{key}")
        elif isinstance(recorded, list) and isinstance(actual, list):
            recorded_items = list[Any](recorded)
            actual_items = list[Any](actual)
            if len(recorded_items) != len(actual_items):
                raise Mismatch(f"{where}: {len(recorded_items)} items recorded, {len(actual_items)} now")
            for i, (r, a) in enumerate(zip(recorded_items, actual_items)):
                self.match(r, a, f"{where}[{i}]")
        elif recorded != actual:
            if self.exact or not (_looks_like_id(recorded) and _looks_like_id(actual)):
                raise Mismatch(f"{where}: recorded {recorded!r}, got {actual!r}")
            known = self.recorded_to_new.setdefault(cast(str, recorded), cast(str, actual))
            if known != actual:
                raise Mismatch(f"{where}: {recorded} was {known} before, now {actual}")


def _looks_like_id(value: Any) -> bool:
    return isinstance(value, str) and len(value) == 26


def _record(line: str, where: str) -> dict[str, Any]:
    try:
        record = json.loads(line)
    except json.JSONDecodeError as error:
        raise Mismatch(f"{where}: not JSON: {error.msg}") from None
    if not isinstance(record, dict):
        raise Mismatch(f"{where}: expected a JSON object")
    return cast("dict[str, Any]", record)


def _field(record: dict[str, Any], key: str, where: str) -> Any:
    if key not in record:
        raise Mismatch(f"{where}: the line has no {key!r}")
    return record[key]


def replay(graph: Graph, lines: Iterable[str]) -> int:
    """Replays a trace against a fresh net over `graph`; the number of calls checked.

    Raises Mismatch at the first response or event that differs, and at a
    line that is not a recorded call.
    """
    numbered = ((number, line) for number, line in enumerate(lines, start=1) if line.strip())
    first = next(numbered, None)
    if first is None:
        raise Mismatch("the trace is empty: its first line holds the seed")
    header = _record(first[1], f"line {first[0]}")
    seed = _field(header, "seed", f"line {first[0]}")
    if seed is not None and (not isinstance(seed, int) or isinstance(seed, bool)):
        raise Mismatch(f"line {first[0]}: the seed must be an int or null, got {seed!r}")
    net = NetSim(graph, seed=seed)
    ids = _Ids(exact=seed is not None)
    calls = 0
    for number, line in numbered:
        where = f"line {number}"
        record = _record(line, where)
        try:
            if "undo" in record:
                action = NetAction.from_dict(ids.translate(record["undo"]))
                events = [NetEvent.from_dict(ids.translate(event)) for event in _field(record, "events", where)]
                try:
                    net.undo_action(action, events)
                except ZellikError as error:
                    raise Mismatch(f"{where}: the undo failed: {type(error).__name__}: {error}") from error
                calls += 1
                continue
            action = NetAction.from_dict(ids.translate(_field(record, "action", where)))
        except (ValueError, TypeError) as error:
            raise Mismatch(f"{where}: {error}") from None
        try:
            data, events = net.do_action(action)
        except Exception as error:
            if record.get("error") != type(error).__name__:
                raise Mismatch(f"{where}: {type(error).__name__} raised, trace has {record!r}") from error
            calls += 1
            continue
        if "error" in record:
            raise Mismatch(f"{where}: succeeded, trace has {record['error']}")
        ids.match(_field(record, "response", where), data.to_dict(), f"{where} response")
        ids.match(_field(record, "events", where), [event.to_dict() for event in events], f"{where} events")
        calls += 1
    return calls
