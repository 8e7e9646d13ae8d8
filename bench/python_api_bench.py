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
  pipeline_hops  An executor loop over 20 nodes and 2,000 packets that hands
            identifiers back as the ULID objects it got: microseconds per hop
            (one epoch run).
  identifiers  get_startable_epochs per returned id, and a ULID object
            against its text as an argument.
  thin_calls  Nanoseconds per call of the queries, of do_action per action
            kind, of run_step and of undo_action.
  two_threads  run_until_blocked on two nets, one after the other and on two
            threads.
  building  100,000 node pairs joined by 100,000 edges, each node with one
            port and one salvo condition: Graph(nodes, edges), validate() and
            NetSim(graph) (on the validated graph, and on one not validated
            yet), microseconds per node (200,000 nodes).
  building_fresh_names  The same, with every name given as a str object of
            its own (as names parsed from a file arrive), so that no two
            names share a record.
  snapshot  Pickling and unpickling a net holding 1,000,000 packets (half
            outside the net, half on an edge): nanoseconds per packet.

Run after installing the module: python3 bench/python_api_bench.py [case ...]
(--list shows the case names).
"""

from __future__ import annotations

import gc
import pickle
import sys
import threading
import time
from collections.abc import Callable, Sequence
from typing import Any, TypeVar

from zellik_sim import (
    Edge, Graph, MaxSalvos, NetAction, NetEvent, NetSim, Node, PacketCount, PacketLocation, Port,
    PortRef, PortState, PortType, SalvoCondition, SalvoConditionTerm,
)

NODES = 20
PACKETS = 10_000
QUERY_CALLS = 200_000
BUILD_PAIRS = 100_000
BUILD_ROUNDS = 3

T = TypeVar("T")


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


HOP_PACKETS = 2_000
BATCH = 2_000
ROUNDS = 5
THREAD_PACKETS = 30_000


def filled_net(packets: int) -> tuple[NetSim, Edge]:
    """The pipeline net with `packets` packets waiting on its first edge."""
    graph, first_edge = pipeline_graph(NODES)
    net = NetSim(graph)
    entry = PacketLocation.edge(first_edge)
    for _ in range(packets):
        data, _ = net.do_action(NetAction.create_packet())
        net.do_action(NetAction.transport_packet_to_location(data.packet_id, entry))
    return net, first_edge


def run_pipeline_hops() -> None:
    """The executor a new user writes: ids go back in as the ULID objects they came as."""
    net, _ = filled_net(HOP_PACKETS)
    last = f"n{NODES - 1}"
    hops = 0
    start = time.perf_counter()
    while True:
        progress, _ = net.run_step()
        startable = net.get_startable_epochs()
        for epoch_id in startable:
            epoch = net.get_epoch(epoch_id)
            assert epoch is not None
            net.do_action(NetAction.start_epoch(epoch_id))
            if epoch.node_name == last:
                for _, packet_id in epoch.in_salvo.packets:
                    net.do_action(NetAction.consume_packet(packet_id))
            else:
                for _, packet_id in epoch.in_salvo.packets:
                    net.do_action(NetAction.load_packet_into_output_port(packet_id, "out"))
                net.do_action(NetAction.send_output_salvo(epoch_id, "send"))
            net.do_action(NetAction.finish_epoch(epoch_id))
            hops += 1
        if not progress and not startable:
            break
    elapsed = time.perf_counter() - start
    print(f"pipeline_hops: {NODES} nodes, {HOP_PACKETS} packets, {hops} hops in {elapsed:.2f} s: "
          f"{elapsed / hops * 1e6:.2f} us per hop")


def per_call(fn: Callable[[Any], object], items: Sequence[Any]) -> float:
    """Best of ROUNDS timings of fn over items, in nanoseconds per item."""
    best = float("inf")
    for _ in range(ROUNDS):
        start = time.perf_counter()
        for item in items:
            fn(item)
        best = min(best, (time.perf_counter() - start) / len(items))
    return best * 1e9


def report(label: str, ns: float) -> None:
    print(f"  {label:<48} {ns:8.0f} ns/call")


def run_identifiers() -> None:
    net, _ = filled_net(BATCH)
    net.run_until_blocked()  # BATCH startable epochs of n1
    ids = net.get_startable_epochs()
    count = len(ids)
    calls = 50
    best = float("inf")
    for _ in range(ROUNDS):
        start = time.perf_counter()
        for _ in range(calls):
            net.get_startable_epochs()
        best = min(best, (time.perf_counter() - start) / (calls * count))
    print(f"identifiers ({count} startable epochs):")
    print(f"  {'get_startable_epochs() per returned id':<48} {best * 1e9:8.0f} ns/id")
    texts = [str(u) for u in ids]
    text_ns = per_call(net.get_epoch, texts)
    ulid_ns = per_call(net.get_epoch, ids)
    report("get_epoch(text)", text_ns)
    report("get_epoch(ULID)", ulid_ns)
    report("  ULID argument costs more than text by", ulid_ns - text_ns)
    text_ns = per_call(NetAction.start_epoch, texts)
    ulid_ns = per_call(NetAction.start_epoch, ids)
    report("NetAction.start_epoch(text)", text_ns)
    report("NetAction.start_epoch(ULID)", ulid_ns)
    report("  ULID argument costs more than text by", ulid_ns - text_ns)
    epoch = net.get_epoch(texts[0])
    assert epoch is not None
    report("Epoch.get_id()", per_call(lambda _: epoch.get_id(), range(BATCH)))


def run_thin_calls() -> None:
    print(f"thin calls (best of {ROUNDS} rounds of {BATCH:,} calls):")
    net, _ = filled_net(1)
    data, _ = net.do_action(NetAction.create_packet())
    packet_id = data.packet_id
    net.run_until_blocked()
    (epoch_ulid,) = net.get_startable_epochs()
    epoch_id = str(epoch_ulid)
    outside = PacketLocation.outside_net()
    n1_in = PacketLocation.input_port("n1", "in")
    many = range(BATCH)
    report("(loop and lambda alone, included below)", per_call(lambda _: None, many))
    report("is_blocked()", per_call(lambda _: net.is_blocked(), many))
    report("packet_count_at(outside_net)", per_call(lambda _: net.packet_count_at(outside), many))
    report("packet_count_at(input_port)", per_call(lambda _: net.packet_count_at(n1_in), many))
    report("get_packet(id)", per_call(lambda _: net.get_packet(packet_id), many))
    report("get_epoch(id)", per_call(lambda _: net.get_epoch(epoch_id), many))
    report("run_step() (nothing to do)", per_call(lambda _: net.run_step(), many))
    step = NetAction.run_step()
    report("do_action(run_step) (nothing to do)", per_call(lambda _: net.do_action(step), many))
    create = NetAction.create_packet()

    # Actions over a batch of fresh packets and epochs; each round gets its
    # own net, so that no packet left over from another batch sits at the
    # head of a queue.
    def timed(label: str, setup: Callable[[], Sequence[Any]], act: Callable[[Any], object]) -> None:
        nonlocal net
        best = float("inf")
        for _ in range(ROUNDS):
            net = NetSim(pipeline_graph(NODES)[0])
            items = setup()
            start = time.perf_counter()
            for item in items:
                act(item)
            best = min(best, (time.perf_counter() - start) / len(items))
        report(label, best * 1e9)

    def new_packets() -> list[str]:
        return [net.do_action(create)[0].packet_id for _ in many]

    def undoable_consumes() -> list[Any]:
        done = [(a, net.do_action(a)[1])
                for a in [NetAction.consume_packet(p) for p in new_packets()]]
        done.reverse()
        return done

    timed("do_action(create_packet) prebuilt", lambda: many, lambda _: net.do_action(create))
    timed("do_action(consume_packet) prebuilt",
          lambda: [NetAction.consume_packet(p) for p in new_packets()],
          lambda a: net.do_action(a))
    timed("do_action(NetAction.consume_packet(id))", new_packets,
          lambda p: net.do_action(NetAction.consume_packet(p)))
    timed("do_action(destroy_packet) prebuilt",
          lambda: [NetAction.destroy_packet(p) for p in new_packets()],
          lambda a: net.do_action(a))
    timed("do_action(transport_packet_to_location) prebuilt",
          lambda: [NetAction.transport_packet_to_location(p, n1_in) for p in new_packets()],
          lambda a: net.do_action(a))
    timed("undo_action(consume_packet, 1 event)", undoable_consumes,
          lambda done: net.undo_action(done[0], done[1]))
    request = NetAction.create_request("n1", "x")
    timed("do_action(create_request)", lambda: many, lambda _: net.do_action(request))

    # Epoch actions: a net with BATCH startable epochs of n1, one packet in each.
    def epochs_net() -> tuple[NetSim, list[str], list[str]]:
        enet, _ = filled_net(BATCH)
        enet.run_until_blocked()
        eids = [str(u) for u in enet.get_startable_epochs()]
        pids: list[str] = []
        for e in eids:
            epoch = enet.get_epoch(e)
            assert epoch is not None
            pids.append(epoch.in_salvo.packets[0][1])
        return enet, eids, pids

    best = {k: float("inf") for k in ("start", "load", "send", "finish", "cancel")}
    for _ in range(ROUNDS):
        enet, eids, pids = epochs_net()
        rounds: list[tuple[str, list[NetAction]]] = [
            ("start", [NetAction.start_epoch(e) for e in eids]),
            ("load", [NetAction.load_packet_into_output_port(p, "out") for p in pids]),
            ("send", [NetAction.send_output_salvo(e, "send") for e in eids]),
            ("finish", [NetAction.finish_epoch(e) for e in eids]),
        ]
        for key, actions in rounds:
            start = time.perf_counter()
            for a in actions:
                enet.do_action(a)
            best[key] = min(best[key], (time.perf_counter() - start) / len(actions))
        enet, eids, _ = epochs_net()
        actions = [NetAction.cancel_epoch(e) for e in eids]
        start = time.perf_counter()
        for a in actions:
            enet.do_action(a)
        best["cancel"] = min(best["cancel"], (time.perf_counter() - start) / len(actions))
    report("do_action(start_epoch) prebuilt", best["start"] * 1e9)
    report("do_action(load_packet_into_output_port) prebuilt", best["load"] * 1e9)
    report("do_action(send_output_salvo) prebuilt, 1 packet", best["send"] * 1e9)
    report("do_action(finish_epoch) prebuilt", best["finish"] * 1e9)
    report("do_action(cancel_epoch) prebuilt, 1 packet", best["cancel"] * 1e9)


def run_two_threads() -> None:
    """run_until_blocked on two nets: one after the other, then on two threads at once."""
    def timed_runs(threaded: bool) -> tuple[float, int]:
        nets = [filled_net(THREAD_PACKETS)[0] for _ in range(2)]
        counts = [0, 0]

        def run(i: int) -> None:
            counts[i] = len(nets[i].run_until_blocked())

        start = time.perf_counter()
        if threaded:
            threads = [threading.Thread(target=run, args=(i,)) for i in range(2)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
        else:
            run(0)
            run(1)
        return time.perf_counter() - start, sum(counts)

    one_after, events = timed_runs(False)
    together, events_threaded = timed_runs(True)
    assert events == events_threaded
    print(f"two_threads: run_until_blocked on two nets of {THREAD_PACKETS} packets "
          f"({events} events): one after the other {one_after:.3f} s, on two threads "
          f"{together:.3f} s, speed-up {one_after / together:.2f}x")


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
    # A graph nobody has validated: NetSim validates it first.
    unchecked = [Graph(nodes, edges) for _ in range(BUILD_ROUNDS)]
    t_unchecked, _ = best_of(BUILD_ROUNDS, lambda: NetSim(unchecked.pop()))
    case = "building_fresh_names" if fresh_names else "building"
    print(f"{case}: {BUILD_PAIRS:,} node pairs, {count:,} nodes, {len(edges):,} edges "
          f"(best of {BUILD_ROUNDS}; Python objects made in {made:.2f} s)")
    for label, seconds in (("Graph(nodes, edges)", t_graph), ("graph.validate()", t_validate),
                           ("NetSim(graph)", t_net),
                           ("NetSim(graph), graph not validated yet", t_unchecked)):
        print(f"  {label:<40} {seconds / count * 1e6:8.2f} us/node  ({seconds * 1e3:.0f} ms)")


def run_building_fresh_names() -> None:
    run_building(fresh_names=True)


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
    "pipeline_hops": run_pipeline_hops,
    "identifiers": run_identifiers,
    "thin_calls": run_thin_calls,
    "two_threads": run_two_threads,
    "flow": run_flow,
    "undo": run_undo,
    "deep": run_deep,
    "memory": run_memory,
    "building": run_building,
    "building_fresh_names": run_building_fresh_names,
    "snapshot": run_snapshot,
}


if __name__ == "__main__":
    chosen = sys.argv[1:] or list(CASES)
    if chosen == ["--list"]:
        print("\n".join(CASES))
        sys.exit(0)
    unknown = [name for name in chosen if name not in CASES]
    if unknown:
        sys.exit(f"unknown case(s): {', '.join(unknown)}; choose from {', '.join(CASES)}")
    for name in chosen:
        CASES[name]()
