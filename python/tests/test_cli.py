"""The command line, run in process through main(argv), and once as a program."""

from __future__ import annotations

import json
import pathlib
import shutil
import subprocess
import sys

import pytest

import zellik_sim as z
from zellik_sim.cli import main
from zellik_sim.files import Declarations, read_declarations, read_graph, write_declarations, write_graph

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
GRAPH = EXAMPLES / "fork-join.graph.json"
DECLARATIONS = EXAMPLES / "fork-join.declarations.json"


@pytest.fixture(scope="module")
def deadlock():
    sys.path.insert(0, str(EXAMPLES))
    try:
        import deadlock as module
    finally:
        sys.path.remove(str(EXAMPLES))
    return module


def run(capsys: pytest.CaptureFixture[str], *argv: str | pathlib.Path) -> tuple[int, str, str]:
    code = main([str(a) for a in argv])
    out, err = capsys.readouterr()
    return code, out, err


def test_example_files_are_the_example_graph(deadlock):
    # The files the guide explores are the graph and declarations of examples/deadlock.py.
    assert read_graph(GRAPH).to_dict() == deadlock.build_graph().to_dict()
    declarations = read_declarations(DECLARATIONS)
    assert declarations.behaviours == deadlock.BEHAVIOURS
    assert declarations.injections == [z.Injection(z.PacketLocation.edge(deadlock.FEED_EDGE), 4)]


def test_explore_finds_the_stuck_state_and_its_run_replays(capsys, tmp_path):
    recording = tmp_path / "stuck.jsonl"
    code, out, _ = run(capsys, "explore", GRAPH, "-d", DECLARATIONS, "--record", recording, "--run")
    assert code == 1
    assert "stuck" in out and "batch.two never holds" in out and "its run:" in out
    code, out, _ = run(capsys, "replay", GRAPH, recording)
    assert (code, "replayed 53 calls") == (0, out.split(": ", 1)[1][:17])
    # A recording changed in one event differs, and says where.
    lines = recording.read_text().splitlines()
    record = json.loads(lines[3])
    record["events"][0]["kind"] = "PacketCreated"
    lines[3] = json.dumps(record)
    recording.write_text("\n".join(lines) + "\n")
    code, out, _ = run(capsys, "replay", GRAPH, recording)
    assert code == 1 and "line 4" in out


def test_explore_exit_codes_say_clean_found_or_open(capsys, tmp_path, deadlock):
    roomy = tmp_path / "roomy.json"
    write_graph(deadlock.build_graph(2), roomy)
    assert run(capsys, "explore", roomy, "-d", DECLARATIONS)[0] == 0
    code, out, _ = run(capsys, "explore", roomy, "-d", DECLARATIONS, "--max-states", "5")
    assert code == 3 and "stopped by the states limit with " in out and " states left unexplored" in out
    # --strict: join has input conditions and no behaviour in the file.
    code, _, err = run(capsys, "explore", roomy, "-d", DECLARATIONS, "--strict")
    assert code == 2 and "node 'join' has input salvo conditions and no declared behaviour" in err
    # Injections from the command line add to the file's.
    none = tmp_path / "none.json"
    write_declarations(Declarations(deadlock.BEHAVIOURS), none)
    code, out, _ = run(capsys, "explore", roomy, "-d", none, "-i", "feed.out->split.in=3")
    assert code == 1 and "stuck" in out
    code, out, _ = run(capsys, "explore", roomy, "-d", none, "-i", "split.in=2", "--json")
    result = z.ExplorationResult.from_dict(json.loads(out))
    assert code == 0 and result.finished and result.counts["clean"] >= 1


def test_usage_and_file_errors_exit_2_naming_the_field(capsys, tmp_path):
    data = json.loads(GRAPH.read_text())
    data["nodes"][2]["in_ports"]["in"]["capacity"] = -1
    bad = tmp_path / "bad.json"
    bad.write_text(json.dumps(data))
    code, _, err = run(capsys, "explore", bad)
    assert code == 2 and f"{bad}: nodes[2].in_ports.in.capacity: out of range" in err
    assert run(capsys, "explore", tmp_path / "missing.json")[0] == 2
    for spec in ("split.in", "split.in=x", "nowhere=1", "a.b->c=1"):
        code, _, err = run(capsys, "explore", GRAPH, "-i", spec)
        assert code == 2 and "--inject" in err
    code, _, err = run(capsys, "explore", GRAPH, "-i", "nosuch.in=1")
    assert code == 2 and "nosuch" in err
    assert run(capsys)[0] == 2
    assert run(capsys, "explore", GRAPH, "--max-states", "0")[0] == 2


def test_draw_writes_dot_of_graphs_and_states(capsys, tmp_path):
    code, out, _ = run(capsys, "draw", GRAPH)
    assert code == 0 and out.startswith("digraph") and "batch" in out
    result = tmp_path / "result.json"
    assert run(capsys, "explore", GRAPH, "-d", DECLARATIONS, "-o", result)[0] == 1
    code, out, _ = run(capsys, "draw", result)
    stuck = z.ExplorationResult.from_dict(json.loads(result.read_text())).stuck[0]
    assert code == 0 and out == stuck.to_dot()
    # The blocked nodes and the conditions they wait on are marked.
    assert "stuck: 2 blocked nodes" in out and "<B>batch</B><BR/><FONT COLOR=\"#a01010\"><B>blocked</B>" in out
    assert "in: two (waits)" in out and "in: pair (waits)" in out and "in: take (waits)" not in out
    assert run(capsys, "draw", result, "--terminal", "99")[0] == 2
    if shutil.which("dot"):
        picture = tmp_path / "stuck.png"
        assert run(capsys, "draw", result, "-o", picture)[0] == 0
        assert picture.read_bytes().startswith(b"\x89PNG")


def test_the_program_runs(tmp_path):
    done = subprocess.run([sys.executable, "-m", "zellik_sim", "explore", str(GRAPH), "-d", str(DECLARATIONS)],
                          capture_output=True, text=True, timeout=120, check=False)
    assert done.returncode == 1, done.stderr
    assert "first stuck state" in done.stdout
