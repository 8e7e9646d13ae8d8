"""The capacities a graph needs, and the packets it takes."""

from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass
from typing import Any, Literal, TypeAlias

from zellik_sim import Behaviour, Graph, Injection, PortRef, RequestAllowance, TerminalState
from zellik_sim.properties import Property

__all__ = [
    "CapacityCheck",
    "CapacitySearch",
    "InjectionSearch",
    "largest_clean_injection",
    "minimal_capacities",
    "port_text",
    "with_capacities",
]

# What the explorations of one vector settled.
_Verdict: TypeAlias = Literal["clean", "fault", "open"]
# The plain-dict form of a value: str, int, bool, None, lists and dicts only.
_PlainDict: TypeAlias = dict[str, Any]

@dataclass(frozen=True)
class CapacityCheck:
    capacities: tuple[int, ...]
    packets: int | None
    verdict: _Verdict
    explorations: int
    states: int
    transitions: int
    seconds: float
    counts: dict[str, int]
    blocked: tuple[PortRef, ...]
    fault: TerminalState | None
    def to_dict(self) -> _PlainDict: ...

@dataclass(frozen=True)
class CapacitySearch:
    ports: list[PortRef]
    bounds: tuple[int, ...]
    minimal: list[tuple[int, ...]]
    unsettled: list[tuple[int, ...]]
    open: list[tuple[int, ...]]
    skipped: int
    checks: list[CapacityCheck]
    @property
    def settled(self) -> bool: ...
    @property
    def explorations(self) -> int: ...
    @property
    def states(self) -> int: ...
    @property
    def seconds(self) -> float: ...
    def to_dict(self) -> _PlainDict: ...

@dataclass(frozen=True)
class InjectionSearch:
    limit: int
    clean: list[int]
    open: list[int]
    checks: list[CapacityCheck]
    @property
    def largest(self) -> int | None: ...
    @property
    def clean_up_to(self) -> int: ...
    @property
    def explorations(self) -> int: ...
    @property
    def states(self) -> int: ...
    @property
    def seconds(self) -> float: ...
    def to_dict(self) -> _PlainDict: ...

def port_text(port: PortRef) -> str: ...
def with_capacities(graph: Graph, capacities: Mapping[PortRef, int]) -> Graph: ...
def minimal_capacities(
    graph: Graph,
    behaviours: Sequence[Behaviour],
    injections: Sequence[Injection],
    bounds: Mapping[PortRef, int],
    requests: Sequence[RequestAllowance] = (),
    *,
    properties: Sequence[Property] = (),
    livelocks: Literal["any_end", "clean_end"] | None = None,
    walks: int = 20,
    exact: bool = False,
    strict: bool = False,
    max_states: int | None = None,
    max_depth: int | None = None,
    max_packets: int | None = None,
    max_time: float | None = None,
    on_check: Callable[[CapacityCheck], object] | None = None,
) -> CapacitySearch: ...
def largest_clean_injection(
    graph: Graph,
    behaviours: Sequence[Behaviour],
    injections: Sequence[Injection],
    limit: int,
    requests: Sequence[RequestAllowance] = (),
    *,
    properties: Sequence[Property] = (),
    livelocks: Literal["any_end", "clean_end"] | None = None,
    walks: int = 20,
    exact: bool = False,
    strict: bool = False,
    max_states: int | None = None,
    max_depth: int | None = None,
    max_packets: int | None = None,
    max_time: float | None = None,
    on_check: Callable[[CapacityCheck], object] | None = None,
) -> InjectionSearch: ...
