"""Shared nets for the net API tests.

The pipeline graph: source node A (no inputs) sends through out onto the
edge A.out.out -> B.in.in; B takes one salvo from in (capacity 2), may load
into out (capacity 1, no edge: its packets become orphans) or spare, and
sends them with the output condition emit. The edge is also a dependency
edge, so a request on B gives A a request epoch.
"""

import pytest

import zellik_sim as z


def pipeline_graph() -> tuple[z.Graph, z.Edge]:
    edge = z.Edge(z.PortRef("A", z.PortType.Output, "out"), z.PortRef("B", z.PortType.Input, "in"))
    a = z.Node(
        "A",
        out_ports={"out": z.Port()},
        out_salvo_conditions={
            "send": z.SalvoCondition(
                z.MaxSalvos.Infinite, "out", z.SalvoConditionTerm.port("out", z.PortState.NonEmpty)
            )
        },
    )
    b = z.Node(
        "B",
        in_ports={"in": z.Port(z.PortSlotSpec.finite(2))},
        out_ports={"out": z.Port(z.PortSlotSpec.finite(1)), "spare": z.Port()},
        in_salvo_conditions={
            "take": z.SalvoCondition(
                z.MaxSalvos.finite(1), "in", z.SalvoConditionTerm.port("in", z.PortState.NonEmpty)
            )
        },
        out_salvo_conditions={
            "emit": z.SalvoCondition(
                z.MaxSalvos.finite(1), "out", z.SalvoConditionTerm.port("out", z.PortState.NonEmpty)
            )
        },
    )
    return z.Graph([a, b], [edge], dependency_edges=[edge]), edge


class Flow:
    """A pipeline net with shortcuts for putting it into a given state."""

    def __init__(self) -> None:
        self.graph, self.edge = pipeline_graph()
        self.net = z.NetSim(self.graph)
        self.b_in = z.PacketLocation.input_port("B", "in")

    def do(self, action: z.NetAction) -> tuple[z.NetActionResponseData, list[z.NetEvent]]:
        return self.net.do_action(action)

    def new_packet(self, epoch_id: str | None = None) -> str:
        data, _ = self.do(z.NetAction.create_packet(epoch_id))
        assert isinstance(data, z.NetActionResponseData.Packet)
        return data.packet_id

    def packet_at_b(self) -> str:
        packet = self.new_packet()
        self.do(z.NetAction.transport_packet_to_location(packet, self.b_in))
        return packet

    def epoch_at_b(self, packets: int = 1, start: bool = True) -> tuple[str, list[str]]:
        ids = [self.packet_at_b() for _ in range(packets)]
        salvo = z.Salvo("take", [("in", p) for p in ids])
        data, _ = self.do(z.NetAction.create_epoch("B", salvo))
        assert isinstance(data, z.NetActionResponseData.CreatedEpoch)
        epoch_id = data.epoch.id
        if start:
            self.do(z.NetAction.start_epoch(epoch_id))
        return epoch_id, ids

    def snapshot(self, *epoch_ids: str) -> dict[str, object]:
        """Everything observable about the net at the locations the pipeline uses."""
        locations = {
            "outside": z.PacketLocation.outside_net(),
            "edge": z.PacketLocation.edge(self.edge),
            "b_in": self.b_in,
        }
        for e in epoch_ids:
            locations[f"node {e}"] = z.PacketLocation.node(e)
            for port in ("out", "spare"):
                locations[f"{port} {e}"] = z.PacketLocation.output_port(e, port)
        state: dict[str, object] = {
            name: [str(u) for u in self.net.get_packets_at_location(loc)] for name, loc in locations.items()
        }
        state["startable"] = sorted(str(u) for u in self.net.get_startable_epochs())
        for e in epoch_ids:
            epoch = self.net.get_epoch(e)
            state[f"epoch {e}"] = None if epoch is None else (repr(epoch), repr(epoch.out_salvos))
        state["blocked"] = self.net.is_blocked()
        return state


@pytest.fixture
def flow() -> Flow:
    return Flow()
