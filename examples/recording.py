"""Replay a recorded run of examples/pipeline.py against a fresh net.

The recorder and the replay live in the package (``zellik_sim.recording``);
this example replays a trace of the pipeline's graph, which it builds in
code. ``zellik-sim replay GRAPH TRACE`` does the same for a graph file.

    python examples/recording.py TRACE.jsonl   # replays a trace of examples/pipeline.py
"""

from __future__ import annotations

import pathlib
import sys

from zellik_sim.recording import Mismatch, Recorder, replay

__all__ = ["Mismatch", "Recorder", "main", "replay"]


def main(argv: list[str]) -> int:
    if len(argv) != 2:
        print((__doc__ or "").strip().splitlines()[-1].strip(), file=sys.stderr)
        return 2
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
    from pipeline import build_graph

    with open(argv[1], encoding="utf-8") as lines:
        try:
            calls = replay(build_graph(), lines)
        except Mismatch as mismatch:
            print(f"replay differs: {mismatch}")
            return 1
    print(f"replayed {calls} calls: every response and event matches")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
