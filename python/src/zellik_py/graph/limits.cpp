// The three limits of the graph model: PacketCount (how many packets a salvo
// takes from a port), MaxSalvos (how many times a salvo condition may
// trigger) and PortSlotSpec (the capacity of a port). Each is an enumeration
// whose first member means "no limit", with two static constructors, and a
// class for a limit of n (PacketCountN, MaxSalvosFinite, PortSlotSpecFinite).
// One template makes all three; a tag states only names and texts.

#include "zellik_py/binding/enum_class.h"
#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/graph/graph_convert.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// Tags. Beside what LimitClass reads (graph_classes.h), each names the core
// type (a zellik::Limit, read and made the same way for all three), the
// enumeration's texts and the TypeError text of a wrong argument.

struct PacketCountNTag {
  using Core = PacketCount;
  static constexpr const char* kName = "PacketCountN";
  static constexpr const char* kDoc = "PacketCount with a specific count limit.";
  static constexpr const char* kProperty = "count";
  static constexpr const char* kReprPrefix = "PacketCount.count(";
  static constexpr const char* kFactoryClass = "PacketCount";
  static constexpr const char* kFactory = "count";
  static constexpr const char* kFactoryDoc =
      "count(n)\n--\n\nTake at most n packets (takes fewer if port has fewer).";
  static constexpr const char* kUnbounded = "all";
  static constexpr const char* kUnboundedDoc = "all()\n--\n\nTake all packets from the port.";
  static constexpr const char* kEnumDoc =
      "Specifies how many packets to take from a port in a salvo.";
  static std::vector<const char*> members() { return {"All"}; }
  static constexpr const char* kTypeError = "Expected PacketCount or PacketCountN";
  static constexpr bool kNoneIsUnbounded = false;
  static constexpr const char* kBareMemberError = nullptr;
};

struct MaxSalvosFiniteTag {
  using Core = MaxSalvos;
  static constexpr const char* kName = "MaxSalvosFinite";
  static constexpr const char* kDoc = "Finite max salvos with a specific limit.";
  static constexpr const char* kProperty = "max";
  static constexpr const char* kReprPrefix = "MaxSalvos.finite(";
  static constexpr const char* kFactoryClass = "MaxSalvos";
  static constexpr const char* kFactory = "finite";
  static constexpr const char* kFactoryDoc = "finite(n)\n--\n\nFinite limit on triggers.";
  static constexpr const char* kUnbounded = "infinite";
  static constexpr const char* kUnboundedDoc = "infinite()\n--\n\nNo limit on triggers.";
  static constexpr const char* kEnumDoc =
      "Specifies the maximum number of times a salvo condition can trigger.";
  static std::vector<const char*> members() { return {"Infinite"}; }
  static constexpr const char* kTypeError = "Expected MaxSalvos or MaxSalvosFinite";
  static constexpr bool kNoneIsUnbounded = false;
  static constexpr const char* kBareMemberError = nullptr;
};

// None reads as Infinite. The bare Finite member carries no capacity: a
// port made from it is refused rather than left unbounded.
struct PortSlotSpecFiniteTag {
  using Core = PortSlotSpec;
  static constexpr const char* kName = "PortSlotSpecFinite";
  static constexpr const char* kDoc = "Finite port capacity with a specific limit.";
  static constexpr const char* kProperty = "capacity";
  static constexpr const char* kReprPrefix = "PortSlotSpec.finite(";
  static constexpr const char* kFactoryClass = "PortSlotSpec";
  static constexpr const char* kFactory = "finite";
  static constexpr const char* kFactoryDoc = "finite(n)\n--\n\n";
  static constexpr const char* kUnbounded = "infinite";
  static constexpr const char* kUnboundedDoc = "infinite()\n--\n\n";
  static constexpr const char* kEnumDoc = "Port capacity specification.";
  static std::vector<const char*> members() { return {"Infinite", "Finite"}; }
  static constexpr const char* kTypeError = "Expected PortSlotSpec or PortSlotSpecFinite";
  static constexpr bool kNoneIsUnbounded = true;
  static constexpr const char* kBareMemberError =
      "argument 'slots_spec': PortSlotSpec.Finite has no capacity: use PortSlotSpec.finite(n)";
};

