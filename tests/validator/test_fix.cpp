// The automatic fix: whole-name replacement and the all-or-nothing, longest-first assembly.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "validator/fix.hpp"

namespace tessary {
namespace {

struct ReplaceCase {
  const char* text;
  const char* original;
  const char* replacement;
  const char* expected;
};

class ReplaceWholeNames : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceWholeNames, ReplacesOnlyWholeNamesOutsideLiteralsAndComments) {
  const ReplaceCase& c = GetParam();
  EXPECT_EQ(replace_whole_names(c.text, c.original, c.replacement), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplaceWholeNames,
    ::testing::Values(
        // A property key inside a longer name is left alone.
        ReplaceCase{"MATCH (box:B) RETURN box.x", "x", "age", "MATCH (box:B) RETURN box.age"},
        ReplaceCase{"RETURN n.x, n.x_1, n.x1, n.ax", "x", "age", "RETURN n.age, n.x_1, n.x1, n.ax"},
        // A label fragment begins with ":", so only its end is tested.
        ReplaceCase{"MATCH (a:Persn), (b:Persnx) RETURN a", ":Persn", ":Person",
                    "MATCH (a:Person), (b:Persnx) RETURN a"},
        ReplaceCase{"MATCH (a:Persn:Persn)", ":Persn", ":Person", "MATCH (a:Person:Person)"},
        // String literals of both kinds and comments of both kinds are never rewritten.
        ReplaceCase{"MATCH (n {nme: 'nme'}) RETURN \"nme\"", "nme", "name",
                    "MATCH (n {name: 'nme'}) RETURN \"nme\""},
        ReplaceCase{"MATCH (n) // nme\nRETURN n.nme /* n.nme */", "nme", "name",
                    "MATCH (n) // nme\nRETURN n.name /* n.nme */"},
        ReplaceCase{"RETURN 'it''s' + n.nme", "nme", "name", "RETURN 'it''s' + n.name"},
        // A quote inside a backtick name starts no string; a fragment replaces a quoted name only
        // as a whole.
        ReplaceCase{"MATCH (n:`it's`) RETURN n.nme", "nme", "name",
                    "MATCH (n:`it's`) RETURN n.name"},
        ReplaceCase{"MATCH (n) RETURN n.`x y`, n.x", "x", "age", "MATCH (n) RETURN n.`x y`, n.age"},
        ReplaceCase{"MATCH (n:`Movie Sta`) RETURN n", ":`Movie Sta`", ":`Movie Star`",
                    "MATCH (n:`Movie Star`) RETURN n"},
        ReplaceCase{"RETURN n.`nme`", "`nme`", "name", "RETURN n.name"},
        // A parameter of the same name is another name.
        ReplaceCase{"MATCH (n {nme: $nme}) RETURN n", "nme", "name",
                    "MATCH (n {name: $nme}) RETURN n"},
        // No overlap and no rescanning of a replacement; an unterminated block comment and a
        // stray quote are ordinary text.
        ReplaceCase{"aa aaa", "aa", "aaa", "aaa aaa"},
        ReplaceCase{"RETURN n.x /* x", "x", "y", "RETURN n.y /* y"},
        ReplaceCase{"", "x", "y", ""},
        ReplaceCase{"x", "x", "", ""},
        ReplaceCase{"RETURN n.nme", "", "z", "RETURN n.nme"}));

ValidationDiagnostic error_with(const char* original, const char* replacement) {
  return ValidationDiagnostic{DiagnosticCode::UnknownNodeLabel, Severity::Error, "e",
                              Suggestion{original, replacement, "d"}, {}};
}

ValidationDiagnostic error_without() {
  return ValidationDiagnostic{DiagnosticCode::UnboundVariable, Severity::Error, "e", {}, {}};
}

ValidationDiagnostic warning() {
  return ValidationDiagnostic{DiagnosticCode::UnlabeledFullScan, Severity::Warning, "w", {}, {}};
}

TEST(ComputeFixedQuery, AbsentWithoutErrorsOrWhenAnErrorLacksASuggestion) {
  EXPECT_EQ(compute_fixed_query("MATCH (n) RETURN n", {}), std::nullopt);
  EXPECT_EQ(compute_fixed_query("MATCH (n) RETURN n", {warning()}), std::nullopt);
  EXPECT_EQ(compute_fixed_query("MATCH (n:Persn) RETURN m",
                                {error_with(":Persn", ":Person"), error_without()}),
            std::nullopt);
}

TEST(ComputeFixedQuery, WarningsDoNotBlockTheFix) {
  EXPECT_EQ(compute_fixed_query("MATCH (n:Persn) RETURN n",
                                {warning(), error_with(":Persn", ":Person")}),
            "MATCH (n:Person) RETURN n");
}

TEST(ComputeFixedQuery, LongerOriginalsGoFirstAndDuplicatesCollapse) {
  // :Persnx is replaced before :Persn; with :Persn first it would stay unchanged anyway, as a
  // whole-name match, but the order is still longest first.
  EXPECT_EQ(compute_fixed_query("MATCH (a:Persn), (b:Persnx), (c:Persn)",
                                {error_with(":Persn", ":Person"), error_with(":Persnx", ":Persons"),
                                 error_with(":Persn", ":Person")}),
            "MATCH (a:Person), (b:Persons), (c:Person)");
}

TEST(ComputeFixedQuery, EachPairWorksOnTheTextThePreviousOneProduced) {
  // nam -> name first (longer original), then the shorter n -> m never touches "name"'s n
  // because it is not a whole name there.
  EXPECT_EQ(compute_fixed_query("RETURN x.nam, n", {error_with("n", "m"), error_with("nam", "name")}),
            "RETURN x.name, m");
  // The same original with two replacements gives two pairs: the first one wins everywhere.
  EXPECT_EQ(compute_fixed_query("RETURN a.k, b.k", {error_with("k", "p"), error_with("k", "q")}),
            "RETURN a.p, b.p");
}

// Names are fixed in one pass over the text where the fragments allow it; that pass must give
// what applying the pairs one after the other gives. Random texts of plain and quoted names
// between separators, literals and comments, now and then with a stray quote, backtick or
// comment mark, and random pairs, against the pairs applied one by one through
// replace_whole_names.
TEST(ComputeFixedQuery, OnePassMatchesPairByPair) {
  const std::vector<std::string> names = {"a",   "b",     "ab",     "abc",
                                          "a_1", "`a`",   "`a b`",  "`b`",
                                          "`it's`", "`*/ \"`"};
  const std::vector<std::string> separators = {"", " ", ":", "$", ".", ",", "{", "}", "\xC3\xA9",
                                               " // a\n", " /* `a` */ ", "'a'", "\"b\""};
  const std::vector<std::string> strays = {"'", "\"", "`", "/*", "*/", "//", "\n"};
  std::mt19937 rng(7);
  auto pick = [&](const std::vector<std::string>& from) { return from[rng() % from.size()]; };
  for (int run = 0; run < 30000; ++run) {
    std::string text;
    for (int n = static_cast<int>(rng() % 12); n > 0; --n) {
      text += pick(names);
      text += rng() % 8 == 0 ? pick(strays) : pick(separators);
    }
    std::vector<ValidationDiagnostic> diagnostics;
    std::vector<std::pair<std::string, std::string>> pairs;
    for (int n = 1 + static_cast<int>(rng() % 5); n > 0; --n) {
      const std::string colon = rng() % 2 ? ":" : "";
      std::pair<std::string, std::string> pair{colon + pick(names), colon + pick(names)};
      diagnostics.push_back(error_with(pair.first.c_str(), pair.second.c_str()));
      if (std::find(pairs.begin(), pairs.end(), pair) == pairs.end()) pairs.push_back(pair);
    }
    std::stable_sort(pairs.begin(), pairs.end(), [](const auto& x, const auto& y) {
      return x.first.size() > y.first.size();
    });
    std::string expected = text;
    for (const auto& [original, replacement] : pairs) {
      expected = replace_whole_names(expected, original, replacement);
    }
    ASSERT_EQ(compute_fixed_query(text, diagnostics), expected) << "text: " << text;
  }
}

}  // namespace
}  // namespace tessary
