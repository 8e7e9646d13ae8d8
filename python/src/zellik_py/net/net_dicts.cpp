#include "zellik_py/net/net_dicts.h"

#include <utility>

#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/guard.h"
#include "zellik_py/net/identifiers.h"

namespace zellik::py {

namespace {

// The kind named `text` in `names`; ValueError "unknown {what} '{text}'" at
// `path` when it is none of them.
template <class E, std::size_t N>
E kind_named(const KindName<E> (&names)[N], const std::string& text, const char* what,
             const std::string& path) {
  for (const KindName<E>& row : names) {
    if (text == row.name) return row.kind;
  }
  raise_field(path, std::string("unknown ") + what + " '" + text + "'");
}

// The dict value of a kind: its name.
template <class E, std::size_t N>
Ref name_in(const KindName<E> (&names)[N], E kind) {
  return to_py(row_of(names, kind).name);
}

Ref port_ref_to_dict(const PortRef& ref) {
  return DictWriter()
      .set("node_name", to_py(ref.node_name))
      .set("port_type", name_in(kPortTypeNames, ref.port_type))
      .set("port_name", to_py(ref.port_name))
      .done();
}

PortRef port_ref_from_dict(PyObject* obj, const std::string& path) {
  DictReader d(obj, path);
  PortRef ref;
  ref.node_name = d.name("node_name");
  ref.port_type =
      kind_named(kPortTypeNames, d.text("port_type"), "port type", d.path_of("port_type"));
  ref.port_name = d.name("port_name");
  d.finish();
  return ref;
}

Ref orphan_to_dict(const OrphanedPacketInfo& info) {
  return DictWriter()
      .set("packet_id", id_to_py(info.packet_id))
      .set("from_port", to_py(info.from_port))
      .set("salvo_condition", to_py(info.salvo_condition))
      .done();
}

OrphanedPacketInfo orphan_from_dict(PyObject* obj, const std::string& path) {
  DictReader d(obj, path);
  OrphanedPacketInfo info{d.id("packet_id"), d.name("from_port"), d.name("salvo_condition")};
  d.finish();
  return info;
}

std::string item_path(const std::string& list_path, std::size_t i) {
  return list_path + "[" + std::to_string(i) + "]";
}

}  // namespace

// --- Values -----------------------------------------------------------------

Ref location_to_dict(const PacketLocation& location) {
  DictWriter d;
  d.set("kind", name_in(PacketLocation::kKindNames, location.kind()));
  switch (location.kind()) {
    case PacketLocation::Kind::Node:
      d.set("epoch_id", id_to_py(location.epoch_id()));
      break;
    case PacketLocation::Kind::InputPort:
      d.set("node_name", to_py(location.node_name())).set("port_name", to_py(location.port_name()));
      break;
    case PacketLocation::Kind::OutputPort:
      d.set("epoch_id", id_to_py(location.epoch_id()))
          .set("port_name", to_py(location.port_name()));
      break;
    case PacketLocation::Kind::Edge:
      d.set("edge", DictWriter()
                        .set("source", port_ref_to_dict(location.edge().source))
                        .set("target", port_ref_to_dict(location.edge().target))
                        .done());
      break;
    case PacketLocation::Kind::OutsideNet:
      break;
  }
  return d.done();
}

PacketLocation location_from_dict(PyObject* obj, const std::string& path) {
  DictReader d(obj, path);
  const PacketLocation::Kind kind =
      kind_named(PacketLocation::kKindNames, d.text("kind"), "location kind", d.path_of("kind"));
  PacketLocation location = PacketLocation::OutsideNet();
  switch (kind) {
    case PacketLocation::Kind::Node:
      location = PacketLocation::Node(d.id("epoch_id"));
      break;
    case PacketLocation::Kind::InputPort: {
      Name node_name = d.name("node_name");
      location = PacketLocation::InputPort(std::move(node_name), d.name("port_name"));
      break;
    }
    case PacketLocation::Kind::OutputPort: {
      const Ulid epoch_id = d.id("epoch_id");
      location = PacketLocation::OutputPort(epoch_id, d.name("port_name"));
      break;
    }
    case PacketLocation::Kind::Edge: {
      DictReader e(d.field("edge"), d.path_of("edge"));
      PortRef source = port_ref_from_dict(e.field("source"), e.path_of("source"));
      PortRef target = port_ref_from_dict(e.field("target"), e.path_of("target"));
      e.finish();
      location = PacketLocation::Edge(Edge{std::move(source), std::move(target)});
      break;
    }
    case PacketLocation::Kind::OutsideNet:
      break;
  }
  d.finish();
  return location;
}

Ref salvo_to_dict(const SalvoText& salvo) {
  Ref packets = list_of(salvo.packets, [](const std::pair<Name, std::string>& p) {
    Ref pair = own(PyList_New(2));
    PyList_SetItem(pair.get(), 0, to_py(p.first).release());
    PyList_SetItem(pair.get(), 1, to_py(std::string_view(p.second)).release());
    return pair;
  });
  return DictWriter()
      .set("salvo_condition", to_py(salvo.salvo_condition))
      .set("packets", std::move(packets))
      .done();
}

SalvoText salvo_from_dict(PyObject* obj, const std::string& path) {
  DictReader d(obj, path);
  SalvoText salvo{d.name("salvo_condition"), {}};
  const std::vector<PyObject*> items = d.list("packets");
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string at = item_path(d.path_of("packets"), i);
    if (!PyList_Check(items[i]) || PyList_Size(items[i]) != 2)
      raise_field(at, "expected [port_name, packet_id]");
    salvo.packets.emplace_back(Name(text_at(PyList_GetItem(items[i], 0), at + "[0]")),
                               text_at(PyList_GetItem(items[i], 1), at + "[1]"));
  }
  d.finish();
  return salvo;
}

