"""``zellik-sim capacities``: the smallest port capacities with which no schedule gets stuck."""

from __future__ import annotations

import argparse
import json
import sys
from typing import Any

from zellik_sim import ExplorationInterrupted, Graph, PortRef, PortType
from zellik_sim.capacities import (
    CapacityCheck,
    CapacitySearch,
    InjectionSearch,
    largest_clean_injection,
    minimal_capacities,
    port_text,
    with_capacities,
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
# The explore command's readers of numbers, so both commands take the same.
from zellik_sim.cli._explore import _count, _positive, _seconds, parse_injection


def add_parser(subparsers: Any) -> None:
    parser: argparse.ArgumentParser = subparsers.add_parser(
        "capacities",
        help="find the smallest capacities of chosen ports with which no schedule gets stuck",
        description="Explore every schedule of GRAPH with each capacity vector of the --port ports, from 1 "
        "to their bounds, and print the minimal vectors with which every schedule ends clean. With "
        "--packets N, print instead which numbers of injected packets up to N end clean with the graph's "
        "capacities (and --capacity's).",
        epilog="Exit codes: 0 an answer was found and proved, 1 no vector (or count) ends clean, "
        "2 usage or file error, 3 an exploration stopped at a limit, leaving the answer open.",
    )
    parser.add_argument("graph", metavar="GRAPH", help="the graph file (JSON, Graph.to_dict())")
    parser.add_argument("-d", "--declarations", metavar="FILE",
                        help="the declarations file: behaviours, injections, requests, properties (JSON)")
    parser.add_argument("-i", "--inject", metavar="WHERE=N", action="append", default=[],
                        help="inject packets, as for explore: NODE.PORT=N or NODE.PORT->NODE.PORT=N; repeatable")
    parser.add_argument("-p", "--port", metavar="PORT[=BOUND]", action="append", default=[],
                        help="a port whose capacity to search, NODE.PORT (NODE.in.PORT or NODE.out.PORT where "
                        "a node has both), from 1 to BOUND (default --bound); repeatable")
    parser.add_argument("--bound", type=_positive, default=4, metavar="N", help="the default bound (default 4)")
    parser.add_argument("-c", "--capacity", metavar="PORT=N", action="append", default=[],
                        help="set a port's capacity before anything is explored; repeatable")
    parser.add_argument("--packets", type=_positive, metavar="N",
                        help="instead of a search over capacities: which packet counts from 1 to N end clean, "
                        "each injection putting that many packets")
    parser.add_argument("--walks", type=_count, default=20, metavar="N",
                        help="random walks that look for a fault in a space too large for a first short search "
                        "(default 20)")
    parser.add_argument("--livelocks", choices=("any_end", "clean_end"),
                        help="also count a cycle with no way out (to any end, or to a clean end) as a fault")
    parser.add_argument("--strict", action="store_true",
                        help="refuse nodes with input conditions and no declared behaviour")
    parser.add_argument("--max-states", type=_positive, metavar="N", help="per exploration")
    parser.add_argument("--max-depth", type=_positive, metavar="N", help="per exploration")
    parser.add_argument("--max-packets", type=_positive, metavar="N", help="per exploration")
    parser.add_argument("--max-time", type=_seconds, metavar="SECONDS", help="per exploration")
    parser.add_argument("--json", action="store_true", help="print the answer as JSON (its to_dict())")
    parser.add_argument("-o", "--output", metavar="FILE", help="also write the answer as JSON to FILE")
    parser.add_argument("-q", "--quiet", action="store_true", help="no line per exploration on standard error")
    parser.set_defaults(run=run)


def parse_port(text: str, graph: Graph, option: str) -> PortRef:
    """NODE.PORT, or NODE.in.PORT / NODE.out.PORT, as a port of `graph`."""
    nodes = graph.nodes()
    head, _, port = text.rpartition(".")
    node_name, _, side = head.rpartition(".")
    if side in ("in", "out") and node_name in nodes:
        node = nodes[node_name]
        ports = node.in_ports if side == "in" else node.out_ports
        if port in ports:
            return PortRef(node_name, PortType.Input if side == "in" else PortType.Output, port)
    if head in nodes:
        node = nodes[head]
        found = [kind for kind, ports in ((PortType.Input, node.in_ports), (PortType.Output, node.out_ports))
                 if port in ports]
        if len(found) == 1:
            return PortRef(head, found[0], port)
        if found:
            raise UsageError(f"{option} {text}: {head} has an input and an output port named {port!r}: "
                             f"write {head}.in.{port} or {head}.out.{port}")
    raise UsageError(f"{option} {text}: the graph has no such port (expected NODE.PORT)")


def _port_and_number(given: str, graph: Graph, option: str, default: int | None) -> tuple[PortRef, int]:
    text, equals, number = given.rpartition("=") if "=" in given else (given, "", "")
    if not equals and default is None:
        raise UsageError(f"{option} {given}: expected PORT=N")
    try:
        value = _positive(number.strip()) if equals else default
    except argparse.ArgumentTypeError as error:
        raise UsageError(f"{option} {given}: {error}") from None
    assert value is not None
    return parse_port(text.strip(), graph, option), value


def _progress_line(check: CapacityCheck, ports: list[str]) -> str:
    what = " ".join(f"{p}={c}" for p, c in zip(ports, check.capacities)) if ports else f"{check.packets} packets"
    return f"capacities: {what}: {check.verdict}, {check.states} states in {check.seconds:.2f} s"


def search_summary(graph_path: str, found: CapacitySearch, names: list[str]) -> str:
    """The short report of a search: its work, a table of the minimal vectors, what stays open."""
    verdicts = [c.verdict for c in found.checks]
    lines = [f"{graph_path}: {len(found.checks)} capacity vectors explored ({found.explorations} explorations, "
             f"{found.states} states, {found.seconds:.2f} s); {found.skipped} skipped at or above a clean one",
             f"  {verdicts.count('clean')} clean, {verdicts.count('fault')} stuck or failed, "
             f"{verdicts.count('open')} open", ""]
    width = [max(len(n), 4) for n in names]
    header = "  ".join(f"{n:>{w}}" for n, w in zip(names, width))
    rows = [(v, "minimal") for v in found.minimal] + [(v, "unsettled") for v in found.unsettled]
    if rows:
        lines.append(f"  {header}  {'':<10}{'states':>8}")  # the states of the proof that it is clean
        states = {c.capacities: c.states for c in found.checks}
        for vector, label in rows:
            cells = "  ".join(f"{c:>{w}}" for c, w in zip(vector, width))
            lines.append(f"  {cells}  {label:<10}{states[vector]:>8}")
        lines.append("")
    if found.minimal:
        lines.append("every schedule ends clean with each minimal vector, and with no vector below one")
    elif not found.unsettled and not found.open:
        lines.append("no vector up to the bounds lets every schedule end clean")
    if found.unsettled or found.open:
        lines.append(f"{len(found.open)} vectors open: explorations stopped at a limit; raise it to settle them")
    return "\n".join(lines) + "\n"


def packets_summary(graph_path: str, found: InjectionSearch) -> str:
    """The short report of a count search: a table of the counts and the answer."""
    lines = [f"{graph_path}: {found.limit} packet counts explored ({found.explorations} explorations, "
             f"{found.states} states, {found.seconds:.2f} s)", "", f"  {'packets':>8}  {'verdict':<8}{'states':>8}"]
    lines += [f"  {c.packets:>8}  {c.verdict:<8}{c.states:>8}" for c in found.checks]
    largest = found.largest
    upto = found.clean_up_to
    lines += ["", f"largest clean count: {largest if largest is not None else 'none'}; "
              + (f"every count from 1 to {upto} ends clean" if upto else "1 packet does not end clean")]
    return "\n".join(lines) + "\n"


def _exit_code(verdicts: list[str], answered: bool) -> int:
    if "open" in verdicts:
        return EXIT_UNFINISHED
    return EXIT_CLEAN if answered else EXIT_FOUND


def run(args: argparse.Namespace) -> int:
    graph = load_graph(args.graph)
    declarations = load_declarations(args.declarations)
    injections = declarations.injections + [parse_injection(given) for given in args.inject]
    fixed = dict(_port_and_number(given, graph, "--capacity", None) for given in args.capacity)
    graph = with_capacities(graph, fixed)
    searched = [_port_and_number(given, graph, "--port", args.bound) for given in args.port]
    if args.packets is None and not searched:
        raise UsageError("name the ports to search with --port (or give --packets N)")
    if args.packets is not None and searched:
        raise UsageError("--packets keeps the capacities: give them with --capacity, not --port")
    if len({port for port, _ in searched}) < len(searched):
        raise UsageError("--port: a port is named twice")
    names = [given.rpartition("=")[0].strip() if "=" in given else given.strip() for given in args.port]

    def progress(check: CapacityCheck) -> None:
        if not args.quiet and not args.json:
            print(_progress_line(check, names), file=sys.stderr)

    how: dict[str, Any] = {"walks": args.walks, "strict": args.strict, "livelocks": args.livelocks,
                           "properties": declarations.properties, "max_states": args.max_states,
                           "max_depth": args.max_depth, "max_packets": args.max_packets, "max_time": args.max_time,
                           "on_check": progress}
    try:
        if args.packets is not None:
            if not injections:
                raise UsageError("--packets needs an injection (in the declarations or --inject)")
            counted = largest_clean_injection(graph, declarations.behaviours, injections, args.packets,
                                              declarations.requests, **how)
            answer: dict[str, Any] = counted.to_dict()
            text = packets_summary(args.graph, counted)
            code = _exit_code([c.verdict for c in counted.checks], bool(counted.clean))
        else:
            found = minimal_capacities(graph, declarations.behaviours, injections, dict(searched),
                                       declarations.requests, **how)
            answer = found.to_dict()
            text = search_summary(args.graph, found, names or [port_text(p) for p, _ in searched])
            code = _exit_code([c.verdict for c in found.checks], bool(found.minimal))
    except ExplorationInterrupted:
        raise KeyboardInterrupt from None
    except ValueError as error:  # a declaration the graph cannot carry out
        raise UsageError(str(error)) from None
    as_json = json.dumps(answer, indent=2, ensure_ascii=False) + "\n"
    if args.output:
        write_output(as_json, args.output)
    write_output(as_json if args.json else text, None)
    return code
