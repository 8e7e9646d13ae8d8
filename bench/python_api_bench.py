"""Measures zellik_sim through its public Python API.

Cases (all run by default; name some on the command line to run only those):
  pipeline  A pipeline of 20 nodes carrying 10,000 packets, driven by an
            executor loop (steps, start, load, send, finish): events and
            actions per second.
  queries   200,000 calls of the thinnest queries: nanoseconds per call.
  flow      200 edges holding 2,500 packets each, one run_until_blocked():
            nanoseconds per event, event objects included.
  undo      Undo, newest first, of N rounds of create -> transport -> step,
            for N = 10,000 and 160,000: nanoseconds per undo_action call.
  deep      Moving the newest packet out of an edge of 1,000 and of 100,000
            packets, and undoing that move: microseconds per move + undo.
  memory    Resident memory per packet resting on an edge, over 1,000,000
            packets.
  snapshot  Pickling and unpickling a net holding 1,000,000 packets (half
            outside the net, half on an edge): nanoseconds per packet.

Run after installing the module: python3 bench/python_api_bench.py [case ...]
"""

from __future__ import annotations

import gc
import pickle
import sys
import time
from collections.abc import Callable
from typing import Any

from zellik_sim import (
    Edge, Graph, MaxSalvos, NetAction, NetEvent, NetSim, Node, PacketCount, PacketLocation, Port,
    PortRef, PortState, PortType, SalvoCondition, SalvoConditionTerm,
)

NODES = 20
PACKETS = 10_000
QUERY_CALLS = 200_000


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


def pairs_graph(pairs: int) -> tuple[Graph, list[Edge]]:
    """`pairs` pairs A{i}.out -> B{i}.in; B has no condition, so packets pile up."""
    nodes: list[Node] = []
    edges: list[Edge] = []
    for i in range(pairs):
        nodes.append(Node(f"A{i}", out_ports={"out": Port()}))
        nodes.append(Node(f"B{i}", in_ports={"in": Port()}))
        edges.append(Edge(PortRef(f"A{i}", PortType.Output, "out"), PortRef(f"B{i}", PortType.Input, "in")))
    return Graph(nodes, edges), edges


def fill(net: NetSim, location: PacketLocation, count: int, keep: bool = True) -> list[str]:
    ids: list[str] = []
    for _ in range(count):
        data, _ = net.do_action(NetAction.create_packet())
        net.do_action(NetAction.transport_packet_to_location(data.packet_id, location))
        if keep:
            ids.append(data.packet_id)
    return ids


def run_flow() -> None:
    edges_n, depth = 200, 2_500
    graph, edges = pairs_graph(edges_n)
    net = NetSim(graph)
    for edge in edges:
        fill(net, PacketLocation.edge(edge), depth)
    start = time.perf_counter()
    events = net.run_until_blocked()
    elapsed = time.perf_counter() - start
    print(f"flow: {edges_n} edges x {depth} packets, one run_until_blocked(): {len(events):,} events "
          f"in {elapsed:.3f} s, {elapsed / len(events) * 1e9:.0f} ns/event")


def undo_history(rounds: int) -> float:
    graph, edges = pairs_graph(1)
    net = NetSim(graph)
    on_edge = PacketLocation.edge(edges[0])
    history: list[tuple[NetAction[Any], list[NetEvent]]] = []
    for _ in range(rounds):
        create = NetAction.create_packet()
        data, ev = net.do_action(create)
        history.append((create, ev))
        transport = NetAction.transport_packet_to_location(data.packet_id, on_edge)
        _, ev = net.do_action(transport)
        history.append((transport, ev))
        step = NetAction.run_step()
        _, ev = net.do_action(step)
        history.append((step, ev))
    # The history holds hundreds of thousands of objects: keep the cyclic
    # collector's passes over them out of the timed part, as timeit does.
    gc.collect()
    gc.disable()
    try:
        start = time.perf_counter()
        for action, ev in reversed(history):
            net.undo_action(action, ev)
        elapsed = time.perf_counter() - start
    finally:
        gc.enable()
    return elapsed / len(history)


