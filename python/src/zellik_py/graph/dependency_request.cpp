// DependencyRequestTrigger and DependencyRequestConfig: when a node requests
// work through its dependency edges on its own.

#include "zellik_py/binding/enum_class.h"
#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/graph/graph_convert.h"
#include "zellik_py/graph/graph_forms.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// Values: the triggers are members of the enumeration, numbered as the
// model's; a DependencyRequestConfig object embeds the model's config.

extern EnumSpec g_trigger;  // the enumeration's table, below

// ---------------------------------------------------------------------------
// DependencyRequestTrigger: static constructors

template <int Number>
PyObject* trigger_member(PyObject*, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    parse_none(Number == 0 ? "on_startup" : "on_no_salvo_triggered", nargs, kwnames);
    return enum_member(g_trigger, Number);
  });
}

// ---------------------------------------------------------------------------
// DependencyRequestConfig

// DependencyRequestConfig(triggers=[DependencyRequestTrigger.OnStartup], label="fetch").
std::string config_repr(const DependencyRequestConfig& c) {
  std::string text = "DependencyRequestConfig(triggers=[";
  for (std::size_t i = 0; i < c.triggers.size(); ++i) {
    if (i > 0) text.append(", ");
    text.append("DependencyRequestTrigger.")
        .append(g_trigger.members[static_cast<std::size_t>(c.triggers[i])]);
  }
  text.append("], label=").append(quoted(c.label.view())).append(")");
  return text;
}

// ---------------------------------------------------------------------------
// Slot tables and specs

PyMethodDef g_trigger_methods[] = {
    static_def("on_startup", &trigger_member<0>, "on_startup()\n--\n\n"),
    static_def("on_no_salvo_triggered", &trigger_member<1>, "on_no_salvo_triggered()\n--\n\n"),
    {},
};

EnumSpec g_trigger{
    "DependencyRequestTrigger",
    "When a node should automatically emit packet requests through its dependency edges.",
    {"OnStartup", "OnNoSalvoTriggered"},
    /*hashable=*/false,
    g_trigger_methods,
};

const RecordClass<DependencyRequestConfig> kConfig{
    .name = "DependencyRequestConfig",
    .doc =
        "DependencyRequestConfig(triggers, label)\n--\n\n"
        "Configuration for automatic dependency-edge request generation on a node.",
    .required = 2,
    .compares = false,
    .repr = &config_repr,
};

}  // namespace

void define_dependency_request_trigger(PyObject* module) { define_enum(module, g_trigger); }

void define_dependency_request_config(PyObject* module) { define_record_class(module, kConfig); }

Ref dependency_request_trigger_to_py(DependencyRequestTrigger trigger) {
  return enum_member(g_trigger, static_cast<int>(trigger));
}

DependencyRequestTrigger dependency_request_trigger_arg(PyObject* obj, const char* arg) {
  std::optional<int> number = enum_number(g_trigger, obj);
  if (!number) raise_arg_type(obj, arg, "DependencyRequestTrigger");
  return static_cast<DependencyRequestTrigger>(*number);
}

Ref dependency_request_config_to_py(const DependencyRequestConfig& config) { return box(config); }

const DependencyRequestConfig& dependency_request_config_arg(PyObject* obj, const char* arg) {
  return arg_of<DependencyRequestConfig>(obj, arg);
}

}  // namespace zellik::py
