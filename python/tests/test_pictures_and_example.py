"""Pictures of graphs and nets, and the example's recorded, replayable, repeatable runs."""

import io
import pathlib
import re
import shutil
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

import pytest

import zellik_sim as z
from conftest import Flow, pipeline_graph

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"
sys.path.insert(0, str(EXAMPLES))

import pictures  # noqa: E402
import recording  # noqa: E402

AWKWARD = ['say "hi"', "back\\slash\\", "two words", "ünïcødé ✓", "<b>&amp;</b>", "line\nbreak", "{x|y}"]


def svg_text(dot_text: str) -> str:
    """Renders DOT with Graphviz and returns every text the picture shows."""
    result = subprocess.run(["dot", "-Tsvg"], input=dot_text.encode("utf-8"), capture_output=True, check=True)
    root = ElementTree.fromstring(result.stdout)
    return "\n".join("".join(t.itertext()) for t in root.iter("{http://www.w3.org/2000/svg}text"))


def shown(name: str) -> str:
    return name.replace("\n", "\\n")


def png_size(path: pathlib.Path) -> tuple[int, int]:
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    return struct.unpack(">II", data[16:24])


def awkward_graph() -> z.Graph:
    nodes = []
    for i, name in enumerate(AWKWARD):
        nodes.append(z.Node(
            name,
            in_ports={AWKWARD[i - 1]: z.Port(z.PortSlotSpec.finite(1))},
            out_ports={AWKWARD[(i + 1) % len(AWKWARD)]: z.Port()},
            in_salvo_conditions={name + " cond": z.SalvoCondition(
                z.MaxSalvos.finite(1), AWKWARD[i - 1],
                z.SalvoConditionTerm.port(AWKWARD[i - 1], z.PortState.NonEmpty))},
        ))
    edges = [
        z.Edge(z.PortRef(AWKWARD[i], z.PortType.Output, AWKWARD[(i + 1) % len(AWKWARD)]),
               z.PortRef(AWKWARD[(i + 1) % len(AWKWARD)], z.PortType.Input, AWKWARD[i]))
        for i in range(len(AWKWARD))
    ]
    return z.Graph(nodes, edges, dependency_edges=[edges[0]])


@pytest.mark.skipif(shutil.which("dot") is None, reason="Graphviz is installed by scripts/setup_deps.sh")
class TestDot:
    def test_any_names_render_and_every_node_port_and_condition_is_named(self) -> None:
        graph = awkward_graph()
        assert graph.validate() == []
        text = svg_text(graph.to_dot())
        for name in AWKWARD:
            assert shown(name) in text
            assert shown(name + " cond") in text
        # Equal graphs give equal text, whatever the hash order.
        assert graph.to_dot() == awkward_graph().to_dot()

    def test_empty_and_control_character_names_render(self) -> None:
        odd = "\r\x00\x7f"
        edge = z.Edge(z.PortRef("", z.PortType.Output, ""), z.PortRef(odd, z.PortType.Input, odd))
        graph = z.Graph([z.Node("", in_ports={"": z.Port()}, out_ports={"": z.Port()}),
                         z.Node(odd, in_ports={odd: z.Port()})],
                        [edge, z.Edge(edge.source, z.PortRef("", z.PortType.Input, "x"))])
        text = svg_text(graph.to_dot())
        assert '""' in text and "\\x0D\\x00\\x7F" in text
        svg_text(z.NetSim(z.Graph(list(graph.nodes().values()), [edge])).to_dot())

    def test_edges_to_missing_nodes_still_render(self) -> None:
        edge = z.Edge(z.PortRef("A", z.PortType.Output, "o"), z.PortRef('gho"st', z.PortType.Input, "i"))
        graph = z.Graph([z.Node("A", out_ports={"o": z.Port()})], [edge], dependency_edges=[edge])
        assert graph.validate() != []
        assert {"A", 'gho"st'} <= set(svg_text(graph.to_dot()).split("\n"))

    def test_net_picture_shows_packets_epochs_and_full_ports(self) -> None:
        net = z.NetSim(awkward_graph(), seed=1)
        first, second = AWKWARD[0], AWKWARD[1]
        for _ in range(2):
            data, _ = net.do_action(z.NetAction.create_packet())
            edge = net.graph.get_edges_by_head(z.PortRef(second, z.PortType.Input, first))[0]
            net.do_action(z.NetAction.transport_packet_to_location(data.packet_id, z.PacketLocation.edge(edge)))
        idle = svg_text(net.to_dot())
        assert "2 packets" in idle and "outside the net: 0 packets" in idle
        net.run_step()  # one packet enters the port of capacity 1 and starts an epoch
        text = svg_text(net.to_dot())
        for name in AWKWARD:
            assert shown(name) in text
        assert "1 packet" in text and "startable 1 / running 0" in text and "1 packet inside" in text
        assert "#ffc9c0" not in net.to_dot()  # no input port is full

    def test_full_input_port_is_marked(self) -> None:
        flow = Flow()
        for _ in range(2):
            flow.packet_at_b()
        dot = flow.net.to_dot()
        assert "#ffc9c0" in dot and "in [2] &#9679; 2" in dot
        svg_text(dot)


