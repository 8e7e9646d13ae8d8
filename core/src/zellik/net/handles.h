#pragma once

#include <cstdint>
#include <limits>

namespace zellik {

// A small dense number naming one location of a net while it exists. Edges,
// input ports and OutsideNet get theirs when the net is made and keep them;
// a Node or OutputPort location gets one when its epoch is created, and the
// number is reused once the epoch is gone.
using LocationHandle = std::uint32_t;
inline constexpr LocationHandle kNoLocation = std::numeric_limits<LocationHandle>::max();

// A packet's row in the net's dense packet table, held while the packet
// exists; a departed packet's row is reused. Queues hold these, so a step
// reaches a packet's record without hashing its id.
using PacketIndex = std::uint32_t;
inline constexpr PacketIndex kNoPacket = std::numeric_limits<PacketIndex>::max();

}  // namespace zellik
