"""Type checkers find the installed stubs with no configuration, and the
README quick start, the examples and the Python benchmark type-check under
`mypy --strict` and pyright, from outside the source tree."""

import json
import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]

# Each action constructor is known to give its own response variant.
RESPONSE_TYPES = '''
from typing_extensions import assert_type
from zellik_sim import Graph, NetAction, NetActionResponseData as R, NetEvent, NetSim, Salvo

net = NetSim(Graph([], []))
assert_type(net.do_action(NetAction.run_step())[0], R.StepResult)
assert_type(net.do_action(NetAction.create_packet())[0], R.Packet)
assert_type(net.do_action(NetAction.create_epoch("n", Salvo("c", [])))[0], R.CreatedEpoch)
assert_type(net.do_action(NetAction.start_epoch("e"))[0], R.StartedEpoch)
assert_type(net.do_action(NetAction.finish_epoch("e"))[0], R.FinishedEpoch)
assert_type(net.do_action(NetAction.cancel_epoch("e"))[0], R.CancelledEpoch)
assert_type(net.do_action(NetAction.consume_packet("p"))[0], R.Empty)
assert_type(net.do_action(NetAction.create_request("n", "l"))[1], list[NetEvent])

def any_action(action: NetAction) -> R:
    data, events = net.do_action(action)
    net.undo_action(action, events)
    return data

def packet_action(action: NetAction[R.Packet]) -> str:
    return net.do_action(action)[0].packet_id

any_action(NetAction.create_packet())
packet_action(NetAction.create_packet())

# An interrupted exploration's partial result is typed.
from zellik_sim import ExplorationInterrupted, ExplorationResult, TerminalState
try:
    found = net.explore()
except ExplorationInterrupted as interrupted:
    found = interrupted.result
assert_type(found, ExplorationResult)
assert_type(TerminalState.from_dict(found.terminals[0].to_dict()), TerminalState)
'''

# The runtime's values and handlers are typed: a handler may be plain or
# async, and what a run gives back is known field by field.
RUNTIME_TYPES = '''
from typing import Any
from typing_extensions import assert_type
from zellik_sim import ExplorationResult, Graph, Outcome, TerminalState
from zellik_sim.runtime import (
    AsyncIO, Emit, HandlerFailed, HandlerFailure, Retry, RunResult, Runtime, Threads, declare_outcomes,
)

@declare_outcomes(Outcome(creates={"out": 1}, sends=["send"]))
def plain(inputs: dict[str, list[Any]]) -> dict[str, list[Any]]:
    return {"out": inputs["in"]}

async def waits(inputs: dict[str, list[Any]]) -> Emit:
    return Emit({"out": inputs["in"]}, sends=["send"])

with Runtime(Graph([], []), {"a": plain}, backend=Threads(2), on_error=Retry(2, "continue")) as runtime:
    try:
        result = runtime.run({"a.in.in": [1, 2]}, record="run.jsonl")
    except HandlerFailed as failed:
        assert_type(failed.failure, HandlerFailure)
        result = failed.result
    assert_type(result, RunResult)
    assert_type(result.outputs, dict[str, list[Any]])
    assert_type(result.stats.handler_seconds, dict[str, float])
    assert_type(result.stuck, TerminalState | None)
    assert_type(runtime.check(packets=2, max_states=100), ExplorationResult)
Runtime(Graph([], []), {"a": waits}, backend=AsyncIO(limit=4))
'''


def checked_files(tmp_path: pathlib.Path) -> list[str]:
    blocks = re.findall(r"```python\n(.*?)```", (ROOT / "README.md").read_text(), flags=re.S)
    files = [tmp_path / "readme_quick_start.py", tmp_path / "response_types.py", tmp_path / "runtime_types.py"]
    files[0].write_text("\n".join(blocks))
    files[1].write_text(RESPONSE_TYPES)
    files[2].write_text(RUNTIME_TYPES)
    files += sorted((ROOT / "examples").glob("*.py"))
    files += [ROOT / "bench" / "python_api_bench.py", ROOT / "bench" / "runtime_bench.py"]
    return [str(f) for f in files]


def run_checker(command: list[str], cwd: pathlib.Path) -> subprocess.CompletedProcess[str]:
    env = {k: v for k, v in os.environ.items() if k not in ("MYPYPATH", "PYTHONPATH")}
    return subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True, timeout=600)


def test_mypy_strict(tmp_path: pathlib.Path) -> None:
    pytest.importorskip("mypy")
    result = run_checker(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--python-executable",
         sys.executable, *checked_files(tmp_path)], tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_pyright(tmp_path: pathlib.Path) -> None:
    checker = shutil.which("basedpyright", path=os.path.dirname(sys.executable))
    if checker is None:
        pytest.skip("basedpyright is not installed")
    # The checker's strict mode, like mypy's; nothing tells it where the stubs are.
    # The examples import one another, as they do when run from their folder.
    config = {"typeCheckingMode": "strict", "extraPaths": [str(ROOT / "examples")]}
    (tmp_path / "pyrightconfig.json").write_text(json.dumps(config))
    result = run_checker([checker, "--pythonpath", sys.executable, *checked_files(tmp_path)], tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_mypy_reports_a_wrong_response_type(tmp_path: pathlib.Path) -> None:
    # The precise types are worth something only if mistakes are caught.
    pytest.importorskip("mypy")
    script = tmp_path / "wrong.py"
    script.write_text(
        "from zellik_sim import Graph, NetAction, NetSim\n"
        "data, _ = NetSim(Graph([], [])).do_action(NetAction.consume_packet('p'))\n"
        "print(data.packet_id)\n")
    result = run_checker([sys.executable, "-m", "mypy", "--strict", "--no-incremental", str(script)],
                         tmp_path)
    assert result.returncode == 1
    assert '"Empty" has no attribute "packet_id"' in result.stdout
