// SalvoCondition: when packets may trigger an epoch or be sent.

#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/graph/graph_convert.h"
#include "zellik_py/graph/graph_forms.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// Value: the object embeds the model's SalvoCondition.

constexpr const char* kPortsShapeError =
    "ports must be a str, list of str, or dict mapping str to PacketCount";

// The names of a sequence whose items are all str; nothing when one is not.
std::optional<std::vector<Name>> names_of_sequence(PyObject* obj) {
  Py_ssize_t size = PySequence_Size(obj);
  if (size < 0) throw PythonError{};
  std::vector<Name> names;
  for (Py_ssize_t i = 0; i < size; ++i) {
    Ref item = own(PySequence_GetItem(obj, i));
    if (!PyUnicode_Check(item.get())) return std::nullopt;
    names.push_back(graph_name_arg(item.get(), "ports"));
  }
  return names;
}

// The ports argument: one name, a sequence of names (each taking all its
// packets) or a dict from name to PacketCount.
SalvoPorts ports_from_py(PyObject* obj) {
  SalvoPorts ports;
  if (PyUnicode_Check(obj)) {
    ports.emplace(graph_name_arg(obj, "ports"), PacketCount::All());
    return ports;
  }
  if (!PyDict_Check(obj) && PySequence_Check(obj)) {
    if (std::optional<std::vector<Name>> names = names_of_sequence(obj)) {
      for (Name& name : *names) ports.emplace(std::move(name), PacketCount::All());
      return ports;
    }
  }
  if (!PyDict_Check(obj)) raise(PyExc_TypeError, kPortsShapeError);
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  Py_ssize_t pos = 0;
  while (PyDict_Next(obj, &pos, &key, &value)) {
    Name name = graph_name_arg(key, "ports");
    ports.insert_or_assign(std::move(name), packet_count_from_py(value));
  }
  return ports;
}

std::string max_salvos_text(MaxSalvos m) {
  if (m.is_infinite()) return "MaxSalvos.Infinite";
  return "MaxSalvos.finite(" + decimal(m.limit()) + ")";
}

std::string packet_count_text(PacketCount c) {
  if (c.is_all()) return "PacketCount.All";
  return "PacketCount.count(" + decimal(c.count()) + ")";
}

// ---------------------------------------------------------------------------
// Lifetime

// Converts term, then max_salvos, then ports; the first failure is raised.
SalvoCondition condition_of(const RecordClass<SalvoCondition>::Values& values) {
  const auto [max_salvos, ports, term] = values;
  SalvoCondition condition;
  condition.term = salvo_condition_term_arg(term, "term");
  condition.max_salvos = max_salvos_from_py(max_salvos);
  condition.ports = ports_from_py(ports);
  return condition;
}

std::string condition_repr(const SalvoCondition& c) {
  std::string text = "SalvoCondition(max_salvos=" + max_salvos_text(c.max_salvos) + ", ports={";
  bool first = true;
  for (const auto& [name, count] : c.ports) {
    if (!first) text.append(", ");
    first = false;
    text.append(quoted(name.view())).append(": ").append(packet_count_text(count));
  }
  text.append("}, term=").append(c.term.to_string()).append(")");
  return text;
}

const RecordClass<SalvoCondition> kCondition{
    .name = "SalvoCondition",
    .doc =
        "SalvoCondition(max_salvos, ports, term)\n--\n\n"
        "A condition that defines when packets can trigger an epoch or be sent.",
    .field_docs = {"Get the max_salvos value.",
                   "Get the ports as a dict mapping port names to their packet counts.", nullptr},
    .required = 3,
    .compares = false,
    .read = &condition_of,
    .repr = &condition_repr,
};

}  // namespace

void define_salvo_condition(PyObject* module) { define_record_class(module, kCondition); }

Ref salvo_condition_to_py(const SalvoCondition& condition) { return box(condition); }

const SalvoCondition& salvo_condition_arg(PyObject* obj, const char* arg) {
  return arg_of<SalvoCondition>(obj, arg);
}

}  // namespace zellik::py
