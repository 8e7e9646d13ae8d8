"""The runtime on the driver's own thread: payloads beside packets, what
leaves the net, failures and their policy, flushing, recording and the
check with the explorer."""

from __future__ import annotations

import io
import pathlib
import sys
from typing import Any

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import zellik_sim as z
from zellik_sim.runtime import (
    Emit, HandlerFailed, Processes, Retry, Runtime, declare_outcomes, execute_by_actions,
)

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "examples"))

import recording  # noqa: E402


def send(port: str = "out") -> z.SalvoCondition:
    return z.SalvoCondition(z.MaxSalvos.Infinite, port, z.SalvoConditionTerm.port(port, z.PortState.NonEmpty))


def take(n: int = 1, port: str = "in") -> z.SalvoCondition:
    return z.SalvoCondition(z.MaxSalvos.finite(1), {port: z.PacketCount.count(n)},
                            z.SalvoConditionTerm.port(port, z.PortState.equals_or_greater_than(n)))


def stage(name: str, n: int = 1, outs: tuple[str, ...] = ("out",), capacity: int | None = None) -> z.Node:
    port = z.Port(z.PortSlotSpec.finite(capacity)) if capacity else z.Port()
    return z.Node(name, in_ports={"in": port}, out_ports={o: z.Port() for o in outs},
                  in_salvo_conditions={"take": take(n)},
                  out_salvo_conditions={f"send_{o}": send(o) for o in outs})


def line(*nodes: z.Node) -> z.Graph:
    edges = [z.Edge(z.PortRef(a.name, z.PortType.Output, "out"), z.PortRef(b.name, z.PortType.Input, "in"))
             for a, b in zip(nodes, nodes[1:])]
    return z.Graph(list(nodes), edges)


def double(inputs: dict[str, list[Any]]) -> dict[str, list[Any]]:
    return {"out": [2 * x for x in inputs["in"]]}


def same(inputs: dict[str, list[Any]]) -> dict[str, list[Any]]:
    return {"out": inputs["in"]}


def test_payloads_travel_beside_their_packets_and_leave_through_unconnected_ports() -> None:
    graph = line(stage("a"), stage("b"), stage("c"))
    result = Runtime(graph, {"a": double, "b": double, "c": double}).run({"a": range(10)})
    assert result.outputs == {"c.out.out": [8 * x for x in range(10)]}
    assert result.ok and result.leftover == {} and result.stuck is None and result.failures == []
    stats = result.stats
    assert stats.epochs == {"a": 10, "b": 10, "c": 10} and stats.failed == {"a": 0, "b": 0, "c": 0}
    assert stats.steps >= 10 and stats.rounds >= 3 and set(stats.handler_seconds) == {"a", "b", "c"}
    assert set(stats.high_water) == {"a.in.in", "b.in.in", "c.in.in", "a.out.out -> b.in.in",
                                     "b.out.out -> c.in.in"}
    # Ten packets injected at once wait in a's port before its epochs take them.
    assert stats.high_water["a.in.in"] == 10


def test_emit_names_ports_sends_and_passes_inputs_on() -> None:
    fork = z.Node("fork", in_ports={"in": z.Port()}, out_ports={"odd": z.Port(), "even": z.Port(), "all": z.Port()},
                  in_salvo_conditions={"take": take()},
                  out_salvo_conditions={"both": z.SalvoCondition(
                      z.MaxSalvos.Infinite, ["odd", "even"], z.SalvoConditionTerm.true_()),
                      "all": send("all")})

    def split(inputs: dict[str, list[Any]]) -> Emit | None:
        (x,) = inputs["in"]
        if x == 0:
            return None
        if x % 5 == 0:
            return Emit(pass_to="all")
        return Emit({"odd" if x % 2 else "even": [x]}, sends=["both"])

    result = Runtime(z.Graph([fork], []), {"fork": split}).run({"fork.in.in": range(11)})
    assert result.outputs == {"fork.out.odd": [1, 3, 7, 9], "fork.out.even": [2, 4, 6, 8],
                              "fork.out.all": [5, 10]}


