"""The type stubs agree with the built module (mypy's stubtest).

The stubs are found the way a user's type checker finds them: from the
installed wheel, with no search path set.
"""

import os
import pathlib
import subprocess
import sys

import pytest

pytest.importorskip("mypy.stubtest")

ALLOWLIST = pathlib.Path(__file__).with_name("stubtest_allowlist.txt")


def test_stubs_match_the_module(tmp_path: pathlib.Path) -> None:
    env = {k: v for k, v in os.environ.items() if k not in ("MYPYPATH", "PYTHONPATH")}
    result = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "zellik_sim", "--allowlist", str(ALLOWLIST)],
        cwd=tmp_path, env=env, capture_output=True, text=True, timeout=300,
    )
    assert result.returncode == 0, result.stdout + result.stderr
