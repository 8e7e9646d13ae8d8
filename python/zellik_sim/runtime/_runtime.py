"""The runtime: a graph, a handler per node and a backend to call them on."""

from __future__ import annotations

import contextlib
import os
from collections.abc import Callable, Iterable, Mapping, Sequence
from typing import IO, Any

from zellik_sim import Behaviour, ExplorationResult, Graph, Injection, NetSim
from zellik_sim.runtime._backends import Backend, Inline, check_handlers
from zellik_sim.runtime._net import Driver, RecordingDriver
from zellik_sim.runtime._plan import GraphPlan, InputKey
from zellik_sim.runtime._progress import progress_bar
from zellik_sim.runtime._run import Run
from zellik_sim.runtime._values import HandlerFailed, OnError, Retry, RunResult, check_count


class Runtime:
    """Runs a graph with a Python handler per node.

    A handler takes the epoch's input payloads by input port (a dict of
    lists, every input port present) and returns what the epoch emits: an
    :class:`Emit`, a dict of payload lists by output port, or None. A node
    without output ports may go without a handler: it consumes its inputs. ``backend`` says where handlers
    run (:class:`Inline` by default); ``on_error`` what a raising handler
    does to the run ("stop", "continue" or a :class:`Retry`); ``seed``
    seeds the net's ids, so a run repeats exactly. ``flush`` names nodes
    whose waiting inputs end the run as one more epoch: when nothing else
    can happen, the first of them with packets in its input ports gets an
    epoch of all of them (a batch's remainder, a final sum), and the run
    goes on.
    """

    def __init__(self, graph: Graph, handlers: Mapping[str, Callable[..., Any]], *,
                 backend: Backend | None = None, on_error: OnError = "stop", seed: int | None = None,
                 flush: Sequence[str] = ()) -> None:
        if not isinstance(graph, Graph):
            raise TypeError(f"Runtime: graph must be a Graph, not {type(graph).__name__}")
        findings = graph.validate()
        if findings:
            raise ValueError("Runtime: the graph is not valid: " + "; ".join(f.message for f in findings))
        self.graph = graph
        self.plan = GraphPlan(graph)
        if not isinstance(handlers, Mapping):
            raise TypeError(f"Runtime: handlers must be a mapping of node name to handler, "
                            f"not {type(handlers).__name__}")
        for node, handler in handlers.items():
            if node not in self.plan.nodes:
                raise ValueError(f"Runtime: handlers has one for node '{node}', which the graph lacks")
            if not callable(handler):
                raise TypeError(f"Runtime: handlers['{node}'] is not callable")
        for node, plan in self.plan.nodes.items():
            if plan.out_ports and node not in handlers:
                raise ValueError(f"Runtime: node '{node}' has output ports and no handler in handlers")
        if not (on_error in ("stop", "continue") or isinstance(on_error, Retry)):
            raise ValueError(f"Runtime: on_error must be 'stop', 'continue' or a Retry, not {on_error!r}")
        self.handlers = dict(handlers)
        self.backend = backend if backend is not None else Inline()
        if not isinstance(self.backend, Backend):
            raise TypeError(f"Runtime: backend must be a Backend, not {type(self.backend).__name__}")
        check_handlers(self.backend, self.handlers)
        self.on_error = on_error
        check_count("Runtime", "seed", seed, 0, none=True)
        self.seed = seed
        if isinstance(flush, str) or not isinstance(flush, Sequence):
            raise TypeError(f"Runtime: flush must be a sequence of node names, not {type(flush).__name__}")
        for node in flush:
            if not isinstance(node, str) or node not in self.plan.nodes or not self.plan.nodes[node].in_ports:
                raise ValueError(f"Runtime: flush names {node!r}, which is not a node with input ports")
        self.flush = list(flush)

    def run(self, inputs: Mapping[InputKey, Iterable[Any]], *,
            record: str | os.PathLike[str] | IO[str] | None = None, progress: bool = False) -> RunResult:
        """Injects the payloads of ``inputs`` (by input port or edge), runs
        until nothing can happen and returns what left the net.

        ``record`` writes every call on the net to that path or text stream
        as a recording (JSON Lines) that ``examples/recording.py`` replays.
        ``progress`` shows the epochs run (needs rich or tqdm). Raises
        :class:`HandlerFailed` when a handler raises and the policy stops.
        """
        if not isinstance(inputs, Mapping):
            raise TypeError(f"Runtime.run: inputs must be a mapping of payloads by input port, "
                            f"not {type(inputs).__name__}")
        if not isinstance(progress, bool):
            raise TypeError(f"Runtime.run: progress must be a bool, not {type(progress).__name__}")
        entries = [(self.plan.entry(key), payloads) for key, payloads in inputs.items()]
        net = NetSim(self.graph, seed=self.seed)
        with contextlib.ExitStack() as stack:
            if record is None:
                driver = Driver(net)
            else:
                out = record if hasattr(record, "write") else stack.enter_context(
                    open(record, "w", encoding="utf-8"))  # noqa: SIM115 - closed by the stack
                driver = RecordingDriver(net, out, self.seed)  # type: ignore[arg-type]
            advance = stack.enter_context(progress_bar("running")) if progress else None
            run = Run(self.plan, self.handlers, self.backend, driver, self.on_error, self.flush, advance)
            for entry, payloads in entries:
                run.add_inputs(entry, payloads)
            stopped = run.go()
            result = run.result(net, blocked=stopped is None)
        if stopped is not None:
            raise HandlerFailed(stopped, result) from stopped.error
        return result

    def check(self, inputs: Mapping[InputKey, int] | None = None, *, packets: int = 1,
              **limits: Any) -> ExplorationResult:
        """Explores every schedule of the graph with the outcomes the
        handlers declare (``declare_outcomes``), before running it.

        ``inputs`` gives the packets to inject per input port or edge;
        without it, ``packets`` go into every input port no edge enters.
        ``limits`` go to ``NetSim.explore`` (``max_states``, ``order``, ...).
        A node without a handler consumes its inputs; a handler of a node
        with output ports must declare its outcomes.
        """
        if inputs is not None and not isinstance(inputs, Mapping):
            raise TypeError(f"Runtime.check: inputs must be a mapping of counts by input port or None, "
                            f"not {type(inputs).__name__}")
        check_count("Runtime.check", "packets", packets, 0)
        behaviours = []
        for node, plan in self.plan.nodes.items():
            handler = self.handlers.get(node)
            declared = getattr(handler, "outcomes", None)
            if declared:
                behaviours.append(Behaviour(node, declared))
            elif handler is not None and plan.out_ports:
                raise ValueError(f"Runtime.check: the handler of node '{node}' declares no outcomes "
                                 f"(decorate it with declare_outcomes)")
        if inputs is None:
            injections = [Injection(entry.location, packets) for entry in self.plan.sources]
        else:
            injections = [Injection(self.plan.entry(key).location, count) for key, count in inputs.items()]
        net = NetSim(self.graph, seed=self.seed)
        return net.explore(behaviours, injections, **limits)

    def close(self) -> None:
        """Closes the backend's pools."""
        self.backend.close()

    def __enter__(self) -> Runtime:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"Runtime({self.graph!r}, handlers={sorted(self.handlers)!r}, backend={self.backend!r})"
