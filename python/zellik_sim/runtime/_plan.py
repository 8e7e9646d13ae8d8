"""What the runtime reads from the graph once: each node's ports and which
output salvo condition sends which port, the places packets can wait, and
where a run's inputs go in."""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from typing import Any, NamedTuple

from zellik_sim import Edge, Graph, Outcome, PacketLocation, PortRef, PortSlotSpecFinite, PortType
from zellik_sim.runtime._values import Emit

# Where a run's packets go in: an input port's text ("node.in.port", or a
# node's name when it has one input port), a PortRef or an Edge.
InputKey = str | PortRef | Edge


class Entry(NamedTuple):
    """A place packets are injected at: its location, its text and the room
    it has (None: no limit)."""

    location: PacketLocation
    text: str
    capacity: int | None


class NodePlan:
    """One node as the runtime needs it."""

    def __init__(self, graph: Graph, name: str) -> None:
        node = graph.nodes()[name]
        self.name = name
        self.in_ports = list(node.in_ports)
        # The node's one input port, when it has exactly one.
        self.only_port = self.in_ports[0] if len(self.in_ports) == 1 else None
        self.out_ports = set(node.out_ports)
        # The first output condition that sends each port, in declared order.
        self.cover: dict[str, str] = {}
        for condition, salvo in node.out_salvo_conditions.items():
            for port in salvo.ports:
                self.cover.setdefault(port, condition)
        connected = {e.source.port_name for e in graph.edges() if e.source.node_name == name}
        # Payloads sent out of these ports leave the net: the run's outputs.
        self.leaves = {port: f"{name}.out.{port}" for port in self.out_ports if port not in connected}
        self._outcomes: dict[Any, Outcome] = {}
        # A dict with one port's list, by (port, length): checked once.
        self._one_port: dict[tuple[str, int], Outcome] = {}
        # The same for ports whose packets stay in the net, which the run's
        # inline loop executes without asking for a plan.
        self.staying: dict[tuple[str, int], Outcome] = {}

    def empty_inputs(self) -> dict[str, list[Any]]:
        return {port: [] for port in self.in_ports}

    def plan(self, value: Any) -> tuple[Outcome, Mapping[str, Sequence[Any]], str | None]:
        """The outcome of an epoch whose handler returned `value`, the
        payloads per port it creates and the port its inputs pass to.
        Raises TypeError or ValueError for a value the node cannot send."""
        if type(value) is dict and len(value) == 1:
            # The common case, a list on one port, is looked up at once.
            ((port, values),) = value.items()
            if type(values) is list or type(values) is tuple:
                outcome = self._one_port.get((port, len(values)))
                if outcome is not None:
                    return outcome, value, None
        sends: Sequence[str] | None = None
        pass_to: str | None = None
        if value is None:
            outputs: Mapping[str, Sequence[Any]] = {}
        elif isinstance(value, Emit):
            outputs, sends, pass_to = value.outputs, value.sends, value.pass_to
        elif isinstance(value, Mapping):
            outputs = value
        else:
            raise TypeError(f"the handler of node '{self.name}' returned {type(value).__name__}: "
                            f"return an Emit, a dict of payload lists by output port, or None")
        key = []
        for port, values in outputs.items():
            if port not in self.out_ports:
                raise ValueError(f"the handler of node '{self.name}' emitted on '{port}', "
                                 f"which is not an output port of the node")
            if not isinstance(values, (list, tuple)):
                raise TypeError(f"the handler of node '{self.name}' emitted a {type(values).__name__} "
                                f"on port '{port}': give a list of payloads")
            if values:
                key.append((port, len(values)))
        if pass_to is not None and pass_to not in self.out_ports:
            raise ValueError(f"the handler of node '{self.name}' passes its inputs to '{pass_to}', "
                             f"which is not an output port of the node")
        cache_key = (pass_to, tuple(key), None if sends is None else tuple(sends))
        outcome = self._outcomes.get(cache_key)
        if outcome is None:
            if sends is None:
                ports = [port for port, _ in key] + ([pass_to] if pass_to is not None else [])
                sends = self.default_sends(ports)
            outcome = Outcome(pass_to, dict(key), list(sends))
            self._outcomes[cache_key] = outcome
        if type(value) is dict and len(value) == 1:
            ((port, values),) = value.items()
            self._one_port[port, len(values)] = outcome
            if port not in self.leaves:
                self.staying[port, len(values)] = outcome
        return outcome, outputs, pass_to

    def default_sends(self, ports: Sequence[str]) -> list[str]:
        chosen: list[str] = []
        for port in ports:
            condition = self.cover.get(port)
            if condition is None:
                raise ValueError(f"node '{self.name}' has no output salvo condition that sends port "
                                 f"'{port}': name the conditions to send in Emit(sends=...)")
            if condition not in chosen:
                chosen.append(condition)
        return chosen


class GraphPlan:
    """The graph as the runtime needs it: node plans, the places packets
    wait (every edge and input port, by text) and input ports no edge enters."""

    def __init__(self, graph: Graph) -> None:
        self.graph = graph
        nodes = graph.nodes()
        self.nodes = {name: NodePlan(graph, name) for name in nodes}
        edges = graph.edges()
        entered = {(e.target.node_name, e.target.port_name) for e in edges}
        self.waiting: list[tuple[str, PacketLocation]] = [(str(e), PacketLocation.edge(e)) for e in edges]
        self.sources: list[Entry] = []
        self._ports: dict[tuple[str, str], Entry] = {}
        for name, node in nodes.items():
            for port, declared in node.in_ports.items():
                slots = declared.slots_spec
                capacity = slots.capacity if isinstance(slots, PortSlotSpecFinite) else None
                entry = Entry(PacketLocation.input_port(name, port), f"{name}.in.{port}", capacity)
                self._ports[name, port] = entry
                self.waiting.append((entry.text, entry.location))
                if (name, port) not in entered:
                    self.sources.append(entry)

    def port_location(self, node: str, port: str) -> PacketLocation:
        return self._ports[node, port].location

    def entry(self, key: InputKey) -> Entry:
        """Where inputs under `key` go in; ValueError for a key that names
        no input port or edge of the graph."""
        if isinstance(key, Edge):
            if key not in self.graph.edges():
                raise ValueError(f"Runtime: inputs key {key} is no edge of the graph")
            return Entry(PacketLocation.edge(key), str(key), None)
        if isinstance(key, PortRef):
            if key.port_type != PortType.Input:
                raise ValueError(f"Runtime: inputs go into input ports, not {key}")
            found = self._ports.get((key.node_name, key.port_name))
        elif isinstance(key, str):
            parts = key.split(".")
            if len(parts) == 1 and key in self.nodes and len(self.nodes[key].in_ports) == 1:
                found = self._ports[key, self.nodes[key].in_ports[0]]
            elif len(parts) == 3 and parts[1] == "in":
                found = self._ports.get((parts[0], parts[2]))
            else:
                found = None
        else:
            raise TypeError(f"Runtime: a key of inputs is an input port's text, a PortRef or an Edge, "
                            f"not {type(key).__name__}")
        if found is None:
            raise ValueError(f"Runtime: inputs key {key!s} names no input port of the graph "
                             f"(give 'node.in.port', or a node with one input port)")
        return found
