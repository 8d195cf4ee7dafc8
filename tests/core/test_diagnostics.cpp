// Diagnostic code table, templates, lower-casing and "did you mean" suggestions.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "diagnostics.hpp"

namespace tessary {
namespace {

using Views = std::vector<std::string_view>;

TEST(CodeTable, CodesNamesSeverities) {
  struct Row {
    DiagnosticCode code;
    const char* str;
    const char* name;
  };
  const Row rows[] = {
      {DiagnosticCode::ParseError, "E101", "ParseError"},
      {DiagnosticCode::UnknownNodeLabel, "E201", "UnknownNodeLabel"},
      {DiagnosticCode::UnknownNodeLabelInSet, "E202", "UnknownNodeLabelInSet"},
      {DiagnosticCode::UnknownNodeLabelInRemove, "E203", "UnknownNodeLabelInRemove"},
      {DiagnosticCode::UnknownRelType, "E211", "UnknownRelType"},
      {DiagnosticCode::UnknownNodeProperty, "E301", "UnknownNodeProperty"},
      {DiagnosticCode::UnknownRelProperty, "E302", "UnknownRelProperty"},
      {DiagnosticCode::UnknownNodePropertyOnVar, "E303", "UnknownNodePropertyOnVar"},
      {DiagnosticCode::UnknownRelPropertyOnVar, "E304", "UnknownRelPropertyOnVar"},
      {DiagnosticCode::WrongEndpointLabel, "E401", "WrongEndpointLabel"},
      {DiagnosticCode::UnboundVariable, "E501", "UnboundVariable"},
      {DiagnosticCode::DuplicateProjectionName, "E502", "DuplicateProjectionName"},
      {DiagnosticCode::AggregateStringArg, "E601", "AggregateStringArg"},
      {DiagnosticCode::AggregateInForbiddenContext, "E602", "AggregateInForbiddenContext"},
      {DiagnosticCode::PaginationTypeString, "E611", "PaginationTypeString"},
      {DiagnosticCode::PaginationTypeBool, "E612", "PaginationTypeBool"},
      {DiagnosticCode::PaginationTypeNull, "E613", "PaginationTypeNull"},
      {DiagnosticCode::PaginationTypeFloat, "E614", "PaginationTypeFloat"},
      {DiagnosticCode::WrongArity, "E603", "WrongArity"},
      {DiagnosticCode::CartesianProduct, "W101", "CartesianProduct"},
      {DiagnosticCode::UnknownFunction, "W103", "UnknownFunction"},
      {DiagnosticCode::DistinctOnNonAggregate, "W104", "DistinctOnNonAggregate"},
      {DiagnosticCode::UnlabeledFullScan, "W201", "UnlabeledFullScan"},
      {DiagnosticCode::UnboundedVarLength, "W202", "UnboundedVarLength"},
  };
  static_assert(sizeof(rows) / sizeof(rows[0]) == kDiagnosticCodeCount);
  for (std::size_t i = 0; i < kDiagnosticCodeCount; ++i) {
    EXPECT_EQ(static_cast<std::size_t>(rows[i].code), i);
    EXPECT_EQ(code_str(rows[i].code), rows[i].str);
    EXPECT_EQ(code_name(rows[i].code), rows[i].name);
    const Severity sev = rows[i].str[0] == 'E' ? Severity::Error : Severity::Warning;
    EXPECT_EQ(code_severity(rows[i].code), sev) << rows[i].str;
  }
  EXPECT_EQ(static_cast<int>(DiagnosticCode::WrongArity), 18);
  EXPECT_EQ(severity_str(Severity::Error), "error");
  EXPECT_EQ(severity_str(Severity::Warning), "warning");
}

TEST(CodeTable, FixedWarningTexts) {
  EXPECT_EQ(code_template(DiagnosticCode::CartesianProduct),
            "MATCH pattern contains disconnected parts that will produce a Cartesian product; add "
            "a relationship or shared variable to connect them");
  EXPECT_EQ(code_template(DiagnosticCode::UnlabeledFullScan),
            "MATCH contains an unlabeled node with no WHERE clause; this will scan all nodes in "
            "the graph");
  EXPECT_EQ(code_template(DiagnosticCode::UnboundedVarLength),
            "Variable-length relationship without an upper bound ([*] or [*n..]) may cause "
            "unbounded traversal");
  EXPECT_TRUE(code_template(DiagnosticCode::ParseError).empty());
}

TEST(CodeTable, FormattedMessages) {
  struct Case {
    std::string got;
    std::string want;
  };
  // Past a few hundred bytes a message is put together otherwise.
  const std::string long_name(300, 'x');
  const std::string long_match = long_name + "y";
  const Case cases[] = {
      {format_message(DiagnosticCode::UnknownNodeLabel, {"Persn", ", did you mean :Person?"}),
       "Unknown node label: :Persn, did you mean :Person?"},
      {format_message(DiagnosticCode::UnknownNodeLabel, {"Zzz", ""}), "Unknown node label: :Zzz"},
      {format_message(DiagnosticCode::UnknownRelPropertyOnVar, {"sinc", "r", "KNOWS", ""}),
       "Unknown property 'sinc' on variable 'r' with relationship type :KNOWS"},
      {format_message(DiagnosticCode::WrongEndpointLabel,
                      {"ACTED_IN", "source", "Person", "Movie, X"}),
       "Relationship :ACTED_IN expects source label :Person, but node has label(s): Movie, X"},
      {format_message(DiagnosticCode::WrongArity, {"size", "1", "2"}),
       "Function size() expects 1 argument(s), got 2"},
      {format_message(DiagnosticCode::AggregateInForbiddenContext, {"MATCH WHERE"}),
       "Aggregate function not allowed in MATCH WHERE context; aggregates are only valid in "
       "RETURN, WITH, or ORDER BY"},
      {format_message(DiagnosticCode::PaginationTypeNull, {"SKIP"}),
       "SKIP expression must be an integer, got NULL"},
      // Placeholders in the arguments are not expanded again.
      {format_message(DiagnosticCode::UnboundVariable, {"{}"}),
       "Variable '{}' is not bound in this scope"},
      {fill_template("a{}b{}c", {"1"}), "a1bc"},
      {fill_template("{a{}}{", {"1"}), "{a1}{"},
      // A hint is written as the argument after the given ones.
      {format_message(DiagnosticCode::UnknownNodePropertyOnVar, {"nme", "p", "Person"},
                      Hint{'.', "name"}),
       "Unknown property 'nme' on variable 'p' with label :Person, did you mean .name?"},
      {format_message(DiagnosticCode::UnknownRelType, {"WORK_FOR"}, Hint{':', "WORKS_FOR"}),
       "Unknown relationship type: :WORK_FOR" + label_hint_for("WORKS_FOR")},
      {format_message(DiagnosticCode::UnknownNodeLabel, {"Zzz"}, Hint{}),
       "Unknown node label: :Zzz"},
      {format_message(DiagnosticCode::UnknownNodeLabel, {long_name}, Hint{':', long_match}),
       "Unknown node label: :" + long_name + ", did you mean :" + long_match + "?"},
      {format_message(DiagnosticCode::UnknownNodeLabel, {long_name, ""}),
       "Unknown node label: :" + long_name},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(UnicodeLower, FullMapping) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"PersON_1", "person_1"},
      {"\xc3\x89T\xc3\x89", "\xc3\xa9t\xc3\xa9"},  // ÉTÉ
      {"\xc4\xb0", "i\xcc\x87"},                   // İ -> i + combining dot above
      {"\xce\xa3\xce\x91", "\xcf\x83\xce\xb1"},    // ΣΑ
      // Capital sigma at the end of a word takes the final form: ΑΣ -> ας, Α'Σ. -> α'ς.
      // (the apostrophe and the full stop are case-ignorable), but Σ alone and 1Σ stay σ.
      {"\xce\x91\xce\xa3", "\xce\xb1\xcf\x82"},
      {"\xce\x91'\xce\xa3.", "\xce\xb1'\xcf\x82."},
      {"\xce\x91\xce\xa3\xce\x91", "\xce\xb1\xcf\x83\xce\xb1"},
      {"\xce\xa3", "\xcf\x83"},
      {"1\xce\xa3", "1\xcf\x83"},
      {"a\xce\xa3 b", "a\xcf\x82 b"},
      {"\xc2\xaa\xce\xa3", "\xc2\xaa\xcf\x82"},                    // ª is cased
      {"a\xcc\x87\xce\xa3\xcc\x87", "a\xcc\x87\xcf\x82\xcc\x87"},  // marks are passed over
      {"\xff\xce\xa3", "\xff\xcf\x83"},                            // a malformed byte is not cased
      {"\xe1\xba\x9e", "\xc3\x9f"},                                // ẞ -> ß
      {"\xe2\x84\xaa", "k"},                     // KELVIN SIGN -> k (3 bytes to 1)
      {"\xc8\xba", "\xe2\xb1\xa5"},              // Ⱥ -> ⱥ (2 bytes to 3)
      {"\xf0\x90\x90\x80", "\xf0\x90\x90\xa8"},  // DESERET CAPITAL LONG I
      {"\xc7\x85", "\xc7\x86"},                  // title-case Dž -> dž
      {"a\xff"
       "B\xc3",
       "a\xff"
       "b\xc3"},  // malformed bytes kept
  };
  for (const Case& c : cases) EXPECT_EQ(unicode_lower(c.in), c.out) << c.in;
}

TEST(ClosestMatch, AlgorithmCases) {
  struct Case {
    const char* name;
    Views candidates;
    const char* want;  // nullptr: no match
  };
  const std::vector<Case> cases = {
      {"person", {"Movie", "Person"}, "Person"},
      {"Persn", {"Perse", "Person"}, "Perse"},  // tie: earlier wins, limit drops to 0
      {"Personality", {"Person"}, nullptr},     // length gap 5
      {"Pers", {"Person"}, "Person"},           // distance 2
      {"Pxxxxx", {"Person"}, nullptr},          // distance 5
      {"abcd", {"wxyz"}, nullptr},              // distance 4 is never returned
      {"abc", {"xyz"}, "xyz"},                  // distance 3 is
      {"abcde", {"abXYe", "abXde"}, "abXde"},   // 2 then 1: the closer one replaces it
      {"abcde", {"abXde", "abYde"}, "abXde"},   // 1 then 1: first stays
      {"abcde", {"aXYde", "aZWde"}, "aXYde"},   // 2 then 2: first stays
      {"abcde", {"aXYde", "abcde"}, "abcde"},   // exact later match still found
      {"ABCDE", {"abcdx", "Abcde"}, "Abcde"},   // case-insensitive, own spelling back
      {"", {"ab", "abc"}, "ab"},                // empty name: distance = length
      {"abc", {"", "x"}, ""},                   // empty candidate at 3; x is also 3
      {"abc", {"", "ax"}, "ax"},                // ... ax at 2 replaces it
      {"abc", {}, nullptr},
      {"", {""}, ""},
      // One differing two-byte letter: é (c3 a9) vs è (c3 a8) differ in one byte ...
      {"caf\xc3\xa9", {"caf\xc3\xa8"}, "caf\xc3\xa8"},
      // ... é vs ā (c4 81) in both: distance 2; a later 1-byte edit beats it.
      {"caf\xc3\xa9", {"caf\xc4\x81", "cafe\xc3\xa9"}, "cafe\xc3\xa9"},
      // İ lower-cases to 3 bytes: "i̇x" vs "ix" is one byte apart after lower-casing.
      {"\xc4\xb0x", {"ix"}, "ix"},
      // Final sigma: "aΣ" lower-cases to "aς", one byte from "aς" but not equal to "aσ".
      {"a\xce\xa3", {"a\xcf\x83x", "a\xcf\x82"}, "a\xcf\x82"},
      // The byte-length check comes before lower-casing: two KELVIN SIGNs (6 bytes) are
      // skipped against "kk" although both lower-case to "kk"; one (3 bytes) is not.
      {"\xe2\x84\xaa\xe2\x84\xaa", {"kk"}, nullptr},
      {"\xe2\x84\xaak", {"kk"}, "kk"},
  };
  for (const Case& c : cases) {
    const auto got = closest_match(c.name, c.candidates);
    if (c.want == nullptr) {
      EXPECT_FALSE(got.has_value()) << c.name << " -> " << *got;
    } else {
      ASSERT_TRUE(got.has_value()) << c.name;
      EXPECT_EQ(*got, c.want) << c.name;
      // The result is the candidate's own storage, not a copy.
      bool same_storage = false;
      for (auto cand : c.candidates) same_storage |= cand.data() == got->data();
      EXPECT_TRUE(same_storage);
    }
  }
}

TEST(ClosestMatch, LongCandidatesUseTheHeapRows) {
  const std::string base(200, 'a');
  std::string near = base;
  near[100] = 'b';
  const Views candidates = {near};
  EXPECT_EQ(closest_match(base, candidates), near);
  std::string far = base;
  for (int i = 0; i < 4; ++i) far[i * 40] = 'z';
  EXPECT_FALSE(closest_match(base, Views{far}).has_value());
}

// An independent full-matrix distance: closest_match must agree with the plain definition
// (the lowest distance <= 3, the earliest on ties) over many small random cases.
std::size_t full_distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i)
    for (std::size_t j = 1; j <= b.size(); ++j)
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
  return d[a.size()][b.size()];
}

