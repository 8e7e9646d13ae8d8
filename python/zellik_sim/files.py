"""Graphs and declarations as JSON files.

A graph file holds ``Graph.to_dict()``; a declarations file holds what the
explorer runs from: ``{"behaviours": [...], "injections": [...],
"requests": [...], "properties": [...]}``, each item the ``to_dict()`` of
its class, every key optional (a property's predicate is code, so a file
holds the declared kinds only). The JSON Schemas of both ship in ``zellik_sim/schemas``.

Reading refuses a file that is not what it should be with a
``FileFormatError`` naming the file and the field, as a path from the top
of the file (``nodes[2].in_ports.a.capacity``).
"""

from __future__ import annotations

import functools
import json
import os
import re
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field
from importlib import resources
from typing import Any, TypeVar

from zellik_sim import (
    Behaviour, Graph, GraphValidationErrorInfo, Injection, Outcome, PacketLocation, RequestAllowance,
)
from zellik_sim.properties import Property

__all__ = [
    "Declarations",
    "FileFormatError",
    "read_declarations",
    "read_graph",
    "schema",
    "write_declarations",
    "write_graph",
]

_T = TypeVar("_T")
_Path = str | os.PathLike[str]

# The binding names the field it refuses in one of these two ways.
_FIELD_IN_MESSAGE = re.compile(r"^invalid field '(?P<field>[^']*)': (?P<reason>.*)$", re.DOTALL)
_ARGUMENT_IN_MESSAGE = re.compile(r"^(?:\w+: )?argument '(?P<field>[^']*)': (?P<reason>.*)$", re.DOTALL)


class FileFormatError(ValueError):
    """A file that does not hold what it should: ``path``, the JSON path of
    the ``field`` at fault (empty for the file as a whole) and the ``reason``."""

    def __init__(self, path: str, field: str, reason: str) -> None:
        self.path = path
        self.field = field
        self.reason = reason
        where = f"{path}: {field}" if field else path
        super().__init__(f"{where}: {reason}")


def _join(prefix: str, inner: str) -> str:
    if not inner:
        return prefix
    if not prefix:
        return inner
    return prefix + inner if inner.startswith("[") else f"{prefix}.{inner}"


def _refusal(path: str, prefix: str, error: Exception) -> FileFormatError:
    """The binding's refusal of the value at `prefix`, as the file's."""
    message = str(error)
    for pattern in (_FIELD_IN_MESSAGE, _ARGUMENT_IN_MESSAGE):
        match = pattern.match(message)
        if match:
            return FileFormatError(path, _join(prefix, match["field"]), match["reason"])
    return FileFormatError(path, prefix, message)


def _read_json(path: _Path) -> Any:
    name = os.fspath(path)
    with open(name, encoding="utf-8") as file:
        text = file.read()
    try:
        return json.loads(text)
    except json.JSONDecodeError as error:
        raise FileFormatError(name, "", f"not JSON: {error.msg} at line {error.lineno}, "
                                        f"column {error.colno}") from None


def _write_json(data: Any, path: _Path) -> None:
    with open(os.fspath(path), "w", encoding="utf-8") as file:
        json.dump(data, file, indent=2, ensure_ascii=False)
        file.write("\n")


# ---------------------------------------------------------------------------
# Graphs


def read_graph(path: _Path) -> Graph:
    """The graph a JSON file written by ``write_graph`` (or by hand) describes.

    Raises ``FileFormatError`` for a file that is not JSON, not a graph or a
    graph that ``Graph.validate()`` finds wrong, naming the field; ``OSError`` when the file cannot be read.
    """
    name = os.fspath(path)
    data = _read_json(name)
    if not isinstance(data, dict):
        raise FileFormatError(name, "", f"expected a JSON object, got {type(data).__name__}")
    try:
        graph = Graph.from_dict(data)
    except (ValueError, TypeError) as error:
        raise _refusal(name, "", error) from None
    # A graph the engine would refuse is a bad file too: say so here, where
    # the field can still be named, not when a net is made of it.
    errors = graph.validate()
    if errors:
        more = f" (and {len(errors) - 1} more: Graph.validate() lists them)" if len(errors) > 1 else ""
        raise FileFormatError(name, _invalid_at(graph, errors[0]), errors[0].message + more)
    return graph


