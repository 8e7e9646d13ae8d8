#include "zellik/graph/dot.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>
#include <vector>

namespace zellik {

namespace {

// Fill colours of the picture.
constexpr const char* kNodeColor = "#e8eef7";
constexpr const char* kStartableColor = "#cfe3ff";
constexpr const char* kRunningColor = "#c8f0c8";
constexpr const char* kWaitingColor = "#fff2b3";
constexpr const char* kFullColor = "#ffc9c0";
constexpr const char* kLoadedEdgeColor = "#d9822b";
constexpr const char* kDependencyColor = "#5470a8";
constexpr const char* kBlockedColor = "#f4a6a6";
constexpr const char* kBlockedTextColor = "#a01010";

std::vector<std::pair<const Name*, const Port*>> sorted_ports(const PortMap& ports) {
  std::vector<std::pair<const Name*, const Port*>> out;
  out.reserve(ports.size());
  for (const auto& [name, port] : ports) out.emplace_back(&name, &port);
  std::sort(out.begin(), out.end(),
            [](const auto& a, const auto& b) { return *a.first < *b.first; });
  return out;
}

std::string capacity_text(const PortSlotSpec& slots) {
  return slots.is_infinite() ? "\xE2\x88\x9E" : std::to_string(slots.capacity());  // U+221E
}

template <class Map, class Key>
std::uint64_t count_in(const Map& map, const Key& key) {
  auto it = map.find(key);
  return it == map.end() ? 0 : it->second;
}

// "n0", "i3": a generated id. (Built by appending: GCC 12 misreports
// literal + temporary string concatenations under -Wrestrict.)
std::string numbered(char prefix, std::size_t i) {
  std::string id(1, prefix);
  id += std::to_string(i);
  return id;
}

// How a name is shown: escaped, or "" in italics when it is empty (Graphviz
// rejects an empty formatting tag, and an empty label would hide the node).
std::string shown_name(std::string_view name) {
  return name.empty() ? "<I>&quot;&quot;</I>" : dot_label_text(name);
}

std::string plural(std::uint64_t n, const char* what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// Writes the picture. Every node of the picture has a generated id (n0,
// n1, ... in name order; m0, m1, ... for nodes that edges name but the graph
// lacks) and every port a generated port id (i0.., o0.. in name order), so no
// name ever appears outside an escaped label.
class DotWriter {
 public:
  DotWriter(const Graph& graph, const DotLiveState* live) : graph_(graph), live_(live) {}

  std::string write() {
    std::vector<const Node*> nodes;
    nodes.reserve(graph_.node_count());
    for (const auto& [name, node] : graph_.nodes()) nodes.push_back(&node);
    std::sort(nodes.begin(), nodes.end(),
              [](const Node* a, const Node* b) { return a->name < b->name; });
    for (std::size_t i = 0; i < nodes.size(); ++i)
      ids_.emplace(nodes[i]->name.str(), numbered('n', i));

    out_ += "digraph \"net\" {\n";
    out_ += "  graph [rankdir=LR, fontname=\"Helvetica\", nodesep=0.4, ranksep=0.9];\n";
    out_ += "  node [shape=plaintext, fontname=\"Helvetica\", fontsize=11];\n";
    out_ += "  edge [fontname=\"Helvetica\", fontsize=10];\n";
    if (live_ != nullptr) {
      std::string label = "outside the net: " + plural(live_->packets_outside, "packet");
      if (!live_->blocked.empty()) {
        label += "; stuck: " + plural(live_->blocked.size(), "blocked node");
      }
      out_ += "  label=<" + dot_label_text(label) + ">;\n  labelloc=b;\n";
    }
    for (const Node* node : nodes) write_node(*node);

    std::vector<const Edge*> edges = sorted(graph_.edges());
    std::vector<const Edge*> dependency_edges = sorted(graph_.dependency_edges());
    for (const Edge* e : edges) note_missing_nodes(*e);
    for (const Edge* e : dependency_edges) note_missing_nodes(*e);
    std::size_t missing_index = 0;
    for (auto& [name, id] : missing_) {
      id = numbered('m', missing_index++);
      out_ += "  " + id + " [shape=box, style=dashed, label=<" + shown_name(name) + ">];\n";
    }
    for (const Edge* e : edges) write_edge(*e, false);
    for (const Edge* e : dependency_edges) write_edge(*e, true);
    out_ += "}\n";
    return std::move(out_);
  }

 private:
  static std::vector<const Edge*> sorted(const EdgeSet& edges) {
    std::vector<std::pair<std::string, const Edge*>> keyed;
    keyed.reserve(edges.size());
    for (const Edge& e : edges) keyed.emplace_back(e.to_string(), &e);
    std::sort(keyed.begin(), keyed.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<const Edge*> out;
    out.reserve(keyed.size());
    for (const auto& [text, e] : keyed) out.push_back(e);
    return out;
  }

  void write_node(const Node& node) {
    const std::string& id = ids_.at(node.name.str());
    const DotLiveState::NodeEpochs* epochs = nullptr;
    if (live_ != nullptr) {
      auto it = live_->epochs.find(node.name);
      if (it != live_->epochs.end()) epochs = &it->second;
    }
    const std::vector<Name>* waits_on = nullptr;
    if (live_ != nullptr) {
      auto it = live_->blocked.find(node.name);
      if (it != live_->blocked.end()) waits_on = &it->second;
    }
    const char* header_color = kNodeColor;
    if (waits_on != nullptr) {
      header_color = kBlockedColor;
    } else if (epochs != nullptr && epochs->running > 0) {
      header_color = kRunningColor;
    } else if (epochs != nullptr && epochs->startable > 0) {
      header_color = kStartableColor;
    }

    out_ +=
        "  " + id +
        " [label=<<TABLE BORDER=\"0\" CELLBORDER=\"1\" CELLSPACING=\"0\" CELLPADDING=\"4\"><TR>";
    if (!node.in_ports.empty()) out_ += "<TD>" + port_column(node, PortType::Input) + "</TD>";

    out_ += "<TD BGCOLOR=\"" + std::string(header_color) + "\"><B>" + shown_name(node.name.view()) +
            "</B>";
    if (waits_on != nullptr) {
      out_ += "<BR/><FONT COLOR=\"" + std::string(kBlockedTextColor) + "\"><B>blocked</B></FONT>";
    }
    for (const auto& [name, condition] : node.in_salvo_conditions) {
      const bool waits = waits_on != nullptr &&
                         std::find(waits_on->begin(), waits_on->end(), name) != waits_on->end();
      if (waits) {
        // A condition the node waits on: red, with a cross before it.
        out_ += "<BR/><FONT POINT-SIZE=\"9\" COLOR=\"" + std::string(kBlockedTextColor) +
                "\">&#10007; in: " + shown_name(name.view()) + " (waits)</FONT>";
      } else {
        out_ += "<BR/><FONT POINT-SIZE=\"9\">in: " + shown_name(name.view()) + "</FONT>";
      }
    }
    for (const auto& [name, condition] : node.out_salvo_conditions) {
      out_ += "<BR/><FONT POINT-SIZE=\"9\">out: " + shown_name(name.view()) + "</FONT>";
    }
    if (live_ != nullptr) {
      const DotLiveState::NodeEpochs none;
      const DotLiveState::NodeEpochs& e = epochs != nullptr ? *epochs : none;
      out_ += "<BR/><I>startable ";
      out_ += std::to_string(e.startable);
      out_ += " / running ";
      out_ += std::to_string(e.running);
      out_ += "</I>";
      if (e.packets_inside > 0)
        out_ += "<BR/><I>" + plural(e.packets_inside, "packet") + " inside</I>";
    }
    out_ += "</TD>";

    if (!node.out_ports.empty()) out_ += "<TD>" + port_column(node, PortType::Output) + "</TD>";
    out_ += "</TR></TABLE>>];\n";
  }

  std::string port_column(const Node& node, PortType type) {
    const bool input = type == PortType::Input;
    std::string column =
        "<TABLE BORDER=\"0\" CELLBORDER=\"1\" CELLSPACING=\"0\" CELLPADDING=\"3\">";
    std::size_t index = 0;
    for (const auto& [name, port] : sorted_ports(input ? node.in_ports : node.out_ports)) {
      const std::string port_id = numbered(input ? 'i' : 'o', index++);
      port_ids_.emplace(PortRef{node.name, type, *name}, port_id);
      std::string text = shown_name(name->view()) + " [" + capacity_text(port->slots_spec) + "]";
      std::string color;
      if (live_ != nullptr) {
        const std::uint64_t count =
            count_in(live_->packets_at_port, PortRef{node.name, type, *name});
        if (count > 0) {
          text += " &#9679; ";  // a filled circle, then the count
          text += std::to_string(count);
          color = port->slots_spec.has_room(count) || !input ? kWaitingColor : kFullColor;
        }
      }
      column += "<TR><TD PORT=\"" + port_id + "\"";
      if (!color.empty()) column += " BGCOLOR=\"" + color + "\"";
      column += ">" + text + "</TD></TR>";
    }
    return column + "</TABLE>";
  }

  void note_missing_nodes(const Edge& e) {
    for (const PortRef* end : {&e.source, &e.target}) {
      const std::string& name = end->node_name.str();
      if (!ids_.contains(name)) missing_.emplace(name, "");
    }
  }

  // "n3:o1" for a known port, the bare node id otherwise.
  std::string endpoint(const PortRef& ref, const char* compass) const {
    auto node_id = ids_.find(ref.node_name.str());
    const std::string& id =
        node_id != ids_.end() ? node_id->second : missing_.at(ref.node_name.str());
    auto port = port_ids_.find(ref);
    if (port == port_ids_.end()) return id;
    return id + ":" + port->second + ":" + compass;
  }

  void write_edge(const Edge& e, bool dependency) {
    out_ += "  " + endpoint(e.source, "e") + " -> " + endpoint(e.target, "w");
    if (dependency) {
      out_ += " [style=dashed, color=\"" + std::string(kDependencyColor) +
              "\", arrowhead=empty, constraint=false]";
    } else if (live_ != nullptr) {
      const std::uint64_t count = count_in(live_->packets_on_edge, e);
      if (count > 0) {
        out_ += " [color=\"" + std::string(kLoadedEdgeColor) + "\", penwidth=2, label=<" +
                plural(count, "packet") + ">]";
      }
    }
    out_ += ";\n";
  }

  const Graph& graph_;
  const DotLiveState* live_;
  std::string out_;
  std::map<std::string, std::string> ids_;      // node name -> n{i}
  std::map<std::string, std::string> missing_;  // names edges use that no node has -> m{i}
  std::unordered_map<PortRef, std::string, PortRefHash> port_ids_;
};

}  // namespace

std::string dot_label_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\\\n";
        break;
      case '\t':
        out += "\\\\t";
        break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\\\x%02X", byte);
          out += escaped;
        } else {
          out += ch;
        }
    }
  }
  return out;
}

std::string to_dot(const Graph& graph) { return DotWriter(graph, nullptr).write(); }

std::string to_dot(const Graph& graph, const DotLiveState& live) {
  return DotWriter(graph, &live).write();
}

}  // namespace zellik