def test_inputs_go_in_by_node_port_text_port_ref_or_edge() -> None:
    graph = line(stage("a"), stage("b"))
    edge = graph.edges()[0]
    for key in ("b", "b.in.in", z.PortRef("b", z.PortType.Input, "in"), edge):
        assert Runtime(graph, {"a": same, "b": double}).run({key: [1, 2]}).outputs == {"b.out.out": [2, 4]}
    for bad in ("nope", "b.out.out", z.PortRef("b", z.PortType.Output, "out")):
        with pytest.raises(ValueError):
            Runtime(graph, {"a": same, "b": same}).run({bad: [1]})


def test_a_bounded_port_is_fed_as_it_drains() -> None:
    graph = line(stage("a", n=2, capacity=3), stage("b"))
    handlers = {"a": lambda i: {"out": [sum(i["in"])]}, "b": lambda i: {"out": i["in"]}}
    result = Runtime(graph, handlers).run({"a": range(10)})
    assert result.outputs == {"b.out.out": [1, 5, 9, 13, 17]}
    assert result.stats.high_water["a.in.in"] == 3


def test_what_cannot_go_on_is_left_over_with_the_explorers_report() -> None:
    graph = line(stage("a"), stage("b", n=2))
    result = Runtime(graph, {"a": double, "b": same}, seed=3).run({"a": [1, 2, 3]})
    assert result.outputs == {"b.out.out": [2, 4]}
    assert result.leftover == {"b.in.in": [6]} and not result.ok
    assert result.stuck is not None and result.stuck.kind == "stuck"
    assert result.stuck.blocked_conditions == [("b", "take")]
    # Flushing b takes the remainder as one more epoch.
    flushed = Runtime(graph, {"a": double, "b": same}, flush=["b"]).run({"a": [1, 2, 3]})
    assert flushed.outputs == {"b.out.out": [2, 4, 6]} and flushed.ok


FAILING = {3, 7}


def fails_on_some(inputs: dict[str, list[Any]]) -> dict[str, list[Any]]:
    (x,) = inputs["in"]
    if x in FAILING:
        raise ArithmeticError(f"no {x}")
    return {"out": [x]}


def test_a_raising_handler_cancels_its_epoch_and_loses_no_other_packet() -> None:
    graph = line(stage("a"), stage("b"), stage("c"))
    result = Runtime(graph, {"a": same, "b": fails_on_some, "c": same},
                     on_error="continue").run({"a": range(10)})
    assert result.outputs == {"c.out.out": [x for x in range(10) if x not in FAILING]}
    assert [(f.node, f.inputs, type(f.error), f.attempts) for f in result.failures] == [
        ("b", {"in": [3]}, ArithmeticError, 1), ("b", {"in": [7]}, ArithmeticError, 1)]
    failure = result.failures[0]
    assert "fails_on_some" in failure.traceback and "no 3" in failure.traceback
    assert len(failure.destroyed) == 1 and result.stats.failed["b"] == 2 and result.leftover == {}


def test_stop_raises_after_the_round_with_the_run_so_far() -> None:
    graph = line(stage("a"), stage("b"), stage("c"))
    with pytest.raises(HandlerFailed, match="handler of node 'b' raised ArithmeticError: no 3") as info:
        Runtime(graph, {"a": same, "b": fails_on_some, "c": same}).run({"a": range(10)})
    assert isinstance(info.value.__cause__, ArithmeticError)
    assert info.value.failure.inputs == {"in": [3]}
    # The round's other epochs were executed; nothing ran after it.
    partial = info.value.result
    assert [f.inputs for f in partial.failures] == [{"in": [3]}, {"in": [7]}]
    assert partial.outputs == {} and partial.leftover == {"b.out.out -> c.in.in": [0, 1, 2, 4, 5, 6, 8, 9]}
    assert partial.stuck is None  # not blocked: it was stopped


class Flaky:
    """Raises the first `times` calls for each payload."""

    def __init__(self, times: int) -> None:
        self.times = times
        self.calls: dict[Any, int] = {}

    def __call__(self, inputs: dict[str, list[Any]]) -> dict[str, list[Any]]:
        (x,) = inputs["in"]
        self.calls[x] = self.calls.get(x, 0) + 1
        if self.calls[x] <= self.times:
            raise TimeoutError("try again")
        return {"out": [x]}


