"""Explore every schedule of a small fork-join graph and find where it gets stuck.

The network:

    feed --out--> split --left--> fast  --out--> join.a
                       \\
                        --right-> batch --out--> join.b

* ``split`` fans every packet out into both branches: the packet itself goes
  left, and a new one is made for the right.
* ``fast`` passes each packet on as it comes.
* ``batch`` waits until its input port holds two packets and sends them on
  together.
* ``join`` needs one packet from each branch at a time.

Every input port holds one packet, ``batch.in`` included: ``batch`` can never
hold the two packets it waits for, so the first packet on the right stays
there, ``join`` never gets its pair, and everything behind piles up. The
explorer finds that stuck state from every order in which an executor could
inject packets, run steps and execute epochs, and prints the shortest run
that reaches it. With ``batch.in`` holding two packets (``--capacity 2``) and
an even number of packets the exploration finishes with no stuck state.

    python examples/deadlock.py                 # finds the stuck state
    python examples/deadlock.py --capacity 2    # finishes clean
    python examples/deadlock.py --packets 6 --record stuck.jsonl

``--record FILE`` writes the shortest run to the stuck state as JSON Lines,
which ``zellik-sim replay`` (``zellik_sim.recording.replay``) replays against a
fresh net over the same graph.
With Graphviz's ``dot`` installed, the picture of the stuck state is written
to ``examples/output/deadlock-stuck.png`` (and its DOT text beside it).
"""

from __future__ import annotations

import argparse
import pathlib
import shutil
import subprocess
import sys
import time

from zellik_sim import (
    Behaviour,
    Edge,
    ExplorationResult,
    Graph,
    Injection,
    MaxSalvos,
    NetSim,
    Node,
    Outcome,
    PacketCount,
    PacketLocation,
    Port,
    PortRef,
    PortSlotSpec,
    PortState,
    PortType,
    SalvoCondition,
    SalvoConditionTerm,
)

FEED_EDGE = Edge(PortRef("feed", PortType.Output, "out"), PortRef("split", PortType.Input, "in"))


def _take_all(port: str) -> SalvoCondition:
    return SalvoCondition(MaxSalvos.finite(1), port, SalvoConditionTerm.port(port, PortState.non_empty()))


def _send(*ports: str) -> SalvoCondition:
    term = SalvoConditionTerm.and_([SalvoConditionTerm.port(p, PortState.non_empty()) for p in ports])
    return SalvoCondition(MaxSalvos.finite(1), list(ports), term)


def build_graph(batch_capacity: int = 1) -> Graph:
    """The fork-join graph; `batch_capacity` is the size of batch's input port."""
    one = Port(PortSlotSpec.finite(1))
    nodes = [
        Node("feed", out_ports={"out": Port()}),
        Node("split", in_ports={"in": one}, out_ports={"left": Port(), "right": Port()},
             in_salvo_conditions={"take": _take_all("in")},
             out_salvo_conditions={"both": _send("left", "right")}),
        Node("fast", in_ports={"in": one}, out_ports={"out": Port()},
             in_salvo_conditions={"take": _take_all("in")},
             out_salvo_conditions={"send": _send("out")}),
        Node("batch", in_ports={"in": Port(PortSlotSpec.finite(batch_capacity))}, out_ports={"out": Port()},
             in_salvo_conditions={"two": SalvoCondition(
                 MaxSalvos.finite(1), "in",
                 SalvoConditionTerm.port("in", PortState.equals_or_greater_than(2)))},
             out_salvo_conditions={"send": _send("out")}),
        Node("join", in_ports={"a": one, "b": one},
             in_salvo_conditions={"pair": SalvoCondition(
                 MaxSalvos.finite(1), {"a": PacketCount.count(1), "b": PacketCount.count(1)},
                 SalvoConditionTerm.and_([SalvoConditionTerm.port("a", PortState.non_empty()),
                                          SalvoConditionTerm.port("b", PortState.non_empty())]))}),
    ]

    def edge(source: str, out_port: str, target: str, in_port: str) -> Edge:
        return Edge(PortRef(source, PortType.Output, out_port), PortRef(target, PortType.Input, in_port))

    edges = [FEED_EDGE, edge("split", "left", "fast", "in"), edge("split", "right", "batch", "in"),
             edge("fast", "out", "join", "a"), edge("batch", "out", "join", "b")]
    return Graph(nodes, edges)


# What each node's epochs do; join has none declared, so it consumes its pair.
BEHAVIOURS = [
    Behaviour("split", [Outcome(pass_to="left", creates={"right": 1}, sends=["both"])]),
    Behaviour("fast", [Outcome(pass_to="out", sends=["send"])]),
    Behaviour("batch", [Outcome(pass_to="out", sends=["send"])]),
]


def explore(batch_capacity: int, packets: int, progress: bool = False) -> ExplorationResult:
    """Explores every schedule of `packets` packets fed into split."""
    net = NetSim(build_graph(batch_capacity), seed=1)
    return net.explore(BEHAVIOURS, [Injection(PacketLocation.edge(FEED_EDGE), packets)], progress=progress)


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("--capacity", type=int, default=1, help="the size of batch's input port")
    parser.add_argument("--packets", type=int, default=4, help="packets fed into split")
    parser.add_argument("--record", metavar="FILE", help="write the shortest stuck run as JSON Lines")
    parser.add_argument("--progress", action="store_true", help="print progress while exploring")
    args = parser.parse_args(argv[1:])

    began = time.perf_counter()
    result = explore(args.capacity, args.packets, args.progress)
    seconds = time.perf_counter() - began
    print(f"batch.in holds {args.capacity}, {args.packets} packets: {result.states} states, "
          f"{result.transitions} transitions in {seconds:.2f} s; explored completely: {result.finished}")
    print("terminal states:", ", ".join(f"{n} {kind}" for kind, n in result.counts.items() if n))
    if not result.stuck:
        print("no stuck state: every schedule ends with the net empty")
        return 0

    # Breadth-first: the first stuck state found is one of the nearest.
    stuck = result.stuck[0]
    print(f"\nstuck after {stuck.depth} executor choices ({len(stuck.run)} actions), {stuck.packets} packets left:")
    for location, count in stuck.waiting:
        print(f"  {count} waiting at {location}")
    for node, condition in stuck.blocked_conditions:
        print(f"  {node}.{condition} never holds")
    print("\nthe shortest run:")
    for action in stuck.run:
        print(" ", action)
    if args.record:
        pathlib.Path(args.record).write_text(stuck.to_jsonl(), encoding="utf-8")
        print(f"\nwrote the run to {args.record}")
    if shutil.which("dot"):
        out = pathlib.Path(__file__).resolve().parent / "output"
        out.mkdir(exist_ok=True)
        (out / "deadlock-stuck.dot").write_text(stuck.to_dot(), encoding="utf-8")
        subprocess.run(["dot", "-Tpng", "-Gdpi=72", "-o", str(out / "deadlock-stuck.png")],
                       input=stuck.to_dot().encode("utf-8"), check=True)
        print(f"wrote the picture of the stuck state to {out / 'deadlock-stuck.png'}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
