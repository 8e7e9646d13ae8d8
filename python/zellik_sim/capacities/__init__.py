"""The capacities a graph needs, and the packets it takes.

``minimal_capacities`` finds, for chosen ports of a graph, the capacity
vectors with which no schedule gets stuck (nor fails) and that are minimal:
no other such vector is smaller or equal in every port. Each port's capacity
runs from 1 to its bound; the other ports keep the graph's.

More capacity does not always help: a node whose input condition asks for a
full port fires on 4 packets at capacities 1, 2 and 4, but at 3 it leaves
one packet behind for good. So the search assumes no order between vectors.
It visits the vectors in order of their sum; a vector at or above a minimal
one found so far cannot be minimal and is not explored, every other one is.
A vector is settled by an exploration of every schedule on a fresh net with
those capacities: it is clean when that exploration finishes with every
terminal state clean, and it has a fault when any exploration reaches a
stuck or failed state, a state that violates one of the properties given,
or (when asked) a livelock: a replayable run proves it. A depth-first
search of a few thousand states settles a small space; a larger one is
then walked at random to look for a fault, which is cheaper to find that
way than by exploring the whole space of a vector that has one, and
explored in full only if none is found. Within
one sum, the vectors that raise the ports their neighbours below got stuck
on (packets waiting in or in front of them) are explored first, which is
the order a person would try them in; the answer does not depend on it.

An exploration that stops at a limit, or reaches a state past
``max_packets``, leaves its vector open. A clean vector with an open one
below it is not proved minimal and is listed as ``unsettled``.

``largest_clean_injection`` asks the other way round: with given
capacities, which numbers of packets, up to a limit, every schedule takes
to a clean end. The answer need not be a range either (a node that takes
packets two at a time leaves one behind from every odd number).
"""

from __future__ import annotations

import math
from collections.abc import Callable, Iterator, Mapping, Sequence
from typing import Literal

from zellik_sim import Behaviour, Graph, Injection, PortRef, RequestAllowance
from zellik_sim.properties import Property
from zellik_sim.capacities._explore import (
    Explorer,
    capacity_map,
    count_arg,
    explorer,
    items_arg,
    set_capacities,
    with_capacities,
)
from zellik_sim.capacities._results import CapacityCheck, CapacitySearch, InjectionSearch, port_text

__all__ = [
    "CapacityCheck",
    "CapacitySearch",
    "InjectionSearch",
    "largest_clean_injection",
    "minimal_capacities",
    "port_text",
    "with_capacities",
]

Vector = tuple[int, ...]


def _with_sum(top: Vector, total: int) -> Iterator[Vector]:
    """Every vector from (1, ..., 1) to `top` whose entries add up to `total`, in lexicographic order."""
    if not top:
        if total == 0:
            yield ()
        return
    rest = top[1:]
    for first in range(max(1, total - sum(rest)), min(top[0], total - len(rest)) + 1):
        for tail in _with_sum(rest, total - first):
            yield (first, *tail)


def _at_or_above(low: Vector, high: Vector) -> bool:
    return all(a <= b for a, b in zip(low, high))


def _lead(vector: Vector, checks: Mapping[Vector, CapacityCheck], ports: Sequence[PortRef]) -> int:
    """How many of the ports `vector` raises over a neighbour below were what that neighbour got stuck on."""
    lead = 0
    for i, port in enumerate(ports):
        below = checks.get(vector[:i] + (vector[i] - 1,) + vector[i + 1:])
        if below is not None and port in below.blocked:
            lead += 1
    return lead


def _limits(max_states: object, max_depth: object, max_packets: object, max_time: object) -> dict[str, object]:
    return {"max_states": max_states, "max_depth": max_depth, "max_packets": max_packets, "max_time": max_time}


