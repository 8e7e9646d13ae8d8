#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "zellik/base/name.h"
#include "zellik/base/shared_map.h"

namespace zellik {

// Whether a port takes packets in or sends them out.
enum class PortType : std::uint8_t { Input = 0, Output = 1 };

// "Input" or "Output".
std::string_view port_type_debug_name(PortType type);

// The capacity of a port: unbounded, or at most n packets (0 is allowed and
// makes the port always full). Intentionally copyable.
class PortSlotSpec {
 public:
  static PortSlotSpec Infinite() { return PortSlotSpec(false, 0); }
  static PortSlotSpec Finite(std::uint64_t n) { return PortSlotSpec(true, n); }

  bool is_infinite() const { return !finite_; }
  // The limit of a Finite capacity; 0 for Infinite.
  std::uint64_t capacity() const { return n_; }
  // Whether a port holding `count` packets can take one more.
  bool has_room(std::uint64_t count) const { return !finite_ || count < n_; }

  friend bool operator==(const PortSlotSpec&, const PortSlotSpec&) = default;

 private:
  PortSlotSpec(bool finite, std::uint64_t n) : finite_(finite), n_(n) {}
  bool finite_;
  std::uint64_t n_;
};

// A port of a node; its name is its key in the node's port map.
struct Port {
  PortSlotSpec slots_spec = PortSlotSpec::Infinite();
};

// Port maps of a node, keyed by port name; iteration order unspecified.
// Copies share their table until one of them changes.
using PortMap = SharedMap<Name, Port, NameHash, NameEq>;

// One port of one node. A plain value.
struct PortRef {
  Name node_name;
  PortType port_type = PortType::Input;
  Name port_name;

  // "{node_name}.{in|out}.{port_name}".
  std::string to_string() const;
  friend bool operator==(const PortRef& a, const PortRef& b) {
    return a.port_type == b.port_type && a.node_name == b.node_name && a.port_name == b.port_name;
  }
};

struct PortRefHash {
  std::size_t operator()(const PortRef& r) const {
    std::size_t h = r.node_name.hash();
    h = hash_combine(h, static_cast<std::size_t>(r.port_type));
    return hash_combine(h, r.port_name.hash());
  }
};

// A directed connection from an output port (tail) to an input port (head).
// Nothing here enforces the direction; validation reports edges that break it.
struct Edge {
  PortRef source;
  PortRef target;

  // "{source} -> {target}".
  std::string to_string() const;
  friend bool operator==(const Edge& a, const Edge& b) {
    return a.source == b.source && a.target == b.target;
  }
};

struct EdgeHash {
  std::size_t operator()(const Edge& e) const {
    return hash_combine(PortRefHash{}(e.source), PortRefHash{}(e.target));
  }
};

}  // namespace zellik
