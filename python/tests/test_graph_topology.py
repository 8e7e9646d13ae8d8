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
    def test_repr_counts_nodes_and_distinct_edges(self):
        assert repr(z.Graph([node("A")], [])) == "Graph(nodes=1, edges=0)"
        e = edge("A.out.x -> B.in.y")
        assert repr(z.Graph([], [e, e], None)) == "Graph(nodes=0, edges=1)"

    def test_repeated_edge_is_listed_once_but_twice_under_its_head(self):
        e = edge("A.out.x -> B.in.y")
        g = z.Graph([node("A", outs="x"), node("B", ins="y")], [e, e])
        assert g.edges() == [e]
        assert g.get_edges_by_head(ref("B.in.y")) == [e, e]

    def test_edges_by_head_keep_constructor_order(self):
        e1, e2, e3 = edge("C.out.x -> B.in.y"), edge("A.out.x -> B.in.y"), edge("D.out.x -> B.in.y")
        g = z.Graph([], [e1, e2, e3])
        assert g.get_edges_by_head(ref("B.in.y")) == [e1, e2, e3]
        assert g.get_edges_by_head(ref("Q.in.y")) == []
        with pytest.raises(TypeError, match=r"^argument 'input_port_ref': "):
            g.get_edges_by_head("B.in.y")

    def test_nodes_dict(self):
        g = z.Graph([node("A", ins="i"), node("B")], [])
        nodes = g.nodes()
        assert sorted(nodes) == ["A", "B"]
        assert list(nodes["A"].in_ports) == ["i"]

    def test_dependency_edges(self):
        e = edge("A.out.x -> B.in.y")
        g = z.Graph([], [e], [e, e])
        assert g.dependency_edges() == [e]
        assert g.is_dependency_edge(edge("A.out.x -> B.in.y"))
        assert not g.is_dependency_edge(edge("A.out.x -> B.out.y"))
        assert not z.Graph([], [e]).is_dependency_edge(e)
        assert z.Graph([], [e]).dependency_edges() == []

    @pytest.mark.parametrize("args, arg", [
        (("A", []), "nodes"),
        (([], "A.out.x"), "edges"),
        (([], [], "e"), "dependency_edges"),
        (([z.PortRef("A", OUT, "x")], []), "nodes"),
        (([], [node("A")]), "edges"),
    ])
    def test_argument_errors(self, args, arg):
        with pytest.raises(TypeError, match=rf"^argument '{arg}': "):
            z.Graph(*args)

    def test_duplicate_node_name_is_a_panic(self):
        with pytest.raises(BaseException) as info:
            z.Graph([node("A"), node("B"), node("B"), node("A")], [])
        assert not isinstance(info.value, Exception)
        assert str(info.value) == "Duplicate node name: 'B'"


