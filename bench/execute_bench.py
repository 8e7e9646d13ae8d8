"""One epoch of a one-in one-out node driven by separate calls against one
NetSim.execute call, side by side in one run.

Each epoch consumes its input packet, creates one packet, loads it into the
output port, sends it and finishes: start, consume, create, load, send and
finish as six do_action calls, or one execute call with the same outcome.
Both make the same packets, moves and events; the epochs are made (untimed)
by run_until_blocked over packets waiting at the node, kBatch at a time, so
that a node has as many live epochs as a busy executor's would, not
thousands (a node's epoch list is searched when an epoch finishes).

Usage:
  python bench/execute_bench.py                  wall time per epoch, both ways
  python bench/execute_bench.py --count WAY N    run N epochs one WAY (separate,
                                                 execute, quiet: execute with
                                                 events=False, or none: the set-up
                                                 alone), for callgrind: WAY's
                                                 instructions minus none's,
                                                 divided by N, per epoch
The module under test is the one `import zellik_sim` finds (PYTHONPATH).
"""

from __future__ import annotations

import sys
import time

import zellik_sim as z


def graph() -> z.Graph:
    w = z.Node(
        "W",
        in_ports={"in": z.Port()},
        out_ports={"out": z.Port()},
        in_salvo_conditions={
            "take": z.SalvoCondition(
                z.MaxSalvos.finite(1), {"in": z.PacketCount.count(1)},
                z.SalvoConditionTerm.port("in", z.PortState.NonEmpty),
            )
        },
        out_salvo_conditions={
            "send": z.SalvoCondition(z.MaxSalvos.finite(1), "out", z.SalvoConditionTerm.true_())
        },
    )
    sink = z.Node("Sink", in_ports={"in": z.Port()})
    edge = z.Edge(z.PortRef("W", z.PortType.Output, "out"), z.PortRef("Sink", z.PortType.Input, "in"))
    return z.Graph([w, sink], [edge])


def startable_net(n: int) -> tuple[z.NetSim, list[str]]:
    """A net with n startable epochs of W, each holding one packet."""
    net = z.NetSim(graph(), seed=1)
    at_w = z.PacketLocation.input_port("W", "in")
    for _ in range(n):
        data, _ = net.do_action(z.NetAction.create_packet())
        net.do_action(z.NetAction.transport_packet_to_location(data.packet_id, at_w))
    net.run_until_blocked()
    return net, [str(e) for e in net.get_startable_epochs()]


def separate(net: z.NetSim, epochs: list[str]) -> None:
    do = net.do_action
    NA = z.NetAction
    for epoch in epochs:
        do(NA.start_epoch(epoch))
        for packet in net.get_packets_at_location(z.PacketLocation.node(epoch)):
            do(NA.consume_packet(packet))
        data, _ = do(NA.create_packet(epoch))
        do(NA.load_packet_into_output_port(data.packet_id, "out"))
        do(NA.send_output_salvo(epoch, "send"))
        do(NA.finish_epoch(epoch))


def execute(net: z.NetSim, epochs: list[str]) -> None:
    outcome = z.Outcome(creates={"out": 1}, sends=["send"])
    run = net.execute
    for epoch in epochs:
        run(epoch, outcome)


def quiet(net: z.NetSim, epochs: list[str]) -> None:
    """execute without event objects, as an executor that does not record
    calls it (not the same work as the other two: no events reach Python)."""
    outcome = z.Outcome(creates={"out": 1}, sends=["send"])
    run = net.execute
    for epoch in epochs:
        run(epoch, outcome, events=False)


WAYS = {"separate": separate, "execute": execute, "quiet": quiet, "none": lambda net, epochs: None}
kBatch = 50


def batches(n: int) -> list[tuple[z.NetSim, list[str]]]:
    return [startable_net(min(kBatch, n - i)) for i in range(0, n, kBatch)]


def wall(way: str, n: int, repeats: int = 5) -> float:
    """The best time per epoch, in microseconds, over `repeats` runs."""
    best = float("inf")
    for _ in range(repeats):
        nets = batches(n)
        start = time.perf_counter()
        for net, epochs in nets:
            WAYS[way](net, epochs)
        best = min(best, time.perf_counter() - start)
    return best / n * 1e6


def main(argv: list[str]) -> None:
    if argv[:1] == ["--count"]:
        way, n = argv[1], int(argv[2])
        for net, epochs in batches(n):
            WAYS[way](net, epochs)
        return
    if not hasattr(z.NetSim, "execute"):
        print(f"separate calls: {wall('separate', 2000):.2f} us per epoch (this build has no execute)")
        return
    s = wall("separate", 2000)
    e = wall("execute", 2000)
    q = wall("quiet", 2000)
    print(f"separate calls: {s:.2f} us per epoch")
    print(f"execute:        {e:.2f} us per epoch ({s / e:.1f}x)")
    print(f"execute, events=False: {q:.2f} us per epoch ({s / q:.1f}x; no event objects)")


if __name__ == "__main__":
    main(sys.argv[1:])
