// Outcome: what one epoch of a node does, from start to finish.

#include <array>
#include <string>

#include "zellik_py/binding/pickling.h"
#include "zellik_py/explore/explore_classes.h"

namespace zellik::py {

using explore::Outcome;

std::uint64_t count_arg(PyObject* obj, const std::string& what) {
  if (!PyLong_Check(obj) || PyBool_Check(obj)) raise_arg_type(obj, what.c_str(), "int");
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(obj, &overflow);
  if (value == -1 && PyErr_Occurred()) throw PythonError{};
  if (overflow < 0 || value < 0)
    raise(PyExc_ValueError, what + " is negative (" + str_of(obj) + ")");
  return to_u64_arg(obj, what.c_str());
}

namespace {

// ---------------------------------------------------------------------------
// Lifetime

Outcome outcome_of(PyObject* pass_to, PyObject* creates, PyObject* sends) {
  Outcome outcome;
  if (pass_to != nullptr && pass_to != Py_None) outcome.pass_to = to_name_arg(pass_to, "pass_to");
  if (creates != nullptr && creates != Py_None) {
    if (!PyDict_Check(creates)) raise_arg_type(creates, "creates", "dict");
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t pos = 0;
    while (PyDict_Next(creates, &pos, &key, &value)) {
      Name port = to_name_arg(key, "creates");
      const std::uint64_t count =
          count_arg(value, "Outcome: the count of packets created in port '" + port.str() + "'");
      outcome.creates.emplace_back(std::move(port), count);
    }
  }
  if (sends != nullptr && sends != Py_None) {
    if (PyUnicode_Check(sends)) raise_arg_type(sends, "sends", "a sequence of condition names");
    for (const Ref& item : sequence_items(sends, "sends")) {
      outcome.sends.push_back(to_name_arg(item.get(), "sends"));
    }
  }
  return outcome;
}

PyObject* outcome_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    auto a = parse_tuple("Outcome", std::array{"pass_to", "creates", "sends"}, 0, args, kwargs);
    return box_as<Outcome>(type, outcome_of(a[0], a[1], a[2]));
  });
}

// ---------------------------------------------------------------------------
// Methods

Ref creates_of(const Outcome& o) {
  Ref dict = own(PyDict_New());
  for (const auto& [port, count] : o.creates) {
    Ref key = to_py(port);
    Ref value = to_py_u64(count);
    check_status(PyDict_SetItem(dict.get(), key.get(), value.get()));
  }
  return dict;
}
Ref sends_of(const Outcome& o) {
  return list_of(o.sends, [](const Name& n) { return to_py(n); });
}
Ref pass_to_of(const Outcome& o) { return o.pass_to ? to_py(*o.pass_to) : none(); }

Ref outcome_to_dict(const Outcome& o) {
  Ref dict = own(PyDict_New());
  check_status(PyDict_SetItemString(dict.get(), "pass_to", pass_to_of(o).get()));
  check_status(PyDict_SetItemString(dict.get(), "creates", creates_of(o).get()));
  check_status(PyDict_SetItemString(dict.get(), "sends", sends_of(o).get()));
  return dict;
}

PyObject* outcome_from_dict(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("from_dict", std::array{"data"}, 1, args, nargs, kwnames);
    if (!PyDict_Check(a[0])) raise_arg_type(a[0], "data", "dict");
    return box(outcome_of(PyDict_GetItemString(a[0], "pass_to"),
                          PyDict_GetItemString(a[0], "creates"),
                          PyDict_GetItemString(a[0], "sends")));
  });
}

}  // namespace

std::string outcome_repr(const Outcome& o) {
  std::string text = "Outcome(pass_to=";
  text += o.pass_to ? quoted(o.pass_to->view()) : std::string("None");
  text += ", creates={";
  for (std::size_t i = 0; i < o.creates.size(); ++i) {
    if (i > 0) text += ", ";
    text += quoted(o.creates[i].first.view()) + ": " + std::to_string(o.creates[i].second);
  }
  text += "}, sends=[";
  for (std::size_t i = 0; i < o.sends.size(); ++i) {
    if (i > 0) text += ", ";
    text += quoted(o.sends[i].view());
  }
  return text + "])";
}

namespace {

PyMethodDef g_methods[] = {
    {"to_dict", as_method(&value_method<Outcome, outcome_to_dict>), METH_NOARGS,
     "to_dict($self)\n--\n\nThe outcome as a plain dict: pass_to, creates, sends."},
    {"from_dict", as_method(&outcome_from_dict), kStaticMethod,
     "from_dict(data)\n--\n\nThe outcome a dict made by to_dict describes."},
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------------------
// Getters

PyGetSetDef g_getters[] = {
    {"pass_to", value_getter<Outcome, pass_to_of>, nullptr,
     "The output port the input packets are loaded into, or None: they are consumed.", nullptr},
    {"creates", value_getter<Outcome, creates_of>, nullptr,
     "New packets loaded into output ports: {port name: count}.", nullptr},
    {"sends", value_getter<Outcome, sends_of>, nullptr,
     "The output salvo conditions sent, in order.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char* kFields[] = {"pass_to", "creates", "sends", nullptr};

}  // namespace

void define_outcome(PyObject* module) {
  ClassSpec cls = spec_for<Outcome>(
      "Outcome",
      "Outcome(pass_to=None, creates=None, sends=())\n--\n\n"
      "What one epoch does: consume its input packets (pass_to=None) or load them into\n"
      "the output port pass_to, create and load new packets ({port: count}), then send\n"
      "the output salvo conditions `sends` in order, and finish.");
  cls.methods = g_methods;
  cls.getters = g_getters;
  cls.reduce = &reduce_to_constructor<kFields>;
  cls.slots = {
      {Py_tp_new, reinterpret_cast<void*>(&outcome_new)},
      {Py_tp_repr, reinterpret_cast<void*>(&text_slot<Outcome, outcome_repr>)},
      {Py_tp_richcompare, reinterpret_cast<void*>(&value_richcompare<Outcome>)},
  };
  define_boxed_class<Outcome>(module, cls);
}

Ref outcome_to_py(const Outcome& outcome) { return box(outcome); }

const Outcome& outcome_arg(PyObject* obj, const char* arg) { return arg_of<Outcome>(obj, arg); }

}  // namespace zellik::py
