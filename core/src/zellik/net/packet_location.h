#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "zellik/base/kind_table.h"
#include "zellik/base/name.h"
#include "zellik/base/shared_record.h"
#include "zellik/graph/port.h"
#include "zellik/net/ulid.h"

namespace zellik {

// Where a packet is. A plain value, compared and hashed field by field. It is
// one pointer to an immutable record shared by all its copies (OutsideNet
// needs none), with the hash worked out once: copying never allocates and
// costs one shared-count increment, and an event carrying two locations stays
// small. Intentionally copyable.
class PacketLocation {
 public:
  enum class Kind : std::uint8_t {
    Node = 0,
    InputPort = 1,
    OutputPort = 2,
    Edge = 3,
    OutsideNet = 4
  };
  static constexpr KindName<Kind> kKindNames[] = {{Kind::Node, "Node"},
                                                  {Kind::InputPort, "InputPort"},
                                                  {Kind::OutputPort, "OutputPort"},
                                                  {Kind::Edge, "Edge"},
                                                  {Kind::OutsideNet, "OutsideNet"}};

  // Inside the startable or running epoch `epoch_id`.
  static PacketLocation Node(Ulid epoch_id);
  // Waiting at an input port of a node.
  static PacketLocation InputPort(Name node_name, Name port_name);
  // Loaded into an output port of the epoch `epoch_id`.
  static PacketLocation OutputPort(Ulid epoch_id, Name port_name);
  // Travelling on an edge.
  static PacketLocation Edge(zellik::Edge edge);
  // Outside the network.
  static PacketLocation OutsideNet() { return PacketLocation(); }

  PacketLocation() noexcept = default;

  Kind kind() const { return rep_ != nullptr ? rep_->kind : Kind::OutsideNet; }
  bool is(Kind k) const { return kind() == k; }

  // Each accessor throws std::bad_variant_access for a location of another
  // kind.
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

  // For an owner that hands out many copies of one location (the net's
  // location table, for the events of a run): add_shares(n) counts n copies
  // ahead of making them, in one update of the shared count; each
  // prepaid_copy() then makes one of them without touching the count; and
  // drop_shares(n) takes back n that were never made. The owner keeps a copy
  // of its own meanwhile, so these never bring the count to zero.
  void add_shares(std::size_t n) const noexcept {
    if (rep_ != nullptr) rep_->refs.fetch_add(n, std::memory_order_relaxed);
  }
  PacketLocation prepaid_copy() const noexcept { return Make(rep_.get()); }
  void drop_shares(std::size_t n) const noexcept {
    if (rep_ != nullptr && n != 0) rep_->refs.fetch_sub(n, std::memory_order_release);
  }

  // How many copies share this location's record, shares paid for ahead
  // included (0 for OutsideNet, which has none). For tests and diagnostics.
  std::size_t share_count() const noexcept {
    return rep_ != nullptr ? rep_->refs.load(std::memory_order_relaxed) : 0;
  }

  friend bool operator==(const PacketLocation& a, const PacketLocation& b) {
    if (a.rep_ == b.rep_) return true;
    if (a.rep_ == nullptr || b.rep_ == nullptr) return false;
    return a.rep_->hash == b.rep_->hash && a.rep_->same_place(*b.rep_);
  }
  std::size_t hash() const;

 private:
  struct Rep {
    std::atomic<std::size_t> refs{1};
    std::size_t hash = 0;
    Kind kind = Kind::OutsideNet;
    Ulid epoch_id;      // Node, OutputPort
    Name node_name;     // InputPort
    Name port_name;     // InputPort, OutputPort
    zellik::Edge edge;  // Edge
    bool same_place(const Rep& other) const;
  };

  // Takes over one share of `rep`.
  explicit PacketLocation(Rep* rep) noexcept : rep_(rep) {}
  static PacketLocation Make(Rep* rep) noexcept { return PacketLocation(rep); }
  SharedRecord<Rep> rep_;  // null for OutsideNet
};

static_assert(rows_follow_kinds(PacketLocation::kKindNames, PacketLocation::Kind::OutsideNet));

static_assert(sizeof(PacketLocation) == sizeof(void*));

// An epoch's Node or OutputPort location described without making one, so
// that its entry is found with no allocation (LocationTable::find). Points
// at the id and name it is given, which must outlive it.
struct EpochPlace {
  PacketLocation::Kind kind = PacketLocation::Kind::Node;  // Node or OutputPort
  const Ulid* epoch_id = nullptr;
  const Name* port_name = nullptr;  // OutputPort only
  // Equal to the hash of the PacketLocation it describes.
  std::size_t hash() const;
  bool describes(const PacketLocation& location) const {
    return location.kind() == kind && location.epoch_id() == *epoch_id &&
           (kind != PacketLocation::Kind::OutputPort || location.port_name() == *port_name);
  }
};

// The same for an edge of the graph: points at the edge.
struct EdgePlace {
  const Edge* edge = nullptr;
  std::size_t hash() const;
  bool describes(const PacketLocation& location) const {
    return location.kind() == PacketLocation::Kind::Edge && location.edge() == *edge;
  }
};

struct PacketLocationHash {
  using is_transparent = void;
  std::size_t operator()(const PacketLocation& loc) const { return loc.hash(); }
  std::size_t operator()(const EpochPlace& place) const { return place.hash(); }
  std::size_t operator()(const EdgePlace& place) const { return place.hash(); }
};

struct PacketLocationEq {
  using is_transparent = void;
  bool operator()(const PacketLocation& a, const PacketLocation& b) const { return a == b; }
  bool operator()(const EpochPlace& a, const PacketLocation& b) const { return a.describes(b); }
  bool operator()(const PacketLocation& a, const EpochPlace& b) const { return b.describes(a); }
  bool operator()(const EdgePlace& a, const PacketLocation& b) const { return a.describes(b); }
  bool operator()(const PacketLocation& a, const EdgePlace& b) const { return b.describes(a); }
};

}  // namespace zellik