// ---------------------------------------------------------------------------
// The enumeration of one limit: member 0 is the no-limit value; the limit
// class of n is LimitClass<Tag>.

template <class Tag>
struct LimitEnum {
  using Core = typename Tag::Core;
  using Finite = Limit<Tag>;

  static Ref to_py(const Core& value) {
    if (value.is_unlimited()) return enum_member(enumeration, 0);
    return box(Finite{value.n()});
  }

  static Core from_py(PyObject* obj) {
    if (Tag::kNoneIsUnbounded && obj == Py_None) return Core::unlimited();
    if (const std::optional<int> member = enum_number(enumeration, obj)) {
      // Member 0 means no limit; only PortSlotSpec has another (Finite).
      if constexpr (Tag::kBareMemberError != nullptr) {
        if (*member != 0) raise(PyExc_ValueError, Tag::kBareMemberError);
      }
      return Core::unlimited();
    }
    if (const Finite* f = cast<Finite>(obj)) return Core::at_most(f->n);
    raise(PyExc_TypeError, Tag::kTypeError);
  }

  // Static constructors.
  static PyObject* unbounded(PyObject*, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&] {
      parse_none(Tag::kUnbounded, nargs, kwnames);
      return enum_member(enumeration, 0);
    });
  }

  static PyObject* limited(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&] {
      auto a = parse_fast(Tag::kFactory, std::array{"n"}, 1, args, nargs, kwnames);
      return to_py(Core::at_most(to_u64_arg(a[0], "n")));
    });
  }

  // Slot table and type.
  static inline PyMethodDef methods[] = {
      {Tag::kUnbounded, as_method(&unbounded), kStaticMethod, Tag::kUnboundedDoc},
      {Tag::kFactory, as_method(&limited), kStaticMethod, Tag::kFactoryDoc},
      {nullptr, nullptr, 0, nullptr},
  };

  static inline EnumSpec enumeration{Tag::kFactoryClass, Tag::kEnumDoc, Tag::members(),
                                     /*hashable=*/false, methods};

  static void define(PyObject* module) { define_enum(module, enumeration); }
};

using PacketCountEnum = LimitEnum<PacketCountNTag>;
using MaxSalvosEnum = LimitEnum<MaxSalvosFiniteTag>;
using PortSlotSpecEnum = LimitEnum<PortSlotSpecFiniteTag>;

}  // namespace

void define_packet_count(PyObject* module) { PacketCountEnum::define(module); }
void define_packet_count_n(PyObject* module) { LimitClass<PacketCountNTag>::define(module); }
void define_max_salvos(PyObject* module) { MaxSalvosEnum::define(module); }
void define_max_salvos_finite(PyObject* module) { LimitClass<MaxSalvosFiniteTag>::define(module); }
void define_port_slot_spec(PyObject* module) { PortSlotSpecEnum::define(module); }
void define_port_slot_spec_finite(PyObject* module) {
  LimitClass<PortSlotSpecFiniteTag>::define(module);
}

Ref packet_count_to_py(PacketCount count) { return PacketCountEnum::to_py(count); }
Ref max_salvos_to_py(MaxSalvos max_salvos) { return MaxSalvosEnum::to_py(max_salvos); }
Ref port_slot_spec_to_py(PortSlotSpec slots) { return PortSlotSpecEnum::to_py(slots); }

PacketCount packet_count_from_py(PyObject* obj) { return PacketCountEnum::from_py(obj); }
MaxSalvos max_salvos_from_py(PyObject* obj) { return MaxSalvosEnum::from_py(obj); }
PortSlotSpec port_slot_spec_from_py(PyObject* obj) { return PortSlotSpecEnum::from_py(obj); }

}  // namespace zellik::py
