// The recognizer's engine on its own: the memo's cut, restore and replay of a call's events, and
// the merging of what a memoized call recorded, driven by a tiny grammar over the letters a, b
// and c rather than by whole queries.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "parser/recognizer_combinators.hpp"
#include "test_recognizer_support.hpp"

namespace tessary::recognizer_detail {
namespace {

// The tiny grammar. Its rules borrow the numbers (and kinds) of grammar rules that are normal
// and count no nesting level; a run of `as` over 24 or more letters does enough work for the
// memo to keep it.
//   a: "a"                              (left_arrow)
//   b: "b"                              (right_arrow)
//   as: a+                              (pattern), memoized as as_memo
//   wrapped: "(" ~ as_memo ~ ")"        (node_pattern), memoized as wrapped_memo
//   as_b: a+ ~ b                        (pattern_part), memoized as as_b_memo
bool a(State& s) { return rule<Rule::left_arrow>(s, lit("a")); }
bool b(State& s) { return rule<Rule::right_arrow>(s, lit("b")); }
bool as(State& s) { return rule<Rule::pattern>(s, plus(a)); }
bool as_memo(State& s) { return memoized<Rule::pattern, as>(s); }
bool wrapped(State& s) { return rule<Rule::node_pattern>(s, seq(lit("("), as_memo, lit(")"))); }
bool wrapped_memo(State& s) { return memoized<Rule::node_pattern, wrapped>(s); }
bool as_b(State& s) { return rule<Rule::pattern_part>(s, seq(plus(a), b)); }
bool as_b_memo(State& s) { return memoized<Rule::pattern_part, as_b>(s); }

const std::string kRun(30, 'a');

// One run of the tiny grammar over a text.
struct TinyRun {
  std::string text;
  State s;
  explicit TinyRun(std::string t, bool memoize = true) : text(std::move(t)) {
    Options options;
    options.memoize = memoize;
    start(s, text, options);
  }
  std::string tree() { return testing_support::tree(pairs_of(s, text)); }
};

// The tree `f` leaves when run from `pos` without the memo.
std::string plain_tree(const std::string& text, std::uint32_t pos, bool (*f)(State&)) {
  TinyRun plain(text, false);
  plain.s.pos = pos;
  EXPECT_TRUE(f(plain.s));
  return plain.tree();
}

TEST(RecognizerEngine, CutEntryIsTakenBackInPlace) {
  TinyRun r(kRun);
  ASSERT_TRUE(as_memo(r.s));
  const std::size_t events = r.s.tokens.size();
  ASSERT_EQ(r.s.memo.size(), 1u);

  // An enclosing alternative fails: the events are cut, but stay in the buffer.
  r.s.pos = 0;
  cut(r.s, 0);
  EXPECT_EQ(r.s.tokens.size(), 0u);
  EXPECT_EQ(r.s.memo[0].place, EntryPlace::Cut);

  // The next alternative calls the rule at the same place: the events come back as they were.
  ASSERT_TRUE(as_memo(r.s));
  EXPECT_EQ(r.s.tokens.size(), events);
  EXPECT_EQ(r.s.memo[0].place, EntryPlace::Live);
  EXPECT_EQ(r.s.replays, 0u);
  EXPECT_EQ(r.s.pos, kRun.size());
  EXPECT_EQ(r.tree(), plain_tree(kRun, 0, as));
}

TEST(RecognizerEngine, EntryWrittenOverIsMovedOutThenReplayed) {
  TinyRun r(kRun);
  ASSERT_TRUE(as_memo(r.s));
  r.s.pos = 0;
  cut(r.s, 0);

  // Another call writes where the entry's events were: they are moved out first.
  ASSERT_TRUE(a(r.s));
  EXPECT_EQ(r.s.memo[0].place, EntryPlace::Moved);
  r.s.pos = 0;
  cut(r.s, 0);

  // Called again, the rule appends one replay event, which the tree expands.
  ASSERT_TRUE(as_memo(r.s));
  EXPECT_EQ(r.s.tokens.size(), 1u);
  EXPECT_EQ(r.s.replays, 1u);
  EXPECT_EQ(r.s.pos, kRun.size());
  EXPECT_EQ(r.tree(), plain_tree(kRun, 0, as));
}

TEST(RecognizerEngine, InnerEntryReplaysFromItsParentsEvents) {
  const std::string text = "(" + kRun + ")";
  TinyRun r(text);
  ASSERT_TRUE(wrapped_memo(r.s));
  ASSERT_EQ(r.s.memo.size(), 2u);
  const MemoEntry& inner = r.s.memo[0];
  EXPECT_EQ(inner.place, EntryPlace::Nested);
  EXPECT_EQ(inner.parent, 1u);  // its events are now found inside the outer call's
  EXPECT_EQ(inner.at, 1u);      // right after the outer start event

  // The outer call's events are cut and written over, which moves them out; the inner
  // entry follows them there.
  r.s.pos = 0;
  cut(r.s, 0);
  EXPECT_FALSE(b(r.s));  // appends its start event at index 0, then fails
  EXPECT_EQ(r.s.memo[1].place, EntryPlace::Moved);

  r.s.pos = 1;
  ASSERT_TRUE(as_memo(r.s));
  EXPECT_EQ(r.s.replays, 1u);
  EXPECT_EQ(r.s.pos, 1 + kRun.size());
  EXPECT_EQ(r.tree(), plain_tree(text, 1, as));
}

// Where a run failed and what it expected there.
std::string record_of(const State& s) {
  std::string out = std::to_string(s.furthest) + ":";
  for (Rule rule : expected_rules(s)) {
    out += ' ';
    out += rule_name(rule);
  }
  return out;
}

TEST(RecognizerEngine, ReplayMergesWhatTheCallRecorded) {
  // A call recorded attempts at 30, the end of the run of a's: `as` one (the failed repetition
  // of a), `as_b` two (that and b). Called again from a caller whose record stands below, at or
  // beyond 30, the replay must leave the record that running the call again leaves.
  struct Case {
    bool (*f)(State&);
    std::uint32_t caller_furthest;
    Rule caller_expected;
    const char* record;
  };
  const std::vector<Case> cases = {
      {as_memo, 0, Rule::statement, "30: left_arrow"},
      {as_memo, 30, Rule::EOI, "30: EOI left_arrow"},
      {as_memo, 31, Rule::EOI, "31: EOI"},
      {as_b_memo, 0, Rule::statement, "30: left_arrow right_arrow"},
      {as_b_memo, 30, Rule::EOI, "30: EOI left_arrow right_arrow"},
      {as_b_memo, 31, Rule::EOI, "31: EOI"},
  };
  for (const Case& c : cases) {
    std::string records[2];
    for (const bool memoize : {true, false}) {
      TinyRun r(kRun + "x", memoize);
      const bool ok = c.f(r.s);
      r.s.pos = 0;
      r.s.furthest = c.caller_furthest;
      r.s.expected.truncate(0);
      r.s.expected.push_back(Attempt{static_cast<std::uint32_t>(c.caller_expected), false});
      EXPECT_EQ(c.f(r.s), ok);
      EXPECT_EQ(r.s.replays + r.s.memo.size() > 0, memoize);
      records[memoize] = record_of(r.s);
    }
    EXPECT_EQ(records[true], c.record) << c.caller_furthest;
    EXPECT_EQ(records[false], c.record) << c.caller_furthest;
  }
}

// Alternatives that read the same memoized calls again after a later element failed: the
// calls are taken back or replayed, and their records merged, exactly as running them again.
bool rereads(State& s) {
  return rule<Rule::statement>(s, choice(seq(as_memo, lit("c")), seq(as_b_memo, lit("c")),
                                         seq(as_b_memo, lit("b")), seq(wrapped_memo, lit("c")),
                                         seq(as_memo, b), seq(as_memo, lit("(")), wrapped_memo));
}

TEST(RecognizerEngine, RereadsGiveWhatRunningAgainGives) {
  for (const std::string& text : {kRun, kRun + "b", kRun + "bb", kRun + "c", kRun + "(",
                                  "(" + kRun + ")", "(" + kRun, std::string("x"), std::string()}) {
    std::string outcomes[2];
    for (const bool memoize : {true, false}) {
      TinyRun r(text, memoize);
      outcomes[memoize] = rereads(r.s) ? std::to_string(r.s.pos) + " " + r.tree() : record_of(r.s);
    }
    EXPECT_EQ(outcomes[true], outcomes[false]) << text;
  }
}

// A memo entry with the key of a call of `rule` at `pos`, all else empty.
MemoEntry keyed_entry(Rule rule, std::uint32_t pos) {
  MemoEntry m{};
  m.pos = pos;
  m.rule = rule;
  return m;
}

TEST(RecognizerEngine, MemoTableFindsWhatWasInsertedAcrossGrowth) {
  // The table holds entry indexes and compares keys through the entries. The keys: positions
  // of atom in a row (enough for the table to grow past the size from which it is kept fuller),
  // one of another rule at a position atom also has, and positions whose hashes fall on one
  // slot at every capacity up to 4096 (long probe runs that growth must keep findable).
  std::vector<MemoEntry> entries;
  const auto add = [&](Rule rule, std::uint32_t pos) { entries.push_back(keyed_entry(rule, pos)); };
  const auto slot_of = [](Rule rule, std::uint32_t p) {
    return ((memo_key(rule, p) * 0x9E3779B97F4A7C15ull) >> 32) & 4095;
  };
  constexpr std::uint32_t kRow = 70000;
  for (std::uint32_t p = 0; p < kRow; ++p) add(Rule::atom, p);
  add(Rule::expression, 7);
  const std::uint64_t crowded = slot_of(Rule::expression, 100000);
  for (std::uint32_t p = 100000; entries.size() < kRow + 201; ++p) {
    if (slot_of(Rule::expression, p) == crowded) add(Rule::expression, p);
  }

  MemoTable table;
  EXPECT_EQ(table.find(entries.data(), Rule::atom, 0), nullptr);
  for (std::uint32_t i = 0; i < entries.size(); ++i) table.insert(entries.data(), i);
  for (std::uint32_t i = 0; i < entries.size(); ++i) {
    const std::uint32_t* hit = table.find(entries.data(), entries[i].rule, entries[i].pos);
    ASSERT_NE(hit, nullptr) << i;
    EXPECT_EQ(*hit, i);
  }
  EXPECT_EQ(table.find(entries.data(), Rule::expression, 8), nullptr);
  EXPECT_EQ(table.find(entries.data(), Rule::atom, kRow), nullptr);
  EXPECT_EQ(table.find(entries.data(), Rule::atom, 100000), nullptr);

  // An entry of a key already there takes its place.
  add(Rule::atom, 5);
  table.insert(entries.data(), static_cast<std::uint32_t>(entries.size() - 1));
  EXPECT_EQ(*table.find(entries.data(), Rule::atom, 5), entries.size() - 1);
  EXPECT_EQ(*table.find(entries.data(), Rule::atom, 6), 6u);

  const std::size_t capacity = table.capacity();
  table.clear();
  EXPECT_TRUE(table.empty());
  EXPECT_EQ(table.capacity(), capacity);
  EXPECT_EQ(table.find(entries.data(), Rule::atom, 3), nullptr);
}

TEST(RecognizerEngine, MemoTableTellsRulesAtOnePositionApart) {
  // Expression's key at a position hashes to a slot a little after atom's at that position.
  // With expression's entry there first, and atom's slots up to it filled by entries of other
  // positions, atom's entry lands after expression's: looking up atom there, or entering it
  // again, probes past expression's entry, which only the rule tells apart.
  constexpr std::uint32_t kAt = 5000;
  const auto slot_of = [](Rule rule, std::uint32_t p) {
    return ((memo_key(rule, p) * 0x9E3779B97F4A7C15ull) >> 32) & 63;  // in 64 slots
  };
  const std::uint64_t home = slot_of(Rule::atom, kAt);
  const std::uint64_t gap = (slot_of(Rule::expression, kAt) - home) & 63;
  ASSERT_LT(gap, 24u);  // so that the entries below fit in 64 slots

  std::vector<MemoEntry> entries;
  const auto add = [&](Rule rule, std::uint32_t pos) { entries.push_back(keyed_entry(rule, pos)); };
  add(Rule::expression, kAt);
  for (std::uint32_t p = 0; entries.size() < gap + 1; ++p) {
    if (p != kAt && slot_of(Rule::atom, p) == home) add(Rule::atom, p);
  }
  add(Rule::atom, kAt);
  MemoTable table;
  for (std::uint32_t i = 0; i < entries.size(); ++i) table.insert(entries.data(), i);
  ASSERT_EQ(table.capacity(), 64u);
  const std::uint32_t atom = static_cast<std::uint32_t>(entries.size() - 1);
  ASSERT_NE(table.find(entries.data(), Rule::atom, kAt), nullptr);
  EXPECT_EQ(*table.find(entries.data(), Rule::atom, kAt), atom);
  EXPECT_EQ(*table.find(entries.data(), Rule::expression, kAt), 0u);

  add(Rule::atom, kAt);  // the same key again takes atom's slot, not expression's
  table.insert(entries.data(), atom + 1);
  EXPECT_EQ(*table.find(entries.data(), Rule::atom, kAt), atom + 1);
  EXPECT_EQ(*table.find(entries.data(), Rule::expression, kAt), 0u);
}

// A case-insensitive literal read as words of the text: it matches exactly where the bytes of
// the text, A-Z folded, are those of the literal. Tried with every byte at every place of the
// literal, the literal cut short by the end of the text, and after other text.
template <LiteralText Word>
void expect_literal_matches_folded_bytes() {
  const std::string word(Word.chars, Word.size);
  const auto fold_byte = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  };
  const auto expected = [&](const std::string& text, std::size_t at) {
    if (text.size() - at < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
      if (fold_byte(text[at + i]) != fold_byte(word[i])) return false;
    }
    return true;
  };
  const auto check = [&](const std::string& text, std::size_t at) {
    State s;
    s.text = text.data();
    s.len = static_cast<std::uint32_t>(text.size());
    s.pos = static_cast<std::uint32_t>(at);
    EXPECT_EQ(ilit<Word>()(s), expected(text, at)) << "literal " << word << " in: " << text;
    EXPECT_EQ(s.pos, at + (expected(text, at) ? word.size() : 0));
  };
  for (std::size_t i = 0; i < word.size(); ++i) {
    for (int b = 0; b < 256; ++b) {
      std::string text = word;
      text[i] = static_cast<char>(b);
      check(text, 0);
      check("x " + text + "y", 2);
    }
  }
  std::string swapped = word;
  for (char& c : swapped) c = static_cast<char>(c ^ (is_alpha(c) ? 0x20 : 0));
  check(swapped, 0);
  check(word.substr(0, word.size() - 1), 0);
  check("ab" + word.substr(0, word.size() - 1), 2);
}

TEST(RecognizerEngine, CaseInsensitiveLiteralsMatchFoldedBytes) {
  expect_literal_matches_folded_bytes<"X">();
  expect_literal_matches_folded_bytes<"IN">();
  expect_literal_matches_folded_bytes<"AND">();
  expect_literal_matches_folded_bytes<"WITH">();
  expect_literal_matches_folded_bytes<"MATCH">();
  expect_literal_matches_folded_bytes<"CONTAINS">();
  expect_literal_matches_folded_bytes<"DESCENDING">();
  expect_literal_matches_folded_bytes<"shortestPath">();
  expect_literal_matches_folded_bytes<"allShortestPaths">();
  expect_literal_matches_folded_bytes<"a_1@[z">();
}

}  // namespace
}  // namespace tessary::recognizer_detail
