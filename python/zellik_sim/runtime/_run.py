"""One run: rounds of steps until blocked, then every startable epoch through
its handler, until nothing is left to do.

A round's epochs go to the backend together and are executed on the net in
a fixed order, by the oldest payload each holds (payloads are numbered as
they are injected or created), so the net goes through the same states
whatever the backend and however its handlers interleave.
"""

from __future__ import annotations

import math
import operator
import sys
import time
import traceback
from collections import deque
from collections.abc import Callable, Iterable, Mapping, Sequence
from typing import Any

from zellik_sim import NetSim, TerminalState
from zellik_sim.runtime._backends import Backend, Inline
from zellik_sim.runtime._net import Driver, Startable
from zellik_sim.runtime._plan import Entry, GraphPlan
from zellik_sim.runtime._tasks import Done, Handler, Task, call
from zellik_sim.runtime._values import HandlerFailure, OnError, Retry, RunResult, RunStats

# What a node without a handler gives: nothing, so its inputs are consumed.
NOTHING = Done(None, None, "", 0.0, 0)
# An epoch of a round: the number of its oldest payload, its node, its id,
# the ids of its packets and their payloads by input port.
Work = tuple[float, str, str, list[str], dict[str, list[Any]]]
# A round's epochs are executed in the order of their oldest payloads.
BY_FIRST_PAYLOAD = operator.itemgetter(0, 1)


