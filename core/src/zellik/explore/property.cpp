// Properties checked at every visited state: what a graph can check, and
// their evaluation on a net.

#include "zellik/explore/property.h"

#include <unordered_set>

#include "zellik/net/net_sim_restore.h"

namespace zellik::explore {

namespace {

std::string q(const std::string& text) { return "'" + text + "'"; }

std::optional<std::string> check_location(const Graph& graph, const PacketLocation& at,
                                          const std::string& where) {
  using Kind = PacketLocation::Kind;
  if (at.is(Kind::OutsideNet)) return std::nullopt;
  if (at.is(Kind::Edge)) {
    for (const Edge& edge : graph.edges()) {
      if (edge == at.edge()) return std::nullopt;
    }
    return where + "counts at edge " + at.edge().to_string() + ", which the graph lacks";
  }
  if (at.is(Kind::InputPort)) {
    const Node* node = graph.find_node(at.node_name());
    if (node == nullptr)
      return where + "counts at node " + q(at.node_name().str()) + ", which the graph lacks";
    if (node->in_ports.find(at.port_name()) == node->in_ports.end()) {
      return where + "counts at input port " + q(at.port_name().str()) + ", which node " +
             q(at.node_name().str()) + " lacks";
    }
    return std::nullopt;
  }
  return where + "counts at " + at.debug_string() +
         ", a location of one epoch: count at an output port of a node instead";
}

}  // namespace

std::optional<std::string> check_properties(const Graph& graph,
                                            const std::vector<Property>& properties) {
  std::unordered_set<std::string> names;
  for (const Property& p : properties) {
    const std::string where = "property " + q(p.name) + " ";
    if (!names.insert(p.name).second) return "two properties are named " + q(p.name);
    switch (p.kind) {
      case Property::Kind::AtLocation:
        if (auto error = check_location(graph, p.location, where)) return error;
        break;
      case Property::Kind::AtOutputPort:
      case Property::Kind::LiveEpochs: {
        const Node* node = graph.find_node(p.node);
        if (node == nullptr)
          return where + "names node " + q(p.node.str()) + ", which the graph lacks";
        if (p.kind == Property::Kind::AtOutputPort &&
            node->out_ports.find(p.port) == node->out_ports.end()) {
          return where + "counts at output port " + q(p.port.str()) + ", which node " +
                 q(p.node.str()) + " lacks";
        }
        break;
      }
      case Property::Kind::Holds:
        if (!p.holds) return where + "has no function to call";
        break;
      case Property::Kind::InNet:
      case Property::Kind::NoOrphans:
        break;
    }
  }
  return std::nullopt;
}

void share_property_names(const Graph& graph, std::vector<Property>& properties) {
  for (Property& p : properties) {
    if (const Node* node = graph.find_node(p.node)) {
      p.node = node->name;
      for (const auto& [name, port] : node->out_ports) {
        if (name == p.port) p.port = name;
      }
    }
    const PacketLocation& at = p.location;
    if (at.is(PacketLocation::Kind::Edge)) {
      for (const Edge& edge : graph.edges()) {
        if (edge == at.edge()) p.location = PacketLocation::Edge(edge);
      }
    } else if (at.is(PacketLocation::Kind::InputPort)) {
      if (const Node* node = graph.find_node(at.node_name())) {
        for (const auto& [name, port] : node->in_ports) {
          if (name == at.port_name()) p.location = PacketLocation::InputPort(node->name, name);
        }
      }
    }
  }
}

PropertyCheck::PropertyCheck(const NetSim& start, const std::vector<Property>& properties)
    : properties_(properties),
      outside_at_start_(start.packet_count_at(PacketLocation::OutsideNet())) {}

std::size_t PropertyCheck::first_violated(const NetSim& net) const {
  for (std::size_t i = 0; i < properties_.size(); ++i) {
    if (!holds(properties_[i], net)) return i;
  }
  return kNone;
}

bool PropertyCheck::holds(const Property& p, const NetSim& net) const {
  switch (p.kind) {
    case Property::Kind::AtLocation:
      return net.packet_count_at(p.location) <= p.limit;
    case Property::Kind::AtOutputPort: {
      const NodeEpochs& by_node = NetSimRestore::node_epochs(net);
      const auto it = by_node.find(p.node);
      if (it == by_node.end()) return true;
      std::uint64_t count = 0;
      for (const Ulid& epoch : it->second) {
        count += net.packet_count_at(PacketLocation::OutputPort(epoch, p.port));
      }
      return count <= p.limit;
    }
    case Property::Kind::InNet:
      return net.packet_count() - net.packet_count_at(PacketLocation::OutsideNet()) <= p.limit;
    case Property::Kind::LiveEpochs: {
      const NodeEpochs& by_node = NetSimRestore::node_epochs(net);
      const auto it = by_node.find(p.node);
      return it == by_node.end() || it->second.size() <= p.limit;
    }
    case Property::Kind::NoOrphans:
      return net.packet_count_at(PacketLocation::OutsideNet()) <= outside_at_start_;
    case Property::Kind::Holds:
      return p.holds(net);
  }
  return true;
}

}  // namespace zellik::explore
