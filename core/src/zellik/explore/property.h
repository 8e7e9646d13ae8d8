#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "zellik/base/name.h"
#include "zellik/graph/graph.h"
#include "zellik/net/net_sim.h"
#include "zellik/net/packet_location.h"

namespace zellik::explore {

// A claim about every state an exploration reaches, checked at each state
// it visits: between the executor's choices. A state inside one choice is
// never seen, so a port that fills and fires within one step never shows
// its peak. A plain value. Intentionally copyable.
struct Property {
  enum class Kind : std::uint8_t {
    AtLocation = 0,    // at most `limit` packets at `location`: an Edge, an
                       // InputPort or OutsideNet
    AtOutputPort = 1,  // at most `limit` packets in the output ports `port`
                       // of `node`'s live epochs, together
    InNet = 2,         // at most `limit` packets in the net (OutsideNet not)
    LiveEpochs = 3,    // at most `limit` live epochs of `node`
    NoOrphans = 4,     // no packet sent through an output port without an
                       // edge: no more packets outside than at the start
    Holds = 5,         // `holds` says true
  };
  Kind kind = Kind::InNet;
  std::string name;
  PacketLocation location;
  Name node;
  Name port;
  std::uint64_t limit = 0;
  // Holds: called with the net in the state visited, which it may only
  // read; an exception it throws ends the exploration and leaves it.
  std::function<bool(const NetSim&)> holds;
};

// The first property `graph` cannot check, as one sentence naming it, or
// nothing: an unknown node, port or edge, a location of one epoch, a name
// given twice.
std::optional<std::string> check_properties(const Graph& graph,
                                            const std::vector<Property>& properties);

// Gives every name in `properties` that `graph` has the graph's own copy
// (see share_graph_names of the declarations).
void share_property_names(const Graph& graph, std::vector<Property>& properties);

// The properties of one exploration, evaluated on the state of a net. The
// declared ones cost a lookup or two each (AtOutputPort: one per live epoch
// of its node); Holds costs what its function does. Not copyable: the
// explorer owns one.
class PropertyCheck {
 public:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  // `properties` must have passed check_properties against start's graph;
  // NoOrphans counts from the packets outside `start`.
  PropertyCheck(const NetSim& start, const std::vector<Property>& properties);
  PropertyCheck(const PropertyCheck&) = delete;
  PropertyCheck& operator=(const PropertyCheck&) = delete;

  bool empty() const { return properties_.empty(); }
  // The index of the first property `net` violates, or kNone.
  std::size_t first_violated(const NetSim& net) const;
  const Property& operator[](std::size_t i) const { return properties_[i]; }

 private:
  bool holds(const Property& property, const NetSim& net) const;

  const std::vector<Property>& properties_;
  std::uint64_t outside_at_start_;
};

}  // namespace zellik::explore
