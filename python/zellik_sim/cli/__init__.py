"""The command line: ``python -m zellik_sim`` and the ``zellik-sim`` script.

Each subcommand is a module of this package with ``add_parser(subparsers)``,
which adds its parser and sets ``run`` (a function of the parsed arguments
returning the exit code) as the parser's default; ``COMMANDS`` lists them
in the order ``--help`` shows them.

Exit codes:

- 0: done, and nothing was found (an exploration finished with every
  schedule ending clean; a replay matched every call);
- 1: something was found (a stuck, failed or violating state; a replay that
  differs);
- 2: the command line or an input file is wrong (the message names the file
  and the field);
- 3: an exploration stopped at a limit before it finished, having found
  nothing: no answer either way;
- 130: interrupted (Ctrl-C).

``capacities`` asks for something to be found, so its 0 is an answer (a
capacity vector, or a packet count, with which every schedule ends clean)
and its 1 the want of one up to the bounds.
"""

from __future__ import annotations

import argparse
import sys
from collections.abc import Sequence
from types import ModuleType

from zellik_sim import __version__
from zellik_sim.cli import _capacities, _draw, _explore, _replay
from zellik_sim.cli._common import EXIT_USAGE, UsageError

__all__ = ["COMMANDS", "build_parser", "main"]

COMMANDS: list[ModuleType] = [_explore, _capacities, _replay, _draw]


def build_parser() -> argparse.ArgumentParser:
    """The parser of every subcommand."""
    parser = argparse.ArgumentParser(
        prog="zellik-sim",
        description="Explore, size, replay and draw flow graphs kept as JSON files.",
        epilog="Exit codes: 0 nothing found, 1 found stuck or failed states (or a replay that "
        "differs), 2 usage or file error, 3 stopped at a limit with nothing found, 130 interrupted; "
        "capacities exits 0 with an answer and 1 without one.",
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    subparsers = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    for command in COMMANDS:
        command.add_parser(subparsers)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line `argv` (``sys.argv[1:]`` when None); the exit code."""
    if argv is None:
        argv = sys.argv[1:]
    elif isinstance(argv, str) or not isinstance(argv, Sequence) or not all(isinstance(a, str) for a in argv):
        raise TypeError(f"argument 'argv': expected a sequence of str, got {argv!r}")
    parser = build_parser()
    try:
        args = parser.parse_args(list(argv))
    except SystemExit as exit_:
        return exit_.code if isinstance(exit_.code, int) else EXIT_USAGE
    try:
        code: int = args.run(args)
    except UsageError as error:
        print(f"zellik-sim {args.command}: {error}", file=sys.stderr)
        return EXIT_USAGE
    except KeyboardInterrupt:
        print(f"zellik-sim {args.command}: interrupted", file=sys.stderr)
        return 130
    return code
