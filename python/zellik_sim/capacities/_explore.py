"""Explorations of one graph after another, and the arguments they take."""

from __future__ import annotations

import time
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from typing import Any

from zellik_sim import (
    Behaviour,
    ExplorationResult,
    Graph,
    Injection,
    NetSim,
    PortRef,
    PortType,
    RequestAllowance,
    TerminalState,
)
from zellik_sim.capacities._results import CapacityCheck, Verdict, port_text
from zellik_sim.properties import Property

# The terminal kinds that settle nothing against a vector: a clean end, and
# a state past max_packets, which leaves the answer open. Every other kind
# (stuck, failed, violated, livelock, and any kind the explorer adds later)
# is a fault.
_NOT_FAULTS = ("clean", "over_limit")
# No capacity, bound or count beyond this: the search explores every vector
# it does not rule out, so a larger one is a mistake, not a request.
LARGEST = 1 << 16
# The states of the first, bounded search of a vector, before random walks
# look for a fault deeper: a few milliseconds of exploring.
PROBE_STATES = 2_000

def count_arg(value: object, name: str, least: int = 1) -> int:
    if not isinstance(value, int) or isinstance(value, bool):
        raise TypeError(f"argument '{name}': expected int, got {type(value).__name__}")
    if not least <= value <= LARGEST:
        raise ValueError(f"argument '{name}': expected an int from {least} to {LARGEST}, got {value}")
    return value


def items_arg(value: object, cls: type, name: str) -> list[Any]:
    if isinstance(value, (str, bytes)) or not isinstance(value, Sequence):
        raise TypeError(f"argument '{name}': expected a sequence of {cls.__name__}, got {type(value).__name__}")
    for item in value:
        if not isinstance(item, cls):
            raise TypeError(f"argument '{name}': expected a sequence of {cls.__name__}, "
                            f"got an item of {type(item).__name__}")
    return list(value)


def _port_spot(data: dict[str, Any], port: PortRef, name: str) -> dict[str, Any]:
    """The dict of `port` in a graph's dict; ValueError naming `name` if it has none."""
    side = "in_ports" if port.port_type == PortType.Input else "out_ports"
    for node in data["nodes"]:
        if node["name"] == port.node_name:
            ports: dict[str, dict[str, Any]] = node[side]
            if port.port_name in ports:
                return ports[port.port_name]
    raise ValueError(f"argument '{name}': the graph has no port {port_text(port)}")


def capacity_map(value: object, name: str, graph: Graph) -> dict[PortRef, int]:
    if not isinstance(value, Mapping):
        raise TypeError(f"argument '{name}': expected a mapping of PortRef to int, got {type(value).__name__}")
    out: dict[PortRef, int] = {}
    data = graph.to_dict()
    for port, n in value.items():
        if not isinstance(port, PortRef):
            raise TypeError(f"argument '{name}': expected PortRef keys, got {type(port).__name__}")
        _port_spot(data, port, name)
        out[port] = count_arg(n, name)
    return out


def with_capacities(graph: Graph, capacities: Mapping[PortRef, int]) -> Graph:
    """`graph` with the capacities of the given ports (input or output) changed."""
    if not isinstance(graph, Graph):
        raise TypeError(f"argument 'graph': expected Graph, got {type(graph).__name__}")
    return set_capacities(graph, capacity_map(capacities, "capacities", graph))


def set_capacities(graph: Graph, capacities: Mapping[PortRef, int]) -> Graph:
    """`graph` with capacities already checked against it."""
    data = graph.to_dict()
    for port, n in capacities.items():
        _port_spot(data, port, "capacities")["capacity"] = n
    return Graph.from_dict(data)


