#include "zellik_py/net/net_hold.h"

#include "zellik_py/net/net_classes.h"

namespace zellik::py {

Ref with_net(PyObject* self, const std::function<Ref(const NetSim&)>& use) {
  Hold hold(value_of(self), Use::Shared);
  return use(hold.net());
}

Ref with_net_exclusive(PyObject* obj, const char* arg, const std::function<Ref(NetSim&)>& use) {
  Hold hold(arg_of<NetSimValue>(obj, arg), Use::Exclusive);
  return use(hold.net());
}

}  // namespace zellik::py
