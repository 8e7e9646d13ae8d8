import os
from typing import Any, Literal

from zellik_sim import Behaviour, Graph, Injection, RequestAllowance

__all__ = [
    "Declarations",
    "FileFormatError",
    "read_declarations",
    "read_graph",
    "schema",
    "write_declarations",
    "write_graph",
]

_Path = str | os.PathLike[str]

class FileFormatError(ValueError):
    path: str
    field: str
    reason: str
    def __init__(self, path: str, field: str, reason: str) -> None: ...

def read_graph(path: _Path) -> Graph: ...
def write_graph(graph: Graph, path: _Path) -> None: ...

class Declarations:
    behaviours: list[Behaviour]
    injections: list[Injection]
    requests: list[RequestAllowance]
    def __init__(
        self,
        behaviours: list[Behaviour] = ...,
        injections: list[Injection] = ...,
        requests: list[RequestAllowance] = ...,
    ) -> None: ...
    def to_dict(self) -> dict[str, Any]: ...
    @staticmethod
    def from_dict(data: dict[str, Any], path: str = "<dict>") -> Declarations: ...

def read_declarations(path: _Path) -> Declarations: ...
def write_declarations(declarations: Declarations, path: _Path) -> None: ...
def schema(name: Literal["graph", "declarations"]) -> dict[str, Any]: ...
