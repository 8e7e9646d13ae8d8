"""What the stubs promise is what the module does, for every public name.

The stubs are read as a syntax tree. Every class, constructor, static
method, method and property they declare must have a good call registered
below (a name without one fails, so new API cannot skip this test). From
each good call and each parameter's annotation the test makes the calls the
annotation rules out: None where it has no None, a value of the wrong
builtin type, an object of another class of the module, counts below 0 or
past 64 bits, times that are not finite. Each must raise exactly TypeError
or ValueError naming the parameter, and leave its object as it was; every
good call must return what its annotation says.

Identifiers follow their own documented rule: any object but None is taken
through str(), so only None is ruled out for them. A few refusals have
fixed texts of their own that name the expected classes instead of the
argument; the test holds them to those texts exactly.
"""

from __future__ import annotations

import ast
import importlib
import io
import math
import pathlib
import tempfile
from collections.abc import Callable, Collection, Iterator
from dataclasses import dataclass, field
from typing import Any

import pytest
from ulid import ULID

import zellik_sim as z
import zellik_sim.capacities
import zellik_sim.runtime
from zellik_sim.properties import Property
from conftest import Flow

STUBS = pathlib.Path(__file__).resolve().parents[1] / "zellik_sim-stubs"


# ---------------------------------------------------------------------------
# The stubs, read


@dataclass
class Param:
    name: str
    annotation: ast.expr | None
    keyword_only: bool = False
    has_default: bool = False


@dataclass
class Member:
    owner: str  # the class's dotted name, or the submodule's for a function ("" for the package)
    name: str  # "__new__", a method's, a property's or a function's name
    kind: str  # "constructor", "static", "method", "property" or "function"
    params: list[Param] = field(default_factory=list)
    returns: ast.expr | None = None
    module: str = ""  # the submodule's dotted prefix ("runtime."), where annotations are read

    @property
    def key(self) -> str:
        if self.kind == "constructor":
            return self.owner
        return f"{self.owner}.{self.name}" if self.owner else self.name


def _decorators(fn: ast.FunctionDef | ast.ClassDef) -> set[str]:
    return {ast.unparse(d) for d in fn.decorator_list}


def _params(fn: ast.FunctionDef, skip_first: bool) -> list[Param]:
    args = fn.args
    positional = args.posonlyargs + args.args
    if skip_first:
        positional = positional[1:]
    defaults = [False] * (len(positional) - len(args.defaults)) + [True] * len(args.defaults)
    out = [Param(a.arg, a.annotation, False, d) for a, d in zip(positional, defaults)]
    out += [Param(a.arg, a.annotation, True, d is not None) for a, d in zip(args.kwonlyargs, args.kw_defaults)]
    return out


def _dataclass_fields(node: ast.ClassDef) -> list[Param]:
    """A dataclass's fields, as its generated constructor takes them."""
    return [
        Param(item.target.id, item.annotation, False, item.value is not None)
        for item in node.body
        if isinstance(item, ast.AnnAssign) and isinstance(item.target, ast.Name)
        and not ast.unparse(item.annotation).startswith("ClassVar")
    ]


def _read_class(node: ast.ClassDef, prefix: str, module: str, members: list[Member], classes: list[str]) -> None:
    owner = prefix + node.name
    classes.append(owner)
    constructed = False
    for item in node.body:
        if isinstance(item, ast.ClassDef):
            _read_class(item, owner + ".", module, members, classes)
        if not isinstance(item, ast.FunctionDef):
            continue
        decorators = _decorators(item)
        if item.name in ("__new__", "__init__"):
            returns = item.returns if item.name == "__new__" else None  # __init__ says None
            members.append(Member(owner, item.name, "constructor", _params(item, True), returns, module))
            constructed = True
        elif item.name.startswith("__"):
            continue  # protocol methods: stubtest holds them to the module
        elif "property" in decorators:
            members.append(Member(owner, item.name, "property", [], item.returns, module))
        elif "staticmethod" in decorators:
            members.append(Member(owner, item.name, "static", _params(item, False), item.returns, module))
        else:
            members.append(Member(owner, item.name, "method", _params(item, True), item.returns, module))
    if not constructed and any(d.startswith("dataclass") for d in _decorators(node)):
        members.append(Member(owner, "__init__", "constructor", _dataclass_fields(node), None, module))


def stub_modules() -> Iterator[tuple[str, ast.Module]]:
    """Every stub file of the package with its submodule's dotted prefix:
    "" for the package itself, "runtime." for runtime/__init__.pyi."""
    for path in sorted(STUBS.rglob("*.pyi")):
        parts = list(path.relative_to(STUBS).with_suffix("").parts)
        if parts[-1] == "__init__":
            parts.pop()
        yield "".join(p + "." for p in parts), ast.parse(path.read_text())


def read_stubs() -> tuple[list[str], list[Member], dict[str, ast.expr]]:
    members: list[Member] = []
    classes: list[str] = []
    aliases: dict[str, ast.expr] = {}
    for module, tree in stub_modules():
        if module:
            importlib.import_module("zellik_sim." + module.rstrip("."))
        for node in tree.body:
            if isinstance(node, ast.ClassDef) and not node.name.startswith("_"):
                is_exception = any(ast.unparse(b).endswith(("Error", "Exception", "Interrupt")) for b in node.bases)
                if not is_exception:
                    _read_class(node, module, module, members, classes)
            if isinstance(node, ast.FunctionDef) and not node.name.startswith("_"):
                owner = module.rstrip(".")
                members.append(Member(owner, node.name, "function", _params(node, False), node.returns, module))
            if isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name) and node.value is not None:
                aliases[module + node.target.id] = node.value
    return classes, members, aliases


