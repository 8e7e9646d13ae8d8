#include "zellik/graph/salvo_condition.h"

#include <utility>

#include "zellik/base/quote.h"

namespace zellik {

// ---------------------------------------------------------------------------
// MaxSalvos and PortState

std::string MaxSalvos::debug_name() const {
  if (!finite_) return "Infinite";
  return "Finite(" + std::to_string(n_) + ")";
}

bool PortState::holds(std::uint64_t count, const Port* port) const {
  // A port is full only when it has a finite capacity that the count has
  // reached; an unbounded or unknown port never is.
  const bool full =
      port != nullptr && !port->slots_spec.is_infinite() && count >= port->slots_spec.capacity();
  switch (kind_) {
    case Kind::Empty:
      return count == 0;
    case Kind::Full:
      return full;
    case Kind::NonEmpty:
      return count != 0;
    case Kind::NonFull:
      return !full;
    case Kind::Equals:
      return count == value_;
    case Kind::LessThan:
      return count < value_;
    case Kind::GreaterThan:
      return count > value_;
    case Kind::EqualsOrLessThan:
      return count <= value_;
    case Kind::EqualsOrGreaterThan:
      return count >= value_;
  }
  return false;
}

std::string PortState::debug_name() const {
  switch (kind_) {
    case Kind::Empty:
      return "Empty";
    case Kind::Full:
      return "Full";
    case Kind::NonEmpty:
      return "NonEmpty";
    case Kind::NonFull:
      return "NonFull";
    case Kind::Equals:
      return "Equals(" + std::to_string(value_) + ")";
    case Kind::LessThan:
      return "LessThan(" + std::to_string(value_) + ")";
    case Kind::GreaterThan:
      return "GreaterThan(" + std::to_string(value_) + ")";
    case Kind::EqualsOrLessThan:
      return "EqualsOrLessThan(" + std::to_string(value_) + ")";
    case Kind::EqualsOrGreaterThan:
      return "EqualsOrGreaterThan(" + std::to_string(value_) + ")";
  }
  return "?";
}

// ---------------------------------------------------------------------------
// The term tree

// One node of a term tree. Nodes are created non-const and only ever handed
// out as shared_ptr<const Node>; the destructor is the one place that takes
// children apart, and only children it owns alone.
struct SalvoConditionTerm::Node {
  Node(Kind k, Name name, PortState s, std::vector<SalvoConditionTerm> c)
      : kind(k), port_name(std::move(name)), state(s), children(std::move(c)) {}
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
  ~Node();

