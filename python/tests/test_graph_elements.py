"""Ports, port references, edges, salvo conditions, request configs and nodes."""

import pytest

import zellik_sim as z

T = z.SalvoConditionTerm
OUT, IN = z.PortType.Output, z.PortType.Input


def condition(ports="in", max_salvos=None, term=None):
    return z.SalvoCondition(max_salvos or z.MaxSalvos.finite(1), ports, term or T.true_())


def type_error(fn):
    with pytest.raises(TypeError) as info:
        fn()
    return str(info.value)


class TestPort:
    @pytest.mark.parametrize("args", [(), (None,), (z.PortSlotSpec.Finite,),
                                      (z.PortSlotSpec.Infinite,)])
    def test_unbounded_forms(self, args):
        port = z.Port(*args)
        assert port.slots_spec == z.PortSlotSpec.Infinite
        assert repr(port) == "Port(PortSlotSpec.Infinite)"

    def test_finite_capacity(self):
        port = z.Port(slots_spec=z.PortSlotSpec.finite(3))
        assert port.slots_spec.capacity == 3
        assert repr(port) == "Port(PortSlotSpec.finite(3))"

    def test_other_types_are_refused(self):
        assert type_error(lambda: z.Port(3)) == "Expected PortSlotSpec or PortSlotSpecFinite"


class TestPortRefAndEdge:
    def test_port_ref_value_semantics(self):
        a, b = z.PortRef("A", OUT, "x"), z.PortRef("A", OUT, "x")
        assert a == b and hash(a) == hash(b) and len({a, b}) == 1
        assert a != z.PortRef("A", IN, "x")
        assert a != "A.out.x"
        assert (a.node_name, a.port_type, a.port_name) == ("A", OUT, "x")

    def test_port_ref_text_forms(self):
        ref = z.PortRef("n", IN, "p")
        assert str(ref) == "n.in.p"
        assert repr(ref) == "PortRef('n', Input, 'p')"
        assert repr(z.PortRef("it's", OUT, "x")) == "PortRef('it's', Output, 'x')"

    def test_port_type_must_be_a_member(self):
        assert type_error(lambda: z.PortRef("A", 1, "x")).startswith("argument 'port_type': ")
        assert type_error(lambda: z.PortRef(1, OUT, "x")).startswith("argument 'node_name': ")

    def test_edge_value_semantics_and_text(self):
        src, dst = z.PortRef("m", OUT, "q"), z.PortRef("n", IN, "p")
        e = z.Edge(src, dst)
        assert e == z.Edge(z.PortRef("m", OUT, "q"), z.PortRef("n", IN, "p"))
        assert hash(e) == hash(z.Edge(src, dst))
        assert e != z.Edge(dst, src)
        assert str(e) == "m.out.q -> n.in.p"
        assert repr(e) == "Edge(m.out.q, n.in.p)"
        assert e.source == src and e.target == dst

    def test_edge_keeps_a_reversed_direction(self):
        e = z.Edge(z.PortRef("n", IN, "p"), z.PortRef("m", OUT, "q"))
        assert str(e) == "n.in.p -> m.out.q"

    def test_edge_sides_must_be_port_refs(self):
        ref = z.PortRef("A", OUT, "x")
        assert type_error(lambda: z.Edge(ref, "B.in.y")).startswith("argument 'target': ")

    def test_ordering_is_refused(self):
        with pytest.raises(TypeError):
            z.PortRef("A", OUT, "x") < z.PortRef("B", OUT, "x")


