// NetActionResponseData: the data of a successful action, and its seven
// variant classes, reachable as class attributes of the base.

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "zellik/base/variant_check.h"
#include "zellik_py/binding/args.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/pickling.h"
#include "zellik_py/net/identifiers.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/plain_dict.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// Value: every object, of whichever variant class, embeds the engine's
// NetActionResponseData (Box<NetActionResponseData>); its class is the one of
// the alternative it holds.

using Data = NetActionResponseData;

// The class attribute of the base is the engine's kind name; the class is
// named after both.
template <class T>
struct VariantName {
  static constexpr const char* kAttribute = T::kKind.data();
  static constexpr auto kClassText = [] {
    constexpr std::string_view kBase = "NetActionResponseData_";
    std::array<char, kBase.size() + T::kKind.size() + 1> text{};
    std::copy(kBase.begin(), kBase.end(), text.begin());
    std::copy(T::kKind.begin(), T::kKind.end(), text.begin() + kBase.size());
    return text;
  }();
  static constexpr const char* kClass = kClassText.data();
};

// One variant class.
struct VariantClass {
  std::size_t index;      // of its alternative in Data
  const char* attribute;  // the class attribute of the base
  const char* name;       // the class name
  const char* doc;
  newfunc construct;
  PyGetSetDef* getters;
  std::vector<const char*> match_args;
};

template <class T>
VariantClass variant_class(const char* doc, newfunc construct, PyGetSetDef* getters,
                           std::vector<const char*> match_args) {
  return {index_of_v<T, Data>,
          VariantName<T>::kAttribute,
          VariantName<T>::kClass,
          doc,
          construct,
          getters,
          std::move(match_args)};
}

// The class of each alternative, by its index in Data; set when defined.
std::array<PyTypeObject*, std::variant_size_v<Data>> g_classes{};

// ---------------------------------------------------------------------------
// Lifetime: each variant class has its own constructor.

Ref make(PyTypeObject* type, Data data) { return box_as<Data>(type, std::move(data)); }

PyObject* step_result_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    auto a = parse_tuple(VariantName<response::StepResult>::kClass, std::array{"made_progress"}, 1,
                         args, kwargs);
    return make(type, response::StepResult{to_bool_arg(a[0], "made_progress")});
  });
}

PyObject* packet_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    auto a = parse_tuple(VariantName<response::Packet>::kClass, std::array{"packet_id"}, 1, args,
                         kwargs);
    check_identifier_type(a[0], "packet_id");
    return make(type, response::Packet{identifier_arg(a[0])});
  });
}

// CreatedEpoch, StartedEpoch and FinishedEpoch: the epoch alone.
template <class T>
PyObject* epoch_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    auto a = parse_tuple(VariantName<T>::kClass, std::array{"epoch"}, 1, args, kwargs);
    return make(type, T{epoch_arg(a[0], "epoch")});
  });
}

PyObject* cancelled_epoch_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    auto a = parse_tuple(VariantName<response::CancelledEpoch>::kClass,
                         std::array{"epoch", "destroyed_packets"}, 2, args, kwargs);
    response::CancelledEpoch data{epoch_arg(a[0], "epoch"), {}};
    const std::vector<Ref> ids = sequence_items(a[1], "destroyed_packets");
    for (const Ref& id : ids) check_identifier_type(id.get(), "destroyed_packets");
    for (const Ref& id : ids) data.destroyed_packets.push_back(identifier_arg(id.get()));
    return make(type, std::move(data));
  });
}

PyObject* empty_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    parse_tuple(VariantName<response::Empty>::kClass, std::array<const char*, 0>{}, 0, args,
                kwargs);
    return make(type, response::Empty{});
  });
}

// ---------------------------------------------------------------------------
// Getters

