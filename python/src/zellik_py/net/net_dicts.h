#pragma once

// The plain-dict forms of the net's values (binding/plain_dict.h): a
// location, a salvo, an epoch.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>

#include "zellik/net/epoch.h"
#include "zellik/net/packet_location.h"
#include "zellik_py/binding/plain_dict.h"
#include "zellik_py/binding/ref.h"
#include "zellik_py/net/net_convert.h"

namespace zellik::py {

Ref location_to_dict(const PacketLocation& location);
PacketLocation location_from_dict(PyObject* obj, const std::string& path);
Ref salvo_to_dict(const SalvoText& salvo);
// The packet ids stay text, as a Salvo built by hand keeps them.
SalvoText salvo_from_dict(PyObject* obj, const std::string& path);
Ref epoch_to_dict(const Epoch& epoch);
Epoch epoch_from_dict(PyObject* obj, const std::string& path);

}  // namespace zellik::py
