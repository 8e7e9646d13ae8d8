"""Measures the runtime (zellik_sim.runtime) side by side with what it replaces.

Cases (all run by default; name some on the command line to run only those):
  loop      The word-count graph of examples/wordcount.py with trivial
            handlers, N packets: the runtime inline against a hand-written
            executor loop over the same graph that keeps the same payloads
            (steps, then per epoch get_epoch, start, consume, create and
            load, send, finish); seconds, epochs per second, calls on the
            net per epoch.
  profile   The runtime inline on the same run under cProfile: the share of
            the run's time spent in the runtime's own Python (its functions'
            own time), the rest being handlers, the module and the
            interpreter's builtins.
  execute   One epoch of a one-in one-out node: NetSim.execute (when the
            module has it) against the same epoch as separate calls
            (execute_by_actions), microseconds per epoch, packet creation,
            moves and events included in both.
  threads   800 epochs of one node whose handler waits 1 ms, on Threads(w)
            for w = 1, 2, 4, 8: speed-up over one worker.
  processes 200 CPU-bound epochs (about 5 ms each) of one node, inline, on
            Processes(2) and on Dask with a local cluster of 2 worker
            processes: speed-up over inline; and the overhead per epoch,
            from 2,000 trivial epochs on each against inline.

Run after installing the module: python3 bench/runtime_bench.py [case ...]
"""

from __future__ import annotations

import cProfile
import importlib
import math
import pathlib
import pstats
import sys
import time
from collections.abc import Callable, Sequence
from typing import Any, cast

from zellik_sim import (
    Graph, MaxSalvos, NetAction, NetSim, Node, Outcome, PacketCount, PacketLocation, Port, PortState, Salvo,
    SalvoCondition, SalvoConditionTerm,
)
from zellik_sim.runtime import Backend, Processes, Runtime, Threads, execute_by_actions
from zellik_sim.runtime import Dask as DaskBackend

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "examples"))
import wordcount  # noqa: E402

Inputs = dict[str, list[Any]]
Handler = Callable[[Inputs], dict[str, list[Any]]]


def best_of(runs: int, work: Callable[[], Any]) -> float:
    best = math.inf
    for _ in range(runs):
        started = time.perf_counter()
        work()
        best = min(best, time.perf_counter() - started)
    return best


def trivial(inputs: Inputs) -> dict[str, list[Any]]:
    return {"out": inputs["in"]}


def trivial_batch(inputs: Inputs) -> dict[str, list[Any]]:
    return {"out": [len(inputs["in"])]}


def trivial_merge(inputs: Inputs) -> dict[str, list[Any]]:
    return {"total": [sum(inputs["in"])]}


TRIVIAL: dict[str, Handler] = {"read": trivial, "split": trivial, "batch": trivial_batch, "count": trivial,
                               "merge": trivial_merge}


def hand_written_loop(graph: Graph, handlers: dict[str, Handler], values: Sequence[Any],
                      flush: Sequence[str]) -> tuple[dict[str, list[Any]], int, int]:
    """What an executor does without the runtime: the outputs, epochs and calls."""
    net = NetSim(graph)
    payloads: dict[str, Any] = {}
    outputs: dict[str, list[Any]] = {}
    calls = epochs = 0
    nodes = graph.nodes()
    leaves = {(e.source.node_name, e.source.port_name) for e in graph.edges()}
    entry = PacketLocation.input_port("read", "in")
    for value in values:
        packet_id = net.do_action(NetAction.create_packet())[0].packet_id
        net.do_action(NetAction.transport_packet_to_location(packet_id, entry))
        payloads[packet_id] = value
        calls += 2
    while True:
        while net.run_step()[0]:
            calls += 1
        calls += 1
        startable = net.get_startable_epochs()
        calls += 1
        if not startable:
            # Flush: the first node named that holds packets gets an epoch of them.
            for node in flush:
                location = PacketLocation.input_port(node, "in")
                waiting = [str(i) for i in net.get_packets_at_location(location)]
                calls += 1
                if waiting:
                    net.do_action(NetAction.create_epoch(node, Salvo("flush", [("in", i) for i in waiting])))
                    calls += 1
                    break
            else:
                return outputs, epochs, calls
            continue
        for ulid in startable:
            epoch_id = str(ulid)
            epoch = net.get_epoch(epoch_id)
            assert epoch is not None
            calls += 1
            node = epoch.node_name
            ids = [packet_id for _, packet_id in epoch.in_salvo.packets]
            emitted = handlers[node]({"in": [payloads.pop(i) for i in ids]})
            net.do_action(NetAction.start_epoch(epoch_id))
            for packet_id in ids:
                net.do_action(NetAction.consume_packet(packet_id))
            calls += 1 + len(ids)
            for port, values_out in emitted.items():
                for value in values_out:
                    new_id = net.do_action(NetAction.create_packet(epoch_id))[0].packet_id
                    net.do_action(NetAction.load_packet_into_output_port(new_id, port))
                    calls += 2
                    if (node, port) in leaves:
                        payloads[new_id] = value
                    else:
                        outputs.setdefault(f"{node}.out.{port}", []).append(value)
                net.do_action(NetAction.send_output_salvo(epoch_id, next(iter(nodes[node].out_salvo_conditions))))
                calls += 1
            net.do_action(NetAction.finish_epoch(epoch_id))
            calls += 1
            epochs += 1


