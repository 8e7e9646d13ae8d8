// _record_from_bytes: rebuilds the records that only the engine makes
// (packets, epochs, orphaned-packet records, events, validation findings)
// from the byte form their __reduce__ gives to pickle and copy.

#include <optional>
#include <string_view>

#include "zellik/net/record_codec.h"
#include "zellik_py/binding/guard.h"
#include "zellik_py/binding/pickling.h"
#include "zellik_py/graph/graph_convert.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"

namespace zellik::py {
namespace {

template <class T, Ref (*ToPy)(const T&)>
std::optional<Ref> try_record(std::string_view bytes) {
  std::optional<T> record = decode_record<T>(bytes);
  if (!record) return std::nullopt;
  return ToPy(*record);
}

Ref packet_from(const Packet& p) { return packet_to_py(p); }
Ref epoch_from(const Epoch& e) { return epoch_to_py(e); }
Ref orphaned_from(const OrphanedPacketInfo& o) { return orphaned_packet_to_py(o); }
Ref event_from(const NetEvent& e) { return event_to_py(e); }
Ref finding_from(const GraphValidationError& e) { return validation_error_to_py(e); }

PyObject* record_from_bytes(PyObject*, PyObject* arg) {
  return guard([&] {
    if (!PyBytes_Check(arg)) raise_arg_type(arg, "data", "bytes");
    char* data = nullptr;
    Py_ssize_t size = 0;
    check_status(PyBytes_AsStringAndSize(arg, &data, &size));
    const std::string_view bytes(data, static_cast<std::size_t>(size));
    // Each decoder accepts only its own tag, so at most one succeeds.
    for (auto decode :
         {&try_record<Packet, packet_from>, &try_record<Epoch, epoch_from>,
          &try_record<OrphanedPacketInfo, orphaned_from>, &try_record<NetEvent, event_from>,
          &try_record<GraphValidationError, finding_from>}) {
      if (std::optional<Ref> made = decode(bytes)) return std::move(*made);
    }
    raise(PyExc_ValueError, "Not the byte form of a zellik_sim record");
  });
}

PyMethodDef g_functions[] = {
    {"_record_from_bytes", &record_from_bytes, METH_O,
     "_record_from_bytes(data, /)\n--\n\n"
     "Rebuild a packet, epoch, orphaned-packet record, event or validation finding\n"
     "from the bytes its pickle holds. Raises ValueError for any other bytes."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void define_record_functions(PyObject* module) {
  check_status(PyModule_AddFunctions(module, g_functions));
}

}  // namespace zellik::py
