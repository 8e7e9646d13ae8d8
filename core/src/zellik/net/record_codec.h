#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zellik/base/byte_stream.h"
#include "zellik/base/name.h"
#include "zellik/graph/port.h"
#include "zellik/graph/validation.h"
#include "zellik/net/epoch.h"
#include "zellik/net/net_event.h"
#include "zellik/net/packet_location.h"
#include "zellik/net/ulid.h"

namespace zellik {

// Byte forms of the engine's records, shared by the net snapshot and by the
// stand-alone forms below. put() appends a value; get() reads one back and
// marks the reader failed on anything it cannot be (short input, a variant or
// enumeration number out of range), leaving the target in a valid state.
namespace codec {

// The byte sizes of an id and of the shortest name (its u32 length).
inline constexpr std::size_t kUlidBytes = 16;
inline constexpr std::size_t kMinNameBytes = 4;

void put(ByteWriter& w, const Ulid& id);
void put(ByteWriter& w, const Name& name);
void put(ByteWriter& w, const PortRef& ref);
void put(ByteWriter& w, const Edge& edge);
void put(ByteWriter& w, const PacketLocation& location);
void put(ByteWriter& w, const Salvo& salvo);
void put(ByteWriter& w, const OrphanedPacketInfo& info);
void put(ByteWriter& w, const Epoch& epoch);

void get(ByteReader& r, Ulid& id);
void get(ByteReader& r, Name& name);
void get(ByteReader& r, PortRef& ref);
void get(ByteReader& r, Edge& edge);
void get(ByteReader& r, PacketLocation& location);
void get(ByteReader& r, Salvo& salvo);
void get(ByteReader& r, OrphanedPacketInfo& info);
void get(ByteReader& r, Epoch& epoch);

// Ids in bulk: put_ids writes a u64 count and the ids; get_ids appends `n`
// ids (their count read by the caller), taken from the reader in one piece.
void put_ids(ByteWriter& w, std::span<const Ulid> ids);
void get_ids(ByteReader& r, std::vector<Ulid>& into, std::uint64_t n);

}  // namespace codec

// A record on its own: a tag byte naming its type, the record, and nothing
// after it. decode_record gives nothing for bytes that are not exactly that.
// Defined for Packet, Epoch, OrphanedPacketInfo, NetEvent and
// GraphValidationError.
template <class T>
std::string encode_record(const T& record);
template <class T>
std::optional<T> decode_record(std::string_view bytes);

}  // namespace zellik