// Both forms of closest_match give the lowest distance <= 3, the earliest on ties.
void expect_plain_closest(const std::string& name, const Views& candidates) {
  std::optional<std::string_view> want;
  std::size_t best = 4;
  for (auto c : candidates) {
    const std::size_t d = full_distance(unicode_lower(name), unicode_lower(c));
    if (d < best) {
      best = d;
      want = c;
    }
  }
  for (const auto& got :
       {closest_match(name, candidates), closest_match(name, Candidates(candidates))}) {
    ASSERT_EQ(got.has_value(), want.has_value()) << name;
    if (got) ASSERT_EQ(got->data(), want->data()) << name << " " << *got << " " << *want;
  }
}

TEST(ClosestMatch, AgreesWithPlainDefinitionOnAscii) {
  unsigned state = 7;
  auto next = [&state] { return state = state * 1103515245u + 12345u, (state >> 16) & 0x7fff; };
  for (int iter = 0; iter < 3000; ++iter) {
    auto word = [&] {
      std::string w;
      const unsigned len = next() % 7;
      for (unsigned i = 0; i < len; ++i) w += "abAB"[next() % 4];
      return w;
    };
    const std::string name = word();
    std::vector<std::string> owned;
    const unsigned n = next() % 6;
    for (unsigned i = 0; i < n; ++i) owned.push_back(word());
    ASSERT_NO_FATAL_FAILURE(expect_plain_closest(name, Views(owned.begin(), owned.end())));
  }
}

