"""``zellik-sim explore``: every schedule of a graph file, with what was found."""

from __future__ import annotations

import argparse
import json
import time
from typing import Any

from zellik_sim import (
    Edge,
    ExplorationInterrupted,
    ExplorationResult,
    Graph,
    Injection,
    NetSim,
    PacketLocation,
    PortRef,
    PortType,
    TerminalState,
)
from zellik_sim.cli._common import (
    EXIT_CLEAN,
    EXIT_FOUND,
    EXIT_UNFINISHED,
    UsageError,
    load_declarations,
    load_graph,
    write_output,
)
from zellik_sim.cli._progress import exploration_bar

# The terminal kinds that are no fault of the graph: an end with the net
# empty, and a state past a limit (which leaves the answer open).
_HARMLESS = ("clean", "over_limit")


def add_parser(subparsers: Any) -> None:
    parser: argparse.ArgumentParser = subparsers.add_parser(
        "explore",
        help="explore every schedule of a graph and report stuck or failed states",
        description="Explore every order of the executor's choices on a fresh net over GRAPH, with the "
        "behaviours, injections, request allowances and properties of the declarations file and --inject, and "
        "print what was found.",
    )
    parser.add_argument("graph", metavar="GRAPH", help="the graph file (JSON, Graph.to_dict())")
    parser.add_argument("-d", "--declarations", metavar="FILE",
                        help="the declarations file: behaviours, injections, requests, properties (JSON)")
    parser.add_argument("-i", "--inject", metavar="WHERE=N", action="append", default=[],
                        help="inject packets: NODE.PORT=N into an input port, or "
                        "NODE.PORT->NODE.PORT=N onto the edge between an output and an input port; repeatable")
    parser.add_argument("--order", choices=("breadth_first", "depth_first", "random_walk"), default="breadth_first")
    parser.add_argument("--max-states", type=_positive, metavar="N")
    parser.add_argument("--max-depth", type=_positive, metavar="N")
    parser.add_argument("--max-packets", type=_positive, metavar="N")
    parser.add_argument("--max-time", type=_seconds, metavar="SECONDS")
    parser.add_argument("--seed", type=_count, default=0, help="the random walks' seed (default 0)")
    parser.add_argument("--walks", type=_positive, default=100, metavar="N", help="random walks (default 100)")
    parser.add_argument("--exact", action="store_true", help="keep visited states whole, not as fingerprints")
    parser.add_argument("--livelocks", choices=("any_end", "clean_end"),
                        help="also report cycles with no way out to any end, or to a clean end, "
                             "with their lasso")
    parser.add_argument("--strict", action="store_true",
                        help="refuse a node with input salvo conditions and no declared behaviour "
                        "(without one, its epochs consume their inputs and send nothing)")
    parser.add_argument("--json", action="store_true", help="print the result as JSON (ExplorationResult.to_dict())")
    parser.add_argument("-o", "--output", metavar="FILE", help="also write the result as JSON to FILE")
    parser.add_argument("--record", metavar="FILE",
                        help="write the run to the first stuck or failed state as JSON Lines (zellik-sim replay reads it)")
    parser.add_argument("--run", action="store_true", dest="show_run", help="print the run to the first stuck or failed state")
    parser.add_argument("--no-progress", action="store_true", help="no progress bar")
    parser.set_defaults(run=run)


