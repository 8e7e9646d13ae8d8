// Node: a processing node with its ports and salvo conditions.

#include <type_traits>

#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/graph/graph_convert.h"
#include "zellik_py/graph/graph_forms.h"

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

// The entries of a dict (null for none) in the dict's order, which becomes
// their insertion order: each key read as a name, each value by `read`.
template <class Map, class Read>
Map map_of_dict(PyObject* dict, const char* arg, Read read) {
  Map map;
  if (dict == nullptr) return map;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  Py_ssize_t pos = 0;
  while (PyDict_Next(dict, &pos, &key, &value)) {
    Name name = graph_name_arg(key, arg);
    if constexpr (std::is_same_v<Map, PortMap>) {
      map.insert_or_assign(std::move(name), read(value, arg));
    } else {
      map.insert(std::move(name), read(value, arg));
    }
  }
  return map;
}

PortMap ports_from_py(PyObject* obj, const char* arg) {
  return map_of_dict<PortMap>(optional_dict(obj, arg), arg, arg_of<Port>);
}

SalvoConditionMap conditions_from_py(PyObject* dict, const char* arg) {
  return map_of_dict<SalvoConditionMap>(dict, arg, salvo_condition_arg);
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

}  // namespace zellik::py