class TestValidation:
    def only(self, graph):
        errors = graph.validate()
        assert len(errors) == 1, errors
        return errors[0]

    def test_valid_and_empty_graphs(self):
        assert z.Graph([], []).validate() == []
        g = z.Graph([node("A", outs="x", out_salvo_conditions={"o": cond("x", max_salvos=z.MaxSalvos.Infinite)}),
                     node("B", ins="y", in_salvo_conditions={"i": cond("y")})],
                    [edge("A.out.x -> B.in.y")])
        assert g.validate() == []

    def test_record_of_an_edge_into_a_missing_node(self):
        e = self.only(z.Graph([node("A", outs="x")], [edge("A.out.x -> B.in.y")]))
        assert e.kind == "EdgeReferencesNonexistentNode"
        assert e.message == "edge A.out.x -> B.in.y references non-existent node 'B'"
        assert str(e) == e.message
        assert repr(e) == ("GraphValidationErrorInfo(kind='EdgeReferencesNonexistentNode', "
                           "message='edge A.out.x -> B.in.y references non-existent node 'B'')")
        assert list(e.details) == ["edge_source", "edge_target", "missing_node"]
        assert e.details == {"edge_source": ref("A.out.x"), "edge_target": ref("B.in.y"),
                             "missing_node": "B"}

    def test_fan_out(self):
        e = self.only(z.Graph([node("A", outs="x"), node("B", ins="y"), node("C", ins="y")],
                              [edge("A.out.x -> B.in.y"), edge("A.out.x -> C.in.y")]))
        assert e.message == "output port A.out.x has 2 outgoing edges (only 1 allowed)"
        assert list(e.details.items()) == [("output_port", ref("A.out.x")), ("edge_count", 2)]

    def test_missing_port(self):
        e = self.only(z.Graph([node("A", outs="x"), node("B", ins="y")], [edge("A.out.x -> B.in.z")]))
        assert e.kind == "EdgeReferencesNonexistentPort"
        assert list(e.details) == ["edge_source", "edge_target", "missing_port"]
        assert e.details["missing_port"] == ref("B.in.z")

    def test_reversed_edge_gives_source_then_target_error(self):
        errors = z.Graph([node("A", ins="y"), node("B", outs="x")],
                         [edge("A.in.y -> B.out.x")]).validate()
        assert [(e.kind, e.message) for e in errors] == [
            ("EdgeSourceNotOutputPort", "edge source A.in.y must be an output port"),
            ("EdgeTargetNotInputPort", "edge target B.out.x must be an input port"),
        ]
        assert [list(e.details) for e in errors] == [["edge_source", "edge_target"]] * 2

    def test_condition_naming_a_missing_port_twice(self):
        term = T.or_([T.port("p", z.PortState.Full), T.not_(T.port("p", z.PortState.Empty))])
        errors = z.Graph([node("A", in_salvo_conditions={"c": cond("p", term)})], []).validate()
        assert [e.message for e in errors] == [
            "input salvo condition 'c' on node 'A' references non-existent port 'p'",
            "input salvo condition 'c' on node 'A' has term referencing non-existent port 'p'",
        ]
        assert errors[1].details == {"node_name": "A", "condition_name": "c",
                                     "is_input_condition": True, "missing_port": "p"}
        assert list(errors[1].details) == ["node_name", "condition_name", "is_input_condition",
                                           "missing_port"]

    def test_output_condition_is_flagged_as_output(self):
        e = self.only(z.Graph([node("A", out_salvo_conditions={"o": cond("q")})], []))
        assert e.message == "output salvo condition 'o' on node 'A' references non-existent port 'q'"
        assert e.details["is_input_condition"] is False

    @pytest.mark.parametrize("max_salvos, shown", [
        (z.MaxSalvos.Infinite, "Infinite"), (z.MaxSalvos.finite(2), "Finite(2)")])
    def test_input_condition_must_fire_once(self, max_salvos, shown):
        g = z.Graph([node("A", ins="i", in_salvo_conditions={"c": cond("i", max_salvos=max_salvos)})], [])
        e = self.only(g)
        assert e.message == (
            f"input salvo condition 'c' on node 'A' has max_salvos={shown}, but must be Finite(1). "
            "Input salvos must have exactly one packet to trigger an epoch.")
        assert list(e.details) == ["node_name", "condition_name", "max_salvos"]
        assert repr(e.details["max_salvos"]) == repr(max_salvos)

    def test_dependency_edge_outside_the_graph(self):
        stray = edge("A.out.x -> B.in.z")
        g = z.Graph([node("A", outs="x"), node("B", ins="y")], [edge("A.out.x -> B.in.y")], [stray])
        e = self.only(g)
        assert e.message == "dependency edge A.out.x -> B.in.z is not in the graph's edge set"
        assert e.details == {"edge": stray}

    def test_request_config_needs_a_dependency_edge(self):
        config = z.DependencyRequestConfig([z.DependencyRequestTrigger.OnStartup], "l")
        e = self.only(z.Graph([node("A", ins="i", dependency_request_config=config)], []))
        assert e.kind == "DependencyRequestConfigWithoutDependencyEdges"
        assert e.message == ("node 'A' has dependency_request_config but no dependency edges "
                             "on its input ports")
        assert e.details == {"node_name": "A"}

    def test_passes_come_in_order(self):
        config = z.DependencyRequestConfig([], "l")
        g = z.Graph([node("A", outs="x", dependency_request_config=config,
                          in_salvo_conditions={"c": cond([], max_salvos=z.MaxSalvos.Infinite)}),
                     node("B", ins="y"), node("C", ins="y")],
                    [edge("A.out.x -> B.in.y"), edge("A.out.x -> C.in.y"), edge("A.out.x -> D.in.y")],
                    [edge("A.out.x -> E.in.y")])
        assert [e.kind for e in g.validate()] == [
            "EdgeReferencesNonexistentNode",
            "MultipleEdgesFromOutputPort",
            "InputSalvoConditionInvalidMaxSalvos",
            "DependencyEdgeNotInGraph",
            "DependencyRequestConfigWithoutDependencyEdges",
        ]


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def build_validate_and_print():
    term = T.and_([T.port("in", z.PortState.NonEmpty), T.not_(T.port("in", z.PortState.equals(2)))])
    a = z.Node("A", out_ports={"out": z.Port(z.PortSlotSpec.finite(2))},
               dependency_request_config=z.DependencyRequestConfig(
                   [z.DependencyRequestTrigger.OnStartup], "go"))
    b = z.Node("B", in_ports={"in": z.Port()},
               in_salvo_conditions={"c": z.SalvoCondition(z.MaxSalvos.Infinite, {"in": z.PacketCount.count(1)}, term)})
    e = z.Edge(z.PortRef("A", OUT, "out"), z.PortRef("B", IN, "missing"))
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
