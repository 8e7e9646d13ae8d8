"""run_until_blocked among other threads: interrupted by a signal, the net held while it runs, two nets at once."""

import collections
import json
import subprocess
import sys
import threading
import time

import pytest

import zellik_sim as z
from conftest import pipeline_graph


def chain_net(packets: int, seed: int | None = None) -> z.NetSim:
    """The pipeline net with `packets` packets on its edge: run_until_blocked moves them all into B's epochs."""
    graph, edge = pipeline_graph()
    net = z.NetSim(graph) if seed is None else z.NetSim(graph, seed=seed)
    on_edge = z.PacketLocation.edge(edge)
    for _ in range(packets):
        data, _ = net.do_action(z.NetAction.create_packet())
        net.do_action(z.NetAction.transport_packet_to_location(data.packet_id, on_edge))
    return net


# B fires on its empty port "idle" while a packet waits at "in": every step
# makes an empty epoch and the net never blocks.
NEVER_BLOCKS = """
import json, os, signal, sys, threading, time
import zellik_sim as z

spin = z.SalvoCondition(z.MaxSalvos.finite(1), {"idle": z.PacketCount.all()},
                        z.SalvoConditionTerm.port("idle", z.PortState.Empty))
b = z.Node("B", in_ports={"in": z.Port(), "idle": z.Port()}, in_salvo_conditions={"spin": spin})
net = z.NetSim(z.Graph([b], []))
data, _ = net.do_action(z.NetAction.create_packet())
net.do_action(z.NetAction.transport_packet_to_location(data.packet_id, z.PacketLocation.input_port("B", "in")))

sent = []
def interrupt():
    sent.append(time.perf_counter())
    os.kill(os.getpid(), signal.SIGINT)
threading.Timer(0.3, interrupt).start()
try:
    net.run_until_blocked()
    print(json.dumps({"interrupted": False}))
    sys.exit(0)
except KeyboardInterrupt as e:
    delay = time.perf_counter() - sent[0]
    events = e.events
created = [ev.epoch_id for ev in events if ev.kind == "EpochCreated"]
print(json.dumps({
    "interrupted": True,
    "delay": delay,
    "kinds": sorted({ev.kind for ev in events}),
    "events": len(events),
    "created": created,
    "startable": sorted(str(u) for u in net.get_startable_epochs()),
    "waiting": net.packet_count_at(z.PacketLocation.input_port("B", "in")),
}))
"""


def test_a_timer_signal_stops_a_net_that_never_blocks() -> None:
    run = subprocess.run([sys.executable, "-c", NEVER_BLOCKS], capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    result = json.loads(run.stdout)
    assert result["interrupted"]
    assert result["delay"] < 0.1
    # Every completed step made one epoch and reported it exactly once; the
    # net holds exactly the epochs the events report.
    created = result["created"]
    assert len(created) > 0 and len(set(created)) == len(created)
    assert result["events"] == 2 * len(created)
    assert result["kinds"] == ["EpochCreated", "InputSalvoTriggered"]
    assert sorted(created) == result["startable"]
    assert result["waiting"] == 1


def test_another_thread_touching_the_running_net_gets_runtime_error() -> None:
    net = chain_net(20_000)
    outcome: dict[str, object] = {}
    worker = threading.Thread(target=lambda: outcome.setdefault("events", net.run_until_blocked()))
    refused = collections.Counter()
    calls = {
        "is_blocked": net.is_blocked,
        "get_packet": lambda: net.get_packet("01ARZ3NDEKTSV4RRFFQ69G5FAV"),
        "get_startable_epochs": net.get_startable_epochs,
        "do_action": lambda: net.do_action(z.NetAction.create_packet()),
    }
    worker.start()
    while worker.is_alive():
        for name, call in calls.items():
            try:
                call()
            except RuntimeError:
                refused[name] += 1
        time.sleep(0)
    worker.join()
    assert refused, "the run ended before another thread could reach the net"
    events = outcome["events"]
    moved_off_edge = [e for e in events if e.kind == "PacketMoved" and e.from_location.kind == "Edge"]
    assert len(moved_off_edge) == 20_000
    assert net.is_blocked()


def test_two_nets_on_two_threads_both_finish_with_every_event() -> None:
    packets = 5_000
    reference = collections.Counter(e.kind for e in chain_net(packets).run_until_blocked())
    nets = [chain_net(packets), chain_net(packets)]
    results: list[list[z.NetEvent]] = [[], []]

    def run(i: int) -> None:
        results[i] = nets[i].run_until_blocked()

    threads = [threading.Thread(target=run, args=(i,)) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for net, events in zip(nets, results):
        assert collections.Counter(e.kind for e in events) == reference
        assert net.is_blocked()
        assert len(net.get_startable_epochs()) == reference["EpochCreated"]


def test_a_run_of_thousands_of_steps_gives_the_events_of_its_steps_in_order() -> None:
    # More steps than the engine takes between two looks at the interpreter,
    # so the run is cut into pieces; no event may be lost, repeated or reordered
    # where they join.
    packets = 5_000
    stepped = chain_net(packets, seed=5)
    expected: list[dict[str, object]] = []
    while not stepped.is_blocked():
        expected += [e.to_dict() for e in stepped.run_step()[1]]
    events = chain_net(packets, seed=5).run_until_blocked()
    assert len(expected) == 4 * packets
    assert [e.to_dict() for e in events] == expected
