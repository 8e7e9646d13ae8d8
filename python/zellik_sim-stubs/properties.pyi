from collections.abc import Callable
from typing import Literal, TypeAlias

from zellik_sim import Edge, PacketLocation, StateView

__all__ = ["Property"]

_Kind: TypeAlias = Literal["at_location", "at_output_port", "in_net", "live_epochs", "no_orphans", "holds"]

class Property:
    kind: _Kind
    name: str
    limit: int
    location: PacketLocation | None
    node: str | None
    port: str | None
    predicate: Callable[[StateView], bool] | None
    @staticmethod
    def at_most(location: PacketLocation, limit: int, *, name: str | None = None) -> Property: ...
    @staticmethod
    def on_edge_at_most(edge: Edge, limit: int, *, name: str | None = None) -> Property: ...
    @staticmethod
    def input_port_at_most(node: str, port: str, limit: int, *, name: str | None = None) -> Property: ...
    @staticmethod
    def output_port_at_most(node: str, port: str, limit: int, *, name: str | None = None) -> Property: ...
    @staticmethod
    def packets_at_most(limit: int, *, name: str | None = None) -> Property: ...
    @staticmethod
    def live_epochs_at_most(node: str, limit: int, *, name: str | None = None) -> Property: ...
    @staticmethod
    def no_orphans(*, name: str | None = None) -> Property: ...
    @staticmethod
    def holds(name: str, predicate: Callable[[StateView], bool]) -> Property: ...
    def __eq__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
