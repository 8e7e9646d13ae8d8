#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zellik_py/binding/boxed.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/guard.h"
#include "zellik_py/binding/methods.h"
#include "zellik_py/binding/ref.h"
#include "zellik/base/name.h"
#include "zellik/net/epoch.h"
#include "zellik/net/net_action.h"
#include "zellik/net/net_action_response.h"
#include "zellik/net/net_event.h"
#include "zellik/net/packet_location.h"
#include "zellik/net/ulid.h"

namespace zellik::py {

// The net classes, each defined by the file of its class (or small family)
// and added to the module by register_net_classes in the module's order.
void define_packet_location(PyObject* module);
void define_epoch_state(PyObject* module);
void define_packet(PyObject* module);
void define_salvo(PyObject* module);
void define_orphaned_packet_info(PyObject* module);
void define_epoch(PyObject* module);
void define_net_action(PyObject* module);
void define_net_event(PyObject* module);
void define_response_data(PyObject* module);
void define_net_sim(PyObject* module);

// --- Identifiers (identifiers.cpp) ------------------------------------------

// Parses identifier text; ValueError "Invalid ULID: {reason}" when it is not one.
Ulid parse_identifier(std::string_view text);
// The identifier rule: a str as it is, anything else through str(obj), then
// parsed as above.
Ulid identifier_arg(PyObject* obj);
// The 26-character text of an id, as a str.
Ref id_to_py(const Ulid& id);

// Makes ulid.ULID objects. Imports the "ulid" module by name when made, so a
// missing package fails the call that needs it (with the import error).
class UlidFactory {
 public:
  UlidFactory();
  Ref make(const Ulid& id) const;

 private:
  Ref from_str_;
};

// --- Values held by the Python objects --------------------------------------

// A Salvo as Python code builds it: the packet ids are kept as the text that
// was given and are parsed only when the salvo reaches the engine.
// Intentionally copyable.
struct SalvoText {
  Name salvo_condition;
  std::vector<std::pair<Name, std::string>> packets;  // (port name, packet id text)

  static SalvoText of(const Salvo& salvo);
  // The engine's record; ValueError for a malformed id.
  Salvo resolve() const;
};

// --- Engine values to Python objects (fresh objects on every call) ----------

Ref location_to_py(const PacketLocation& location);
Ref epoch_state_to_py(EpochState state);
Ref packet_to_py(const Packet& packet);
Ref salvo_to_py(const SalvoText& salvo);
Ref orphaned_packet_to_py(const OrphanedPacketInfo& info);
Ref epoch_to_py(const Epoch& epoch);
Ref event_to_py(const NetEvent& event);
Ref events_to_py(const EventList& events);
Ref response_data_to_py(const NetActionResponseData& data);

// Python arguments to engine values; TypeError "argument '{arg}': ..." for an
// object of another class. References point into `obj`.
const PacketLocation& location_arg(PyObject* obj, const char* arg);
const Epoch& epoch_arg(PyObject* obj, const char* arg);
const SalvoText& salvo_arg(PyObject* obj, const char* arg);
// Whether `obj` is a NetAction (checked before any argument is converted).
bool is_net_action(PyObject* obj);
// The engine's action for a NetAction object: its id texts are parsed here
// (ValueError "Invalid ULID: ..." for the first malformed one).
NetAction action_arg(PyObject* obj, const char* arg);
// A copy of the engine's event embedded in a NetEvent object.
NetEvent event_arg(PyObject* obj, const char* arg);

// The repr of a location, as every repr that shows one writes it.
std::string location_repr(const PacketLocation& location);
std::string epoch_repr(const Epoch& epoch);

// --- Text helpers shared by the net reprs ------------------------------------

// "'{text}'": how reprs show identifier text.
inline std::string single_quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '\'';
  out += text;
  out += '\'';
  return out;
}

}  // namespace zellik::py
