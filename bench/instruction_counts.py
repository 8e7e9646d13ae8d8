"""Instructions per unit of work, counted by callgrind, for comparing builds.

Wall-clock figures on a shared machine swing by up to 2x from one sitting to
the next; instruction counts do not. Each case runs twice under
`valgrind --tool=callgrind` after the same set-up sized for N rounds, once
doing the work and once not, so the difference divided by the units of work
is what one unit costs, with interpreter start-up and set-up cancelled out.

Cases:
  flow     run_until_blocked over packets waiting on a chain of edges:
           instructions per event (event objects included).
  hop      the executor loop of one epoch through a pipeline node (start,
           load, send, finish, then the step): instructions per epoch.
  undo     undo_action of create -> transport rounds: instructions per undo.
  queries  get_packet and packet_count_at: instructions per call.
  explore  an exploration of a fork-join graph: instructions per state.

Usage: python bench/instruction_counts.py [case ...]   (all by default)
The module under test is the one `import zellik_sim` finds (PYTHONPATH).
"""

from __future__ import annotations

import os
import re
import subprocess
import sys
import tempfile

CASES = ("flow", "hop", "undo", "queries", "explore")
ROUNDS = {"flow": 2_000, "hop": 300, "undo": 1_000, "queries": 2_000, "explore": 1}


def chain_graph(length: int):  # type: ignore[no-untyped-def]
    from zellik_sim import (
        Edge, Graph, MaxSalvos, Node, PacketCount, Port, PortRef, PortState, PortType,
        SalvoCondition, SalvoConditionTerm,
    )

    def take() -> SalvoCondition:
        return SalvoCondition(MaxSalvos.finite(1), {"in": PacketCount.count(1)},
                              SalvoConditionTerm.port("in", PortState.NonEmpty))

    def send() -> SalvoCondition:
        return SalvoCondition(MaxSalvos.Infinite, "out",
                              SalvoConditionTerm.port("out", PortState.NonEmpty))

    nodes = []
    for i in range(length):
        ins = {"in": Port()} if i > 0 else {}
        outs = {"out": Port()} if i < length - 1 else {}
        nodes.append(Node(f"n{i}", in_ports=ins, out_ports=outs,
                          in_salvo_conditions={"take": take()} if ins else None,
                          out_salvo_conditions={"send": send()} if outs else None))
    edges = [Edge(PortRef(f"n{i}", PortType.Output, "out"), PortRef(f"n{i + 1}", PortType.Input, "in"))
             for i in range(length - 1)]
    return Graph(nodes, edges), edges


def fill(net, location, count: int) -> None:  # type: ignore[no-untyped-def]
    from zellik_sim import NetAction
    for _ in range(count):
        data, _ = net.do_action(NetAction.create_packet())
        net.do_action(NetAction.transport_packet_to_location(data.packet_id, location))


def case_flow(n: int, work: bool) -> int:
    """Packets on the first edge of a three-node chain; one run_until_blocked."""
    from zellik_sim import NetSim, PacketLocation
    graph, edges = chain_graph(3)
    net = NetSim(graph)
    fill(net, PacketLocation.edge(edges[0]), n)
    return len(net.run_until_blocked()) if work else 0


def case_hop(n: int, work: bool) -> int:
    from zellik_sim import NetAction, NetSim, PacketLocation
    graph, edges = chain_graph(3)
    net = NetSim(graph)
    fill(net, PacketLocation.edge(edges[0]), n)
    hops = 0
    while work:
        progress, _ = net.run_step()
        startable = net.get_startable_epochs()
        for epoch_id in startable:
            epoch = net.get_epoch(epoch_id)
            net.do_action(NetAction.start_epoch(epoch_id))
            for _, packet_id in epoch.in_salvo.packets:
                if epoch.node_name == "n2":
                    net.do_action(NetAction.consume_packet(packet_id))
                else:
                    net.do_action(NetAction.load_packet_into_output_port(packet_id, "out"))
            if epoch.node_name != "n2":
                net.do_action(NetAction.send_output_salvo(epoch_id, "send"))
            net.do_action(NetAction.finish_epoch(epoch_id))
            hops += 1
        if not progress and not startable:
            break
    return hops


def case_undo(n: int, work: bool) -> int:
    from zellik_sim import NetAction, NetSim, PacketLocation
    graph, edges = chain_graph(3)
    net = NetSim(graph)
    entry = PacketLocation.edge(edges[0])
    done = []
    for _ in range(n):
        create = NetAction.create_packet()
        data, events = net.do_action(create)
        done.append((create, events))
        move = NetAction.transport_packet_to_location(data.packet_id, entry)
        done.append((move, net.do_action(move)[1]))
    if not work:
        return 0
    for action, events in reversed(done):
        net.undo_action(action, events)
    return len(done)


