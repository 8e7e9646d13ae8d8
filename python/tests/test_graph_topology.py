"""Graphs: building, reading back, validation records, and memory over many builds."""

import os

import pytest

import zellik_sim as z

T = z.SalvoConditionTerm
OUT, IN = z.PortType.Output, z.PortType.Input


def ref(text):
    node, direction, port = text.split(".")
    return z.PortRef(node, OUT if direction == "out" else IN, port)


def edge(text):
    source, target = text.split(" -> ")
    return z.Edge(ref(source), ref(target))


def node(name, ins=(), outs=(), **kwargs):
    return z.Node(name, in_ports={p: z.Port() for p in ins},
                  out_ports={p: z.Port() for p in outs}, **kwargs)


def cond(ports, term=None, max_salvos=None):
    return z.SalvoCondition(max_salvos or z.MaxSalvos.finite(1), ports, term or T.true_())


class TestGraph:
    def test_repeated_edge_is_listed_once_but_twice_under_its_head(self):
        e = edge("A.out.x -> B.in.y")
        g = z.Graph([node("A", outs="x")], [e, e], None)
        assert repr(g) == "Graph(nodes=1, edges=1)"
        assert g.edges() == [e]
        assert g.get_edges_by_head(ref("B.in.y")) == [e, e]

    def test_edges_by_head_keep_constructor_order(self):
        e1, e2, e3 = edge("C.out.x -> B.in.y"), edge("A.out.x -> B.in.y"), edge("D.out.x -> B.in.y")
        g = z.Graph([], [e1, e2, e3])
        assert g.get_edges_by_head(input_port_ref=ref("B.in.y")) == [e1, e2, e3]
        assert g.get_edges_by_head(ref("Q.in.y")) == []
        with pytest.raises(TypeError, match=r"^argument 'input_port_ref': "):
            g.get_edges_by_head("B.in.y")

    def test_nodes_and_dependency_edges(self):
        e = edge("A.out.x -> B.in.y")
        g = z.Graph([node("A", ins="i"), node("B")], [e], [e, e])
        assert sorted(g.nodes()) == ["A", "B"] and list(g.nodes()["A"].in_ports) == ["i"]
        assert g.dependency_edges() == [e]
        assert g.is_dependency_edge(edge("A.out.x -> B.in.y"))
        assert not g.is_dependency_edge(edge("A.out.x -> B.out.y"))
        assert z.Graph([], [e]).dependency_edges() == []

    @pytest.mark.parametrize("args, arg", [
        (("A", []), "nodes"),
        (([], "A.out.x"), "edges"),
        (([], [], "e"), "dependency_edges"),
        (([ref("A.out.x")], []), "nodes"),
        (([], [node("A")]), "edges"),
    ])
    def test_argument_errors(self, args, arg):
        with pytest.raises(TypeError, match=rf"^argument '{arg}': "):
            z.Graph(*args)

    def test_names_from_short_lived_strings_keep_their_own_text(self):
        # Names are remembered by the str object they come from; a str that
        # dies and whose memory is reused must not lend its name to the next.
        for i in range(20_000):
            name, port = "".join(("n", str(i))), str(i * 7)
            assert z.Node(name).name == name
            assert z.PortRef(name, OUT, port).port_name == port
        nodes = [z.Node(f"n{i}", in_ports={f"p{i}": z.Port()}) for i in range(10_000)]
        assert [(n.name, list(n.in_ports)) for n in nodes] == [(f"n{i}", [f"p{i}"]) for i in range(10_000)]

        class Text(str):
            pass

        assert z.Node(Text("sub")).name == "sub" and type(z.Node(Text("sub")).name) is str

    def test_first_duplicate_node_name_is_a_panic(self):
        with pytest.raises(BaseException) as info:
            z.Graph([node("A"), node("B"), node("B"), node("A")], [])
        assert not isinstance(info.value, Exception)
        assert str(info.value) == "Duplicate node name: 'B'"


def only_error(graph):
    errors = graph.validate()
    assert len(errors) == 1, errors
    return errors[0]


def test_record_of_an_edge_into_a_missing_node():
    assert z.Graph([], []).validate() == []
    e = only_error(z.Graph([node("A", outs="x")], [edge("A.out.x -> B.in.y")]))
    assert e.kind == "EdgeReferencesNonexistentNode"
    assert e.message == str(e) == "edge A.out.x -> B.in.y references non-existent node 'B'"
    assert repr(e) == ("GraphValidationErrorInfo(kind='EdgeReferencesNonexistentNode', "
                       "message='edge A.out.x -> B.in.y references non-existent node 'B'')")
    assert list(e.details.items()) == [
        ("edge_source", ref("A.out.x")), ("edge_target", ref("B.in.y")), ("missing_node", "B")]


CONFIG = z.DependencyRequestConfig([z.DependencyRequestTrigger.OnStartup], "l")
BAD_TERM = T.or_([T.port("p", z.PortState.Full), T.not_(T.port("p", z.PortState.Empty))])