CLASSES, MEMBERS, ALIASES = read_stubs()


def resolve(dotted: str) -> Any:
    obj: Any = z
    for part in dotted.split("."):
        if part:
            obj = getattr(obj, part)
    return obj


def qualified(text: str, module: str, names: Collection[str]) -> str | None:
    """A name as an annotation of `module` means it: the submodule's own, else the package's."""
    for candidate in (module + text, text):
        if candidate in names:
            return candidate
    return None


# ---------------------------------------------------------------------------
# Annotations: what they admit


@dataclass
class Admits:
    """What one annotation lets through, coarsely."""

    none: bool = False
    anything: bool = False
    identifier: bool = False
    builtins: set[type] = field(default_factory=set)
    classes: set[str] = field(default_factory=set)
    literals: list[object] = field(default_factory=list)
    sequence_of: list[ast.expr] = field(default_factory=list)
    mapping_of: list[tuple[ast.expr, ast.expr]] = field(default_factory=list)
    plain_dict: bool = False


_BUILTINS = {"str": str, "int": int, "float": float, "bool": bool, "bytes": bytes}


def admits(node: ast.expr | None, module: str = "", into: Admits | None = None) -> Admits:
    a = into if into is not None else Admits()
    if node is None:
        a.anything = True
    elif isinstance(node, ast.BinOp) and isinstance(node.op, ast.BitOr):
        admits(node.left, module, a)
        admits(node.right, module, a)
    elif isinstance(node, ast.Constant) and node.value is None:
        a.none = True
    elif isinstance(node, ast.Name) and node.id == "_Identifier":
        a.identifier = True
    elif isinstance(node, ast.Name) and node.id == "_PlainDict":
        a.plain_dict = True
    elif isinstance(node, ast.Name) and qualified(node.id, module, ALIASES):
        admits(ALIASES[qualified(node.id, module, ALIASES) or ""], module, a)
    elif isinstance(node, ast.Name) and node.id in _BUILTINS:
        a.builtins.add(_BUILTINS[node.id])
        if node.id == "float":
            a.builtins.add(int)
    elif isinstance(node, (ast.Name, ast.Attribute)) and qualified(ast.unparse(node), module, CLASSES):
        a.classes.add(qualified(ast.unparse(node), module, CLASSES) or "")
    elif isinstance(node, ast.Subscript):
        outer = ast.unparse(node.value)
        inner = node.slice
        parts = list(inner.elts) if isinstance(inner, ast.Tuple) else [inner]
        if outer == "Literal":
            a.literals += [p.value for p in parts if isinstance(p, ast.Constant)]
        elif outer in ("Sequence", "list"):
            a.sequence_of.append(parts[0])
        elif outer in ("Mapping", "dict"):
            a.mapping_of.append((parts[0], parts[1]))
        else:
            a.anything = True
    else:
        a.anything = True
    return a


def conforms(value: object, node: ast.expr | None, module: str = "") -> bool:
    """Whether a returned value is what the annotation says."""
    if node is None:
        return True
    if isinstance(node, ast.BinOp):
        return conforms(value, node.left, module) or conforms(value, node.right, module)
    if isinstance(node, ast.Constant) and node.value is None:
        return value is None
    if isinstance(node, ast.Subscript):
        outer = ast.unparse(node.value)
        parts = list(node.slice.elts) if isinstance(node.slice, ast.Tuple) else [node.slice]
        if outer == "Literal":
            return value in [p.value for p in parts if isinstance(p, ast.Constant)]
        if outer == "list":
            return isinstance(value, list) and all(conforms(v, parts[0], module) for v in value)
        if outer == "dict":
            return isinstance(value, dict) and all(
                conforms(k, parts[0], module) and conforms(v, parts[1], module) for k, v in value.items()
            )
        if outer == "tuple":
            return (
                isinstance(value, tuple)
                and len(value) == len(parts)
                and all(conforms(v, p, module) for v, p in zip(value, parts))
            )
        return conforms(value, node.value, module)
    text = ast.unparse(node)
    if text in _BUILTINS:
        if text == "int":
            return isinstance(value, int) and not isinstance(value, bool)
        return isinstance(value, _BUILTINS[text])
    if text == "ULID":
        return isinstance(value, ULID)
    if text == "_PlainDict":
        return isinstance(value, dict)
    name = qualified(text, module, CLASSES)
    if name is not None:
        return isinstance(value, resolve(name))
    return True  # a type variable or Any


# ---------------------------------------------------------------------------
# A small world to call into, made anew for every call


class World(Flow):
    """The pipeline net with a packet on the edge, one at B.in, a running
    epoch of B holding a packet, and one orphaned packet in a finished
    epoch's record; plus an exploration of it."""

    def __init__(self) -> None:
        super().__init__()
        self.on_edge = self.new_packet()
        self.do(z.NetAction.transport_packet_to_location(self.on_edge, z.PacketLocation.edge(self.edge)))
        self.epoch, (self.inside,) = self.epoch_at_b()
        self.waiting = self.packet_at_b()
        self.b_out = z.PacketLocation.output_port(self.epoch, "out")
        self.action = z.NetAction.create_packet()
        _, self.events = self.net.do_action(self.action)
        self.orphan_epoch = self._orphaning_epoch()

    def _orphaning_epoch(self) -> z.Epoch:
        """A finished epoch whose sent packet had no edge to go to."""
        net = z.NetSim(self.graph, seed=3)
        data, _ = net.do_action(z.NetAction.create_epoch("B", z.Salvo("take", [])))
        assert isinstance(data, z.NetActionResponseData.CreatedEpoch)
        e = data.epoch.id
        net.do_action(z.NetAction.start_epoch(e))
        p = net.do_action(z.NetAction.create_packet(e))[0].packet_id
        net.do_action(z.NetAction.load_packet_into_output_port(p, "out"))
        net.do_action(z.NetAction.send_output_salvo(e, "emit"))
        data2, _ = net.do_action(z.NetAction.finish_epoch(e))
        return data2.epoch

    def exploration(self) -> z.ExplorationResult:
        net = z.NetSim(self.graph, seed=5)
        return net.explore(
            [z.Behaviour("B", [z.Outcome()])], [z.Injection(self.b_in, 3)], max_states=50
        )

    def term(self) -> z.SalvoConditionTerm:
        return z.SalvoConditionTerm.port("in", z.PortState.NonEmpty)

    def condition(self) -> z.SalvoCondition:
        return z.SalvoCondition(z.MaxSalvos.finite(1), "in", self.term())


