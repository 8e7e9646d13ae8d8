"""The values a run takes and gives: what a handler emits, the error policy,
a kept handler failure, the statistics and the result."""

from __future__ import annotations

import dataclasses
from collections.abc import Callable, Mapping, Sequence
from typing import Any, Literal, TypeVar

from zellik_sim import Outcome, TerminalState

_F = TypeVar("_F", bound=Callable[..., Any])


def check_count(where: str, name: str, value: object, minimum: int, *, none: bool = False) -> None:
    """Refuses, naming the parameter, what is not an int from ``minimum``
    below 2**64 (or None when ``none``)."""
    if value is None and none:
        return
    if not isinstance(value, int) or isinstance(value, bool):
        raise TypeError(f"{where}: {name} must be an int{' or None' if none else ''}, not {type(value).__name__}")
    if not minimum <= value < 2**64:
        raise ValueError(f"{where}: {name} must be at least {minimum} and below 2**64, not {value}")


def _check_names(where: str, name: str, value: object) -> None:
    """Refuses, naming the parameter, what is not a sequence of strings."""
    if isinstance(value, str) or not isinstance(value, Sequence):
        raise TypeError(f"{where}: {name} must be a sequence of names, not {type(value).__name__}")
    for item in value:
        if not isinstance(item, str):
            raise TypeError(f"{where}: {name} holds {type(item).__name__}, not a name")


@dataclasses.dataclass(frozen=True)
class Emit:
    """What one epoch emits.

    ``outputs`` holds the new payloads per output port, each a list (one
    packet per payload, in order). ``sends`` names the output salvo
    conditions to send, in order; None sends, for each port given payloads
    (in the order of ``outputs``), the node's first output salvo condition
    that covers it, unless one already chosen does. ``pass_to`` loads the
    epoch's input packets, payloads unchanged, into that output port instead
    of consuming them.

    A handler may also return a plain dict (the ``outputs`` of an Emit with
    the default sends) or None (emits nothing: its inputs are consumed).
    """

    outputs: Mapping[str, Sequence[Any]] = dataclasses.field(default_factory=dict)
    sends: Sequence[str] | None = None
    pass_to: str | None = None

    def __post_init__(self) -> None:
        if not isinstance(self.outputs, Mapping):
            raise TypeError(f"Emit: outputs must be a mapping of payload lists by port, "
                            f"not {type(self.outputs).__name__}")
        for port, payloads in self.outputs.items():
            if not isinstance(port, str):
                raise TypeError(f"Emit: outputs is keyed by port name, not by {type(port).__name__}")
            if isinstance(payloads, str) or not isinstance(payloads, Sequence):
                raise TypeError(f"Emit: outputs['{port}'] must be a list of payloads, "
                                f"not {type(payloads).__name__}")
        if self.sends is not None:
            _check_names("Emit", "sends", self.sends)
        if self.pass_to is not None and not isinstance(self.pass_to, str):
            raise TypeError(f"Emit: pass_to must be a port name or None, not {type(self.pass_to).__name__}")


@dataclasses.dataclass(frozen=True)
class Retry:
    """Error policy: call a handler that raised again, up to ``times`` more
    times with the same inputs; if it still raises, ``then`` decides."""

    times: int
    then: Literal["stop", "continue"] = "stop"

    def __post_init__(self) -> None:
        check_count("Retry", "times", self.times, 0)
        if self.then not in ("stop", "continue"):
            raise ValueError(f"Retry: then must be 'stop' or 'continue', not {self.then!r}")


OnError = Literal["stop", "continue"] | Retry


@dataclasses.dataclass(frozen=True)
class HandlerFailure:
    """An epoch whose handler raised (or emitted what its node cannot send):
    the epoch was cancelled and its packets destroyed.

    ``error`` is the exception (from a worker process or a Dask worker, as
    it came back; one that does not pickle comes back as a RuntimeError
    naming it), ``traceback`` its text, ``attempts`` the calls made and
    ``destroyed`` the ids of the packets the cancel destroyed.
    """

    node: str
    epoch_id: str
    inputs: dict[str, list[Any]]
    error: BaseException
    traceback: str
    attempts: int
    destroyed: list[str]


@dataclasses.dataclass
class RunStats:
    """What a run did.

    ``steps`` counts the run steps that made progress, ``rounds`` the rounds
    (steps until blocked, then every startable epoch through its handler).
    ``epochs`` and ``handler_seconds`` are per node (failed epochs
    included), ``failed`` the failed epochs per node. ``high_water`` is the
    most packets seen on each edge and in each input port, by its text
    (looked at between rounds: before and after each round's steps).
    ``net_calls`` counts the calls made on the net and ``seconds`` the
    run's wall-clock time.
    """

    steps: int = 0
    rounds: int = 0
    epochs: dict[str, int] = dataclasses.field(default_factory=dict)
    failed: dict[str, int] = dataclasses.field(default_factory=dict)
    handler_seconds: dict[str, float] = dataclasses.field(default_factory=dict)
    high_water: dict[str, int] = dataclasses.field(default_factory=dict)
    net_calls: int = 0
    seconds: float = 0.0

    @property
    def total_epochs(self) -> int:
        return sum(self.epochs.values())


@dataclasses.dataclass
class RunResult:
    """What left the net and what stayed.

    ``outputs`` holds the payloads sent out of output ports that no edge
    leaves, by port text ("node.out.port"), in the order the run sent
    them. ``leftover`` holds the payloads still in the net when the run
    ended blocked (on edges and in input ports, by their text) and those
    never injected (by the text they were to be injected at). ``stuck`` is
    the explorer's report of the blocked end state when packets were left,
    else None. ``failures`` lists the cancelled epochs.
    """

    outputs: dict[str, list[Any]]
    leftover: dict[str, list[Any]]
    stats: RunStats
    failures: list[HandlerFailure]
    stuck: TerminalState | None

    @property
    def ok(self) -> bool:
        """True when no handler failed and nothing was left in the net."""
        return not self.failures and not self.leftover


class HandlerFailed(Exception):
    """A handler raised and the error policy said stop. ``failure`` is the
    failure, ``result`` the run up to the end of that round (the other
    epochs of the round were executed)."""

    def __init__(self, failure: HandlerFailure, result: RunResult) -> None:
        super().__init__(f"handler of node '{failure.node}' raised {type(failure.error).__name__}: "
                         f"{failure.error} (epoch {failure.epoch_id}, {failure.attempts} attempt"
                         f"{'s' if failure.attempts != 1 else ''})")
        self.failure = failure
        self.result = result


def declare_outcomes(*outcomes: Outcome) -> Callable[[_F], _F]:
    """Declares what a handler's epochs can do, for ``Runtime.check``: the
    decorated function gets the outcomes as its ``outcomes`` attribute."""
    for outcome in outcomes:
        if not isinstance(outcome, Outcome):
            raise TypeError(f"declare_outcomes takes Outcome values, not {type(outcome).__name__}")

    def mark(handler: _F) -> _F:
        handler.outcomes = list(outcomes)  # type: ignore[attr-defined]
        return handler

    return mark
