"""Measures zellik_sim through its public Python API.

1. pipeline: a pipeline of 20 nodes carrying 10,000 packets, driven by an
   executor loop (steps, start, load, send, finish): events per second and
   actions per second.
2. queries: 200,000 calls of the thinnest queries: nanoseconds per call.
3. building: 100,000 node pairs joined by 100,000 edges, each node with one
   port and one salvo condition: Graph(nodes, edges), validate() and
   NetSim(graph), microseconds per node (200,000 nodes).
   building_fresh_names: the same, with every name given as a str object of
   its own (as names parsed from a file arrive), so that no two names share
   a record.

Run after installing the module: python3 bench/python_api_bench.py [case ...]
(every case when none is named).
"""

from __future__ import annotations

import gc
import sys
import time
from collections.abc import Callable
from typing import TypeVar

from zellik_sim import (
    Edge, Graph, MaxSalvos, NetAction, NetSim, Node, PacketCount, PacketLocation, Port,
    PortRef, PortState, PortType, SalvoCondition, SalvoConditionTerm,
)

T = TypeVar("T")

NODES = 20
PACKETS = 10_000
QUERY_CALLS = 200_000
BUILD_PAIRS = 100_000
BUILD_ROUNDS = 3


def pipeline_graph(n: int) -> tuple[Graph, Edge]:
    def take(port: str) -> SalvoCondition:
        return SalvoCondition(MaxSalvos.finite(1), {port: PacketCount.count(1)},
                              SalvoConditionTerm.port(port, PortState.NonEmpty))

    def send(port: str) -> SalvoCondition:
        return SalvoCondition(MaxSalvos.Infinite, port,
                              SalvoConditionTerm.port(port, PortState.NonEmpty))

    nodes: list[Node] = []
    for i in range(n):
        ins = {"in": Port()} if i > 0 else {}
        outs = {"out": Port()} if i < n - 1 else {}
        nodes.append(Node(f"n{i}", in_ports=ins, out_ports=outs,
                          in_salvo_conditions={"take": take("in")} if ins else None,
                          out_salvo_conditions={"send": send("out")} if outs else None))
    edges = [Edge(PortRef(f"n{i}", PortType.Output, "out"), PortRef(f"n{i + 1}", PortType.Input, "in"))
             for i in range(n - 1)]
    return Graph(nodes, edges), edges[0]


def run_pipeline() -> None:
    graph, first_edge = pipeline_graph(NODES)
    net = NetSim(graph)
    entry = PacketLocation.edge(first_edge)
    for _ in range(PACKETS):
        data, _ = net.do_action(NetAction.create_packet())
        net.do_action(NetAction.transport_packet_to_location(data.packet_id, entry))

    events = 0
    actions = 0
    start = time.perf_counter()
    while True:
        progress, step_events = net.run_step()
        events += len(step_events)
        actions += 1
        startable = net.get_startable_epochs()
        for ulid in startable:
            epoch_id = str(ulid)
            epoch = net.get_epoch(epoch_id)
            assert epoch is not None
            _, ev = net.do_action(NetAction.start_epoch(epoch_id))
            events += len(ev)
            actions += 1
            last = epoch.node_name == f"n{NODES - 1}"
            for _, packet_id in epoch.in_salvo.packets:
                action = (NetAction.consume_packet(packet_id) if last
                          else NetAction.load_packet_into_output_port(packet_id, "out"))
                _, ev = net.do_action(action)
                events += len(ev)
                actions += 1
            if not last:
                _, ev = net.do_action(NetAction.send_output_salvo(epoch_id, "send"))
                events += len(ev)
                actions += 1
            _, ev = net.do_action(NetAction.finish_epoch(epoch_id))
            events += len(ev)
            actions += 1
        if not progress and not startable:
            break
    elapsed = time.perf_counter() - start
    print(f"pipeline: {NODES} nodes, {PACKETS} packets, {actions} calls, {events} events "
          f"in {elapsed:.2f} s")
    print(f"  {events / elapsed:,.0f} events/s, {actions / elapsed:,.0f} calls/s")


