"""Properties that NetSim.explore checks at every state it visits.

A property is a claim about every reachable state. The explorer checks it
at each state it visits, that is between the executor's choices: a state
inside one choice is never seen, so a port that fills and fires within one
run step never shows its peak there. A state where a property does not hold
is a terminal state of its own kind, 'violated', named after the property,
with a run to it (breadth-first: a shortest run); the explorer does not
follow it further.

The declared kinds are evaluated in the engine and cost a lookup or two per
visited state. A predicate (Property.holds) is Python called on every
visited state with a read-only StateView: the exploration then keeps the
interpreter lock and runs at the speed of the predicate, typically a few
microseconds per call on top of the state's own cost. For example::

    from zellik_sim.properties import Property

    result = net.explore(declarations, properties=[
        Property.at_most(PacketLocation.input_port("B", "in"), 2),
        Property.live_epochs_at_most("B", 1),
        Property.no_orphans(),
    ])
    for t in result.terminals:
        if t.kind == "violated":
            print(t.property_name, t.depth, t.run)
"""

from __future__ import annotations

from collections.abc import Callable
from typing import TYPE_CHECKING, Any, Literal

from zellik_sim import Edge, PacketLocation, StateView

if TYPE_CHECKING:
    from typing import TypeAlias

    _Kind: TypeAlias = Literal["at_location", "at_output_port", "in_net", "live_epochs", "no_orphans", "holds"]

__all__ = ["Property"]
_MOST = 2**64 - 1


def _limit(value: object) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"argument 'limit': expected int, got {type(value).__name__}")
    if not 0 <= value <= _MOST:
        raise ValueError(f"argument 'limit': expected an int from 0 to 2**64-1, got {value}")
    return value


def _text(value: object, arg: str) -> str:
    if not isinstance(value, str):
        raise TypeError(f"argument '{arg}': expected str, got {type(value).__name__}")
    return value


def _name(value: object, made: str) -> str:
    return made if value is None else _text(value, "name")


