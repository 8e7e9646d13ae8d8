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

