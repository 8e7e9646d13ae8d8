#pragma once

// The Python forms of one field of a record, one overload per member type:
// what its object is (getters, constructor arguments), what its plain-dict
// value is and how it is read back, and how a repr shows it. NetEvent and
// NetAction walk their records' field lists (zellik/base/fields.h) through
// these, so a member type is taught to Python once, here.
//
// Ids come two ways: as the engine's Ulid (events), and as the text a caller
// gave (actions keep ids unchecked until they reach the engine).

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zellik/base/heap_value.h"
#include "zellik/base/name.h"
#include "zellik/net/epoch.h"
#include "zellik/net/net_event.h"
#include "zellik/net/packet_location.h"
#include "zellik/net/ulid.h"
#include "zellik_py/binding/ref.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/net_dicts.h"

namespace zellik::py::fields {

Ref object(bool b);
Ref object(const Ulid& id);
Ref object(const std::vector<Ulid>& ids);
Ref object(const Epoch& epoch);
Ref object(const std::string& id_text);
Ref object(const Name& name);
Ref object(const PacketLocation& location);
Ref object(const HeapValue<Epoch>& epoch);
Ref object(const SalvoText& salvo);
Ref object(std::uint64_t n);
Ref object(const std::vector<Name>& names);
Ref object(RequestCreatedSource source);

// The plain-dict value of a field: a record held in it as its dict, an id
// that may be absent as text or None...
Ref dict_value(const Epoch& epoch);
Ref dict_value(const HeapValue<Epoch>& epoch);
Ref dict_value(const PacketLocation& location);
Ref dict_value(const SalvoText& salvo);
Ref dict_value(const std::optional<std::string>& id_text);
// ...and any other field's is its object (str, int, bool or a list of them).
template <class V>
requires requires(const V& v) { object(v); }
Ref dict_value(const V& value) { return object(value); }

// Reads d[key] into `out`; ValueError naming the field for a malformed value.
void read(DictReader& d, const char* key, Ulid& out);
void read(DictReader& d, const char* key, std::string& id_text);
void read(DictReader& d, const char* key, std::optional<std::string>& id_text);
void read(DictReader& d, const char* key, Name& out);
void read(DictReader& d, const char* key, PacketLocation& out);
void read(DictReader& d, const char* key, HeapValue<Epoch>& out);
void read(DictReader& d, const char* key, SalvoText& out);
void read(DictReader& d, const char* key, std::uint64_t& out);
void read(DictReader& d, const char* key, std::vector<Name>& out);
void read(DictReader& d, const char* key, RequestCreatedSource& out);

// Reads the argument `arg` of a NetAction constructor into `out`: an id as
// the text it stands for, unchecked (identifiers.h); a name as str, a salvo
// or location as an object of its class, TypeError naming the argument
// otherwise.
void read_arg(PyObject* obj, const char* arg, std::string& id_text);
void read_arg(PyObject* obj, const char* arg, std::optional<std::string>& id_text);
void read_arg(PyObject* obj, const char* arg, Name& out);
void read_arg(PyObject* obj, const char* arg, SalvoText& out);
void read_arg(PyObject* obj, const char* arg, PacketLocation& out);
// And of a response data class: ids checked to be str or ulid.ULID first.
void read_arg(PyObject* obj, const char* arg, bool& out);
void read_arg(PyObject* obj, const char* arg, Ulid& out);
void read_arg(PyObject* obj, const char* arg, std::vector<Ulid>& out);
void read_arg(PyObject* obj, const char* arg, Epoch& out);

// Ids single-quoted, names double-quoted, a salvo as "...".
std::string repr(bool b);
std::string repr(const Ulid& id);
std::string repr(const std::vector<Ulid>& ids);
std::string repr(const Epoch& epoch);
std::string repr(const std::string& id_text);
std::string repr(const Name& name);
std::string repr(const PacketLocation& location);
std::string repr(const HeapValue<Epoch>& epoch);
std::string repr(const SalvoText& salvo);
std::string repr(std::uint64_t n);
std::string repr(const std::vector<Name>& names);
std::string repr(RequestCreatedSource source);

}  // namespace zellik::py::fields
