"""Calling handlers, where they run: in the driver, on a thread, in a worker
process or on a Dask worker.

This module is what a worker imports to run a chunk of epochs, so it needs
nothing but the standard library.
"""

from __future__ import annotations

import inspect
import pickle
import time
import traceback
from collections.abc import Awaitable, Callable, Mapping, Sequence
from typing import Any, NamedTuple, cast

Handler = Callable[[dict[str, list[Any]]], Any]


class Task(NamedTuple):
    """One epoch's handler call: the node, its input payloads by port and how
    often to try again when the handler raises."""

    node: str
    inputs: dict[str, list[Any]]
    retries: int


class Done(NamedTuple):
    """What one handler call gave: its value, or the error of its last try
    with the traceback text; the seconds all tries took; the tries."""

    value: Any
    error: BaseException | None
    traceback: str
    seconds: float
    attempts: int


def call(handler: Handler, task: Task) -> Done:
    """Calls a plain handler with the task's inputs, trying again on an
    exception up to the task's retries. KeyboardInterrupt and SystemExit go
    through."""
    started = time.perf_counter()
    attempts = 0
    while True:
        attempts += 1
        try:
            value = handler(task.inputs)
        except Exception as error:  # noqa: BLE001 - the handler's errors are the run's data
            if attempts > task.retries:
                return Done(None, error, traceback.format_exc(), time.perf_counter() - started, attempts)
            continue
        return Done(value, None, "", time.perf_counter() - started, attempts)


async def call_async(handler: Callable[..., Any], task: Task) -> Done:
    """As call, for a handler that is a coroutine function (a plain one is
    called directly)."""
    started = time.perf_counter()
    attempts = 0
    while True:
        attempts += 1
        try:
            value = handler(task.inputs)
            if inspect.isawaitable(value):
                value = await cast("Awaitable[Any]", value)
        except Exception as error:  # noqa: BLE001
            if attempts > task.retries:
                return Done(None, error, traceback.format_exc(), time.perf_counter() - started, attempts)
            continue
        return Done(value, None, "", time.perf_counter() - started, attempts)


def _sendable(done: Done) -> Done:
    """The same result with an error that pickles: one that does not becomes
    a RuntimeError naming its class and message."""
    if done.error is None:
        return done
    try:
        pickle.dumps(done.error)
    except Exception:  # noqa: BLE001 - any failure to pickle
        stand_in = RuntimeError(f"{type(done.error).__name__}: {done.error}")
        return done._replace(error=stand_in)
    return done


def call_chunk(handlers: Mapping[str, Handler], tasks: Sequence[Task]) -> list[Done]:
    """Runs a chunk of tasks in a worker, in order; what it returns pickles."""
    return [_sendable(call(handlers[task.node], task)) for task in tasks]


class Chunk:
    """A chunk of tasks with the handlers they need, as one opaque value: a
    scheduler that looks inside lists and tuples for work of its own (Dask's
    does) sends it on without walking the payloads."""

    __slots__ = ("handlers", "tasks")

    def __init__(self, handlers: Mapping[str, Handler], tasks: Sequence[Task]) -> None:
        self.handlers = handlers
        self.tasks = tasks

    def __reduce__(self) -> tuple[type[Chunk], tuple[Mapping[str, Handler], Sequence[Task]]]:
        return Chunk, (self.handlers, self.tasks)

    def __call__(self) -> list[Done]:
        return call_chunk(self.handlers, self.tasks)


def run_chunk(chunk: Chunk) -> list[Done]:
    """Runs a chunk in a worker."""
    return chunk()


def chunked(tasks: Sequence[Task], chunks: int) -> list[list[Task]]:
    """The tasks in at most `chunks` runs of consecutive tasks of near-equal
    length, in order."""
    chunks = max(1, min(chunks, len(tasks)))
    size, extra = divmod(len(tasks), chunks)
    out: list[list[Task]] = []
    start = 0
    for i in range(chunks):
        end = start + size + (1 if i < extra else 0)
        out.append(list(tasks[start:end]))
        start = end
    return out
