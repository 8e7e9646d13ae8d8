// TerminalState and ExplorationResult as plain dicts, and back.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "zellik_py/binding/field_dicts.h"
#include "zellik_py/explore/explore_classes.h"
#include "zellik_py/explore/result_forms.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/net_dicts.h"

namespace zellik::py {

using explore::ExplorationResult;
using explore::RecordedAction;
using explore::StopReason;
using explore::TerminalKind;
using explore::TerminalState;

namespace {

// The number of `text` among `names`; ValueError "unknown {what} '{text}'"
// at `path` for none of them.
template <class E>
E named(std::span<const char* const> names, const std::string& text, const char* what,
        const std::string& path) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] != nullptr && text == names[i]) return static_cast<E>(i);
  }
  raise_field(path, std::string("unknown ") + what + " '" + text + "'");
}

// --- Fingerprints: 32 hex digits, high word first ---------------------------------

std::string fingerprint_hex(const Fingerprint& f) {
  char text[33];
  std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(f.hi),
                static_cast<unsigned long long>(f.lo));
  return text;
}

Fingerprint fingerprint_from_hex(const std::string& text, const std::string& path) {
  auto word = [&](std::size_t from) {
    std::uint64_t w = 0;
    for (std::size_t i = from; i < from + 16; ++i) {
      const char c = text[i];
      unsigned digit = 0;
      if (c >= '0' && c <= '9') {
        digit = static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        digit = static_cast<unsigned>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        digit = static_cast<unsigned>(c - 'A' + 10);
      } else {
        raise_field(path, "expected 32 hex digits");
      }
      w = (w << 4) | digit;
    }
    return w;
  };
  if (text.size() != 32) raise_field(path, "expected 32 hex digits");
  Fingerprint f;
  f.hi = word(0);
  f.lo = word(16);
  return f;
}

// --- Pairs, written as two-item lists ---------------------------------------------

Ref pair_list(Ref first, Ref second) {
  Ref pair = own(PyList_New(2));
  PyList_SetItem(pair.get(), 0, first.release());  // steals
  PyList_SetItem(pair.get(), 1, second.release());
  return pair;
}

// The two items of a pair at `path`; ValueError "expected {shape}" otherwise.
std::pair<PyObject*, PyObject*> pair_at(PyObject* obj, const std::string& path, const char* shape) {
  if (!PyList_Check(obj) || PyList_Size(obj) != 2)
    raise_field(path, std::string("expected ") + shape);
  return {PyList_GetItem(obj, 0), PyList_GetItem(obj, 1)};
}

std::uint64_t count_at(PyObject* obj, const std::string& path) {
  if (!PyLong_Check(obj) || PyBool_Check(obj)) raise_field(path, "expected int");
  const unsigned long long n = PyLong_AsUnsignedLongLong(obj);
  if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    PyErr_Clear();
    raise_field(path, "out of range");
  }
  return n;
}

// --- The member types of the results, written and read (field_dicts.h) ------------

struct ResultDict {};

Ref dict_value(ResultDict, std::uint64_t n) { return to_py_u64(n); }
Ref dict_value(ResultDict, bool b) { return to_py_bool(b); }
Ref dict_value(ResultDict, const std::string& text) { return to_py(text); }
Ref dict_value(ResultDict, const std::optional<std::string>& text) {
  return text ? to_py(*text) : none();
}
Ref dict_value(ResultDict, const std::optional<std::uint64_t>& n) {
  return n ? to_py_u64(*n) : none();
}
Ref dict_value(ResultDict, TerminalKind kind) {
  return to_py(terminal_kind_names()[static_cast<std::size_t>(kind)]);
}
Ref dict_value(ResultDict, StopReason reason) {
  const char* name = stop_reason_names()[static_cast<std::size_t>(reason)];
  return name == nullptr ? none() : to_py(name);
}
Ref dict_value(ResultDict, const Fingerprint& f) { return to_py(fingerprint_hex(f)); }
Ref dict_value(ResultDict, const std::vector<std::pair<PacketLocation, std::uint64_t>>& waiting) {
  return list_of(waiting, [](const std::pair<PacketLocation, std::uint64_t>& w) {
    return pair_list(location_to_dict(w.first), to_py_u64(w.second));
  });
}
Ref dict_value(ResultDict, const std::vector<std::pair<Name, Name>>& blocked) {
  return list_of(blocked, [](const std::pair<Name, Name>& c) {
    return pair_list(to_py(c.first), to_py(c.second));
  });
}
Ref dict_value(ResultDict, const std::vector<RecordedAction>& run) {
  return list_of(run, recorded_action_to_dict);
}
Ref dict_value(ResultDict, const std::vector<TerminalState>& terminals) {
  return list_of(terminals, terminal_to_dict);
}

