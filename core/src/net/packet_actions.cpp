#include "graph/internal_failure.h"
#include "net/net_sim.h"

namespace zellik {

NetActionResponse NetSim::create_packet(const action::CreatePacket&) { fail("packet actions not built yet"); }
NetActionResponse NetSim::remove_packet(const Ulid&, bool) { fail("packet actions not built yet"); }
NetActionResponse NetSim::load_packet_into_output_port(const action::LoadPacketIntoOutputPort&) {
  fail("packet actions not built yet");
}
NetActionResponse NetSim::send_output_salvo(const action::SendOutputSalvo&) { fail("packet actions not built yet"); }
NetActionResponse NetSim::transport_packet_to_location(const action::TransportPacketToLocation&) {
  fail("packet actions not built yet");
}

}  // namespace zellik
