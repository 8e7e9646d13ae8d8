"""What the capacity searches found: one check per vector or count, and the answers."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Literal

from zellik_sim import PortRef, PortType, TerminalState

Verdict = Literal["clean", "fault", "open"]



def port_key(port: PortRef) -> dict[str, str]:
    kind = "Input" if port.port_type == PortType.Input else "Output"
    return {"node_name": port.node_name, "port_type": kind, "port_name": port.port_name}


def port_text(port: PortRef) -> str:
    """``node.in.port`` or ``node.out.port``."""
    if not isinstance(port, PortRef):
        raise TypeError(f"argument 'port': expected PortRef, got {type(port).__name__}")
    side = "in" if port.port_type == PortType.Input else "out"
    return f"{port.node_name}.{side}.{port.port_name}"


@dataclass(frozen=True)
class CapacityCheck:
    """One vector (or packet count) and what the explorations found there.

    `verdict` is ``"clean"`` when a full exploration finished with every
    terminal state clean, ``"fault"`` when an exploration reached a stuck,
    failed, violated or livelock state (`fault`, whose run replays) or
    finished with no terminal state at all (`fault` None: every schedule
    goes on for ever), and
    ``"open"`` when the full exploration stopped at a limit or passed
    ``max_packets``.
    `blocked` lists the searched input ports that packets of its stuck
    states wait in or in front of; `counts` the terminal kinds of its last
    exploration.
    """

    capacities: tuple[int, ...]
    packets: int | None
    verdict: Verdict
    explorations: int
    states: int
    transitions: int
    seconds: float
    counts: dict[str, int]
    blocked: tuple[PortRef, ...]
    fault: TerminalState | None

    def to_dict(self) -> dict[str, Any]:
        """A plain dict that json writes; the fault as its own to_dict()."""
        return {
            "capacities": list(self.capacities),
            "packets": self.packets,
            "verdict": self.verdict,
            "explorations": self.explorations,
            "states": self.states,
            "transitions": self.transitions,
            "seconds": self.seconds,
            "counts": dict(self.counts),
            "blocked": [port_key(p) for p in self.blocked],
            "fault": None if self.fault is None else self.fault.to_dict(),
        }


class _Work:
    """What a search's checks cost, added up."""

    checks: list[CapacityCheck]

    @property
    def explorations(self) -> int:
        """The explorations made, random walks included."""
        return sum(c.explorations for c in self.checks)

    @property
    def states(self) -> int:
        """The states the explorations visited, added up."""
        return sum(c.states for c in self.checks)

    @property
    def seconds(self) -> float:
        """The time the explorations took, added up."""
        return sum(c.seconds for c in self.checks)


@dataclass(frozen=True)
class CapacitySearch(_Work):
    """The minimal capacity vectors of `ports`, each from 1 to its bound.

    `minimal` lists the clean vectors with no clean or open vector below;
    `unsettled` the clean ones with an open vector below, whose minimality
    waits on it; `open` the vectors whose explorations stopped at a limit;
    `skipped` counts the vectors not explored, at or above a clean one;
    `checks` holds every vector explored, in the order it was.
    """

    ports: list[PortRef]
    bounds: tuple[int, ...]
    minimal: list[tuple[int, ...]]
    unsettled: list[tuple[int, ...]]
    open: list[tuple[int, ...]]
    skipped: int
    checks: list[CapacityCheck]

    @property
    def settled(self) -> bool:
        """Whether every vector explored was settled, so `minimal` is the whole answer."""
        return not self.open

    def to_dict(self) -> dict[str, Any]:
        """A plain dict that json writes."""
        return {
            "ports": [port_key(p) for p in self.ports],
            "bounds": list(self.bounds),
            "minimal": [list(v) for v in self.minimal],
            "unsettled": [list(v) for v in self.unsettled],
            "open": [list(v) for v in self.open],
            "skipped": self.skipped,
            "explorations": self.explorations,
            "states": self.states,
            "seconds": self.seconds,
            "checks": [c.to_dict() for c in self.checks],
        }


@dataclass(frozen=True)
class InjectionSearch(_Work):
    """Which packet counts from 1 to `limit` end clean in every schedule."""

    limit: int
    clean: list[int]
    open: list[int]
    checks: list[CapacityCheck]

    @property
    def largest(self) -> int | None:
        """The largest clean count, when no larger count is open; else None."""
        if not self.clean or any(n > self.clean[-1] for n in self.open):
            return None
        return self.clean[-1]

    @property
    def clean_up_to(self) -> int:
        """The largest n such that every count from 1 to n is clean (0 when 1 is not)."""
        n = 0
        while n + 1 in self.clean:
            n += 1
        return n

    def to_dict(self) -> dict[str, Any]:
        """A plain dict that json writes."""
        return {
            "limit": self.limit,
            "clean": list(self.clean),
            "open": list(self.open),
            "largest": self.largest,
            "clean_up_to": self.clean_up_to,
            "explorations": self.explorations,
            "states": self.states,
            "seconds": self.seconds,
            "checks": [c.to_dict() for c in self.checks],
        }