def time_calls(label: str, fn: Callable[[], object]) -> None:
    start = time.perf_counter()
    for _ in range(QUERY_CALLS):
        fn()
    elapsed = time.perf_counter() - start
    print(f"  {label:<40} {elapsed / QUERY_CALLS * 1e9:8.0f} ns/call")


def run_queries() -> None:
    graph, _ = pipeline_graph(NODES)
    net = NetSim(graph)
    data, _ = net.do_action(NetAction.create_packet())
    packet_id = data.packet_id
    outside = PacketLocation.outside_net()
    print(f"queries ({QUERY_CALLS:,} calls each):")
    time_calls("is_blocked()", net.is_blocked)
    time_calls("packet_count_at(outside_net)", lambda: net.packet_count_at(outside))
    time_calls("get_packet(id)", lambda: net.get_packet(packet_id))
    time_calls("PacketLocation.outside_net()", PacketLocation.outside_net)
    time_calls("NetAction.consume_packet(id)", lambda: NetAction.consume_packet(packet_id))


def pair_nodes(pairs: int, fresh_names: bool = False) -> tuple[list[Node], list[Edge]]:
    def n(text: str) -> str:
        return (text + ".")[:-1] if fresh_names else text  # a new str object

    nodes: list[Node] = []
    edges: list[Edge] = []
    for i in range(pairs):
        a, b = f"A{i}", f"B{i}"
        nodes.append(Node(n(a), out_ports={n("out"): Port()}, out_salvo_conditions={n("send"): SalvoCondition(
            MaxSalvos.Infinite, n("out"), SalvoConditionTerm.port(n("out"), PortState.NonEmpty))}))
        nodes.append(Node(n(b), in_ports={n("in"): Port()}, in_salvo_conditions={n("take"): SalvoCondition(
            MaxSalvos.finite(1), {n("in"): PacketCount.count(1)},
            SalvoConditionTerm.port(n("in"), PortState.NonEmpty))}))
        edges.append(Edge(PortRef(n(a), PortType.Output, n("out")), PortRef(n(b), PortType.Input, n("in"))))
    return nodes, edges


def best_of(rounds: int, fn: Callable[[], T]) -> tuple[float, T]:
    """The shortest of `rounds` timed calls of fn (the collector paused), and
    the last result. Each result is dropped outside the timed region."""
    best = float("inf")
    result: T | None = None
    for _ in range(rounds):
        result = None
        gc.collect()
        gc.disable()
        start = time.perf_counter()
        result = fn()
        elapsed = time.perf_counter() - start
        gc.enable()
        best = min(best, elapsed)
    assert result is not None
    return best, result


def run_building(fresh_names: bool = False) -> None:
    start = time.perf_counter()
    nodes, edges = pair_nodes(BUILD_PAIRS, fresh_names)
    made = time.perf_counter() - start
    count = len(nodes)
    t_graph, graph = best_of(BUILD_ROUNDS, lambda: Graph(nodes, edges))
    t_validate, errors = best_of(BUILD_ROUNDS, graph.validate)
    assert errors == [], errors
    t_net, _ = best_of(BUILD_ROUNDS, lambda: NetSim(graph))
    case = "building_fresh_names" if fresh_names else "building"
    print(f"{case}: {BUILD_PAIRS:,} node pairs, {count:,} nodes, {len(edges):,} edges "
          f"(best of {BUILD_ROUNDS}; Python objects made in {made:.2f} s)")
    for label, seconds in (("Graph(nodes, edges)", t_graph), ("graph.validate()", t_validate),
                           ("NetSim(graph)", t_net)):
        print(f"  {label:<40} {seconds / count * 1e6:8.2f} us/node  ({seconds * 1e3:.0f} ms)")


def run_building_fresh_names() -> None:
    run_building(fresh_names=True)


CASES: dict[str, Callable[[], None]] = {
    "pipeline": run_pipeline, "queries": run_queries, "building": run_building,
    "building_fresh_names": run_building_fresh_names,
}


if __name__ == "__main__":
    names = sys.argv[1:] or list(CASES)
    unknown = [name for name in names if name not in CASES]
    if unknown:
        sys.exit(f"unknown case(s) {', '.join(unknown)}; choose from {', '.join(CASES)}")
    for name in names:
        CASES[name]()
