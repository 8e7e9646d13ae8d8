// NetActionResponseData: the data of a successful action, and its seven
// variant classes, reachable as class attributes of the base.

#include <array>
#include <variant>

#include "zellik_py/binding/args.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/plain_dict.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// Value: every object, of whichever variant class, embeds the engine's
// NetActionResponseData (Box<NetActionResponseData>); its class is the one of
// the alternative it holds.

using Data = NetActionResponseData;

// One variant class, at the index of its alternative in Data.
struct VariantClass {
  const char* attribute;  // the class attribute of the base
  const char* name;       // the class name
  const char* doc;
  newfunc construct;
  PyGetSetDef* getters;
  std::vector<const char*> match_args;
  PyTypeObject* type = nullptr;  // set when defined
};

extern std::array<VariantClass, 7> g_variants;

// ---------------------------------------------------------------------------
// Lifetime: each variant class has its own constructor.

Ref make(PyTypeObject* type, Data data) { return box_as<Data>(type, std::move(data)); }

PyObject* step_result_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    auto a = parse_tuple(g_variants[0].name, std::array{"made_progress"}, 1, args, kwargs);
    return make(type, response::StepResult{to_bool_arg(a[0], "made_progress")});
  });
}

PyObject* packet_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    auto a = parse_tuple(g_variants[1].name, std::array{"packet_id"}, 1, args, kwargs);
    return make(type, response::Packet{identifier_arg(a[0])});
  });
}

// CreatedEpoch, StartedEpoch and FinishedEpoch: the epoch alone.
template <std::size_t I>
PyObject* epoch_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    auto a = parse_tuple(g_variants[I].name, std::array{"epoch"}, 1, args, kwargs);
    return make(type, Data(std::in_place_index<I>, std::variant_alternative_t<I, Data>{epoch_arg(a[0], "epoch")}));
  });
}

PyObject* cancelled_epoch_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    auto a = parse_tuple(g_variants[5].name, std::array{"epoch", "destroyed_packets"}, 2, args, kwargs);
    response::CancelledEpoch data{epoch_arg(a[0], "epoch"), {}};
    for (const Ref& id : sequence_items(a[1], "destroyed_packets")) {
      data.destroyed_packets.push_back(identifier_arg(id.get()));
    }
    return make(type, std::move(data));
  });
}

PyObject* empty_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    parse_tuple(g_variants[6].name, std::array<const char*, 0>{}, 0, args, kwargs);
    return make(type, response::Empty{});
  });
}

// ---------------------------------------------------------------------------
// Getters

Ref made_progress_of(const Data& d) { return to_py_bool(std::get<response::StepResult>(d).made_progress); }
Ref packet_id_of(const Data& d) { return id_to_py(std::get<response::Packet>(d).packet_id); }
Ref epoch_of(const Data& d) {
  return std::visit(
      [](const auto& alt) {
        if constexpr (requires { alt.epoch; }) return epoch_to_py(alt.epoch);
        else return none();
      },
      d);
}
Ref destroyed_packets_of(const Data& d) {
  return list_of(std::get<response::CancelledEpoch>(d).destroyed_packets, id_to_py);
}

// ---------------------------------------------------------------------------
// Methods: the plain-dict form, {"kind": the variant's attribute name, then
// its properties}, shared by every variant class through the base.

Ref to_dict(const Data& d) {
  DictWriter out;
  out.set("kind", to_py(g_variants[d.index()].attribute));
  std::visit(
      [&out](const auto& alt) {
        if constexpr (requires { alt.made_progress; }) out.set("made_progress", to_py_bool(alt.made_progress));
        if constexpr (requires { alt.packet_id; }) out.set("packet_id", id_to_py(alt.packet_id));
        if constexpr (requires { alt.epoch; }) out.set("epoch", epoch_to_dict(alt.epoch));
        if constexpr (requires { alt.destroyed_packets; }) {
          out.set("destroyed_packets", list_of(alt.destroyed_packets, id_to_py));
        }
      },
      d);
  return out.done();
}