def test_retry_calls_again_then_applies_its_policy() -> None:
    graph = z.Graph([stage("a")], [])
    result = Runtime(graph, {"a": Flaky(2)}, on_error=Retry(2)).run({"a": [1, 2]})
    assert result.outputs == {"a.out.out": [1, 2]} and result.failures == []
    given_up = Runtime(graph, {"a": Flaky(3)}, on_error=Retry(2, "continue")).run({"a": [1, 2]})
    assert given_up.outputs == {} and [f.attempts for f in given_up.failures] == [3, 3]
    with pytest.raises(ValueError):
        Retry(-1)


@pytest.mark.parametrize("value, error", [
    ("text", "returned str"),
    ({"nope": [1]}, "not an output port"),
    ({"out": 5}, "emitted a int on port 'out'"),
    (Emit({"out": [1]}, sends=["missing"]), "SalvoConditionNotFound"),
    (Emit(pass_to="nope"), "not an output port"),
])
def test_what_a_node_cannot_send_fails_its_epoch(value: Any, error: str) -> None:
    graph = line(stage("a"), stage("b"))
    result = Runtime(graph, {"a": lambda _: value, "b": same}, on_error="continue").run({"a": [1]})
    assert result.outputs == {} and len(result.failures) == 1
    assert error in f"{type(result.failures[0].error).__name__}: {result.failures[0].error}"
    assert result.leftover == {}


@settings(max_examples=30, deadline=None)
@given(st.lists(st.integers(0, 40), max_size=25), st.frozensets(st.integers(0, 40)),
       st.integers(1, 3), st.sampled_from(["a", "b"]))
def test_every_payload_leaves_once_or_fails(values: list[int], failing: frozenset[int], batch: int,
                                            where: str) -> None:
    """Whatever fails where, each injected payload ends in exactly one of the
    outputs, a failure's inputs or the leftovers."""

    def handler(inputs: dict[str, list[Any]]) -> dict[str, list[Any]]:
        if failing & set(inputs["in"]):
            raise KeyError("bad")
        return {"out": list(inputs["in"])}

    graph = line(stage("a"), stage("b", n=batch))
    handlers = {"a": same, "b": same}
    handlers[where] = handler
    result = Runtime(graph, handlers, on_error="continue").run({"a": values})
    seen = [x for xs in result.outputs.values() for x in xs]
    seen += [x for f in result.failures for xs in f.inputs.values() for x in xs]
    seen += [x for xs in result.leftover.values() for x in xs]
    assert sorted(seen) == sorted(values)


def fails_on_max(inputs: dict[str, list[Any]]) -> dict[str, list[Any]]:
    return fails_on_some({"in": [max(inputs["in"])]})


HANDLERS_ABC = {"a": same, "b": fails_on_max, "c": double}


def test_a_recorded_run_replays_on_a_fresh_net(tmp_path: pathlib.Path) -> None:
    graph = line(stage("a"), stage("b", n=2), stage("c"))
    path = tmp_path / "run.jsonl"
    Runtime(graph, HANDLERS_ABC, on_error="continue", seed=1).run({"a": range(5)}, record=path)
    with path.open(encoding="utf-8") as lines:
        assert recording.replay(graph, lines) > 0
    for seed in (7, None):
        out = io.StringIO()
        runtime = Runtime(graph, HANDLERS_ABC, on_error="continue", seed=seed)
        result = runtime.run({"a": range(9)}, record=out)
        lines = out.getvalue().splitlines()
        assert recording.replay(graph, iter(lines)) == len(lines) - 1
        assert sum('"CancelEpoch"' in x for x in lines) == 2
    # The same run unrecorded gives the same outputs.
    plain = Runtime(graph, HANDLERS_ABC, on_error="continue").run({"a": range(9)})
    assert plain.outputs == result.outputs


def test_execute_by_actions_is_all_or_nothing() -> None:
    graph = line(stage("a"), stage("b"))
    net = z.NetSim(graph, seed=1)
    data, _ = net.do_action(z.NetAction.create_packet())
    net.do_action(z.NetAction.transport_packet_to_location(data.packet_id, z.PacketLocation.input_port("a", "in")))
    net.run_step()
    (epoch_id,) = [str(e) for e in net.get_startable_epochs()]
    before = net.fingerprint()
    with pytest.raises(z.SalvoConditionNotFoundError):
        execute_by_actions(net, epoch_id, z.Outcome(creates={"out": 2}, sends=["nope"]))
    assert net.fingerprint() == before and len(net.packets()) == 1
    created, events = execute_by_actions(net, epoch_id, z.Outcome(creates={"out": 2}, sends=["send_out"]))
    assert [len(ids) for ids in created.values()] == [2] and events[-1].kind == "EpochFinished"
    assert net.packet_count_at(z.PacketLocation.edge(graph.edges()[0])) == 2


