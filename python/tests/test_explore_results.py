"""What an exploration found, taken out of the process and back: results and
terminal states pickle, copy, compare by value and round-trip through plain
dicts; an interrupted exploration hands its partial result over typed."""

from __future__ import annotations

import _thread
import concurrent.futures
import copy
import json
import multiprocessing
import pickle
import signal
import threading
from collections.abc import Callable, Iterator
from typing import Any

import pytest

import zellik_sim as z
from zellik_sim.properties import Property

T = z.SalvoConditionTerm
OUT, IN = z.PortType.Output, z.PortType.Input
FEED = z.Edge(z.PortRef("src", OUT, "out"), z.PortRef("a", IN, "in"))
SIDE = z.Edge(z.PortRef("src", OUT, "side"), z.PortRef("b", IN, "y"))
PASS = z.Outcome(pass_to="out", sends=["send"])


def graph() -> z.Graph:
    """src feeds a (ports of 1), which passes its packet on to b.x; b takes a
    pair from x and y, and src also feeds y."""
    def one(port: str) -> z.SalvoCondition:
        return z.SalvoCondition(z.MaxSalvos.finite(1), port, T.port(port, z.PortState.NonEmpty))
    pair = z.SalvoCondition(z.MaxSalvos.finite(1), {"x": z.PacketCount.count(1), "y": z.PacketCount.count(1)},
                            T.and_([T.port("x", z.PortState.NonEmpty), T.port("y", z.PortState.NonEmpty)]))
    small = z.Port(z.PortSlotSpec.finite(1))
    nodes = [
        z.Node("src", out_ports={"out": z.Port(), "side": z.Port()}),
        z.Node("a", in_ports={"in": small}, out_ports={"out": small},
               in_salvo_conditions={"take": one("in")}, out_salvo_conditions={"send": one("out")}),
        z.Node("b", in_ports={"x": z.Port(), "y": z.Port()}, in_salvo_conditions={"pair": pair}),
    ]
    to_b = z.Edge(z.PortRef("a", OUT, "out"), z.PortRef("b", IN, "x"))
    return z.Graph(nodes, [FEED, to_b, SIDE])


def feed(count: int, edge: z.Edge = FEED) -> z.Injection:
    return z.Injection(z.PacketLocation.edge(edge), count)


# name -> (seed of the net, behaviours of a, injections, options); each ends in
# the kind of terminal (or of stop) it is named after.
EXPLORATIONS: dict[str, tuple[int | None, list[z.Outcome], list[z.Injection], dict[str, Any]]] = {
    "clean": (3, [z.Outcome()], [feed(1)], {}),
    "stuck": (3, [PASS], [feed(1)], {}),
    "failed": (None, [z.Outcome(pass_to="out")], [feed(1)], {}),
    "over_limit": (3, [PASS, z.Outcome()], [feed(2), feed(2, SIDE)], {"max_packets": 2}),
    "violated": (3, [PASS, z.Outcome()], [feed(2)], {"properties": [Property.packets_at_most(1, name="one")]}),
    "partial": (3, [PASS, z.Outcome()], [feed(3), feed(3, SIDE)], {"max_states": 40, "order": "depth_first"}),
}


def explore(name: str) -> z.ExplorationResult:
    seed, outcomes, injections, options = EXPLORATIONS[name]
    net = z.NetSim(graph(), seed=seed)
    return net.explore([z.Behaviour("a", outcomes)], injections, **options)


@pytest.fixture(scope="module")
def results() -> dict[str, z.ExplorationResult]:
    found = {name: explore(name) for name in EXPLORATIONS}
    for kind in ("clean", "stuck", "failed", "over_limit", "violated"):
        assert found[kind].counts[kind] > 0, kind
    assert found["partial"].stopped == "states"
    return found


def round_trips(obj: Any) -> Iterator[Any]:
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        yield pickle.loads(pickle.dumps(obj, protocol))
    yield copy.copy(obj)
    yield copy.deepcopy(obj)
    yield type(obj).from_dict(obj.to_dict())
    yield type(obj).from_dict(json.loads(json.dumps(obj.to_dict())))


def shown(obj: Any) -> dict[str, str]:
    """Every property and text method of a result or terminal, as text."""
    names = [n for n in dir(obj) if not n.startswith("_") and n not in ("from_dict", "to_dict", "replay")]
    return {n: repr(v() if callable(v) else v) for n in names for v in [getattr(obj, n)]}


