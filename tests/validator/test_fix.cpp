// The automatic fix: each suggestion rewrites the names its findings are about and nothing else;
// the fix is all or nothing.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "validator/fix.hpp"
#include "validator/validator.hpp"

namespace tessary {
namespace {

// ---------------------------------------------------------------------------------------------
// The fix on its own, with findings made by hand

ValidationDiagnostic error_with(DiagnosticCode code, const char* original,
                                const char* replacement) {
  return ValidationDiagnostic{
      code, Severity::Error, "e", Suggestion{original, replacement, "d"}, {}};
}

ValidationDiagnostic error_without() {
  return ValidationDiagnostic{DiagnosticCode::UnboundVariable, Severity::Error, "e", {}, {}};
}

ValidationDiagnostic warning() {
  return ValidationDiagnostic{DiagnosticCode::UnlabeledFullScan, Severity::Warning, "w", {}, {}};
}

constexpr DiagnosticCode kLabel = DiagnosticCode::UnknownNodeLabel;
constexpr DiagnosticCode kKey = DiagnosticCode::UnknownNodePropertyOnVar;

TEST(ComputeFixedQuery, AbsentWithoutErrorsOrWhenAnErrorLacksASuggestion) {
  EXPECT_EQ(compute_fixed_query("MATCH (n) RETURN n", {}, {}), std::nullopt);
  EXPECT_EQ(compute_fixed_query("MATCH (n) RETURN n", {warning()}, {}), std::nullopt);
  EXPECT_EQ(
      compute_fixed_query("MATCH (n:Persn) RETURN m",
                          {error_with(kLabel, ":Persn", ":Person"), error_without()}, {{0, 9}}),
      std::nullopt);
}

TEST(ComputeFixedQuery, WarningsDoNotBlockTheFix) {
  EXPECT_EQ(compute_fixed_query("MATCH (n:Persn) RETURN n",
                                {warning(), error_with(kLabel, ":Persn", ":Person")}, {{1, 9}}),
            "MATCH (n:Person) RETURN n");
}

TEST(ComputeFixedQuery, RewritesTheSitesOnly) {
  // Offsets:          0         1         2         3
  //                   0123456789012345678901234567890123456
  const char* query = "MATCH (n:Persn) RETURN n.nme, nme, 'nme'";
  EXPECT_EQ(compute_fixed_query(
                query, {error_with(kKey, "nme", "name"), error_with(kLabel, ":Persn", ":Person")},
                {{0, 25}, {1, 9}}),
            "MATCH (n:Person) RETURN n.name, nme, 'nme'");
  // Errors whose suggestions are alike still rewrite only their own sites.
  EXPECT_EQ(compute_fixed_query("RETURN a.k, b.k, c.k",
                                {error_with(kKey, "k", "p"), error_with(kKey, "k", "p")},
                                {{0, 9}, {1, 19}}),
            "RETURN a.p, b.k, c.p");
}

TEST(ComputeFixedQuery, ANameWithSeveralFindingsTakesTheFirstReplacement) {
  // A key checked against two labels, each suggesting its own property.
  EXPECT_EQ(compute_fixed_query("RETURN a.k, b.k",
                                {error_with(kKey, "k", "p"), error_with(kKey, "k", "q"),
                                 error_with(kKey, "k", "r")},
                                {{0, 14}, {1, 9}, {2, 9}}),
            "RETURN a.q, b.p");
}

// Sites found in any order are rewritten in the order of the text, the first finding of each
// site winning, for few sites and for many.
TEST(ComputeFixedQuery, SitesFoundOutOfOrderAreRewrittenInTextOrder) {
  for (std::size_t count : {2u, 3u, 16u, 17u, 40u}) {
    std::string query = "RETURN ";
    std::string fixed = "RETURN ";
    std::vector<std::uint32_t> offsets;
    for (std::size_t i = 0; i < count; ++i) {
      const std::string item = (i ? ", v" : "v") + std::to_string(i) + ".";
      query += item;
      fixed += item;
      offsets.push_back(static_cast<std::uint32_t>(query.size()));
      query += "k";
      fixed += "p" + std::to_string(i);
    }
    std::vector<std::string> replacements;
    for (std::size_t i = 0; i < count; ++i) replacements.push_back("p" + std::to_string(i));
    std::vector<ValidationDiagnostic> diagnostics;
    std::vector<SuggestionSite> sites;
    // Every other site first, from the last one back, then the rest; then a second finding
    // for every site, found later, whose replacement must lose.
    for (std::size_t pass = 0; pass < 2; ++pass) {
      for (std::size_t i = count; i-- > 0;) {
        if (i % 2 != pass) continue;
        sites.push_back(SuggestionSite{diagnostics.size(), offsets[i]});
        diagnostics.push_back(error_with(kKey, "k", replacements[i].c_str()));
      }
    }
    for (std::size_t i = 0; i < count; ++i) {
      sites.push_back(SuggestionSite{diagnostics.size(), offsets[i]});
      diagnostics.push_back(error_with(kKey, "k", "zz"));
    }
    EXPECT_EQ(compute_fixed_query(query, diagnostics, sites), fixed) << count << " sites";
  }
}

TEST(ComputeFixedQuery, ASiteThatDoesNotShowItsNameIsLeftAlone) {
  EXPECT_EQ(compute_fixed_query("RETURN a.k", {error_with(kKey, "k", "p")}, {{0, 7}}),
            "RETURN a.k");
  EXPECT_EQ(compute_fixed_query("RETURN a.k", {error_with(kKey, "k", "p")}, {{0, 99}}),
            "RETURN a.k");
}

// ---------------------------------------------------------------------------------------------
// The fix of validated queries, by the kind of text that shares a misspelt name
//
// Schema: Person {name, age}, Movie {title}; ACTED_IN: Person -> Movie {role}.

const Tessary& validator() {
  static const Tessary instance([] {
    Schema schema;
    schema.insert_node("Person", PropertySet{"name", "age"});
    schema.insert_node("Movie", PropertySet{"title"});
    schema.insert_relationship("ACTED_IN", "Person", "Movie", PropertySet{"role"});
    return schema;
  }());
  return instance;
}

struct FixCase {
  const char* kind;
  const char* query;
  std::optional<std::string> fixed;
};

std::ostream& operator<<(std::ostream& os, const FixCase& c) { return os << c.kind; }

class FixedQuery : public ::testing::TestWithParam<FixCase> {};

TEST_P(FixedQuery, RewritesOnlyTheNamesTheFindingsAreAbout) {
  const FixCase& c = GetParam();
  const ValidationResult r = validator().validate(c.query);
  EXPECT_EQ(r.fixed_query, c.fixed) << c.query;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FixedQuery,
    ::testing::Values(
        FixCase{"node variables",
                "MATCH (nme:Person)-[:ACTED_IN]->(name:Movie) RETURN nme.nme, name.title",
                "MATCH (nme:Person)-[:ACTED_IN]->(name:Movie) RETURN nme.name, name.title"},
        FixCase{"relationship variable",
                "MATCH (a:Person)-[rol:ACTED_IN {rol: 'x'}]->(m:Movie) RETURN rol.rol",
                "MATCH (a:Person)-[rol:ACTED_IN {role: 'x'}]->(m:Movie) RETURN rol.role"},
        FixCase{"alias", "MATCH (n:Person) WITH n.nme AS nme WHERE nme > 1 RETURN nme",
                "MATCH (n:Person) WITH n.name AS nme WHERE nme > 1 RETURN nme"},
        FixCase{"literal map key", "MATCH (n:Person) RETURN n.nme, {nme: 1} AS m",
                "MATCH (n:Person) RETURN n.name, {nme: 1} AS m"},
        FixCase{"function name", "MATCH (n:Person) RETURN n.nme, nme(1), nme.x(2)",
                "MATCH (n:Person) RETURN n.name, nme(1), nme.x(2)"},
        FixCase{"parameter", "MATCH (n:Person {nme: $nme}) RETURN n",
                "MATCH (n:Person {name: $nme}) RETURN n"},
        FixCase{"strings", "MATCH (n:Person {nme: 'nme'}) RETURN n.nme = \"nme\"",
                "MATCH (n:Person {name: 'nme'}) RETURN n.name = \"nme\""},
        FixCase{"comments", "MATCH (n:Person) // n.nme\nRETURN n.nme /* :Persn nme */",
                "MATCH (n:Person) // n.nme\nRETURN n.name /* :Persn nme */"},
        FixCase{"label as a variable", "MATCH (Persn:Persn) RETURN Persn",
                "MATCH (Persn:Person) RETURN Persn"},
        FixCase{"label as a variable after a map key's colon",
                "WITH 1 AS Persn MATCH (n:Persn) RETURN {k:Persn}",
                "WITH 1 AS Persn MATCH (n:Person) RETURN {k:Persn}"},
        FixCase{"the same misspelt key twice", "MATCH (n:Person) WHERE n.nme = 'x' RETURN n.nme",
                "MATCH (n:Person) WHERE n.name = 'x' RETURN n.name"},
        FixCase{"the same misspelt key in a map, SET and RETURN",
                "MATCH (n:Person {nme: 1}) SET n.nme = 2 RETURN n.nme",
                "MATCH (n:Person {name: 1}) SET n.name = 2 RETURN n.name"},
        FixCase{"a map key written twice", "MATCH (n:Person {nme: 1, nme: 2}) RETURN n",
                "MATCH (n:Person {name: 1, name: 2}) RETURN n"},
        FixCase{"label and property in one query",
                "MATCH (n:Persn)-[:ACTED_IM]->(m:Movie {titel: 'x'}) RETURN m.titel",
                "MATCH (n:Person)-[:ACTED_IN]->(m:Movie {title: 'x'}) RETURN m.title"},
        FixCase{"label and type apart from their colons",
                "MATCH (n: Persn)-[:/* t */ACTED_IM]->(m:Movie) RETURN n",
                "MATCH (n: Person)-[:/* t */ACTED_IN]->(m:Movie) RETURN n"},
        FixCase{"type alternative without its colon",
                "MATCH (a:Person)-[:ACTED_IN|ACTS_IN]->(b:Movie) RETURN a",
                "MATCH (a:Person)-[:ACTED_IN|ACTED_IN]->(b:Movie) RETURN a"},
        FixCase{"quoted key and quoted variable of the same name",
                "MATCH (n:Person) WITH n AS `nme` RETURN `nme`.`nme`",
                "MATCH (n:Person) WITH n AS `nme` RETURN `nme`.name"},
        FixCase{"quoted label", "MATCH (n:`Persn`) RETURN n", "MATCH (n:Person) RETURN n"},
        FixCase{"labels in SET and REMOVE",
                "MATCH (n:Person) SET n:Persn REMOVE n:Persn, n.nme RETURN n",
                "MATCH (n:Person) SET n:Person REMOVE n:Person, n.name RETURN n"},
        FixCase{"every key of a SET chain", "MATCH (n:Person) SET n.nme.agee = 1 RETURN n",
                "MATCH (n:Person) SET n.name.age = 1 RETURN n"},
        FixCase{"a pattern inside EXISTS",
                "MATCH (a:Person) WHERE EXISTS { (a)-[:ACTED_IM]->(:Movie) } RETURN a",
                "MATCH (a:Person) WHERE EXISTS { (a)-[:ACTED_IN]->(:Movie) } RETURN a"},
        FixCase{"a name inside a longer one", "MATCH (n:Persn), (m:Persnx) RETURN n.nme, m",
                "MATCH (n:Person), (m:Person) RETURN n.nme, m"},
        FixCase{"an error without suggestion", "MATCH (n:Person) RETURN n.nme, m", std::nullopt}));

}  // namespace
}  // namespace tessary
