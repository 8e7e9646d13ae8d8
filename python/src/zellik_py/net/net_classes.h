#pragma once

#include <functional>

#include "zellik/net/net_sim.h"
#include "zellik_py/binding/class_file.h"

namespace zellik::py {

// The conversions of the net classes are in net_convert.h, identifiers in
// identifiers.h.

// Calls `use` with the engine of a NetSim object, held shared meanwhile: how
// the methods other layers add to NetSim reach it (net_sim.cpp).
Ref with_net(PyObject* self, const std::function<Ref(const NetSim&)>& use);
// Calls `use` with the engine of the NetSim object `obj`, the argument
// named `arg` (TypeError for any other object), held exclusively meanwhile.
Ref with_net_exclusive(PyObject* obj, const char* arg, const std::function<Ref(NetSim&)>& use);

}  // namespace zellik::py
