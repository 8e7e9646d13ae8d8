// SalvoConditionTerm: a boolean expression over port states.
//
// The embedded model term is an immutable shared tree: building a term over
// others copies pointers, not trees, so not_/and_/or_ cost O(1) per sub-term
// however deep the operands are, and every walk (repr, evaluation,
// destruction) is iterative in the model.

#include <vector>

#include "zellik_py/binding/pickling.h"
#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/graph/graph_convert.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// Value: the object embeds the model's SalvoConditionTerm.

// The texts of the kinds, as the `kind` property gives them, by
// SalvoConditionTerm::Kind.
constexpr const char* kTermKindTexts[] = {"True", "False", "Port", "And", "Or", "Not"};

using Term = SalvoConditionTerm;

std::vector<Term> terms_of_sequence(PyObject* obj) {
  std::vector<Term> terms;
  for (const Ref& item : sequence_items(obj, "terms")) {
    terms.push_back(salvo_condition_term_arg(item.get(), "terms"));
  }
  return terms;
}

// ---------------------------------------------------------------------------
// Static constructors

Ref term_true() { return box(Term::True()); }

Ref term_false() { return box(Term::False()); }

Ref term_port(PyObject* port_name, PyObject* state) {
  Name name = graph_name_arg(port_name, "port_name");
  return box(Term::Port(std::move(name), port_state_from_py(state)));
}

Ref term_and(PyObject* terms) { return box(Term::And(terms_of_sequence(terms))); }

Ref term_or(PyObject* terms) { return box(Term::Or(terms_of_sequence(terms))); }

Ref term_not(PyObject* term) { return box(Term::Not(salvo_condition_term_arg(term, "term"))); }

// ---------------------------------------------------------------------------
// Methods: each answers None for a term of another kind.

Ref port_name_of(const Term& t) {
  return t.kind() == Term::Kind::Port ? to_py(t.port_name()) : none();
}

Ref port_state_of(const Term& t) {
  return t.kind() == Term::Kind::Port ? port_state_to_py(t.port_state()) : none();
}

Ref terms_of(const Term& t) {
  if (t.kind() != Term::Kind::And && t.kind() != Term::Kind::Or) return none();
  return list_of(t.terms(), salvo_condition_term_to_py);
}

Ref inner_of(const Term& t) {
  return t.kind() == Term::Kind::Not ? salvo_condition_term_to_py(t.inner()) : none();
}

// ---------------------------------------------------------------------------
// Getters

Ref kind_of(const Term& t) { return to_py(kTermKindTexts[static_cast<int>(t.kind())]); }

std::string term_repr(const Term& t) { return t.to_string(); }

// ---------------------------------------------------------------------------
// Slot table and type

PyMethodDef g_term_methods[] = {
    static_def<term_true, "true_">(
        "true_()\n--\n\n"
        "Create a term that is always true. Useful for source nodes with no input ports."),
    static_def<term_false, "false_">(
        "false_()\n--\n\nCreate a term that is always false. Useful as a placeholder or with Not."),
    static_def<term_port, "port", "port_name", "state">(
        "port(port_name, state)\n--\n\nCreate a port state check term."),
    static_def<term_and, "and_", "terms">(
        "and_(terms)\n--\n\nCreate an AND term (all sub-terms must be true)."),
    static_def<term_or, "or_", "terms">(
        "or_(terms)\n--\n\nCreate an OR term (at least one sub-term must be true)."),
    static_def<term_not, "not_", "term">(
        "not_(term)\n--\n\nCreate a NOT term (sub-term must be false)."),
    Members<Term>::method<port_name_of>(
        "get_port_name", "get_port_name($self)\n--\n\nGet the port name (for Port terms only)."),
    Members<Term>::method<port_state_of>(
        "get_port_state", "get_port_state($self)\n--\n\nGet the port state (for Port terms only)."),
    Members<Term>::method<terms_of>(
        "get_terms", "get_terms($self)\n--\n\nGet the sub-terms (for And and Or terms only)."),
    Members<Term>::method<inner_of>(
        "get_inner", "get_inner($self)\n--\n\nGet the inner term (for Not terms only)."),
    {},
};

PyGetSetDef g_term_getters[] = {
    Members<Term>::getter<kind_of>(
        "kind", "Get the term kind: \"True\", \"False\", \"Port\", \"And\", \"Or\", or \"Not\"."),
    {},
};

// A term pickles as the static constructor of its kind, its parts as
// arguments (and so, recursively, as theirs).
constexpr const char* kNoFields[] = {nullptr};
constexpr const char* kPortFields[] = {"get_port_name", "get_port_state", nullptr};
constexpr const char* kTermsFields[] = {"get_terms", nullptr};
constexpr const char* kInnerFields[] = {"get_inner", nullptr};

struct KindConstructor {
  const char* method;
  const char* const* fields;
};
constexpr KindConstructor kKindConstructors[] = {
    {"true_", kNoFields},   {"false_", kNoFields}, {"port", kPortFields},
    {"and_", kTermsFields}, {"or_", kTermsFields}, {"not_", kInnerFields},
};
static_assert(std::size(kKindConstructors) == std::size(kTermKindTexts));

PyObject* term_reduce(PyObject* self, PyObject*) {
  return guard([&] {
    const KindConstructor& k =
        kKindConstructors[static_cast<std::size_t>(unbox<Term>(self).kind())];
    return rebuilt_by_static(reinterpret_cast<PyObject*>(Py_TYPE(self)), k.method,
                             fields_of(self, k.fields));
  });
}

}  // namespace

void define_salvo_condition_term(PyObject* module) {
  define_boxed_class<Term>(module, {.name = "SalvoConditionTerm",
                                    .doc = "Boolean expression over port states.",
                                    .methods = g_term_methods,
                                    .getters = g_term_getters,
                                    .repr = &text_slot<Term, term_repr>,
                                    .reduce = &term_reduce});
}

Ref salvo_condition_term_to_py(const SalvoConditionTerm& term) { return box(term); }

const SalvoConditionTerm& salvo_condition_term_arg(PyObject* obj, const char* arg) {
  return arg_of<Term>(obj, arg);
}

}  // namespace zellik::py