def case_queries(n: int, work: bool) -> int:
    from zellik_sim import NetAction, NetSim, PacketLocation
    graph, _ = chain_graph(3)
    net = NetSim(graph)
    data, _ = net.do_action(NetAction.create_packet())
    outside = PacketLocation.outside_net()
    for _ in range(n if work else 0):
        net.get_packet(data.packet_id)
        net.packet_count_at(outside)
    return 2 * n


def case_explore(n: int, work: bool) -> int:
    from zellik_sim import (
        Behaviour, Edge, Graph, Injection, MaxSalvos, NetSim, Node, Outcome, PacketCount,
        PacketLocation, Port, PortRef, PortSlotSpec, PortState, PortType, SalvoCondition,
        SalvoConditionTerm,
    )
    def take(port: str) -> SalvoCondition:
        return SalvoCondition(MaxSalvos.finite(1), {port: PacketCount.count(1)},
                              SalvoConditionTerm.port(port, PortState.NonEmpty))

    def send(port: str) -> SalvoCondition:
        return SalvoCondition(MaxSalvos.Infinite, port, SalvoConditionTerm.port(port, PortState.NonEmpty))

    split = Node("split", in_ports={"in": Port()}, out_ports={"l": Port(), "r": Port()},
                 in_salvo_conditions={"take": take("in")},
                 out_salvo_conditions={"l": send("l"), "r": send("r")})
    join = Node("join", in_ports={"a": Port(PortSlotSpec.finite(2)), "b": Port(PortSlotSpec.finite(2))},
                in_salvo_conditions={"both": SalvoCondition(
                    MaxSalvos.finite(1), {"a": PacketCount.count(1), "b": PacketCount.count(1)},
                    SalvoConditionTerm.and_([SalvoConditionTerm.port("a", PortState.NonEmpty),
                                               SalvoConditionTerm.port("b", PortState.NonEmpty)]))})
    feed = Node("feed", out_ports={"out": Port()}, out_salvo_conditions={"out": send("out")})
    edges = [Edge(PortRef("feed", PortType.Output, "out"), PortRef("split", PortType.Input, "in")),
             Edge(PortRef("split", PortType.Output, "l"), PortRef("join", PortType.Input, "a")),
             Edge(PortRef("split", PortType.Output, "r"), PortRef("join", PortType.Input, "b"))]
    net = NetSim(Graph([feed, split, join], edges))
    behaviours = [Behaviour("split", [Outcome(creates={"l": 1, "r": 1}, sends=["l", "r"]),
                                      Outcome(creates={"l": 1}, sends=["l"])])]
    if not work:
        return 0
    result = net.explore(behaviours, [Injection(PacketLocation.edge(edges[0]), 6)])
    return int(result.states)


def run_case(name: str, n: int, work: bool) -> None:
    """Inside the counted process: set up for n rounds, then do the work or not.

    A round of the work first, in both runs, so that what is done once per
    process (a lazy import, a cache filled on first use) cancels out too.
    """
    case = globals()[f"case_{name}"]
    case(1, True)
    units = case(n, work)
    print(f"units={units}")


def counted(name: str, n: int, work: bool) -> tuple[int, int]:
    """Instructions of the whole process and the units of work it did."""
    with tempfile.TemporaryDirectory() as folder:
        out = os.path.join(folder, "callgrind.out")
        env = dict(os.environ, PYTHONHASHSEED="0")
        run = subprocess.run(
            ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", sys.executable,
             __file__, "--inside", name, str(n), str(int(work))],
            env=env, capture_output=True, text=True, check=True)
        total = int(re.search(r"Collected : (\d+)", run.stderr).group(1))  # type: ignore[union-attr]
        units = int(re.search(r"units=(\d+)", run.stdout).group(1))  # type: ignore[union-attr]
        return total, units


def main(argv: list[str]) -> None:
    if argv[:1] == ["--inside"]:
        run_case(argv[1], int(argv[2]), argv[3] == "1")
        return
    import zellik_sim
    print(f"module: {zellik_sim.__file__}")
    for name in argv or CASES:
        n = ROUNDS[name]
        full, units = counted(name, n, True)
        base, _ = counted(name, n, False)
        print(f"  {name:<8} {(full - base) / max(units, 1):>12,.0f} instructions per unit "
              f"({units:,} units)")


if __name__ == "__main__":
    main(sys.argv[1:])
