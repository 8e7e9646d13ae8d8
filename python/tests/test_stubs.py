"""The type stubs agree with the built module (mypy's stubtest)."""

import os
import pathlib
import subprocess
import sys

import pytest

import zellik_sim

pytest.importorskip("mypy.stubtest")

STUB_DIR = pathlib.Path(__file__).resolve().parents[1]
ALLOWLIST = pathlib.Path(__file__).with_name("stubtest_allowlist.txt")


def test_stubs_match_the_module(tmp_path: pathlib.Path) -> None:
    module_dir = os.path.dirname(os.path.abspath(zellik_sim.__file__))
    env = dict(os.environ)
    env["MYPYPATH"] = str(STUB_DIR)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [module_dir, env.get("PYTHONPATH")]))
    result = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "zellik_sim", "--allowlist", str(ALLOWLIST)],
        cwd=tmp_path, env=env, capture_output=True, text=True, timeout=300,
    )
    assert result.returncode == 0, result.stdout + result.stderr


def test_stubs_type_check_a_user_program(tmp_path: pathlib.Path) -> None:
    program = tmp_path / "user.py"
    program.write_text(
        "import zellik_sim as z\n"
        "def first_epoch(net: z.NetSim) -> z.Epoch | None:\n"
        "    data, events = net.do_action(z.NetAction.run_step())\n"
        "    match data:\n"
        "        case z.NetActionResponseData.CancelledEpoch(epoch, destroyed):\n"
        "            return epoch if destroyed else None\n"
        "    ids = net.get_startable_epochs()\n"
        "    return net.get_epoch(ids[0]) if ids else None\n"
        "bad: int = z.PacketLocation.outside_net().kind\n"
    )
    env = dict(os.environ, MYPYPATH=str(STUB_DIR))
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", str(program)],
        cwd=tmp_path, env=env, capture_output=True, text=True, timeout=300,
    )
    assert result.stdout.count("error:") == 1, result.stdout
    assert 'user.py:9: error: Incompatible types in assignment (expression has type "str"' in result.stdout