def _count(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected an int, got {text!r}") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"expected an int of at least 0, got {value}")
    return value


def _positive(text: str) -> int:
    value = _count(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"expected an int of at least 1, got {value}")
    return value


def _seconds(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a number of seconds, got {text!r}") from None
    if not value > 0 or value == float("inf"):
        raise argparse.ArgumentTypeError(f"expected a positive number of seconds, got {text}")
    return value


def _port(text: str, given: str) -> tuple[str, str]:
    node, dot, port = text.strip().rpartition(".")
    if not dot or not node or not port:
        raise UsageError(f"--inject {given}: expected NODE.PORT, got {text.strip()!r}")
    return node, port


def parse_injection(given: str) -> Injection:
    """An --inject WHERE=N: NODE.PORT=N or NODE.PORT->NODE.PORT=N."""
    where, equals, count_text = given.rpartition("=")
    if not equals:
        raise UsageError(f"--inject {given}: expected ...=N, the number of packets")
    try:
        count = _count(count_text.strip())
    except argparse.ArgumentTypeError as error:
        raise UsageError(f"--inject {given}: {error}") from None
    if "->" in where:
        source, _, target = where.partition("->")
        edge = Edge(PortRef(*_with_type(_port(source, given), PortType.Output)),
                    PortRef(*_with_type(_port(target, given), PortType.Input)))
        return Injection(PacketLocation.edge(edge), count)
    node, port = _port(where, given)
    return Injection(PacketLocation.input_port(node, port), count)


def _with_type(ref: tuple[str, str], port_type: PortType) -> tuple[str, PortType, str]:
    return ref[0], port_type, ref[1]


def exit_code(result: ExplorationResult) -> int:
    """1 for a state that is a fault, else 3 for an open answer, else 0."""
    counts = result.counts
    if any(n for kind, n in counts.items() if kind not in _HARMLESS):
        return EXIT_FOUND
    if not result.finished or counts.get("over_limit", 0):
        return EXIT_UNFINISHED
    return EXIT_CLEAN


def _first_fault(result: ExplorationResult) -> TerminalState | None:
    return next((t for t in result.terminals if t.kind not in _HARMLESS), None)


def summary(graph_path: str, result: ExplorationResult, seconds: float, show_run: bool = False) -> str:
    """The short report: the search's size, a table of terminal kinds, the
    first fault (with its run when `show_run`)."""
    status = "finished"
    if result.stopped is not None and result.stopped != "walks":
        status = f"stopped by the {result.stopped} limit with {result.frontier} states left unexplored"
    elif not result.finished:
        status = f"stopped by the {result.stopped} limit"
    lines = [f"{graph_path}: {result.states} states, {result.transitions} transitions, "
             f"depth {result.max_depth}, {status} in {seconds:.2f} s", "",
             f"  {'terminal states':<18}{'count':>8}"]
    lines += [f"  {kind:<18}{n:>8}" for kind, n in result.counts.items()]
    fault = _first_fault(result)
    if fault is None:
        verdict = {EXIT_CLEAN: "every schedule ends clean",
                   EXIT_UNFINISHED: "nothing found, but the search did not cover every schedule"}
        lines += ["", verdict[exit_code(result)]]
        return "\n".join(lines) + "\n"
    lines += ["", f"first {fault.kind} state: after {fault.depth} choices ({len(fault.run)} actions), "
              f"{fault.packets} packets in the net"]
    if fault.failure:
        lines.append(f"  {fault.failure}")
    lines += [f"  {count} waiting at {location}" for location, count in fault.waiting]
    lines += [f"  {node}.{condition} never holds" for node, condition in fault.blocked_conditions]
    if show_run:
        lines += ["", "its run:"] + [f"  {action}" for action in fault.run]
    return "\n".join(lines) + "\n"


def explore(graph: Graph, args: argparse.Namespace) -> ExplorationResult:
    declarations = load_declarations(args.declarations)
    injections = declarations.injections + [parse_injection(given) for given in args.inject]
    net = NetSim(graph, seed=0)
    with exploration_bar(not args.no_progress and not args.json) as progress:
        try:
            return net.explore(declarations.behaviours, injections, declarations.requests,
                               order=args.order, exact=args.exact, max_states=args.max_states,
                               max_depth=args.max_depth, max_packets=args.max_packets,
                               max_time=args.max_time, seed=args.seed, walks=args.walks, progress=progress,
                               strict=args.strict, properties=declarations.properties,
                               livelocks=args.livelocks)
        except ExplorationInterrupted:
            raise KeyboardInterrupt from None
        except ValueError as error:  # a declaration the graph cannot carry out
            raise UsageError(str(error)) from None


def run(args: argparse.Namespace) -> int:
    graph = load_graph(args.graph)
    began = time.perf_counter()
    result = explore(graph, args)
    seconds = time.perf_counter() - began
    text = json.dumps(result.to_dict(), indent=2, ensure_ascii=False) + "\n"
    if args.output:
        write_output(text, args.output)
    if args.record:
        fault = _first_fault(result)
        if fault is not None:
            write_output(fault.to_jsonl(), args.record)
    write_output(text if args.json else summary(args.graph, result, seconds, args.show_run), None)
    return exit_code(result)
