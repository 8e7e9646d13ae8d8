#include "zellik_py/module/registration.h"
#include "zellik_py/net/net_classes.h"

namespace zellik::py {

void register_net_classes(PyObject* module) {
  define_packet_location(module);
  define_epoch_state(module);
  define_packet(module);
  define_salvo(module);
  define_orphaned_packet_info(module);
  define_epoch(module);
  define_net_action(module);
  define_net_event(module);
  define_response_data(module);
  define_net_sim(module);
  define_record_functions(module);
}

}  // namespace zellik::py
