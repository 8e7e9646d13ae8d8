"""A small flow network driven end to end by an outside executor.

The network:

    source --out--> parse --out--> router --left--> left  --out--+
                                          \\                        +--> join --done--> sink
                                           --right-> right --out--+       \\
                                                                           audit (no edge: orphans)

* ``source`` has no input: it runs only when a request reaches it. ``parse``
  asks for work through its dependency edge when the net starts, and the
  executor asks for more batches with ``create_request`` while it wants them.
* ``parse`` has a bounded input port (two places) and works only when the
  executor hands it a ticket (a packet on its second input port), which the
  executor does every other step. Packets pile up in ``parse.in`` until it is
  full, and then wait on the edge in front of it: backpressure.
* ``router`` fans out to ``left`` and ``right``, which fan back in to ``join``.
* ``join`` forwards each packet to ``sink`` and sends an audit record through
  an output port that has no edge, so those packets leave the net as orphans.

The engine keeps the book; this program plays the executor: it runs steps,
starts the epochs the steps create, creates, loads and sends packets, and
finishes the epochs. At the end it undoes one action to show how events are
used to put the net back.

The net is seeded (``--seed``), so ids and timestamps, and with them this
program's output, are the same from run to run. ``--record FILE`` writes the
run as JSON Lines, which ``examples/recording.py FILE`` replays. With
matplotlib and Graphviz installed (``pip install 'zellik_sim[viz]'``) it also
draws the graph, the net at its busiest step and a timeline of the run.
"""

from __future__ import annotations

import argparse
import collections
import pathlib
import sys
from typing import TypeVar