  Kind kind;
  Name port_name;                            // Port only
  PortState state;                           // Port only
  std::vector<SalvoConditionTerm> children;  // And/Or: the list; Not: exactly one
};

namespace {

using NodePtr = std::shared_ptr<const SalvoConditionTerm::Node>;

}  // namespace

// Tearing a tree down with the default destructor would recurse once per
// level. Instead every child that nobody else shares is moved onto a local
// stack, and each node popped from it is emptied of its own sole-owned
// children before it is released, so no destructor here ever finds more
// than shared or already-detached children below it.
SalvoConditionTerm::Node::~Node() {
  std::vector<NodePtr> pending;
  auto detach_children = [&pending](std::vector<SalvoConditionTerm>& list) {
    for (SalvoConditionTerm& child : list) {
      if (child.node_ && child.node_.use_count() == 1) pending.push_back(std::move(child.node_));
    }
  };
  detach_children(children);
  while (!pending.empty()) {
    NodePtr node = std::move(pending.back());
    pending.pop_back();
    // Sole owner of a node that was created non-const: safe to take apart.
    detach_children(const_cast<Node&>(*node).children);
    node.reset();
  }
}

namespace {

NodePtr make_node(SalvoConditionTerm::Kind kind, Name name, PortState state,
                  std::vector<SalvoConditionTerm> children) {
  return std::make_shared<SalvoConditionTerm::Node>(kind, std::move(name), state,
                                                    std::move(children));
}

// The leaves True and False carry no data, so every term of each shares one
// node. Leaked on purpose: terms may live in objects destroyed at exit.
const NodePtr& constant_node(bool value) {
  static const NodePtr* const kTrue =
      new NodePtr(make_node(SalvoConditionTerm::Kind::True, Name(), PortState::Kind::Empty, {}));
  static const NodePtr* const kFalse =
      new NodePtr(make_node(SalvoConditionTerm::Kind::False, Name(), PortState::Kind::Empty, {}));
  return value ? *kTrue : *kFalse;
}

}  // namespace

SalvoConditionTerm SalvoConditionTerm::True() { return SalvoConditionTerm(constant_node(true)); }

SalvoConditionTerm SalvoConditionTerm::False() { return SalvoConditionTerm(constant_node(false)); }

SalvoConditionTerm SalvoConditionTerm::Port(Name port_name, PortState state) {
  return SalvoConditionTerm(make_node(Kind::Port, std::move(port_name), state, {}));
}

SalvoConditionTerm SalvoConditionTerm::And(std::vector<SalvoConditionTerm> terms) {
  return SalvoConditionTerm(make_node(Kind::And, Name(), PortState::Kind::Empty, std::move(terms)));
}

SalvoConditionTerm SalvoConditionTerm::Or(std::vector<SalvoConditionTerm> terms) {
  return SalvoConditionTerm(make_node(Kind::Or, Name(), PortState::Kind::Empty, std::move(terms)));
}

SalvoConditionTerm SalvoConditionTerm::Not(SalvoConditionTerm inner) {
  std::vector<SalvoConditionTerm> children;
  children.push_back(std::move(inner));
  return SalvoConditionTerm(
      make_node(Kind::Not, Name(), PortState::Kind::Empty, std::move(children)));
}

SalvoConditionTerm::Kind SalvoConditionTerm::kind() const { return node_->kind; }

const Name& SalvoConditionTerm::port_name() const { return node_->port_name; }

const PortState& SalvoConditionTerm::port_state() const { return node_->state; }

const std::vector<SalvoConditionTerm>& SalvoConditionTerm::terms() const {
  static const std::vector<SalvoConditionTerm> kNone;
  return node_->kind == Kind::And || node_->kind == Kind::Or ? node_->children : kNone;
}

const SalvoConditionTerm& SalvoConditionTerm::inner() const { return node_->children.front(); }

// ---------------------------------------------------------------------------
// Text form

std::string SalvoConditionTerm::to_string() const {
  // Work items are either a node still to be written or a literal closing
  // piece; they are popped in output order, so a node pushes what follows
  // its opening text in reverse.
  struct Item {
    const Node* node;
    const char* literal;
  };
  std::string out;
  std::vector<Item> work{{node_.get(), nullptr}};
  while (!work.empty()) {
    const Item item = work.back();
    work.pop_back();
    if (item.node == nullptr) {
      out.append(item.literal);
      continue;
    }
    const Node& n = *item.node;
    switch (n.kind) {
      case Kind::True:
        out.append("SalvoConditionTerm.true_()");
        break;
      case Kind::False:
        out.append("SalvoConditionTerm.false_()");
        break;
      case Kind::Port:
        out.append("SalvoConditionTerm.port(")
            .append(quote_string_literal(n.port_name.view()))
            .append(", ")
            .append(n.state.debug_name())
            .append(")");
        break;
      case Kind::Not:
        out.append("SalvoConditionTerm.not_(");
        work.push_back({nullptr, ")"});
        work.push_back({n.children.front().node_.get(), nullptr});
        break;
      case Kind::And:
      case Kind::Or:
        out.append(n.kind == Kind::And ? "SalvoConditionTerm.and_([" : "SalvoConditionTerm.or_([");
        work.push_back({nullptr, "])"});
        for (std::size_t i = n.children.size(); i-- > 0;) {
          work.push_back({n.children[i].node_.get(), nullptr});
          if (i > 0) work.push_back({nullptr, ", "});
        }
        break;
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// Evaluation and port collection

std::uint64_t MapPortCounts::count(const Name& port_name) const {
  auto it = counts_.find(port_name);
  return it == counts_.end() ? 0 : it->second;
}

// Walks terms through their public accessors; a frame is kept only for each
// And/Or under evaluation, and Not chains are folded into a flag, so the
// native stack never grows with the depth of the tree.
bool evaluate_salvo_condition(const SalvoConditionTerm& term, const PortCountSource& counts,
                              const PortMap& ports) {
  using Kind = SalvoConditionTerm::Kind;
  struct Frame {
    const SalvoConditionTerm* junction;  // an And or Or with at least one sub-term
    std::size_t next;                    // index of the sub-term being evaluated
    bool negate;                         // flips the junction's own result
  };
  std::vector<Frame> frames;
  const SalvoConditionTerm* current = &term;
  for (;;) {
    // Descend: fold the Not chain, then either reach a leaf or open a junction.
    bool negate = false;
    while (current->kind() == Kind::Not) {
      negate = !negate;
      current = &current->inner();
    }
    bool value = false;
    switch (current->kind()) {
      case Kind::True:
        value = true;
        break;
      case Kind::False:
        value = false;
        break;
      case Kind::Port: {
        auto port = ports.find(current->port_name());
        value = current->port_state().holds(counts.count(current->port_name()),
                                            port == ports.end() ? nullptr : &port->second);
        break;
      }
      case Kind::And:
      case Kind::Or:
        if (!current->terms().empty()) {
          frames.push_back({current, 0, negate});
          current = &current->terms().front();
          continue;
        }
        value = current->kind() == Kind::And;  // empty And is true, empty Or false
        break;
      case Kind::Not:
        break;  // unwound above
    }
    value = value != negate;

    // Ascend: feed the value to the enclosing junctions until one of them
    // needs another sub-term evaluated.
    for (;;) {
      if (frames.empty()) return value;
      Frame& frame = frames.back();
      const bool is_and = frame.junction->kind() == Kind::And;
      const auto& subterms = frame.junction->terms();
      // And stops at the first false sub-term, Or at the first true one;
      // otherwise the last sub-term's value is the junction's value.
      if (value != is_and || ++frame.next == subterms.size()) {
        value = value != frame.negate;
        frames.pop_back();
        continue;
      }
      current = &subterms[frame.next];
      break;
    }
  }
}

bool evaluate_salvo_condition(const SalvoConditionTerm& term, const PortCounts& counts,
                              const PortMap& ports) {
  return evaluate_salvo_condition(term, MapPortCounts(counts), ports);
}

void collect_ports_from_term(const SalvoConditionTerm& term, NameSet& into) {
  using Kind = SalvoConditionTerm::Kind;
  std::vector<const SalvoConditionTerm*> pending{&term};
  while (!pending.empty()) {
    const SalvoConditionTerm* current = pending.back();
    pending.pop_back();
    switch (current->kind()) {
      case Kind::Port:
        into.insert(current->port_name());
        break;
      case Kind::Not:
        pending.push_back(&current->inner());
        break;
      case Kind::And:
      case Kind::Or:
        for (const SalvoConditionTerm& sub : current->terms()) pending.push_back(&sub);
        break;
      case Kind::True:
      case Kind::False:
        break;
    }
  }
}

}  // namespace zellik
