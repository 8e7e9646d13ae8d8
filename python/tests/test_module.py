"""The module as a whole: its docstring, what it registers and in which order."""

import pytest

import zellik_sim

EXCEPTION_CLASSES = [
    "ZellikError",
    "PacketNotFoundError",
    "EpochNotFoundError",
    "EpochNotRunningError",
    "EpochNotStartableError",
    "CannotFinishNonEmptyEpochError",
    "UnsentOutputSalvoError",
    "PacketNotInAnyNodeError",
    "OutputPortNotFoundError",
    "OutputPortFullError",
    "SalvoConditionNotFoundError",
    "SalvoConditionNotMetError",
    "MaxSalvosExceededError",
    "NodeNotFoundError",
    "PacketNotAtInputPortError",
    "InputPortNotFoundError",
    "InputPortFullError",
    "CannotMovePacketFromRunningEpochError",
    "CannotMovePacketIntoRunningEpochError",
    "EdgeNotFoundError",
    "GraphValidationError",
    "RequestCycleDetectedError",
    "RequestUnconnectedPortError",
    "RequestNodeNotFoundError",
    "UndoError",
    "UndoStateMismatchError",
    "UndoNotFoundError",
    "UndoNotUndoableError",
    "UndoInternalError",
]

GRAPH_CLASSES = [
    "PacketCount",
    "PacketCountN",
    "MaxSalvos",
    "MaxSalvosFinite",
    "PortSlotSpec",
    "PortSlotSpecFinite",
    "PortState",
    "PortStateNumeric",
    "SalvoConditionTerm",
    "DependencyRequestTrigger",
    "DependencyRequestConfig",
    "Port",
    "PortType",
    "PortRef",
    "Edge",
    "SalvoCondition",
    "Node",
    "GraphValidationErrorInfo",
    "Graph",
]

NET_CLASSES = [
    "PacketLocation",
    "EpochState",
    "Packet",
    "Salvo",
    "OrphanedPacketInfo",
    "Epoch",
    "NetAction",
    "NetEvent",
    "NetActionResponseData",
    "NetSim",
]

# Graph classes that can only be obtained from static methods or members.
WITHOUT_CONSTRUCTOR = [
    "PacketCount",
    "PacketCountN",
    "MaxSalvos",
    "MaxSalvosFinite",
    "PortSlotSpec",
    "PortSlotSpecFinite",
    "PortState",
    "PortStateNumeric",
    "SalvoConditionTerm",
    "DependencyRequestTrigger",
    "PortType",
    "GraphValidationErrorInfo",
]


def registered_classes():
    return [name for name, value in vars(zellik_sim).items() if isinstance(value, type)]


def test_module_docstring():
    assert zellik_sim.__doc__ == (
        "Python bindings for zellik-sim, a flow-based development runtime simulation engine."
    )


def test_exceptions_then_graph_classes_are_registered_in_order():
    classes = registered_classes()
    assert classes[: len(EXCEPTION_CLASSES) + len(GRAPH_CLASSES)] == EXCEPTION_CLASSES + GRAPH_CLASSES


def test_net_classes_follow_in_order():
    if not hasattr(zellik_sim, "NetSim"):
        pytest.skip("net classes not built into this module")
    assert registered_classes() == EXCEPTION_CLASSES + GRAPH_CLASSES + NET_CLASSES


def test_panic_exception_is_not_a_module_attribute():
    try:
        zellik_sim.Graph([zellik_sim.Node("A"), zellik_sim.Node("A")], [])
    except BaseException as e:  # noqa: B036 - the panic is meant to bypass Exception
        panic = type(e)
    assert panic not in vars(zellik_sim).values()


@pytest.mark.parametrize("name", GRAPH_CLASSES)
def test_graph_class_is_named_in_the_module_and_final(name):
    cls = getattr(zellik_sim, name)
    assert cls.__module__ == "zellik_sim"
    assert cls.__name__ == name
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


@pytest.mark.parametrize("name", WITHOUT_CONSTRUCTOR)
def test_class_without_constructor_refuses_calls(name):
    with pytest.raises(TypeError) as info:
        getattr(zellik_sim, name)()
    assert str(info.value) == f"No constructor defined for {name}"


@pytest.mark.parametrize(
    "cls, doc, signature",
    [
        ("Port", "A port on a node.", "(slots_spec=None)"),
        ("PortRef", "A reference to a specific port on a specific node.",
         "(node_name, port_type, port_name)"),
        ("Node", "A processing node in the graph.",
         "(name, in_ports=None, out_ports=None, in_salvo_conditions=None, "
         "out_salvo_conditions=None, dependency_request_config=None)"),
        ("Graph", "The static topology of a flow-based network.",
         "(nodes, edges, dependency_edges=None)"),
        ("PortState", "Port state predicate for salvo conditions.", None),
    ],
)
def test_class_docstring_and_signature(cls, doc, signature):
    c = getattr(zellik_sim, cls)
    assert c.__doc__ == doc
    assert c.__text_signature__ == signature