class TestSalvoCondition:
    def test_ports_forms(self):
        assert condition("in").ports == {"in": z.PacketCount.All}
        assert condition(["a", "b", "a"]).ports == {"a": z.PacketCount.All, "b": z.PacketCount.All}
        counted = condition({"a": z.PacketCount.count(2), "b": z.PacketCount.All}).ports
        assert isinstance(counted["a"], z.PacketCountN) and counted["a"].count == 2
        assert counted["b"] == z.PacketCount.All

    def test_properties_and_repr(self):
        c = condition("in", z.MaxSalvos.finite(1), T.port("in", z.PortState.NonEmpty))
        assert c.max_salvos.max == 1
        assert c.term.kind == "Port"
        assert repr(c) == ('SalvoCondition(max_salvos=MaxSalvos.finite(1), ports={"in": '
                           'PacketCount.All}, term=SalvoConditionTerm.port("in", NonEmpty))')
        infinite = condition({'q"': z.PacketCount.count(3)}, z.MaxSalvos.Infinite)
        assert repr(infinite) == ('SalvoCondition(max_salvos=MaxSalvos.Infinite, ports={"q\\"": '
                                  'PacketCount.count(3)}, term=SalvoConditionTerm.true_())')

    @pytest.mark.parametrize("ports", [5, ["a", 1], {"a"}, b"ab"])
    def test_ports_of_another_shape(self, ports):
        assert type_error(lambda: condition(ports)) == (
            "ports must be a str, list of str, or dict mapping str to PacketCount")

    def test_dict_entries_are_checked(self):
        assert type_error(lambda: condition({"a": 2})) == "Expected PacketCount or PacketCountN"
        assert type_error(lambda: condition({1: z.PacketCount.All})).startswith("argument 'ports': ")

    def test_conversion_order_is_term_max_salvos_ports(self):
        assert type_error(lambda: z.SalvoCondition(5, 5, 5)).startswith("argument 'term': ")
        assert type_error(lambda: z.SalvoCondition(5, 5, T.true_())) == (
            "Expected MaxSalvos or MaxSalvosFinite")


class TestDependencyRequestConfig:
    def test_properties_and_repr(self):
        c = z.DependencyRequestConfig(
            [z.DependencyRequestTrigger.OnStartup, z.DependencyRequestTrigger.OnStartup], "fe\tch")
        assert c.triggers == [z.DependencyRequestTrigger.OnStartup] * 2
        assert c.label == "fe\tch"
        assert repr(c) == ("DependencyRequestConfig(triggers=[DependencyRequestTrigger.OnStartup, "
                           'DependencyRequestTrigger.OnStartup], label="fe\\tch")')
        assert repr(z.DependencyRequestConfig((), "")) == (
            'DependencyRequestConfig(triggers=[], label="")')

    def test_argument_errors(self):
        assert type_error(lambda: z.DependencyRequestConfig("OnStartup", "l")).startswith(
            "argument 'triggers': ")
        assert type_error(lambda: z.DependencyRequestConfig([0], "l")).startswith(
            "argument 'triggers': ")
        assert type_error(lambda: z.DependencyRequestConfig([])).startswith("DependencyRequestConfig()")


class TestNode:
    def test_defaults(self):
        n = z.Node("A")
        assert (n.name, n.in_ports, n.out_ports) == ("A", {}, {})
        assert n.in_salvo_conditions == {} and n.out_salvo_conditions == {}
        assert n.dependency_request_config is None
        assert repr(n) == 'Node("A")'
        assert repr(z.Node('a"b')) == 'Node("a\\"b")'

    def test_values_are_copied_back(self):
        config = z.DependencyRequestConfig([z.DependencyRequestTrigger.OnNoSalvoTriggered], "l")
        n = z.Node("A", in_ports={"in": z.Port(z.PortSlotSpec.finite(2))},
                   out_ports={"out": z.Port()},
                   in_salvo_conditions={"c2": condition(), "c1": condition(), "c3": condition()},
                   dependency_request_config=config)
        assert n.in_ports["in"].slots_spec.capacity == 2
        assert list(n.out_ports) == ["out"]
        assert list(n.in_salvo_conditions) == ["c2", "c1", "c3"]
        assert n.dependency_request_config.label == "l"
        assert n.in_ports["in"] is not n.in_ports["in"]

    def test_nodes_compare_by_identity(self):
        assert z.Node("A") != z.Node("A")

    def test_conversion_runs_in_signature_order(self):
        # in_ports is read before the type of the condition dicts is checked, and the
        # request config is checked before the condition dicts are read.
        assert type_error(lambda: z.Node("A", in_ports={"p": 1}, in_salvo_conditions=[])).startswith(
            "argument 'in_ports': ")
        assert type_error(lambda: z.Node("A", in_salvo_conditions={"c": 1},
                                         out_salvo_conditions=[])).startswith(
            "argument 'out_salvo_conditions': ")
        assert type_error(lambda: z.Node("A", in_salvo_conditions={"c": 1},
                                         dependency_request_config=1)).startswith(
            "argument 'dependency_request_config': ")
        assert type_error(lambda: z.Node("A", out_salvo_conditions={1: condition()})).startswith(
            "argument 'out_salvo_conditions': ")

    def test_ports_named_by_conditions_are_not_checked_here(self):
        z.Node("A", in_salvo_conditions={"c": condition("nowhere")})
