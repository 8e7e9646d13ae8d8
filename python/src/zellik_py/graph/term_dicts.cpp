// A salvo condition's term and the port states it tests, written and read
// as plain dicts (graph_dicts.h). A term is a tree: both walks are recursive,
// each level guarded by the interpreter's recursion limit.

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "zellik/base/kind_table.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/guard.h"
#include "zellik_py/binding/plain_dict.h"
#include "zellik_py/graph/graph_dicts.h"

namespace zellik::py {
namespace {

using Term = SalvoConditionTerm;
using StateKind = PortState::Kind;

constexpr KindName<StateKind> kStateNames[] = {
    {StateKind::Empty, "Empty"},
    {StateKind::Full, "Full"},
    {StateKind::NonEmpty, "NonEmpty"},
    {StateKind::NonFull, "NonFull"},
    {StateKind::Equals, "Equals"},
    {StateKind::LessThan, "LessThan"},
    {StateKind::GreaterThan, "GreaterThan"},
    {StateKind::EqualsOrLessThan, "EqualsOrLessThan"},
    {StateKind::EqualsOrGreaterThan, "EqualsOrGreaterThan"},
};
static_assert(rows_follow_kinds(kStateNames, StateKind::EqualsOrGreaterThan));

constexpr KindName<Term::Kind> kTermNames[] = {
    {Term::Kind::True, "True"}, {Term::Kind::False, "False"}, {Term::Kind::Port, "Port"},
    {Term::Kind::And, "And"},   {Term::Kind::Or, "Or"},       {Term::Kind::Not, "Not"},
};
static_assert(rows_follow_kinds(kTermNames, Term::Kind::Not));

// A term nests as deep as its maker chose; a depth the interpreter's
// recursion limit refuses raises RecursionError instead of exhausting the
// stack.
class RecursionGuard {
 public:
  explicit RecursionGuard(const char* where) {
    if (Py_EnterRecursiveCall(where) != 0) throw PythonError{};
  }
  RecursionGuard(const RecursionGuard&) = delete;
  RecursionGuard& operator=(const RecursionGuard&) = delete;
  ~RecursionGuard() { Py_LeaveRecursiveCall(); }
};

Ref state_dict(const PortState& state) {
  DictWriter d;
  d.set("kind", name_of(kStateNames, state.kind()));
  if (state.is_numeric()) d.set("value", to_py_u64(state.value()));
  return d.done();
}

Ref term_dict(const Term& term) {
  const RecursionGuard depth(" while writing a salvo condition term");
  DictWriter d;
  d.set("kind", name_of(kTermNames, term.kind()));
  switch (term.kind()) {
    case Term::Kind::True:
    case Term::Kind::False:
      break;
    case Term::Kind::Port:
      d.set("port_name", to_py(term.port_name())).set("state", state_dict(term.port_state()));
      break;
    case Term::Kind::And:
    case Term::Kind::Or:
      d.set("terms", list_of(term.terms(), term_dict));
      break;
    case Term::Kind::Not:
      d.set("inner", term_dict(term.inner()));
      break;
  }
  return d.done();
}

PortState state_at(PyObject* obj, const std::string& path) {
  DictReader d(obj, path);
  const StateKind kind = kind_at(kStateNames, d, "kind", "port state");
  std::uint64_t value = 0;
  if (PortState(kind).is_numeric()) {
    value = count_at(d.field("value"), d.path_of("value"), "expected int");
  }
  d.finish();
  return {kind, value};
}

Term term_at(PyObject* obj, const std::string& path) {
  const RecursionGuard depth(" while reading a salvo condition term");
  DictReader d(obj, path);
  const Term::Kind kind = kind_at(kTermNames, d, "kind", "term kind");
  Term term = Term::True();
  switch (kind) {
    case Term::Kind::True:
      break;
    case Term::Kind::False:
      term = Term::False();
      break;
    case Term::Kind::Port: {
      Name port = name_at(d.field("port_name"), d.path_of("port_name"));
      term = Term::Port(std::move(port), state_at(d.field("state"), d.path_of("state")));
      break;
    }
    case Term::Kind::And:
    case Term::Kind::Or: {
      std::vector<Term> terms;
      const std::vector<PyObject*> items = d.list("terms");
      for (std::size_t i = 0; i < items.size(); ++i) {
        terms.push_back(term_at(items[i], item_path(d.path_of("terms"), i)));
      }
      term = kind == Term::Kind::And ? Term::And(std::move(terms)) : Term::Or(std::move(terms));
      break;
    }
    case Term::Kind::Not:
      term = Term::Not(term_at(d.field("inner"), d.path_of("inner")));
      break;
  }
  d.finish();
  return term;
}

}  // namespace

Ref term_to_dict(const Term& term) { return term_dict(term); }

Term term_from_dict(PyObject* obj, const std::string& path) { return term_at(obj, path); }

}  // namespace zellik::py
