"""Writes saved_forms.pickle and saved_forms.json next to this file.

Run once with a released build of the module; test_saved_forms.py then checks
that every later build reads the same bytes back to the same values and
writes them again byte for byte. The net is the example pipeline's, seeded,
stopped part way through a run so that packets wait everywhere a packet can
wait and epochs stand in every state.
"""

from __future__ import annotations

import json
import pathlib
import pickle
import sys

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parents[2] / "examples"))

import pipeline  # noqa: E402

from zellik_sim import NetAction, NetSim, PacketLocation  # noqa: E402

PROTOCOL = 4


def run() -> dict[str, object]:
    net = NetSim(pipeline.build_graph(), seed=20261208)
    actions: list[NetAction] = []
    events: list[object] = []
    data: list[object] = []

    def do(action: NetAction) -> object:
        result, new_events = net.do_action(action)
        actions.append(action)
        events.extend(new_events)
        data.append(result)
        return result

    for step in range(12):
        if step < 6:
            do(NetAction.create_request("source", f"batch {step}"))
        do(NetAction.run_step())
        if step % 2 == 0:
            ticket = do(NetAction.create_packet())
            do(NetAction.transport_packet_to_location(ticket.packet_id, PacketLocation.input_port("parse", "ticket")))
        for epoch_id in net.get_startable_epochs()[:3]:
            epoch = net.get_epoch(epoch_id)
            do(NetAction.start_epoch(epoch_id))
            if step == 11:
                continue  # left running, its packets inside
            node = net.graph.nodes()[epoch.node_name]
            out_port = next(iter(node.out_ports), None)
            for port, packet_id in epoch.in_salvo.packets:
                if port == "ticket" or out_port is None:
                    do(NetAction.consume_packet(packet_id))
                else:
                    do(NetAction.load_packet_into_output_port(packet_id, out_port))
            if epoch.node_name == "source" and out_port is not None:
                for _ in range(3):
                    made = do(NetAction.create_packet(epoch_id))
                    do(NetAction.load_packet_into_output_port(made.packet_id, out_port))
            if step == 10:
                continue  # left running, packets in its output port
            for condition in node.out_salvo_conditions:
                try:
                    do(NetAction.send_output_salvo(epoch_id, condition))
                except Exception:
                    pass
            do(NetAction.finish_epoch(epoch_id))
    # Then a packet at every kind of place and epochs in every live state.
    from zellik_sim import Salvo

    def new_packet(epoch_id: str | None = None) -> str:
        return do(NetAction.create_packet(epoch_id)).packet_id  # type: ignore[attr-defined]

    for edge in net.graph.edges()[:3]:
        do(NetAction.transport_packet_to_location(new_packet(), PacketLocation.edge(edge)))
    do(NetAction.transport_packet_to_location(new_packet(), PacketLocation.input_port("join", "in")))
    new_packet()  # outside the net
    gone = new_packet()
    do(NetAction.destroy_packet(gone))
    def waiting_at(node: str) -> str:
        packet_id = new_packet()
        do(NetAction.transport_packet_to_location(packet_id, PacketLocation.input_port(node, "in")))
        return packet_id

    def epoch_at(node: str) -> object:
        salvo = Salvo("manual", [("in", waiting_at(node))])
        return do(NetAction.create_epoch(node, salvo)).epoch  # type: ignore[attr-defined]

    startable = epoch_at("left")
    running = epoch_at("right")
    do(NetAction.start_epoch(running.id))  # type: ignore[attr-defined]
    do(NetAction.load_packet_into_output_port(new_packet(running.id), "out"))
    new_packet(running.id)
    audit = epoch_at("join")
    do(NetAction.start_epoch(audit.id))  # type: ignore[attr-defined]
    do(NetAction.load_packet_into_output_port(new_packet(audit.id), "audit"))  # type: ignore[attr-defined]
    do(NetAction.send_output_salvo(audit.id, "audit"))  # type: ignore[attr-defined]
    doomed = epoch_at("router")
    do(NetAction.start_epoch(doomed.id))
    do(NetAction.cancel_epoch(doomed.id))
    assert str(startable.state) .endswith("Startable")  # type: ignore[attr-defined]
    return {
        "net": net,
        "actions": actions,
        "events": events,
        "data": data,
        "packets": net.packets(),
        "epochs": net.epochs(),
    }


def describe(saved: dict[str, object]) -> dict[str, object]:
    net = saved["net"]
    assert isinstance(net, NetSim)
    return {
        "net": {"packets": [repr(p) for p in net.packets()], "epochs": [repr(e) for e in net.epochs()], "dot": net.to_dot()},
        "actions": [a.to_dict() for a in saved["actions"]],  # type: ignore[attr-defined]
        "events": [e.to_dict() for e in saved["events"]],  # type: ignore[attr-defined]
        "data": [repr(d) for d in saved["data"]],  # type: ignore[attr-defined]
        "packets": [p.to_dict() for p in saved["packets"]],  # type: ignore[attr-defined]
        "epochs": [e.to_dict() for e in saved["epochs"]],  # type: ignore[attr-defined]
    }


if __name__ == "__main__":
    saved = run()
    (HERE / "saved_forms.pickle").write_bytes(pickle.dumps(saved, protocol=PROTOCOL))
    (HERE / "saved_forms.json").write_text(json.dumps(describe(saved), indent=1) + "\n")