def _prepared(graph: object, behaviours: object, injections: object, requests: object, properties: object,
              livelocks: object, walks: object, exact: object, strict: object, limits: dict[str, object],
              on_check: object) -> tuple[Explorer, list[Injection]]:
    """The arguments both searches share, checked: the explorer they make and the injections."""
    if not isinstance(graph, Graph):
        raise TypeError(f"argument 'graph': expected Graph, got {type(graph).__name__}")
    explore = explorer(behaviours, requests, properties, livelocks, walks, {"exact": exact, "strict": strict}, limits)
    fed = items_arg(injections, Injection, "injections")
    if on_check is not None and not callable(on_check):
        raise TypeError(f"argument 'on_check': expected a callable, got {type(on_check).__name__}")
    return explore, fed


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
) -> CapacitySearch:
    """The minimal capacity vectors of the ports in `bounds` (each from 1 to
    its bound, in the mapping's order) with which every schedule of the
    declarations ends clean and holds every property of `properties` at
    every state (with `livelocks`, also never cycles with no way out, as
    ``NetSim.explore`` looks for them). The limits bound each exploration;
    `walks` random walks look for a fault in a space too large for a
    first short search (0 for none); `strict`
    refuses a node with input conditions and no behaviour, as
    ``NetSim.explore`` does; `on_check` is called with each vector's check
    as it is made."""
    explore, fed = _prepared(graph, behaviours, injections, requests, properties, livelocks, walks, exact, strict,
                             _limits(max_states, max_depth, max_packets, max_time), on_check)
    chosen = capacity_map(bounds, "bounds", graph)
    if not chosen:
        raise ValueError("argument 'bounds': expected at least one port")
    ports = list(chosen)
    top = tuple(chosen.values())
    checks: dict[Vector, CapacityCheck] = {}
    clean: list[Vector] = []
    # Vectors of one sum are never below one another, so each level is
    # settled by the levels before it: a vector at or above a clean one
    # already found cannot be minimal, and every other one is explored.
    # Once a whole level is at or above clean vectors, so is every level
    # after it (each vector there lies above one of this level), and the
    # search ends without going through them.
    for total in range(len(top), sum(top) + 1):
        level = [v for v in _with_sum(top, total) if not any(_at_or_above(low, v) for low in clean)]
        if not level:
            break
        level.sort(key=lambda v: -_lead(v, checks, ports))
        for vector in level:
            check = explore.check(set_capacities(graph, dict(zip(ports, vector))), fed, ports, vector, None)
            checks[vector] = check
            if on_check is not None:
                on_check(check)
            if check.verdict == "clean":
                clean.append(vector)
    skipped = math.prod(top) - len(checks)
    opened = [v for v, c in checks.items() if c.verdict == "open"]
    under_open = [v for v in clean if any(_at_or_above(o, v) for o in opened)]
    minimal = sorted(v for v in clean if v not in under_open)
    return CapacitySearch(ports, top, minimal, sorted(under_open), sorted(opened), skipped, list(checks.values()))


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
) -> InjectionSearch:
    """For every n from 1 to `limit`, whether every schedule ends clean (and
    holds the properties, and with `livelocks` never cycles for good) when
    each of the `injections` puts n packets where it puts its own count (the
    graph's capacities as they are: ``with_capacities`` sets them). The
    other arguments are those of ``minimal_capacities``."""
    explore, fed = _prepared(graph, behaviours, injections, requests, properties, livelocks, walks, exact, strict,
                             _limits(max_states, max_depth, max_packets, max_time), on_check)
    if not fed:
        raise ValueError("argument 'injections': expected at least one injection")
    top = count_arg(limit, "limit")
    checks: list[CapacityCheck] = []
    for n in range(1, top + 1):
        check = explore.check(graph, [Injection(i.location, n) for i in fed], [], (), n)
        checks.append(check)
        if on_check is not None:
            on_check(check)
    counts = range(1, top + 1)
    return InjectionSearch(top, [n for n, c in zip(counts, checks) if c.verdict == "clean"],
                           [n for n, c in zip(counts, checks) if c.verdict == "open"], checks)