from zellik_sim import (
    DependencyRequestConfig,
    DependencyRequestTrigger,
    Edge,
    EpochState,
    Graph,
    MaxSalvos,
    NetAction,
    NetActionResponseData,
    NetEvent,
    NetSim,
    Node,
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

import pictures
from recording import Recorder

_Data = TypeVar("_Data", bound=NetActionResponseData)

BATCH_SIZE = 4
BATCHES = 3
NODES = ["source", "parse", "router", "left", "right", "join", "sink"]


def out_ref(node: str, port: str) -> PortRef:
    return PortRef(node, PortType.Output, port)


def in_ref(node: str, port: str) -> PortRef:
    return PortRef(node, PortType.Input, port)


def take_one(port: str) -> SalvoCondition:
    """An input condition: one packet from `port` starts an epoch."""
    return SalvoCondition(
        MaxSalvos.finite(1),
        {port: PacketCount.count(1)},
        SalvoConditionTerm.port(port, PortState.NonEmpty),
    )


def send_all(port: str) -> SalvoCondition:
    """An output condition: send everything loaded into `port`."""
    return SalvoCondition(MaxSalvos.Infinite, port, SalvoConditionTerm.port(port, PortState.NonEmpty))


def build_graph() -> Graph:
    nodes = [
        Node("source", out_ports={"out": Port()}, out_salvo_conditions={"emit": send_all("out")}),
        Node(
            "parse",
            in_ports={"in": Port(PortSlotSpec.finite(2)), "ticket": Port()},
            out_ports={"out": Port()},
            in_salvo_conditions={
                "work": SalvoCondition(
                    MaxSalvos.finite(1),
                    {"in": PacketCount.count(1), "ticket": PacketCount.count(1)},
                    SalvoConditionTerm.and_(
                        [
                            SalvoConditionTerm.port("in", PortState.NonEmpty),
                            SalvoConditionTerm.port("ticket", PortState.NonEmpty),
                        ]
                    ),
                )
            },
            out_salvo_conditions={"forward": send_all("out")},
            dependency_request_config=DependencyRequestConfig(
                [DependencyRequestTrigger.OnStartup], "warm-up"
            ),
        ),
        Node(
            "router",
            in_ports={"in": Port()},
            out_ports={"left": Port(), "right": Port()},
            in_salvo_conditions={"one": take_one("in")},
            out_salvo_conditions={"to_left": send_all("left"), "to_right": send_all("right")},
        ),
        Node(
            "left",
            in_ports={"in": Port()},
            out_ports={"out": Port()},
            in_salvo_conditions={"one": take_one("in")},
            out_salvo_conditions={"forward": send_all("out")},
        ),
        Node(
            "right",
            in_ports={"in": Port()},
            out_ports={"out": Port()},
            in_salvo_conditions={"one": take_one("in")},
            out_salvo_conditions={"forward": send_all("out")},
        ),
        Node(
            "join",
            in_ports={"in": Port()},
            out_ports={"done": Port(), "audit": Port()},
            in_salvo_conditions={"one": take_one("in")},
            out_salvo_conditions={"forward": send_all("done"), "audit": send_all("audit")},
        ),
        Node("sink", in_ports={"in": Port()}, in_salvo_conditions={"one": take_one("in")}),
    ]
    feed = Edge(out_ref("source", "out"), in_ref("parse", "in"))
    edges = [
        feed,
        Edge(out_ref("parse", "out"), in_ref("router", "in")),
        Edge(out_ref("router", "left"), in_ref("left", "in")),
        Edge(out_ref("router", "right"), in_ref("right", "in")),
        Edge(out_ref("left", "out"), in_ref("join", "in")),
        Edge(out_ref("right", "out"), in_ref("join", "in")),
        Edge(out_ref("join", "done"), in_ref("sink", "in")),
    ]
    return Graph(nodes, edges, dependency_edges=[feed])


class Executor:
    """Plays the outside world: runs every epoch the net makes startable."""

    def __init__(self, net: NetSim, timeline: pictures.Timeline, driver: NetSim | Recorder | None = None) -> None:
        self.net = net
        # Actions and undos go through the driver (a Recorder when the run is
        # recorded); queries go to the net.
        self.driver = driver if driver is not None else net
        self.timeline = timeline
        self.step = 0
        self.created = 0
        self.consumed = 0
        self.orphaned = 0
        self.epochs_run: collections.Counter[str] = collections.Counter()
        self.routed = 0
        self.undo_shown = False

    def do_action(self, action: NetAction[_Data]) -> tuple[_Data, list[NetEvent]]:
        data, events = self.driver.do_action(action)
        self.timeline.observe(self.step, self.net, events)
        return data, events

    def do(self, action: NetAction) -> list[NetEvent]:
        _, events = self.do_action(action)
        for event in events:
            if event.kind == "PacketCreated":
                self.created += 1
            elif event.kind == "PacketConsumed":
                self.consumed += 1
            elif event.kind == "PacketOrphaned":
                self.orphaned += 1
        return events

    def run_epoch(self, epoch_id: str) -> None:
        epoch = self.net.get_epoch(epoch_id)
        assert epoch is not None, "a startable epoch exists"
        node = epoch.node_name
        self.do(NetAction.start_epoch(epoch_id))
        packets = [packet_id for _, packet_id in epoch.in_salvo.packets]
        if node == "source":
            for _ in range(BATCH_SIZE):
                data, _ = self.do_action(NetAction.create_packet(epoch_id))
                self.created += 1
                self.do(NetAction.load_packet_into_output_port(data.packet_id, "out"))
            self.do(NetAction.send_output_salvo(epoch_id, "emit"))
        elif node == "sink":
            for packet_id in packets:
                self.consume_in_sink(packet_id)
        elif node == "router":
            port, condition = ("left", "to_left") if self.routed % 2 == 0 else ("right", "to_right")
            self.routed += 1
            for packet_id in packets:
                self.do(NetAction.load_packet_into_output_port(packet_id, port))
            self.do(NetAction.send_output_salvo(epoch_id, condition))
        elif node == "join":
            for packet_id in packets:
                self.do(NetAction.load_packet_into_output_port(packet_id, "done"))
            data, _ = self.do_action(NetAction.create_packet(epoch_id))
            self.created += 1
            self.do(NetAction.load_packet_into_output_port(data.packet_id, "audit"))
            self.do(NetAction.send_output_salvo(epoch_id, "forward"))
            self.do(NetAction.send_output_salvo(epoch_id, "audit"))
        else:
            for port, packet_id in epoch.in_salvo.packets:
                if port == "ticket":
                    self.do(NetAction.consume_packet(packet_id))
                else:
                    self.do(NetAction.load_packet_into_output_port(packet_id, "out"))
            self.do(NetAction.send_output_salvo(epoch_id, "forward"))
        self.do(NetAction.finish_epoch(epoch_id))
        self.epochs_run[node] += 1
        print(f"    ran {node:<6} epoch {epoch_id[-6:]}  ({len(packets)} packet(s) in)")

    def hand_ticket(self) -> None:
        data, _ = self.do_action(NetAction.create_packet())
        self.created += 1
        ticket = PacketLocation.input_port("parse", "ticket")
        self.do(NetAction.transport_packet_to_location(data.packet_id, ticket))

    def consume_in_sink(self, packet_id: str) -> None:
        action = NetAction.consume_packet(packet_id)
        _, events = self.do_action(action)
        if not self.undo_shown:
            # Undo works from the action and the events it produced.
            self.undo_shown = True
            self.driver.undo_action(action, events)
            back = self.net.get_packet(packet_id)
            assert back is not None, "undo brings the packet back"
            print(f"    undo:  consumed packet {packet_id[-6:]} is back at {back.location!r}")
            _, events = self.do_action(action)
        self.consumed += 1


def describe(events: list[NetEvent]) -> str:
    counts = collections.Counter(event.kind for event in events)
    return ", ".join(f"{kind} x{n}" for kind, n in counts.items()) or "nothing"


def parse_args(argv: list[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description="Run the example pipeline.")
    parser.add_argument("--seed", type=int, default=2026,
                        help="seed of the net's ids and clock (default 2026)")
    parser.add_argument("--record", metavar="FILE", help="write the run as JSON Lines to FILE")
    parser.add_argument("--pictures", metavar="DIR", default=str(pathlib.Path(__file__).parent / "output"),
                        help="where to write the pictures (default examples/output)")
    parser.add_argument("--no-pictures", action="store_true", help="draw no pictures")
    return parser.parse_args(argv)


def main(argv: list[str] | None = None) -> int:
    args = parse_args(sys.argv[1:] if argv is None else argv)
    graph = build_graph()
    problems = graph.validate()
    if problems:
        for problem in problems:
            print("invalid graph:", problem)
        return 1
    net = NetSim(graph, seed=args.seed)
    record_file = open(args.record, "w", encoding="utf-8") if args.record else None
    driver = Recorder(net, record_file, args.seed) if record_file else net
    timeline = pictures.Timeline(NODES)
    executor = Executor(net, timeline, driver)
    print(repr(net))

    feed = PacketLocation.edge(graph.get_edges_by_head(in_ref("parse", "in"))[0])
    parse_in = PacketLocation.input_port("parse", "in")
    parse_ticket = PacketLocation.input_port("parse", "ticket")
    batches_requested = 1  # the start-up request of `parse`
    busiest = (-1, 0, "")  # (packets inside the net, step, DOT text)
    step = 0
    while True:
        step += 1
        executor.step = step
        data, events = executor.do_action(NetAction.run_step())
        made_progress = data.made_progress
        timeline.count_waiting(step, net)
        in_net = sum(1 for packet in net.packets() if packet.location.kind != "OutsideNet")
        if in_net > busiest[0]:
            busiest = (in_net, step, net.to_dot())
        print(f"step {step:>2}: {describe(events)}")
        waiting = net.packet_count_at(feed)
        if waiting and net.packet_count_at(parse_in) == 2:
            print(f"    backpressure: parse.in is full, {waiting} packet(s) wait on its edge")
        # Seeded ids are ordered by creation, so this order repeats.
        startable = [epoch.id for epoch in net.epochs() if epoch.state == EpochState.Startable]
        for epoch_id in startable:
            executor.run_epoch(epoch_id)
        # parse works only with a ticket; the executor hands one out every
        # third step, or at once when nothing else could move.
        queued = net.packet_count_at(feed) + net.packet_count_at(parse_in)
        if queued and not net.packet_count_at(parse_ticket) and (step % 3 == 0 or net.is_blocked()):
            executor.hand_ticket()
            print("    executor hands parse a ticket")
        if not made_progress and not startable and net.is_blocked():
            if batches_requested < BATCHES:
                batches_requested += 1
                executor.do(NetAction.create_request("parse", f"batch-{batches_requested}"))
                print(f"    executor requests batch {batches_requested}")
                continue
            break
    if record_file:
        record_file.close()

    print()
    print("summary")
    print(f"  steps run:         {step}")
    print(f"  packets created:   {executor.created}")
    print(f"  packets consumed:  {executor.consumed}")
    print(f"  packets orphaned:  {executor.orphaned}")
    print("  epochs run per node:")
    for node in NODES:
        print(f"    {node:<7} {executor.epochs_run[node]}")
    if args.record:
        print(f"  trace written to {args.record}")
    if not args.no_pictures and pictures.available():
        out = pathlib.Path(args.pictures)
        out.mkdir(parents=True, exist_ok=True)
        pictures.render_dot(graph.to_dot(), str(out / "graph.png"))
        pictures.render_dot(busiest[2], str(out / "busiest.png"))
        pictures.plot_timeline(timeline, str(out / "timeline.png"))
        print("pictures")
        print(f"  graph:    {out / 'graph.png'}")
        print(f"  busiest:  {out / 'busiest.png'} (step {busiest[1]}, {busiest[0]} packets inside the net)")
        print(f"  timeline: {out / 'timeline.png'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