PyMethodDef g_methods[] = {
    {"to_dict", as_method(&value_method<Data, to_dict>), METH_NOARGS,
     "to_dict($self)\n--\n\nThe response data as a plain dict (str, int, bool, None and lists; ids as text)."},
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------------------
// Slot table and type

PyGetSetDef g_step_result_getters[] = {
    {"made_progress", value_getter<Data, made_progress_of>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};
PyGetSetDef g_packet_getters[] = {
    {"packet_id", value_getter<Data, packet_id_of>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};
PyGetSetDef g_epoch_getters[] = {
    {"epoch", value_getter<Data, epoch_of>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};
PyGetSetDef g_cancelled_epoch_getters[] = {
    {"epoch", value_getter<Data, epoch_of>, nullptr, nullptr, nullptr},
    {"destroyed_packets", value_getter<Data, destroyed_packets_of>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

std::array<VariantClass, 7> g_variants = {{
    {"StepResult", "NetActionResponseData_StepResult",
     "NetActionResponseData_StepResult(made_progress)\n--\n\nThe result of a run step.",
     &step_result_new, g_step_result_getters, {"made_progress"}},
    {"Packet", "NetActionResponseData_Packet",
     "NetActionResponseData_Packet(packet_id)\n--\n\nThe id of the packet that was created.", &packet_new,
     g_packet_getters, {"packet_id"}},
    {"CreatedEpoch", "NetActionResponseData_CreatedEpoch",
     "NetActionResponseData_CreatedEpoch(epoch)\n--\n\nThe epoch that was created.", &epoch_new<2>,
     g_epoch_getters, {"epoch"}},
    {"StartedEpoch", "NetActionResponseData_StartedEpoch",
     "NetActionResponseData_StartedEpoch(epoch)\n--\n\nThe epoch that was started.", &epoch_new<3>,
     g_epoch_getters, {"epoch"}},
    {"FinishedEpoch", "NetActionResponseData_FinishedEpoch",
     "NetActionResponseData_FinishedEpoch(epoch)\n--\n\nThe epoch that was finished.", &epoch_new<4>,
     g_epoch_getters, {"epoch"}},
    {"CancelledEpoch", "NetActionResponseData_CancelledEpoch",
     "NetActionResponseData_CancelledEpoch(epoch, destroyed_packets)\n--\n\n"
     "The epoch that was cancelled and the ids of the packets destroyed with it.",
     &cancelled_epoch_new, g_cancelled_epoch_getters, {"epoch", "destroyed_packets"}},
    {"Empty", "NetActionResponseData_Empty", "NetActionResponseData_Empty()\n--\n\nAn action with no result data.",
     &empty_new, nullptr, {}},
}};

static_assert(std::variant_size_v<Data> == 7);

// Defines one variant class as a subclass of `base` and hangs it on the base
// under its attribute name; the module itself does not export it.
void define_variant(PyObject* module, PyObject* base, VariantClass& variant) {
  ClassSpec cls = spec_for<Data>(variant.name, variant.doc);
  cls.base = base;
  cls.getters = variant.getters;
  cls.slots = {{Py_tp_new, reinterpret_cast<void*>(variant.construct)}};
  variant.type = define_class(module, cls);
  PyObject* type = reinterpret_cast<PyObject*>(variant.type);
  check_status(PyObject_SetAttrString(base, variant.attribute, type));  // the base keeps it alive
  check_status(PyObject_DelAttrString(module, variant.name));

  Ref match_args = own(PyTuple_New(static_cast<Py_ssize_t>(variant.match_args.size())));
  for (std::size_t i = 0; i < variant.match_args.size(); ++i) {
    PyTuple_SetItem(match_args.get(), static_cast<Py_ssize_t>(i), to_py(std::string_view(variant.match_args[i])).release());
  }
  check_status(PyObject_SetAttrString(type, "__match_args__", match_args.get()));
}

}  // namespace

void define_response_data(PyObject* module) {
  ClassSpec cls = spec_for<Data>("NetActionResponseData", "Response data from a successful action.");
  cls.subclassable = true;
  cls.methods = g_methods;
  PyObject* base = reinterpret_cast<PyObject*>(define_boxed_class<Data>(module, cls));
  for (VariantClass& variant : g_variants) define_variant(module, base, variant);
}

Ref response_data_to_py(const NetActionResponseData& data) {
  return box_as<Data>(g_variants[data.index()].type, data);
}

}  // namespace zellik::py
