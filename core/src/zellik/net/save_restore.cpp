// Reading a net's state out in restore order, and the primitives that put a
// saved state back. A snapshot codec builds on these instead of on the
// tables themselves, so the tables may change shape without it.

#include <algorithm>
#include <string>
#include <utility>

#include "zellik/base/internal_failure.h"
#include "zellik/net/net_sim.h"

namespace zellik {

namespace {

std::span<const Ulid> ids_of(const PacketQueue& queue) {
  return std::span<const Ulid>(queue.begin(), queue.end());
}

bool is_stepped(const PacketLocation& location) {
  return location.is(PacketLocation::Kind::Edge) || location.is(PacketLocation::Kind::InputPort);
}

}  // namespace

void NetSim::for_each_occupied_location(const OccupiedLocationVisitor& visit) const {
  // The active index holds exactly the occupied Edge and InputPort entries,
  // in the order the run step walks them.
  for (const LocationTable::value_type* entry : active_) visit(entry->first, ids_of(entry->second.queue));
  for (const auto& [location, entry] : packets_by_location_) {
    if (!entry.queue.empty() && !is_stepped(location)) visit(location, ids_of(entry.queue));
  }
}

void NetSim::reserve_for_restore(std::size_t packets, std::size_t epochs) {
  packets_.reserve(packets);
  epochs_.reserve(epochs);
  packets_by_location_.reserve(packets_by_location_.size() + epochs * 2);
}

void NetSim::restore_node_epoch_list(const Name& node_name) { node_to_epochs_.try_emplace(node_name); }

void NetSim::restore_epoch(Epoch epoch) {
  const Node* node = graph_.find_node(epoch.node_name);
  if (node == nullptr) fail("Cannot restore an epoch of node '" + epoch.node_name.str() + "'");
  const Ulid id = epoch.id;
  node_to_epochs_[node->name].push_back(id);
  epochs_.insert_or_assign(id, std::move(epoch));
  create_epoch_locations(id, *node);
}

void NetSim::restore_startable_epochs(const std::vector<Ulid>& ids) {
  // A hash set lists what was inserted last first within a bucket; inserting
  // in reverse keeps the saved order wherever the bucket layout allows.
  startable_epochs_.reserve(ids.size());
  for (auto it = ids.rbegin(); it != ids.rend(); ++it) startable_epochs_.insert(*it);
}

namespace {

// `ids` ordered by the bucket of `table` they fall into (LSD radix
// sort, 11 bits a pass). Inserting a large batch in bucket order walks the
// bucket array from one end to the other instead of missing the cache on
// every insertion.
// The ids travel with their keys, by value: reading them through pointers in
// bucket order would miss the cache as often as unsorted insertion does.
std::vector<std::pair<std::size_t, Ulid>> in_bucket_order(const PacketTable& table, std::span<const Ulid> ids) {
  constexpr unsigned kBits = 11;
  constexpr std::size_t kDigits = std::size_t{1} << kBits;
  std::vector<std::pair<std::size_t, Ulid>> keyed(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) keyed[i] = {table.bucket(ids[i]), ids[i]};
  std::vector<std::pair<std::size_t, Ulid>> scratch(ids.size());
  for (unsigned shift = 0; (table.bucket_count() - 1) >> shift != 0; shift += kBits) {
    std::vector<std::size_t> start(kDigits + 1, 0);
    for (const auto& k : keyed) ++start[((k.first >> shift) & (kDigits - 1)) + 1];
    for (std::size_t d = 1; d <= kDigits; ++d) start[d] += start[d - 1];
    for (const auto& k : keyed) scratch[start[(k.first >> shift) & (kDigits - 1)]++] = k;
    keyed.swap(scratch);
  }
  return keyed;
}

// Below this many ids a batch is inserted as it comes.
constexpr std::size_t kSortedBatch = 4096;

}  // namespace

std::optional<Ulid> NetSim::restore_packets(const PacketLocation& location, std::span<const Ulid> ids) {
  LocationTable::value_type* entry = find_entry(location);
  if (entry == nullptr) fail("Cannot restore packets at " + location.debug_string() + ": no entry");
  if (packets_.size() + ids.size() > packets_.max_load_factor() * static_cast<float>(packets_.bucket_count())) {
    packets_.reserve(packets_.size() + ids.size());  // no rehash below, so the bucket order holds
  }
  if (ids.size() < kSortedBatch) {
    for (const Ulid& id : ids) {
      if (!packets_.try_emplace(id, Packet{id, location}).second) return id;
    }
  } else {
    for (const auto& [bucket, id] : in_bucket_order(packets_, ids)) {
      if (!packets_.try_emplace(id, Packet{id, location}).second) return id;
    }
  }
  for (const Ulid& id : ids) queue_append(*entry, id);
  return std::nullopt;
}

void NetSim::restore_request_state(std::vector<PendingRequest> pending, const RequestTokens& tokens,
                                   bool startup_requests_sent) {
  pending_requests_ = std::move(pending);
  for (const auto& [node_name, value] : tokens) request_tokens_.insert_or_assign(node_name, value);
  startup_requests_sent_ = startup_requests_sent;
}

}  // namespace zellik
