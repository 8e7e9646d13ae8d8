#include "graph/internal_failure.h"
#include "net/net_sim.h"

namespace zellik {

NetActionResponse NetSim::run_step() { fail("run step not built yet"); }
bool NetSim::try_trigger_input_salvo(const Node&, EventList&) { fail("run step not built yet"); }
bool NetSim::any_input_condition_holds(const Node&) const { fail("run step not built yet"); }
bool NetSim::is_blocked() const { fail("run step not built yet"); }
EventList NetSim::run_until_blocked() { fail("run step not built yet"); }

}  // namespace zellik