Ref epoch_to_dict(const Epoch& epoch) {
  return DictWriter()
      .set("id", id_to_py(epoch.id))
      .set("node_name", to_py(epoch.node_name))
      .set("in_salvo", salvo_to_dict(SalvoText::of(epoch.in_salvo)))
      .set("out_salvos", list_of(epoch.out_salvos,
                                 [](const Salvo& s) { return salvo_to_dict(SalvoText::of(s)); }))
      .set("state", name_in(kEpochStateNames, epoch.state))
      .set("orphaned_packets", list_of(epoch.orphaned_packets, orphan_to_dict))
      .done();
}

Epoch epoch_from_dict(PyObject* obj, const std::string& path) {
  DictReader d(obj, path);
  Epoch epoch;
  epoch.id = d.id("id");
  epoch.node_name = d.name("node_name");
  // Salvo packet ids inside an epoch are the engine's: parsed here.
  auto resolved = [](PyObject* item, const std::string& at) {
    const SalvoText text = salvo_from_dict(item, at);
    Salvo salvo{text.salvo_condition, {}};
    for (std::size_t i = 0; i < text.packets.size(); ++i) {
      const std::string id_path = item_path(at + ".packets", i) + "[1]";
      const auto parsed = parse_ulid(text.packets[i].second);
      if (!parsed.ok()) {
        raise_field(id_path,
                    "Invalid ULID: " + std::string(ulid_parse_error_reason(parsed.error())));
      }
      salvo.packets.emplace_back(text.packets[i].first, parsed.value());
    }
    return salvo;
  };
  epoch.in_salvo = resolved(d.field("in_salvo"), d.path_of("in_salvo"));
  const std::vector<PyObject*> out = d.list("out_salvos");
  for (std::size_t i = 0; i < out.size(); ++i)
    epoch.out_salvos.push_back(resolved(out[i], item_path(d.path_of("out_salvos"), i)));
  epoch.state = kind_named(kEpochStateNames, d.text("state"), "epoch state", d.path_of("state"));
  const std::vector<PyObject*> orphans = d.list("orphaned_packets");
  for (std::size_t i = 0; i < orphans.size(); ++i) {
    epoch.orphaned_packets.push_back(
        orphan_from_dict(orphans[i], item_path(d.path_of("orphaned_packets"), i)));
  }
  d.finish();
  return epoch;
}

}  // namespace zellik::py
