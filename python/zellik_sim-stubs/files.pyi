import os
from dataclasses import dataclass
from typing import Any, Literal, TypeAlias

from zellik_sim import Behaviour, Graph, Injection, RequestAllowance
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

# A file's path: text or a path-like object.
_Path: TypeAlias = str | os.PathLike[str]
# The plain-dict form of a value: str, int, bool, None, lists and dicts only.
_PlainDict: TypeAlias = dict[str, Any]

class FileFormatError(ValueError):
    path: str
    field: str
    reason: str
    def __init__(self, path: str, field: str, reason: str) -> None: ...

def read_graph(path: _Path) -> Graph: ...
def write_graph(graph: Graph, path: _Path) -> None: ...

@dataclass
class Declarations:
    behaviours: list[Behaviour] = ...
    injections: list[Injection] = ...
    requests: list[RequestAllowance] = ...
    properties: list[Property] = ...
    def __post_init__(self) -> None: ...
    def to_dict(self) -> _PlainDict: ...
    @staticmethod
    def from_dict(data: _PlainDict) -> Declarations: ...

def read_declarations(path: _Path) -> Declarations: ...
def write_declarations(declarations: Declarations, path: _Path) -> None: ...
def schema(name: Literal["graph", "declarations"]) -> dict[str, Any]: ...