Call = Callable[[World], tuple[Callable[..., Any], dict[str, Any]]]


def _static(owner: str, name: str, **kwargs: Any) -> Call:
    return lambda w: (getattr(resolve(owner), name), {k: v(w) if callable(v) else v for k, v in kwargs.items()})


def _on(instance: Callable[[World], Any], name: str, **kwargs: Callable[[World], Any]) -> Call:
    def call(w: World) -> tuple[Callable[..., Any], dict[str, Any]]:
        return getattr(instance(w), name), {k: v(w) for k, v in kwargs.items()}

    return call


def _const(value: Any) -> Callable[[World], Any]:
    return lambda w: value


# One good call of every callable that takes arguments, by the stubs' name.
# Values are functions of a fresh World (or plain values for static calls).
GOOD_CALLS: dict[str, Call] = {
    "PacketCount.count": _static("PacketCount", "count", n=2),
    "MaxSalvos.finite": _static("MaxSalvos", "finite", n=2),
    "PortSlotSpec.finite": _static("PortSlotSpec", "finite", n=2),
    **{
        f"PortState.{name}": _static("PortState", name, n=1)
        for name in ("equals", "less_than", "greater_than", "equals_or_less_than", "equals_or_greater_than")
    },
    "SalvoConditionTerm.port": _static("SalvoConditionTerm", "port", port_name="in", state=z.PortState.NonEmpty),
    "SalvoConditionTerm.and_": _static("SalvoConditionTerm", "and_", terms=lambda w: [w.term(), w.term()]),
    "SalvoConditionTerm.or_": _static("SalvoConditionTerm", "or_", terms=lambda w: [w.term()]),
    "SalvoConditionTerm.not_": _static("SalvoConditionTerm", "not_", term=lambda w: w.term()),
    "DependencyRequestConfig": lambda w: (
        z.DependencyRequestConfig,
        {"triggers": [z.DependencyRequestTrigger.OnStartup], "label": "l"},
    ),
    "Port": lambda w: (z.Port, {"slots_spec": z.PortSlotSpec.finite(3)}),
    "PortRef": lambda w: (z.PortRef, {"node_name": "B", "port_type": z.PortType.Input, "port_name": "in"}),
    "Edge": lambda w: (z.Edge, {"source": w.edge.source, "target": w.edge.target}),
    "SalvoCondition": lambda w: (
        z.SalvoCondition,
        {"max_salvos": z.MaxSalvos.finite(1), "ports": {"in": z.PacketCount.All}, "term": w.term()},
    ),
    "Node": lambda w: (
        z.Node,
        {
            "name": "N",
            "in_ports": {"in": z.Port()},
            "out_ports": {"out": z.Port()},
            "in_salvo_conditions": {"take": w.condition()},
            "out_salvo_conditions": {},
            "dependency_request_config": z.DependencyRequestConfig([], "l"),
        },
    ),
    "Graph": lambda w: (
        z.Graph,
        {"nodes": list(w.graph.nodes().values()), "edges": [w.edge], "dependency_edges": [w.edge]},
    ),
    "Graph.get_edges_by_head": _on(lambda w: w.graph, "get_edges_by_head", input_port_ref=lambda w: w.edge.target),
    "Graph.is_dependency_edge": _on(lambda w: w.graph, "is_dependency_edge", edge=lambda w: w.edge),
    "Graph.from_dict": _static("Graph", "from_dict", data=lambda w: w.graph.to_dict()),
    "PacketLocation.node": _static("PacketLocation", "node", epoch_id=lambda w: w.epoch),
    "PacketLocation.input_port": _static("PacketLocation", "input_port", node_name="B", port_name="in"),
    "PacketLocation.output_port": _static("PacketLocation", "output_port", epoch_id=lambda w: w.epoch, port_name="out"),
    "PacketLocation.edge": _static("PacketLocation", "edge", edge=lambda w: w.edge),
    "PacketLocation.from_dict": _static("PacketLocation", "from_dict", data=lambda w: w.b_in.to_dict()),
    "Salvo": lambda w: (z.Salvo, {"salvo_condition": "take", "packets": [("in", w.waiting)]}),
    "NetAction.create_packet": _static("NetAction", "create_packet", epoch_id=lambda w: w.epoch),
    "NetAction.consume_packet": _static("NetAction", "consume_packet", packet_id=lambda w: w.inside),
    "NetAction.destroy_packet": _static("NetAction", "destroy_packet", packet_id=lambda w: w.inside),
    "NetAction.start_epoch": _static("NetAction", "start_epoch", epoch_id=lambda w: w.epoch),
    "NetAction.finish_epoch": _static("NetAction", "finish_epoch", epoch_id=lambda w: w.epoch),
    "NetAction.cancel_epoch": _static("NetAction", "cancel_epoch", epoch_id=lambda w: w.epoch),
    "NetAction.create_epoch": _static(
        "NetAction", "create_epoch", node_name="B", salvo=lambda w: z.Salvo("take", [("in", w.waiting)])
    ),
    "NetAction.load_packet_into_output_port": _static(
        "NetAction", "load_packet_into_output_port", packet_id=lambda w: w.inside, port_name="out"
    ),
    "NetAction.send_output_salvo": _static(
        "NetAction", "send_output_salvo", epoch_id=lambda w: w.epoch, salvo_condition_name="emit"
    ),
    "NetAction.transport_packet_to_location": _static(
        "NetAction", "transport_packet_to_location", packet_id=lambda w: w.waiting, destination=lambda w: w.b_in
    ),
    "NetAction.create_request": _static("NetAction", "create_request", node_name="B", label="l"),
    "NetAction.from_dict": _static("NetAction", "from_dict", data=lambda w: w.action.to_dict()),
    "NetEvent.from_dict": _static("NetEvent", "from_dict", data=lambda w: w.events[0].to_dict()),
    "NetActionResponseData.StepResult": lambda w: (z.NetActionResponseData.StepResult, {"made_progress": True}),
    "NetActionResponseData.Packet": lambda w: (z.NetActionResponseData.Packet, {"packet_id": w.inside}),
    **{
        f"NetActionResponseData.{name}": (
            lambda name: lambda w: (getattr(z.NetActionResponseData, name), {"epoch": w.net.get_epoch(w.epoch)})
        )(name)
        for name in ("CreatedEpoch", "StartedEpoch", "FinishedEpoch")
    },
    "NetActionResponseData.CancelledEpoch": lambda w: (
        z.NetActionResponseData.CancelledEpoch,
        {"epoch": w.net.get_epoch(w.epoch), "destroyed_packets": [w.inside]},
    ),
    "NetSim": lambda w: (z.NetSim, {"graph": w.graph, "seed": 2**64 - 1}),
    "NetSim.do_action": _on(
        lambda w: w.net, "do_action", action=lambda w: z.NetAction.consume_packet(w.inside)
    ),
    "NetSim.get_packet": _on(lambda w: w.net, "get_packet", packet_id=lambda w: w.waiting),
    "NetSim.get_epoch": _on(lambda w: w.net, "get_epoch", epoch_id=lambda w: w.epoch),
    "NetSim.get_packets_at_location": _on(lambda w: w.net, "get_packets_at_location", location=lambda w: w.b_in),
    "NetSim.packet_count_at": _on(lambda w: w.net, "packet_count_at", location=lambda w: w.b_in),
    "NetSim.undo_action": _on(lambda w: w.net, "undo_action", action=lambda w: w.action, events=lambda w: w.events),
    "NetSim.execute": _on(
        lambda w: w.net,
        "execute",
        epoch_id=lambda w: w.epoch,
        outcome=lambda w: z.Outcome(creates={"out": 1}, sends=["emit"]),
        events=lambda w: True,
    ),
    "NetSim.run_round": _on(lambda w: w.net, "run_round", events=lambda w: True),
    "NetSim.inject": _on(
        lambda w: w.net, "inject", location=lambda w: z.PacketLocation.edge(w.edge), count=lambda w: 2,
        events=lambda w: True,
    ),
    "NetSim.packet_counts": _on(
        lambda w: w.net, "packet_counts", locations=lambda w: [w.b_in, z.PacketLocation.edge(w.edge)]
    ),
    "NetSim.do_actions": _on(
        lambda w: w.net, "do_actions", actions=lambda w: [z.NetAction.consume_packet(w.inside)]
    ),
    "NetSim.explore": _on(
        lambda w: w.net,
        "explore",
        behaviours=lambda w: [z.Behaviour("B", [z.Outcome()])],
        injections=lambda w: [z.Injection(w.b_in, 1)],
        requests=lambda w: [z.RequestAllowance("B", "l", 1)],
        order=_const("depth_first"),
        exact=_const(True),
        max_states=_const(100),
        max_depth=_const(20),
        max_packets=_const(8),
        max_time=_const(5.0),
        seed=_const(2**64 - 1),
        walks=_const(3),
        progress=_const(False),
        properties=lambda w: [Property.packets_at_most(8), Property.holds("any", lambda v: True)],
        livelocks=_const("clean_end"),
    ),
    "Outcome": lambda w: (z.Outcome, {"pass_to": "out", "creates": {"spare": 1}, "sends": ["emit"]}),
    "Outcome.from_dict": _static("Outcome", "from_dict", data=lambda w: z.Outcome(sends=["emit"]).to_dict()),
    "Behaviour": lambda w: (z.Behaviour, {"node": "B", "outcomes": [z.Outcome()]}),
    "Behaviour.from_dict": _static(
        "Behaviour", "from_dict", data=lambda w: z.Behaviour("B", [z.Outcome()]).to_dict()
    ),
    "Injection": lambda w: (z.Injection, {"location": w.b_in, "count": 2}),
    "Injection.from_dict": _static("Injection", "from_dict", data=lambda w: z.Injection(w.b_in, 2).to_dict()),
    "RequestAllowance": lambda w: (z.RequestAllowance, {"node": "B", "label": "l", "count": 1}),
    "RequestAllowance.from_dict": _static(
        "RequestAllowance", "from_dict", data=lambda w: z.RequestAllowance("B", "l", 1).to_dict()
    ),
    "TerminalState.replay": _on(
        lambda w: w.exploration().terminals[0], "replay", net=lambda w: z.NetSim(w.graph, seed=5)
    ),
    "TerminalState.from_dict": _static(
        "TerminalState", "from_dict", data=lambda w: w.exploration().terminals[0].to_dict()
    ),
    "ExplorationResult.from_dict": _static(
        "ExplorationResult", "from_dict", data=lambda w: w.exploration().to_dict()
    ),
}


