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
    for given in ("split.in", "split.in=x", "nowhere=1", "a.b->c=1"):
        code, _, err = run(capsys, "explore", GRAPH, "-i", given)
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
    # Every subcommand as a program: explore writes the stuck run and the result, replay
    # checks the run, draw pictures the stuck state.
    def program(*argv: str | pathlib.Path) -> subprocess.CompletedProcess[str]:
        return subprocess.run([sys.executable, "-m", "zellik_sim", *map(str, argv)],
                              capture_output=True, text=True, timeout=120, check=False)

    stuck, result = tmp_path / "stuck.jsonl", tmp_path / "result.json"
    done = program("explore", GRAPH, "-d", DECLARATIONS, "--record", stuck, "-o", result)
    assert done.returncode == 1, done.stderr
    assert "first stuck state" in done.stdout
    done = program("replay", GRAPH, stuck)
    assert (done.returncode, "every response and event matches" in done.stdout) == (0, True), done.stderr
    done = program("draw", result)
    assert done.returncode == 0 and done.stdout.startswith("digraph") and "blocked" in done.stdout, done.stderr
    done = program("draw", tmp_path / "missing.json")
    assert done.returncode == 2 and "missing.json" in done.stderr


def test_capacities_finds_the_minimal_vectors_of_the_example(capsys, tmp_path):
    answer = tmp_path / "answer.json"
    code, out, err = run(capsys, "capacities", GRAPH, "-d", DECLARATIONS, "-p", "batch.in=3", "-p", "join.a",
                         "-p", "join.b", "--bound", "2", "-o", answer)
    assert code == 0, err
    assert "minimal" in out and "batch.in" in out and "join.a" in out
    assert err.count("capacities: batch.in=") == len(json.loads(answer.read_text())["checks"])
    found = json.loads(answer.read_text())
    assert found["minimal"] == [[2, 1, 1]] and found["bounds"] == [3, 2, 2]
    assert [p["node_name"] for p in found["ports"]] == ["batch", "join", "join"]
    # With batch.in kept at 1 nothing up to the bounds helps: exit 1.
    code, out, _ = run(capsys, "capacities", GRAPH, "-d", DECLARATIONS, "-p", "join.a=2", "-p", "join.b=2", "-q")
    assert code == 1 and "no vector up to the bounds" in out
    # A limit every exploration reaches leaves the answer open: exit 3.
    assert run(capsys, "capacities", GRAPH, "-d", DECLARATIONS, "-p", "batch.in=2", "--max-states", "3",
               "--walks", "0", "-q")[0] == 3


def test_capacities_counts_the_packets_a_sized_graph_takes(capsys):
    code, out, _ = run(capsys, "capacities", GRAPH, "-d", DECLARATIONS, "-c", "batch.in=2", "--packets", "5",
                       "--json")
    found = json.loads(out)
    assert code == 0 and found["clean"] == [2, 4] and found["largest"] == 4 and found["clean_up_to"] == 0
    code, out, _ = run(capsys, "capacities", GRAPH, "-d", DECLARATIONS, "--packets", "3", "-q")
    assert code == 1 and "largest clean count: none" in out


def test_capacities_refuses_what_it_cannot_do(capsys):
    for argv, fragment in [
        (["-p", "nosuch.in"], "no such port"),
        (["-p", "batch.in=0"], "at least 1"),
        (["-p", "batch.in", "-p", "batch.in.in"], "named twice"),
        ([], "--port"),
        (["-p", "batch.in", "--packets", "2"], "--capacity"),
        (["-c", "batch.in"], "PORT=N"),
    ]:
        code, _, err = run(capsys, "capacities", GRAPH, "-d", DECLARATIONS, *argv)
        assert code == 2 and fragment in err, (argv, err)


def test_capacities_runs_as_a_program():
    done = subprocess.run([sys.executable, "-m", "zellik_sim", "capacities", str(GRAPH), "-d", str(DECLARATIONS),
                           "-p", "batch.in=2", "--json"], capture_output=True, text=True, timeout=120, check=False)
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout)["minimal"] == [[2]]


def test_capacities_counts_a_livelock_as_a_fault_when_asked(capsys, tmp_path):
    # Two nodes passing one packet back and forth: it never ends.
    stage = {"in_ports": {"in": {"capacity": 1}}, "out_ports": {"out": {"capacity": None}},
             "in_salvo_conditions": {"take": {"max_salvos": 1, "ports": {"in": None},
                                              "term": {"kind": "Port", "port_name": "in", "state": {"kind": "NonEmpty"}}}},
             "out_salvo_conditions": {"send": {"max_salvos": 1, "ports": {"out": None},
                                               "term": {"kind": "Port", "port_name": "out", "state": {"kind": "NonEmpty"}}}},
             "dependency_request_config": None}
    ref = lambda node, kind, port: {"node_name": node, "port_type": kind, "port_name": port}  # noqa: E731
    edges = [{"source": ref(a, "Output", "out"), "target": ref(b, "Input", "in")} for a, b in (("p", "q"), ("q", "p"))]
    loop = tmp_path / "loop.json"
    loop.write_text(json.dumps({"nodes": [{"name": n, **stage} for n in "pq"], "edges": edges, "dependency_edges": []}))
    passes = tmp_path / "passes.json"
    write_declarations(Declarations([z.Behaviour(n, [z.Outcome(pass_to="out", sends=["send"])]) for n in "pq"]), passes)
    code, out, _ = run(capsys, "capacities", loop, "-d", passes, "-i", "p.in=1", "-p", "p.in=2", "--livelocks", "any_end",
                       "--json")
    assert code == 1 and [c["fault"]["kind"] for c in json.loads(out)["checks"]] == ["livelock", "livelock"]


def test_explore_checks_the_files_properties_and_finds_livelocks(capsys, tmp_path):
    from test_explore_livelocks import ping_pong
    from zellik_sim.properties import Property

    graph, behaviours, injections = ping_pong(consumes=False)
    write_graph(graph, tmp_path / "ping.json")
    # No terminal state at all: without --livelocks the search ends with nothing to report.
    write_declarations(Declarations(behaviours, injections), tmp_path / "plain.json")
    code, out, _ = run(capsys, "explore", tmp_path / "ping.json", "-d", tmp_path / "plain.json", "--no-progress")
    assert code == 0, out
    code, out, _ = run(capsys, "explore", tmp_path / "ping.json", "-d", tmp_path / "plain.json", "--no-progress",
                       "--livelocks", "any_end", "--json")
    assert code == 1 and [t["kind"] for t in json.loads(out)["terminals"]] == ["livelock"]
    # A property in the declarations file is checked: a live epoch of b is one too many.
    busy = Property.live_epochs_at_most("b", 0, name="b stays idle")
    write_declarations(Declarations(behaviours, injections, properties=[busy]), tmp_path / "idle.json")
    code, out, _ = run(capsys, "explore", tmp_path / "ping.json", "-d", tmp_path / "idle.json", "--no-progress",
                       "--json")
    violated = [t for t in json.loads(out)["terminals"] if t["kind"] == "violated"]
    assert code == 1 and len(violated) == 1 and "b stays idle" in json.dumps(violated[0])
