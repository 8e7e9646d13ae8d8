#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into core/fuzz/corpus/.

fuzz_actions: for every graph of the zoo, a few runs written out call by
call (a packet travels in, an epoch starts, creates, loads and sends, the
epoch finishes, actions are undone in and out of order, the net is forked),
and a few seeded random runs. fuzz_snapshot: the snapshots those runs end in,
made by replaying them with the replay program of a test build (which
writes each final state when ZELLIK_FUZZ_SAVE_SNAPSHOTS names a folder).

Usage: python3 scripts/make_fuzz_corpus.py [BUILD_DIR]   (default build/core)
Seeds are named seed-*; inputs kept from findings (other names) stay.
"""

import os
import pathlib
import random
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parents[1]
CORPUS = ROOT / "core" / "fuzz" / "corpus"
GRAPHS = 5  # testkit::graph_zoo()

# Call numbers of action_run.h's Run::run, each followed by its choices.
RUN_STEP, CREATE, CREATE_IN, CONSUME, DESTROY, START, FINISH, CANCEL = 0, 2, 3, 4, 5, 6, 7, 8
CREATE_EPOCH, LOAD, SEND, TRANSPORT, REQUEST, RUN, UNDO, UNDO_OLDER, UNDO_ALTERED, FORK = (
    9, 10, 11, 12, 13, 14, 15, 16, 17, 18)

# Runs written out call by call; a choice byte picks among what the run
# has made so far, so small numbers name the first packets and epochs.
SCRIPTS = [
    # A packet onto an edge or port, steps, the epoch it starts runs,
    # creates a packet, loads and sends it, and finishes; then undo.
    [CREATE, TRANSPORT, 0, 0, RUN_STEP, RUN_STEP, START, 0, CREATE_IN, 0, LOAD, 1, 0, 0, SEND, 0, 1,
     FINISH, 0, UNDO, UNDO, UNDO_OLDER, 0, FORK, 0, RUN_STEP],
    # Epochs made by hand, cancelled with packets inside, undone out of order.
    [CREATE, TRANSPORT, 0, 1, CREATE_EPOCH, 0, 0, 0, START, 0, CREATE_IN, 0, CREATE_IN, 0,
     CANCEL, 0, UNDO_OLDER, 1, UNDO_ALTERED, 0, 0, 3, 1, FORK, 1, RUN, UNDO],
    # Requests, steps until blocked, a fork driven alongside, altered undo.
    [REQUEST, 0, 0, RUN, FORK, 0, CREATE, TRANSPORT, 0, 2, RUN, DESTROY, 0, UNDO_ALTERED, 0, 1, 0,
     2, UNDO, CONSUME, 0, RUN_STEP],
    # The fault that once broke copies: destroy a loaded packet, finish the
    # epoch, undo the destroy, then fork and move the packet on.
    [CREATE_EPOCH, 0, 0, START, 0, CREATE_IN, 0, LOAD, 0, 0, 0, DESTROY, 0, FINISH, 0, UNDO_OLDER,
     0, FORK, 0, TRANSPORT, 0, 0, UNDO, RUN_STEP],
]


def seeds() -> dict[str, bytes]:
    out = {}
    for graph in range(GRAPHS):
        for n, script in enumerate(SCRIPTS):
            out[f"seed-g{graph}-script{n}"] = bytes([graph, n] + script)
        rng = random.Random(graph)
        for n in range(3):
            out[f"seed-g{graph}-random{n}"] = bytes([graph, n]) + rng.randbytes(48)
    return out


def main() -> None:
    build = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "build" / "core"
    replay = build / "core" / "fuzz" / "fuzz_actions_replay"
    if not replay.exists():
        sys.exit(f"no {replay}: build the core tests first (bash scripts/run_tests.sh)")
    for target in ("actions", "snapshot"):
        (CORPUS / target).mkdir(parents=True, exist_ok=True)
        for old in (CORPUS / target).glob("seed-*"):
            old.unlink()
    for name, data in seeds().items():
        (CORPUS / "actions" / name).write_bytes(data)
    with tempfile.TemporaryDirectory() as snapshots:
        subprocess.run([str(replay), str(CORPUS / "actions")], check=True, stderr=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, env={**os.environ, "ZELLIK_FUZZ_SAVE_SNAPSHOTS": snapshots})
        kept = 0
        for path in sorted(pathlib.Path(snapshots).iterdir()):
            (CORPUS / "snapshot" / f"seed-{path.name}").write_bytes(path.read_bytes())
            kept += 1
    print(f"wrote {len(seeds())} action seeds and {kept} snapshot seeds into {CORPUS}")


if __name__ == "__main__":
    main()
