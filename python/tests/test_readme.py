"""The README's quick start and the example program run as they stand."""

import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]


def python_blocks(markdown: str) -> list[str]:
    return re.findall(r"```python\n(.*?)```", markdown, flags=re.S)


def test_readme_quick_start_runs():
    blocks = python_blocks((ROOT / "README.md").read_text())
    assert blocks, "the README has no Python quick start"
    for block in blocks:
        exec(compile(block, "README.md", "exec"), {"__name__": "readme"})


def test_example_prints_trace_and_summary():
    result = subprocess.run(
        [sys.executable, str(ROOT / "examples" / "pipeline.py")],
        capture_output=True, text=True, timeout=120, check=True,
    )
    out = result.stdout
    assert "step  1:" in out
    assert "backpressure" in out
    assert "undo:" in out
    summary = out[out.index("summary"):]
    numbers = dict(re.findall(r"packets (created|consumed|orphaned):\s+(\d+)", summary))
    assert int(numbers["created"]) > 0
    # Every packet ends up consumed by the sink or orphaned by the audit port.
    assert int(numbers["created"]) == int(numbers["consumed"]) + int(numbers["orphaned"])
