"""The word-count example on every backend: the same counts, epochs and
outputs inline, on threads, in processes, on an event loop and on a local
Dask cluster (one cluster for the whole module: it takes seconds to start)."""

from __future__ import annotations

import collections
import io
import multiprocessing
import pathlib
import re
import subprocess
import sys
from collections.abc import Iterator
from typing import Any

import pytest

from zellik_sim.runtime import AsyncIO, Backend, Dask, Inline, Processes, Runtime, Threads

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLE = ROOT / "examples" / "wordcount.py"
sys.path.insert(0, str(EXAMPLE.parent))

import wordcount  # noqa: E402

FILES = wordcount.stdlib_files(12)


def expected_counts() -> dict[str, int]:
    """The oracle: every file read and counted directly."""
    total: collections.Counter[str] = collections.Counter()
    for path in FILES:
        total.update(wordcount.WORD.findall(pathlib.Path(path).read_text(encoding="utf-8", errors="replace")))
    return dict(total)


def _awaiting(name: str) -> Any:
    async def handler(inputs: dict[str, list[Any]]) -> Any:
        return wordcount.HANDLERS[name](inputs)

    return handler


ASYNC_HANDLERS = {name: _awaiting(name) for name in wordcount.HANDLERS}


@pytest.fixture(scope="module")
def dask_client() -> Iterator[Any]:
    distributed = pytest.importorskip("dask.distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=":0") as cluster, distributed.Client(cluster) as client:
        yield client


@pytest.fixture(scope="module")
def inline_run() -> tuple[dict[str, int], Any]:
    return wordcount.count_words(FILES)


def processes() -> Processes:
    """A pool whose workers come from a fork server: this process runs the
    Dask client's threads, and forking a process with threads can deadlock
    the child."""
    return Processes(2, mp_context=multiprocessing.get_context("forkserver"))


def backends(dask_client: Any) -> list[Backend]:
    return [Threads(4), processes(), AsyncIO(limit=3), Dask(dask_client)]


def test_inline_counts_every_word_of_the_files(inline_run: tuple[dict[str, int], Any]) -> None:
    counts, result = inline_run
    assert counts == expected_counts()
    assert result.ok and list(result.outputs) == ["merge.out.total"]
    epochs = result.stats.epochs
    assert epochs["read"] == epochs["split"] == len(FILES) and epochs["merge"] == 1
    assert epochs["batch"] == epochs["count"] == -(-len(FILES) // wordcount.BATCH)


def test_every_backend_gives_the_inline_run(dask_client: Any, inline_run: tuple[dict[str, int], Any]) -> None:
    counts, inline = inline_run
    for backend in backends(dask_client):
        handlers = ASYNC_HANDLERS if isinstance(backend, AsyncIO) else wordcount.HANDLERS
        with Runtime(wordcount.build_graph(), handlers, backend=backend, flush=wordcount.FLUSH) as runtime:
            result = runtime.run({"read": FILES})
        assert result.outputs == inline.outputs, backend
        assert (result.stats.epochs, result.stats.steps, result.stats.rounds, result.stats.high_water) == (
            inline.stats.epochs, inline.stats.steps, inline.stats.rounds, inline.stats.high_water), backend


class Unpicklable(Exception):
    def __reduce__(self) -> Any:
        raise TypeError("not this one")


def raises_for_odd(inputs: dict[str, list[Any]]) -> dict[str, list[Any]]:
    (x,) = inputs["in"]
    if x % 2:
        raise (Unpicklable if x == 3 else ValueError)(f"odd {x}")
    return {"out": [x]}


def same(inputs: dict[str, list[Any]]) -> dict[str, list[Any]]:
    return {"out": inputs["in"]}


def add(inputs: dict[str, list[Any]]) -> dict[str, list[Any]]:
    return {"out": [sum(inputs["in"])]}


def total(inputs: dict[str, list[Any]]) -> dict[str, list[Any]]:
    return {"total": [sorted(inputs["in"])]}


def test_failures_come_back_from_workers(dask_client: Any) -> None:
    graph = wordcount.build_graph()
    handlers = {"read": raises_for_odd, "split": same, "batch": add, "count": same, "merge": total}
    for backend in [Inline(), processes(), Dask(dask_client)]:
        with Runtime(graph, handlers, backend=backend, on_error="continue", flush=wordcount.FLUSH) as runtime:
            result = runtime.run({"read": range(8)})
        assert result.outputs == {"merge.out.total": [[0 + 2 + 4 + 6]]}, backend
        assert [(f.node, f.inputs) for f in result.failures] == [("read", {"in": [x]}) for x in (1, 3, 5, 7)]
        errors = [f.error for f in result.failures]
        assert all("raises_for_odd" in f.traceback for f in result.failures)
        if isinstance(backend, Inline):
            assert [type(e) for e in errors] == [ValueError, Unpicklable, ValueError, ValueError]
        else:  # an error that does not pickle comes back as a RuntimeError naming it
            assert [type(e) for e in errors] == [ValueError, RuntimeError, ValueError, ValueError]
            assert str(errors[1]) == "Unpicklable: odd 3"


def test_a_process_pool_refuses_handlers_that_do_not_pickle() -> None:
    handlers = {**wordcount.HANDLERS, "count": lambda i: {"out": i["in"]}}
    with pytest.raises(ValueError, match="the handler of node 'count' does not pickle"):
        Runtime(wordcount.build_graph(), handlers, backend=Processes(2))


def test_progress_shows_the_epochs_run(capsys: pytest.CaptureFixture[str]) -> None:
    pytest.importorskip("rich")
    with Runtime(wordcount.build_graph(), wordcount.HANDLERS, flush=wordcount.FLUSH) as runtime:
        runtime.run({"read": FILES[:2]}, progress=True)
    assert re.search(r"running.*\b7 epochs", capsys.readouterr().out)


def test_the_example_prints_the_counts_inline_and_on_dask(dask_client: Any) -> None:
    address = dask_client.scheduler.address
    result = subprocess.run([sys.executable, str(EXAMPLE), "--files", "5", "--top", "3", "--dask", address],
                            capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stdout + result.stderr
    first, *top, epochs, dask = result.stdout.splitlines()
    assert re.match(r"5 files, \d+ words, \d+ distinct; 13 epochs in \d+ rounds, \d+ steps", first)
    assert len(top) == 3 and epochs == "epochs per node: read 5, split 5, batch 1, count 1, merge 1"
    assert re.fullmatch(rf"on the Dask cluster {address}: [\d.]+ s, the same counts", dask)


def test_a_run_records_into_a_stream() -> None:
    out = io.StringIO()
    with Runtime(wordcount.build_graph(), wordcount.HANDLERS, flush=wordcount.FLUSH, seed=5) as runtime:
        runtime.run({"read": FILES[:3]}, record=out)
    import recording  # noqa: PLC0415 - beside the example

    lines = out.getvalue().splitlines()
    assert recording.replay(wordcount.build_graph(), iter(lines)) == len(lines) - 1