def _invalid_at(graph: Graph, error: GraphValidationErrorInfo) -> str:
    """The path of the item a validation error is about, as far as its details tell."""
    details = error.details
    if "edge_source" in details:
        ends = (details["edge_source"], details["edge_target"])
        for key, edges in (("edges", graph.edges()), ("dependency_edges", graph.dependency_edges())):
            for i, edge in enumerate(edges):
                if (edge.source, edge.target) == ends:
                    return f"{key}[{i}]"
    if "edge" in details:
        for i, edge in enumerate(graph.dependency_edges()):
            if edge == details["edge"]:
                return f"dependency_edges[{i}]"
    node = details.get("node_name")
    if node is None and "output_port" in details:
        node = details["output_port"].node_name
    names = list(graph.nodes())
    if node in names:
        at = f"nodes[{names.index(node)}]"
        if "condition_name" in details:
            side = "in_salvo_conditions" if details.get("is_input_condition") else "out_salvo_conditions"
            return f"{at}.{side}.{details['condition_name']}"
        return at
    return ""


def write_graph(graph: Graph, path: _Path) -> None:
    """Writes ``graph.to_dict()`` to `path` as indented JSON."""
    if not isinstance(graph, Graph):
        raise TypeError(f"argument 'graph': expected Graph, got {type(graph).__name__}")
    _write_json(graph.to_dict(), path)


# ---------------------------------------------------------------------------
# Declarations


@dataclass
class Declarations:
    """What the explorer runs from, as a declarations file holds it."""

    behaviours: list[Behaviour] = field(default_factory=list)
    injections: list[Injection] = field(default_factory=list)
    requests: list[RequestAllowance] = field(default_factory=list)
    properties: list[Property] = field(default_factory=list)

    def __post_init__(self) -> None:
        for name, cls in (("behaviours", Behaviour), ("injections", Injection), ("requests", RequestAllowance),
                          ("properties", Property)):
            items: object = getattr(self, name)
            if not isinstance(items, list) or not all(isinstance(item, cls) for item in items):
                raise TypeError(f"argument '{name}': expected a list of {cls.__name__}, got {items!r}")

    def to_dict(self) -> dict[str, Any]:
        """The declarations as plain dicts that json writes."""
        return {
            "behaviours": [b.to_dict() for b in self.behaviours],
            "injections": [i.to_dict() for i in self.injections],
            "requests": [r.to_dict() for r in self.requests],
            "properties": [p.to_dict() for p in self.properties],
        }

    @staticmethod
    def from_dict(data: dict[str, Any]) -> Declarations:
        """The declarations a dict made by to_dict describes. Raises ValueError
        "invalid field '{path}': {reason}" naming the first field at fault."""
        if not isinstance(data, dict):
            raise TypeError(f"argument 'data': expected dict, got {type(data).__name__}")
        try:
            return _declarations_at(data, "")
        except FileFormatError as error:
            raise ValueError(f"invalid field '{error.field}': {error.reason}") from None


def _fields(value: Any, path: str, at: str, required: Sequence[str], optional: Sequence[str] = ()) -> dict[str, Any]:
    """`value` as a dict with the required keys and no others but `optional`."""
    if not isinstance(value, dict):
        raise FileFormatError(path, at, f"expected an object, got {type(value).__name__}")
    fields: dict[str, Any] = value
    for key in fields:
        if key not in required and key not in optional:
            raise FileFormatError(path, _join(at, str(key)), "unexpected field")
    for key in required:
        if key not in fields:
            raise FileFormatError(path, _join(at, key), "missing")
    return fields


def _list_at(value: Any, path: str, at: str) -> list[Any]:
    if not isinstance(value, list):
        raise FileFormatError(path, at, f"expected a list, got {type(value).__name__}")
    return list[Any](value)


def _text_at(value: Any, path: str, at: str) -> str:
    if not isinstance(value, str):
        raise FileFormatError(path, at, f"expected str, got {type(value).__name__}")
    return value