# The runtime's names: the World's pipeline run with B passing its inputs on.


@z.runtime.declare_outcomes(z.Outcome(creates={"out": 1}, sends=["emit"]))
def _total(inputs: dict[str, list[Any]]) -> dict[str, list[Any]]:
    return {"out": [sum(inputs["in"])]}


@z.runtime.declare_outcomes(z.Outcome())
def _source(inputs: dict[str, list[Any]]) -> None:
    return None


def _runtime(w: World) -> Any:
    return z.runtime.Runtime(w.graph, {"A": _source, "B": _total}, seed=1)


def _task() -> Any:
    from zellik_sim.runtime._tasks import Task

    return Task("B", {"in": [1]}, 0)


def _failure() -> Any:
    return z.runtime.HandlerFailure("B", "e", {"in": [1]}, ValueError("v"), "tb", 1, [])


def _run_result(w: World) -> Any:
    return _runtime(w).run({"B": [1, 2]})


def _started_epoch(w: World) -> tuple[z.NetSim, str]:
    net = z.NetSim(w.graph, seed=4)
    packet = net.do_action(z.NetAction.create_packet())[0].packet_id
    net.do_action(z.NetAction.transport_packet_to_location(packet, w.b_in))
    data, _ = net.do_action(z.NetAction.create_epoch("B", z.Salvo("take", [("in", packet)])))
    assert isinstance(data, z.NetActionResponseData.CreatedEpoch)
    return net, data.epoch.id