def case_loop(packets: int = 4000) -> None:
    graph = wordcount.build_graph()
    values = list(range(packets))
    runtime = Runtime(graph, TRIVIAL, flush=wordcount.FLUSH)
    result = runtime.run({"read": values})
    outputs, epochs, calls = hand_written_loop(graph, TRIVIAL, values, wordcount.FLUSH)
    assert outputs == result.outputs and epochs == result.stats.total_epochs, (outputs, result.outputs)
    loop_s = best_of(3, lambda: hand_written_loop(graph, TRIVIAL, values, wordcount.FLUSH))
    runtime_s = best_of(3, lambda: runtime.run({"read": values}))
    print(f"loop: word-count graph, trivial handlers, {packets} packets, {epochs} epochs")
    print(f"  hand-written loop  {loop_s:.3f} s  {epochs / loop_s:>9,.0f} epochs/s  {calls / epochs:.1f} calls/epoch")
    print(f"  runtime inline     {runtime_s:.3f} s  {epochs / runtime_s:>9,.0f} epochs/s  "
          f"{result.stats.net_calls / epochs:.1f} calls/epoch  ({loop_s / runtime_s:.2f}x)")
    uses = "NetSim.execute" if hasattr(NetSim, "execute") else "separate calls (no NetSim.execute in this build)"
    print(f"  the runtime executes epochs with {uses}")


def case_profile(packets: int = 4000) -> None:
    runtime = Runtime(wordcount.build_graph(), TRIVIAL, flush=wordcount.FLUSH)
    profile = cProfile.Profile()
    profile.enable()
    runtime.run({"read": list(range(packets))})
    profile.disable()
    # pstats keeps its table untyped: (file, line, function) -> (calls, ..., own time, ...).
    table = cast("dict[tuple[str, int, str], tuple[int, int, float, float, Any]]",
                 pstats.Stats(profile).stats)  # type: ignore[attr-defined]
    total = own = by_calls = 0.0
    for (filename, _, function), (_, _, tottime, _, _) in table.items():
        total += tottime
        if "zellik_sim/runtime/" in filename:
            own += tottime
            if function in ("execute_by_actions", "act"):
                by_calls += tottime
    print(f"profile: the runtime's own Python is {100 * own / total:.0f}% of the run's time under cProfile "
          f"(functions of zellik_sim/runtime, own time; handlers, the module and builtins are the rest)")
    if not hasattr(NetSim, "execute"):
        print(f"  of which {100 * by_calls / total:.0f}% is the execution of epochs through separate calls "
              f"(execute_by_actions), which NetSim.execute replaces")


def one_in_one_out_epochs(count: int) -> tuple[NetSim, list[str]]:
    graph = wordcount.build_graph()
    net = NetSim(graph)
    entry = PacketLocation.input_port("count", "in")
    for _ in range(count):
        packet_id = net.do_action(NetAction.create_packet())[0].packet_id
        net.do_action(NetAction.transport_packet_to_location(packet_id, entry))
    epochs = []
    while net.run_step()[0]:
        pass
    epochs = [str(e) for e in net.get_startable_epochs()]
    return net, epochs


def case_execute(count: int = 3000) -> None:
    outcome = Outcome(creates={"out": 1}, sends=["send"])
    net, epochs = one_in_one_out_epochs(count)
    started = time.perf_counter()
    for epoch_id in epochs:
        execute_by_actions(net, epoch_id, outcome)
    by_actions = (time.perf_counter() - started) / count
    print(f"execute: one-in one-out epoch as separate calls  {by_actions * 1e6:.1f} us/epoch")
    execute = getattr(NetSim, "execute", None)
    if execute is None:
        print("  NetSim.execute: not in this build")
        return
    net, epochs = one_in_one_out_epochs(count)
    started = time.perf_counter()
    for epoch_id in epochs:
        net.execute(epoch_id, outcome)
    one_call = (time.perf_counter() - started) / count
    print(f"  NetSim.execute  {one_call * 1e6:.1f} us/epoch  ({by_actions / one_call:.1f}x)")


