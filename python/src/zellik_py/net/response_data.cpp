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
#include "zellik_py/net/field_forms.h"
#include "zellik_py/net/identifiers.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/net_dicts.h"

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

// The module state's slots of the class of each alternative, by its index
// in Data; filled when defined.
const std::size_t kFirstVariantSlot = next_state_slots(std::variant_size_v<Data>);

PyTypeObject* variant_class(const ModuleState& state, std::size_t index) {
  return reinterpret_cast<PyTypeObject*>(state.object(kFirstVariantSlot + index));
}

// ---------------------------------------------------------------------------
// Lifetime: each variant class is called with its fields, in list order.

Ref make(PyTypeObject* type, Data data) { return box_as<Data>(type, std::move(data)); }

template <class T>
PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    static constexpr auto kNames = std::apply(
        [](const auto&... fd) { return std::array<const char*, kFieldCount<T>>{fd.name...}; },
        kFields<T>);
    auto a = parse_tuple(VariantName<T>::kClass, kNames, kFieldCount<T>, args, kwargs);
    T data{};
    std::size_t i = 0;
    for_each_field(data,
                   [&](const char* name, auto& value) { fields::read_arg(a[i++], name, value); });
    return make(type, std::move(data));
  });
}

// ---------------------------------------------------------------------------
// Getters: a variant's fields, by their position in its list (the closure
// points at it).

std::array<std::size_t, 4> g_positions = {0, 1, 2, 3};

PyObject* field_getter(PyObject* self, void* closure) {
  return guard([&] {
    const std::size_t wanted = *static_cast<const std::size_t*>(closure);
    Ref out;
    std::visit(
        [&](const auto& alt) {
          std::size_t i = 0;
          for_each_field(alt, [&](const char*, const auto& value) {
            if (i++ == wanted) out = fields::object(value);
          });
        },
        unbox<Data>(self));
    return out;
  });
}

// The getter table of T: one getter per listed field.
template <class T>
PyGetSetDef* getters_of() {
  static_assert(kFieldCount<T> <= std::tuple_size_v<decltype(g_positions)>);
  static auto table = std::apply(
      [](const auto&... fd) {
        std::size_t i = 0;
        return std::array<PyGetSetDef, kFieldCount<T> + 1>{
            PyGetSetDef{fd.name, &field_getter, nullptr, nullptr, &g_positions.at(i++)}...,
            PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr}};
      },
      kFields<T>);
  return table.data();
}

// ---------------------------------------------------------------------------
// Methods: the plain-dict form, {"kind": the variant's attribute name, then
// its properties}, shared by every variant class through the base.

Ref to_dict(const Data& data) {
  DictWriter out;
  std::visit(
      [&out]<class T>(const T& alt) {
        out.set("kind", to_py(T::kKind));
        for_each_field(alt, [&out](const char* key, const auto& value) {
          out.set(key, fields::dict_value(value));
        });
      },
      data);
  return out.done();
}

PyMethodDef g_methods[] = {
    Members<Data>::method<to_dict>(
        "to_dict",
        "to_dict($self)\n--\n\nThe response data as a plain dict (str, int, bool, None and lists; ids as text)."),
    {},
};

// ---------------------------------------------------------------------------
// Slot table and type

// The variant class of T, its constructor, getters and match arguments made
// from its field list.
template <class T>
VariantClass variant_class(const char* doc) {
  std::vector<const char*> match_args;
  std::apply([&](const auto&... fd) { (match_args.push_back(fd.name), ...); }, kFields<T>);
  return {
      index_of_v<T, Data>, VariantName<T>::kAttribute, VariantName<T>::kClass, doc, &construct<T>,
      getters_of<T>(),     std::move(match_args)};
}

const std::vector<VariantClass> g_variants = {
    variant_class<response::StepResult>(
        "NetActionResponseData_StepResult(made_progress)\n--\n\nThe result of a run step."),
    variant_class<response::Packet>(
        "NetActionResponseData_Packet(packet_id)\n--\n\nThe id of the packet that was created."),
    variant_class<response::CreatedEpoch>(
        "NetActionResponseData_CreatedEpoch(epoch)\n--\n\nThe epoch that was created."),
    variant_class<response::StartedEpoch>(
        "NetActionResponseData_StartedEpoch(epoch)\n--\n\nThe epoch that was started."),
    variant_class<response::FinishedEpoch>(
        "NetActionResponseData_FinishedEpoch(epoch)\n--\n\nThe epoch that was finished."),
    variant_class<response::CancelledEpoch>(
        "NetActionResponseData_CancelledEpoch(epoch, destroyed_packets)\n--\n\n"
        "The epoch that was cancelled and the ids of the packets destroyed with it."),
    variant_class<response::Empty>(
        "NetActionResponseData_Empty()\n--\n\nAn action with no result data."),
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
std::string variant_repr(const Data& data) {
  return std::visit(
      []<class T>(const T& alt) {
        std::string args;
        for_each_field(alt, [&](const char* name, const auto& value) {
          args += (args.empty() ? "" : ", ") + std::string(name) + "=" + fields::repr(value);
        });
        return "NetActionResponseData." + std::string(T::kKind) + "(" + args + ")";
      },
      data);
}

// Defines one variant class as a subclass of `base` and hangs it on the base
// under its attribute name; the module itself does not export it.
void define_variant(PyObject* module, PyObject* base, const VariantClass& variant) {
  PyTypeObject* defined =
      define_class(module, boxed_spec<Data>({.name = variant.name,
                                             .doc = variant.doc,
                                             .getters = variant.getters,
                                             .construct = variant.construct,
                                             .repr = &text_slot<Data, variant_repr>,
                                             .reduce = &variant_reduce,
                                             .base = base}));
  PyObject* type = reinterpret_cast<PyObject*>(defined);
  PyObject*& kept = state_of_module(module).object(kFirstVariantSlot + variant.index);
  Ref::steal(std::exchange(kept, Ref::borrow(type).release()));
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
  PyObject* base = reinterpret_cast<PyObject*>(
      define_boxed_class<Data>(module, {.name = "NetActionResponseData",
                                        .doc = "Response data from a successful action.",
                                        .methods = g_methods,
                                        .subclassable = true}));
  for (const VariantClass& variant : g_variants) define_variant(module, base, variant);
}

Ref response_data_to_py(const NetActionResponseData& data) {
  return box_as<Data>(variant_class(current_state(), data.index()), data);
}

}  // namespace zellik::py
