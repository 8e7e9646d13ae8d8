"""Run a graph with a Python handler per node: inline, on threads, in worker
processes, as ``async def`` handlers on an event loop, or on a Dask cluster."""

import multiprocessing.context
import os
from collections.abc import Awaitable, Callable, Iterable, Mapping, Sequence
from dataclasses import dataclass
from typing import IO, Any, Literal, NamedTuple, TypeAlias, TypeVar

from zellik_sim import Edge, ExplorationResult, Graph, NetEvent, NetSim, Outcome, PortRef, TerminalState

__all__ = [
    "AsyncIO", "Backend", "Dask", "Emit", "HandlerFailed", "HandlerFailure", "Inline", "Processes",
    "Retry", "RunResult", "RunStats", "Runtime", "Threads", "declare_outcomes", "execute_by_actions",
]

_F = TypeVar("_F", bound=Callable[..., Any])
# The epoch's input payloads by input port, every input port present.
_Inputs: TypeAlias = dict[str, list[Any]]
# What a handler returns: an Emit, payload lists by output port, or None.
_Emitted: TypeAlias = Emit | Mapping[str, Sequence[Any]] | None
_Handler: TypeAlias = Callable[[_Inputs], _Emitted] | Callable[[_Inputs], Awaitable[_Emitted]]
# Where inputs go in: "node.in.port" (or a node with one input port), a PortRef or an Edge.
_InputKey: TypeAlias = str | PortRef | Edge
_OnError: TypeAlias = Literal["stop", "continue"] | Retry

@dataclass(frozen=True)
class Emit:
    outputs: Mapping[str, Sequence[Any]] = ...
    sends: Sequence[str] | None = None
    pass_to: str | None = None
    def __post_init__(self) -> None: ...

@dataclass(frozen=True)
class Retry:
    times: int
    then: Literal["stop", "continue"] = "stop"
    def __post_init__(self) -> None: ...

@dataclass(frozen=True)
class HandlerFailure:
    node: str
    epoch_id: str
    inputs: dict[str, list[Any]]
    error: BaseException
    traceback: str
    attempts: int
    destroyed: list[str]

@dataclass
class RunStats:
    steps: int = 0
    rounds: int = 0
    epochs: dict[str, int] = ...
    failed: dict[str, int] = ...
    handler_seconds: dict[str, float] = ...
    high_water: dict[str, int] = ...
    net_calls: int = 0
    seconds: float = 0.0
    @property
    def total_epochs(self) -> int: ...

@dataclass
class RunResult:
    outputs: dict[str, list[Any]]
    leftover: dict[str, list[Any]]
    stats: RunStats
    failures: list[HandlerFailure]
    stuck: TerminalState | None
    @property
    def ok(self) -> bool: ...

class HandlerFailed(Exception):
    failure: HandlerFailure
    result: RunResult
    def __init__(self, failure: HandlerFailure, result: RunResult) -> None: ...

def declare_outcomes(*outcomes: Outcome) -> Callable[[_F], _F]: ...
def execute_by_actions(
    net: NetSim,
    epoch_id: str,
    outcome: Outcome,
    *,
    packets: Sequence[str] | None = None,
    do: Callable[[Any], tuple[Any, list[NetEvent]]] | None = None,
    undo: Callable[[Any, list[NetEvent]], None] | None = None,
) -> tuple[dict[str, list[str]], list[NetEvent]]: ...

class _Task(NamedTuple):
    node: str
    inputs: dict[str, list[Any]]
    retries: int

class _Done(NamedTuple):
    value: Any
    error: BaseException | None
    traceback: str
    seconds: float
    attempts: int

class Backend:
    runs_coroutines: bool
    pickles_handlers: bool
    def run(self, handlers: Mapping[str, Callable[..., Any]], tasks: Sequence[_Task]) -> list[_Done]: ...
    def close(self) -> None: ...
    def __enter__(self) -> Backend: ...
    def __exit__(self, *exc: object) -> None: ...

class Inline(Backend): ...

class Threads(Backend):
    workers: int | None
    def __init__(self, workers: int | None = None) -> None: ...

class Processes(Backend):
    workers: int
    chunks_per_worker: int
    mp_context: multiprocessing.context.BaseContext | None
    def __init__(
        self,
        workers: int | None = None,
        *,
        chunks_per_worker: int = 4,
        mp_context: multiprocessing.context.BaseContext | None = None,
    ) -> None: ...

class AsyncIO(Backend):
    limit: int | None
    def __init__(self, limit: int | None = None) -> None: ...

class Dask(Backend):
    client: Any
    chunks_per_thread: int
    def __init__(self, client: Any, *, chunks_per_thread: int = 2) -> None: ...

class Runtime:
    graph: Graph
    handlers: dict[str, Callable[..., Any]]
    backend: Backend
    on_error: _OnError
    seed: int | None
    flush: list[str]
    def __init__(
        self,
        graph: Graph,
        handlers: Mapping[str, _Handler],
        *,
        backend: Backend | None = None,
        on_error: _OnError = "stop",
        seed: int | None = None,
        flush: Sequence[str] = (),
    ) -> None: ...
    def run(
        self,
        inputs: Mapping[_InputKey, Iterable[Any]],
        *,
        record: str | os.PathLike[str] | IO[str] | None = None,
        progress: bool = False,
    ) -> RunResult: ...
    def check(
        self, inputs: Mapping[_InputKey, int] | None = None, *, packets: int = 1, **limits: Any
    ) -> ExplorationResult: ...
    def close(self) -> None: ...
    def __enter__(self) -> Runtime: ...
    def __exit__(self, *exc: object) -> None: ...
