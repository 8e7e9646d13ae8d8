#pragma once

// The forms of the net's member types in a record class
// (binding/record_class.h), beside the graph's (graph/graph_forms.h): ids,
// locations, salvos and epoch states, and the lists of pairs records hold.
// Most are the forms the net's events and actions use (field_forms.h).

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "zellik/base/name.h"
#include "zellik/net/epoch.h"
#include "zellik/net/packet_location.h"
#include "zellik/net/ulid.h"
#include "zellik_py/binding/record_class.h"
#include "zellik_py/binding/ref.h"
#include "zellik_py/graph/graph_forms.h"
#include "zellik_py/net/field_forms.h"
#include "zellik_py/net/net_convert.h"

namespace zellik::py::record_fields {

inline Ref object(Form, const Ulid& id) { return fields::object(id); }
inline std::string repr(Form, const Ulid& id) { return fields::repr(id); }

inline Ref object(Form, const PacketLocation& location) { return fields::object(location); }
inline Ref dict_value(Form, const PacketLocation& location) { return fields::dict_value(location); }
inline std::string repr(Form, const PacketLocation& location) { return fields::repr(location); }
// An object of its class, or its dict in a dict given to from_dict.
void read(const Source& s, PacketLocation& out);

// A salvo held in a record is a Salvo object, whose class holds its ids as
// text (SalvoText).
inline Ref object(Form, const Salvo& salvo) { return salvo_to_py(SalvoText::of(salvo)); }
inline Ref object(Form, EpochState state) { return epoch_state_to_py(state); }
// "EpochState.Running", the repr of the member.
inline std::string repr(Form, EpochState state) {
  return "EpochState." + std::string(row_of(kEpochStateNames, state).name);
}
// A salvo's packets: (port name, packet id text) tuples.
Ref object(Form, const std::vector<std::pair<Name, std::string>>& packets);
std::string repr(Form, const std::vector<std::pair<Name, std::string>>& packets);

// Counts by name, in order: a dict in objects, "{'a': 1, ...}" in a repr.
Ref object(Form, const std::vector<std::pair<Name, std::uint64_t>>& counts);
std::string repr(Form, const std::vector<std::pair<Name, std::uint64_t>>& counts);

inline Ref object(Form, const std::vector<Name>& names) { return fields::object(names); }
inline std::string repr(Form, const std::vector<Name>& names) { return fields::repr(names); }

}  // namespace zellik::py::record_fields
