// PortType and PortRef: which port of which node.

#include "zellik_py/binding/enum_class.h"
#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/graph/graph_convert.h"
#include "zellik_py/graph/graph_forms.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// PortType: a closed enumeration, hashable.

EnumSpec g_port_type{
    "PortType",
    "Whether a port is for input or output.",
    member_names(kPortTypeNames),
    /*hashable=*/true,
};

// ---------------------------------------------------------------------------
// PortRef: the object embeds the model's PortRef (Box<PortRef>), so other
// classes take and give it with cast<PortRef> and box<PortRef>.

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

const RecordClass<PortRef> kPortRef{
    .name = "PortRef",
    .doc =
        "PortRef(node_name, port_type, port_name)\n--\n\n"
        "A reference to a specific port on a specific node.",
    .field_docs = {"The name of the node containing this port.",
                   "Whether this is an input or output port.", "The name of the port on the node."},
    .required = 3,
    .repr = &port_ref_repr,
    .str = &port_ref_str,
    .hash = &value_hash<PortRef, PortRefHash>,
};

}  // namespace

void define_port_type(PyObject* module) { define_enum(module, g_port_type); }

void define_port_ref(PyObject* module) { define_record_class(module, kPortRef); }

Ref port_type_to_py(PortType type) { return enum_member(g_port_type, static_cast<int>(type)); }

PortType port_type_arg(PyObject* obj, const char* arg) {
  std::optional<int> number = enum_number(g_port_type, obj);
  if (!number) raise_arg_type(obj, arg, "PortType");
  return static_cast<PortType>(*number);
}

Ref port_ref_to_py(const PortRef& ref) { return box<PortRef>(ref); }

const PortRef& port_ref_arg(PyObject* obj, const char* arg) { return arg_of<PortRef>(obj, arg); }

}  // namespace zellik::py
