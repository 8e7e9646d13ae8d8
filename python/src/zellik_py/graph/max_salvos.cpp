// MaxSalvos and MaxSalvosFinite: how many times a salvo condition may trigger.

#include "zellik_py/binding/enum_class.h"
#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/graph/graph_convert.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// Values: Infinite is a member of the enumeration; Finite(n) is a
// MaxSalvosFinite.

struct MaxSalvosFiniteTag {
  static constexpr const char* kName = "MaxSalvosFinite";
  static constexpr const char* kDoc = "Finite max salvos with a specific limit.";
  static constexpr const char* kProperty = "max";
  static constexpr const char* kReprPrefix = "MaxSalvos.finite(";
  static constexpr const char* kFactoryClass = "MaxSalvos";
  static constexpr const char* kFactory = "finite";
};
using MaxSalvosFinite = Limit<MaxSalvosFiniteTag>;

extern EnumSpec g_max_salvos;  // the enumeration's table, below

// ---------------------------------------------------------------------------
// MaxSalvos: static constructors

PyObject* max_salvos_infinite(PyObject*, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    parse_none("infinite", nargs, kwnames);
    return enum_member(g_max_salvos, 0);
  });
}

PyObject* max_salvos_finite(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("finite", std::array{"n"}, 1, args, nargs, kwnames);
    return max_salvos_to_py(MaxSalvos::Finite(to_u64_arg(a[0], "n")));
  });
}

// ---------------------------------------------------------------------------
// MaxSalvos: slot table and type

PyMethodDef g_max_salvos_methods[] = {
    {"infinite", as_method(&max_salvos_infinite), kStaticMethod,
     "infinite()\n--\n\nNo limit on triggers."},
    {"finite", as_method(&max_salvos_finite), kStaticMethod,
     "finite(n)\n--\n\nFinite limit on triggers."},
    {nullptr, nullptr, 0, nullptr},
};

EnumSpec g_max_salvos{
    "MaxSalvos",        "Specifies the maximum number of times a salvo condition can trigger.",
    {"Infinite"},
    /*hashable=*/false, g_max_salvos_methods,
};

}  // namespace

void define_max_salvos(PyObject* module) { define_enum(module, g_max_salvos); }
void define_max_salvos_finite(PyObject* module) { LimitClass<MaxSalvosFiniteTag>::define(module); }

Ref max_salvos_to_py(MaxSalvos max_salvos) {
  if (max_salvos.is_infinite()) return enum_member(g_max_salvos, 0);
  return box(MaxSalvosFinite{max_salvos.limit()});
}

MaxSalvos max_salvos_from_py(PyObject* obj) {
  if (enum_number(g_max_salvos, obj)) return MaxSalvos::Infinite();
  if (const MaxSalvosFinite* f = cast<MaxSalvosFinite>(obj)) return MaxSalvos::Finite(f->n);
  raise(PyExc_TypeError, "Expected MaxSalvos or MaxSalvosFinite");
}

}  // namespace zellik::py
