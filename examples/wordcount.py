"""Count the words of the standard library's own ``.py`` files through a graph.

    read --> split --> batch --> count --> merge --total-->

``read`` reads one file, ``split`` makes its list of words, ``batch`` joins
every BATCH lists into one, ``count`` counts a batch, and ``merge`` adds up
all the counts and sends the sum out of the net through ``total``, a port
no edge leaves: the run's output. ``batch`` and ``merge`` are flushed: once
nothing else can happen, ``batch`` takes the lists left over as a last
batch, and then ``merge`` (whose own condition never holds) takes every
count.

The handlers are plain functions; the runtime runs them inline, or on a
local Dask cluster (``--dask``, two worker processes; install the ``dask``
extra: ``pip install 'zellik_sim[dask]'``), or on an existing cluster
(``--dask ADDRESS``; zellik_sim installed on its workers), with the same
counts. By
default a few files are read, so the example is quick; ``--all`` reads every
``.py`` file of the standard library.

    python examples/wordcount.py
    python examples/wordcount.py --files 200 --dask
    python examples/wordcount.py --dask tcp://scheduler:8786
    python examples/wordcount.py --all --picture wordcount.png
"""

from __future__ import annotations

import argparse
import collections
import contextlib
import importlib
import pathlib
import re
import subprocess
import sys
import sysconfig
import time
from collections.abc import Sequence
from typing import Any

from zellik_sim import (
    Edge,
    Graph,
    MaxSalvos,
    Node,
    PacketCount,
    Port,
    PortRef,
    PortState,
    PortType,
    SalvoCondition,
    SalvoConditionTerm,
)
from zellik_sim.runtime import Backend, Dask, RunResult, Runtime

# --dask without an address: a local cluster.
LOCAL = "local"
# Word lists that wait together at `batch` are joined, up to this many.
BATCH = 8
WORD = re.compile(r"[A-Za-z_][A-Za-z_0-9]*")


def _take(n: int) -> SalvoCondition:
    """An input condition: when the port holds `n` packets, take them."""
    return SalvoCondition(MaxSalvos.finite(1), {"in": PacketCount.count(n)},
                          SalvoConditionTerm.port("in", PortState.equals_or_greater_than(n)))


def _stage(name: str, take: SalvoCondition, out: str = "out") -> Node:
    send = SalvoCondition(MaxSalvos.Infinite, out, SalvoConditionTerm.port(out, PortState.NonEmpty))
    return Node(name, in_ports={"in": Port()}, out_ports={out: Port()},
                in_salvo_conditions={"take": take}, out_salvo_conditions={"send": send})


def build_graph(batch: int = BATCH) -> Graph:
    """The five stages in a line; `merge` sends its sum out through `total`."""
    never = SalvoCondition(MaxSalvos.finite(1), {"in": PacketCount.All}, SalvoConditionTerm.false_())
    nodes = [_stage("read", _take(1)), _stage("split", _take(1)), _stage("batch", _take(batch)),
             _stage("count", _take(1)), _stage("merge", never, out="total")]
    edges = [Edge(PortRef(a.name, PortType.Output, "out"), PortRef(b.name, PortType.Input, "in"))
             for a, b in zip(nodes, nodes[1:])]
    return Graph(nodes, edges)


# The handlers: each takes its epoch's payloads by input port and returns
# the payloads per output port.

def read(inputs: dict[str, list[Any]]) -> dict[str, list[Any]]:
    return {"out": [pathlib.Path(path).read_text(encoding="utf-8", errors="replace") for path in inputs["in"]]}


def split(inputs: dict[str, list[Any]]) -> dict[str, list[Any]]:
    return {"out": [WORD.findall(text) for text in inputs["in"]]}


def batch(inputs: dict[str, list[Any]]) -> dict[str, list[Any]]:
    return {"out": [[word for words in inputs["in"] for word in words]]}


def count(inputs: dict[str, list[Any]]) -> dict[str, list[Any]]:
    batches: list[list[str]] = inputs["in"]
    return {"out": [dict(collections.Counter(words)) for words in batches]}