def run_undo() -> None:
    small = undo_history(10_000)
    large = undo_history(160_000)
    print(f"undo: create -> transport -> step history, newest first: "
          f"10,000 rounds {small * 1e9:.0f} ns/call, 160,000 rounds {large * 1e9:.0f} ns/call "
          f"(ratio {large / small:.2f})")


def deep_move(depth: int, repeats: int = 2_000) -> float:
    graph, edges = pairs_graph(1)
    net = NetSim(graph)
    ids = fill(net, PacketLocation.edge(edges[0]), depth)
    move = NetAction.transport_packet_to_location(ids[-1], PacketLocation.outside_net())
    start = time.perf_counter()
    for _ in range(repeats):
        _, ev = net.do_action(move)
        net.undo_action(move, ev)
    return (time.perf_counter() - start) / repeats


def run_deep() -> None:
    shallow = deep_move(1_000)
    deep = deep_move(100_000)
    print(f"deep: move newest out of an edge and undo: 1,000 packets {shallow * 1e6:.2f} us, "
          f"100,000 packets {deep * 1e6:.2f} us (ratio {deep / shallow:.2f})")


def resident_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096


def run_memory() -> None:
    count = 1_000_000
    graph, edges = pairs_graph(1)
    net = NetSim(graph)
    on_edge = PacketLocation.edge(edges[0])
    before = resident_bytes()
    fill(net, on_edge, count, keep=False)
    after = resident_bytes()
    assert net.packet_count_at(on_edge) == count
    print(f"memory: {count:,} packets on an edge: {(after - before) / count:.0f} bytes resident per packet")


SNAPSHOT_PACKETS = 1_000_000


def run_snapshot() -> None:
    graph, first_edge = pipeline_graph(NODES)
    net = NetSim(graph)
    on_edge = PacketLocation.edge(first_edge)
    # The oldest packets are moved, so that each move takes the head of the queue.
    ids = [net.do_action(NetAction.create_packet())[0].packet_id for _ in range(SNAPSHOT_PACKETS)]
    for packet_id in ids[: SNAPSHOT_PACKETS // 2]:
        net.do_action(NetAction.transport_packet_to_location(packet_id, on_edge))
    best_dump = best_load = float("inf")
    blob = b""
    for _ in range(3):
        start = time.perf_counter()
        blob = pickle.dumps(net, protocol=pickle.HIGHEST_PROTOCOL)
        dumped = time.perf_counter()
        restored = pickle.loads(blob)
        loaded = time.perf_counter()
        best_dump = min(best_dump, dumped - start)
        best_load = min(best_load, loaded - dumped)
        assert restored.packet_count_at(on_edge) == SNAPSHOT_PACKETS // 2
        del restored
    per_packet = 1e9 / SNAPSHOT_PACKETS
    print(f"snapshot: {SNAPSHOT_PACKETS:,} packets, {len(blob) / 1e6:.1f} MB (best of 3)")
    print(f"  pickle.dumps {best_dump * per_packet:6.0f} ns/packet, pickle.loads {best_load * per_packet:6.0f} "
          f"ns/packet, total {(best_dump + best_load) * per_packet:6.0f} ns/packet")


CASES = {
    "pipeline": run_pipeline,
    "queries": run_queries,
    "flow": run_flow,
    "undo": run_undo,
    "deep": run_deep,
    "memory": run_memory,
    "snapshot": run_snapshot,
}


if __name__ == "__main__":
    chosen = sys.argv[1:] or list(CASES)
    unknown = [name for name in chosen if name not in CASES]
    if unknown:
        sys.exit(f"unknown case(s): {', '.join(unknown)}; choose from {', '.join(CASES)}")
    for name in chosen:
        CASES[name]()
