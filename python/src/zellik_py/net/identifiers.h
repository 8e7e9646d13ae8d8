#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <string_view>

#include "zellik/net/ulid.h"
#include "zellik_py/binding/ref.h"

namespace zellik::py {

// Packet and epoch identifiers at the boundary. They come in as text or as
// ulid.ULID objects and go out as 26-character str or as ulid.ULID objects.

// Parses identifier text; ValueError "Invalid ULID: {reason}" when it is not one.
Ulid parse_identifier(std::string_view text);

// The identifier rule: a str is parsed as it is; an object whose class is
// exactly ulid.ULID is read from its 16 bytes (the value its str() spells);
// anything else but None goes through str(obj) and is parsed. None is no
// identifier: TypeError "argument '{arg}': expected str or ULID, got NoneType".
Ulid identifier_arg(PyObject* obj, const char* arg);

// The identifier text the argument `arg` stands for, unchecked: a str as it
// is, a ulid.ULID spelled from its bytes, anything else but None as str(obj).
std::string identifier_text(PyObject* obj, const char* arg);

// For identifiers documented as a str (the ids of Salvo and of the response
// data classes): a str or a ulid.ULID object passes, anything else raises
// TypeError "argument '{arg}': expected str, got {type}" before any parsing.
void check_identifier_type(PyObject* obj, const char* arg);

// The 26-character text of an id, as a str.
Ref id_to_py(const Ulid& id);

// Makes ulid.ULID objects from ids, built from their 16 bytes. Made once per
// call: it looks the "ulid" module up then (importing it if it is not loaded
// yet, so a missing package fails that call with the import error) and keeps
// its class for every id of the call.
class UlidFactory {
 public:
  UlidFactory();
  UlidFactory(const UlidFactory&) = delete;
  UlidFactory& operator=(const UlidFactory&) = delete;

  Ref make(const Ulid& id) const;

 private:
  Ref class_;
  newfunc new_ = nullptr;  // the class's plain object allocation, when it has one
};

}  // namespace zellik::py
