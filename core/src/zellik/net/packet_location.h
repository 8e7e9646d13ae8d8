#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "zellik/base/name.h"
#include "zellik/graph/port.h"
#include "zellik/net/ulid.h"

namespace zellik {

// Where a packet is. A plain value, compared and hashed field by field. The
// names it holds are shared and an Edge's endpoints are held once for all
// copies, so copying never allocates and the value stays at 40 bytes (events
// carry two of them). Intentionally copyable.
class PacketLocation {
 public:
  enum class Kind : std::uint8_t {
    Node = 0,
    InputPort = 1,
    OutputPort = 2,
    Edge = 3,
    OutsideNet = 4
  };

  // Inside the startable or running epoch `epoch_id`.
  static PacketLocation Node(Ulid epoch_id);
  // Waiting at an input port of a node.
  static PacketLocation InputPort(Name node_name, Name port_name);
  // Loaded into an output port of the epoch `epoch_id`.
  static PacketLocation OutputPort(Ulid epoch_id, Name port_name);
  // Travelling on an edge.
  static PacketLocation Edge(zellik::Edge edge);
  // Outside the network.
  static PacketLocation OutsideNet();

  PacketLocation() : PacketLocation(OutsideNet()) {}

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool is(Kind k) const { return kind() == k; }

  // Node and OutputPort only.
  const Ulid& epoch_id() const;
  // InputPort only.
  const Name& node_name() const;
  // InputPort and OutputPort only.
  const Name& port_name() const;
  // Edge only.
  const zellik::Edge& edge() const;

  // "Node(<id>)", "InputPort(\"n\", \"p\")", "OutputPort(<id>, \"p\")",
  // "Edge(A.out.x -> B.in.y)", "OutsideNet".
  std::string debug_string() const;

  friend bool operator==(const PacketLocation& a, const PacketLocation& b) { return a.v_ == b.v_; }
  std::size_t hash() const;

 private:
  struct NodeLoc {
    Ulid epoch_id;
    friend bool operator==(const NodeLoc&, const NodeLoc&) = default;
  };
  struct InputPortLoc {
    Name node_name;
    Name port_name;
    friend bool operator==(const InputPortLoc&, const InputPortLoc&) = default;
  };
  struct OutputPortLoc {
    Ulid epoch_id;
    Name port_name;
    friend bool operator==(const OutputPortLoc&, const OutputPortLoc&) = default;
  };
  struct EdgeLoc {
    std::shared_ptr<const zellik::Edge> edge;
    friend bool operator==(const EdgeLoc& a, const EdgeLoc& b) {
      return a.edge == b.edge || *a.edge == *b.edge;
    }
  };
  struct OutsideLoc {
    friend bool operator==(const OutsideLoc&, const OutsideLoc&) = default;
  };
  using Variant = std::variant<NodeLoc, InputPortLoc, OutputPortLoc, EdgeLoc, OutsideLoc>;

  explicit PacketLocation(Variant v) : v_(std::move(v)) {}
  Variant v_;
};

struct PacketLocationHash {
  std::size_t operator()(const PacketLocation& loc) const { return loc.hash(); }
};

}  // namespace zellik
