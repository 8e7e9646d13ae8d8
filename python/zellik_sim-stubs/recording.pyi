from collections.abc import Iterable
from typing import IO, TypeVar

from zellik_sim import Graph, NetAction, NetActionResponseData, NetEvent, NetSim

__all__ = ["Mismatch", "Recorder", "replay"]

_Data = TypeVar("_Data", bound=NetActionResponseData)

class Recorder:
    net: NetSim
    out: IO[str]
    def __init__(self, net: NetSim, out: IO[str], seed: int | None) -> None: ...
    def do_action(self, action: NetAction[_Data]) -> tuple[_Data, list[NetEvent]]: ...
    def undo_action(self, action: NetAction, events: list[NetEvent]) -> None: ...

class Mismatch(Exception): ...

def replay(graph: Graph, lines: Iterable[str]) -> int: ...
