#pragma once

// The plain-dict form of a graph (binding/plain_dict.h), which a JSON file
// holds: nodes with their ports and salvo conditions, edges and dependency
// edges. A limit is null when there is none (every packet, an unbounded
// port, any number of salvos) and its number otherwise; a kind is named as
// the classes name it ("Port", "NonEmpty", "OnStartup").
//
// Reading is strict: a missing, unexpected or malformed field raises
// ValueError "invalid field '{path}': {reason}", the path naming the field
// from the top of the dict given ("nodes[2].in_ports.a.capacity"). The
// fields a constructor takes as optional may be left out.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "zellik/base/kind_table.h"
#include "zellik/graph/graph.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/plain_dict.h"
#include "zellik_py/binding/ref.h"

namespace zellik::py {

Ref graph_to_dict(const Graph& graph);
Graph graph_from_dict(PyObject* obj);

// A salvo condition's term, with the port states it tests, as its plain dict
// and back (term_dicts.cpp): {"kind": "And", "terms": [...]}, {"kind":
// "Port", "port_name": ..., "state": {"kind": "Equals", "value": 2}}.
Ref term_to_dict(const SalvoConditionTerm& term);
SalvoConditionTerm term_from_dict(PyObject* obj, const std::string& path);

// --- The pieces both files write and read fields with ------------------------

// The dict value of a kind: its name in `rows`.
template <class E, std::size_t N>
Ref name_of(const KindName<E> (&rows)[N], E kind) {
  return to_py(row_of(rows, kind).name);
}

// A graph name at `path`; ValueError "expected str", or the name's own
// refusal, otherwise.
Name name_at(PyObject* obj, const std::string& path);
// An int from 0 to 2**64-1 at `path`; ValueError `expected` for anything but
// an int.
std::uint64_t count_at(PyObject* obj, const std::string& path, const char* expected);
// The kind named by the str at `key`; ValueError "unknown {what} '{text}'
// (one of ...)" for a name no row has.
template <class E, std::size_t N>
E kind_at(const KindName<E> (&rows)[N], DictReader& d, const char* key, const char* what) {
  const std::string text = d.text(key);
  for (const KindName<E>& row : rows) {
    if (text == row.name) return row.kind;
  }
  std::string known;
  for (const KindName<E>& row : rows) known += (known.empty() ? "" : ", ") + std::string(row.name);
  raise_field(d.path_of(key),
              "unknown " + std::string(what) + " '" + text + "' (one of " + known + ")");
}

}  // namespace zellik::py
