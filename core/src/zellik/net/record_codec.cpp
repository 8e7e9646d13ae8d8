#include "zellik/net/record_codec.h"

#include <cstdint>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace zellik {
namespace codec {

// Records with a field list (zellik/base/fields.h) are written field by
// field in list order; a variant as its alternative's number, then the
// alternative (an event's timestamp first). Everything else is one of the
// leaf forms below.

// An enumeration is one byte, numbered from 0 to kLast<E>.
template <class E>
constexpr E kLast{};
template <>
constexpr PortType kLast<PortType> = PortType::Output;
template <>
constexpr EpochState kLast<EpochState> = EpochState::Finished;
template <>
constexpr RequestCreatedSource kLast<RequestCreatedSource> =
    RequestCreatedSource::OnNoSalvoTriggered;
template <>
constexpr PacketLocation::Kind kLast<PacketLocation::Kind> = PacketLocation::Kind::OutsideNet;

template <class T>
struct IsList : std::false_type {};
template <class T>
struct IsList<std::vector<T>> : std::true_type {};
template <class T>
struct IsVariant : std::false_type {};
template <class... T>
struct IsVariant<std::variant<T...>> : std::true_type {};
template <class T>
struct IsHeapValue : std::false_type {};
template <class T>
struct IsHeapValue<HeapValue<T>> : std::true_type {};
template <class T>
struct IsPair : std::false_type {};
template <class A, class B>
struct IsPair<std::pair<A, B>> : std::true_type {};

static void put(ByteWriter& w, const MaxSalvos& v);
static void get(ByteReader& r, MaxSalvos& v);

// The fewest bytes a T takes, so that a count can be checked against what
// is left before anything is reserved for it.
template <class T>
constexpr std::size_t min_bytes() {
  if constexpr (std::is_same_v<T, Ulid>) {
    return kUlidBytes;
  } else if constexpr (std::is_same_v<T, Name>) {
    return kMinNameBytes;
  } else if constexpr (std::is_same_v<T, std::uint64_t> || IsList<T>::value) {
    return sizeof(std::uint64_t);
  } else if constexpr (IsPair<T>::value) {
    return min_bytes<typename T::first_type>() + min_bytes<typename T::second_type>();
  } else if constexpr (HasFields<T>) {
    return std::apply(
        [](const auto&... fd) {
          return (std::size_t{0} + ... + min_bytes<typename std::decay_t<decltype(fd)>::Type>());
        },
        kFields<T>);
  } else {
    return 1;
  }
}

template <class T>
void put_value(ByteWriter& w, const T& v) {
  if constexpr (std::is_same_v<T, bool> || std::is_enum_v<T>) {
    w.u8(static_cast<std::uint8_t>(v));
  } else if constexpr (std::is_same_v<T, std::uint64_t>) {
    w.u64(v);
  } else if constexpr (std::is_same_v<T, std::int64_t>) {
    w.i64(v);
  } else if constexpr (IsList<T>::value) {
    w.u64(v.size());
    for (const auto& item : v) put_value(w, item);
  } else if constexpr (IsPair<T>::value) {
    put_value(w, v.first);
    put_value(w, v.second);
  } else if constexpr (IsVariant<T>::value) {
    static_assert(std::variant_size_v<T> < 256);
    w.u8(static_cast<std::uint8_t>(v.index()));
    std::visit([&w](const auto& alt) { put_value(w, alt); }, v);
  } else if constexpr (HasFields<T>) {
    if constexpr (requires { v.timestamp; }) put_value(w, v.timestamp);
    for_each_field(v, [&w](const char*, const auto& member) { put_value(w, member); });
  } else if constexpr (IsHeapValue<T>::value) {  // a value kept on the heap
    put_value(w, *v);
  } else {
    put(w, v);
  }
}

// A default value of an alternative, for get_value() to fill in.
template <class T>
T blank() {
  if constexpr (std::is_same_v<T, validation::InputSalvoConditionInvalidMaxSalvos>) {
    return {Name(), Name(), MaxSalvos::Infinite()};
  } else if constexpr (std::is_same_v<T, GraphValidationError>) {
    return validation::EdgeSourceNotOutputPort{};
  } else {
    return T{};
  }
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

template <class T>
void get_value(ByteReader& r, T& v) {
  if constexpr (std::is_same_v<T, bool> || std::is_enum_v<T>) {
    const std::uint8_t b = r.u8();
    if constexpr (std::is_same_v<T, bool>) {
      if (b > 1) r.fail();
      v = b == 1;
    } else if (b > static_cast<std::uint8_t>(kLast<T>)) {
      r.fail();
    } else {
      v = static_cast<T>(b);
    }
  } else if constexpr (std::is_same_v<T, std::uint64_t>) {
    v = r.u64();
  } else if constexpr (std::is_same_v<T, std::int64_t>) {
    v = r.i64();
  } else if constexpr (IsList<T>::value) {
    const std::uint64_t n = r.count(min_bytes<typename T::value_type>());
    v.clear();
    v.reserve(n);
    for (std::uint64_t i = 0; i < n && r.ok(); ++i) get_value(r, v.emplace_back());
  } else if constexpr (IsPair<T>::value) {
    get_value(r, v.first);
    get_value(r, v.second);
  } else if constexpr (IsVariant<T>::value) {
    const std::uint8_t index = r.u8();
    if (index >= std::variant_size_v<T>) {
      r.fail();
      return;
    }
    emplace_alternative(v, index);
    std::visit([&r](auto& alt) { get_value(r, alt); }, v);
  } else if constexpr (HasFields<T>) {
    if constexpr (requires { v.timestamp; }) get_value(r, v.timestamp);
    for_each_field(v, [&r](const char*, auto& member) { get_value(r, member); });
  } else if constexpr (IsHeapValue<T>::value) {
    get_value(r, *v);
  } else {
    get(r, v);
  }
}

// --- Leaf forms ------------------------------------------------------------------

void put(ByteWriter& w, const Ulid& id) {
  w.u64(id.hi);
  w.u64(id.lo);
}
void get(ByteReader& r, Ulid& id) {
  id.hi = r.u64();
  id.lo = r.u64();
}

void put_ids(ByteWriter& w, std::span<const Ulid> ids) {
  w.u64(ids.size());
  for (const Ulid& id : ids) put(w, id);
}
void get_ids(ByteReader& r, std::vector<Ulid>& into, std::uint64_t n) {
  const char* bytes = r.raw(static_cast<std::size_t>(n) * kUlidBytes);
  if (bytes == nullptr) return;
  ByteReader ids(std::string_view(bytes, static_cast<std::size_t>(n) * kUlidBytes));
  for (std::uint64_t i = 0; i < n; ++i) get(ids, into.emplace_back());
}

void put(ByteWriter& w, const Name& name) { w.text(name.view()); }
void get(ByteReader& r, Name& name) { name = Name(r.text()); }

static void put(ByteWriter& w, const MaxSalvos& v) {
  put_value(w, !v.is_infinite());
  w.u64(v.limit());
}
static void get(ByteReader& r, MaxSalvos& v) {
  bool finite = false;
  get_value(r, finite);
  const std::uint64_t n = r.u64();
  v = finite ? MaxSalvos::Finite(n) : MaxSalvos::Infinite();
}

void put(ByteWriter& w, const PacketLocation& location) {
  using Kind = PacketLocation::Kind;
  put_value(w, location.kind());
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
      put_value(w, location.edge());
      break;
    case Kind::OutsideNet:
      break;
  }
}

void get(ByteReader& r, PacketLocation& location) {
  using Kind = PacketLocation::Kind;
  Kind kind = Kind::OutsideNet;
  get_value(r, kind);
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
      get_value(r, edge);
      location = PacketLocation::Edge(std::move(edge));
      return;
    case Kind::OutsideNet:
      break;
  }
  location = PacketLocation::OutsideNet();
}

