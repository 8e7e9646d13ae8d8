#include "zellik_py/graph/graph_dicts.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zellik/base/kind_table.h"
#include "zellik/base/quote.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/guard.h"
#include "zellik_py/binding/plain_dict.h"
#include "zellik_py/graph/graph_convert.h"

namespace zellik::py {
namespace {

constexpr KindName<DependencyRequestTrigger> kTriggerNames[] = {
    {DependencyRequestTrigger::OnStartup, "OnStartup"},
    {DependencyRequestTrigger::OnNoSalvoTriggered, "OnNoSalvoTriggered"},
};
static_assert(rows_follow_kinds(kTriggerNames, DependencyRequestTrigger::OnNoSalvoTriggered));

// --- Paths --------------------------------------------------------------------

bool is_plain_key(std::string_view key) {
  if (key.empty()) return false;
  for (char c : key) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '-';
    if (!plain) return false;
  }
  return true;
}

// The path of a name-keyed entry: "in_ports.a", or in_ports["a b"] for a
// name that would not read as one key.
std::string key_path(const std::string& dict_path, std::string_view key) {
  if (!is_plain_key(key)) return dict_path + "[" + quoted(key) + "]";
  return dict_path.empty() ? std::string(key) : dict_path + "." + std::string(key);
}

// --- Writing -----------------------------------------------------------------

template <class L>
Ref limit_value(const L& limit) {
  return limit.is_unlimited() ? none() : to_py_u64(limit.n());
}

Ref port_dict(const Port& port) {
  return DictWriter().set("capacity", limit_value(port.slots_spec)).done();
}

Ref condition_dict(const SalvoCondition& condition) {
  return DictWriter()
      .set("max_salvos", limit_value(condition.max_salvos))
      .set("ports", dict_of(condition.ports, [](PacketCount c) { return limit_value(c); }))
      .set("term", term_to_dict(condition.term))
      .done();
}

Ref config_dict(const std::optional<DependencyRequestConfig>& config) {
  if (!config) return none();
  return DictWriter()
      .set("triggers",
           list_of(config->triggers,
                   [](DependencyRequestTrigger t) { return name_of(kTriggerNames, t); }))
      .set("label", to_py(config->label))
      .done();
}

Ref node_dict(const Node& node) {
  return DictWriter()
      .set("name", to_py(node.name))
      .set("in_ports", dict_of(node.in_ports, port_dict))
      .set("out_ports", dict_of(node.out_ports, port_dict))
      .set("in_salvo_conditions", dict_of(node.in_salvo_conditions, condition_dict))
      .set("out_salvo_conditions", dict_of(node.out_salvo_conditions, condition_dict))
      .set("dependency_request_config", config_dict(node.dependency_request_config))
      .done();
}

Ref port_ref_dict(const PortRef& ref) {
  return DictWriter()
      .set("node_name", to_py(ref.node_name))
      .set("port_type", name_of(kPortTypeNames, ref.port_type))
      .set("port_name", to_py(ref.port_name))
      .done();
}

Ref edge_dict(const Edge& edge) {
  return DictWriter()
      .set("source", port_ref_dict(edge.source))
      .set("target", port_ref_dict(edge.target))
      .done();
}

// --- Reading -----------------------------------------------------------------

// The value of an optional field (marked as read), or null when absent.
PyObject* optional_field(PyObject* dict, DictReader& d, const char* key) {
  return PyDict_GetItemString(dict, key) != nullptr ? d.field(key) : nullptr;
}

// null for no limit, else the limit's number.
template <class L>
L limit_at(PyObject* obj, const std::string& path) {
  if (obj == Py_None) return L::unlimited();
  return L::at_most(count_at(obj, path, "expected int or null"));
}

// Calls read(name, value, path) for every entry of the name-keyed dict at
// `path`, in the dict's order.
template <class Read>
void for_each_entry(PyObject* obj, const std::string& path, Read read) {
  if (!PyDict_Check(obj)) raise_field(path, "expected dict");
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  Py_ssize_t pos = 0;
  while (PyDict_Next(obj, &pos, &key, &value)) {
    if (!PyUnicode_Check(key)) raise_field(path, "expected str keys");
    Name name = graph_name_arg(key, path.c_str());
    const std::string at = key_path(path, name.view());
    read(std::move(name), value, at);
  }
}

Port port_at(PyObject* obj, const std::string& path) {
  DictReader d(obj, path);
  Port port;
  if (PyObject* capacity = optional_field(obj, d, "capacity")) {
    port.slots_spec = limit_at<PortSlotSpec>(capacity, d.path_of("capacity"));
  }
  d.finish();
  return port;
}

PortMap ports_at(PyObject* obj, const std::string& path) {
  PortMap ports;
  for_each_entry(obj, path, [&](Name name, PyObject* value, const std::string& at) {
    ports.insert_or_assign(std::move(name), port_at(value, at));
  });
  return ports;
}

SalvoCondition condition_at(PyObject* obj, const std::string& path) {
  DictReader d(obj, path);
  SalvoCondition condition;
  condition.max_salvos = limit_at<MaxSalvos>(d.field("max_salvos"), d.path_of("max_salvos"));
  for_each_entry(
      d.field("ports"), d.path_of("ports"), [&](Name name, PyObject* value, const std::string& at) {
        condition.ports.insert_or_assign(std::move(name), limit_at<PacketCount>(value, at));
      });
  condition.term = term_from_dict(d.field("term"), d.path_of("term"));
  d.finish();
  return condition;
}

SalvoConditionMap conditions_at(PyObject* obj, const std::string& path) {
  SalvoConditionMap conditions;
  for_each_entry(obj, path, [&](Name name, PyObject* value, const std::string& at) {
    conditions.insert(std::move(name), condition_at(value, at));
  });
  return conditions;
}

std::optional<DependencyRequestConfig> config_at(PyObject* obj, const std::string& path) {
  if (obj == Py_None) return std::nullopt;
  DictReader d(obj, path);
  DependencyRequestConfig config;
  const std::vector<PyObject*> items = d.list("triggers");
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string at = item_path(d.path_of("triggers"), i);
    const std::string text = text_at(items[i], at);
    bool known = false;
    for (const KindName<DependencyRequestTrigger>& row : kTriggerNames) {
      if (text != row.name) continue;
      config.triggers.push_back(row.kind);
      known = true;
    }
    if (!known) {
      raise_field(at, "unknown trigger '" + text + "' (one of OnStartup, OnNoSalvoTriggered)");
    }
  }
  config.label = name_at(d.field("label"), d.path_of("label"));
  d.finish();
  return config;
}

