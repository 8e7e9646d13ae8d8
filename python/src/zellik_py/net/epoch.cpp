// Epoch: one execution of a node; and EpochState, its lifecycle state.

#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/enum_class.h"
#include "zellik_py/net/identifiers.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/net_dicts.h"
#include "zellik_py/net/net_forms.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// Value: the object embeds the engine's Epoch (Box<Epoch>). Objects come only
// from the engine, or from another object that holds one.

EnumSpec g_epoch_state = {
    "EpochState",
    "The lifecycle state of an epoch.",
    member_names(kEpochStateNames),
};

// ---------------------------------------------------------------------------
// Methods

Ref get_id(const Epoch& e) { return UlidFactory().make(e.id); }
Ref start_time(const Epoch& e) { return to_py_u64(e.start_time()); }

const PyMethodDef kMethods[] = {
    Members<Epoch>::method<get_id>("get_id",
                                   "get_id($self)\n--\n\nGet the epoch ID as a ULID object."),
    Members<Epoch>::method<start_time>(
        "start_time",
        "start_time($self)\n--\n\nGet the creation time in milliseconds since the Unix epoch, taken from the "
        "epoch ID."),
    Members<Epoch>::method<epoch_to_dict>(
        "to_dict",
        "to_dict($self)\n--\n\nThe epoch as a plain dict (str and lists; ids as text, the state by name)."),
    {},
};

const RecordClass<Epoch> kEpoch{
    .name = "Epoch",
    .doc = "An execution instance of a node.",
    .engine_reduce = &reduce_to_record<Epoch>,
    .compares = false,
    .repr = &epoch_repr,
    .methods = kMethods,
};

}  // namespace

void define_epoch_state(PyObject* module) { define_enum(module, g_epoch_state); }

void define_epoch(PyObject* module) { define_record_class(module, kEpoch); }

// "Epoch(id='...', node_name=\"...\", state=EpochState.Running)".
std::string epoch_repr(const Epoch& e) {
  return record_repr_of<Epoch, "id", "node_name", "state">(e);
}

Ref epoch_state_to_py(EpochState state) {
  return enum_member(g_epoch_state, static_cast<int>(state));
}

Ref epoch_to_py(const Epoch& epoch) { return box<Epoch>(epoch); }

const Epoch& epoch_arg(PyObject* obj, const char* arg) { return arg_of<Epoch>(obj, arg); }

}  // namespace zellik::py
