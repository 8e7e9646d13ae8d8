// SalvoCondition: when packets may trigger an epoch or be sent.

#include "zellik_py/binding/pickling.h"
#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/graph/graph_convert.h"

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
PyObject* condition_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    auto a =
        parse_tuple("SalvoCondition", std::array{"max_salvos", "ports", "term"}, 3, args, kwargs);
    SalvoCondition condition;
    condition.term = salvo_condition_term_arg(a[2], "term");
    condition.max_salvos = max_salvos_from_py(a[0]);
    condition.ports = ports_from_py(a[1]);
    return box_as<SalvoCondition>(type, std::move(condition));
  });
}

// ---------------------------------------------------------------------------
// Getters

Ref max_salvos_of(const SalvoCondition& c) { return max_salvos_to_py(c.max_salvos); }

Ref ports_of(const SalvoCondition& c) { return dict_of(c.ports, packet_count_to_py); }

Ref term_of(const SalvoCondition& c) { return salvo_condition_term_to_py(c.term); }

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

// ---------------------------------------------------------------------------
// Slot table and type

PyGetSetDef g_condition_getters[] = {
    {"max_salvos", value_getter<SalvoCondition, max_salvos_of>, nullptr,
     "Get the max_salvos value.", nullptr},
    {"ports", value_getter<SalvoCondition, ports_of>, nullptr,
     "Get the ports as a dict mapping port names to their packet counts.", nullptr},
    {"term", value_getter<SalvoCondition, term_of>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// The constructor arguments, read back from the properties.
constexpr const char* kSalvoConditionFields[] = {"max_salvos", "ports", "term", nullptr};

}  // namespace

void define_salvo_condition(PyObject* module) {
  ClassSpec cls = spec_for<SalvoCondition>(
      "SalvoCondition",
      "SalvoCondition(max_salvos, ports, term)\n--\n\n"
      "A condition that defines when packets can trigger an epoch or be sent.");
  cls.getters = g_condition_getters;
  cls.reduce = &reduce_to_constructor<kSalvoConditionFields>;
  cls.slots = {
      {Py_tp_new, reinterpret_cast<void*>(&condition_new)},
      {Py_tp_repr, reinterpret_cast<void*>(&text_slot<SalvoCondition, condition_repr>)},
  };
  define_boxed_class<SalvoCondition>(module, cls);
}

Ref salvo_condition_to_py(const SalvoCondition& condition) { return box(condition); }

const SalvoCondition& salvo_condition_arg(PyObject* obj, const char* arg) {
  return arg_of<SalvoCondition>(obj, arg);
}

}  // namespace zellik::py