GOOD_CALLS |= {
    "runtime.Emit": lambda w: (z.runtime.Emit, {"outputs": {"out": [1]}, "sends": ["emit"], "pass_to": "spare"}),
    "runtime.Retry": lambda w: (z.runtime.Retry, {"times": 2, "then": "continue"}),
    "runtime.HandlerFailure": lambda w: (
        z.runtime.HandlerFailure,
        {"node": "B", "epoch_id": "e", "inputs": {"in": [1]}, "error": ValueError("v"), "traceback": "tb",
         "attempts": 1, "destroyed": []},
    ),
    "runtime.RunStats": lambda w: (z.runtime.RunStats, {"steps": 1, "epochs": {"B": 1}}),
    "runtime.RunResult": lambda w: (
        z.runtime.RunResult,
        {"outputs": {}, "leftover": {}, "stats": z.runtime.RunStats(), "failures": [], "stuck": None},
    ),
    "runtime.execute_by_actions": lambda w: (
        z.runtime.execute_by_actions,
        dict(zip(("net", "epoch_id"), _started_epoch(w)), outcome=z.Outcome(sends=[]), packets=None),
    ),
    "runtime.Backend.run": _on(
        lambda w: z.runtime.Inline(), "run", handlers=lambda w: {"B": _total}, tasks=lambda w: [_task()]
    ),
    "runtime.Threads": lambda w: (z.runtime.Threads, {"workers": 2}),
    "runtime.Processes": lambda w: (z.runtime.Processes, {"workers": 2, "chunks_per_worker": 3, "mp_context": None}),
    "runtime.AsyncIO": lambda w: (z.runtime.AsyncIO, {"limit": 4}),
    "runtime.Dask": lambda w: (z.runtime.Dask, {"client": object(), "chunks_per_thread": 3}),
    "runtime.Runtime": lambda w: (
        z.runtime.Runtime,
        {"graph": w.graph, "handlers": {"A": _source, "B": _total}, "backend": z.runtime.Inline(),
         "on_error": z.runtime.Retry(1), "seed": 2**64 - 1, "flush": ["B"]},
    ),
    "runtime.Runtime.run": _on(_runtime, "run", inputs=_const({"B.in.in": [1, 2]}), record=_const(None),
                               progress=_const(False)),
    "runtime.Runtime.check": _on(_runtime, "check", inputs=_const({"B": 1}), packets=_const(1)),
}

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
_OUT = pathlib.Path(tempfile.mkdtemp(prefix="zellik-contract-"))


def _recorder(w: World) -> Any:
    return z.recording.Recorder(w.net, io.StringIO(), None)


def _declarations() -> Any:
    return z.files.Declarations([z.Behaviour("B", [z.Outcome()])], [z.Injection(z.PacketLocation.input_port("B", "in"), 2)],
                                [z.RequestAllowance("B", "l", 1)], [Property.packets_at_most(2)])


def _recorded_lines(w: World) -> list[str]:
    out = io.StringIO()
    z.recording.Recorder(z.NetSim(w.graph, seed=1), out, 1).do_action(z.NetAction.create_packet())
    return out.getvalue().splitlines()