Node node_at(PyObject* obj, const std::string& path) {
  DictReader d(obj, path);
  Node node;
  node.name = name_at(d.field("name"), d.path_of("name"));
  if (PyObject* ports = optional_field(obj, d, "in_ports")) {
    node.in_ports = ports_at(ports, d.path_of("in_ports"));
  }
  if (PyObject* ports = optional_field(obj, d, "out_ports")) {
    node.out_ports = ports_at(ports, d.path_of("out_ports"));
  }
  if (PyObject* conditions = optional_field(obj, d, "in_salvo_conditions")) {
    node.in_salvo_conditions = conditions_at(conditions, d.path_of("in_salvo_conditions"));
  }
  if (PyObject* conditions = optional_field(obj, d, "out_salvo_conditions")) {
    node.out_salvo_conditions = conditions_at(conditions, d.path_of("out_salvo_conditions"));
  }
  if (PyObject* config = optional_field(obj, d, "dependency_request_config")) {
    node.dependency_request_config = config_at(config, d.path_of("dependency_request_config"));
  }
  d.finish();
  return node;
}

PortRef port_ref_at(PyObject* obj, const std::string& path) {
  DictReader d(obj, path);
  PortRef ref;
  ref.node_name = name_at(d.field("node_name"), d.path_of("node_name"));
  ref.port_type = kind_at(kPortTypeNames, d, "port_type", "port type");
  ref.port_name = name_at(d.field("port_name"), d.path_of("port_name"));
  d.finish();
  return ref;
}

Edge edge_at(PyObject* obj, const std::string& path) {
  DictReader d(obj, path);
  Edge edge;
  edge.source = port_ref_at(d.field("source"), d.path_of("source"));
  edge.target = port_ref_at(d.field("target"), d.path_of("target"));
  d.finish();
  return edge;
}

std::vector<Edge> edges_at(DictReader& d, const char* key) {
  std::vector<Edge> edges;
  const std::vector<PyObject*> items = d.list(key);
  edges.reserve(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    edges.push_back(edge_at(items[i], item_path(d.path_of(key), i)));
  }
  return edges;
}

}  // namespace

Name name_at(PyObject* obj, const std::string& path) {
  if (!PyUnicode_Check(obj)) raise_field(path, "expected str");
  return graph_name_arg(obj, path.c_str());
}

std::uint64_t count_at(PyObject* obj, const std::string& path, const char* expected) {
  if (!PyLong_Check(obj) || PyBool_Check(obj)) raise_field(path, expected);
  const unsigned long long n = PyLong_AsUnsignedLongLong(obj);
  if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
    PyErr_Clear();
    raise_field(path, "out of range: a count is from 0 to 2**64-1");
  }
  return n;
}

Ref graph_to_dict(const Graph& graph) {
  return DictWriter()
      .set("nodes",
           list_of(graph.nodes(), [](const auto& entry) { return node_dict(entry.second); }))
      .set("edges", list_of(graph.edges_in_order(), edge_dict))
      .set("dependency_edges", list_of(graph.dependency_edges(), edge_dict))
      .done();
}

// A repeated node name is refused here, at the node that repeats it, before
// the graph's constructor would refuse it without a path.
Graph graph_from_dict(PyObject* obj) {
  DictReader d(obj, "");
  std::vector<Node> nodes;
  const std::vector<PyObject*> items = d.list("nodes");
  nodes.reserve(items.size());
  NameSet seen;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string at = item_path("nodes", i);
    Node node = node_at(items[i], at);
    if (!seen.insert(node.name).second) {
      raise_field(at + ".name", "another node has the name " + quoted(node.name.view()));
    }
    nodes.push_back(std::move(node));
  }
  std::vector<Edge> edges = edges_at(d, "edges");
  std::optional<std::vector<Edge>> dependency_edges;
  if (PyDict_GetItemString(obj, "dependency_edges") != nullptr) {
    dependency_edges = edges_at(d, "dependency_edges");
  }
  d.finish();
  Graph graph(std::move(nodes), std::move(edges));
  if (dependency_edges) graph = with_dependency_edges(graph, std::move(*dependency_edges));
  return graph;
}

}  // namespace zellik::py
