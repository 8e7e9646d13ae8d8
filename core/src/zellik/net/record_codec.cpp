#include "zellik/net/record_codec.h"

#include <cstdint>
#include <utility>
#include <variant>
#include <vector>

namespace zellik {
namespace codec {

// --- Scalars and names -------------------------------------------------------

// The smallest byte size of a few repeated items, so that a count can be
// checked against what is left before anything is reserved for it.
static constexpr std::size_t kMinNameBytes = 4;
static constexpr std::size_t kUlidBytes = 16;

static void put(ByteWriter& w, bool v) { w.u8(v ? 1 : 0); }
static void put(ByteWriter& w, std::uint64_t v) { w.u64(v); }
static void put(ByteWriter& w, std::int64_t v) { w.i64(v); }

static void get(ByteReader& r, bool& v) {
  const std::uint8_t b = r.u8();
  if (b > 1) r.fail();
  v = b == 1;
}
static void get(ByteReader& r, std::uint64_t& v) { v = r.u64(); }
static void get(ByteReader& r, std::int64_t& v) { v = r.i64(); }

// An enumeration stored as one byte, numbered from 0 to kLast.
template <class E, E kLast>
static void get_enum(ByteReader& r, E& v) {
  const std::uint8_t b = r.u8();
  if (b > static_cast<std::uint8_t>(kLast)) {
    r.fail();
    return;
  }
  v = static_cast<E>(b);
}

static void put(ByteWriter& w, PortType v) { w.u8(static_cast<std::uint8_t>(v)); }
static void get(ByteReader& r, PortType& v) { get_enum<PortType, PortType::Output>(r, v); }
static void put(ByteWriter& w, RequestCreatedSource v) { w.u8(static_cast<std::uint8_t>(v)); }
static void get(ByteReader& r, RequestCreatedSource& v) {
  get_enum<RequestCreatedSource, RequestCreatedSource::OnNoSalvoTriggered>(r, v);
}

static void put(ByteWriter& w, const MaxSalvos& v) {
  put(w, !v.is_infinite());
  w.u64(v.limit());
}
static void get(ByteReader& r, MaxSalvos& v) {
  bool finite = false;
  get(r, finite);
  const std::uint64_t n = r.u64();
  v = finite ? MaxSalvos::Finite(n) : MaxSalvos::Infinite();
}

template <class T>
static void put_list(ByteWriter& w, const std::vector<T>& items) {
  w.u64(items.size());
  for (const T& item : items) put(w, item);
}
template <class T>
static void get_list(ByteReader& r, std::vector<T>& items, std::size_t min_item_bytes) {
  const std::uint64_t n = r.count(min_item_bytes);
  items.clear();
  items.reserve(n);
  for (std::uint64_t i = 0; i < n && r.ok(); ++i) get(r, items.emplace_back());
}

static void put(ByteWriter& w, const std::vector<Name>& v) { put_list(w, v); }
static void get(ByteReader& r, std::vector<Name>& v) { get_list(r, v, kMinNameBytes); }

void put(ByteWriter& w, const Ulid& id) {
  w.u64(id.hi);
  w.u64(id.lo);
}
void get(ByteReader& r, Ulid& id) {
  id.hi = r.u64();
  id.lo = r.u64();
}

void put(ByteWriter& w, const Name& name) { w.text(name.view()); }
void get(ByteReader& r, Name& name) { name = Name(r.text()); }

// --- Graph references ---------------------------------------------------------

void put(ByteWriter& w, const PortRef& ref) {
  put(w, ref.node_name);
  put(w, ref.port_type);
  put(w, ref.port_name);
}
void get(ByteReader& r, PortRef& ref) {
  get(r, ref.node_name);
  get(r, ref.port_type);
  get(r, ref.port_name);
}

void put(ByteWriter& w, const Edge& edge) {
  put(w, edge.source);
  put(w, edge.target);
}
void get(ByteReader& r, Edge& edge) {
  get(r, edge.source);
  get(r, edge.target);
}

// --- Net records ---------------------------------------------------------------

void put(ByteWriter& w, const PacketLocation& location) {
  using Kind = PacketLocation::Kind;
  w.u8(static_cast<std::uint8_t>(location.kind()));
  switch (location.kind()) {
    case Kind::Node:
      put(w, location.epoch_id());
      break;
    case Kind::InputPort:
      put(w, location.node_name());
      put(w, location.port_name());
      break;
    case Kind::OutputPort:
      put(w, location.epoch_id());
      put(w, location.port_name());
      break;
    case Kind::Edge:
      put(w, location.edge());
      break;
    case Kind::OutsideNet:
      break;
  }
}

void get(ByteReader& r, PacketLocation& location) {
  using Kind = PacketLocation::Kind;
  Kind kind = Kind::OutsideNet;
  get_enum<Kind, Kind::OutsideNet>(r, kind);
  Ulid id;
  Name a;
  Name b;
  Edge edge;
  switch (kind) {
    case Kind::Node:
      get(r, id);
      location = PacketLocation::Node(id);
      return;
    case Kind::InputPort:
      get(r, a);
      get(r, b);
      location = PacketLocation::InputPort(std::move(a), std::move(b));
      return;
    case Kind::OutputPort:
      get(r, id);
      get(r, b);
      location = PacketLocation::OutputPort(id, std::move(b));
      return;
    case Kind::Edge:
      get(r, edge);
      location = PacketLocation::Edge(std::move(edge));
      return;
    case Kind::OutsideNet:
      break;
  }
  location = PacketLocation::OutsideNet();
}

void put(ByteWriter& w, const Salvo& salvo) {
  put(w, salvo.salvo_condition);
  w.u64(salvo.packets.size());
  for (const auto& [port, id] : salvo.packets) {
    put(w, port);
    put(w, id);
  }
}
void get(ByteReader& r, Salvo& salvo) {
  get(r, salvo.salvo_condition);
  const std::uint64_t n = r.count(kMinNameBytes + kUlidBytes);
  salvo.packets.clear();
  salvo.packets.reserve(n);
  for (std::uint64_t i = 0; i < n && r.ok(); ++i) {
    auto& [port, id] = salvo.packets.emplace_back();
    get(r, port);
    get(r, id);
  }
}

void put(ByteWriter& w, const OrphanedPacketInfo& info) {
  put(w, info.packet_id);
  put(w, info.from_port);
  put(w, info.salvo_condition);
}
void get(ByteReader& r, OrphanedPacketInfo& info) {
  get(r, info.packet_id);
  get(r, info.from_port);
  get(r, info.salvo_condition);
}

void put(ByteWriter& w, const Epoch& epoch) {
  put(w, epoch.id);
  put(w, epoch.node_name);
  w.u8(static_cast<std::uint8_t>(epoch.state));
  put(w, epoch.in_salvo);
  put_list(w, epoch.out_salvos);
  put_list(w, epoch.orphaned_packets);
}
void get(ByteReader& r, Epoch& epoch) {
  get(r, epoch.id);
  get(r, epoch.node_name);
  get_enum<EpochState, EpochState::Finished>(r, epoch.state);
  get(r, epoch.in_salvo);
  get_list(r, epoch.out_salvos, kMinNameBytes + 8);
  get_list(r, epoch.orphaned_packets, kUlidBytes + 2 * kMinNameBytes);
}

static void put(ByteWriter& w, const HeapValue<Epoch>& epoch) { put(w, *epoch); }
static void get(ByteReader& r, HeapValue<Epoch>& epoch) { get(r, *epoch); }

void put(ByteWriter& w, const Packet& packet) {
  put(w, packet.id);
  put(w, packet.location);
}
void get(ByteReader& r, Packet& packet) {
  get(r, packet.id);
  get(r, packet.location);
}

// --- Variant records -----------------------------------------------------------
// Each alternative lists its fields once; the same list writes and reads.

namespace {

// An event: its timestamp, then its field list (net_event.h).
template <class E, class F>
requires(!event::kKindName<E>.empty()) void fields(E& e, F&& f) {
  f(e.timestamp);
  event::for_each_field(e, [&](const char*, auto& member) { f(member); });
}

namespace v = validation;
template <class F>
void fields(v::MultipleEdgesFromOutputPort& e, F&& f) {
  f(e.output_port, e.edge_count);
}
template <class F>
void fields(v::EdgeReferencesNonexistentNode& e, F&& f) {
  f(e.edge_source, e.edge_target, e.missing_node);
}
template <class F>
void fields(v::EdgeReferencesNonexistentPort& e, F&& f) {
  f(e.edge_source, e.edge_target, e.missing_port);
}
template <class F>
void fields(v::EdgeSourceNotOutputPort& e, F&& f) {
  f(e.edge_source, e.edge_target);
}
template <class F>
void fields(v::EdgeTargetNotInputPort& e, F&& f) {
  f(e.edge_source, e.edge_target);
}
template <class F>
void fields(v::SalvoConditionReferencesNonexistentPort& e, F&& f) {
  f(e.node_name, e.condition_name, e.is_input_condition, e.missing_port);
}
template <class F>
void fields(v::SalvoConditionTermReferencesNonexistentPort& e, F&& f) {
  f(e.node_name, e.condition_name, e.is_input_condition, e.missing_port);
}
template <class F>
void fields(v::InputSalvoConditionInvalidMaxSalvos& e, F&& f) {
  f(e.node_name, e.condition_name, e.max_salvos);
}
template <class F>
void fields(v::DependencyEdgeNotInGraph& e, F&& f) {
  f(e.edge);
}
template <class F>
void fields(v::DependencyRequestConfigWithoutDependencyEdges& e, F&& f) {
  f(e.node_name);
}

template <class... Ts>
void put_variant(ByteWriter& w, const std::variant<Ts...>& value) {
  static_assert(sizeof...(Ts) < 256);
  w.u8(static_cast<std::uint8_t>(value.index()));
  std::visit(
      [&](const auto& alt) {
        // fields() takes the record by non-const reference so that one list
        // serves reading too; writing only reads through it.
        auto& record =
            const_cast<std::remove_const_t<std::remove_reference_t<decltype(alt)>>&>(alt);
        fields(record, [&](const auto&... xs) { (put(w, xs), ...); });
      },
      value);
}

// A default value of an alternative, for get() to fill in.
template <class T>
T blank() {
  return T{};
}
template <>
v::InputSalvoConditionInvalidMaxSalvos blank() {
  return {Name(), Name(), MaxSalvos::Infinite()};
}

template <class Variant, std::size_t I = 0>
void emplace_alternative(Variant& value, std::size_t index) {
  if constexpr (I < std::variant_size_v<Variant>) {
    if (index == I) {
      value.template emplace<I>(blank<std::variant_alternative_t<I, Variant>>());
      return;
    }
    emplace_alternative<Variant, I + 1>(value, index);
  }
}

template <class... Ts>
void get_variant(ByteReader& r, std::variant<Ts...>& value) {
  const std::uint8_t index = r.u8();
  if (index >= sizeof...(Ts)) {
    r.fail();
    return;
  }
  emplace_alternative(value, index);
  std::visit([&](auto& alt) { fields(alt, [&](auto&... xs) { (get(r, xs), ...); }); }, value);
}

}  // namespace

}  // namespace codec

// --- Stand-alone records ---------------------------------------------------------

namespace {

// The tag byte of each record type.
template <class T>
constexpr std::uint8_t kRecordTag = 0;
template <>
constexpr std::uint8_t kRecordTag<Packet> = 0x50;  // 'P'
template <>
constexpr std::uint8_t kRecordTag<Epoch> = 0x45;  // 'E'
template <>
constexpr std::uint8_t kRecordTag<OrphanedPacketInfo> = 0x4F;  // 'O'
template <>
constexpr std::uint8_t kRecordTag<NetEvent> = 0x56;  // 'V'
template <>
constexpr std::uint8_t kRecordTag<GraphValidationError> = 0x47;  // 'G'

template <class T>
T blank_record() {
  if constexpr (std::is_same_v<T, GraphValidationError>) {
    return validation::EdgeSourceNotOutputPort{};
  } else {
    return T{};
  }
}

template <class T>
void put_any(ByteWriter& w, const T& record) {
  if constexpr (requires { record.index(); }) {
    codec::put_variant(w, record);
  } else {
    codec::put(w, record);
  }
}

template <class T>
void get_any(ByteReader& r, T& record) {
  if constexpr (requires { record.index(); }) {
    codec::get_variant(r, record);
  } else {
    codec::get(r, record);
  }
}

}  // namespace

template <class T>
std::string encode_record(const T& record) {
  ByteWriter w;
  w.u8(kRecordTag<T>);
  put_any(w, record);
  return std::move(w.bytes());
}

template <class T>
std::optional<T> decode_record(std::string_view bytes) {
  ByteReader r(bytes);
  if (r.u8() != kRecordTag<T>) return std::nullopt;
  T record = blank_record<T>();
  get_any(r, record);
  if (!r.ok() || r.remaining() != 0) return std::nullopt;
  return record;
}

#define ZELLIK_RECORD_CODEC(T)                     \
  template std::string encode_record<T>(const T&); \
  template std::optional<T> decode_record<T>(std::string_view);
ZELLIK_RECORD_CODEC(Packet)
ZELLIK_RECORD_CODEC(Epoch)
ZELLIK_RECORD_CODEC(OrphanedPacketInfo)
ZELLIK_RECORD_CODEC(NetEvent)
ZELLIK_RECORD_CODEC(GraphValidationError)
#undef ZELLIK_RECORD_CODEC

}  // namespace zellik
