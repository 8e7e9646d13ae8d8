#include "zellik/net/packet_location.h"

#include <utility>
#include <variant>

#include "zellik/base/quote.h"

namespace zellik {

namespace {

// The hash of each kind: the kind's number combined with its fields.
std::size_t seed_of(PacketLocation::Kind kind) { return static_cast<std::size_t>(kind); }

}  // namespace

PacketLocation PacketLocation::Node(Ulid epoch_id) {
  auto* rep = new Rep;
  rep->kind = Kind::Node;
  rep->epoch_id = epoch_id;
  rep->hash = hash_combine(seed_of(Kind::Node), UlidHash{}(epoch_id));
  return Make(rep);
}

std::size_t EpochPlace::hash() const {
  const std::size_t h = hash_combine(seed_of(kind), UlidHash{}(*epoch_id));
  return kind == PacketLocation::Kind::OutputPort ? hash_combine(h, port_name->hash()) : h;
}

PacketLocation PacketLocation::InputPort(Name node_name, Name port_name) {
  auto* rep = new Rep;
  rep->kind = Kind::InputPort;
  rep->hash =
      hash_combine(hash_combine(seed_of(Kind::InputPort), node_name.hash()), port_name.hash());
  rep->node_name = std::move(node_name);
  rep->port_name = std::move(port_name);
  return Make(rep);
}

PacketLocation PacketLocation::OutputPort(Ulid epoch_id, Name port_name) {
  auto* rep = new Rep;
  rep->kind = Kind::OutputPort;
  rep->epoch_id = epoch_id;
  rep->hash =
      hash_combine(hash_combine(seed_of(Kind::OutputPort), UlidHash{}(epoch_id)), port_name.hash());
  rep->port_name = std::move(port_name);
  return Make(rep);
}

std::size_t EdgePlace::hash() const {
  return hash_combine(seed_of(PacketLocation::Kind::Edge), EdgeHash{}(*edge));
}

PacketLocation PacketLocation::Edge(zellik::Edge edge) {
  auto* rep = new Rep;
  rep->kind = Kind::Edge;
  rep->hash = hash_combine(seed_of(Kind::Edge), EdgeHash{}(edge));
  rep->edge = std::move(edge);
  return Make(rep);
}

bool PacketLocation::Rep::same_place(const Rep& other) const {
  if (kind != other.kind) return false;
  switch (kind) {
    case Kind::Node:
      return epoch_id == other.epoch_id;
    case Kind::InputPort:
      return node_name == other.node_name && port_name == other.port_name;
    case Kind::OutputPort:
      return epoch_id == other.epoch_id && port_name == other.port_name;
    case Kind::Edge:
      return edge == other.edge;
    case Kind::OutsideNet:
      break;
  }
  return true;
}

const Ulid& PacketLocation::epoch_id() const {
  if (!is(Kind::Node) && !is(Kind::OutputPort)) throw std::bad_variant_access();
  return rep_->epoch_id;
}

const Name& PacketLocation::node_name() const {
  if (!is(Kind::InputPort)) throw std::bad_variant_access();
  return rep_->node_name;
}

const Name& PacketLocation::port_name() const {
  if (!is(Kind::InputPort) && !is(Kind::OutputPort)) throw std::bad_variant_access();
  return rep_->port_name;
}

const zellik::Edge& PacketLocation::edge() const {
  if (!is(Kind::Edge)) throw std::bad_variant_access();
  return rep_->edge;
}

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
  return rep_ != nullptr ? rep_->hash : hash_combine(seed_of(Kind::OutsideNet), 0);
}

}  // namespace zellik
