// Epoch: one execution of a node; and EpochState, its lifecycle state.

#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/enum_class.h"
#include "zellik_py/binding/pickling.h"
#include "zellik_py/net/identifiers.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/plain_dict.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// Value: the object embeds the engine's Epoch (Box<Epoch>). Objects come only
// from the engine, or from another object that holds one.

EnumSpec g_epoch_state = {
    "EpochState",
    "The lifecycle state of an epoch.",
    {"Startable", "Running", "Finished"},
};

const char* state_name(EpochState state) {
  return g_epoch_state.members[static_cast<std::size_t>(state)];
}

// ---------------------------------------------------------------------------
// Methods

Ref get_id(const Epoch& e) { return UlidFactory().make(e.id); }
Ref start_time(const Epoch& e) { return to_py_u64(e.start_time()); }

// ---------------------------------------------------------------------------
// Getters

Ref id_of(const Epoch& e) { return id_to_py(e.id); }
Ref node_name_of(const Epoch& e) { return to_py(e.node_name); }
Ref in_salvo_of(const Epoch& e) { return salvo_to_py(SalvoText::of(e.in_salvo)); }
Ref out_salvos_of(const Epoch& e) {
  return list_of(e.out_salvos, [](const Salvo& s) { return salvo_to_py(SalvoText::of(s)); });
}
Ref state_of(const Epoch& e) { return epoch_state_to_py(e.state); }
Ref orphaned_packets_of(const Epoch& e) {
  return list_of(e.orphaned_packets, orphaned_packet_to_py);
}

// ---------------------------------------------------------------------------
// Slot table and type

PyMethodDef g_methods[] = {
    {"get_id", as_method(&value_method<Epoch, get_id>), METH_NOARGS,
     "get_id($self)\n--\n\nGet the epoch ID as a ULID object."},
    {"start_time", as_method(&value_method<Epoch, start_time>), METH_NOARGS,
     "start_time($self)\n--\n\nGet the creation time in milliseconds since the Unix epoch, taken from the "
     "epoch ID."},
    {"to_dict", as_method(&value_method<Epoch, epoch_to_dict>), METH_NOARGS,
     "to_dict($self)\n--\n\nThe epoch as a plain dict (str and lists; ids as text, the state by name)."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef g_getters[] = {
    {"id", value_getter<Epoch, id_of>, nullptr, nullptr, nullptr},
    {"node_name", value_getter<Epoch, node_name_of>, nullptr, nullptr, nullptr},
    {"in_salvo", value_getter<Epoch, in_salvo_of>, nullptr, nullptr, nullptr},
    {"out_salvos", value_getter<Epoch, out_salvos_of>, nullptr, nullptr, nullptr},
    {"state", value_getter<Epoch, state_of>, nullptr, nullptr, nullptr},
    {"orphaned_packets", value_getter<Epoch, orphaned_packets_of>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

void define_epoch_state(PyObject* module) { define_enum(module, g_epoch_state); }

void define_epoch(PyObject* module) {
  ClassSpec cls = spec_for<Epoch>("Epoch", "An execution instance of a node.");
  cls.methods = g_methods;
  cls.getters = g_getters;
  cls.reduce = &reduce_to_record<Epoch>;
  cls.slots = {{Py_tp_repr, reinterpret_cast<void*>(&text_slot<Epoch, epoch_repr>)}};
  define_boxed_class<Epoch>(module, cls);
}

std::string epoch_repr(const Epoch& e) {
  return "Epoch(id=" + single_quoted(e.id.to_string()) +
         ", node_name=" + quoted(e.node_name.view()) + ", state=EpochState." + state_name(e.state) +
         ")";
}

Ref epoch_state_to_py(EpochState state) {
  return enum_member(g_epoch_state, static_cast<int>(state));
}

Ref epoch_to_py(const Epoch& epoch) { return box<Epoch>(epoch); }

const Epoch& epoch_arg(PyObject* obj, const char* arg) { return arg_of<Epoch>(obj, arg); }

}  // namespace zellik::py
