"""``zellik-sim replay``: a recording checked call by call against a fresh net."""

from __future__ import annotations

import argparse
from typing import Any

from zellik_sim.cli._common import EXIT_CLEAN, EXIT_FOUND, UsageError, load_graph
from zellik_sim.recording import Mismatch, replay


def add_parser(subparsers: Any) -> None:
    parser: argparse.ArgumentParser = subparsers.add_parser(
        "replay",
        help="replay a recording against a fresh net and check every event",
        description="Replay a recording (JSON Lines, as TerminalState.to_jsonl(), explore --record and "
        "the runtime's record= write it) against a fresh net over GRAPH; every response and event must "
        "match. Exits 0 when all match, 1 at the first that differs.",
    )
    parser.add_argument("graph", metavar="GRAPH", help="the graph file (JSON)")
    parser.add_argument("recording", metavar="RECORDING", help="the recording (JSON Lines)")
    parser.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    graph = load_graph(args.graph)
    try:
        with open(args.recording, encoding="utf-8") as lines:
            calls = replay(graph, lines)
    except OSError as error:
        raise UsageError(f"{args.recording}: {error.strerror or error}") from None
    except Mismatch as mismatch:
        print(f"{args.recording}: replay differs: {mismatch}")
        return EXIT_FOUND
    print(f"{args.recording}: replayed {calls} calls: every response and event matches")
    return EXIT_CLEAN