// Longer names, up to and past the 64 bytes that one machine word of the distance holds, with
// candidates a few edits away; the list form that lower-cases its candidates once gives the
// same answers.
TEST(ClosestMatch, AgreesWithPlainDefinitionOnLongerNames) {
  std::mt19937 rng(11);
  auto letter = [&] { return "abAB_x"[rng() % 6]; };
  for (int iter = 0; iter < 4000; ++iter) {
    std::string name;
    for (std::size_t len = rng() % 72; len > 0; --len) name += letter();
    std::vector<std::string> owned;
    for (std::size_t n = rng() % 6; n > 0; --n) {
      std::string c = name;
      for (std::size_t edits = rng() % 6; edits > 0; --edits) {
        const std::size_t at = c.empty() ? 0 : rng() % c.size();
        switch (rng() % 3) {
          case 0:
            c.insert(c.begin() + static_cast<std::ptrdiff_t>(at), letter());
            break;
          case 1:
            if (!c.empty()) c.erase(at, 1);
            break;
          default:
            if (!c.empty()) c[at] = letter();
            break;
        }
      }
      owned.push_back(c);
    }
    ASSERT_NO_FATAL_FAILURE(expect_plain_closest(name, Views(owned.begin(), owned.end())));
  }
}

// Arbitrary bytes (malformed UTF-8, lone continuation bytes, sigmas next to them) never crash
// the lower-casing or the matching, and a match is always one of the candidates.
TEST(ClosestMatch, ArbitraryBytes) {
  const std::string pieces[] = {"\xce\xa3", "\xc4\xb0", "\xcc\x87",        "\x80", "\xbf\xbf",
                                "\xf0\x9f", "\xff",     "\xe2\x84",        "a",    "A",
                                "'",        "\xc3",     "\xf4\x90\x80\x80"};
  unsigned state = 99;
  auto next = [&state] { return state = state * 1664525u + 1013904223u, state >> 8; };
  for (int iter = 0; iter < 20000; ++iter) {
    auto word = [&] {
      std::string w;
      const unsigned n = next() % 6;
      for (unsigned i = 0; i < n; ++i) w += pieces[next() % std::size(pieces)];
      return w;
    };
    const std::string name = word();
    std::vector<std::string> owned = {word(), word(), word()};
    const Views candidates(owned.begin(), owned.end());
    (void)unicode_lower(name);
    const auto got = closest_match(name, candidates);
    if (got) {
      bool found = false;
      for (auto c : candidates) found |= c.data() == got->data();
      ASSERT_TRUE(found);
    }
  }
}

