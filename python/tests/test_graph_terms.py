"""Salvo condition terms: building, reading back, text forms and deep trees."""

import time

import pytest

import zellik_sim as z

T = z.SalvoConditionTerm
S = z.PortState


class TestBuildingAndReading:
    @pytest.mark.parametrize("term, kind", [
        (T.true_(), "True"),
        (T.false_(), "False"),
        (T.port("in", S.NonEmpty), "Port"),
        (T.and_([]), "And"),
        (T.or_([]), "Or"),
        (T.not_(T.true_()), "Not"),
    ])
    def test_kind_and_accessors_of_other_kinds_are_none(self, term, kind):
        assert term.kind == kind
        assert (term.get_port_name() is None) == (kind != "Port")
        assert (term.get_port_state() is None) == (kind != "Port")
        assert (term.get_terms() is None) == (kind not in ("And", "Or"))
        assert (term.get_inner() is None) == (kind != "Not")

    def test_accessors_give_new_objects(self):
        assert T.port("in", S.Full).get_port_state() == S.Full
        numeric = T.port("in", S.equals(3)).get_port_state()
        assert isinstance(numeric, z.PortStateNumeric) and (numeric.kind, numeric.value) == ("equals", 3)
        a = T.port("a", S.Empty)
        subs = T.or_((a, T.false_())).get_terms()
        assert [t.kind for t in subs] == ["Port", "False"] and subs[0] is not a
        assert T.not_(a).get_inner().get_port_name() == "a"
        assert T.true_() != T.true_()  # identity equality

    def test_argument_errors(self):
        for state in (2, z.PortSlotSpec.Infinite):
            with pytest.raises(TypeError) as info:
                T.port("a", state)
            assert str(info.value) == "Expected PortState or PortStateNumeric"
        for call, arg in [(lambda: T.port(b"a", S.Full), "port_name"), (lambda: T.and_("ab"), "terms"),
                          (lambda: T.or_([T.true_(), 1]), "terms"), (lambda: T.not_(None), "term")]:
            with pytest.raises(TypeError, match=rf"^argument '{arg}': "):
                call()


class TestTextForm:
    def test_nested_text(self):
        term = T.and_([T.port("in", S.NonEmpty), T.true_()])
        assert repr(term) == (
            'SalvoConditionTerm.and_([SalvoConditionTerm.port("in", NonEmpty), '
            'SalvoConditionTerm.true_()])')
        assert repr(T.not_(T.or_([T.false_(), T.port("x", S.less_than(4))]))) == (
            'SalvoConditionTerm.not_(SalvoConditionTerm.or_([SalvoConditionTerm.false_(), '
            'SalvoConditionTerm.port("x", LessThan(4))]))')

    def test_port_names_are_escaped(self):
        assert repr(T.port('a"b\\c\n', S.Full)) == (
            'SalvoConditionTerm.port("a\\"b\\\\c\\n", Full)')


class TestDeepTerms:
    DEPTH = 100_000

    def test_not_chain_is_built_in_constant_time_per_step(self):
        t = T.true_()
        start = time.perf_counter()
        for _ in range(self.DEPTH):
            t = T.not_(t)
        assert time.perf_counter() - start < 5.0  # a copying not_ takes hours
        text = repr(t)
        assert text.count("not_(") == self.DEPTH
        assert text.endswith("SalvoConditionTerm.true_()" + ")" * self.DEPTH)
        assert t.get_inner().get_inner().kind == "Not"
        del t

    def test_deep_and_nesting_prints_and_drops(self):
        t = T.port("p", S.Empty)
        for _ in range(self.DEPTH):
            t = T.and_([t])
        assert repr(t).count("and_([") == self.DEPTH
        del t

    def test_deep_condition_in_a_graph_validates(self):
        t = T.port("missing", S.Empty)
        for _ in range(self.DEPTH):
            t = T.not_(t)
        node = z.Node("A", in_salvo_conditions={
            "c": z.SalvoCondition(z.MaxSalvos.finite(1), [], t)})
        errors = z.Graph([node], []).validate()
        assert [e.kind for e in errors] == ["SalvoConditionTermReferencesNonexistentPort"]

    def test_deep_condition_is_evaluated_by_a_net(self):
        if not hasattr(z, "NetSim"):
            pytest.skip("net classes not built into this module")
        t = T.port("y", S.NonEmpty)
        for _ in range(self.DEPTH):  # an even number of negations
            t = T.not_(t)
        node = z.Node("B", in_ports={"y": z.Port()}, in_salvo_conditions={
            "go": z.SalvoCondition(z.MaxSalvos.finite(1), "y", t)})
        net = z.NetSim(z.Graph([node], []))
        packet, _ = net.do_action(z.NetAction.create_packet())
        net.do_action(z.NetAction.transport_packet_to_location(
            packet.packet_id, z.PacketLocation.input_port("B", "y")))
        net.run_step()
        assert len(net.get_startable_epochs()) == 1
