#include "graph/internal_failure.h"
#include "net/net_sim.h"

namespace zellik {

NetActionResponse NetSim::create_request(const action::CreateRequest&) { fail("requests not built yet"); }
void NetSim::emit_startup_requests(EventList&) { fail("requests not built yet"); }
void NetSim::emit_no_salvo_requests(const std::vector<const Node*>&, const NameSet&, EventList&) {
  fail("requests not built yet");
}
Result<bool, NetActionError> NetSim::resolve_pending_requests(EventList&) { fail("requests not built yet"); }
void NetSim::set_request_token(std::string_view, bool) {}

}  // namespace zellik
