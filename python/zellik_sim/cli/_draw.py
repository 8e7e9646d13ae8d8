"""``zellik-sim draw``: the picture of a graph file or of an explored state."""

from __future__ import annotations

import argparse
import shutil
import subprocess
from typing import Any

from zellik_sim import ExplorationResult, Graph, TerminalState
from zellik_sim.cli._common import EXIT_CLEAN, UsageError, load_json, write_output
from zellik_sim.files import FileFormatError, _refusal

_PICTURES = ("png", "svg", "pdf")


def add_parser(subparsers: Any) -> None:
    parser: argparse.ArgumentParser = subparsers.add_parser(
        "draw",
        help="draw a graph, or a state an exploration found, as DOT or a picture",
        description="Draw FILE: a graph file, a result written by explore --json/--output, or one "
        "terminal state (TerminalState.to_dict()). A state is drawn with the packets where they wait "
        "and its blocked nodes marked. Writes DOT text, or a picture through Graphviz's dot.",
    )
    parser.add_argument("file", metavar="FILE", help="a graph, an exploration result or a terminal state (JSON)")
    parser.add_argument("-t", "--terminal", type=int, metavar="N",
                        help="of a result, the terminal state at index N (default: the first that is not clean)")
    parser.add_argument("-o", "--output", metavar="OUT", help="where to write (default: standard output)")
    parser.add_argument("-f", "--format", choices=("dot",) + _PICTURES,
                        help="dot, or a picture (needs Graphviz's dot); default: from OUT's suffix, else dot")
    parser.set_defaults(run=run)


def _terminal(result: ExplorationResult, index: int | None, path: str) -> TerminalState:
    terminals = result.terminals
    if not terminals:
        raise UsageError(f"{path}: the result holds no terminal state to draw")
    if index is None:
        return next((t for t in terminals if t.kind != "clean"), terminals[0])
    if not -len(terminals) <= index < len(terminals):
        raise UsageError(f"--terminal {index}: the result holds {len(terminals)} terminal states")
    return terminals[index]


def dot_of_file(path: str, index: int | None) -> str:
    """The DOT text of the graph, result or terminal state in the file at `path`."""
    data = load_json(path)
    if not isinstance(data, dict):
        raise UsageError(f"{path}: expected a JSON object")
    try:
        if "nodes" in data:
            return Graph.from_dict(data).to_dot()
        if "terminals" in data:
            return _terminal(ExplorationResult.from_dict(data), index, path).to_dot()
        if "dot" in data:
            return TerminalState.from_dict(data).to_dot()
    except (ValueError, TypeError) as error:
        raise UsageError(str(_refusal(path, "", error))) from None
    raise UsageError(str(FileFormatError(path, "", "neither a graph ('nodes'), an exploration result "
                                                   "('terminals') nor a terminal state ('dot')")))


def _format(args: argparse.Namespace) -> str:
    if args.format:
        return str(args.format)
    suffix = str(args.output or "").rpartition(".")[2].lower()
    return suffix if suffix in _PICTURES else "dot"


def run(args: argparse.Namespace) -> int:
    dot = dot_of_file(args.file, args.terminal)
    kind = _format(args)
    if kind == "dot":
        write_output(dot, args.output)
        return EXIT_CLEAN
    program = shutil.which("dot")
    if program is None:
        raise UsageError(f"a {kind} picture needs Graphviz's dot on PATH; without it, write DOT (-f dot)")
    if not args.output or args.output == "-":
        raise UsageError(f"a {kind} picture needs -o FILE")
    done = subprocess.run([program, f"-T{kind}", "-o", args.output], input=dot.encode("utf-8"),
                          capture_output=True, check=False)
    if done.returncode != 0:
        raise UsageError(f"dot failed: {done.stderr.decode('utf-8', 'replace').strip()}")
    return EXIT_CLEAN