void read(ResultDict, DictReader& d, const char* key, std::uint64_t& out) { out = d.u64(key); }
void read(ResultDict, DictReader& d, const char* key, bool& out) { out = d.boolean(key); }
void read(ResultDict, DictReader& d, const char* key, std::string& out) { out = d.text(key); }
void read(ResultDict, DictReader& d, const char* key, std::optional<std::string>& out) {
  out = d.optional_text(key);
}
void read(ResultDict, DictReader& d, const char* key, std::optional<std::uint64_t>& out) {
  if (d.field(key) != Py_None) out = d.u64(key);
}
void read(ResultDict, DictReader& d, const char* key, TerminalKind& out) {
  out = named<TerminalKind>(terminal_kind_names(), d.text(key), "terminal kind", d.path_of(key));
}
void read(ResultDict, DictReader& d, const char* key, StopReason& out) {
  if (const auto stopped = d.optional_text(key)) {
    out = named<StopReason>(stop_reason_names(), *stopped, "stop reason", d.path_of(key));
  }
}
void read(ResultDict, DictReader& d, const char* key, Fingerprint& out) {
  out = fingerprint_from_hex(d.text(key), d.path_of(key));
}
void read(ResultDict, DictReader& d, const char* key,
          std::vector<std::pair<PacketLocation, std::uint64_t>>& out) {
  const std::vector<PyObject*> waiting = d.list(key);
  for (std::size_t i = 0; i < waiting.size(); ++i) {
    const std::string at = item_path(d.path_of(key), i);
    const auto [location, count] = pair_at(waiting[i], at, "[location, count]");
    out.emplace_back(location_from_dict(location, at + "[0]"), count_at(count, at + "[1]"));
  }
}
void read(ResultDict, DictReader& d, const char* key, std::vector<std::pair<Name, Name>>& out) {
  const std::vector<PyObject*> blocked = d.list(key);
  for (std::size_t i = 0; i < blocked.size(); ++i) {
    const std::string at = item_path(d.path_of(key), i);
    const auto [node, condition] = pair_at(blocked[i], at, "[node, condition]");
    out.emplace_back(Name(text_at(node, at + "[0]")), Name(text_at(condition, at + "[1]")));
  }
}
void read(ResultDict, DictReader& d, const char* key, std::vector<RecordedAction>& out) {
  const std::vector<PyObject*> run = d.list(key);
  for (std::size_t i = 0; i < run.size(); ++i) {
    out.push_back(recorded_action_from_dict(run[i], item_path(d.path_of(key), i)));
  }
}
void read(ResultDict, DictReader& d, const char* key, std::vector<TerminalState>& out) {
  const std::vector<PyObject*> terminals = d.list(key);
  for (std::size_t i = 0; i < terminals.size(); ++i) {
    out.push_back(terminal_from_dict(terminals[i], item_path(d.path_of(key), i)));
  }
}

}  // namespace

Ref terminal_to_dict(const TerminalState& t) { return fields_to_dict(ResultDict{}, t); }

TerminalState terminal_from_dict(PyObject* obj, const std::string& path) {
  return fields_from_dict<TerminalState>(ResultDict{}, obj, path);
}

Ref result_to_dict(const ExplorationResult& r) { return fields_to_dict(ResultDict{}, r); }

ExplorationResult result_from_dict(PyObject* obj, const std::string& path) {
  return fields_from_dict<ExplorationResult>(ResultDict{}, obj, path);
}

}  // namespace zellik::py