Ref made_progress_of(const Data& d) {
  return to_py_bool(std::get<response::StepResult>(d).made_progress);
}
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
  out.set("kind",
          to_py(std::visit([]<class T>(const T&) { return VariantName<T>::kAttribute; }, d)));
  std::visit(
      [&out](const auto& alt) {
        if constexpr (requires { alt.made_progress; })
          out.set("made_progress", to_py_bool(alt.made_progress));
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

const std::vector<VariantClass> g_variants = {
    variant_class<response::StepResult>(
        "NetActionResponseData_StepResult(made_progress)\n--\n\nThe result of a run step.",
        &step_result_new, g_step_result_getters, {"made_progress"}),
    variant_class<response::Packet>(
        "NetActionResponseData_Packet(packet_id)\n--\n\nThe id of the packet that was created.",
        &packet_new, g_packet_getters, {"packet_id"}),
    variant_class<response::CreatedEpoch>(
        "NetActionResponseData_CreatedEpoch(epoch)\n--\n\nThe epoch that was created.",
        &epoch_new<response::CreatedEpoch>, g_epoch_getters, {"epoch"}),
    variant_class<response::StartedEpoch>(
        "NetActionResponseData_StartedEpoch(epoch)\n--\n\nThe epoch that was started.",
        &epoch_new<response::StartedEpoch>, g_epoch_getters, {"epoch"}),
    variant_class<response::FinishedEpoch>(
        "NetActionResponseData_FinishedEpoch(epoch)\n--\n\nThe epoch that was finished.",
        &epoch_new<response::FinishedEpoch>, g_epoch_getters, {"epoch"}),
    variant_class<response::CancelledEpoch>(
        "NetActionResponseData_CancelledEpoch(epoch, destroyed_packets)\n--\n\n"
        "The epoch that was cancelled and the ids of the packets destroyed with it.",
        &cancelled_epoch_new, g_cancelled_epoch_getters, {"epoch", "destroyed_packets"}),
    variant_class<response::Empty>(
        "NetActionResponseData_Empty()\n--\n\nAn action with no result data.", &empty_new, nullptr,
        {}),
};

// The variant class of the alternative `data` holds.
const VariantClass& variant_of(const Data& data) {
  for (const VariantClass& variant : g_variants) {
    if (variant.index == data.index()) return variant;
  }
  fail("Response data without a variant class");
}

// A response pickles as its variant class called with its fields, the class
// reached as an attribute of the base: NetActionResponseData.{Variant}(...).
PyObject* variant_reduce(PyObject* self, PyObject*) {
  return guard([&] {
    const VariantClass& variant = variant_of(unbox<Data>(self));
    std::vector<const char*> names = variant.match_args;
    names.push_back(nullptr);
    Ref base = module_class("NetActionResponseData");
    return rebuilt_by_static(base.get(), variant.attribute, fields_of(self, names.data()));
  });
}

// "NetActionResponseData.{Variant}(field=value, ...)", the fields in
// constructor order, epochs and ids as the other reprs show them.
std::string ids_repr(const std::vector<Ulid>& ids) {
  std::string out = "[";
  for (const Ulid& id : ids) out += (out.size() > 1 ? ", " : "") + single_quoted(id.to_string());
  return out + "]";
}

std::string fields_repr(const response::StepResult& d) {
  return std::string("made_progress=") + (d.made_progress ? "True" : "False");
}
std::string fields_repr(const response::Packet& d) {
  return "packet_id=" + single_quoted(d.packet_id.to_string());
}
std::string fields_repr(const response::CreatedEpoch& d) { return "epoch=" + epoch_repr(d.epoch); }
std::string fields_repr(const response::StartedEpoch& d) { return "epoch=" + epoch_repr(d.epoch); }
std::string fields_repr(const response::FinishedEpoch& d) { return "epoch=" + epoch_repr(d.epoch); }
std::string fields_repr(const response::CancelledEpoch& d) {
  return "epoch=" + epoch_repr(d.epoch) + ", destroyed_packets=" + ids_repr(d.destroyed_packets);
}
std::string fields_repr(const response::Empty&) { return ""; }

std::string variant_repr(const Data& data) {
  return std::string("NetActionResponseData.") + variant_of(data).attribute + "(" +
         std::visit([](const auto& alt) { return fields_repr(alt); }, data) + ")";
}

// Defines one variant class as a subclass of `base` and hangs it on the base
// under its attribute name; the module itself does not export it.
void define_variant(PyObject* module, PyObject* base, const VariantClass& variant) {
  ClassSpec cls = spec_for<Data>(variant.name, variant.doc);
  cls.base = base;
  cls.getters = variant.getters;
  cls.reduce = &variant_reduce;
  cls.slots = {{Py_tp_new, reinterpret_cast<void*>(variant.construct)},
               {Py_tp_repr, reinterpret_cast<void*>(&text_slot<Data, variant_repr>)}};
  g_classes[variant.index] = define_class(module, cls);
  PyObject* type = reinterpret_cast<PyObject*>(g_classes[variant.index]);
  check_status(PyObject_SetAttrString(base, variant.attribute, type));  // the base keeps it alive
  check_status(PyObject_DelAttrString(module, variant.name));

  Ref match_args = own(PyTuple_New(static_cast<Py_ssize_t>(variant.match_args.size())));
  for (std::size_t i = 0; i < variant.match_args.size(); ++i) {
    PyTuple_SetItem(match_args.get(), static_cast<Py_ssize_t>(i),
                    to_py(std::string_view(variant.match_args[i])).release());
  }
  check_status(PyObject_SetAttrString(type, "__match_args__", match_args.get()));
}

}  // namespace

void define_response_data(PyObject* module) {
  ClassSpec cls =
      spec_for<Data>("NetActionResponseData", "Response data from a successful action.");
  cls.subclassable = true;
  cls.methods = g_methods;
  PyObject* base = reinterpret_cast<PyObject*>(define_boxed_class<Data>(module, cls));
  for (const VariantClass& variant : g_variants) define_variant(module, base, variant);
}

Ref response_data_to_py(const NetActionResponseData& data) {
  return box_as<Data>(g_classes[data.index()], data);
}

}  // namespace zellik::py