@pytest.mark.parametrize("nodes, edges, dependency_edges, expected", [
    ([node("A", outs="x"), node("B", ins="y"), node("C", ins="y")],
     ["A.out.x -> B.in.y", "A.out.x -> C.in.y"], None,
     [("output port A.out.x has 2 outgoing edges (only 1 allowed)",
       {"output_port": ref("A.out.x"), "edge_count": 2})]),
    ([node("A", outs="x"), node("B", ins="y")], ["A.out.x -> B.in.z"], None,
     [("edge A.out.x -> B.in.z references non-existent port B.in.z",
       {"edge_source": ref("A.out.x"), "edge_target": ref("B.in.z"), "missing_port": ref("B.in.z")})]),
    ([node("A", ins="y"), node("B", outs="x")], ["A.in.y -> B.out.x"], None,
     [("edge source A.in.y must be an output port",
       {"edge_source": ref("A.in.y"), "edge_target": ref("B.out.x")}),
      ("edge target B.out.x must be an input port",
       {"edge_source": ref("A.in.y"), "edge_target": ref("B.out.x")})]),
    ([node("A", in_salvo_conditions={"c": cond("p", BAD_TERM)})], [], None,
     [("input salvo condition 'c' on node 'A' references non-existent port 'p'",
       {"node_name": "A", "condition_name": "c", "is_input_condition": True, "missing_port": "p"}),
      ("input salvo condition 'c' on node 'A' has term referencing non-existent port 'p'",
       {"node_name": "A", "condition_name": "c", "is_input_condition": True, "missing_port": "p"})]),
    ([node("A", out_salvo_conditions={"o": cond("q", max_salvos=z.MaxSalvos.Infinite)})], [], None,
     [("output salvo condition 'o' on node 'A' references non-existent port 'q'",
       {"node_name": "A", "condition_name": "o", "is_input_condition": False, "missing_port": "q"})]),
    ([node("A", outs="x"), node("B", ins="y")], ["A.out.x -> B.in.y"], ["A.out.x -> B.in.z"],
     [("dependency edge A.out.x -> B.in.z is not in the graph's edge set",
       {"edge": edge("A.out.x -> B.in.z")})]),
    ([node("A", ins="i", dependency_request_config=CONFIG)], [], None,
     [("node 'A' has dependency_request_config but no dependency edges on its input ports",
       {"node_name": "A"})]),
])
def test_validation_messages_and_details(nodes, edges, dependency_edges, expected):
    g = z.Graph(nodes, [edge(e) for e in edges],
                None if dependency_edges is None else [edge(e) for e in dependency_edges])
    found = [(e.message, e.details) for e in g.validate()]
    assert found == expected
    assert [list(details) for _, details in found] == [list(d) for _, d in expected]  # key order


@pytest.mark.parametrize("max_salvos, shown", [
    (z.MaxSalvos.Infinite, "Infinite"), (z.MaxSalvos.finite(2), "Finite(2)")])
def test_input_condition_must_fire_exactly_once(max_salvos, shown):
    e = only_error(z.Graph([node("A", ins="i", in_salvo_conditions={
        "c": cond("i", max_salvos=max_salvos)})], []))
    assert e.message == (
        f"input salvo condition 'c' on node 'A' has max_salvos={shown}, but must be Finite(1). "
        "Input salvos must have exactly one packet to trigger an epoch.")
    assert list(e.details) == ["node_name", "condition_name", "max_salvos"]
    assert repr(e.details["max_salvos"]) == repr(max_salvos)


def test_passes_come_in_order():
    g = z.Graph([node("A", outs="x", dependency_request_config=CONFIG,
                      in_salvo_conditions={"c": cond([], max_salvos=z.MaxSalvos.Infinite)}),
                 node("B", ins="y"), node("C", ins="y")],
                [edge("A.out.x -> B.in.y"), edge("A.out.x -> C.in.y"), edge("A.out.x -> D.in.y")],
                [edge("A.out.x -> E.in.y")])
    assert [e.kind for e in g.validate()] == [
        "EdgeReferencesNonexistentNode", "MultipleEdgesFromOutputPort",
        "InputSalvoConditionInvalidMaxSalvos", "DependencyEdgeNotInGraph",
        "DependencyRequestConfigWithoutDependencyEdges"]


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def build_validate_and_print():
    term = T.and_([T.port("in", z.PortState.NonEmpty), T.not_(T.port("in", z.PortState.equals(2)))])
    a = z.Node("A", out_ports={"out": z.Port(z.PortSlotSpec.finite(2))},
               dependency_request_config=CONFIG)
    b = z.Node("B", in_ports={"in": z.Port()}, in_salvo_conditions={
        "c": z.SalvoCondition(z.MaxSalvos.Infinite, {"in": z.PacketCount.count(1)}, term)})
    e = edge("A.out.out -> B.in.missing")
    g = z.Graph([a, b], [e], [e])
    for record in g.validate():
        repr(record), record.details
    repr(g), g.nodes(), g.edges(), repr(b.in_salvo_conditions["c"]), b.in_salvo_conditions["c"].ports
    try:
        z.Graph([a, a], [])
    except BaseException:  # noqa: B036 - the duplicate-name panic
        pass


def test_many_builds_do_not_grow_memory():
    for _ in range(5_000):
        build_validate_and_print()
    before = resident_bytes()
    for _ in range(100_000):
        build_validate_and_print()
    assert resident_bytes() - before < 10 * 1024 * 1024  # one leaked PortRef per build is ~20 MB
