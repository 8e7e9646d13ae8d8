#include "graph/internal_failure.h"
#include "net/net_sim.h"

namespace zellik {

Result<Unit, UndoError> NetSim::undo_action(const NetAction&, const EventList&) { fail("undo not built yet"); }
Result<Unit, UndoError> NetSim::undo_event(const NetAction&, const NetEvent&) { fail("undo not built yet"); }
Result<Unit, UndoError> NetSim::recreate_packet(const Ulid&, const PacketLocation&) { fail("undo not built yet"); }

}  // namespace zellik
