"""A progress bar of epochs run, from rich or tqdm, whichever is installed
(the ``progress`` extra installs rich)."""

from __future__ import annotations

import contextlib
import importlib
from collections.abc import Callable, Iterator
from typing import Any


@contextlib.contextmanager
def progress_bar(description: str) -> Iterator[Callable[[int], None]]:
    """Yields a function that advances the bar by a number of epochs."""
    try:
        rich_progress: Any = importlib.import_module("rich.progress")
    except ImportError:
        rich_progress = None
    if rich_progress is not None:
        columns = (rich_progress.SpinnerColumn(), rich_progress.TextColumn("{task.description}"),
                   rich_progress.TextColumn("{task.completed} epochs"), rich_progress.TimeElapsedColumn())
        with rich_progress.Progress(*columns, transient=False) as bar:
            task = bar.add_task(description, total=None)
            yield lambda n: bar.advance(task, n)
        return
    try:
        tqdm: Any = importlib.import_module("tqdm")
    except ImportError:
        raise ImportError("progress=True needs rich or tqdm: pip install 'zellik_sim[progress]'") from None
    with tqdm.tqdm(desc=description, unit="epoch") as bar:
        yield bar.update