class Property:
    """One property, made by one of the static methods below; `name` is what
    a violated terminal state reports (each method makes one that says what
    it checks when none is given). Compares by value."""

    __slots__ = ("kind", "name", "limit", "location", "node", "port", "predicate")

    kind: _Kind
    name: str
    limit: int
    location: PacketLocation | None
    node: str | None
    port: str | None
    predicate: Callable[[StateView], bool] | None

    @staticmethod
    def _made(
        kind: _Kind,
        name: str,
        limit: int = 0,
        *,
        location: PacketLocation | None = None,
        node: str | None = None,
        port: str | None = None,
        predicate: Callable[[StateView], bool] | None = None,
    ) -> Property:
        p = object.__new__(Property)
        p.kind, p.name, p.limit = kind, name, limit
        p.location, p.node, p.port, p.predicate = location, node, port, predicate
        return p

    @staticmethod
    def at_most(location: PacketLocation, limit: int, *, name: str | None = None) -> Property:
        """At most `limit` packets at `location`: an edge, an input port or
        outside the net (PacketLocation.outside_net())."""
        if not isinstance(location, PacketLocation):
            raise TypeError(f"argument 'location': expected PacketLocation, got {type(location).__name__}")
        n = _limit(limit)
        return Property._made("at_location", _name(name, f"at most {n} at {location!r}"), n, location=location)

    @staticmethod
    def on_edge_at_most(edge: Edge, limit: int, *, name: str | None = None) -> Property:
        """At most `limit` packets on `edge`."""
        if not isinstance(edge, Edge):
            raise TypeError(f"argument 'edge': expected Edge, got {type(edge).__name__}")
        n = _limit(limit)
        made = f"at most {n} on {edge!r}"
        return Property._made("at_location", _name(name, made), n, location=PacketLocation.edge(edge))

    @staticmethod
    def input_port_at_most(node: str, port: str, limit: int, *, name: str | None = None) -> Property:
        """At most `limit` packets waiting at input port `port` of `node`."""
        location = PacketLocation.input_port(_text(node, "node"), _text(port, "port"))
        n = _limit(limit)
        return Property._made("at_location", _name(name, f"at most {n} at {node}.{port}"), n, location=location)

    @staticmethod
    def output_port_at_most(node: str, port: str, limit: int, *, name: str | None = None) -> Property:
        """At most `limit` packets in output port `port` of the live epochs
        of `node`, all of them together."""
        node, port, n = _text(node, "node"), _text(port, "port"), _limit(limit)
        return Property._made("at_output_port", _name(name, f"at most {n} at {node}.{port} (out)"), n, node=node, port=port)

    @staticmethod
    def packets_at_most(limit: int, *, name: str | None = None) -> Property:
        """At most `limit` packets in the net (those sent out of it are not)."""
        n = _limit(limit)
        return Property._made("in_net", _name(name, f"at most {n} packets in the net"), n)

    @staticmethod
    def live_epochs_at_most(node: str, limit: int, *, name: str | None = None) -> Property:
        """At most `limit` live epochs of `node` at once."""
        node, n = _text(node, "node"), _limit(limit)
        return Property._made("live_epochs", _name(name, f"at most {n} live epochs of {node}"), n, node=node)

    @staticmethod
    def no_orphans(*, name: str | None = None) -> Property:
        """No packet is sent through an output port without an edge: no more
        packets outside the net than at the start."""
        return Property._made("no_orphans", _name(name, "no packet orphaned"))

    @staticmethod
    def holds(name: str, predicate: Callable[[StateView], bool]) -> Property:
        """`predicate` returns True, called with a read-only StateView of each
        visited state (good only during the call; a result other than a bool
        is a TypeError). The slow path: see the module's note on its cost."""
        if not callable(predicate):
            raise TypeError(f"argument 'predicate': expected a callable, got {type(predicate).__name__}")
        return Property._made("holds", _text(name, "name"), predicate=predicate)

    def to_dict(self) -> dict[str, Any]:
        """The property as a plain dict that json writes (a declarations
        file's "properties"): its kind, name and what the kind needs. A
        predicate is code, so ``holds`` has no plain form: ValueError."""
        if self.kind == "holds":
            raise ValueError(f"property {self.name!r} is a predicate (holds), which has no plain form")
        data: dict[str, Any] = {"kind": self.kind, "name": self.name}
        for key in _FIELDS[self.kind]:
            value = getattr(self, key)
            data[key] = value.to_dict() if isinstance(value, PacketLocation) else value
        return data

    @staticmethod
    def from_dict(data: dict[str, Any]) -> Property:
        """The property a dict made by to_dict describes; "name" may be left
        out for the name the kind makes. Raises ValueError "invalid field
        '{field}': {reason}" naming the field at fault."""
        if not isinstance(data, dict):
            raise TypeError(f"argument 'data': expected dict, got {type(data).__name__}")
        for key in data:
            if not isinstance(key, str):
                raise TypeError(f"argument 'data': expected a dict with str keys, got the key {key!r}")
        kind = data.get("kind")
        if kind not in _FIELDS:
            raise ValueError(f"invalid field 'kind': expected one of {', '.join(map(repr, _FIELDS))}, got {kind!r}")
        needed = _FIELDS[kind]
        for key in data:
            if key not in ("kind", "name", *needed):
                raise ValueError(f"invalid field '{key}': unexpected field for a property of kind {kind!r}")
        for key in needed:
            if key not in data:
                raise ValueError(f"invalid field '{key}': missing")
        args: dict[str, Any] = {}
        for key in needed:
            try:
                args[key] = PacketLocation.from_dict(data[key]) if key == "location" else data[key]
            except (ValueError, TypeError) as error:
                raise ValueError(f"invalid field '{key}': {error}") from None
        try:
            return _MAKERS[kind](args, data.get("name"))
        except (ValueError, TypeError) as error:
            message = str(error)
            if message.startswith("argument '"):
                message = "invalid field '" + message[len("argument '"):]
            raise ValueError(message) from None

    def _key(self) -> tuple[object, ...]:
        # A PacketLocation compares by identity: its plain form says where it is.
        where = None if self.location is None else self.location.to_dict()
        return (self.kind, self.name, self.limit, where, self.node, self.port, self.predicate)

    def __eq__(self, other: object) -> bool:
        return isinstance(other, Property) and self._key() == other._key()

    def __hash__(self) -> int:
        return hash((self.kind, self.name, self.limit, self.node, self.port))

    def __repr__(self) -> str:
        return f"Property({self.kind!r}, {self.name!r})"


# What each declared kind keeps besides its name, in its plain form's order;
# a predicate ("holds") has no plain form.
_FIELDS: dict[str, tuple[str, ...]] = {
    "at_location": ("location", "limit"),
    "at_output_port": ("node", "port", "limit"),
    "in_net": ("limit",),
    "live_epochs": ("node", "limit"),
    "no_orphans": (),
}
_MAKERS: dict[str, Callable[[dict[str, Any], Any], Property]] = {
    "at_location": lambda a, name: Property.at_most(a["location"], a["limit"], name=name),
    "at_output_port": lambda a, name: Property.output_port_at_most(a["node"], a["port"], a["limit"], name=name),
    "in_net": lambda a, name: Property.packets_at_most(a["limit"], name=name),
    "live_epochs": lambda a, name: Property.live_epochs_at_most(a["node"], a["limit"], name=name),
    "no_orphans": lambda a, name: Property.no_orphans(name=name),
}