GOOD_CALLS.update({
    "files.read_graph": lambda w: (z.files.read_graph, {"path": EXAMPLES / "fork-join.graph.json"}),
    "files.write_graph": lambda w: (z.files.write_graph, {"graph": w.graph, "path": _OUT / "graph.json"}),
    "files.Declarations": lambda w: (
        z.files.Declarations,
        {"behaviours": [z.Behaviour("B", [z.Outcome()])], "injections": [z.Injection(w.b_in, 1)], "requests": [],
         "properties": [Property.no_orphans()]},
    ),
    "files.Declarations.from_dict": _static("files.Declarations", "from_dict", data=lambda w: _declarations().to_dict()),
    "files.read_declarations": lambda w: (
        z.files.read_declarations, {"path": EXAMPLES / "fork-join.declarations.json"}),
    "files.write_declarations": lambda w: (
        z.files.write_declarations, {"declarations": _declarations(), "path": _OUT / "declarations.json"}),
    "files.schema": lambda w: (z.files.schema, {"name": "graph"}),
    "recording.Recorder": lambda w: (z.recording.Recorder, {"net": w.net, "out": io.StringIO(), "seed": 2**64 - 1}),
    "recording.Recorder.do_action": _on(_recorder, "do_action", action=lambda w: z.NetAction.create_packet()),
    "recording.Recorder.undo_action": _on(_recorder, "undo_action", action=lambda w: w.action, events=lambda w: w.events),
    "recording.replay": lambda w: (z.recording.replay, {"graph": w.graph, "lines": _recorded_lines(w)}),
    "cli.main": lambda w: (z.cli.main, {"argv": ["draw", str(EXAMPLES / "fork-join.graph.json"), "-o", str(_OUT / "g.dot")]}),
})


def _b_in_port() -> z.PortRef:
    return z.PortRef("B", z.PortType.Input, "in")


def _capacity_search(w: World) -> Any:
    return z.capacities.minimal_capacities(w.graph, [z.Behaviour("B", [z.Outcome()])], [z.Injection(w.b_in, 2)],
                                           {_b_in_port(): 2})


def _injection_search(w: World) -> Any:
    return z.capacities.largest_clean_injection(w.graph, [z.Behaviour("B", [z.Outcome()])],
                                                [z.Injection(w.b_in, 1)], 2)


_CAPACITY_LIMITS: dict[str, Callable[[World], Any]] = {
    "requests": _const([]), "properties": lambda w: [Property.packets_at_most(10)],
    "livelocks": _const("any_end"), "walks": _const(2), "exact": _const(False), "strict": _const(True), "max_states": _const(1000),
    "max_depth": _const(50), "max_packets": _const(5), "max_time": _const(10.0), "on_check": _const(None),
}
GOOD_CALLS.update({
    "capacities.CapacityCheck": lambda w: (z.capacities.CapacityCheck, {
        "capacities": (1,), "packets": None, "verdict": "clean", "explorations": 1, "states": 1, "transitions": 0,
        "seconds": 0.0, "counts": {}, "blocked": (), "fault": None}),
    "capacities.CapacitySearch": lambda w: (z.capacities.CapacitySearch, {
        "ports": [], "bounds": (), "minimal": [], "unsettled": [], "open": [], "skipped": 0, "checks": []}),
    "capacities.InjectionSearch": lambda w: (z.capacities.InjectionSearch, {
        "limit": 1, "clean": [], "open": [], "checks": []}),
    "capacities.port_text": lambda w: (z.capacities.port_text, {"port": _b_in_port()}),
    "capacities.with_capacities": lambda w: (
        z.capacities.with_capacities, {"graph": w.graph, "capacities": {_b_in_port(): 3}}),
    "capacities.minimal_capacities": lambda w: (z.capacities.minimal_capacities, {
        "graph": w.graph, "behaviours": [z.Behaviour("B", [z.Outcome()])], "injections": [z.Injection(w.b_in, 2)],
        "bounds": {_b_in_port(): 2}, **{k: v(w) for k, v in _CAPACITY_LIMITS.items()}}),
    "capacities.largest_clean_injection": lambda w: (z.capacities.largest_clean_injection, {
        "graph": w.graph, "behaviours": [z.Behaviour("B", [z.Outcome()])], "injections": [z.Injection(w.b_in, 1)],
        "limit": 2, **{k: v(w) for k, v in _CAPACITY_LIMITS.items()}}),
})


def _state_view(w: World) -> z.StateView:
    """A view a predicate kept: a copy of the state it was given."""
    kept: list[z.StateView] = []
    z.NetSim(w.graph, seed=5).explore(properties=[Property.holds("keep", lambda v: kept.append(v) is None)])
    return kept[0]


_P = "properties.Property"
GOOD_CALLS.update({
    f"{_P}.at_most": lambda w: (Property.at_most, {"location": w.b_in, "limit": 2, "name": "at B"}),
    f"{_P}.on_edge_at_most": lambda w: (Property.on_edge_at_most, {"edge": w.edge, "limit": 2**64 - 1, "name": "e"}),
    f"{_P}.input_port_at_most": lambda w: (
        Property.input_port_at_most, {"node": "B", "port": "in", "limit": 0, "name": "i"}),
    f"{_P}.output_port_at_most": lambda w: (
        Property.output_port_at_most, {"node": "B", "port": "out", "limit": 1, "name": "o"}),
    f"{_P}.packets_at_most": lambda w: (Property.packets_at_most, {"limit": 3, "name": "p"}),
    f"{_P}.live_epochs_at_most": lambda w: (Property.live_epochs_at_most, {"node": "B", "limit": 1, "name": "l"}),
    f"{_P}.no_orphans": lambda w: (Property.no_orphans, {"name": "n"}),
    f"{_P}.holds": lambda w: (Property.holds, {"name": "h", "predicate": lambda v: True}),
    f"{_P}.from_dict": _static(_P, "from_dict", data=lambda w: Property.at_most(w.b_in, 2).to_dict()),
    "StateView.packet_count_at": _on(_state_view, "packet_count_at", location=lambda w: w.b_in),
})

# Constructors of what the runtime gives, not takes: their fields are taken as they come.
GIVEN_ONLY = {"runtime.HandlerFailure", "runtime.RunStats", "runtime.RunResult", "capacities.CapacityCheck",
              "capacities.CapacitySearch", "capacities.InjectionSearch"}
