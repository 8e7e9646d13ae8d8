#include "zellik/graph/salvo_condition_term.h"

#include <utility>

#include "zellik/base/quote.h"

namespace zellik {

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
// Port collection

void collect_ports_from_term(const SalvoConditionTerm& term, NameSet& into) {
  for_each_port_in_term(term, [&into](const Name& port) { into.insert(port); });
}

}  // namespace zellik