@pytest.mark.parametrize("name", sorted(EXPLORATIONS))
def test_results_and_terminals_come_back_equal_and_unchanged(results, name) -> None:
    result = results[name]
    for obj in [result, *result.terminals]:
        for back in round_trips(obj):
            assert type(back) is type(obj)
            assert back == obj and not back != obj
            assert shown(back) == shown(obj)  # to_jsonl, to_dot and repr included
            assert back.to_dict() == obj.to_dict()


def test_declarations_come_back_equal() -> None:
    declarations = [z.Behaviour("a", [PASS, z.Outcome(creates={"out": 2})]), feed(2),
                    z.Injection(z.PacketLocation.input_port("b", "y"), 1), z.RequestAllowance("b", "more", 3)]
    for declaration in declarations:
        for back in round_trips(declaration):
            assert back == declaration and repr(back) == repr(declaration)


def test_equality_is_by_value_over_every_field(results) -> None:
    failed = results["failed"]
    assert failed.terminals[0] == failed.terminals[0]  # each access makes a new object
    # A seeded net explores to an equal result; an unseeded one makes other ids.
    assert explore("stuck") == results["stuck"] and explore("failed") != failed
    assert results["stuck"] != results["stuck"].terminals[0]
    terminal = next(t for t in failed.terminals if t.kind == "failed")
    assert terminal != 1 and not terminal == "failed"
    with pytest.raises(TypeError):
        hash(terminal)
    with pytest.raises(TypeError):
        hash(failed)
    d = terminal.to_dict()
    assert d["fingerprint"] == f"{terminal.fingerprint:032x}" and d["seed"] is None
    changes = {"kind": "stuck", "depth": d["depth"] + 1, "packets": 0, "failure": None, "dot": "",
               "seed": 1, "waiting": [[z.PacketLocation.input_port("b", "x").to_dict(), 1]],
               "blocked_conditions": [["b", "pair"]], "run": d["run"][:-1],
               "fingerprint": f"{terminal.fingerprint ^ 1:032x}", "property_name": "p", "cycle": d["run"][:1]}
    assert set(changes) == set(d)
    for key, value in changes.items():
        assert z.TerminalState.from_dict({**d, key: value}) != terminal, key
    # Deep in the run: an event's timestamp, and the error that ends it.
    run = copy.deepcopy(d["run"])
    run[0]["events"][0]["timestamp"] += 1
    assert z.TerminalState.from_dict({**d, "run": run}) != terminal
    run = copy.deepcopy(d["run"])
    assert run[-1]["error"]["kind"] == "UnsentOutputSalvo" and run[-1]["error"]["port_name"] == "out"
    run[-1]["error"]["port_name"] = "other"
    assert z.TerminalState.from_dict({**d, "run": run}) != terminal
    r = failed.to_dict()
    for key, value in {"states": 0, "transitions": 0, "max_depth": 0, "finished": False,
                       "stopped": "time", "frontier": 7, "terminals": [], "visited_bytes": 1,
                       "trapped": 1}.items():
        assert z.ExplorationResult.from_dict({**r, key: value}) != failed, key


def test_an_error_with_an_edge_round_trips() -> None:
    # The explorer's runs never meet EdgeNotFound; its form is read back all the same.
    terminal = next(t for t in explore("failed").terminals if t.kind == "failed")
    d = terminal.to_dict()
    edge = z.PacketLocation.edge(SIDE).to_dict()["edge"]
    d["run"][-1]["error"] = {"kind": "EdgeNotFound", "packet_id": None, "epoch_id": None, "node_name": None,
                             "port_name": None, "condition_name": None, "edge": edge}
    back = z.TerminalState.from_dict(d)
    assert back.to_dict() == d and back.to_jsonl().splitlines()[-1].endswith('"error": "EdgeNotFoundError"}')


def fields(value: Any, path: str = "") -> Iterator[tuple[str, list[Any], Any]]:
    """(path, keys from the top, value) of everything inside a plain dict."""
    items = value.items() if isinstance(value, dict) else enumerate(value) if isinstance(value, list) else ()
    for k, item in items:
        at = f"{path}[{k}]" if isinstance(k, int) else f"{path}.{k}" if path else k
        yield at, [k], item
        for deeper, keys, v in fields(item, at):
            yield deeper, [k, *keys], v