// --- Records with a field list, by name for the snapshot -------------------------

void put(ByteWriter& w, const PortRef& ref) { put_value(w, ref); }
void get(ByteReader& r, PortRef& ref) { get_value(r, ref); }
void put(ByteWriter& w, const Edge& edge) { put_value(w, edge); }
void get(ByteReader& r, Edge& edge) { get_value(r, edge); }
void put(ByteWriter& w, const Salvo& salvo) { put_value(w, salvo); }
void get(ByteReader& r, Salvo& salvo) { get_value(r, salvo); }
void put(ByteWriter& w, const OrphanedPacketInfo& info) { put_value(w, info); }
void get(ByteReader& r, OrphanedPacketInfo& info) { get_value(r, info); }
void put(ByteWriter& w, const Epoch& epoch) { put_value(w, epoch); }
void get(ByteReader& r, Epoch& epoch) { get_value(r, epoch); }

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

}  // namespace

template <class T>
std::string encode_record(const T& record) {
  ByteWriter w;
  w.u8(kRecordTag<T>);
  codec::put_value(w, record);
  return std::move(w.bytes());
}

template <class T>
std::optional<T> decode_record(std::string_view bytes) {
  ByteReader r(bytes);
  if (r.u8() != kRecordTag<T>) return std::nullopt;
  T record = codec::blank<T>();
  codec::get_value(r, record);
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