def run_example(*args: str) -> str:
    result = subprocess.run([sys.executable, str(EXAMPLES / "pipeline.py"), *args],
                            capture_output=True, text=True, timeout=180, check=True)
    return result.stdout


class TestExample:
    def test_two_runs_print_byte_identical_output(self) -> None:
        first = run_example("--no-pictures")
        assert first == run_example("--no-pictures")
        assert first != run_example("--no-pictures", "--seed", "9")
        assert "ran parse" in first

    def test_recorded_run_replays_with_every_event_matching(self, tmp_path: pathlib.Path) -> None:
        trace = tmp_path / "run.jsonl"
        run_example("--no-pictures", "--record", str(trace))
        replayed = subprocess.run([sys.executable, str(EXAMPLES / "recording.py"), str(trace)],
                                  capture_output=True, text=True, timeout=120)
        assert replayed.returncode == 0, replayed.stdout + replayed.stderr
        assert re.match(r"replayed \d+ calls: every response and event matches", replayed.stdout)

        lines = trace.read_text().splitlines()
        lines[5] = lines[5].replace('"timestamp": ', '"timestamp": 1')
        with pytest.raises(recording.Mismatch):
            recording.replay(__import__("pipeline").build_graph(), io.StringIO("\n".join(lines)))

    def test_unseeded_trace_replays_by_pairing_the_new_ids(self) -> None:
        out = io.StringIO()
        flow = Flow()
        recorder = recording.Recorder(flow.net, out, None)
        data, _ = recorder.do_action(z.NetAction.create_packet())
        recorder.do_action(z.NetAction.transport_packet_to_location(data.packet_id, flow.b_in))
        data, events = recorder.do_action(z.NetAction.run_step())
        recorder.undo_action(z.NetAction.run_step(), events)
        with pytest.raises(z.NodeNotFoundError):
            recorder.do_action(z.NetAction.create_epoch("missing", z.Salvo("s", [])))
        recorder.do_action(z.NetAction.run_step())
        epoch = flow.net.epochs()[0].id
        recorder.do_action(z.NetAction.start_epoch(epoch))
        assert recording.replay(pipeline_graph()[0], io.StringIO(out.getvalue())) == 7

    @pytest.mark.skipif(not pictures.available(), reason="needs matplotlib and Graphviz (the viz extra)")
    def test_pictures_are_written_as_images_of_the_expected_size(self, tmp_path: pathlib.Path) -> None:
        out = run_example("--pictures", str(tmp_path))
        assert f"timeline: {tmp_path / 'timeline.png'}" in out
        width, height = png_size(tmp_path / "timeline.png")
        assert (width, height) == (pictures.TIMELINE_INCHES[0] * pictures.TIMELINE_DPI,
                                   pictures.TIMELINE_INCHES[1] * pictures.TIMELINE_DPI)
        for name in ("graph.png", "busiest.png"):
            width, height = png_size(tmp_path / name)
            assert 300 <= width <= 3000 and 100 <= height <= 3000, (name, width, height)
            assert (tmp_path / name).stat().st_size > 5000

    @pytest.mark.skipif(not pictures.available(), reason="needs matplotlib and Graphviz (the viz extra)")
    def test_timeline_shows_epochs_and_waiting_packets(self, tmp_path: pathlib.Path) -> None:
        timeline = pictures.Timeline(["A", "B"])
        flow = Flow()
        flow.packet_at_b()
        flow.packet_at_b()
        timeline.count_waiting(1, flow.net)
        _, events = flow.net.run_step()
        timeline.observe(1, flow.net, events)
        epoch_id, = (epoch.id for epoch in flow.net.epochs())
        flow.do(z.NetAction.start_epoch(epoch_id))
        for packet in flow.net.get_packets_at_location(z.PacketLocation.node(epoch_id)):
            flow.do(z.NetAction.consume_packet(packet))
        _, events = flow.do(z.NetAction.finish_epoch(epoch_id))
        timeline.observe(3, flow.net, events)
        assert timeline.waiting == {(1, "B"): 2}
        assert [(s.node, s.created, s.finished) for s in timeline.epochs.values()] == [("B", 1, 3)]
        pictures.plot_timeline(timeline, str(tmp_path / "t.png"))
        assert png_size(tmp_path / "t.png") == (1000, 450)
