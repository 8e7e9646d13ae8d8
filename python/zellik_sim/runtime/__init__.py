"""Run a graph with a Python handler per node: inline, on threads, in worker
processes, as ``async def`` handlers on an event loop, or on a Dask cluster.

The net stays with the driver: it steps the net until blocked, gives every
startable epoch's input payloads to the node's handler on the backend, and
executes each epoch with what its handler emitted, all or nothing (in one
call on the net, ``NetSim.execute``), keeping each
payload beside its packet's id. What leaves the net
through output ports no edge leaves is the run's output.
"""

from zellik_sim.runtime._backends import AsyncIO, Backend, Dask, Inline, Processes, Threads
from zellik_sim.runtime._net import execute_by_actions
from zellik_sim.runtime._runtime import Runtime
from zellik_sim.runtime._values import (
    Emit,
    HandlerFailed,
    HandlerFailure,
    Retry,
    RunResult,
    RunStats,
    declare_outcomes,
)

__all__ = [
    "AsyncIO", "Backend", "Dask", "Emit", "HandlerFailed", "HandlerFailure", "Inline", "Processes",
    "Retry", "RunResult", "RunStats", "Runtime", "Threads", "declare_outcomes", "execute_by_actions",
]
