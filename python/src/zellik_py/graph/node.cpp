// Node: a processing node with its ports and salvo conditions.

#include "zellik_py/binding/pickling.h"
#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/graph/graph_convert.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// Value: the object embeds the model's Node.

// A dict argument, or null for an absent or None one.
PyObject* optional_dict(PyObject* obj, const char* arg) {
  if (obj == nullptr || obj == Py_None) return nullptr;
  if (!PyDict_Check(obj)) raise_arg_type(obj, arg, "dict");
  return obj;
}

PortMap ports_from_py(PyObject* obj, const char* arg) {
  PortMap ports;
  PyObject* dict = optional_dict(obj, arg);
  if (dict == nullptr) return ports;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  Py_ssize_t pos = 0;
  while (PyDict_Next(dict, &pos, &key, &value)) {
    Name name = graph_name_arg(key, arg);
    ports.insert_or_assign(std::move(name), port_arg(value, arg));
  }
  return ports;
}

// The conditions in the dict's order, which becomes their insertion order.
SalvoConditionMap conditions_from_py(PyObject* dict, const char* arg) {
  SalvoConditionMap conditions;
  if (dict == nullptr) return conditions;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  Py_ssize_t pos = 0;
  while (PyDict_Next(dict, &pos, &key, &value)) {
    Name name = graph_name_arg(key, arg);
    conditions.insert(std::move(name), salvo_condition_arg(value, arg));
  }
  return conditions;
}

Ref ports_to_py(const PortMap& ports) { return dict_of(ports, port_to_py); }

Ref conditions_to_py(const SalvoConditionMap& conditions) {
  return dict_of(conditions, salvo_condition_to_py);
}

// ---------------------------------------------------------------------------
// Lifetime

// Arguments are converted in signature order; the condition dicts are only
// type-checked there and read item by item once all the others are in.
PyObject* node_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    auto a = parse_tuple("Node",
                         std::array{"name", "in_ports", "out_ports", "in_salvo_conditions",
                                    "out_salvo_conditions", "dependency_request_config"},
                         1, args, kwargs);
    Node node;
    node.name = graph_name_arg(a[0], "name");
    node.in_ports = ports_from_py(a[1], "in_ports");
    node.out_ports = ports_from_py(a[2], "out_ports");
    PyObject* in_conditions = optional_dict(a[3], "in_salvo_conditions");
    PyObject* out_conditions = optional_dict(a[4], "out_salvo_conditions");
    if (a.has(5)) {
      node.dependency_request_config =
          dependency_request_config_arg(a[5], "dependency_request_config");
    }
    node.in_salvo_conditions = conditions_from_py(in_conditions, "in_salvo_conditions");
    node.out_salvo_conditions = conditions_from_py(out_conditions, "out_salvo_conditions");
    return box_as<Node>(type, std::move(node));
  });
}

// ---------------------------------------------------------------------------
// Getters

Ref name_of(const Node& n) { return to_py(n.name); }
Ref in_ports_of(const Node& n) { return ports_to_py(n.in_ports); }
Ref out_ports_of(const Node& n) { return ports_to_py(n.out_ports); }
Ref in_conditions_of(const Node& n) { return conditions_to_py(n.in_salvo_conditions); }
Ref out_conditions_of(const Node& n) { return conditions_to_py(n.out_salvo_conditions); }

Ref config_of(const Node& n) {
  if (!n.dependency_request_config) return none();
  return dependency_request_config_to_py(*n.dependency_request_config);
}

std::string node_repr(const Node& n) { return "Node(" + quoted(n.name.view()) + ")"; }

// ---------------------------------------------------------------------------
// Slot table and type

PyGetSetDef g_node_getters[] = {
    {"name", value_getter<Node, name_of>, nullptr, nullptr, nullptr},
    {"in_ports", value_getter<Node, in_ports_of>, nullptr, nullptr, nullptr},
    {"out_ports", value_getter<Node, out_ports_of>, nullptr, nullptr, nullptr},
    {"in_salvo_conditions", value_getter<Node, in_conditions_of>, nullptr, nullptr, nullptr},
    {"out_salvo_conditions", value_getter<Node, out_conditions_of>, nullptr, nullptr, nullptr},
    {"dependency_request_config", value_getter<Node, config_of>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// The constructor arguments, read back from the properties.
constexpr const char* kNodeFields[] = {"name",
                                       "in_ports",
                                       "out_ports",
                                       "in_salvo_conditions",
                                       "out_salvo_conditions",
                                       "dependency_request_config",
                                       nullptr};

}  // namespace

void define_node(PyObject* module) {
  ClassSpec cls =
      spec_for<Node>("Node",
                     "Node(name, in_ports=None, out_ports=None, in_salvo_conditions=None, "
                     "out_salvo_conditions=None, dependency_request_config=None)\n--\n\n"
                     "A processing node in the graph.");
  cls.getters = g_node_getters;
  cls.reduce = &reduce_to_constructor<kNodeFields>;
  cls.slots = {
      {Py_tp_new, reinterpret_cast<void*>(&node_new)},
      {Py_tp_repr, reinterpret_cast<void*>(&text_slot<Node, node_repr>)},
  };
  define_boxed_class<Node>(module, cls);
}

Ref node_to_py(const Node& node) { return box(node); }

const Node& node_arg(PyObject* obj, const char* arg) { return arg_of<Node>(obj, arg); }

}  // namespace zellik::py
