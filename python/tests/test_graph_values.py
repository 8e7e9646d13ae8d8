"""Enumerations and the small value classes: counts, limits, capacities, port states."""

import pytest

import zellik_sim as z

ENUMS = {
    "PacketCount": ["All"],
    "MaxSalvos": ["Infinite"],
    "PortSlotSpec": ["Infinite", "Finite"],
    "PortState": ["Empty", "Full", "NonEmpty", "NonFull"],
    "DependencyRequestTrigger": ["OnStartup", "OnNoSalvoTriggered"],
    "PortType": ["Input", "Output"],
}
MEMBERS = [(cls, member, number) for cls, members in ENUMS.items()
           for number, member in enumerate(members)]


class TestEnumerations:
    @pytest.mark.parametrize("cls, member, number", MEMBERS)
    def test_member_number_repr_and_equality(self, cls, member, number):
        m = getattr(getattr(z, cls), member)
        assert int(m) == number
        assert repr(m) == f"{cls}.{member}"
        assert m == number and not (m != number)
        assert m != number + 1
        assert m == getattr(getattr(z, cls), member)

    def test_members_of_different_classes_are_not_equal(self):
        assert z.PortType.Input != z.DependencyRequestTrigger.OnStartup
        assert z.PortState.Empty != "Empty"

    @pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
    def test_ordering_is_refused(self, op):
        with pytest.raises(TypeError):
            eval(f"a {op} b", {"a": z.PortState.Full, "b": z.PortState.Empty})

    @pytest.mark.parametrize("cls", [c for c in ENUMS if c != "PortType"])
    def test_only_port_type_is_hashable(self, cls):
        with pytest.raises(TypeError):
            hash(getattr(getattr(z, cls), ENUMS[cls][0]))

    def test_port_type_hashes_by_value(self):
        ref = z.PortRef("A", z.PortType.Output, "x")
        assert hash(ref.port_type) == hash(z.PortType.Output)
        assert {z.PortType.Input: 1}[z.PortRef("A", z.PortType.Input, "x").port_type] == 1

    @pytest.mark.parametrize("call, expected", [
        ("PacketCount.all()", "PacketCount.All"),
        ("MaxSalvos.infinite()", "MaxSalvos.Infinite"),
        ("PortSlotSpec.infinite()", "PortSlotSpec.Infinite"),
        ("PortState.empty()", "PortState.Empty"),
        ("PortState.full()", "PortState.Full"),
        ("PortState.non_empty()", "PortState.NonEmpty"),
        ("PortState.non_full()", "PortState.NonFull"),
        ("DependencyRequestTrigger.on_startup()", "DependencyRequestTrigger.OnStartup"),
        ("DependencyRequestTrigger.on_no_salvo_triggered()",
         "DependencyRequestTrigger.OnNoSalvoTriggered"),
    ])
    def test_static_constructors_return_members(self, call, expected):
        value = eval(call, vars(z))
        assert value == eval(expected, vars(z))
        assert repr(value) == expected


class TestDataValues:
    @pytest.mark.parametrize("call, prop, expected", [
        ("PacketCount.count(2)", "count", "PacketCount.count(2)"),
        ("MaxSalvos.finite(7)", "max", "MaxSalvos.finite(7)"),
        ("PortSlotSpec.finite(0)", "capacity", "PortSlotSpec.finite(0)"),
        ("PortState.equals(3)", "value", "PortState.equals(3)"),
        ("PortState.less_than(3)", "value", "PortState.less_than(3)"),
        ("PortState.greater_than(3)", "value", "PortState.greater_than(3)"),
        ("PortState.equals_or_less_than(3)", "value", "PortState.equals_or_less_than(3)"),
        ("PortState.equals_or_greater_than(3)", "value", "PortState.equals_or_greater_than(3)"),
    ])
    def test_repr_and_property(self, call, prop, expected):
        value = eval(call, vars(z))
        assert repr(value) == expected
        assert getattr(value, prop) == int(expected.rsplit("(", 1)[1][:-1])

    def test_numeric_state_kind_is_the_method_name(self):
        assert z.PortState.equals_or_less_than(1).kind == "equals_or_less_than"

    def test_equality_is_by_identity(self):
        a = z.PacketCount.count(2)
        assert a == a
        assert z.PacketCount.count(2) != z.PacketCount.count(2)
        assert z.PortState.equals(3) != z.PortState.equals(3)
        assert z.MaxSalvos.finite(1) != z.MaxSalvos.finite(1)

    @pytest.mark.parametrize("n", [0, 2**64 - 1])
    def test_unsigned_bounds_are_accepted(self, n):
        assert z.PacketCount.count(n).count == n
        assert z.PortSlotSpec.finite(n).capacity == n

    @pytest.mark.parametrize("n", [-1, 2**64])
    def test_out_of_range_is_overflow(self, n):
        with pytest.raises(OverflowError):
            z.MaxSalvos.finite(n)
        with pytest.raises(OverflowError):
            z.PortState.greater_than(n)

    def test_non_int_is_an_argument_type_error(self):
        with pytest.raises(TypeError, match=r"^argument 'n': "):
            z.PacketCount.count("3")
        with pytest.raises(TypeError, match=r"^argument 'n': "):
            z.PortState.equals(1.5)

    def test_keyword_argument_and_arity(self):
        assert z.MaxSalvos.finite(n=4).max == 4
        with pytest.raises(TypeError):
            z.PacketCount.count()
        with pytest.raises(TypeError):
            z.PacketCount.all(1)

    def test_static_method_docstrings(self):
        assert z.PacketCount.count.__text_signature__ == "(n)"
        assert z.PacketCount.count.__doc__ == "Take at most n packets (takes fewer if port has fewer)."
        assert z.MaxSalvos.infinite.__doc__ == "No limit on triggers."
        assert z.PortSlotSpec.finite.__text_signature__ == "(n)"
