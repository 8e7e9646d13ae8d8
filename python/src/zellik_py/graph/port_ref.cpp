// PortType and PortRef: which port of which node.

#include "zellik_py/binding/enum_class.h"
#include "zellik_py/binding/pickling.h"
#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/graph/graph_convert.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// PortType: a closed enumeration, hashable.

EnumSpec g_port_type{
    "PortType",
    "Whether a port is for input or output.",
    {"Input", "Output"},
    /*hashable=*/true,
};

// ---------------------------------------------------------------------------
// PortRef: value. The object embeds the model's PortRef (Box<PortRef>), so
// other classes take and give it with cast<PortRef> and box<PortRef>.

// ---------------------------------------------------------------------------
// PortRef: lifetime

PyObject* port_ref_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    auto a =
        parse_tuple("PortRef", std::array{"node_name", "port_type", "port_name"}, 3, args, kwargs);
    PortRef ref;
    ref.node_name = graph_name_arg(a[0], "node_name");
    ref.port_type = port_type_arg(a[1], "port_type");
    ref.port_name = graph_name_arg(a[2], "port_name");
    return box_as<PortRef>(type, std::move(ref));
  });
}

// ---------------------------------------------------------------------------
// PortRef: getters

Ref node_name_of(const PortRef& r) { return to_py(r.node_name); }
Ref port_type_of(const PortRef& r) { return port_type_to_py(r.port_type); }
Ref port_name_of(const PortRef& r) { return to_py(r.port_name); }

std::string port_ref_str(const PortRef& r) { return r.to_string(); }

// PortRef('A', Output, 'x'): the names as they are, without escaping.
std::string port_ref_repr(const PortRef& r) {
  std::string text = "PortRef('";
  text.append(r.node_name.view())
      .append("', ")
      .append(port_type_debug_name(r.port_type))
      .append(", '")
      .append(r.port_name.view())
      .append("')");
  return text;
}

// ---------------------------------------------------------------------------
// PortRef: slot table and type

PyGetSetDef g_port_ref_getters[] = {
    {"node_name", value_getter<PortRef, node_name_of>, nullptr,
     "The name of the node containing this port.", nullptr},
    {"port_type", value_getter<PortRef, port_type_of>, nullptr,
     "Whether this is an input or output port.", nullptr},
    {"port_name", value_getter<PortRef, port_name_of>, nullptr, "The name of the port on the node.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// The constructor arguments, read back from the properties.
constexpr const char* kPortRefFields[] = {"node_name", "port_type", "port_name", nullptr};

}  // namespace

void define_port_type(PyObject* module) { define_enum(module, g_port_type); }

void define_port_ref(PyObject* module) {
  ClassSpec cls = spec_for<PortRef>("PortRef",
                                    "PortRef(node_name, port_type, port_name)\n--\n\n"
                                    "A reference to a specific port on a specific node.");
  cls.getters = g_port_ref_getters;
  cls.reduce = &reduce_to_constructor<kPortRefFields>;
  cls.slots = {
      {Py_tp_new, reinterpret_cast<void*>(&port_ref_new)},
      {Py_tp_str, reinterpret_cast<void*>(&text_slot<PortRef, port_ref_str>)},
      {Py_tp_repr, reinterpret_cast<void*>(&text_slot<PortRef, port_ref_repr>)},
      {Py_tp_richcompare, reinterpret_cast<void*>(&value_richcompare<PortRef>)},
      {Py_tp_hash, reinterpret_cast<void*>(&value_hash<PortRef, PortRefHash>)},
  };
  define_boxed_class<PortRef>(module, cls);
}

Ref port_type_to_py(PortType type) { return enum_member(g_port_type, static_cast<int>(type)); }

PortType port_type_arg(PyObject* obj, const char* arg) {
  std::optional<int> number = enum_number(g_port_type, obj);
  if (!number) raise_arg_type(obj, arg, "PortType");
  return static_cast<PortType>(*number);
}

Ref port_ref_to_py(const PortRef& ref) { return box<PortRef>(ref); }

const PortRef& port_ref_arg(PyObject* obj, const char* arg) { return arg_of<PortRef>(obj, arg); }

}  // namespace zellik::py
