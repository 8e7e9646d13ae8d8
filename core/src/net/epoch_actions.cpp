#include "graph/internal_failure.h"
#include "net/net_sim.h"

namespace zellik {

NetActionResponse NetSim::create_epoch(const action::CreateEpoch&) { fail("epoch actions not built yet"); }
NetActionResponse NetSim::start_epoch(const action::StartEpoch&) { fail("epoch actions not built yet"); }
NetActionResponse NetSim::finish_epoch(const action::FinishEpoch&) { fail("epoch actions not built yet"); }
NetActionResponse NetSim::cancel_epoch(const action::CancelEpoch&) { fail("epoch actions not built yet"); }

}  // namespace zellik
