"""Where handlers run. Every backend takes a round's tasks and gives back one
result per task, in task order; the net stays with the driver, so the same
input gives the same run on every backend."""

from __future__ import annotations

import asyncio
import concurrent.futures
import inspect
import multiprocessing.context
import os
import pickle
import traceback
from collections.abc import Callable, Mapping, Sequence
from concurrent.futures.process import BrokenProcessPool
from typing import Any

from zellik_sim.runtime._tasks import Chunk, Done, Handler, Task, call, call_async, call_chunk, chunked, run_chunk
from zellik_sim.runtime._values import check_count


class Backend:
    """Runs a round of handler calls. Subclasses define ``run``; ``close``
    lets go of pools (a backend is also a context manager)."""

    #: Whether the backend runs ``async def`` handlers.
    runs_coroutines = False
    #: Whether handlers travel by the standard pickle (to worker processes).
    pickles_handlers = False

    def run(self, handlers: Mapping[str, Handler], tasks: Sequence[Task]) -> list[Done]:
        raise NotImplementedError

    def close(self) -> None:
        """Lets go of what the backend started. Idempotent."""

    def __enter__(self) -> Backend:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()


class Inline(Backend):
    """Calls each handler in the driver's thread, one after the other."""

    def run(self, handlers: Mapping[str, Handler], tasks: Sequence[Task]) -> list[Done]:
        return [call(handlers[task.node], task) for task in tasks]

    def __repr__(self) -> str:
        return "Inline()"


class Threads(Backend):
    """Calls handlers on a pool of ``workers`` threads: for handlers that wait
    (on files, the network, a subprocess) or release the interpreter lock."""

    def __init__(self, workers: int | None = None) -> None:
        check_count("Threads", "workers", workers, 1, none=True)
        self.workers = workers
        self._pool: concurrent.futures.ThreadPoolExecutor | None = None

    def run(self, handlers: Mapping[str, Handler], tasks: Sequence[Task]) -> list[Done]:
        if self._pool is None:
            self._pool = concurrent.futures.ThreadPoolExecutor(self.workers, thread_name_prefix="zellik-handler")
        pool = self._pool
        futures = [pool.submit(call, handlers[task.node], task) for task in tasks]
        return [future.result() for future in futures]

    def close(self) -> None:
        if self._pool is not None:
            self._pool.shutdown()
            self._pool = None

    def __repr__(self) -> str:
        return f"Threads(workers={self.workers!r})"


def _chunk_failure(error: BaseException, tasks: Sequence[Task]) -> list[Done]:
    """Every task of a chunk that could not be run or sent back fails with
    the error that stopped it."""
    text = "".join(traceback.format_exception(type(error), error, error.__traceback__))
    return [Done(None, error, text, 0.0, 1) for _ in tasks]


class Processes(Backend):
    """Calls handlers in a pool of ``workers`` processes (CPU-bound handlers).

    Handlers, inputs and what they emit must pickle. A round's tasks go out
    in a few chunks per worker, so a cheap handler does not pay a process
    round trip per epoch.
    """

    pickles_handlers = True

    def __init__(self, workers: int | None = None, *, chunks_per_worker: int = 4,
                 mp_context: multiprocessing.context.BaseContext | None = None) -> None:
        check_count("Processes", "workers", workers, 1, none=True)
        check_count("Processes", "chunks_per_worker", chunks_per_worker, 1)
        self.workers = workers or os.cpu_count() or 1
        self.chunks_per_worker = chunks_per_worker
        self.mp_context = mp_context
        self._pool: concurrent.futures.ProcessPoolExecutor | None = None

    def run(self, handlers: Mapping[str, Handler], tasks: Sequence[Task]) -> list[Done]:
        if self._pool is None:
            self._pool = concurrent.futures.ProcessPoolExecutor(self.workers, mp_context=self.mp_context)
        pool = self._pool
        chunks = chunked(tasks, self.workers * self.chunks_per_worker)
        futures = [pool.submit(call_chunk, {t.node: handlers[t.node] for t in chunk}, chunk) for chunk in chunks]
        out: list[Done] = []
        for chunk, future in zip(chunks, futures):
            try:
                out += future.result()
            except BrokenProcessPool:
                raise
            except Exception as error:  # noqa: BLE001 - a chunk that did not pickle, say
                out += _chunk_failure(error, chunk)
        return out

    def close(self) -> None:
        if self._pool is not None:
            self._pool.shutdown()
            self._pool = None

    def __repr__(self) -> str:
        return f"Processes(workers={self.workers!r})"


