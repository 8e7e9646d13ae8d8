"""The module in an isolated interpreter with its own lock, beside the main one.

Each interpreter imports the module on its own: its own classes, exception
classes and caches, and its own NetSim. The nets run at the same time (the
other interpreter on a thread of its own) and give the same answers.
"""

from __future__ import annotations

import json
import os
import sys
import threading

import pytest

import zellik_sim
from zellik_sim import Graph, NetAction, NetSim, Node, Port

if sys.version_info < (3, 12):
    pytest.skip("interpreters with their own lock came with CPython 3.12", allow_module_level=True)

if sys.version_info >= (3, 13):
    import _interpreters as interpreters  # type: ignore[import-not-found]

    def create_isolated() -> int:
        return interpreters.create(interpreters.new_config("isolated"))  # type: ignore[no-any-return]
else:
    import _xxsubinterpreters as interpreters  # type: ignore[import-not-found]

    def create_isolated() -> int:
        return interpreters.create(isolated=True)  # type: ignore[no-any-return]


# Run in both interpreters: a chain of `nodes` nodes carrying `packets`
# packets to its end, then the error class and the pickle round trip of the
# net. Returns what it saw as a JSON-ready dict.
NET_SCRIPT = """
def run_chain(nodes, packets):
    import pickle
    import zellik_sim as z
    names = [f"N{i}" for i in range(nodes)]
    made = []
    for i, name in enumerate(names):
        ins = {"in": z.Port()} if i > 0 else {}
        outs = {"out": z.Port()} if i + 1 < nodes else {}
        conds = {}
        if i > 0:
            conds["take"] = z.SalvoCondition(
                z.MaxSalvos.finite(1), {"in": z.PacketCount.All},
                z.SalvoConditionTerm.port("in", z.PortState.NonEmpty))
        made.append(z.Node(name, in_ports=ins, out_ports=outs, in_salvo_conditions=conds))
    edges = [z.Edge(z.PortRef(a, z.PortType.Output, "out"), z.PortRef(b, z.PortType.Input, "in"))
             for a, b in zip(names, names[1:])]
    net = z.NetSim(z.Graph(made, edges), seed=7)
    first = z.PacketLocation.edge(edges[0])
    for _ in range(packets):
        data, _ = net.do_action(z.NetAction.create_packet())
        net.do_action(z.NetAction.transport_packet_to_location(data.packet_id, first))
    events = net.run_until_blocked()
    try:
        net.do_action(z.NetAction.start_epoch("0" * 26))
        error = None
    except z.ZellikError as e:
        error = [type(e).__name__, str(e)]
    again = pickle.loads(pickle.dumps(net))
    return {
        "kinds": sorted({e.kind for e in events}),
        "events": len(events),
        "startable": len(net.get_startable_epochs()),
        "error": error,
        "pickled": [repr(p) for p in again.packets()] == [repr(p) for p in net.packets()],
        "classes": [z.NetSim.__module__, z.NodeNotFoundError.__mro__[1].__name__],
    }
"""

SUB_SCRIPT = """
import json, os, sys
sys.path[:] = json.loads(PATH)
exec(NET_SCRIPT)
os.write(FD, json.dumps(run_chain(NODES, PACKETS)).encode())
os.close(FD)
"""


def run_in_interpreter(interp: int, nodes: int, packets: int) -> dict[str, object]:
    read_fd, write_fd = os.pipe()
    shared = {"PATH": json.dumps(sys.path), "NET_SCRIPT": NET_SCRIPT, "FD": write_fd,
              "NODES": nodes, "PACKETS": packets}
    try:
        interpreters.run_string(interp, SUB_SCRIPT, shared)
    except BaseException:
        os.close(write_fd)
        raise
    finally:
        chunks = []
        while chunk := os.read(read_fd, 65536):
            chunks.append(chunk)
        os.close(read_fd)
    return json.loads(b"".join(chunks))  # type: ignore[no-any-return]


def run_here(nodes: int, packets: int) -> dict[str, object]:
    scope: dict[str, object] = {}
    exec(NET_SCRIPT, scope)
    return scope["run_chain"](nodes, packets)  # type: ignore[operator,no-any-return]


class TestIsolatedInterpreter:
    def test_each_interpreter_runs_its_own_net_at_the_same_time(self):
        found: dict[str, object] = {}

        # The other interpreter lives on its own thread, from creation to
        # end: 3.12 waits for ever to end an interpreter from another thread
        # than the one that imported `threading` in it (importing `ulid`
        # does).
        def other() -> None:
            try:
                interp = create_isolated()
                try:
                    found["sub"] = run_in_interpreter(interp, 6, 300)
                finally:
                    interpreters.destroy(interp)
            except BaseException as e:  # reported below, in the main thread
                found["sub"] = e

        thread = threading.Thread(target=other)
        thread.start()
        here = run_here(6, 300)
        thread.join()
        sub = found["sub"]
        if isinstance(sub, BaseException):
            raise sub
        assert sub == here
        assert here["kinds"] == ["EpochCreated", "InputSalvoTriggered", "PacketMoved"]
        assert here["startable"] > 0
        assert here["error"] == ["EpochNotFoundError", "Epoch not found: " + "0" * 26]
        assert here["pickled"] is True
        assert here["classes"] == ["zellik_sim", "ZellikError"]

    def test_classes_of_two_interpreters_are_not_shared(self):
        # Each interpreter makes its own classes: the sub-interpreter's
        # NetSim class is another object than this one's, yet a net made there
        # behaves the same, and ends with its interpreter.
        interp = create_isolated()
        try:
            read_fd, write_fd = os.pipe()
            script = (
                "import json, os, sys\n"
                "sys.path[:] = json.loads(PATH)\n"
                "import zellik_sim\n"
                "os.write(FD, str(id(zellik_sim.NetSim)).encode()); os.close(FD)\n"
            )
            interpreters.run_string(interp, script, {"PATH": json.dumps(sys.path), "FD": write_fd})
            other_id = int(os.read(read_fd, 64))
            os.close(read_fd)
        finally:
            interpreters.destroy(interp)
        assert other_id != id(zellik_sim.NetSim)
        # The main interpreter's module is untouched by the other's end.
        net = NetSim(Graph([Node("A", out_ports={"o": Port()})], []))
        data, events = net.do_action(NetAction.create_packet())
        assert [e.kind for e in events] == ["PacketCreated"]
        assert net.get_packet(data.packet_id) is not None

    def test_a_second_interpreter_after_the_first_ended(self):
        # A state detached when its interpreter ends is not found by the next.
        for _ in range(3):
            interp = create_isolated()
            try:
                result = run_in_interpreter(interp, 3, 20)
            finally:
                interpreters.destroy(interp)
            assert result["error"] == ["EpochNotFoundError", "Epoch not found: " + "0" * 26]
        assert run_here(3, 20) == result

