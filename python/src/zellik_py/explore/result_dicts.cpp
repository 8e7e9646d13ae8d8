// TerminalState and ExplorationResult as plain dicts, and back.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "zellik_py/explore/explore_classes.h"
#include "zellik_py/explore/result_forms.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/net_dicts.h"

namespace zellik::py {

using explore::ExplorationResult;
using explore::TerminalState;

namespace {

std::string item_path(const std::string& list_path, std::size_t i) {
  return list_path + "[" + std::to_string(i) + "]";
}

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

}  // namespace

// --- TerminalState ------------------------------------------------------------------

Ref terminal_to_dict(const TerminalState& t) {
  Ref waiting = list_of(t.waiting, [](const std::pair<PacketLocation, std::uint64_t>& w) {
    return pair_list(location_to_dict(w.first), to_py_u64(w.second));
  });
  Ref blocked = list_of(t.blocked_conditions, [](const std::pair<Name, Name>& c) {
    return pair_list(to_py(c.first), to_py(c.second));
  });
  return DictWriter()
      .set("kind", to_py(terminal_kind_names()[static_cast<std::size_t>(t.kind)]))
      .set("fingerprint", to_py(fingerprint_hex(t.fingerprint)))
      .set("depth", to_py_u64(t.depth))
      .set("packets", to_py_u64(t.packets))
      .set("waiting", std::move(waiting))
      .set("blocked_conditions", std::move(blocked))
      .set("failure", t.failure.empty() ? none() : to_py(t.failure))
      .set("seed", t.seed ? to_py_u64(*t.seed) : none())
      .set("run", list_of(t.run, recorded_action_to_dict))
      .set("dot", to_py(t.dot))
      .done();
}

TerminalState terminal_from_dict(PyObject* obj, const std::string& path) {
  DictReader d(obj, path);
  TerminalState t;
  t.kind = named<explore::TerminalKind>(terminal_kind_names(), d.text("kind"), "terminal kind",
                                        d.path_of("kind"));
  t.fingerprint = fingerprint_from_hex(d.text("fingerprint"), d.path_of("fingerprint"));
  t.depth = d.u64("depth");
  t.packets = d.u64("packets");
  const std::vector<PyObject*> waiting = d.list("waiting");
  for (std::size_t i = 0; i < waiting.size(); ++i) {
    const std::string at = item_path(d.path_of("waiting"), i);
    const auto [location, count] = pair_at(waiting[i], at, "[location, count]");
    t.waiting.emplace_back(location_from_dict(location, at + "[0]"), count_at(count, at + "[1]"));
  }
  const std::vector<PyObject*> blocked = d.list("blocked_conditions");
  for (std::size_t i = 0; i < blocked.size(); ++i) {
    const std::string at = item_path(d.path_of("blocked_conditions"), i);
    const auto [node, condition] = pair_at(blocked[i], at, "[node, condition]");
    t.blocked_conditions.emplace_back(Name(text_at(node, at + "[0]")),
                                      Name(text_at(condition, at + "[1]")));
  }
  t.failure = d.optional_text("failure").value_or(std::string());
  if (d.field("seed") != Py_None) t.seed = d.u64("seed");
  const std::vector<PyObject*> run = d.list("run");
  for (std::size_t i = 0; i < run.size(); ++i) {
    t.run.push_back(recorded_action_from_dict(run[i], item_path(d.path_of("run"), i)));
  }
  t.dot = d.text("dot");
  d.finish();
  return t;
}

// --- ExplorationResult --------------------------------------------------------------

Ref result_to_dict(const ExplorationResult& r) {
  const char* stopped = stop_reason_names()[static_cast<std::size_t>(r.stopped)];
  return DictWriter()
      .set("states", to_py_u64(r.states))
      .set("transitions", to_py_u64(r.transitions))
      .set("max_depth", to_py_u64(r.max_depth))
      .set("finished", to_py_bool(r.finished))
      .set("stopped", stopped == nullptr ? none() : to_py(stopped))
      .set("terminals", list_of(r.terminals, terminal_to_dict))
      .set("visited_bytes", to_py_u64(r.visited_bytes))
      .done();
}

ExplorationResult result_from_dict(PyObject* obj, const std::string& path) {
  DictReader d(obj, path);
  ExplorationResult r;
  r.states = d.u64("states");
  r.transitions = d.u64("transitions");
  r.max_depth = d.u64("max_depth");
  r.finished = d.boolean("finished");
  if (const auto stopped = d.optional_text("stopped")) {
    r.stopped = named<explore::StopReason>(stop_reason_names(), *stopped, "stop reason",
                                           d.path_of("stopped"));
  }
  const std::vector<PyObject*> terminals = d.list("terminals");
  for (std::size_t i = 0; i < terminals.size(); ++i) {
    r.terminals.push_back(terminal_from_dict(terminals[i], item_path(d.path_of("terminals"), i)));
  }
  r.visited_bytes = d.u64("visited_bytes");
  d.finish();
  return r;
}

}  // namespace zellik::py
