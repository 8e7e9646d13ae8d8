#pragma once

#include <functional>
#include <span>

#include "zellik/net/net_sim.h"
#include "zellik_py/binding/class_file.h"

namespace zellik::py {

// The net classes, each added to `module` by its own file, in the order the
// module lists them (module.cpp). NetSim takes the methods the layers above
// add to it.
void define_packet_location(PyObject* module);
void define_epoch_state(PyObject* module);
void define_packet(PyObject* module);
void define_salvo(PyObject* module);
void define_orphaned_packet_info(PyObject* module);
void define_epoch(PyObject* module);
void define_net_action(PyObject* module);
void define_net_event(PyObject* module);
void define_response_data(PyObject* module);
void define_net_sim(PyObject* module, std::span<const PyMethodDef> more_methods);
// The module-level function that rebuilds engine records from their pickled
// bytes (records.cpp).
void define_record_functions(PyObject* module);

// The conversions of the net classes are in net_convert.h, identifiers in
// identifiers.h.

// Calls `use` with the engine of a NetSim object, held shared meanwhile: how
// the methods other layers add to NetSim reach it (net_hold.cpp).
Ref with_net(PyObject* self, const std::function<Ref(const NetSim&)>& use);
// Calls `use` with the engine of the NetSim object `obj`, the argument
// named `arg` (TypeError for any other object), held exclusively meanwhile.
Ref with_net_exclusive(PyObject* obj, const char* arg, const std::function<Ref(NetSim&)>& use);

}  // namespace zellik::py