def wide_graph() -> Graph:
    """One node, `work`, that takes one packet per epoch and sends what it
    makes out of the net: every packet injected at once is one epoch of
    one round, so a backend can run them all side by side."""
    take = SalvoCondition(MaxSalvos.finite(1), {"in": PacketCount.count(1)},
                          SalvoConditionTerm.port("in", PortState.NonEmpty))
    send = SalvoCondition(MaxSalvos.Infinite, "out", SalvoConditionTerm.port("out", PortState.NonEmpty))
    return Graph([Node("work", in_ports={"in": Port()}, out_ports={"out": Port()},
                       in_salvo_conditions={"take": take}, out_salvo_conditions={"send": send})], [])


def wait_1ms(inputs: Inputs) -> dict[str, list[Any]]:
    time.sleep(0.001)
    return {"out": inputs["in"]}


def case_threads(packets: int = 800) -> None:
    graph = wide_graph()
    values = list(range(packets))
    times: dict[int, float] = {}
    for workers in (1, 2, 4, 8):
        with Runtime(graph, {"work": wait_1ms}, backend=Threads(workers)) as runtime:
            times[workers] = best_of(3, lambda: runtime.run({"work": values}))
    print(f"threads: {packets} epochs of one node whose handler waits 1 ms, one round")
    for workers, seconds in times.items():
        speedup = times[1] / seconds
        print(f"  Threads({workers})  {seconds:.3f} s  speed-up {speedup:.2f}  ({speedup / workers:.2f} x workers)")


def burn(inputs: Inputs) -> dict[str, list[Any]]:
    """About 5 ms of arithmetic per payload."""
    total = 0
    for x in inputs["in"]:
        for i in range(60_000):
            total += (x * i) % 7
    return {"out": [total]}


def case_processes(packets: int = 200, trivial_packets: int = 2000, repeats: int = 4) -> None:
    """On a machine shared with other work the clock swings: each backend is
    measured in turns with inline, and each keeps its best time."""
    graph = wide_graph()
    values, many = list(range(packets)), list(range(trivial_packets))
    inline_busy = Runtime(graph, {"work": burn})
    inline_idle = Runtime(graph, {"work": trivial})

    def compare(name: str, backend: Backend) -> None:
        with Runtime(graph, {"work": burn}, backend=backend) as busy:
            idle = Runtime(graph, {"work": trivial}, backend=busy.backend)
            busy.run({"work": values[:4]})  # start the workers
            times = {"inline": math.inf, "busy": math.inf, "inline idle": math.inf, "idle": math.inf}
            handler_s = {"inline": math.inf, "busy": math.inf}
            for _ in range(repeats):
                for key, runtime in (("inline", inline_busy), ("busy", busy)):
                    started = time.perf_counter()
                    result = runtime.run({"work": values})
                    times[key] = min(times[key], time.perf_counter() - started)
                    handler_s[key] = min(handler_s[key], result.stats.handler_seconds["work"])
                times["inline idle"] = min(times["inline idle"], best_of(1, lambda: inline_idle.run({"work": many})))
                times["idle"] = min(times["idle"], best_of(1, lambda: idle.run({"work": many})))
        overhead = (times["idle"] - times["inline idle"]) / trivial_packets
        print(f"  {name:<16}  {times['busy']:.3f} s against inline {times['inline']:.3f} s: "
              f"speed-up {times['inline'] / times['busy']:.2f}; overhead {1e6 * overhead:.0f} us per epoch")
        # Handlers that take longer in the workers than inline share the
        # machine's cores with something else.
        print(f"  {'':<16}  handler time in the workers {handler_s['busy']:.3f} s, inline "
              f"{handler_s['inline']:.3f} s")

    print(f"processes: {packets} CPU-bound epochs of one node (about 3-5 ms each), one round, in turns with "
          f"inline; overhead per epoch from {trivial_packets} trivial epochs against inline")
    compare("Processes(2)", Processes(2))
    try:
        distributed: Any = importlib.import_module("dask.distributed")
    except ImportError:
        print("  Dask: not installed")
        return
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0") as cluster, \
            distributed.Client(cluster) as client:
        compare("Dask (2 workers)", DaskBackend(client))


CASES: dict[str, Callable[[], None]] = {
    "loop": case_loop, "profile": case_profile, "execute": case_execute, "threads": case_threads,
    "processes": case_processes,
}


def main(argv: Sequence[str]) -> int:
    names = list(argv) or list(CASES)
    unknown = [n for n in names if n not in CASES]
    if unknown:
        print(f"unknown case(s): {', '.join(unknown)}; cases: {', '.join(CASES)}", file=sys.stderr)
        return 2
    for name in names:
        CASES[name]()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