@dataclass(frozen=True)
class Explorer:
    """Explores one graph after another from the same declarations and limits."""

    behaviours: list[Behaviour]
    requests: list[RequestAllowance]
    options: dict[str, Any]
    walks: int
    livelocks: str | None

    def check(self, graph: Graph, injections: list[Injection], chosen: Sequence[PortRef],
              capacities: tuple[int, ...], packets: int | None) -> CapacityCheck:
        began = time.perf_counter()
        # A small space is settled by one depth-first search. A large one is
        # first searched up to PROBE_STATES states, then walked at random:
        # a fault found either way is a replayable run, as good a proof as
        # the full search gives, which only a clean or open verdict needs.
        limit = self.options["max_states"]
        probing = limit is None or limit > PROBE_STATES
        results = [self._explore(graph, injections, order="depth_first", livelocks=self.livelocks,
                                 max_states=PROBE_STATES if probing else limit)]
        cut_short = probing and results[0].stopped == "states"
        if cut_short and self.walks and _first_fault(results[0]) is None:
            results.append(self._explore(graph, injections, order="random_walk", walks=self.walks,
                                         max_states=limit))
        if cut_short and _first_fault(results[-1]) is None:
            results.append(self._explore(graph, injections, order="depth_first", livelocks=self.livelocks,
                                         max_states=limit))
        last = results[-1]
        fault = next((t for r in results for t in r.terminals if t.kind not in _NOT_FAULTS), None)
        # A finished space with no terminal state at all is one where every
        # schedule goes on for ever: no clean end either.
        if fault is not None or (last.finished and not any(last.counts.values())):
            verdict: Verdict = "fault"
        elif last.finished and not last.counts.get("over_limit", 0):
            verdict = "clean"
        else:
            verdict = "open"
        return CapacityCheck(
            capacities, packets, verdict, len(results), sum(r.states for r in results),
            sum(r.transitions for r in results), time.perf_counter() - began, dict(last.counts),
            _blocked(results, chosen), fault)

    def _explore(self, graph: Graph, injections: list[Injection], **how: Any) -> ExplorationResult:
        # A violated property and a livelock are terminal kinds that are not
        # clean, so faults here like a stuck state.
        options = {**self.options, **how}
        return NetSim(graph, seed=0).explore(self.behaviours, injections, self.requests, **options)


def _first_fault(result: ExplorationResult) -> TerminalState | None:
    return next((t for t in result.terminals if t.kind not in _NOT_FAULTS), None)


def _blocked(results: list[ExplorationResult], chosen: Sequence[PortRef]) -> tuple[PortRef, ...]:
    """The chosen ports that packets of the stuck states wait in or in front of."""
    waiting: set[tuple[str, str]] = set()
    for result in results:
        for terminal in result.terminals:
            for location, _ in terminal.waiting:
                edge = location.get_edge()
                target = edge.target if edge is not None else None
                if target is not None:
                    waiting.add((target.node_name, target.port_name))
                elif location.node_name is not None and location.port_name is not None:
                    waiting.add((location.node_name, location.port_name))
    return tuple(p for p in chosen if p.port_type == PortType.Input and (p.node_name, p.port_name) in waiting)


def explorer(behaviours: object, requests: object, properties: object, livelocks: object, walks: object,
             flags: dict[str, object], limits: dict[str, object]) -> Explorer:
    """The explorer of the declarations; the limits are checked by the first exploration."""
    for name, flag in flags.items():
        if not isinstance(flag, bool):
            raise TypeError(f"argument '{name}': expected bool, got {type(flag).__name__}")
    if livelocks is not None and not isinstance(livelocks, str):
        raise TypeError(f"argument 'livelocks': expected 'any_end', 'clean_end' or None, "
                        f"got {type(livelocks).__name__}")
    if livelocks not in (None, "any_end", "clean_end"):
        raise ValueError(f"argument 'livelocks': expected 'any_end', 'clean_end' or None, got {livelocks!r}")
    # The first search of a vector compares max_states before any
    # exploration reads it, so it is checked here; the others are checked by
    # the first exploration.
    cap = limits["max_states"]
    if cap is not None and (not isinstance(cap, int) or isinstance(cap, bool)):
        raise TypeError(f"argument 'max_states': expected int or None, got {type(cap).__name__}")
    if cap is not None and not 1 <= cap < 2**64:
        raise ValueError(f"argument 'max_states': expected an int from 1 to 2**64-1, got {cap}")
    options = {**flags, **limits, "properties": items_arg(properties, Property, "properties")}
    return Explorer(items_arg(behaviours, Behaviour, "behaviours"), items_arg(requests, RequestAllowance, "requests"),
                    options, count_arg(walks, "walks", 0), livelocks)
