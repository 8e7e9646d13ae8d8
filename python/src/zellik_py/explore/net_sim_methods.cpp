// The methods the explorer adds to NetSim, given to the net layer when the
// module defines NetSim (module/module.cpp): the net layer knows nothing of
// the explorer.

#include <span>

#include "zellik_py/explore/explore_classes.h"

namespace zellik::py {

std::span<const PyMethodDef> explorer_net_sim_methods() {
  static const PyMethodDef kMethods[] = {
      {"fingerprint", as_method(&net_fingerprint), METH_NOARGS, kNetFingerprintDoc},
      {"explore", as_method(&net_explore), kFastMethod, kNetExploreDoc},
  };
  return kMethods;
}

}  // namespace zellik::py
