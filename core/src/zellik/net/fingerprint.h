#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>

#include "zellik/base/name.h"
#include "zellik/net/handles.h"

namespace zellik {

// A 128-bit digest of a net's state. A plain value. Intentionally copyable.
struct Fingerprint {
  std::uint64_t hi = 0;
  std::uint64_t lo = 0;
  friend bool operator==(const Fingerprint&, const Fingerprint&) = default;
};

// The low half spreads its bits already, so hash tables use it as is.
struct FingerprintHash {
  std::size_t operator()(const Fingerprint& f) const { return f.lo; }
};

// The 128-bit digest of `words`, length included. Two independent 64-bit
// lanes, each a multiply-xorshift mix per word; not a cryptographic hash.
Fingerprint fingerprint_of(std::span<const std::uint64_t> words);

// How a net's graph is laid out for the canonical encoding: every name that
// the encoding writes as a number, numbered in name order so that two
// graphs equal as values number alike, and the handles of the fixed
// locations in that order. Built once per net (canonical_state.cpp).
struct StateLayout {
  struct NodeLayout {
    std::uint32_t index = 0;      // the node's position among the nodes in name order
    std::vector<Name> in_ports;   // in name order
    std::vector<Name> out_ports;  // in name order
    // By output port in the node's order, its place in name order.
    std::vector<std::uint32_t> out_port_rank;
    boost::unordered_flat_map<Name, std::uint32_t, NameHash, NameEq>
        in_conditions;  // in graph order
    boost::unordered_flat_map<Name, std::uint32_t, NameHash, NameEq>
        out_conditions;  // in graph order
  };
  boost::unordered_flat_map<Name, NodeLayout, NameHash, NameEq> nodes;
  // Node names in name order.
  std::vector<Name> node_order;
  // By a node's position in the graph, its entry in `nodes`.
  std::vector<const NodeLayout*> by_position;
  // Input ports (node, then port, in name order), then edges (by their four
  // names), then OutsideNet.
  std::vector<LocationHandle> fixed_locations;
};

struct Epoch;

// Where canonical_state keeps one epoch's record among its words.
struct EpochRecordSpan {
  std::size_t begin = 0;
  std::size_t end = 0;
  const Epoch* epoch = nullptr;
};

}  // namespace zellik
