// Injection: packets the executor may put at a location during exploration.

#include <array>
#include <string>

#include "zellik_py/binding/pickling.h"
#include "zellik_py/explore/explore_classes.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/plain_dict.h"

namespace zellik::py {

using explore::Injection;

namespace {

// ---------------------------------------------------------------------------
// Lifetime

PyObject* injection_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    auto a = parse_tuple("Injection", std::array{"location", "count"}, 2, args, kwargs);
    Injection injection{location_arg(a[0], "location"), count_arg(a[1], "Injection: count")};
    return box_as<Injection>(type, std::move(injection));
  });
}

// ---------------------------------------------------------------------------
// Methods

Ref location_of(const Injection& i) { return location_to_py(i.location); }
Ref count_of(const Injection& i) { return to_py_u64(i.count); }

Ref injection_to_dict(const Injection& i) {
  Ref dict = own(PyDict_New());
  check_status(PyDict_SetItemString(dict.get(), "location", location_to_dict(i.location).get()));
  check_status(PyDict_SetItemString(dict.get(), "count", count_of(i).get()));
  return dict;
}

PyObject* injection_from_dict(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("from_dict", std::array{"data"}, 1, args, nargs, kwnames);
    if (!PyDict_Check(a[0])) raise_arg_type(a[0], "data", "dict");
    PyObject* location = PyDict_GetItemString(a[0], "location");
    PyObject* count = PyDict_GetItemString(a[0], "count");
    if (location == nullptr || count == nullptr) {
      raise(PyExc_ValueError, "Injection.from_dict: the dict needs 'location' and 'count'");
    }
    return box(
        Injection{location_from_dict(location, "location"), count_arg(count, "Injection: count")});
  });
}

std::string injection_repr(const Injection& i) {
  return "Injection(location=" + location_repr(i.location) + ", count=" + std::to_string(i.count) +
         ")";
}

PyMethodDef g_methods[] = {
    {"to_dict", as_method(&value_method<Injection, injection_to_dict>), METH_NOARGS,
     "to_dict($self)\n--\n\nThe injection as a plain dict: location (as a dict), count."},
    {"from_dict", as_method(&injection_from_dict), kStaticMethod,
     "from_dict(data)\n--\n\nThe injection a dict made by to_dict describes."},
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------------------
// Getters

PyGetSetDef g_getters[] = {
    {"location", value_getter<Injection, location_of>, nullptr,
     "Where the packets go: an Edge or InputPort location.", nullptr},
    {"count", value_getter<Injection, count_of>, nullptr, "How many packets in all.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char* kFields[] = {"location", "count", nullptr};

}  // namespace

void define_injection(PyObject* module) {
  ClassSpec cls = spec_for<Injection>(
      "Injection",
      "Injection(location, count)\n--\n\n"
      "Up to `count` packets the executor may create and put at `location` (an edge or\n"
      "an input port), one at a time, whenever it chooses; the explorer follows every\n"
      "moment.");
  cls.methods = g_methods;
  cls.getters = g_getters;
  cls.reduce = &reduce_to_constructor<kFields>;
  cls.slots = {
      {Py_tp_new, reinterpret_cast<void*>(&injection_new)},
      {Py_tp_repr, reinterpret_cast<void*>(&text_slot<Injection, injection_repr>)},
      {Py_tp_richcompare, reinterpret_cast<void*>(&value_richcompare<Injection>)},
  };
  define_boxed_class<Injection>(module, cls);
}

const Injection& injection_arg(PyObject* obj, const char* arg) {
  return arg_of<Injection>(obj, arg);
}

}  // namespace zellik::py