# Called by the runtime with values it made, not by users: only the good call is checked.
HOOKS = {"runtime.Backend.run"}

# An object of every class, for its properties and methods without arguments.
INSTANCES: dict[str, Callable[[World], Any]] = {
    "PacketCount": lambda w: z.PacketCount.All,
    "PacketCountN": lambda w: z.PacketCount.count(3),
    "MaxSalvos": lambda w: z.MaxSalvos.Infinite,
    "MaxSalvosFinite": lambda w: z.MaxSalvos.finite(3),
    "PortSlotSpec": lambda w: z.PortSlotSpec.Infinite,
    "PortSlotSpecFinite": lambda w: z.PortSlotSpec.finite(3),
    "PortState": lambda w: z.PortState.Full,
    "PortStateNumeric": lambda w: z.PortState.less_than(3),
    "SalvoConditionTerm": lambda w: z.SalvoConditionTerm.and_([w.term()]),
    "DependencyRequestTrigger": lambda w: z.DependencyRequestTrigger.OnStartup,
    "DependencyRequestConfig": lambda w: z.DependencyRequestConfig([z.DependencyRequestTrigger.OnStartup], "l"),
    "Port": lambda w: z.Port(z.PortSlotSpec.finite(2)),
    "PortType": lambda w: z.PortType.Output,
    "PortRef": lambda w: w.edge.source,
    "Edge": lambda w: w.edge,
    "SalvoCondition": lambda w: w.condition(),
    "Node": lambda w: w.graph.nodes()["B"],
    "GraphValidationErrorInfo": lambda w: z.Graph([], [w.edge]).validate()[0],
    "Graph": lambda w: w.graph,
    "PacketLocation": lambda w: w.b_out,
    "EpochState": lambda w: z.EpochState.Running,
    "Packet": lambda w: w.net.get_packet(w.inside),
    "Salvo": lambda w: z.Salvo("take", [("in", w.waiting)]),
    "OrphanedPacketInfo": lambda w: w.orphan_epoch.orphaned_packets[0],
    "Epoch": lambda w: w.net.get_epoch(w.epoch),
    "NetAction": lambda w: z.NetAction.transport_packet_to_location(w.waiting, w.b_in),
    "NetEvent": lambda w: w.events[0],
    "NetActionResponseData": lambda w: z.NetActionResponseData.Packet(w.inside),
    "NetActionResponseData.StepResult": lambda w: z.NetActionResponseData.StepResult(False),
    "NetActionResponseData.Packet": lambda w: z.NetActionResponseData.Packet(w.inside),
    "NetActionResponseData.CreatedEpoch": lambda w: z.NetActionResponseData.CreatedEpoch(w.net.get_epoch(w.epoch)),
    "NetActionResponseData.StartedEpoch": lambda w: z.NetActionResponseData.StartedEpoch(w.net.get_epoch(w.epoch)),
    "NetActionResponseData.FinishedEpoch": lambda w: z.NetActionResponseData.FinishedEpoch(w.orphan_epoch),
    "NetActionResponseData.CancelledEpoch": lambda w: z.NetActionResponseData.CancelledEpoch(
        w.net.get_epoch(w.epoch), [w.inside]
    ),
    "NetActionResponseData.Empty": lambda w: z.NetActionResponseData.Empty(),
    "NetSim": lambda w: w.net,
    "Outcome": lambda w: z.Outcome("out", {"spare": 2}, ["emit"]),
    "Behaviour": lambda w: z.Behaviour("B", [z.Outcome()]),
    "Injection": lambda w: z.Injection(w.b_in, 2),
    "RequestAllowance": lambda w: z.RequestAllowance("B", "l", 1),
    "TerminalState": lambda w: w.exploration().terminals[0],
    "ExplorationResult": lambda w: w.exploration(),
    "runtime.Emit": lambda w: z.runtime.Emit({"out": [1]}),
    "runtime.Retry": lambda w: z.runtime.Retry(1),
    "runtime.HandlerFailure": lambda w: _failure(),
    "runtime.RunStats": lambda w: _run_result(w).stats,
    "runtime.RunResult": _run_result,
    "runtime.Backend": lambda w: z.runtime.Backend(),
    "runtime.Inline": lambda w: z.runtime.Inline(),
    "runtime.Threads": lambda w: z.runtime.Threads(2),
    "runtime.Processes": lambda w: z.runtime.Processes(2),
    "runtime.AsyncIO": lambda w: z.runtime.AsyncIO(),
    "runtime.Dask": lambda w: z.runtime.Dask(object()),
    "runtime.Runtime": _runtime,
    "files.Declarations": lambda w: _declarations(),
    "recording.Recorder": _recorder,
    "capacities.CapacityCheck": lambda w: _capacity_search(w).checks[0],
    "capacities.CapacitySearch": _capacity_search,
    "capacities.InjectionSearch": _injection_search,
    "properties.Property": lambda w: Property.live_epochs_at_most("B", 1),
    "StateView": _state_view,
}


def members_with_params() -> list[Member]:
    return [m for m in MEMBERS if m.params]


def members_without_params() -> list[Member]:
    return [m for m in MEMBERS if not m.params and m.kind != "constructor"]


# ---------------------------------------------------------------------------
# Every stub name is covered


def test_every_stub_name_has_a_registered_call() -> None:
    missing = [m.key for m in members_with_params() if m.key not in GOOD_CALLS]
    missing += [c for c in CLASSES if c not in INSTANCES]
    assert not missing, f"register a good call or an instance for: {missing}"
    stale = set(GOOD_CALLS) - {m.key for m in members_with_params()}
    stale |= set(INSTANCES) - set(CLASSES)
    assert not stale, f"registered but not in the stubs: {sorted(stale)}"


