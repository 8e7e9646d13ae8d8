#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "zellik/base/fields.h"
#include "zellik/base/name.h"
#include "zellik/net/epoch.h"
#include "zellik/net/net_action.h"
#include "zellik/net/net_action_response.h"
#include "zellik/net/net_event.h"
#include "zellik/net/packet_location.h"
#include "zellik/net/ulid.h"
#include "zellik_py/binding/ref.h"

namespace zellik {
class NetSim;
}  // namespace zellik

namespace zellik::py {

// Conversions between the engine's records and the Python net classes, for
// every class of the module that takes or hands out net values.
//
// The *_to_py functions return a new Python object holding a copy of the
// value. The *_arg functions accept an object of the matching class and raise
// TypeError "argument '{arg}': expected {Class}, got {type}" (throwing
// PythonError) for anything else; a returned reference points into `obj`, so
// it lives as long as the caller keeps `obj`.

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
constexpr auto fields_of(std::type_identity<SalvoText>) {
  return std::tuple{field("salvo_condition", &SalvoText::salvo_condition),
                    field("packets", &SalvoText::packets)};
}
static_assert(lists_every_member<SalvoText>());

Ref location_to_py(const PacketLocation& location);
Ref epoch_state_to_py(EpochState state);
Ref packet_to_py(const Packet& packet);
Ref salvo_to_py(const SalvoText& salvo);
Ref orphaned_packet_to_py(const OrphanedPacketInfo& info);
Ref epoch_to_py(const Epoch& epoch);
Ref event_to_py(const NetEvent& event);
// Moves the engine's event into a new object.
Ref event_to_py(NetEvent&& event);
Ref events_to_py(const EventList& events);
// A new list of objects the events are moved into.
Ref events_to_py(EventList&& events);
// Moves each of `events` into a new object appended to `list`; the moved-from
// events stay for the caller to clear.
void append_events(PyObject* list, EventList& events);
Ref response_data_to_py(const NetActionResponseData& data);

// Refuses with ValueError naming `arg` of `function`, before anything is
// made, a call that would make `count` new packets when the net's packet
// table has no rows left for them: more could never be placed, and a place
// without a capacity would take packets until the memory ran out
// (net_sim_rounds.cpp).
void check_packet_room(const NetSim& net, std::uint64_t count, const char* function,
                       const char* arg);

const PacketLocation& location_arg(PyObject* obj, const char* arg);
const Epoch& epoch_arg(PyObject* obj, const char* arg);
const SalvoText& salvo_arg(PyObject* obj, const char* arg);
// Whether `obj` is a NetAction (checked before any argument is converted).
bool is_net_action(PyObject* obj);
// The engine's action for a NetAction object: its id texts are parsed here
// (ValueError "Invalid ULID: ..." for the first malformed one).
NetAction action_arg(PyObject* obj, const char* arg);
// A NetAction object for an action the engine holds (ids as their text).
Ref engine_action_to_py(const NetAction& action);
// A copy of the engine's event embedded in a NetEvent object.
NetEvent event_arg(PyObject* obj, const char* arg);

// The repr of a location, as every repr that shows one writes it.
std::string location_repr(const PacketLocation& location);
std::string epoch_repr(const Epoch& epoch);

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
