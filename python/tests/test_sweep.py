"""The sweep example: many nets, one per task, on a local process pool and
on a Dask distributed cluster."""

import importlib.util
import pathlib
import re
import subprocess
import sys

import pytest

SWEEP = pathlib.Path(__file__).resolve().parents[2] / "examples" / "sweep.py"
ARGS = ["--capacities", "1,4", "--batch-sizes", "1,3", "--packets", "30"]


def load_sweep():
    spec = importlib.util.spec_from_file_location("sweep", SWEEP)
    module = importlib.util.module_from_spec(spec)
    sys.modules["sweep"] = module  # dataclasses look their module up by name
    spec.loader.exec_module(module)
    return module


def run_sweep(*extra: str) -> str:
    result = subprocess.run([sys.executable, str(SWEEP), *ARGS, *extra],
                            capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stdout + result.stderr
    return result.stdout


def check_output(out: str) -> None:
    rows = re.findall(r"^\s*(\d+)\s+(\d+)\s+(\d+)\s+(\d+)\s+\d+\s+[\d.]+\s+\d+/[\d.]+\s+[\d.]+\s+\d+$",
                      out, flags=re.M)
    assert sorted((int(c), int(b)) for c, b, *_ in rows) == [(1, 1), (1, 3), (4, 1), (4, 3)]
    summary = out[out.index("summary"):]
    assert re.search(r"^capacity\s+1\s+3$", summary, flags=re.M)
    assert "runs: 4  drained: 4" in summary
    # The summary grid repeats each run's steps.
    steps = {(int(c), int(b)): s for c, b, s, _ in rows}
    for capacity in (1, 4):
        line = re.search(rf"^\s+{capacity}\s+(\d+)\s+(\d+)$", summary, flags=re.M)
        assert line and line.groups() == (steps[capacity, 1], steps[capacity, 3])


def test_each_run_drains_its_line_and_batches_respect_the_port():
    sweep = load_sweep()
    for capacity, batch in [(1, 1), (1, 4), (4, 2), (8, 8)]:
        result = sweep.simulate(sweep.Params(capacity, batch, packets=40))
        assert result.consumed == 40
        # A batch is capped by the batch size and by what the port can hold.
        assert 1 <= result.mean_batch <= min(capacity, batch)
        assert result.work_epochs >= 40 / min(capacity, batch)
    narrow = sweep.simulate(sweep.Params(1, 1, packets=40))
    wide = sweep.simulate(sweep.Params(8, 4, packets=40))
    assert narrow.work_epochs == 40 and wide.work_epochs == 10
    assert narrow.events > wide.events


def test_sweep_on_a_local_process_pool():
    check_output(run_sweep("--workers", "2"))


def test_sweep_on_a_local_dask_cluster():
    distributed = pytest.importorskip("dask.distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=":0") as cluster:
        out = run_sweep("--dask", cluster.scheduler_address)
    assert "on Dask cluster tcp://" in out
    check_output(out)
