"""The exception hierarchy, the panic exception and the messages of failed actions."""

import pytest

import zellik_sim as z

EXCEPTIONS = [(name, cls) for name, cls in vars(z).items()
              if isinstance(cls, type) and issubclass(cls, BaseException)]


@pytest.mark.parametrize("name, cls", EXCEPTIONS)
def test_class_base_name_and_docstring(name, cls):
    if name == "ExplorationInterrupted":  # stops an exploration; not an error
        assert cls.__bases__ == (KeyboardInterrupt,) and "KeyboardInterrupt" in cls.__doc__
        assert (cls.__module__, cls.__name__) == ("zellik_sim", name)
        return
    if name == "ZellikError":
        base = Exception
    elif name.startswith("Undo") and name != "UndoError":
        base = z.UndoError
    else:
        base = z.ZellikError
    assert cls.__bases__ == (base,)
    assert (cls.__module__, cls.__name__, cls.__doc__) == ("zellik_sim", name, None)


def test_instance_carries_only_its_message():
    e = z.NodeNotFoundError("Node not found: A")
    assert e.args == ("Node not found: A",) and str(e) == "Node not found: A"


def duplicate_names():
    return z.Graph([z.Node("A"), z.Node("B"), z.Node("A")], [])


def test_panic_escapes_except_exception_and_is_not_exported():
    with pytest.raises(BaseException) as info:
        try:
            duplicate_names()
        except Exception:
            pytest.fail("the panic exception was caught as an Exception")
    assert info.type.__bases__ == (BaseException,)
    assert info.value.args == ("Duplicate node name: 'A'",)
    assert info.type not in vars(z).values()
    with pytest.raises(info.type):  # one class, cached
        duplicate_names()


# The action errors as a user meets them, through a small net: A.out.x -> B.in.y.
MISSING_ID = "01ARZ3NDEKTSV4RRFFQ69G5FAV"
OUT, IN = z.PortType.Output, z.PortType.Input


def edge(a, b):
    return z.Edge(z.PortRef(a, OUT, "x"), z.PortRef(b, IN, "y"))


@pytest.fixture
def net():
    if not hasattr(z, "NetSim"):
        pytest.skip("net classes not built into this module")
    b = z.Node("B", in_ports={"y": z.Port()}, in_salvo_conditions={
        "go": z.SalvoCondition(z.MaxSalvos.finite(1), "y", z.SalvoConditionTerm.true_())})
    return z.NetSim(z.Graph([z.Node("A", out_ports={"x": z.Port()}), b], [edge("A", "B")]))


def new_packet(net):
    return net.do_action(z.NetAction.create_packet())[0].packet_id


@pytest.mark.parametrize("make_action, cls, message", [
    (lambda p: z.NetAction.create_epoch("Nope", z.Salvo("go", [])),
     z.NodeNotFoundError, "Node not found: Nope"),
    (lambda p: z.NetAction.consume_packet(MISSING_ID),
     z.PacketNotFoundError, f"Packet not found: {MISSING_ID}"),
    (lambda p: z.NetAction.start_epoch(MISSING_ID),
     z.EpochNotFoundError, f"Epoch not found: {MISSING_ID}"),
    (lambda p: z.NetAction.transport_packet_to_location(p, z.PacketLocation.input_port("B", "zz")),
     z.InputPortNotFoundError, "Input port 'zz' not found on node B"),
    (lambda p: z.NetAction.transport_packet_to_location(p, z.PacketLocation.edge(edge("A", "C"))),
     z.EdgeNotFoundError, "Edge not found: A.out.x -> C.in.y"),
    (lambda p: z.NetAction.create_request("Ghost", "l"),
     z.RequestNodeNotFoundError, "Request targets non-existent node 'Ghost'"),
])
def test_failed_action_raises_its_class_with_its_message(net, make_action, cls, message):
    with pytest.raises(z.ZellikError) as info:
        net.do_action(make_action(new_packet(net)))
    assert info.type is cls and not isinstance(info.value, z.UndoError)
    assert info.value.args == (message,)


def test_failed_undo_is_an_undo_error_with_its_prefix(net):
    action = z.NetAction.create_packet()
    data, events = net.do_action(action)
    net.undo_action(action, events)
    with pytest.raises(z.UndoError) as info:  # the packet is gone already
        net.undo_action(action, events)
    assert info.type is z.UndoNotFoundError and isinstance(info.value, z.ZellikError)
    assert info.value.args == (f"Entity not found: packet {data.packet_id} not found",)
