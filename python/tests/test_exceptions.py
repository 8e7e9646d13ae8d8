"""The exception hierarchy, the panic exception and the messages of failed actions."""

import pytest

import zellik_sim as z

UNDO_CLASSES = ["UndoStateMismatchError", "UndoNotFoundError", "UndoNotUndoableError",
                "UndoInternalError"]
ZELLIK_CHILDREN = [
    "PacketNotFoundError", "EpochNotFoundError", "EpochNotRunningError", "EpochNotStartableError",
    "CannotFinishNonEmptyEpochError", "UnsentOutputSalvoError", "PacketNotInAnyNodeError",
    "OutputPortNotFoundError", "OutputPortFullError", "SalvoConditionNotFoundError",
    "SalvoConditionNotMetError", "MaxSalvosExceededError", "NodeNotFoundError",
    "PacketNotAtInputPortError", "InputPortNotFoundError", "InputPortFullError",
    "CannotMovePacketFromRunningEpochError", "CannotMovePacketIntoRunningEpochError",
    "EdgeNotFoundError", "GraphValidationError", "RequestCycleDetectedError",
    "RequestUnconnectedPortError", "RequestNodeNotFoundError", "UndoError",
]


class TestHierarchy:
    def test_zellik_error_derives_from_exception(self):
        assert z.ZellikError.__bases__ == (Exception,)

    @pytest.mark.parametrize("name", ZELLIK_CHILDREN)
    def test_direct_children_of_zellik_error(self, name):
        assert getattr(z, name).__bases__ == (z.ZellikError,)

    @pytest.mark.parametrize("name", UNDO_CLASSES)
    def test_undo_errors_derive_from_undo_error(self, name):
        assert getattr(z, name).__bases__ == (z.UndoError,)

    def test_action_errors_are_not_undo_errors(self):
        assert not issubclass(z.NodeNotFoundError, z.UndoError)

    @pytest.mark.parametrize("name", ["ZellikError", "NodeNotFoundError", "UndoInternalError"])
    def test_class_identity(self, name):
        cls = getattr(z, name)
        assert cls.__module__ == "zellik_sim"
        assert cls.__name__ == name
        assert cls.__doc__ is None

    def test_instance_carries_only_its_message(self):
        e = z.NodeNotFoundError("Node not found: A")
        assert e.args == ("Node not found: A",)
        assert str(e) == "Node not found: A"


class TestPanic:
    def duplicate(self):
        return z.Graph([z.Node("A"), z.Node("B"), z.Node("A")], [])

    def test_duplicate_node_name_escapes_except_exception(self):
        with pytest.raises(BaseException) as info:
            try:
                self.duplicate()
            except Exception:  # must not catch it
                pytest.fail("the panic exception was caught as an Exception")
        assert info.type.__bases__ == (BaseException,)
        assert info.value.args == ("Duplicate node name: 'A'",)

    def test_panic_is_the_same_class_every_time(self):
        classes = set()
        for _ in range(2):
            try:
                self.duplicate()
            except BaseException as e:  # noqa: B036
                classes.add(type(e))
        assert len(classes) == 1


# The action errors as a user meets them, through a small net: A.out.x -> B.in.y.
def small_net():
    if not hasattr(z, "NetSim"):
        pytest.skip("net classes not built into this module")
    t = z.SalvoConditionTerm.true_()
    a = z.Node("A", out_ports={"x": z.Port()})
    b = z.Node("B", in_ports={"y": z.Port()}, in_salvo_conditions={
        "go": z.SalvoCondition(z.MaxSalvos.finite(1), "y", t)})
    edge = z.Edge(z.PortRef("A", z.PortType.Output, "x"), z.PortRef("B", z.PortType.Input, "y"))
    return z.NetSim(z.Graph([a, b], [edge]))


MISSING_ID = "01ARZ3NDEKTSV4RRFFQ69G5FAV"


class TestActionErrorMessages:
    def fail_with(self, net, action):
        with pytest.raises(z.ZellikError) as info:
            net.do_action(action)
        assert not isinstance(info.value, z.UndoError)
        return info

    def new_packet(self, net):
        data, _ = net.do_action(z.NetAction.create_packet())
        return data.packet_id

    def test_node_not_found_names_the_bare_node(self):
        net = small_net()
        info = self.fail_with(net, z.NetAction.create_epoch("Nope", z.Salvo("go", [])))
        assert info.type is z.NodeNotFoundError
        assert info.value.args == ("Node not found: Nope",)

    def test_identifiers_are_written_unquoted(self):
        net = small_net()
        info = self.fail_with(net, z.NetAction.consume_packet(MISSING_ID))
        assert info.type is z.PacketNotFoundError
        assert str(info.value) == f"Packet not found: {MISSING_ID}"
        info = self.fail_with(net, z.NetAction.start_epoch(MISSING_ID))
        assert info.type is z.EpochNotFoundError
        assert str(info.value) == f"Epoch not found: {MISSING_ID}"

    def test_input_port_not_found_leaves_the_node_unquoted(self):
        net = small_net()
        packet = self.new_packet(net)
        info = self.fail_with(net, z.NetAction.transport_packet_to_location(
            packet, z.PacketLocation.input_port("B", "zz")))
        assert info.type is z.InputPortNotFoundError
        assert str(info.value) == "Input port 'zz' not found on node B"

    def test_edge_not_found_shows_the_edge_text(self):
        net = small_net()
        packet = self.new_packet(net)
        stray = z.Edge(z.PortRef("A", z.PortType.Output, "x"), z.PortRef("C", z.PortType.Input, "y"))
        info = self.fail_with(net, z.NetAction.transport_packet_to_location(
            packet, z.PacketLocation.edge(stray)))
        assert info.type is z.EdgeNotFoundError
        assert str(info.value) == "Edge not found: A.out.x -> C.in.y"

    def test_request_for_missing_node_quotes_the_node(self):
        net = small_net()
        info = self.fail_with(net, z.NetAction.create_request("Ghost", "l"))
        assert info.type is z.RequestNodeNotFoundError
        assert str(info.value) == "Request targets non-existent node 'Ghost'"
