"""The module as a whole: its docstring, what it registers and in which order."""

import pytest

import zellik_sim

EXCEPTION_CLASSES = """
    ZellikError PacketNotFoundError EpochNotFoundError EpochNotRunningError
    EpochNotStartableError CannotFinishNonEmptyEpochError UnsentOutputSalvoError
    PacketNotInAnyNodeError OutputPortNotFoundError OutputPortFullError
    SalvoConditionNotFoundError SalvoConditionNotMetError MaxSalvosExceededError NodeNotFoundError
    PacketNotAtInputPortError InputPortNotFoundError InputPortFullError
    CannotMovePacketFromRunningEpochError CannotMovePacketIntoRunningEpochError EdgeNotFoundError
    GraphValidationError RequestCycleDetectedError RequestUnconnectedPortError
    RequestNodeNotFoundError UndoError UndoStateMismatchError UndoNotFoundError
    UndoNotUndoableError UndoInternalError""".split()

GRAPH_CLASSES = """
    PacketCount PacketCountN MaxSalvos MaxSalvosFinite PortSlotSpec PortSlotSpecFinite PortState
    PortStateNumeric SalvoConditionTerm DependencyRequestTrigger DependencyRequestConfig Port
    PortType PortRef Edge SalvoCondition Node GraphValidationErrorInfo Graph""".split()

NET_CLASSES = """
    PacketLocation EpochState Packet Salvo OrphanedPacketInfo Epoch NetAction NetEvent
    NetActionResponseData NetSim""".split()

EXPLORE_CLASSES = """
    Outcome Behaviour Injection RequestAllowance TerminalState ExplorationResult
    ExplorationInterrupted StateView""".split()

CONSTRUCTIBLE = {"DependencyRequestConfig", "Port", "PortRef", "Edge", "SalvoCondition", "Node",
                 "Graph"}


def registered_classes():
    return [name for name, value in vars(zellik_sim).items() if isinstance(value, type)]


def test_module_docstring():
    assert zellik_sim.__doc__ == (
        "Python bindings for zellik-sim, a flow-based development runtime simulation engine.")


def test_exceptions_then_graph_classes_are_registered_in_order():
    assert len(EXCEPTION_CLASSES) == 29 and len(GRAPH_CLASSES) == 19
    assert registered_classes()[:48] == EXCEPTION_CLASSES + GRAPH_CLASSES


def test_net_classes_then_explorer_classes_follow_in_order():
    if not hasattr(zellik_sim, "NetSim"):
        pytest.skip("net classes not built into this module")
    assert registered_classes() == EXCEPTION_CLASSES + GRAPH_CLASSES + NET_CLASSES + EXPLORE_CLASSES


@pytest.mark.parametrize("name", GRAPH_CLASSES)
def test_graph_class_naming_finality_and_constructor(name):
    cls = getattr(zellik_sim, name)
    assert (cls.__module__, cls.__name__, cls.__qualname__) == ("zellik_sim", name, name)
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    if name not in CONSTRUCTIBLE:
        with pytest.raises(TypeError) as info:
            cls()
        assert str(info.value) == f"No constructor defined for {name}"


@pytest.mark.parametrize("cls, doc, signature", [
    ("Port", "A port on a node.", "(slots_spec=None)"),
    ("Node", "A processing node in the graph.",
     "(name, in_ports=None, out_ports=None, in_salvo_conditions=None, "
     "out_salvo_conditions=None, dependency_request_config=None)"),
    ("Graph", "The static topology of a flow-based network.", "(nodes, edges, dependency_edges=None)"),
    ("PortState", "Port state predicate for salvo conditions.", None),
])
def test_class_docstring_and_signature(cls, doc, signature):
    c = getattr(zellik_sim, cls)
    assert (c.__doc__, c.__text_signature__) == (doc, signature)


def test_version_comes_from_the_package_metadata():
    import importlib.metadata

    assert zellik_sim.__version__ == importlib.metadata.version("zellik_sim")


def test_net_action_can_be_subscripted_like_its_stub():
    alias = zellik_sim.NetAction[zellik_sim.NetActionResponseData.Packet]
    assert alias.__origin__ is zellik_sim.NetAction
    assert alias.__args__ == (zellik_sim.NetActionResponseData.Packet,)
