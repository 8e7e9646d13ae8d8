"""A progress bar of an exploration, drawn by rich when it is installed.

``NetSim.explore(progress=True)`` writes a line a second to ``sys.stderr``
("explore: N states, T transitions, R states/s, depth D"). While a bar is
shown, those lines are read into it instead; any other text written to
standard error goes through unchanged. Without rich, or when standard
error is not a terminal, there is no bar and nothing is written.
"""

from __future__ import annotations

import contextlib
import importlib
import re
import sys
from collections.abc import Iterator
from typing import Any, TextIO, cast

_LINE = re.compile(r"^explore: (\d+) states, (\d+) transitions, (\d+) states/s, depth (\d+)$")


class _Sink:
    """Stands for sys.stderr: progress lines move the bar, the rest passes."""

    def __init__(self, bar: Any, task: Any, stream: TextIO) -> None:
        self._bar = bar
        self._task = task
        self._stream = stream
        self._pending = ""

    def write(self, text: str) -> int:
        self._pending += text
        while "\n" in self._pending:
            line, self._pending = self._pending.split("\n", 1)
            match = _LINE.match(line)
            if match:
                states, transitions, rate, depth = match.groups()
                self._bar.update(self._task, completed=int(states),
                                 description=f"exploring: {transitions} transitions, depth {depth}, {rate} states/s")
            else:
                self._stream.write(line + "\n")
        return len(text)

    def flush(self) -> None:
        self._stream.flush()


def _rich_progress() -> Any:
    try:
        return importlib.import_module("rich.progress")
    except ImportError:
        return None


@contextlib.contextmanager
def exploration_bar(enabled: bool) -> Iterator[bool]:
    """Yields whether to call explore(progress=True): only while a bar reads it."""
    rich_progress = _rich_progress() if enabled else None
    stream = sys.stderr
    if rich_progress is None or not stream.isatty():
        yield False
        return
    columns = (rich_progress.SpinnerColumn(), rich_progress.TextColumn("{task.completed} states"),
               rich_progress.TextColumn("{task.description}"), rich_progress.TimeElapsedColumn())
    console = importlib.import_module("rich.console").Console(file=stream)
    with rich_progress.Progress(*columns, console=console, transient=True) as bar:
        task = bar.add_task("exploring", total=None)
        with contextlib.redirect_stderr(cast(TextIO, _Sink(bar, task, stream))):
            yield True
