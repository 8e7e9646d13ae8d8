"""A parameter sweep: many independent nets, one per task, on many processes.

One net is single-threaded by design; to explore a design space, run many
nets side by side. Each run here simulates a three-stage line

    arrivals --> work --out--> sink

where packets arrive on the edge in front of `work` at a fixed rate, `work`
has an input port of a given capacity and takes a batch of packets per epoch
(as soon as it holds a full batch, or its port is full), and `sink` consumes
one packet per epoch. The sweep varies the port capacity and the batch size
and reports, for each run, how many steps the line needed to drain, how many
epochs `work` ran, how full its batches were and how long packets queued on
the edge (backpressure).

By default the runs go to a local process pool. With `--dask ADDRESS` they go
to an existing Dask distributed cluster (install the `dask` extra:
`pip install 'zellik_sim[dask]'`); every worker needs zellik_sim installed.

    python examples/sweep.py
    python examples/sweep.py --capacities 1,4,16 --batch-sizes 1,4 --workers 2
    python examples/sweep.py --dask tcp://scheduler:8786
"""

from __future__ import annotations

import argparse
import concurrent.futures
import dataclasses
import importlib
import itertools
import os
import sys
import time
from collections.abc import Iterable, Sequence
from typing import Any

from zellik_sim import (
    Edge,
    Graph,
    MaxSalvos,
    NetAction,
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


@dataclasses.dataclass(frozen=True)
class Params:
    """One point of the sweep."""

    capacity: int
    batch_size: int
    packets: int = 200
    arrivals_per_step: int = 3


@dataclasses.dataclass(frozen=True)
class Result:
    """What one run measured."""

    params: Params
    steps: int
    work_epochs: int
    events: int
    consumed: int
    peak_queue: int
    mean_queue: float
    seconds: float
    pid: int

    @property
    def mean_batch(self) -> float:
        return self.consumed / self.work_epochs if self.work_epochs else 0.0


def build_graph(capacity: int, batch_size: int) -> tuple[Graph, Edge]:
    """The line for one run; returns the graph and the edge packets arrive on."""
    take = SalvoCondition(
        MaxSalvos.finite(1),
        {"in": PacketCount.count(batch_size)},
        SalvoConditionTerm.or_(
            [
                SalvoConditionTerm.port("in", PortState.equals_or_greater_than(batch_size)),
                SalvoConditionTerm.port("in", PortState.Full),
            ]
        ),
    )
    send = SalvoCondition(MaxSalvos.Infinite, "out", SalvoConditionTerm.port("out", PortState.NonEmpty))
    one = SalvoCondition(MaxSalvos.finite(1), {"in": PacketCount.count(1)},
                         SalvoConditionTerm.port("in", PortState.NonEmpty))
    arrivals = Node("arrivals", out_ports={"out": Port()})
    work = Node(
        "work",
        in_ports={"in": Port(PortSlotSpec.finite(capacity))},
        out_ports={"out": Port()},
        in_salvo_conditions={"batch": take},
        out_salvo_conditions={"send": send},
    )
    sink = Node("sink", in_ports={"in": Port()}, in_salvo_conditions={"one": one})
    feed = Edge(PortRef("arrivals", PortType.Output, "out"), PortRef("work", PortType.Input, "in"))
    line = Edge(PortRef("work", PortType.Output, "out"), PortRef("sink", PortType.Input, "in"))
    return Graph([arrivals, work, sink], [feed, line]), feed


def simulate(params: Params) -> Result:
    """Runs one net to completion: every packet arrives and is consumed."""
    started = time.perf_counter()
    graph, feed_edge = build_graph(params.capacity, params.batch_size)
    net = NetSim(graph)
    feed = PacketLocation.edge(feed_edge)
    arrived = consumed = work_epochs = events = steps = peak_queue = queue_total = 0
    # A safety bound: a line that cannot drain stops instead of spinning.
    max_steps = 10 * params.packets + 100
    while consumed < params.packets and steps < max_steps:
        for _ in range(min(params.arrivals_per_step, params.packets - arrived)):
            data, new = net.do_action(NetAction.create_packet())
            _, moved = net.do_action(NetAction.transport_packet_to_location(data.packet_id, feed))
            events += len(new) + len(moved)
            arrived += 1
        _, step_events = net.run_step()
        steps += 1
        events += len(step_events)
        queue = net.packet_count_at(feed)
        peak_queue = max(peak_queue, queue)
        queue_total += queue
        for ulid in net.get_startable_epochs():
            epoch_id = str(ulid)
            epoch = net.get_epoch(epoch_id)
            assert epoch is not None, "a startable epoch exists"
            actions: list[NetAction] = [NetAction.start_epoch(epoch_id)]
            if epoch.node_name == "work":
                work_epochs += 1
                actions += [NetAction.load_packet_into_output_port(packet_id, "out")
                            for _, packet_id in epoch.in_salvo.packets]
                actions.append(NetAction.send_output_salvo(epoch_id, "send"))
            else:
                actions += [NetAction.consume_packet(packet_id) for _, packet_id in epoch.in_salvo.packets]
                consumed += len(epoch.in_salvo.packets)
            actions.append(NetAction.finish_epoch(epoch_id))
            for action in actions:
                events += len(net.do_action(action)[1])
    return Result(params, steps, work_epochs, events, consumed, peak_queue, queue_total / max(steps, 1),
                  time.perf_counter() - started, os.getpid())


def run_local(points: Sequence[Params], workers: int | None) -> Iterable[Result]:
    """Runs the points on a local process pool, yielding results as they finish."""
    with concurrent.futures.ProcessPoolExecutor(max_workers=workers) as pool:
        futures = [pool.submit(simulate, point) for point in points]
        for future in concurrent.futures.as_completed(futures):
            yield future.result()


def run_dask(points: Sequence[Params], address: str) -> Iterable[Result]:
    """Runs the points on the Dask distributed cluster at `address`."""
    # Dask is optional, and partly untyped: reach it as a plain module.
    try:
        distributed: Any = importlib.import_module("dask.distributed")
    except ImportError:
        raise SystemExit("--dask needs Dask distributed: pip install 'zellik_sim[dask]'") from None
    with distributed.Client(address) as client:
        futures = client.map(simulate, points, pure=False)
        for future in distributed.as_completed(futures):
            result: Result = future.result()
            yield result


ROW = "{:>8} {:>6} {:>6} {:>7} {:>8} {:>10} {:>13} {:>9} {:>8}"


def print_row(result: Result) -> None:
    p = result.params
    print(ROW.format(p.capacity, p.batch_size, result.steps, result.work_epochs, result.events,
                     f"{result.mean_batch:.2f}", f"{result.peak_queue}/{result.mean_queue:.1f}",
                     f"{result.seconds * 1000:.1f}", result.pid), flush=True)


def print_summary(results: Sequence[Result], capacities: Sequence[int], batch_sizes: Sequence[int]) -> None:
    by_point = {(r.params.capacity, r.params.batch_size): r for r in results}
    print()
    print("summary: steps to drain (rows: port capacity, columns: batch size)")
    print("capacity " + "".join(f"{b:>8}" for b in batch_sizes))
    for c in capacities:
        print(f"{c:>8} " + "".join(f"{by_point[c, b].steps:>8}" for b in batch_sizes))
    best = min(results, key=lambda r: (r.steps, r.params.capacity, r.params.batch_size))
    drained = sum(r.consumed == r.params.packets for r in results)
    print()
    print(f"runs: {len(results)}  drained: {drained}  processes: {len({r.pid for r in results})}  "
          f"events: {sum(r.events for r in results)}  "
          f"simulation time: {sum(r.seconds for r in results):.2f} s")
    print(f"fewest steps: capacity {best.params.capacity}, batch size {best.params.batch_size} "
          f"({best.steps} steps)")


def int_list(text: str) -> list[int]:
    values = [int(part) for part in text.split(",") if part.strip()]
    if not values or min(values) < 1:
        raise argparse.ArgumentTypeError("expected positive integers separated by commas")
    return values


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="Sweep the line over port capacities and batch sizes.")
    parser.add_argument("--capacities", type=int_list, default=[1, 2, 4, 8, 16],
                        help="capacities of work's input port (default 1,2,4,8,16)")
    parser.add_argument("--batch-sizes", type=int_list, default=[1, 2, 4, 8],
                        help="packets work takes per epoch (default 1,2,4,8)")
    parser.add_argument("--packets", type=int, default=200, help="packets per run (default 200)")
    parser.add_argument("--workers", type=int, default=None, help="local processes (default: one per CPU)")
    parser.add_argument("--dask", metavar="ADDRESS", help="run on the Dask distributed cluster at ADDRESS")
    args = parser.parse_args(argv)

    points = [Params(c, b, args.packets) for c, b in itertools.product(args.capacities, args.batch_sizes)]
    where = f"Dask cluster {args.dask}" if args.dask else "a local process pool"
    print(f"{len(points)} runs of {args.packets} packets on {where}")
    print(ROW.format("capacity", "batch", "steps", "epochs", "events", "mean fill", "queue max/avg", "ms", "pid"))
    results: list[Result] = []
    for result in run_dask(points, args.dask) if args.dask else run_local(points, args.workers):
        print_row(result)
        results.append(result)
    print_summary(results, args.capacities, args.batch_sizes)
    return 0 if all(r.consumed == r.params.packets for r in results) else 1


if __name__ == "__main__":
    sys.exit(main())