def test_check_explores_with_the_declared_outcomes() -> None:
    @declare_outcomes(z.Outcome(creates={"out": 1}, sends=["send_out"]))
    def one_to_one(inputs: dict[str, list[Any]]) -> dict[str, list[Any]]:
        return {"out": list(inputs["in"])}

    sink = z.Node("b", in_ports={"in": z.Port()}, in_salvo_conditions={"take": take(2)})
    clean = Runtime(line(stage("a"), sink), {"a": one_to_one}).check(packets=2)
    assert clean.finished and clean.counts["stuck"] == 0 and clean.counts["clean"] >= 1
    stuck = Runtime(line(stage("a"), sink), {"a": one_to_one}).check({"a": 3})
    assert stuck.stuck and stuck.stuck[0].blocked_conditions == [("b", "take")]
    with pytest.raises(ValueError, match="declares no outcomes"):
        Runtime(line(stage("a"), sink), {"a": double}).check()


def test_construction_refuses_what_cannot_run() -> None:
    graph = line(stage("a"), stage("b"))
    with pytest.raises(ValueError, match="node 'x'"):
        Runtime(graph, {"a": same, "b": same, "x": double})
    with pytest.raises(ValueError, match="node 'b' has output ports and no handler"):
        Runtime(graph, {"a": same})
    with pytest.raises(TypeError):
        Runtime(graph, {"a": 5})  # type: ignore[dict-item]
    with pytest.raises(ValueError, match="coroutine"):
        Runtime(graph, {"a": same, "b": _async_handler})
    with pytest.raises(ValueError):
        Runtime(graph, {"a": same, "b": same}, on_error="ignore")  # type: ignore[arg-type]
    with pytest.raises(ValueError):
        Runtime(graph, {"a": same, "b": same}, flush=["nope"])


async def _async_handler(inputs: dict[str, list[Any]]) -> None:
    return None


def test_request_epochs_call_a_source_nodes_handler_with_no_inputs() -> None:
    """A sink that pulls: its requests (at start-up, and when it holds a
    packet it cannot take yet) give the source epochs with no packets."""
    gen = z.Node("gen", out_ports={"out": z.Port()}, out_salvo_conditions={"send": send()})
    triggers = [z.DependencyRequestTrigger.OnStartup, z.DependencyRequestTrigger.OnNoSalvoTriggered]
    sink = z.Node("sink", in_ports={"in": z.Port()}, out_ports={"out": z.Port()},
                  in_salvo_conditions={"take": take(2)}, out_salvo_conditions={"send": send()},
                  dependency_request_config=z.DependencyRequestConfig(triggers, "more"))
    edge = z.Edge(z.PortRef("gen", z.PortType.Output, "out"), z.PortRef("sink", z.PortType.Input, "in"))
    calls: list[dict[str, list[Any]]] = []

    def produce(inputs: dict[str, list[Any]]) -> dict[str, list[Any]]:
        calls.append(inputs)
        return {"out": [len(calls)]}

    graph = z.Graph([gen, sink], [edge], dependency_edges=[edge])
    result = Runtime(graph, {"gen": produce, "sink": lambda i: {"out": [tuple(i["in"])]}}).run({})
    assert calls == [{}, {}] and result.outputs == {"sink.out.out": [(1, 2)]} and result.ok


def test_a_process_pool_of_the_platforms_own_kind_gives_the_inline_run() -> None:
    graph = line(stage("a"), stage("b", n=2), stage("c"))
    handlers = {"a": same, "b": fails_on_max, "c": double}
    inline = Runtime(graph, handlers, on_error="continue").run({"a": range(12)})
    assert len(inline.failures) == 2 and len(inline.outputs["c.out.out"]) == 4
    with Runtime(graph, handlers, backend=Processes(2), on_error="continue") as runtime:
        pooled = runtime.run({"a": range(12)})
    assert pooled.outputs == inline.outputs and pooled.leftover == inline.leftover
    assert [(f.node, f.inputs) for f in pooled.failures] == [(f.node, f.inputs) for f in inline.failures]
