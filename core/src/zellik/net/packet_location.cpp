#include "zellik/net/packet_location.h"

#include <utility>

#include "zellik/base/quote.h"

namespace zellik {

PacketLocation PacketLocation::Node(Ulid epoch_id) { return PacketLocation(NodeLoc{epoch_id}); }

PacketLocation PacketLocation::InputPort(Name node_name, Name port_name) {
  return PacketLocation(InputPortLoc{std::move(node_name), std::move(port_name)});
}

PacketLocation PacketLocation::OutputPort(Ulid epoch_id, Name port_name) {
  return PacketLocation(OutputPortLoc{epoch_id, std::move(port_name)});
}

PacketLocation PacketLocation::Edge(zellik::Edge edge) {
  return PacketLocation(EdgeLoc{std::make_shared<const zellik::Edge>(std::move(edge))});
}

PacketLocation PacketLocation::OutsideNet() { return PacketLocation(OutsideLoc{}); }

const Ulid& PacketLocation::epoch_id() const {
  if (const auto* n = std::get_if<NodeLoc>(&v_)) return n->epoch_id;
  return std::get<OutputPortLoc>(v_).epoch_id;
}

const Name& PacketLocation::node_name() const { return std::get<InputPortLoc>(v_).node_name; }

const Name& PacketLocation::port_name() const {
  if (const auto* p = std::get_if<InputPortLoc>(&v_)) return p->port_name;
  return std::get<OutputPortLoc>(v_).port_name;
}

const zellik::Edge& PacketLocation::edge() const { return *std::get<EdgeLoc>(v_).edge; }

std::string PacketLocation::debug_string() const {
  switch (kind()) {
    case Kind::Node:
      return "Node(" + epoch_id().to_string() + ")";
    case Kind::InputPort:
      return "InputPort(" + quote_string_literal(node_name().view()) + ", " +
             quote_string_literal(port_name().view()) + ")";
    case Kind::OutputPort:
      return "OutputPort(" + epoch_id().to_string() + ", " +
             quote_string_literal(port_name().view()) + ")";
    case Kind::Edge:
      return "Edge(" + edge().to_string() + ")";
    case Kind::OutsideNet:
      break;
  }
  return "OutsideNet";
}

std::size_t PacketLocation::hash() const {
  const auto seed = static_cast<std::size_t>(v_.index());
  switch (kind()) {
    case Kind::Node:
      return hash_combine(seed, UlidHash{}(epoch_id()));
    case Kind::InputPort:
      return hash_combine(hash_combine(seed, node_name().hash()), port_name().hash());
    case Kind::OutputPort:
      return hash_combine(hash_combine(seed, UlidHash{}(epoch_id())), port_name().hash());
    case Kind::Edge:
      return hash_combine(seed, EdgeHash{}(edge()));
    case Kind::OutsideNet:
      break;
  }
  return hash_combine(seed, 0);
}

}  // namespace zellik
