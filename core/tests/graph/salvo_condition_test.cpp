#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support/graph_builders.h"
#include "zellik/base/quote.h"
#include "zellik/graph/salvo_condition.h"

namespace zellik {
namespace {

using K = PortState::Kind;
using T = SalvoConditionTerm;
using testkit::port_term;

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

TEST(SalvoText, DebugNames) {
  EXPECT_EQ(MaxSalvos::Infinite().debug_name(), "Infinite");
  EXPECT_EQ(MaxSalvos::Finite(2).debug_name(), "Finite(2)");
  EXPECT_EQ(PortState(K::NonEmpty).debug_name(), "NonEmpty");
  EXPECT_EQ(PortState(K::Full).debug_name(), "Full");
  EXPECT_EQ(PortState(K::Equals, 3).debug_name(), "Equals(3)");
  EXPECT_EQ(PortState(K::EqualsOrGreaterThan, kMax).debug_name(),
            "EqualsOrGreaterThan(18446744073709551615)");
}

TEST(PortState, CountPredicatesCompareUnsigned) {
  struct Case {
    PortState state;
    std::uint64_t count;
    bool expected;
  };
  const Case cases[] = {
      {K::Empty, 0, true},
      {K::Empty, 1, false},
      {K::NonEmpty, 0, false},
      {K::NonEmpty, kMax, true},
      {{K::Equals, 3}, 3, true},
      {{K::Equals, 3}, 4, false},
      {{K::LessThan, 0}, 0, false},
      {{K::LessThan, kMax}, kMax - 1, true},
      {{K::GreaterThan, 2}, 2, false},
      {{K::GreaterThan, 2}, kMax, true},
      {{K::EqualsOrLessThan, 2}, 2, true},
      {{K::EqualsOrLessThan, 2}, 3, false},
      {{K::EqualsOrGreaterThan, 0}, 0, true},
      {{K::EqualsOrGreaterThan, kMax}, kMax - 1, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.state.holds(c.count, nullptr), c.expected)
        << c.state.debug_name() << " at " << c.count;
  }
}

TEST(PortState, FullAndNonFullFollowCapacity) {
  const Port two{PortSlotSpec::Finite(2)};
  const Port none{PortSlotSpec::Finite(0)};
  const Port unbounded{PortSlotSpec::Infinite()};
  const PortState full(K::Full), non_full(K::NonFull);
  EXPECT_FALSE(full.holds(1, &two));
  EXPECT_TRUE(full.holds(2, &two));
  EXPECT_TRUE(full.holds(3, &two));
  EXPECT_TRUE(full.holds(0, &none));
  EXPECT_FALSE(full.holds(kMax, &unbounded));
  EXPECT_FALSE(full.holds(kMax, nullptr));  // a port the node lacks
  for (const Port* port : {&two, &none, &unbounded, static_cast<const Port*>(nullptr)}) {
    for (std::uint64_t count : {0ull, 1ull, 2ull, 5ull}) {
      EXPECT_NE(full.holds(count, port), non_full.holds(count, port));
    }
  }
}

TEST(SalvoEval, LooksUpCountsAndCapacitiesByName) {
  const PortMap ports{{Name("in"), Port{PortSlotSpec::Finite(1)}}};
  const PortCounts one{{Name("in"), 1}};
  EXPECT_TRUE(evaluate_salvo_condition(port_term("in", K::Full), one, ports));
  EXPECT_FALSE(evaluate_salvo_condition(port_term("in", K::Full), PortCounts{}, ports));
  // Absent from both maps: count 0 and no capacity.
  EXPECT_TRUE(evaluate_salvo_condition(port_term("gone", K::Empty), one, ports));
  EXPECT_FALSE(evaluate_salvo_condition(port_term("gone", K::NonEmpty), one, ports));
  EXPECT_TRUE(evaluate_salvo_condition(port_term("gone", {K::Equals, 0}), one, ports));
  EXPECT_TRUE(evaluate_salvo_condition(port_term("gone", K::NonFull), one, ports));
}

TEST(SalvoEval, EmptyJunctionsAndNotChains) {
  const PortCounts counts;
  const PortMap ports;
  EXPECT_TRUE(evaluate_salvo_condition(T::And({}), counts, ports));
  EXPECT_FALSE(evaluate_salvo_condition(T::Or({}), counts, ports));
  EXPECT_FALSE(evaluate_salvo_condition(T::Not(T::And({})), counts, ports));
  EXPECT_FALSE(evaluate_salvo_condition(T::Not(T::Not(T::Not(T::True()))), counts, ports));
  EXPECT_TRUE(evaluate_salvo_condition(T::Not(T::Not(T::True())), counts, ports));
  EXPECT_TRUE(evaluate_salvo_condition(T::Or({T::False(), T::Not(T::And({T::True(), T::False()}))}),
                                       counts, ports));
}

// Answers every port with `value` and records which ports were asked for.
class RecordingCounts final : public PortCountSource {
 public:
  explicit RecordingCounts(std::uint64_t value) : value_(value) {}
  std::uint64_t count(const Name& port) const override {
    asked.push_back(port.str());
    return value_;
  }
  mutable std::vector<std::string> asked;

