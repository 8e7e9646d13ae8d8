// Salvo: a named group of packets entering or leaving an epoch.

#include <array>

#include "zellik_py/binding/args.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/net/identifiers.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/net_dicts.h"
#include "zellik_py/net/net_forms.h"

namespace zellik::py {

// ---------------------------------------------------------------------------
// Value: the object embeds a SalvoText (Box<SalvoText>), whose packet ids are
// the texts the caller gave.

SalvoText SalvoText::of(const Salvo& salvo) {
  SalvoText text{salvo.salvo_condition, {}};
  text.packets.reserve(salvo.packets.size());
  for (const auto& [port, id] : salvo.packets) text.packets.emplace_back(port, id.to_string());
  return text;
}

Salvo SalvoText::resolve() const {
  Salvo salvo{salvo_condition, {}};
  salvo.packets.reserve(packets.size());
  for (const auto& [port, id] : packets) salvo.packets.emplace_back(port, parse_identifier(id));
  return salvo;
}

namespace {

// One (port_name, packet_id) item of the packets argument: a pair that is
// not a str, the port a str, the id a str or a ULID object (kept as text).
std::pair<Name, std::string> packet_item(PyObject* item) {
  if (PyUnicode_Check(item) || !PySequence_Check(item) || PySequence_Size(item) != 2) {
    PyErr_Clear();
    raise_arg_type(item, "packets", "a sequence of (port_name, packet_id) pairs");
  }
  Ref port = own(PySequence_GetItem(item, 0));
  Ref id = own(PySequence_GetItem(item, 1));
  Name port_name = to_name_arg(port.get(), "packets");
  check_identifier_type(id.get(), "packets");
  return {std::move(port_name), identifier_text(id.get(), "packets")};
}

// ---------------------------------------------------------------------------
// Lifetime

SalvoText salvo_of(const RecordClass<SalvoText>::Values& values) {
  SalvoText salvo{to_name_arg(values[0], "salvo_condition"), {}};
  for (const Ref& item : sequence_items(values[1], "packets"))
    salvo.packets.push_back(packet_item(item.get()));
  return salvo;
}

// ---------------------------------------------------------------------------
// Methods

const PyMethodDef kMethods[] = {
    Members<SalvoText>::method<salvo_to_dict>(
        "to_dict",
        "to_dict($self)\n--\n\nThe salvo as a plain dict; packets as [port_name, packet_id] lists."),
    {},
};

const RecordClass<SalvoText> kSalvo{
    .name = "Salvo",
    .doc =
        "Salvo(salvo_condition, packets)\n--\n\nA collection of packets entering or exiting a node.",
    .required = 2,
    .compares = false,
    .read = &salvo_of,
    .methods = kMethods,
};

}  // namespace

void define_salvo(PyObject* module) { define_record_class(module, kSalvo); }

Ref salvo_to_py(const SalvoText& salvo) { return box<SalvoText>(salvo); }

const SalvoText& salvo_arg(PyObject* obj, const char* arg) { return arg_of<SalvoText>(obj, arg); }

}  // namespace zellik::py
