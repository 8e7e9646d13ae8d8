// The canonical encoding of a net's state: the words that ignore ids and
// timestamps, the layout that numbers the graph for them, and their digest.

#include <algorithm>
#include <functional>
#include <span>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "zellik/net/fingerprint.h"
#include "zellik/net/net_sim.h"

namespace zellik {

namespace {

std::vector<Name> sorted_names(const PortMap& ports) {
  std::vector<Name> names;
  names.reserve(ports.size());
  for (const auto& [name, port] : ports) names.push_back(name);
  std::sort(names.begin(), names.end(),
            [](const Name& a, const Name& b) { return a.view() < b.view(); });
  return names;
}

auto edge_key(const Edge& e) {
  return std::make_tuple(e.source.node_name.view(), e.source.port_name.view(),
                         e.target.node_name.view(), e.target.port_name.view());
}

std::uint64_t text_word(std::string_view text) { return std::hash<std::string_view>{}(text); }

}  // namespace

const StateLayout& NetSim::state_layout() const {
  if (state_layout_) return *state_layout_;
  StateLayout layout;
  for (const auto& [name, node] : graph_.nodes()) layout.node_order.push_back(name);
  std::sort(layout.node_order.begin(), layout.node_order.end(),
            [](const Name& a, const Name& b) { return a.view() < b.view(); });
  for (std::uint32_t i = 0; i < layout.node_order.size(); ++i) {
    const Node& node = *graph_.find_node(layout.node_order[i]);
    StateLayout::NodeLayout& entry = layout.nodes[node.name];
    entry.index = i;
    entry.in_ports = sorted_names(node.in_ports);
    entry.out_ports = sorted_names(node.out_ports);
    std::uint32_t c = 0;
    for (const auto& [cond, _] : node.in_salvo_conditions) entry.in_conditions.emplace(cond, c++);
    c = 0;
    for (const auto& [cond, _] : node.out_salvo_conditions) entry.out_conditions.emplace(cond, c++);
    for (const auto& [port, _] : node.out_ports) {
      const auto at = std::find(entry.out_ports.begin(), entry.out_ports.end(), port);
      entry.out_port_rank.push_back(static_cast<std::uint32_t>(at - entry.out_ports.begin()));
    }
    for (const Name& port : entry.in_ports) {
      layout.fixed_locations.push_back(
          state_.locations().find(PacketLocation::InputPort(node.name, port)));
    }
  }
  // Filled once the table is complete: entries of a flat table move while
  // it grows.
  layout.by_position.assign(graph_.nodes().size(), nullptr);
  for (const auto& [name, node] : graph_.nodes()) {
    layout.by_position[graph_.nodes().position(node)] = &layout.nodes.at(name);
  }
  std::vector<const Edge*> edges;
  for (const Edge& edge : graph_.edges()) edges.push_back(&edge);
  std::sort(edges.begin(), edges.end(),
            [](const Edge* x, const Edge* y) { return edge_key(*x) < edge_key(*y); });
  for (const Edge* edge : edges) {
    layout.fixed_locations.push_back(state_.locations().find(PacketLocation::Edge(*edge)));
  }
  layout.fixed_locations.push_back(state_.locations().find(PacketLocation::OutsideNet()));
  state_layout_ = std::move(layout);
  return *state_layout_;
}

void NetSim::canonical_epoch(const Epoch& epoch, std::vector<std::uint64_t>& out) const {
  const StateLayout& layout = state_layout();
  // A live epoch's Node entry knows its node, when the graph has it, and
  // links its output ports (add_epoch).
  const LocationHandle inside = state_.epoch_place(epoch.id);
  const LocationEntry* entry = inside != kNoLocation ? &state_.locations()[inside].second : nullptr;
  if (entry == nullptr || entry->node == nullptr) {
    // An epoch of a node the graph lacks (only an undo out of order makes
    // one): written by name.
    out.push_back(~std::uint64_t{0});
    out.push_back(text_word(epoch.node_name.view()));
    out.push_back(static_cast<std::uint64_t>(epoch.state));
    return;
  }
  const StateLayout::NodeLayout* n = layout.by_position[graph_.nodes().position(*entry->node)];
  // The record, in one piece: node and state, the input salvo's condition
  // and shape (how many packets it took from each port), the packets inside,
  // the output ports' counts in name order, the output salvos sent counted
  // per condition (their order changes nothing that follows), and the
  // packets they orphaned.
  const std::size_t in_ports = n->in_ports.size();
  const std::size_t out_ports = n->out_ports.size();
  const std::size_t base = out.size();
  out.resize(base + 4 + in_ports + out_ports + n->out_conditions.size(), 0);
  std::uint64_t* w = out.data() + base;
  w[0] = (std::uint64_t{n->index} << 8) | static_cast<std::uint64_t>(epoch.state);
  const auto in_cond = n->in_conditions.find(epoch.in_salvo.salvo_condition);
  w[1] = in_cond != n->in_conditions.end() ? in_cond->second
                                           : text_word(epoch.in_salvo.salvo_condition.view());
  std::uint64_t* shape = w + 2;
  for (const auto& [port, id] : epoch.in_salvo.packets) {
    const auto at = std::find(n->in_ports.begin(), n->in_ports.end(), port);
    if (at != n->in_ports.end()) ++shape[at - n->in_ports.begin()];
  }
  w[2 + in_ports] = state_.count_at(inside);
  std::uint64_t* ports = w + 3 + in_ports;
  std::size_t i = 0;
  for (LocationHandle h = entry->next_port; h != kNoLocation && i < n->out_port_rank.size();
       h = state_.locations()[h].second.next_port) {
    ports[n->out_port_rank[i++]] = state_.count_at(h);
  }
  std::uint64_t* sent = ports + out_ports;
  for (const Salvo& salvo : epoch.out_salvos) {
    const auto cond = n->out_conditions.find(salvo.salvo_condition);
    if (cond != n->out_conditions.end()) ++sent[cond->second];
  }
  sent[n->out_conditions.size()] = epoch.orphaned_packets.size();
}

void NetSim::canonical_state(std::vector<std::uint64_t>& out, std::vector<Ulid>* distinct) const {
  const StateLayout& layout = state_layout();
  const std::size_t fixed = layout.fixed_locations.size();
  out.resize(out.size() + 1 + fixed);
  std::uint64_t* counts = out.data() + out.size() - 1 - fixed;
  counts[0] = state_.packets().size();
  for (std::size_t i = 0; i < fixed; ++i) {
    const LocationHandle h = layout.fixed_locations[i];
    counts[1 + i] = h == kNoLocation ? 0 : state_.count_at(h);
  }

  // Epochs: each record on its own, then sorted, so neither ids nor the
  // order of the tables shows.
  canon_epochs_.clear();
  canon_spans_.clear();
  for (const auto& [id, epoch] : state_.epochs()) {
    const std::size_t begin = canon_epochs_.size();
    canonical_epoch(epoch, canon_epochs_);
    canon_spans_.push_back(EpochRecordSpan{begin, canon_epochs_.size(), &epoch});
  }
  const std::span<const std::uint64_t> words(canon_epochs_);
  auto record = [words](const EpochRecordSpan& span) {
    return words.subspan(span.begin, span.end - span.begin);
  };
  // Word by word, a shorter record first when it is a prefix of the other.
  auto less = [&record](const EpochRecordSpan& x, const EpochRecordSpan& y) {
    const std::span<const std::uint64_t> a = record(x);
    const std::span<const std::uint64_t> b = record(y);
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
      if (a[i] != b[i]) return a[i] < b[i];
    }
    return a.size() < b.size();
  };
  std::sort(canon_spans_.begin(), canon_spans_.end(), less);
  // Their count, then each with its length, in order.
  std::size_t at = out.size();
  out.resize(at + 1 + canon_spans_.size() + canon_epochs_.size());
  out[at++] = canon_spans_.size();
  if (distinct != nullptr) distinct->clear();
  for (std::size_t i = 0; i < canon_spans_.size(); ++i) {
    const std::span<const std::uint64_t> r = record(canon_spans_[i]);
    out[at++] = r.size();
    std::copy(r.begin(), r.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
    at += r.size();
    // Sorted: a record is new when it differs from the one before.
    if (distinct != nullptr && (i == 0 || !std::ranges::equal(record(canon_spans_[i - 1]), r))) {
      distinct->push_back(canon_spans_[i].epoch->id);
    }
  }

  // Requests: the pending ones in order, the tokens by node, the startup flag.
  const RequestState& requests = state_.requests();
  out.push_back(requests.pending.size());
  for (const PendingRequest& request : requests.pending) {
    const auto node = layout.nodes.find(request.node_name);
    out.push_back(node != layout.nodes.end() ? node->second.index
                                             : text_word(request.node_name.view()));
    out.push_back(text_word(request.label.view()));
  }
  std::uint64_t tokens = 0;
  std::uint64_t bit = 0;
  const RequestTokens& all_tokens = requests.tokens;
  for (const Name& node : all_tokens.empty() ? std::span<const Name>() : layout.node_order) {
    const auto token = all_tokens.find(node);
    if (token == all_tokens.end()) continue;
    tokens |= std::uint64_t{token->second ? 1U : 2U} << (2 * (bit % 32));
    if (++bit % 32 == 0) {
      out.push_back(tokens);
      tokens = 0;
    }
  }
  out.push_back(tokens);
  out.push_back(requests.startup_requests_sent ? 1 : 0);
}

Fingerprint fingerprint(const NetSim& net) {
  std::vector<std::uint64_t> words;
  words.reserve(64);
  net.canonical_state(words);
  return fingerprint_of(words);
}

}  // namespace zellik