 private:
  std::uint64_t value_;
};

TEST(SalvoEval, JunctionsStopAtTheDecidingSubTerm) {
  const PortMap ports;
  const T both = T::And({port_term("a", K::NonEmpty), port_term("b", K::NonEmpty)});
  const T either = T::Or({port_term("a", K::NonEmpty), port_term("b", K::NonEmpty)});
  RecordingCounts empty(0), full(1);
  EXPECT_FALSE(evaluate_salvo_condition(both, empty, ports));
  EXPECT_EQ(empty.asked, std::vector<std::string>{"a"});
  EXPECT_TRUE(evaluate_salvo_condition(either, full, ports));
  EXPECT_EQ(full.asked, std::vector<std::string>{"a"});
  EXPECT_TRUE(evaluate_salvo_condition(both, full, ports));
  EXPECT_EQ(full.asked, (std::vector<std::string>{"a", "a", "b"}));
}

// Straightforward recursive reading of the rules, for shallow trees only.
bool reference_eval(const T& t, const PortCounts& counts) {
  switch (t.kind()) {
    case T::Kind::True:
      return true;
    case T::Kind::False:
      return false;
    case T::Kind::Port: {
      auto it = counts.find(t.port_name());
      return t.port_state().holds(it == counts.end() ? 0 : it->second, nullptr);
    }
    case T::Kind::Not:
      return !reference_eval(t.inner(), counts);
    case T::Kind::And:
      for (const T& s : t.terms())
        if (!reference_eval(s, counts)) return false;
      return true;
    case T::Kind::Or:
      for (const T& s : t.terms())
        if (reference_eval(s, counts)) return true;
      return false;
  }
  return false;
}

T random_term(std::mt19937& rng, int depth) {
  const int pick = static_cast<int>(rng() % (depth == 0 ? 3 : 6));
  switch (pick) {
    case 0:
      return rng() % 2 ? T::True() : T::False();
    case 1:
    case 2:
      return port_term(rng() % 3 == 0 ? "c" : (rng() % 2 ? "a" : "b"),
                       {static_cast<K>(rng() % 9), rng() % 3});
    case 3:
      return T::Not(random_term(rng, depth - 1));
    default: {
      std::vector<T> subs;
      for (std::uint32_t n = rng() % 4; n > 0; --n) subs.push_back(random_term(rng, depth - 1));
      return pick == 4 ? T::And(std::move(subs)) : T::Or(std::move(subs));
    }
  }
}

TEST(SalvoEval, AgreesWithRecursiveReadingOnRandomTrees) {
  std::mt19937 rng(12345);
  for (int i = 0; i < 2000; ++i) {
    const T term = random_term(rng, 6);
    const PortCounts counts{{Name("a"), rng() % 3}, {Name("b"), rng() % 3}};
    ASSERT_EQ(evaluate_salvo_condition(term, counts, PortMap{}), reference_eval(term, counts))
        << term.to_string();
  }
}

TEST(SalvoTerm, TextForms) {
  EXPECT_EQ(T::And({port_term("in", K::NonEmpty), T::True()}).to_string(),
            "SalvoConditionTerm.and_([SalvoConditionTerm.port(\"in\", NonEmpty), "
            "SalvoConditionTerm.true_()])");
  EXPECT_EQ(T::Or({}).to_string(), "SalvoConditionTerm.or_([])");
  EXPECT_EQ(T::Not(T::Or({T::False(), port_term("p", {K::LessThan, 7})})).to_string(),
            "SalvoConditionTerm.not_(SalvoConditionTerm.or_([SalvoConditionTerm.false_(), "
            "SalvoConditionTerm.port(\"p\", LessThan(7))]))");
}

TEST(SalvoTerm, PortNamesAreQuotedWithEscapes) {
  EXPECT_EQ(quote_string_literal("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(quote_string_literal("\n\t\r\x01\x1f\x7f"), "\"\\n\\t\\r\\x01\\x1f\\x7f\"");
  EXPECT_EQ(quote_string_literal("h\xc3\xa9"), "\"h\xc3\xa9\"");  // UTF-8 passes through
  EXPECT_EQ(port_term("say \"hi\"", K::Empty).to_string(),
            "SalvoConditionTerm.port(\"say \\\"hi\\\"\", Empty)");
}

TEST(SalvoTerm, CollectsEveryPortName) {
  const T term = T::Or({port_term("a", K::Full), T::Not(port_term("b", K::Empty)),
                        port_term("a", K::Empty), T::And({T::True(), T::False()})});
  NameSet ports{Name("already")};
  collect_ports_from_term(term, ports);
  EXPECT_EQ(ports, (NameSet{Name("already"), Name("a"), Name("b")}));
}

// Terms nested far deeper than any native stack could recurse.
TEST(SalvoTerm, DeepTreesAreWalkedAndFreedIteratively) {
  const PortMap ports;
  const PortCounts counts{{Name("p"), 1}};
  constexpr int kNots = 200000;
  {
    T nots = port_term("p", K::NonEmpty);
    for (int i = 0; i < kNots; ++i) nots = T::Not(std::move(nots));
    EXPECT_TRUE(evaluate_salvo_condition(nots, counts, ports));  // even count of Nots
    const std::string text = nots.to_string();
    const std::string leaf = "SalvoConditionTerm.port(\"p\", NonEmpty)";
    EXPECT_EQ(text.size(), kNots * (std::string("SalvoConditionTerm.not_()").size()) + leaf.size());
    NameSet names;
    collect_ports_from_term(nots, names);
    EXPECT_EQ(names, NameSet{Name("p")});
    const T copy = nots;  // shares the tree
    nots = T::True();     // the copy keeps it alive
    EXPECT_FALSE(evaluate_salvo_condition(T::Not(copy), counts, ports));
  }
  constexpr int kDepth = 100000;
  T chain = T::False();
  T middle = chain;
  for (int i = 0; i < kDepth; ++i) {
    chain = T::And({T::Or({T::True(), T::False()}), std::move(chain), T::True()});
    if (i == kDepth / 2) middle = chain;
  }
  EXPECT_FALSE(evaluate_salvo_condition(chain, counts, ports));
  EXPECT_FALSE(evaluate_salvo_condition(T::Or({chain}), counts, ports));
  EXPECT_TRUE(evaluate_salvo_condition(T::Not(chain), counts, ports));
  EXPECT_GT(chain.to_string().size(), static_cast<std::size_t>(kDepth) * 60);
  chain = T::True();  // frees the upper half; the lower half stays shared
  EXPECT_FALSE(evaluate_salvo_condition(middle, counts, ports));
}

}  // namespace
}  // namespace zellik