def _count_at(value: Any, path: str, at: str) -> int:
    if not isinstance(value, int) or isinstance(value, bool):
        raise FileFormatError(path, at, f"expected int, got {type(value).__name__}")
    if not 0 <= value < 2**64:
        raise FileFormatError(path, at, f"expected an int from 0 to 2**64-1, got {value}")
    return value


def _made(path: str, at: str, make: Callable[[], _T]) -> _T:
    try:
        return make()
    except (ValueError, TypeError) as error:
        raise _refusal(path, at, error) from None


def _behaviour_at(value: Any, path: str, at: str) -> Behaviour:
    fields = _fields(value, path, at, ("node", "outcomes"))
    node = _text_at(fields["node"], path, _join(at, "node"))
    outcomes_at = _join(at, "outcomes")
    outcomes: list[Outcome] = []
    for i, item in enumerate(_list_at(fields["outcomes"], path, outcomes_at)):
        item_at = f"{outcomes_at}[{i}]"
        _fields(item, path, item_at, (), ("pass_to", "creates", "sends"))
        outcomes.append(_made(path, item_at, functools.partial(Outcome.from_dict, item)))
    return _made(path, at, lambda: Behaviour(node, outcomes))


def _injection_at(value: Any, path: str, at: str) -> Injection:
    fields = _fields(value, path, at, ("location", "count"))
    location_at = _join(at, "location")
    location = _made(path, location_at, lambda: PacketLocation.from_dict(fields["location"]))
    count = _count_at(fields["count"], path, _join(at, "count"))
    return _made(path, at, lambda: Injection(location, count))


def _request_at(value: Any, path: str, at: str) -> RequestAllowance:
    fields = _fields(value, path, at, ("node", "label", "count"))
    node = _text_at(fields["node"], path, _join(at, "node"))
    label = _text_at(fields["label"], path, _join(at, "label"))
    count = _count_at(fields["count"], path, _join(at, "count"))
    return _made(path, at, lambda: RequestAllowance(node, label, count))


def _property_at(value: Any, path: str, at: str) -> Property:
    if not isinstance(value, dict):
        raise FileFormatError(path, at, f"expected an object, got {type(value).__name__}")
    return _made(path, at, functools.partial(Property.from_dict, value))


def _declarations_at(data: Any, path: str) -> Declarations:
    fields = _fields(data, path, "", (), ("behaviours", "injections", "requests", "properties"))
    readers: dict[str, Callable[[Any, str, str], Any]] = {
        "behaviours": _behaviour_at,
        "injections": _injection_at,
        "requests": _request_at,
        "properties": _property_at,
    }
    read: dict[str, list[Any]] = {}
    for key, reader in readers.items():
        items = _list_at(fields.get(key, []), path, key)
        read[key] = [reader(item, path, f"{key}[{i}]") for i, item in enumerate(items)]
    return Declarations(read["behaviours"], read["injections"], read["requests"], read["properties"])


def read_declarations(path: _Path) -> Declarations:
    """The declarations a JSON file written by ``write_declarations`` (or by
    hand) describes. Raises ``FileFormatError`` naming the field at fault."""
    name = os.fspath(path)
    return _declarations_at(_read_json(name), name)


def write_declarations(declarations: Declarations, path: _Path) -> None:
    """Writes ``declarations.to_dict()`` to `path` as indented JSON."""
    if not isinstance(declarations, Declarations):
        raise TypeError(f"argument 'declarations': expected Declarations, got {type(declarations).__name__}")
    _write_json(declarations.to_dict(), path)


def schema(name: str) -> dict[str, Any]:
    """The JSON Schema shipped for a file kind: ``"graph"`` or ``"declarations"``."""
    if name not in ("graph", "declarations"):
        raise ValueError(f"argument 'name': expected 'graph' or 'declarations', got {name!r}")
    text = resources.files("zellik_sim").joinpath("schemas", f"{name}.schema.json").read_text(encoding="utf-8")
    loaded: dict[str, Any] = json.loads(text)
    return loaded
