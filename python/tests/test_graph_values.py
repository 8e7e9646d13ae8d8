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


@pytest.mark.parametrize("cls, member, number", [
    (cls, member, number) for cls, members in ENUMS.items() for number, member in enumerate(members)])
def test_member_number_repr_and_equality(cls, member, number):
    m = getattr(getattr(z, cls), member)
    assert (int(m), repr(m)) == (number, f"{cls}.{member}")
    assert m == number and m != number + 1 and not (m != number)
    assert m == getattr(getattr(z, cls), member)
    for op in ("<", "<=", ">", ">="):
        with pytest.raises(TypeError):
            eval(f"m {op} m")
    if cls == "PortType":
        assert hash(m) == hash(z.PortRef("A", m, "x").port_type)
    else:
        with pytest.raises(TypeError):
            hash(m)


def test_members_of_other_classes_and_types_are_not_equal():
    assert z.PortType.Input != z.DependencyRequestTrigger.OnStartup
    assert z.PortState.Empty != "Empty"


@pytest.mark.parametrize("call, expected", [
    ("PacketCount.all()", "PacketCount.All"),
    ("MaxSalvos.infinite()", "MaxSalvos.Infinite"),
    ("PortSlotSpec.infinite()", "PortSlotSpec.Infinite"),
    ("PortState.non_empty()", "PortState.NonEmpty"),
    ("PortState.non_full()", "PortState.NonFull"),
    ("DependencyRequestTrigger.on_no_salvo_triggered()", "DependencyRequestTrigger.OnNoSalvoTriggered"),
])
def test_static_constructors_return_members(call, expected):
    value = eval(call, vars(z))
    assert value == eval(expected, vars(z)) and repr(value) == expected


@pytest.mark.parametrize("call, prop, n", [
    ("PacketCount.count", "count", 2),
    ("MaxSalvos.finite", "max", 7),
    ("PortSlotSpec.finite", "capacity", 0),
    ("PortState.equals", "value", 3),
    ("PortState.less_than", "value", 3),
    ("PortState.greater_than", "value", 3),
    ("PortState.equals_or_less_than", "value", 3),
    ("PortState.equals_or_greater_than", "value", 3),
])
def test_data_value_repr_property_and_identity(call, prop, n):
    value = eval(f"{call}({n})", vars(z))
    assert repr(value) == f"{call}({n})"
    assert getattr(value, prop) == n
    assert value == value and value != eval(f"{call}({n})", vars(z))
    if prop == "value":
        assert value.kind == call.split(".")[1]


def test_unsigned_arguments():
    assert z.PacketCount.count(2**64 - 1).count == 2**64 - 1
    assert z.MaxSalvos.finite(n=0).max == 0
    assert z.PortSlotSpec.finite(2**63).capacity == 2**63
    for n in (-1, 2**64, -(2**100), 10**5000):
        with pytest.raises(ValueError, match=r"^argument 'n': expected an int from 0 to 2\*\*64-1, got "):
            z.PortState.greater_than(n)
    for n in ("3", 1.5, None, True):
        with pytest.raises(TypeError, match=r"^argument 'n': "):
            z.PortSlotSpec.finite(n)
    with pytest.raises(TypeError):
        z.PacketCount.all(1)


def test_static_method_docstrings():
    assert z.PacketCount.count.__text_signature__ == "(n)"
    assert z.PacketCount.count.__doc__ == "Take at most n packets (takes fewer if port has fewer)."
    assert z.MaxSalvos.infinite.__doc__ == "No limit on triggers."