def edited(d: dict[str, Any], keys: list[Any], change: Callable[[Any, Any], Any]) -> dict[str, Any]:
    out = copy.deepcopy(d)
    holder: Any = out
    for k in keys[:-1]:
        holder = holder[k]
    change(holder, keys[-1])
    return out


def refused(data: dict[str, Any]) -> str:
    with pytest.raises(ValueError) as info:
        z.ExplorationResult.from_dict(data)
    return str(info.value)


def test_from_dict_refuses_what_it_cannot_read_naming_the_field(results) -> None:
    # Every field of a short failed run: given a value of the wrong kind,
    # dropped, or joined by one it does not know.
    d = results["failed"].to_dict()
    d["terminals"] = [t for t in d["terminals"] if t["kind"] == "failed"][:1]
    found = list(fields(d))
    for path, keys, value in found:
        spoilt = 1.5 if isinstance(value, dict) else {"not": "this"}
        assert refused(edited(d, keys, lambda h, k: h.__setitem__(k, spoilt))).startswith(f"invalid field '{path}")
        if isinstance(keys[-1], str):
            # Without its error, a run's action is one the engine did: its response is missing.
            missing = path.removesuffix("error") + "response" if keys[-1] == "error" else path
            assert refused(edited(d, keys, lambda h, k: h.pop(k))).startswith(f"invalid field '{missing}': missing")
        if isinstance(value, dict):
            extra = refused(edited(d, keys, lambda h, k: h[k].update(extra=1)))
            assert extra.startswith(f"invalid field '{path}.extra': unexpected field")
    assert len(found) > 50
    with pytest.raises(TypeError, match="data"):
        z.TerminalState.from_dict([])  # type: ignore[arg-type]
    assert refused({**d, "terminals": [{**d["terminals"][0], "fingerprint": "0x1"}]}) == (
        "invalid field 'terminals[0].fingerprint': expected 32 hex digits")


def explored_in_a_worker(name: str) -> z.ExplorationResult:
    return explore(name)


def test_a_result_comes_back_from_a_fresh_worker_process(results) -> None:
    context = multiprocessing.get_context("spawn")
    with concurrent.futures.ProcessPoolExecutor(1, mp_context=context) as pool:
        assert pool.submit(explored_in_a_worker, "stuck").result(timeout=60) == results["stuck"]


# --- Interrupts -------------------------------------------------------------------

def long_exploration() -> None:
    """Runs for minutes unless stopped; max_time stops it if a signal goes astray."""
    net = z.NetSim(graph(), seed=3)
    net.explore([z.Behaviour("a", [PASS, z.Outcome()])], [feed(20), feed(20, SIDE)], max_time=10)
    pytest.fail("the exploration was not interrupted")


def assert_partial(result: z.ExplorationResult) -> None:
    assert isinstance(result, z.ExplorationResult)
    assert result.states > 0 and not result.finished and result.stopped == "cancelled"
    for back in round_trips(result):
        assert back == result and shown(back) == shown(result)


def test_ctrl_c_raises_exploration_interrupted_carrying_the_partial_result() -> None:
    timer = threading.Timer(0.1, _thread.interrupt_main)
    timer.start()
    with pytest.raises(KeyboardInterrupt) as raised:
        long_exploration()
    timer.join()
    assert type(raised.value) is z.ExplorationInterrupted and raised.value.args == ()
    assert raised.value.__traceback__ is not None
    assert_partial(raised.value.result)
    back = pickle.loads(pickle.dumps(raised.value))
    assert type(back) is z.ExplorationInterrupted and back.result == raised.value.result


class Alarm(Exception):
    pass


class OwnInterrupt(KeyboardInterrupt):
    pass


@pytest.mark.parametrize("error", [Alarm, OwnInterrupt])
def test_what_else_a_signal_handler_raises_keeps_its_class_and_gets_the_result(error) -> None:
    def handler(signum: int, frame: Any) -> None:
        raise error("alarm")
    previous = signal.signal(signal.SIGALRM, handler)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.1)
        with pytest.raises(error) as raised:
            long_exploration()
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert type(raised.value) is error and raised.value.args == ("alarm",)
    assert_partial(raised.value.result)  # type: ignore[attr-defined]
