// RequestAllowance: requests the executor may make during exploration.

#include <array>
#include <string>

#include "zellik_py/binding/pickling.h"
#include "zellik_py/explore/explore_classes.h"

namespace zellik::py {

using explore::RequestAllowance;

namespace {

// ---------------------------------------------------------------------------
// Lifetime

RequestAllowance allowance_of(PyObject* node, PyObject* label, PyObject* count) {
  return RequestAllowance{to_name_arg(node, "node"), to_name_arg(label, "label"),
                          count_arg(count, "RequestAllowance: count")};
}

PyObject* allowance_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    auto a = parse_tuple("RequestAllowance", std::array{"node", "label", "count"}, 3, args, kwargs);
    return box_as<RequestAllowance>(type, allowance_of(a[0], a[1], a[2]));
  });
}

// ---------------------------------------------------------------------------
// Methods

Ref node_of(const RequestAllowance& r) { return to_py(r.node); }
Ref label_of(const RequestAllowance& r) { return to_py(r.label); }
Ref count_of(const RequestAllowance& r) { return to_py_u64(r.count); }

Ref allowance_to_dict(const RequestAllowance& r) {
  Ref dict = own(PyDict_New());
  check_status(PyDict_SetItemString(dict.get(), "node", node_of(r).get()));
  check_status(PyDict_SetItemString(dict.get(), "label", label_of(r).get()));
  check_status(PyDict_SetItemString(dict.get(), "count", count_of(r).get()));
  return dict;
}

PyObject* allowance_from_dict(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("from_dict", std::array{"data"}, 1, args, nargs, kwnames);
    if (!PyDict_Check(a[0])) raise_arg_type(a[0], "data", "dict");
    PyObject* node = PyDict_GetItemString(a[0], "node");
    PyObject* label = PyDict_GetItemString(a[0], "label");
    PyObject* count = PyDict_GetItemString(a[0], "count");
    if (node == nullptr || label == nullptr || count == nullptr) {
      raise(PyExc_ValueError,
            "RequestAllowance.from_dict: the dict needs 'node', 'label' and 'count'");
    }
    return box(allowance_of(node, label, count));
  });
}

std::string allowance_repr(const RequestAllowance& r) {
  return "RequestAllowance(node=" + quoted(r.node.view()) + ", label=" + quoted(r.label.view()) +
         ", count=" + std::to_string(r.count) + ")";
}

PyMethodDef g_methods[] = {
    {"to_dict", as_method(&value_method<RequestAllowance, allowance_to_dict>), METH_NOARGS,
     "to_dict($self)\n--\n\nThe allowance as a plain dict: node, label, count."},
    {"from_dict", as_method(&allowance_from_dict), kStaticMethod,
     "from_dict(data)\n--\n\nThe allowance a dict made by to_dict describes."},
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------------------
// Getters

PyGetSetDef g_getters[] = {
    {"node", value_getter<RequestAllowance, node_of>, nullptr, "The node that requests.", nullptr},
    {"label", value_getter<RequestAllowance, label_of>, nullptr, "The request's label.", nullptr},
    {"count", value_getter<RequestAllowance, count_of>, nullptr, "How many requests in all.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char* kFields[] = {"node", "label", "count", nullptr};

}  // namespace

void define_request_allowance(PyObject* module) {
  ClassSpec cls = spec_for<RequestAllowance>(
      "RequestAllowance",
      "RequestAllowance(node, label, count)\n--\n\n"
      "Up to `count` requests (NetAction.create_request(node, label)) the executor may make\n"
      "whenever it chooses; the explorer follows every moment.");
  cls.methods = g_methods;
  cls.getters = g_getters;
  cls.reduce = &reduce_to_constructor<kFields>;
  cls.slots = {
      {Py_tp_new, reinterpret_cast<void*>(&allowance_new)},
      {Py_tp_repr, reinterpret_cast<void*>(&text_slot<RequestAllowance, allowance_repr>)},
      {Py_tp_richcompare, reinterpret_cast<void*>(&value_richcompare<RequestAllowance>)},
  };
  define_boxed_class<RequestAllowance>(module, cls);
}

const RequestAllowance& request_allowance_arg(PyObject* obj, const char* arg) {
  return arg_of<RequestAllowance>(obj, arg);
}

}  // namespace zellik::py
