#include "zellik_py/net/net_dicts.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/field_dicts.h"
#include "zellik_py/binding/guard.h"
#include "zellik_py/net/identifiers.h"

namespace zellik::py {

// An epoch's saved dict has its salvos before its state.
template <>
struct DictOrder<Epoch> {
  static constexpr std::array<std::string_view, 6> kNames = {
      "id", "node_name", "in_salvo", "out_salvos", "state", "orphaned_packets"};
};

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

// The dicts of the net's records walk their field lists (field_dicts.h):
// each member type has one dict value and one reading below.
struct NetDict {};

template <class R>
Ref record_dict(const R& record) {
  return fields_to_dict(NetDict{}, record);
}
template <class R>
R record_at(PyObject* obj, const std::string& path) {
  return fields_from_dict<R>(NetDict{}, obj, path);
}

Ref dict_value(NetDict, const Ulid& id) { return id_to_py(id); }
Ref dict_value(NetDict, const Name& name) { return to_py(name); }
Ref dict_value(NetDict, PortType type) { return name_in(kPortTypeNames, type); }
Ref dict_value(NetDict, EpochState state) { return name_in(kEpochStateNames, state); }
Ref dict_value(NetDict, const PortRef& ref) { return record_dict(ref); }
Ref dict_value(NetDict, const Edge& edge) { return record_dict(edge); }
Ref dict_value(NetDict, const OrphanedPacketInfo& info) { return record_dict(info); }
// A salvo's packets as [port_name, packet_id] lists; an engine's salvo as
// the Salvo class holds it, ids as text.
Ref dict_value(NetDict, const std::vector<std::pair<Name, std::string>>& packets) {
  return list_of(packets, [](const std::pair<Name, std::string>& p) {
    Ref pair = own(PyList_New(2));
    PyList_SetItem(pair.get(), 0, to_py(p.first).release());
    PyList_SetItem(pair.get(), 1, to_py(std::string_view(p.second)).release());
    return pair;
  });
}
Ref dict_value(NetDict, const Salvo& salvo) { return record_dict(SalvoText::of(salvo)); }
template <class V>
Ref dict_value(NetDict, const std::vector<V>& items) {
  return list_of(items, [](const V& item) { return dict_value(NetDict{}, item); });
}

void read_at(PyObject* obj, const std::string& path, PortRef& out) {
  out = record_at<PortRef>(obj, path);
}
void read_at(PyObject* obj, const std::string& path, OrphanedPacketInfo& out) {
  out = record_at<OrphanedPacketInfo>(obj, path);
}
// Salvo packet ids inside an epoch are the engine's: parsed here.
void read_at(PyObject* obj, const std::string& path, Salvo& out) {
  const SalvoText text = record_at<SalvoText>(obj, path);
  out = Salvo{text.salvo_condition, {}};
  for (std::size_t i = 0; i < text.packets.size(); ++i) {
    const std::string id_path = item_path(path + ".packets", i) + "[1]";
    const auto parsed = parse_ulid(text.packets[i].second);
    if (!parsed.ok()) {
      raise_field(id_path, "Invalid ULID: " + std::string(ulid_parse_error_reason(parsed.error())));
    }
    out.packets.emplace_back(text.packets[i].first, parsed.value());
  }
}

void read(NetDict, DictReader& d, const char* key, Ulid& out) { out = d.id(key); }
void read(NetDict, DictReader& d, const char* key, Name& out) { out = d.name(key); }
void read(NetDict, DictReader& d, const char* key, PortType& out) {
  out = kind_named(kPortTypeNames, d.text(key), "port type", d.path_of(key));
}
void read(NetDict, DictReader& d, const char* key, EpochState& out) {
  out = kind_named(kEpochStateNames, d.text(key), "epoch state", d.path_of(key));
}
void read(NetDict, DictReader& d, const char* key, std::vector<std::pair<Name, std::string>>& out) {
  const std::vector<PyObject*> items = d.list(key);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string at = item_path(d.path_of(key), i);
    if (!PyList_Check(items[i]) || PyList_Size(items[i]) != 2)
      raise_field(at, "expected [port_name, packet_id]");
    out.emplace_back(Name(text_at(PyList_GetItem(items[i], 0), at + "[0]")),
                     text_at(PyList_GetItem(items[i], 1), at + "[1]"));
  }
}
template <class V>
requires requires(PyObject* obj, const std::string& path, V& v) { read_at(obj, path, v); }
void read(NetDict, DictReader& d, const char* key, V& out) {
  read_at(d.field(key), d.path_of(key), out);
}
template <class V>
void read(NetDict, DictReader& d, const char* key, std::vector<V>& out) {
  const std::vector<PyObject*> items = d.list(key);
  for (std::size_t i = 0; i < items.size(); ++i) {
    read_at(items[i], item_path(d.path_of(key), i), out.emplace_back());
  }
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
      d.set("edge", dict_value(NetDict{}, location.edge()));
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
    case PacketLocation::Kind::Edge:
      location = PacketLocation::Edge(record_at<Edge>(d.field("edge"), d.path_of("edge")));
      break;
    case PacketLocation::Kind::OutsideNet:
      break;
  }
  d.finish();
  return location;
}

Ref salvo_to_dict(const SalvoText& salvo) { return record_dict(salvo); }

SalvoText salvo_from_dict(PyObject* obj, const std::string& path) {
  return record_at<SalvoText>(obj, path);
}

Ref epoch_to_dict(const Epoch& epoch) { return record_dict(epoch); }

Epoch epoch_from_dict(PyObject* obj, const std::string& path) {
  return record_at<Epoch>(obj, path);
}

}  // namespace zellik::py