def merge(inputs: dict[str, list[Any]]) -> dict[str, list[Any]]:
    total: collections.Counter[str] = collections.Counter()
    for counts in inputs["in"]:
        total.update(counts)
    return {"total": [dict(total)]}


HANDLERS = {"read": read, "split": split, "batch": batch, "count": count, "merge": merge}
# The nodes whose waiting inputs are taken once the rest is done, in order.
FLUSH = ["batch", "merge"]


def stdlib_files(limit: int | None) -> list[str]:
    """The standard library's .py files in name order: the first `limit`
    of its own folder, or (None) every one below it."""
    root = pathlib.Path(sysconfig.get_paths()["stdlib"])
    if limit is None:
        found = sorted(p for p in root.rglob("*.py") if "site-packages" not in p.parts)
    else:
        found = sorted(root.glob("*.py"))[:limit]
    return [str(p) for p in found]


def count_words(files: Sequence[str], backend: Backend | None = None, **run: Any) -> tuple[dict[str, int], RunResult]:
    """Counts the words of `files` on `backend`; the counts and the run."""
    with Runtime(build_graph(), HANDLERS, backend=backend, flush=FLUSH) as runtime:
        result = runtime.run({"read": files}, **run)
    total: collections.Counter[str] = collections.Counter()
    for counts in result.outputs.get("merge.out.total", []):
        total.update(counts)
    return dict(total), result


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="Count the words of the standard library's .py files.")
    parser.add_argument("--files", type=int, default=24, help="files of the standard library's folder (default 24)")
    parser.add_argument("--all", action="store_true", help="every .py file below the standard library's folder")
    parser.add_argument("--dask", nargs="?", const=LOCAL, metavar="ADDRESS",
                        help="also run on the Dask cluster at ADDRESS, or without one on a local cluster of 2 workers")
    parser.add_argument("--top", type=int, default=10, help="words to show (default 10)")
    parser.add_argument("--picture", metavar="PNG", help="draw the graph with Graphviz's dot")
    args = parser.parse_args(argv)

    files = stdlib_files(None if args.all else args.files)
    started = time.perf_counter()
    counts, result = count_words(files)
    seconds = time.perf_counter() - started
    stats = result.stats
    print(f"{len(files)} files, {sum(counts.values())} words, {len(counts)} distinct; "
          f"{stats.total_epochs} epochs in {stats.rounds} rounds, {stats.steps} steps, {seconds:.2f} s inline")
    for word, n in sorted(counts.items(), key=lambda item: (-item[1], item[0]))[:args.top]:
        print(f"{n:>9}  {word}")
    print("epochs per node: " + ", ".join(f"{node} {n}" for node, n in stats.epochs.items()))
    ok = result.ok
    if args.dask:
        # Dask is optional, and partly untyped: reach it as a plain module.
        try:
            distributed: Any = importlib.import_module("dask.distributed")
        except ImportError:
            print("--dask needs Dask distributed: pip install 'zellik_sim[dask]'", file=sys.stderr)
            return 2
        with contextlib.ExitStack() as stack:
            if args.dask == LOCAL:
                where = "a local Dask cluster of 2 workers"
                cluster: Any = stack.enter_context(distributed.LocalCluster(
                    n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0"))
            else:
                where, cluster = f"the Dask cluster {args.dask}", args.dask
            client = stack.enter_context(distributed.Client(cluster))
            started = time.perf_counter()
            on_dask, dask_result = count_words(files, Dask(client))
            seconds = time.perf_counter() - started
        same = on_dask == counts
        print(f"on {where}: {seconds:.2f} s, {'the same counts' if same else 'DIFFERENT COUNTS'}")
        ok = ok and same and dask_result.ok
    if args.picture:
        subprocess.run(["dot", "-Tpng", "-o", args.picture], input=build_graph().to_dot().encode(), check=True)
        print(f"the graph: {args.picture}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
