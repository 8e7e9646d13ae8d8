// PacketCount and PacketCountN: how many packets a salvo takes from a port.

#include "zellik_py/binding/enum_class.h"
#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/graph/graph_convert.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// Values: All is a member of the enumeration; Count(n) is a PacketCountN.

struct PacketCountNTag {
  static constexpr const char* kName = "PacketCountN";
  static constexpr const char* kDoc = "PacketCount with a specific count limit.";
  static constexpr const char* kProperty = "count";
  static constexpr const char* kReprPrefix = "PacketCount.count(";
  static constexpr const char* kFactoryClass = "PacketCount";
  static constexpr const char* kFactory = "count";
};
using PacketCountN = Limit<PacketCountNTag>;

extern EnumSpec g_packet_count;  // the enumeration's table, below

// ---------------------------------------------------------------------------
// PacketCount: static constructors

PyObject* packet_count_all(PyObject*, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    parse_none("all", nargs, kwnames);
    return enum_member(g_packet_count, 0);
  });
}

PyObject* packet_count_count(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("count", std::array{"n"}, 1, args, nargs, kwnames);
    return packet_count_to_py(PacketCount::Count(to_u64_arg(a[0], "n")));
  });
}

// ---------------------------------------------------------------------------
// PacketCount: slot table and type

PyMethodDef g_packet_count_methods[] = {
    {"all", as_method(&packet_count_all), kStaticMethod,
     "all()\n--\n\nTake all packets from the port."},
    {"count", as_method(&packet_count_count), kStaticMethod,
     "count(n)\n--\n\nTake at most n packets (takes fewer if port has fewer)."},
    {nullptr, nullptr, 0, nullptr},
};

EnumSpec g_packet_count{
    "PacketCount",
    "Specifies how many packets to take from a port in a salvo.",
    {"All"},
    /*hashable=*/false,
    g_packet_count_methods,
};

}  // namespace

void define_packet_count(PyObject* module) { define_enum(module, g_packet_count); }
void define_packet_count_n(PyObject* module) { LimitClass<PacketCountNTag>::define(module); }

Ref packet_count_to_py(PacketCount count) {
  if (count.is_all()) return enum_member(g_packet_count, 0);
  return box(PacketCountN{count.count()});
}

PacketCount packet_count_from_py(PyObject* obj) {
  if (enum_number(g_packet_count, obj)) return PacketCount::All();
  if (const PacketCountN* n = cast<PacketCountN>(obj)) return PacketCount::Count(n->n);
  raise(PyExc_TypeError, "Expected PacketCount or PacketCountN");
}

}  // namespace zellik::py