// The suggestion and the hint of a name, built as the validator builds them: the match searched
// once, then both made from it (none without a match).
struct Found {
  std::optional<Suggestion> suggestion;
  std::string hint;
};
Found label_found(std::string_view written, std::string_view lookup, const Views& candidates) {
  const auto m = closest_match(lookup, candidates);
  if (!m) return {};
  return {label_suggestion_for(written, *m), label_hint_for(*m)};
}
Found property_found(std::string_view written, std::string_view lookup, const Views& candidates) {
  const auto m = closest_match(lookup, candidates);
  if (!m) return {};
  return {property_suggestion_for(written, *m), property_hint_for(*m)};
}

TEST(Suggestions, LabelAndPropertyForms) {
  const auto rel = label_found("KNOWS", "KNOWS", Views{"KNOWN", "LIKES"}).suggestion;
  ASSERT_TRUE(rel.has_value());
  EXPECT_EQ(rel->original, ":KNOWS");
  EXPECT_EQ(rel->replacement, ":KNOWN");
  EXPECT_EQ(rel->description, "Replace :KNOWS with :KNOWN");
  const auto prop = property_found("nmae", "nmae", Views{"age", "name"}).suggestion;
  ASSERT_TRUE(prop.has_value());
  EXPECT_EQ(prop->original, "nmae");
  EXPECT_EQ(prop->replacement, "name");
  EXPECT_EQ(prop->description, "Replace property 'nmae' with 'name'");
  EXPECT_FALSE(label_found("Zebra", "Zebra", Views{"Movie", "Person"}).suggestion.has_value());
  EXPECT_FALSE(property_found("x", "x", Views{}).suggestion.has_value());
  // Written text in the fragments, lookup text for the match.
  const auto quoted = label_found("`Persn`", "Persn", Views{"Person"}).suggestion;
  ASSERT_TRUE(quoted.has_value());
  EXPECT_EQ(quoted->original, ":`Persn`");
  EXPECT_EQ(quoted->replacement, ":Person");
  EXPECT_EQ(quoted->description, "Replace :`Persn` with :Person");
  const auto qprop = property_found("`nmae`", "nmae", Views{"name"}).suggestion;
  ASSERT_TRUE(qprop.has_value());
  EXPECT_EQ(qprop->original, "`nmae`");
  EXPECT_EQ(qprop->replacement, "name");
  // A match that needs backticks in a query: the fragments and the description carry it quoted.
  const auto to_quoted = label_suggestion_for("Ordr", "`Order`");
  EXPECT_EQ(to_quoted.replacement, ":`Order`");
  EXPECT_EQ(to_quoted.description, "Replace :Ordr with :`Order`");
  const auto prop_quoted = property_suggestion_for("cont", "`count`");
  EXPECT_EQ(prop_quoted.replacement, "`count`");
  EXPECT_EQ(prop_quoted.description, "Replace property 'cont' with '`count`'");
}

TEST(Suggestions, HintsMatchSuggestions) {
  const Views labels = {"Movie", "Person"};
  EXPECT_EQ(label_found("person", "person", labels).hint, ", did you mean :Person?");
  EXPECT_EQ(label_found("Zebra", "Zebra", labels).hint, "");
  EXPECT_EQ(property_found("nmae", "nmae", Views{"name"}).hint, ", did you mean .name?");
  EXPECT_EQ(property_found("zzzzzz", "zzzzzz", Views{"name"}).hint, "");
  for (const char* name : {"person", "Movei", "Zebra", "Persona", ""}) {
    const Found found = label_found(name, name, labels);
    EXPECT_EQ(found.suggestion.has_value(), !found.hint.empty()) << name;
    if (found.suggestion) {
      EXPECT_EQ(found.hint, ", did you mean " + found.suggestion->replacement + "?");
    }
  }
}

}  // namespace
}  // namespace tessary
