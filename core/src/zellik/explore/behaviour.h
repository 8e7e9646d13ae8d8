#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "zellik/base/fields.h"
#include "zellik/base/name.h"
#include "zellik/explore/property.h"
#include "zellik/graph/graph.h"
#include "zellik/net/packet_location.h"

namespace zellik::explore {

// What one epoch of a node does, from start to finish. A plain value.
// Intentionally copyable.
struct Outcome {
  // None: the epoch consumes its input packets; a port name: it loads them
  // into that output port.
  std::optional<Name> pass_to;
  // New packets made inside the epoch and loaded into an output port:
  // (port name, how many), in order.
  std::vector<std::pair<Name, std::uint64_t>> creates;
  // The output salvo conditions sent once the packets are loaded, in order.
  std::vector<Name> sends;
  friend bool operator==(const Outcome&, const Outcome&) = default;
};

// The alternative outcomes of a node's epochs; the explorer follows each.
// A node without a declared behaviour consumes its inputs and sends nothing.
struct Behaviour {
  Name node;
  std::vector<Outcome> outcomes;
  friend bool operator==(const Behaviour&, const Behaviour&) = default;
};

// Packets the executor may put at an Edge or InputPort location, one at a
// time, at any moment, up to `count` in all.
struct Injection {
  PacketLocation location;
  std::uint64_t count = 0;
  friend bool operator==(const Injection& a, const Injection& b) {
    return a.location == b.location && a.count == b.count;
  }
};

// Requests the executor may make of a node, at any moment, up to `count`.
struct RequestAllowance {
  Name node;
  Name label;
  std::uint64_t count = 0;
  friend bool operator==(const RequestAllowance&, const RequestAllowance&) = default;
};

// The field lists of the declarations (zellik/base/fields.h).
constexpr auto fields_of(std::type_identity<Outcome>) {
  return std::tuple{field("pass_to", &Outcome::pass_to), field("creates", &Outcome::creates),
                    field("sends", &Outcome::sends)};
}
constexpr auto fields_of(std::type_identity<Behaviour>) {
  return std::tuple{field("node", &Behaviour::node), field("outcomes", &Behaviour::outcomes)};
}
constexpr auto fields_of(std::type_identity<Injection>) {
  return std::tuple{field("location", &Injection::location), field("count", &Injection::count)};
}
constexpr auto fields_of(std::type_identity<RequestAllowance>) {
  return std::tuple{field("node", &RequestAllowance::node),
                    field("label", &RequestAllowance::label),
                    field("count", &RequestAllowance::count)};
}
static_assert(lists_every_member<Outcome>() && lists_every_member<Behaviour>() &&
              lists_every_member<Injection>() && lists_every_member<RequestAllowance>());

// Everything the explorer runs from besides the net itself.
struct Declarations {
  std::vector<Behaviour> behaviours;
  std::vector<Injection> injections;
  std::vector<RequestAllowance> requests;
  // Checked at every state visited (property.h).
  std::vector<Property> properties;
};

// The first thing in `declarations` that `graph` cannot carry out, as one
// sentence naming it, or nothing when all is well: an unknown node, port,
// edge or condition, a node declared twice, a behaviour without outcomes,
// more packets loaded into a port than it holds; a property it cannot check
// (check_properties).
std::optional<std::string> check_declarations(const Graph& graph, const Declarations& declarations);

// Without a declared behaviour a node's epochs consume their inputs and send
// nothing, so a forgotten declaration can make an exploration find nothing
// wrong for want of packets. The nodes with input salvo conditions (those
// whose epochs the run step makes) that `declarations` gives no behaviour,
// in the graph's order.
std::vector<Name> undeclared_nodes(const Graph& graph, const Declarations& declarations);

// Gives every name in `declarations` that `graph` has the graph's own copy,
// so that the net's comparisons with them end at the pointers (names are
// compared by text only when their records differ).
void share_graph_names(const Graph& graph, Declarations& declarations);

}  // namespace zellik::explore
