#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "zellik/base/result.h"
#include "zellik/graph/graph.h"
#include "zellik/net/net_sim.h"

namespace zellik {

// The format version that encode_snapshot writes and decode_snapshot reads.
inline constexpr std::uint32_t kSnapshotFormatVersion = 1;

// Why bytes could not be restored as a net; `text` says it in one sentence.
// Intentionally copyable.
struct SnapshotError {
  std::string text;
};

// The whole state of `net` as bytes: its packets by location in queue order,
// its live epochs by node in list order, the startable set, the request
// state. The graph is not included: a snapshot is restored over a graph the
// caller keeps. Read-only on `net`.
std::string encode_snapshot(const NetSim& net);

// A new net over `graph` holding the state that `bytes` describe. Every read
// is bounds-checked, a checksum covers the bytes, and the decoded state is
// checked against `graph` in full before the net is built, so bytes of
// another format version, cut short, altered, or naming a node, port or
// edge the graph lacks give an error and no net. Every state that actions
// and undo can reach comes back as it was (see check_state). An invalid
// graph throws InternalFailure, as the NetSim constructor does.
Result<std::unique_ptr<NetSim>, SnapshotError> decode_snapshot(const Graph& graph,
                                                               std::string_view bytes);

}  // namespace zellik