class AsyncIO(Backend):
    """Runs ``async def`` handlers (and plain ones) on an event loop of its
    own, a round's calls side by side; ``limit`` caps the calls in flight."""

    runs_coroutines = True

    def __init__(self, limit: int | None = None) -> None:
        check_count("AsyncIO", "limit", limit, 1, none=True)
        self.limit = limit
        self._loop: asyncio.AbstractEventLoop | None = None

    async def _round(self, handlers: Mapping[str, Callable[..., Any]], tasks: Sequence[Task]) -> list[Done]:
        if self.limit is None:
            return list(await asyncio.gather(*(call_async(handlers[t.node], t) for t in tasks)))
        gate = asyncio.Semaphore(self.limit)

        async def one(task: Task) -> Done:
            async with gate:
                return await call_async(handlers[task.node], task)

        return list(await asyncio.gather(*(one(t) for t in tasks)))

    def run(self, handlers: Mapping[str, Handler], tasks: Sequence[Task]) -> list[Done]:
        if self._loop is None:
            self._loop = asyncio.new_event_loop()
        return self._loop.run_until_complete(self._round(handlers, tasks))

    def close(self) -> None:
        if self._loop is not None:
            self._loop.run_until_complete(self._loop.shutdown_asyncgens())
            self._loop.close()
            self._loop = None

    def __repr__(self) -> str:
        return f"AsyncIO(limit={self.limit!r})"


class Dask(Backend):
    """Calls handlers on the workers of a Dask ``distributed.Client``.

    Payloads travel with the tasks; the net stays with the driver. Every
    worker needs zellik_sim installed. A round goes out in a few chunks per
    worker thread.
    """

    def __init__(self, client: Any, *, chunks_per_thread: int = 2) -> None:
        check_count("Dask", "chunks_per_thread", chunks_per_thread, 1)
        self.client = client
        self.chunks_per_thread = chunks_per_thread

    def run(self, handlers: Mapping[str, Handler], tasks: Sequence[Task]) -> list[Done]:
        threads = sum(self.client.nthreads().values()) or 1
        chunks = chunked(tasks, threads * self.chunks_per_thread)
        futures = self.client.map(run_chunk, [Chunk({t.node: handlers[t.node] for t in chunk}, chunk)
                                              for chunk in chunks], pure=False)
        out: list[Done] = []
        for chunk, future in zip(chunks, futures):
            try:
                out += future.result()
            except Exception as error:  # noqa: BLE001 - the chunk's failure is each of its epochs'
                out += _chunk_failure(error, chunk)
        return out

    def __repr__(self) -> str:
        return f"Dask({self.client!r})"


def check_handlers(backend: Backend, handlers: Mapping[str, Callable[..., Any]]) -> None:
    """Refuses ``async def`` handlers on a backend that cannot await them,
    and handlers that do not pickle on one that sends them to processes."""
    for node, handler in handlers.items():
        if not backend.runs_coroutines and inspect.iscoroutinefunction(handler):
            raise ValueError(f"Runtime: the handler of node '{node}' is a coroutine function; "
                             f"run it on the AsyncIO backend")
        if backend.pickles_handlers:
            try:
                pickle.dumps(handler)
            except Exception as error:  # noqa: BLE001 - whatever stops pickling
                raise ValueError(f"Runtime: the handler of node '{node}' does not pickle ({error}); "
                                 f"{type(backend).__name__} needs handlers defined at a module's top "
                                 f"level") from error

