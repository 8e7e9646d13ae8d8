"""Pictures of a run: the graph, the net at one moment, and a timeline.

Graph and net pictures are the DOT text of ``Graph.to_dot()`` and
``NetSim.to_dot()`` rendered by Graphviz's ``dot`` program; the timeline is
drawn with matplotlib. Both are optional: ``available()`` says whether this
machine has them (``pip install 'zellik_sim[viz]'`` and Graphviz).
"""

# matplotlib ships only partial annotations; its unknown parts are not ours.
# pyright: reportUnknownMemberType=false, reportUnknownArgumentType=false, reportUnknownVariableType=false

from __future__ import annotations

import collections
import importlib.util
import shutil
import subprocess
from dataclasses import dataclass, field

from zellik_sim import NetEvent, NetSim

# The timeline's size in pixels: TIMELINE_INCHES at TIMELINE_DPI.
TIMELINE_INCHES = (10.0, 4.5)
TIMELINE_DPI = 100


def available() -> bool:
    """Whether both `dot` and matplotlib are installed."""
    return shutil.which("dot") is not None and importlib.util.find_spec("matplotlib") is not None


def render_dot(dot_text: str, path: str) -> None:
    """Renders DOT text to a PNG file with Graphviz."""
    subprocess.run(["dot", "-Tpng", "-Gdpi=72", "-o", path], input=dot_text.encode("utf-8"), check=True)


@dataclass
class EpochSpan:
    node: str
    created: int
    finished: int | None = None


@dataclass
class Timeline:
    """What the timeline plot shows, gathered step by step while the net runs."""

    nodes: list[str]
    epochs: dict[str, EpochSpan] = field(default_factory=dict)
    # (step, node) -> packets waiting in front of the node: at its input
    # ports and on the edges into it.
    waiting: dict[tuple[int, str], int] = field(default_factory=dict)
    last_step: int = 0

    def observe(self, step: int, net: NetSim, events: list[NetEvent]) -> None:
        self.last_step = max(self.last_step, step)
        for event in events:
            epoch_id = event.epoch_id
            if epoch_id is None:
                continue
            if event.kind in ("EpochCreated", "RequestEpochCreated") and epoch_id not in self.epochs:
                epoch = net.get_epoch(epoch_id)
                if epoch is not None:
                    self.epochs[epoch_id] = EpochSpan(epoch.node_name, step)
            elif event.kind in ("EpochFinished", "EpochCancelled") and epoch_id in self.epochs:
                self.epochs[epoch_id].finished = step

    def count_waiting(self, step: int, net: NetSim) -> None:
        counts: collections.Counter[str] = collections.Counter()
        for packet in net.packets():
            location = packet.location
            if location.kind == "InputPort" and location.node_name is not None:
                counts[location.node_name] += 1
            elif location.kind == "Edge":
                edge = location.get_edge()
                assert edge is not None, "an Edge location names its edge"
                counts[edge.target.node_name] += 1
        for node, count in counts.items():
            self.waiting[(step, node)] = count


def plot_timeline(timeline: Timeline, path: str) -> None:
    """Steps across, nodes down: epochs as bars from creation to finish,
    waiting packets (backpressure) as shaded cells with their count."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.patches import Rectangle

    rows = {node: i for i, node in enumerate(timeline.nodes)}
    fig, ax = plt.subplots(figsize=TIMELINE_INCHES, dpi=TIMELINE_DPI)
    deepest = max(timeline.waiting.values(), default=1)
    for (step, node), count in sorted(timeline.waiting.items()):
        ax.add_patch(Rectangle((step - 0.5, rows[node] - 0.45), 1.0, 0.9, color="#d9534f",
                                   alpha=0.15 + 0.45 * count / deepest, linewidth=0))
        ax.text(step, rows[node] + 0.32, str(count), ha="center", va="center", fontsize=7, color="#8b1a1a")

    # Overlapping epochs of one node go to separate lanes within its row.
    lanes: dict[str, list[int]] = collections.defaultdict(list)
    for span in sorted(timeline.epochs.values(), key=lambda s: s.created):
        end = span.finished if span.finished is not None else timeline.last_step
        node_lanes = lanes[span.node]
        lane = next((i for i, free_at in enumerate(node_lanes) if free_at < span.created), len(node_lanes))
        if lane == len(node_lanes):
            node_lanes.append(end)
        else:
            node_lanes[lane] = end
        y = rows[span.node] - 0.3 + 0.18 * min(lane, 3)
        ax.broken_barh([(span.created - 0.4, end - span.created + 0.8)], (y, 0.14),
                       facecolors="#337ab7" if span.finished is not None else "#f0ad4e")

    ax.set_yticks(range(len(timeline.nodes)), timeline.nodes)
    ax.set_ylim(len(timeline.nodes) - 0.5, -0.5)
    ax.set_xlim(0.5, timeline.last_step + 0.5)
    ax.set_xlabel("step")
    ax.set_title("epochs from creation to finish (bars), packets waiting in front of each node (shaded)")
    ax.grid(axis="x", alpha=0.3)
    fig.tight_layout()
    fig.savefig(path, dpi=TIMELINE_DPI)
    plt.close(fig)
