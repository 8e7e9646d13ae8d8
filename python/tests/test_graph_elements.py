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


def test_port_capacity_forms():
    for args in [(), (None,), (z.PortSlotSpec.Infinite,)]:
        port = z.Port(*args)
        assert port.slots_spec == z.PortSlotSpec.Infinite
        assert repr(port) == "Port(PortSlotSpec.Infinite)"
    port = z.Port(slots_spec=z.PortSlotSpec.finite(3))
    assert port.slots_spec.capacity == 3 and repr(port) == "Port(PortSlotSpec.finite(3))"
    assert type_error(lambda: z.Port(3)) == "Expected PortSlotSpec or PortSlotSpecFinite"
    # The bare Finite member has no capacity: a port asked to be finite is
    # never made unbounded.
    with pytest.raises(ValueError, match=r"^argument 'slots_spec': PortSlotSpec.Finite has no capacity"):
        z.Port(z.PortSlotSpec.Finite)


def test_port_ref_is_a_value():
    a, b = z.PortRef("A", OUT, "x"), z.PortRef("A", OUT, "x")
    assert a == b and hash(a) == hash(b) and len({a, b}) == 1
    assert a != z.PortRef("A", IN, "x") and a != "A.out.x"
    assert (a.node_name, a.port_type, a.port_name) == ("A", OUT, "x")
    assert str(z.PortRef("n", IN, "p")) == "n.in.p"
    assert repr(z.PortRef("it's", OUT, "x")) == "PortRef('it's', Output, 'x')"  # not escaped
    with pytest.raises(TypeError):
        a < b
    assert type_error(lambda: z.PortRef("A", 1, "x")).startswith("argument 'port_type': ")
    assert type_error(lambda: z.PortRef(1, OUT, "x")).startswith("argument 'node_name': ")


def test_edge_is_a_value_and_keeps_its_direction():
    src, dst = z.PortRef("m", OUT, "q"), z.PortRef("n", IN, "p")
    e = z.Edge(src, dst)
    assert e == z.Edge(z.PortRef("m", OUT, "q"), z.PortRef("n", IN, "p"))
    assert hash(e) == hash(z.Edge(src, dst)) and e != z.Edge(dst, src)
    assert (str(e), repr(e)) == ("m.out.q -> n.in.p", "Edge(m.out.q, n.in.p)")
    assert e.source == src and e.target == dst
    assert str(z.Edge(dst, src)) == "n.in.p -> m.out.q"
    assert type_error(lambda: z.Edge(src, "n.in.p")).startswith("argument 'target': ")


class TestSalvoCondition:
    def test_ports_forms(self):
        assert condition("in").ports == {"in": z.PacketCount.All}
        assert condition(["a", "b", "a"]).ports == {"a": z.PacketCount.All, "b": z.PacketCount.All}
        counted = condition({"a": z.PacketCount.count(2), "b": z.PacketCount.All}).ports
        assert isinstance(counted["a"], z.PacketCountN) and counted["a"].count == 2
        assert counted["b"] == z.PacketCount.All

    def test_properties_and_repr(self):
        c = condition("in", z.MaxSalvos.finite(1), T.port("in", z.PortState.NonEmpty))
        assert c.max_salvos.max == 1 and c.term.kind == "Port"
        assert repr(c) == ('SalvoCondition(max_salvos=MaxSalvos.finite(1), ports={"in": '
                           'PacketCount.All}, term=SalvoConditionTerm.port("in", NonEmpty))')
        infinite = condition({'q"': z.PacketCount.count(3)}, z.MaxSalvos.Infinite)
        assert repr(infinite) == ('SalvoCondition(max_salvos=MaxSalvos.Infinite, ports={"q\\"": '
                                  'PacketCount.count(3)}, term=SalvoConditionTerm.true_())')

    @pytest.mark.parametrize("ports", [5, ["a", 1], {"a"}, b"ab"])
    def test_ports_of_another_shape(self, ports):
        assert type_error(lambda: condition(ports)) == (
            "ports must be a str, list of str, or dict mapping str to PacketCount")

    def test_dict_entries_and_conversion_order(self):
        assert type_error(lambda: condition({"a": 2})) == "Expected PacketCount or PacketCountN"
        assert type_error(lambda: condition({1: z.PacketCount.All})).startswith("argument 'ports': ")
        # term, then max_salvos, then ports
        assert type_error(lambda: z.SalvoCondition(5, 5, 5)).startswith("argument 'term': ")
        assert type_error(lambda: z.SalvoCondition(5, 5, T.true_())) == (
            "Expected MaxSalvos or MaxSalvosFinite")


def test_dependency_request_config():
    on_startup = z.DependencyRequestTrigger.OnStartup
    c = z.DependencyRequestConfig([on_startup, on_startup], "fe\tch")
    assert c.triggers == [on_startup] * 2 and c.label == "fe\tch"
    assert repr(c) == ("DependencyRequestConfig(triggers=[DependencyRequestTrigger.OnStartup, "
                       'DependencyRequestTrigger.OnStartup], label="fe\\tch")')
    assert repr(z.DependencyRequestConfig((), "")) == 'DependencyRequestConfig(triggers=[], label="")'
    for triggers in ("OnStartup", [0]):
        assert type_error(lambda: z.DependencyRequestConfig(triggers, "l")).startswith(
            "argument 'triggers': ")


class TestNode:
    def test_defaults_and_repr(self):
        n = z.Node("A")
        assert (n.name, n.in_ports, n.out_ports) == ("A", {}, {})
        assert n.in_salvo_conditions == {} and n.out_salvo_conditions == {}
        assert n.dependency_request_config is None
        assert (repr(n), repr(z.Node('a"b'))) == ('Node("A")', 'Node("a\\"b")')
        assert z.Node("A") != z.Node("A")

    def test_values_are_copied_back_with_conditions_in_order(self):
        config = z.DependencyRequestConfig([z.DependencyRequestTrigger.OnNoSalvoTriggered], "l")
        n = z.Node("A", in_ports={"in": z.Port(z.PortSlotSpec.finite(2))},
                   out_ports={"out": z.Port()},
                   in_salvo_conditions={"c2": condition(), "c1": condition(), "c3": condition()},
                   dependency_request_config=config)
        assert n.in_ports["in"].slots_spec.capacity == 2 and list(n.out_ports) == ["out"]
        assert list(n.in_salvo_conditions) == ["c2", "c1", "c3"]
        assert n.dependency_request_config.label == "l"
        assert n.in_ports["in"] is not n.in_ports["in"]

    @pytest.mark.parametrize("kwargs, arg", [
        # in_ports is read before the condition dicts' types are checked
        ({"in_ports": {"p": 1}, "in_salvo_conditions": []}, "in_ports"),
        # both condition dicts are type-checked before either is read
        ({"in_salvo_conditions": {"c": 1}, "out_salvo_conditions": []}, "out_salvo_conditions"),
        # the request config is checked before the condition dicts are read
        ({"in_salvo_conditions": {"c": 1}, "dependency_request_config": 1},
         "dependency_request_config"),
        ({"out_salvo_conditions": {1: condition()}}, "out_salvo_conditions"),
    ])
    def test_conversion_runs_in_signature_order(self, kwargs, arg):
        assert type_error(lambda: z.Node("A", **kwargs)).startswith(f"argument '{arg}': ")
