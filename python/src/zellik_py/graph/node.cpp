// Node: a processing node with its ports and salvo conditions.

#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/graph/graph_convert.h"
#include "zellik_py/net/record_class.h"

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

// ---------------------------------------------------------------------------
// Lifetime

// Arguments are converted in signature order; the condition dicts are only
// type-checked there and read item by item once all the others are in.
Node node_of(const RecordClass<Node>::Values& values) {
  const auto [name, in_ports, out_ports, in_conditions, out_conditions, config] = values;
  Node node;
  node.name = graph_name_arg(name, "name");
  node.in_ports = ports_from_py(in_ports, "in_ports");
  node.out_ports = ports_from_py(out_ports, "out_ports");
  PyObject* in_dict = optional_dict(in_conditions, "in_salvo_conditions");
  PyObject* out_dict = optional_dict(out_conditions, "out_salvo_conditions");
  if (config != nullptr && config != Py_None) {
    node.dependency_request_config =
        dependency_request_config_arg(config, "dependency_request_config");
  }
  node.in_salvo_conditions = conditions_from_py(in_dict, "in_salvo_conditions");
  node.out_salvo_conditions = conditions_from_py(out_dict, "out_salvo_conditions");
  return node;
}

std::string node_repr(const Node& n) { return "Node(" + quoted(n.name.view()) + ")"; }

const RecordClass<Node> kNode{
    .name = "Node",
    .doc =
        "Node(name, in_ports=None, out_ports=None, in_salvo_conditions=None, "
        "out_salvo_conditions=None, dependency_request_config=None)\n--\n\n"
        "A processing node in the graph.",
    .required = 1,
    .compares = false,
    .read = &node_of,
    .repr = &node_repr,
};

}  // namespace

void define_node(PyObject* module) { define_record_class(module, kNode); }

Ref node_to_py(const Node& node) { return box(node); }

const Node& node_arg(PyObject* obj, const char* arg) { return arg_of<Node>(obj, arg); }

}  // namespace zellik::py