@pytest.mark.parametrize("member", members_with_params(), ids=lambda m: m.key)
def test_good_call_returns_what_the_stub_says(member: Member) -> None:
    fn, kwargs = GOOD_CALLS[member.key](World())
    result = fn(**kwargs)
    assert conforms(result, member.returns, member.module), f"{member.key} returned {result!r}"


@pytest.mark.parametrize("member", members_without_params(), ids=lambda m: m.key)
def test_properties_and_plain_methods_return_what_the_stub_says(member: Member) -> None:
    w = World()
    obj = resolve(member.owner) if member.kind in ("static", "function") else INSTANCES[member.owner](w)
    value = getattr(obj, member.name)
    if member.kind != "property":
        value = value()
    assert conforms(value, member.returns, member.module), f"{member.key} gave {value!r}"


# ---------------------------------------------------------------------------
# What the annotations rule out


class _Foreign:
    """An object that is nothing the module knows."""

    def __str__(self) -> str:
        return "foreign"


def _module_object(a: Admits) -> object | None:
    """An object of a module class the annotation does not admit."""
    for name, make in (("PortType", lambda: z.PortType.Input), ("EpochState", lambda: z.EpochState.Running)):
        if name not in a.classes:
            return make()
    return None


def bad_values(a: Admits, name: str, module: str = "") -> Iterator[tuple[str, object]]:
    """(label, value) for values the annotation rules out."""
    if a.anything:
        return
    if not a.none:
        yield "None", None
    if a.identifier:
        return  # any other object is read through str(): the documented rule
    if str not in a.builtins and not a.literals:
        takes_text = any(ast.unparse(e) == "str" for e in a.sequence_of)
        if not takes_text:
            yield "str", "zz"
    if int not in a.builtins:
        yield "int", 7
    if float not in a.builtins and bool not in a.builtins:
        yield "float", 1.5
    if not a.sequence_of and not a.mapping_of and not a.plain_dict and a.classes:
        yield "list", [1]
    foreign = _module_object(a)
    if foreign is not None:
        yield "module object", foreign
    yield "foreign object", _Foreign()
    if int in a.builtins and float not in a.builtins:
        yield "-1", -1
        yield "2**64", 2**64
        yield "-(2**64)", -(2**64)
    if float in a.builtins:
        yield "nan", math.nan
        yield "inf", math.inf
        yield "-1.0", -1.0
    if a.literals:
        yield "unknown literal", "no_such_" + name
    for element in a.sequence_of:
        inner = admits(element, module)
        if not inner.none and not inner.anything:
            yield "sequence with None", [None]
    for _, value in a.mapping_of:
        inner = admits(value, module)
        if not inner.none and not inner.anything:
            yield "mapping with None", {"k": None}
        yield "mapping with int key", {7: None}


# Refusals whose text is fixed, by (stub name, parameter).
FIXED_TEXTS = {
    ("Port", "slots_spec"): "Expected PortSlotSpec or PortSlotSpecFinite",
    ("SalvoCondition", "max_salvos"): "Expected MaxSalvos or MaxSalvosFinite",
    ("SalvoCondition", "ports"): "Expected PacketCount or PacketCountN",
    ("SalvoConditionTerm.port", "state"): "Expected PortState or PortStateNumeric",
}


def observed(obj: object) -> object:
    """What can be seen of an object, to check that a refused call left it alone."""
    if isinstance(obj, z.NetSim):
        return (
            obj.fingerprint(),
            sorted(repr(p.to_dict()) for p in obj.packets()),
            sorted(repr(e.to_dict()) for e in obj.epochs()),
        )
    return repr(obj)


def bad_cases() -> Iterator[Any]:
    for member in members_with_params():
        if member.key in GIVEN_ONLY | HOOKS:
            continue
        for param in member.params:
            for label, value in bad_values(admits(param.annotation, member.module), param.name, member.module):
                yield pytest.param(member, param.name, value, id=f"{member.key}-{param.name}-{label}")


@pytest.mark.parametrize(("member", "param", "value"), list(bad_cases()))
def test_a_value_the_annotation_rules_out_is_refused_by_name(member: Member, param: str, value: object) -> None:
    w = World()
    fn, kwargs = GOOD_CALLS[member.key](w)
    receiver = getattr(fn, "__self__", None)
    before = observed(receiver) if receiver is not None else None
    kwargs[param] = value
    with pytest.raises((TypeError, ValueError)) as info:
        fn(**kwargs)
    assert type(info.value) in (TypeError, ValueError), repr(info.value)
    fixed = FIXED_TEXTS.get((member.key, param))
    if fixed is not None and str(info.value) == fixed:
        assert type(info.value) is TypeError
    else:
        assert param in str(info.value), f"{member.key}({param}={value!r}): {info.value}"
    if receiver is not None:
        assert observed(receiver) == before


def int_params() -> Iterator[Any]:
    for member in members_with_params():
        for param in member.params:
            a = admits(param.annotation, member.module)
            if int in a.builtins and float not in a.builtins:
                yield pytest.param(member, param.name, id=f"{member.key}-{param.name}")


@pytest.mark.parametrize(("member", "param"), list(int_params()))
def test_integers_at_the_top_of_64_bits(member: Member, param: str) -> None:
    """2**63 and 2**64-1 are counts like any other: taken, or refused by name
    when the argument has a smaller range; never an overflow."""
    for value in (2**63, 2**64 - 1):
        fn, kwargs = GOOD_CALLS[member.key](World())
        kwargs[param] = value
        try:
            fn(**kwargs)
        except ValueError as e:
            assert param in str(e)
