// The methods the explorer adds to NetSim, given to the net layer when the
// module defines NetSim (module/module.cpp): the net layer knows nothing of
// the explorer.

#include <span>

#include "zellik_py/explore/explore_classes.h"

namespace zellik::py {

std::span<const PyMethodDef> explorer_net_sim_methods() {
  static const PyMethodDef kMethods[] = {
      method_def("fingerprint", &net_fingerprint, kNetFingerprintDoc),
      method_def("explore", &net_explore, kNetExploreDoc),
      method_def("execute", &net_execute, kNetExecuteDoc),
      method_def("do_actions", &net_do_actions, kNetDoActionsDoc),
  };
  return kMethods;
}

}  // namespace zellik::py
