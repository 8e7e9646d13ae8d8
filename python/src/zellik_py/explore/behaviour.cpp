// Behaviour: the alternative outcomes of a node's epochs.

#include <array>
#include <string>

#include "zellik_py/binding/pickling.h"
#include "zellik_py/explore/explore_classes.h"

namespace zellik::py {

using explore::Behaviour;

namespace {

// ---------------------------------------------------------------------------
// Lifetime

Behaviour behaviour_of(PyObject* node, PyObject* outcomes, bool from_dicts) {
  Behaviour behaviour;
  behaviour.node = to_name_arg(node, "node");
  if (PyUnicode_Check(outcomes)) raise_arg_type(outcomes, "outcomes", "a sequence of Outcome");
  for (const Ref& item : sequence_items(outcomes, "outcomes")) {
    if (!from_dicts) {
      behaviour.outcomes.push_back(outcome_arg(item.get(), "outcomes"));
      continue;
    }
    Ref outcome =
        own(PyObject_CallMethod(module_class("Outcome").get(), "from_dict", "O", item.get()));
    behaviour.outcomes.push_back(outcome_arg(outcome.get(), "outcomes"));
  }
  return behaviour;
}

PyObject* behaviour_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    auto a = parse_tuple("Behaviour", std::array{"node", "outcomes"}, 2, args, kwargs);
    return box_as<Behaviour>(type, behaviour_of(a[0], a[1], false));
  });
}

// ---------------------------------------------------------------------------
// Methods

Ref node_of(const Behaviour& b) { return to_py(b.node); }
Ref outcomes_of(const Behaviour& b) { return list_of(b.outcomes, outcome_to_py); }

Ref behaviour_to_dict(const Behaviour& b) {
  Ref dict = own(PyDict_New());
  check_status(PyDict_SetItemString(dict.get(), "node", node_of(b).get()));
  Ref outcomes = list_of(b.outcomes, [](const explore::Outcome& o) {
    Ref obj = outcome_to_py(o);
    return own(PyObject_CallMethod(obj.get(), "to_dict", nullptr));
  });
  check_status(PyDict_SetItemString(dict.get(), "outcomes", outcomes.get()));
  return dict;
}

PyObject* behaviour_from_dict(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("from_dict", std::array{"data"}, 1, args, nargs, kwnames);
    if (!PyDict_Check(a[0])) raise_arg_type(a[0], "data", "dict");
    PyObject* node = PyDict_GetItemString(a[0], "node");
    PyObject* outcomes = PyDict_GetItemString(a[0], "outcomes");
    if (node == nullptr || outcomes == nullptr) {
      raise(PyExc_ValueError, "Behaviour.from_dict: the dict needs 'node' and 'outcomes'");
    }
    return box(behaviour_of(node, outcomes, true));
  });
}

std::string behaviour_repr(const Behaviour& b) {
  std::string text = "Behaviour(node=" + quoted(b.node.view()) + ", outcomes=[";
  for (std::size_t i = 0; i < b.outcomes.size(); ++i) {
    if (i > 0) text += ", ";
    text += outcome_repr(b.outcomes[i]);
  }
  return text + "])";
}

PyMethodDef g_methods[] = {
    {"to_dict", as_method(&value_method<Behaviour, behaviour_to_dict>), METH_NOARGS,
     "to_dict($self)\n--\n\nThe behaviour as a plain dict: node, outcomes (as dicts)."},
    {"from_dict", as_method(&behaviour_from_dict), kStaticMethod,
     "from_dict(data)\n--\n\nThe behaviour a dict made by to_dict describes."},
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------------------
// Getters

PyGetSetDef g_getters[] = {
    {"node", value_getter<Behaviour, node_of>, nullptr, "The node's name.", nullptr},
    {"outcomes", value_getter<Behaviour, outcomes_of>, nullptr,
     "The alternative outcomes of one epoch, each explored.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char* kFields[] = {"node", "outcomes", nullptr};

}  // namespace

void define_behaviour(PyObject* module) {
  ClassSpec cls = spec_for<Behaviour>(
      "Behaviour",
      "Behaviour(node, outcomes)\n--\n\n"
      "What the epochs of `node` do: one of `outcomes` each time; the explorer follows\n"
      "every one. A node without a behaviour consumes its input packets.");
  cls.methods = g_methods;
  cls.getters = g_getters;
  cls.reduce = &reduce_to_constructor<kFields>;
  cls.slots = {
      {Py_tp_new, reinterpret_cast<void*>(&behaviour_new)},
      {Py_tp_repr, reinterpret_cast<void*>(&text_slot<Behaviour, behaviour_repr>)},
      {Py_tp_richcompare, reinterpret_cast<void*>(&value_richcompare<Behaviour>)},
  };
  define_boxed_class<Behaviour>(module, cls);
}

const Behaviour& behaviour_arg(PyObject* obj, const char* arg) {
  return arg_of<Behaviour>(obj, arg);
}

}  // namespace zellik::py
