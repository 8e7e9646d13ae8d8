"""What the subcommands share: exit codes, reading input files, writing out."""

from __future__ import annotations

import json
import os
import sys
from typing import Any

from zellik_sim import Graph
from zellik_sim.files import Declarations, FileFormatError, read_declarations, read_graph

EXIT_CLEAN = 0
EXIT_FOUND = 1
EXIT_USAGE = 2
EXIT_UNFINISHED = 3


class UsageError(Exception):
    """A wrong command line or input file; main prints it and exits with 2."""


def load_graph(path: str) -> Graph:
    """The graph file at `path`; UsageError naming the file and field otherwise."""
    try:
        return read_graph(path)
    except FileFormatError as error:
        raise UsageError(str(error)) from None
    except OSError as error:
        raise UsageError(f"{path}: {error.strerror or error}") from None


def load_declarations(path: str | None) -> Declarations:
    """The declarations file at `path` (none when None)."""
    if path is None:
        return Declarations()
    try:
        return read_declarations(path)
    except FileFormatError as error:
        raise UsageError(str(error)) from None
    except OSError as error:
        raise UsageError(f"{path}: {error.strerror or error}") from None


def load_json(path: str) -> Any:
    """Any JSON file, for commands that read several kinds."""
    try:
        with open(path, encoding="utf-8") as file:
            return json.load(file)
    except json.JSONDecodeError as error:
        raise UsageError(f"{path}: not JSON: {error.msg} at line {error.lineno}, column {error.colno}") from None
    except OSError as error:
        raise UsageError(f"{path}: {error.strerror or error}") from None


def write_output(text: str, path: str | None) -> None:
    """`text` to the file `path`, or to standard output for None or '-'."""
    if path is None or path == "-":
        sys.stdout.write(text)
        return
    try:
        with open(os.fspath(path), "w", encoding="utf-8") as file:
            file.write(text)
    except OSError as error:
        raise UsageError(f"{path}: {error.strerror or error}") from None
