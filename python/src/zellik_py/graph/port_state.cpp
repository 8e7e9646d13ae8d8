// PortState and PortStateNumeric: predicates on the packet count of a port.

#include <cstddef>
#include <string_view>

#include "zellik_py/binding/enum_class.h"
#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/graph/graph_convert.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// Values: the four states without a number are members of the enumeration
// (numbered as the model's kinds); the five numeric states are a
// PortStateNumeric naming its kind by the static method that made it.

// The static methods returning members, by member number.
constexpr const char* kMemberMethods[] = {"empty", "full", "non_empty", "non_full"};

struct NumericKind {
  const char* name;
  PortState::Kind kind;
};
constexpr NumericKind kNumericKinds[] = {
    {"equals", PortState::Kind::Equals},
    {"less_than", PortState::Kind::LessThan},
    {"greater_than", PortState::Kind::GreaterThan},
    {"equals_or_less_than", PortState::Kind::EqualsOrLessThan},
    {"equals_or_greater_than", PortState::Kind::EqualsOrGreaterThan},
};

struct PortStateNumeric {
  Name kind;  // one of kNumericKinds' names
  std::uint64_t value;
};

extern EnumSpec g_port_state;  // the enumeration's table, below

// ---------------------------------------------------------------------------
// PortState: static constructors

template <int Number>
PyObject* state_member(PyObject*, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    parse_none(kMemberMethods[Number], nargs, kwnames);
    return enum_member(g_port_state, Number);
  });
}

template <std::size_t I>
PyObject* numeric_state(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast(kNumericKinds[I].name, std::array{"n"}, 1, args, nargs, kwnames);
    return box(PortStateNumeric{kNumericKinds[I].name, to_u64_arg(a[0], "n")});
  });
}

// ---------------------------------------------------------------------------
// PortStateNumeric: getters

Ref kind_of(const PortStateNumeric& s) { return to_py(s.kind); }
Ref value_of(const PortStateNumeric& s) { return to_py_u64(s.value); }

// Pickles as the static constructor that made it: PortState.{kind}(value).
PyObject* numeric_reduce(PyObject* self, PyObject*) {
  return guard([&] {
    const PortStateNumeric& s = unbox<PortStateNumeric>(self);
    Ref port_state = module_class("PortState");
    return rebuilt_by_static(port_state.get(), s.kind.str().c_str(), tuple_of(to_py_u64(s.value)));
  });
}

std::string numeric_repr(const PortStateNumeric& s) {
  return "PortState." + s.kind.str() + "(" + decimal(s.value) + ")";
}

// ---------------------------------------------------------------------------
// Slot tables and specs

PyMethodDef g_port_state_methods[] = {
    static_def("empty", &state_member<0>, "empty()\n--\n\n"),
    static_def("full", &state_member<1>, "full()\n--\n\n"),
    static_def("non_empty", &state_member<2>, "non_empty()\n--\n\n"),
    static_def("non_full", &state_member<3>, "non_full()\n--\n\n"),
    static_def("equals", &numeric_state<0>, "equals(n)\n--\n\n"),
    static_def("less_than", &numeric_state<1>, "less_than(n)\n--\n\n"),
    static_def("greater_than", &numeric_state<2>, "greater_than(n)\n--\n\n"),
    static_def("equals_or_less_than", &numeric_state<3>, "equals_or_less_than(n)\n--\n\n"),
    static_def("equals_or_greater_than", &numeric_state<4>, "equals_or_greater_than(n)\n--\n\n"),
    {},
};

EnumSpec g_port_state{
    "PortState",
    "Port state predicate for salvo conditions.",
    {"Empty", "Full", "NonEmpty", "NonFull"},
    /*hashable=*/false,
    g_port_state_methods,
};

PyGetSetDef g_numeric_getters[] = {
    Members<PortStateNumeric>::getter<kind_of>("kind", nullptr),
    Members<PortStateNumeric>::getter<value_of>("value", nullptr),
    {},
};

}  // namespace

void define_port_state(PyObject* module) { define_enum(module, g_port_state); }

void define_port_state_numeric(PyObject* module) {
  define_boxed_class<PortStateNumeric>(module, {.name = "PortStateNumeric",
                                                .doc = "Numeric port state predicate.",
                                                .getters = g_numeric_getters,
                                                .repr = &text_slot<PortStateNumeric, numeric_repr>,
                                                .reduce = &numeric_reduce});
}

Ref port_state_to_py(const PortState& state) {
  if (!state.is_numeric()) return enum_member(g_port_state, static_cast<int>(state.kind()));
  for (const NumericKind& k : kNumericKinds) {
    if (k.kind == state.kind()) return box(PortStateNumeric{k.name, state.value()});
  }
  fail("PortState kind without a Python form");
}

PortState port_state_from_py(PyObject* obj) {
  if (std::optional<int> number = enum_number(g_port_state, obj)) {
    return PortState(static_cast<PortState::Kind>(*number));
  }
  const PortStateNumeric* numeric = cast<PortStateNumeric>(obj);
  if (numeric == nullptr) raise(PyExc_TypeError, "Expected PortState or PortStateNumeric");
  for (const NumericKind& k : kNumericKinds) {
    if (numeric->kind == std::string_view(k.name)) return PortState(k.kind, numeric->value);
  }
  raise(PyExc_ValueError, "Invalid port state kind: " + numeric->kind.str());
}

}  // namespace zellik::py