class Run:
    """The state of one run: the payload beside each packet id, inputs not
    yet injected, what left the net, failures and statistics."""

    def __init__(self, plan: GraphPlan, handlers: Mapping[str, Handler], backend: Backend, driver: Driver,
                 on_error: OnError, flush: Sequence[str], progress: Callable[[int], None] | None) -> None:
        self.plan = plan
        self.flush = flush
        self.handlers = handlers
        self.backend = backend
        self.driver = driver
        self.retries = on_error.times if isinstance(on_error, Retry) else 0
        self.inline = type(backend) is Inline
        self.stop_on_error = (on_error.then if isinstance(on_error, Retry) else on_error) == "stop"
        self.progress = progress
        self.execute = driver.execute
        # Epochs executed by driver.execute: one call on the net each.
        self.executed = 0
        self.watched = [location for _, location in plan.waiting]
        self.payloads: dict[str, tuple[int, Any]] = {}
        self.numbered = 0
        self.pending: list[tuple[Entry, deque[Any]]] = []
        self.outputs: dict[str, list[Any]] = {}
        self.failures: list[HandlerFailure] = []
        self.stats = RunStats(
            epochs=dict.fromkeys(plan.nodes, 0), failed=dict.fromkeys(plan.nodes, 0),
            handler_seconds=dict.fromkeys(plan.nodes, 0.0), high_water={text: 0 for text, _ in plan.waiting})
        self.started = time.perf_counter()

    def add_inputs(self, entry: Entry, payloads: Iterable[Any]) -> None:
        self.pending.append((entry, deque(payloads)))

    def inject(self) -> None:
        """Injects what fits of the inputs not yet injected."""
        for entry, queue in self.pending:
            if not queue:
                continue
            count = len(queue)
            if entry.capacity is not None:
                count = min(count, entry.capacity - self.driver.counts([entry.location])[0])
            if count <= 0:
                continue
            for packet_id in self.driver.inject(entry.location, count):
                self.payloads[packet_id] = (self.numbered, queue.popleft())
                self.numbered += 1

    def observe(self) -> None:
        high = self.stats.high_water
        for (text, _), count in zip(self.plan.waiting, self.driver.counts(self.watched)):
            if count > high[text]:
                high[text] = count

    def go(self) -> HandlerFailure | None:
        """Runs rounds until nothing can happen; the failure that stopped the
        run when the policy says stop."""
        self.inject()
        while True:
            self.observe()
            steps, startable = self.driver.round()
            self.stats.steps += steps
            self.observe()
            executed, stop = self.round(startable)
            if stop is not None:
                return stop
            if not executed and not self.flush_one():
                return None
            self.inject()

    def flush_one(self) -> bool:
        """Once the net is blocked, makes one epoch of the first node to
        flush that has packets waiting in its input ports."""
        for node in self.flush:
            plan = self.plan.nodes[node]
            if any(self.driver.counts([self.plan.port_location(node, port) for port in plan.in_ports])):
                self.driver.flush(node, plan.in_ports)
                return True
        return False

    def round(self, startable: list[Startable]) -> tuple[bool, HandlerFailure | None]:
        if not startable:
            return False, None
        self.stats.rounds += 1
        payloads = self.payloads
        nodes = self.plan.nodes
        work: list[Work] = []
        for epoch_id, node, packets in startable:
            plan = nodes[node]
            only = plan.only_port
            inputs = {only: []} if only is not None else plan.empty_inputs()
            ids = []
            first = math.inf
            for port, packet_id in packets:
                number, value = payloads[packet_id]
                inputs[port].append(value)
                ids.append(packet_id)
                if number < first:
                    first = number
            work.append((first, node, epoch_id, ids, inputs))
        work.sort(key=BY_FIRST_PAYLOAD)
        stop = self.run_inline(work) if self.inline else self.run_on_backend(work)
        if self.progress is not None:
            self.progress(len(work))
        return True, stop

    def run_inline(self, work: list[Work]) -> HandlerFailure | None:
        """Calls each handler in the driver, timed, and executes its epoch.

        A handler's usual value, one list of payloads on one port that stays
        in the net, whose outcome its node has met before, is executed
        here; every other value, and every error, goes through finish."""
        handlers = self.handlers
        nodes = self.plan.nodes
        payloads = self.payloads
        execute = self.execute
        epochs = self.stats.epochs
        seconds = self.stats.handler_seconds
        clock = time.perf_counter
        stop: HandlerFailure | None = None
        for _, node, epoch_id, ids, inputs in work:
            handler = handlers.get(node)
            failure: HandlerFailure | None
            if handler is None:
                failure = self.finish(node, epoch_id, ids, inputs, None, None, "", 0.0, 0)
            else:
                started = clock()
                try:
                    value = handler(inputs)
                except Exception:  # noqa: BLE001 - retried, then kept as the epoch's failure
                    failure = self.finish(node, epoch_id, ids, inputs, *self.retry_inline(handler, inputs, started))
                else:
                    elapsed = clock() - started
                    outcome = None
                    if type(value) is dict and len(value) == 1:
                        ((port, values),) = value.items()
                        if type(values) is list:
                            outcome = nodes[node].staying.get((port, len(values)))
                    if outcome is None:
                        failure = self.finish(node, epoch_id, ids, inputs, value, None, "", elapsed, 1)
                    else:
                        epochs[node] += 1
                        seconds[node] += elapsed
                        self.executed += 1
                        try:
                            created = execute(epoch_id, outcome, events=False)[0]
                        except Exception as refused:  # noqa: BLE001 - an outcome the net refused
                            failure = self.cancel(node, epoch_id, inputs, refused, traceback.format_exc(), 1)
                        else:
                            for packet_id in ids:
                                del payloads[packet_id]
                            number = self.numbered
                            for packet_id, payload in zip(created.get(port, ()), values):
                                payloads[packet_id] = (number, payload)
                                number += 1
                            self.numbered = number
                            failure = None
            if failure is not None and stop is None and self.stop_on_error:
                stop = failure
        return stop

    def retry_inline(self, handler: Handler, inputs: dict[str, list[Any]], started: float) -> Done:
        """A handler that raised in the driver: its error, or what the tries
        left by the policy give."""
        first = time.perf_counter() - started
        if self.retries == 0:
            error = sys.exc_info()[1]
            assert error is not None
            return Done(None, error, traceback.format_exc(), first, 1)
        done = call(handler, Task("", inputs, self.retries - 1))
        return done._replace(seconds=done.seconds + first, attempts=done.attempts + 1)

    def run_on_backend(self, work: list[Work]) -> HandlerFailure | None:
        """Hands the round's calls to the backend together, then executes
        each epoch with what came back, in order."""
        handlers = self.handlers
        tasks = [Task(node, inputs, self.retries) for _, node, _, _, inputs in work if node in handlers]
        results = iter(self.backend.run(handlers, tasks))
        stop: HandlerFailure | None = None
        for _, node, epoch_id, ids, inputs in work:
            done = next(results) if node in handlers else NOTHING
            failure = self.finish(node, epoch_id, ids, inputs, *done)
            if failure is not None and stop is None and self.stop_on_error:
                stop = failure
        return stop

    def finish(self, node: str, epoch_id: str, ids: list[str], inputs: dict[str, list[Any]], value: Any,
               error: BaseException | None, text: str, seconds: float, attempts: int) -> HandlerFailure | None:
        """Executes one epoch with what its handler gave (the fields of a
        Done), or cancels it."""
        stats = self.stats
        stats.epochs[node] += 1
        stats.handler_seconds[node] += seconds
        if error is None:
            plan = self.plan.nodes[node]
            try:
                outcome, outputs, pass_to = plan.plan(value)
                self.executed += 1
                created = self.execute(epoch_id, outcome, events=False)[0]
            except Exception as refused:  # noqa: BLE001 - a handler's value the net refused
                error, text = refused, traceback.format_exc()
            else:
                payloads = self.payloads
                leaves = plan.leaves
                if pass_to is None:
                    for packet_id in ids:
                        del payloads[packet_id]
                elif pass_to in leaves:
                    self.outputs.setdefault(leaves[pass_to], []).extend(payloads.pop(i)[1] for i in ids)
                for port, new_ids in created.items():
                    values = outputs[port]
                    if port in leaves:
                        self.outputs.setdefault(leaves[port], []).extend(values)
                        continue
                    number = self.numbered
                    for packet_id, value in zip(new_ids, values):
                        payloads[packet_id] = (number, value)
                        number += 1
                    self.numbered = number
                return None
        assert error is not None
        return self.cancel(node, epoch_id, inputs, error, text, attempts)

    def cancel(self, node: str, epoch_id: str, inputs: dict[str, list[Any]], error: BaseException, text: str,
               attempts: int) -> HandlerFailure:
        """Cancels an epoch whose handler failed or whose outcome the net
        refused, and keeps the failure."""
        destroyed = self.driver.cancel(epoch_id)
        for packet_id in destroyed:
            self.payloads.pop(packet_id, None)
        self.stats.failed[node] += 1
        failure = HandlerFailure(node, epoch_id, inputs, error, text, attempts, destroyed)
        self.failures.append(failure)
        return failure

    def result(self, net: NetSim, blocked: bool) -> RunResult:
        """What the run gave; the explorer describes where it ended only when
        it ended blocked (a run stopped by a failure could still go on)."""
        leftover: dict[str, list[tuple[int, Any]]] = {}
        for packet in net.packets():
            entry = self.payloads.get(packet.id)
            if entry is None:
                continue  # sent out of the net: its payload is an output
            location = packet.location
            edge = location.get_edge()
            text = str(edge) if edge is not None else f"{location.node_name}.in.{location.port_name}"
            leftover.setdefault(text, []).append(entry)
        stuck: TerminalState | None = None
        if leftover and blocked:
            found = net.explore(max_states=1)
            stuck = found.stuck[0] if found.stuck else None
        result = {text: [value for _, value in sorted(items, key=lambda item: item[0])]
                  for text, items in leftover.items()}
        for entry, queue in self.pending:
            if queue:
                result.setdefault(entry.text, []).extend(queue)
        self.stats.net_calls = self.driver.calls + (self.executed if self.driver.one_call_executes else 0)
        self.stats.seconds = time.perf_counter() - self.started
        return RunResult(self.outputs, result, self.stats, self.failures, stuck)
