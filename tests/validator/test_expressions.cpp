// Expression checks through the whole pipeline: unbound variables, property accesses, built-in
// function calls, SKIP/LIMIT literals, aggregates in forbidden clauses and the scope rules of
// comprehensions, quantifiers, REDUCE, pattern comprehensions and subqueries.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "diagnostics.hpp"
#include "parser/builder.hpp"
#include "schema.hpp"
#include "validation_cases.hpp"
#include "validator/validator.hpp"

namespace tessary {
namespace {

// Person (name, age), Movie (title), ACTED_IN from Person to Movie (role).
Schema fixture_schema() {
  Schema schema;
  schema.insert_node("Person", PropertySet{"name", "age"});
  schema.insert_node("Movie", PropertySet{"title"});
  schema.insert_relationship("ACTED_IN", "Person", "Movie", PropertySet{"role"});
  return schema;
}

void run_table(const std::vector<ValidationCase>& cases) {
  const Tessary validator(fixture_schema());
  for (const auto& c : cases) expect_validation(validator, c);
}

// Findings that recur, as the tables write them.
std::string unbound(const std::string& name) {
  return "E501 Variable '" + name + "' is not bound in this scope";
}

const char* const kUnlabeledScan =
    "W201 MATCH contains an unlabeled node with no WHERE clause; this will scan all nodes in the "
    "graph";
const char* const kCartesian =
    "W101 MATCH pattern contains disconnected parts that will produce a Cartesian product; add a "
    "relationship or shared variable to connect them";

std::string aggregate_context(const std::string& context) {
  return "E602 Aggregate function not allowed in " + context +
         " context; aggregates are only valid in RETURN, WITH, or ORDER BY";
}

TEST(ExpressionChecks, PropertyAccess) {
  run_table({
      {"MATCH (n:Person) RETURN n.name, n.age", {}},
      {"MATCH (n:Person) RETURN n.nme",
       {"E303 Unknown property 'nme' on variable 'n' with label :Person, did you mean .name? "
        "[nme -> name]"},
       "MATCH (n:Person) RETURN n.name"},
      // A variable with several labels is checked against each known one separately.
      {"MATCH (n:Person:Movie) RETURN n.title",
       {"E303 Unknown property 'title' on variable 'n' with label :Person"}},
      {"MATCH (a:Person)-[r:ACTED_IN]->(b:Movie) RETURN r.rol",
       {"E304 Unknown property 'rol' on variable 'r' with relationship type :ACTED_IN, did you "
        "mean .role? [rol -> role]"},
       "MATCH (a:Person)-[r:ACTED_IN]->(b:Movie) RETURN r.role"},
      // One name for a node and a relationship: each entry of its list is checked, as a label
      // or as a type; an unknown label is passed over.
      {"MATCH (x:Person) MATCH ()-[x:ACTED_IN]->() WHERE x.age > 1 RETURN x.role",
       {"E304 Unknown property 'age' on variable 'x' with relationship type :ACTED_IN, did you "
        "mean .role? [age -> role]",
        "E303 Unknown property 'role' on variable 'x' with label :Person, did you mean .age? "
        "[role -> age]"},
       "MATCH (x:Person) MATCH ()-[x:ACTED_IN]->() WHERE x.role > 1 RETURN x.age"},
      {"MATCH (x:Person:Film:Movie) RETURN x.name",
       {"E201 Unknown node label: :Film",
        "E303 Unknown property 'name' on variable 'x' with label :Movie"}},
      // Only the first key of a chain is checked.
      {"MATCH (n:Person) RETURN n.address.city",
       {"E303 Unknown property 'address' on variable 'n' with label :Person"}},
      {"MATCH (n:Person) RETURN n.name.city", {}},
      // An unbound variable gets E501 and no property finding.
      {"MATCH (n:Person) RETURN x.name", {unbound("x")}},
      // An unknown label is reported by the pattern check only.
      {"MATCH (n:Persn) RETURN n.nme",
       {"E201 Unknown node label: :Persn, did you mean :Person? [:Persn -> :Person]"},
       "MATCH (n:Person) RETURN n.nme"},
      // Variables bound without labels are never checked.
      {"UNWIND [1] AS x RETURN x.anything", {}},
      {"MATCH p = (n:Person) RETURN p.nme", {}},
      {"MATCH (n:Person) UNWIND [1] AS n RETURN n.nme", {}},
      // The label travels through WITH.
      {"MATCH (n:Person) WITH n AS m RETURN m.nme",
       {"E303 Unknown property 'nme' on variable 'm' with label :Person, did you mean .name? "
        "[nme -> name]"},
       "MATCH (n:Person) WITH n AS m RETURN m.name"},
      // Property accesses nested in other expressions, and on a subscript (not a variable).
      {"MATCH (n:Person) WHERE n.agee > 1 AND size(n.nam) > 0 RETURN [n][0].nme",
       {"E303 Unknown property 'agee' on variable 'n' with label :Person, did you mean .age? "
        "[agee -> age]",
        "E303 Unknown property 'nam' on variable 'n' with label :Person, did you mean .name? "
        "[nam -> name]"},
       "MATCH (n:Person) WHERE n.age > 1 AND size(n.name) > 0 RETURN [n][0].nme"},
  });
}

TEST(ExpressionChecks, PropertyAccessInSetAndRemoveChecksEveryKey) {
  run_table({
      {"MATCH (n:Person) SET n.nme = 1",
       {"E303 Unknown property 'nme' on variable 'n' with label :Person, did you mean .name? "
        "[nme -> name]"},
       "MATCH (n:Person) SET n.name = 1"},
      {"MATCH (n:Person) SET n.address.city = 1",
       {"E303 Unknown property 'address' on variable 'n' with label :Person",
        "E303 Unknown property 'city' on variable 'n' with label :Person"}},
      {"MATCH (n:Person) SET m.name = 1", {}},
      {"MATCH (n:Person) REMOVE n.agee",
       {"E303 Unknown property 'agee' on variable 'n' with label :Person, did you mean .age? "
        "[agee -> age]"},
       "MATCH (n:Person) REMOVE n.age"},
      {"MATCH (n:Person) SET n.age = n.agee",
       {"E303 Unknown property 'agee' on variable 'n' with label :Person, did you mean .age? "
        "[agee -> age]"},
       "MATCH (n:Person) SET n.age = n.age"},
      // ON MATCH and ON CREATE items get the checks of SET (ON MATCH first).
      {"MERGE (n:Person) ON CREATE SET n.nme = 'x' ON MATCH SET n.agee = 1",
       {"E303 Unknown property 'agee' on variable 'n' with label :Person, did you mean .age? "
        "[agee -> age]",
        "E303 Unknown property 'nme' on variable 'n' with label :Person, did you mean .name? "
        "[nme -> name]"},
       "MERGE (n:Person) ON CREATE SET n.name = 'x' ON MATCH SET n.age = 1"},
  });
}

TEST(ExpressionChecks, BacktickQuotedNamesAreComparedWithoutTheirBackticks) {
  run_table({
      {"MATCH (n:Person) RETURN n.`name`", {}},
      {"MATCH (n:`Person`) RETURN n.name", {}},
      {"MATCH (n:`Person`) RETURN n.`nme`",
       {"E303 Unknown property '`nme`' on variable 'n' with label :`Person`, did you mean .name? "
        "[`nme` -> name]"},
       "MATCH (n:`Person`) RETURN n.name"},
      {"MATCH ()-[r:`ACTED_IN`]->() RETURN r.rol",
       {kUnlabeledScan,
        "E304 Unknown property 'rol' on variable 'r' with relationship type :`ACTED_IN`, did you "
        "mean .role? [rol -> role]"},
       "MATCH ()-[r:`ACTED_IN`]->() RETURN r.role"},
      {"MATCH (n:Person) SET n.`age` = 1 REMOVE n.`title`",
       {"E303 Unknown property '`title`' on variable 'n' with label :Person"}},
  });
}

TEST(ExpressionChecks, PropertySuggestionAndFix) {
  Tessary validator(fixture_schema());
  ValidationResult r = validator.validate("MATCH (n:Person) RETURN n.nme");
  ASSERT_EQ(r.diagnostics.size(), 1u);
  ASSERT_TRUE(r.diagnostics[0].suggestion.has_value());
  EXPECT_EQ(r.diagnostics[0].suggestion->original, "nme");
  EXPECT_EQ(r.diagnostics[0].suggestion->replacement, "name");
  EXPECT_EQ(r.diagnostics[0].suggestion->description, "Replace property 'nme' with 'name'");
  EXPECT_FALSE(r.diagnostics[0].position.has_value());
  EXPECT_EQ(r.fixed_query, "MATCH (n:Person) RETURN n.name");

  // A quoted key: the fragment keeps the backticks, the match is searched without them.
  r = validator.validate("MATCH (n:Person) RETURN n.`nme`");
  ASSERT_EQ(r.diagnostics.size(), 1u);
  ASSERT_TRUE(r.diagnostics[0].suggestion.has_value());
  EXPECT_EQ(r.diagnostics[0].suggestion->original, "`nme`");
  EXPECT_EQ(r.diagnostics[0].suggestion->replacement, "name");
  EXPECT_EQ(r.diagnostics[0].suggestion->description, "Replace property '`nme`' with 'name'");

  r = validator.validate("MATCH (a:Person)-[r:ACTED_IN]->(m:Movie) RETURN r.rol, m.titel");
  ASSERT_EQ(r.diagnostics.size(), 2u);
  EXPECT_EQ(r.fixed_query, "MATCH (a:Person)-[r:ACTED_IN]->(m:Movie) RETURN r.role, m.title");

  // No close key: no hint, no suggestion, so no fix.
  r = validator.validate("MATCH (n:Person) RETURN n.address");
  ASSERT_EQ(r.diagnostics.size(), 1u);
  EXPECT_FALSE(r.diagnostics[0].suggestion.has_value());
  EXPECT_FALSE(r.fixed_query.has_value());

  // An unbound variable has no suggestion, so the whole fix is dropped.
  r = validator.validate("MATCH (n:Person) RETURN n.nme, m");
  ASSERT_EQ(r.diagnostics.size(), 2u);
  EXPECT_FALSE(r.diagnostics[1].suggestion.has_value());
  EXPECT_FALSE(r.fixed_query.has_value());
}

TEST(ExpressionChecks, UnboundVariablesInEveryChildInOrder) {
  run_table({
      {"RETURN [1, a], {k: b}", {unbound("a"), unbound("b")}},
      {"RETURN CASE a WHEN b THEN c ELSE d END",
       {unbound("a"), unbound("b"), unbound("c"), unbound("d")}},
      {"RETURN CASE WHEN a THEN b WHEN c THEN d END",
       {unbound("a"), unbound("b"), unbound("c"), unbound("d")}},
      {"RETURN a[b], c[d..e], f[..g]",
       {unbound("a"), unbound("b"), unbound("c"), unbound("d"), unbound("e"), unbound("f"),
        unbound("g")}},
      {"RETURN NOT a, -b, c IS NULL, d IS NOT NULL",
       {unbound("a"), unbound("b"), unbound("c"), unbound("d")}},
      {"RETURN a + b * c ^ d, e =~ f, g STARTS WITH h, i IN j",
       {unbound("a"), unbound("b"), unbound("c"), unbound("d"), unbound("e"), unbound("f"),
        unbound("g"), unbound("h"), unbound("i"), unbound("j")}},
      {"RETURN a OR b XOR c AND d <> e",
       {unbound("a"), unbound("b"), unbound("c"), unbound("d"), unbound("e")}},
      {"RETURN 1, 2.5, 'x', true, null, $p, count(*)", {}},
      {"RETURN `my var`", {unbound("`my var`")}},
      // Scope order inside one part: a later MATCH binds before the WHERE is checked.
      {"MATCH (a:Person) WHERE b.name = 'x' MATCH (b:Person) RETURN a", {}},
      {"UNWIND x AS y RETURN y", {unbound("x")}},
  });
}

TEST(ExpressionChecks, FunctionCalls) {
  run_table({
      {"RETURN toLower('A'), TOLOWER('b'), ToUpper('c'), percentileCont(1, 0.5)", {}},
      {"RETURN my.text.join([], ',')",
       {"W103 Unknown function my.text.join(); if this is a user-defined function, ignore this "
        "warning"}},
      // Arguments of an unknown function are still checked; a namespaced name never matches.
      {"RETURN apoc.coll.sum(x, 'a')",
       {"W103 Unknown function apoc.coll.sum(); if this is a user-defined function, ignore this "
        "warning",
        unbound("x")}},
      {"RETURN substring('abc')", {"E603 Function substring() expects 2-3 argument(s), got 1"}},
      {"RETURN pi(1)", {"E603 Function pi() expects 0 argument(s), got 1"}},
      {"RETURN coalesce()", {"E603 Function coalesce() expects at least 1 argument(s), got 0"}},
      {"RETURN coalesce(1, 2, 3, 4, 5)", {}},
      {"RETURN round(1, 2, 3)", {"E603 Function round() expects 1-2 argument(s), got 3"}},
      {"RETURN Replace('a', 'b')", {"E603 Function Replace() expects 3 argument(s), got 2"}},
      {"RETURN date(), date('2020-01-01'), rand(), e()", {}},
      {"RETURN toLower(DISTINCT 'a')",
       {"W104 DISTINCT is used with non-aggregate function toLower(); DISTINCT only has meaning "
        "with aggregate functions"}},
      {"MATCH (n:Person) RETURN count(DISTINCT n), collect(distinct n.name)", {}},
      // Arity, then DISTINCT, then the arguments.
      {"RETURN toLower(DISTINCT q, 'b')",
       {"E603 Function toLower() expects 1 argument(s), got 2",
        "W104 DISTINCT is used with non-aggregate function toLower(); DISTINCT only has meaning "
        "with aggregate functions",
        unbound("q")}},
      {"RETURN sum('x'), avg('a', 'b')",
       {"E601 Aggregate function sum() received a string literal; expected a numeric expression",
        "E603 Function avg() expects 1 argument(s), got 2",
        "E601 Aggregate function avg() received a string literal; expected a numeric expression",
        "E601 Aggregate function avg() received a string literal; expected a numeric expression"}},
      {"RETURN StDev('x'), stdevp('y'), percentileDisc('z', 0.5), percentilecont(1, '0.5')",
       {"E601 Aggregate function StDev() received a string literal; expected a numeric expression",
        "E601 Aggregate function stdevp() received a string literal; expected a numeric expression",
        "E601 Aggregate function percentileDisc() received a string literal; expected a numeric "
        "expression",
        "E601 Aggregate function percentilecont() received a string literal; expected a numeric "
        "expression"}},
      {"RETURN max('x'), min('y'), count('z'), collect('w'), sum(['x']), sum(toString(1))", {}},
      // An unknown function gets neither the DISTINCT nor the string-literal check.
      {"RETURN my.fn(DISTINCT 'x'), mine.sum('y')",
       {"W103 Unknown function my.fn(); if this is a user-defined function, ignore this warning",
        "W103 Unknown function mine.sum(); if this is a user-defined function, ignore this "
        "warning"}},
      {"RETURN SUM(DISTINCT 'x')",
       {"E601 Aggregate function SUM() received a string literal; expected a numeric expression"}},
      {"RETURN size(tolower(x))", {unbound("x")}},
  });
}

TEST(ExpressionChecks, Pagination) {
  run_table({
      {"MATCH (n:Person) RETURN n SKIP 1.5",
       {"E614 SKIP expression must be an integer, got a float literal"}},
      {"MATCH (n:Person) RETURN n LIMIT 'ten'",
       {"E611 LIMIT expression must be an integer, got a string literal"}},
      {"MATCH (n:Person) RETURN n LIMIT true",
       {"E612 LIMIT expression must be an integer, got a boolean literal"}},
      {"MATCH (n:Person) RETURN n LIMIT null",
       {"E613 LIMIT expression must be an integer, got NULL"}},
      {"MATCH (n:Person) RETURN n SKIP false LIMIT NULL",
       {"E612 SKIP expression must be an integer, got a boolean literal",
        "E613 LIMIT expression must be an integer, got NULL"}},
      {"MATCH (n:Person) RETURN n SKIP 0 LIMIT $n", {}},
      {"MATCH (n:Person) RETURN n LIMIT -1", {}},
      {"MATCH (n:Person) RETURN n LIMIT 1 + 2.5", {}},
      {"MATCH (n:Person) RETURN n LIMIT x", {unbound("x")}},
      {"MATCH (n:Person) WITH n SKIP 'a' LIMIT 2.0 RETURN n",
       {"E611 SKIP expression must be an integer, got a string literal",
        "E614 LIMIT expression must be an integer, got a float literal"}},
  });
}

TEST(ExpressionChecks, AggregatesInForbiddenClauses) {
  run_table({
      {"MATCH (n:Person) WHERE count(n) > 1 RETURN n", {aggregate_context("MATCH WHERE")}},
      {"MATCH (n:Person) WHERE count(*) + 1 > 0 RETURN n", {aggregate_context("MATCH WHERE")}},
      {"MATCH (n:Person) WHERE CASE WHEN max(n.age) > 1 THEN true END RETURN n",
       {aggregate_context("MATCH WHERE")}},
      {"MATCH (n:Person) WHERE tolower(collect(n.name)) = '' RETURN n",
       {aggregate_context("MATCH WHERE")}},
      // An unknown function with an aggregate argument.
      {"MATCH (n:Person) WHERE my.f(sum(n.age)) RETURN n",
       {aggregate_context("MATCH WHERE"),
        "W103 Unknown function my.f(); if this is a user-defined function, ignore this warning"}},
      // E602 comes before the findings of the expression itself.
      {"MATCH (n:Person) WHERE avg(n.agee) > 1 RETURN n",
       {aggregate_context("MATCH WHERE"),
        "E303 Unknown property 'agee' on variable 'n' with label :Person, did you mean .age? "
        "[agee -> age]"}},
      {"MATCH (n:Person) WHERE NOT -[count(n)][0] IS NULL RETURN n",
       {aggregate_context("MATCH WHERE")}},
      {"MATCH (n:Person) WHERE {a: min(n.age)}.a > 1 RETURN n", {aggregate_context("MATCH WHERE")}},
      // Nested scopes and slices hide their aggregates.
      {"MATCH (n:Person) WHERE [x IN collect(n) | x] = [] RETURN n", {}},
      {"MATCH (n:Person) WHERE collect(n)[0 .. 2] = [] RETURN n", {}},
      {"MATCH (n:Person) WHERE any(x IN collect(n) WHERE x IS NULL) RETURN n", {}},
      {"MATCH (n:Person) WHERE reduce(s = 0, x IN collect(n.age) | s + x) > 1 RETURN n", {}},
      {"MATCH (n:Person) WHERE COUNT { MATCH (m:Movie) RETURN count(m) } > 1 RETURN n", {}},
      {"MATCH (n:Person) WHERE exists(n.name) RETURN n", {}},
      {"MATCH (n:Person) SET n.age = max(n.age)", {aggregate_context("SET")}},
      {"MATCH (n:Person) SET n += {age: count(*)}", {aggregate_context("SET")}},
      {"MATCH (n:Person) MERGE (m:Movie) ON MATCH SET m.title = collect(n.name)",
       {aggregate_context("SET")}},
      {"MATCH (n:Person) DELETE collect(n)", {aggregate_context("DELETE")}},
      // Aggregates are fine in RETURN, WITH and ORDER BY, and after WITH ... WHERE.
      {"MATCH (n:Person) WITH count(n) AS c WHERE c > 1 RETURN c, sum(c) ORDER BY max(c)", {}},
      {"MATCH (n:Person) WITH n WHERE count(n) > 1 RETURN n", {}},
  });
}

TEST(ExpressionChecks, ComprehensionsAndQuantifiersBindTemporarily) {
  run_table({
      {"RETURN [x IN range(1, 3) WHERE x > 1 | x * 2]", {}},
      {"RETURN [x IN range(1, 3) | x], x", {unbound("x")}},
      // The list is checked before the variable is bound.
      {"RETURN [x IN x | x]", {unbound("x")}},
      {"RETURN [x IN [1] WHERE y > 0]", {unbound("y")}},
      // A bound variable keeps its labels inside and stays bound afterwards.
      {"MATCH (x:Person) RETURN [x IN [1] | x.name], x.age", {}},
      {"MATCH (x:Person) RETURN [x IN [1] | x.nme]",
       {"E303 Unknown property 'nme' on variable 'x' with label :Person, did you mean .name? "
        "[nme -> name]"},
       "MATCH (x:Person) RETURN [x IN [1] | x.name]"},
      // An inner comprehension over the same name must not unbind the outer one's variable.
      {"RETURN [x IN [1] | [x IN [2] | x] + x], x", {unbound("x")}},
      {"RETURN all(x IN [1, 2] WHERE x > 0), any(y IN [1] WHERE y = 1), none(z IN [] WHERE z), "
       "single(w IN [1] WHERE w = 1)",
       {}},
      {"RETURN all(x IN [1] WHERE x > 0), x", {unbound("x")}},
      {"RETURN single(x IN x WHERE true)", {unbound("x")}},
      {"RETURN none(x IN [1] WHERE y)", {unbound("y")}},
  });
}

TEST(ExpressionChecks, ReduceBindsAccumulatorAndVariable) {
  run_table({
      {"RETURN reduce(acc = 0, x IN [1, 2] | acc + x)", {}},
      {"RETURN reduce(acc = 0, x IN [1, 2] | acc + x), acc, x", {unbound("acc"), unbound("x")}},
      // init and list are checked in the enclosing scope.
      {"RETURN reduce(acc = acc, x IN x | acc)", {unbound("acc"), unbound("x")}},
      {"RETURN reduce(acc = 0, x IN [1] | y)", {unbound("y")}},
      // One name for both: bound once, removed once.
      {"RETURN reduce(x = 0, x IN [1] | x), x", {unbound("x")}},
      // A name bound before keeps its labels and stays bound.
      {"MATCH (acc:Person) RETURN reduce(acc = 0, x IN [1] | acc.nme), acc.name",
       {"E303 Unknown property 'nme' on variable 'acc' with label :Person, did you mean .name? "
        "[nme -> name]"},
       "MATCH (acc:Person) RETURN reduce(acc = 0, x IN [1] | acc.name), acc.name"},
      {"MATCH (x:Person) RETURN reduce(s = 0, x IN [1] | s), x.name, s", {unbound("s")}},
  });
}

TEST(ExpressionChecks, PatternFormsInExpressions) {
  run_table({
      // A pattern comprehension binds its element's variables only inside.
      {"MATCH (a:Person) RETURN [(a)-[r:ACTED_IN]->(m) WHERE m.title <> '' | r.rol]",
       {"E304 Unknown property 'rol' on variable 'r' with relationship type :ACTED_IN, did you "
        "mean .role? [rol -> role]"},
       "MATCH (a:Person) RETURN [(a)-[r:ACTED_IN]->(m) WHERE m.title <> '' | r.role]"},
      {"MATCH (a:Person) RETURN [(a)-[:ACTED_IN]->(m) | m.title], m", {unbound("m")}},
      // Labels written inside are gone afterwards.
      {"MATCH (a) RETURN [(a:Person)-->() | a.nme], a.nme",
       {kUnlabeledScan,
        "E303 Unknown property 'nme' on variable 'a' with label :Person, did you mean .name? "
        "[nme -> name]"},
       "MATCH (a) RETURN [(a:Person)-->() | a.name], a.nme"},
      {"RETURN [(a:Persn)-[:ACTS_IN]->(b:Movie) | a]",
       {"E201 Unknown node label: :Persn, did you mean :Person? [:Persn -> :Person]",
        "E211 Unknown relationship type: :ACTS_IN, did you mean :ACTED_IN? "
        "[:ACTS_IN -> :ACTED_IN]"},
       "RETURN [(a:Person)-[:ACTED_IN]->(b:Movie) | a]"},
      {"RETURN [(a:Person)-[:ACTED_IN]->(b:Person) | b]",
       {"E401 Relationship :ACTED_IN expects target label :Movie, but node has label(s): Person"}},
      // The pattern comes before the filter and the projection.
      {"RETURN [(a:Persn)-->(b) WHERE q | z]",
       {"E201 Unknown node label: :Persn, did you mean :Person? [:Persn -> :Person]", unbound("q"),
        unbound("z")}},
      // Shortest paths check the element but bind and check no variable.
      {"RETURN shortestPath((x)-[*]-(y))", {}},
      {"MATCH (a:Person), (b:Person) RETURN allShortestPaths((a)-[:ACTS_IN*]-(b))",
       {kCartesian,
        "E211 Unknown relationship type: :ACTS_IN, did you mean :ACTED_IN? "
        "[:ACTS_IN -> :ACTED_IN]"},
       "MATCH (a:Person), (b:Person) RETURN allShortestPaths((a)-[:ACTED_IN*]-(b))"},
      {"RETURN shortestPath((x)-[*]-(y)), x", {unbound("x")}},
  });
}

TEST(ExpressionChecks, SubqueriesSeeTheEnclosingScopeAndLeakNothing) {
  run_table({
      {"MATCH (n) WHERE EXISTS { (n)-[:ACTED_IN]->(m:Movie) } RETURN m", {unbound("m")}},
      {"MATCH (n:Person) WHERE EXISTS { (n)-[:ACTED_IN]->(m:Movie) } RETURN n", {}},
      {"MATCH (n:Person) WHERE EXISTS { (n)-[:ACTED_IN]->(m:Film) } RETURN n",
       {"E201 Unknown node label: :Film"}},
      {"MATCH (n) WHERE COUNT { MATCH (n)-[:ACTED_IN]->(m:Movie) RETURN m } > 0 RETURN m",
       {kUnlabeledScan, unbound("m")}},
      {"MATCH (n) WHERE size(COLLECT { MATCH (n)-[:ACTED_IN]->(m:Movie) RETURN m.title }) > 0 "
       "RETURN m",
       {kUnlabeledScan, unbound("m")}},
      // The body sees outer variables with their labels.
      {"MATCH (n:Person) RETURN COUNT { MATCH (m:Movie) WHERE m.title = n.nme RETURN m }",
       {"E303 Unknown property 'nme' on variable 'n' with label :Person, did you mean .name? "
        "[nme -> name]"},
       "MATCH (n:Person) RETURN COUNT { MATCH (m:Movie) WHERE m.title = n.name RETURN m }"},
      // A WITH inside the body does not unbind the outer variables after it.
      {"MATCH (n:Person) RETURN COLLECT { WITH 1 AS x RETURN x } AS c, n.name", {}},
      {"MATCH (n:Person) RETURN COLLECT { WITH 1 AS x RETURN n } AS c", {unbound("n")}},
  });
}

TEST(ExpressionChecks, ForeachAndWithScopes) {
  run_table({
      {"MATCH (n:Person) FOREACH (x IN [1, 2] | SET n.age = x) RETURN x", {unbound("x")}},
      {"MATCH (n:Person) FOREACH (x IN [y] | SET n.agee = x)",
       {unbound("y"),
        "E303 Unknown property 'agee' on variable 'n' with label :Person, did you mean .age? "
        "[agee -> age]"}},
      {"MATCH (n:Person) WITH n.name AS name RETURN n", {unbound("n")}},
      {"MATCH (n) WITH n.name AS name ORDER BY name RETURN name", {kUnlabeledScan}},
  });
}

// Expressions as deep as the builder allows are walked without trouble.
TEST(ExpressionChecks, DeepExpressions) {
  Tessary validator(fixture_schema());
  const std::size_t operators = builder::kMaxTreeDepth - 10;
  std::string chain;
  for (std::size_t i = 0; i < operators; ++i) chain += "x + ";
  ValidationResult r = validator.validate("UNWIND [1] AS x RETURN " + chain + "x.k");
  EXPECT_TRUE(r.is_valid) << describe(r);
  EXPECT_TRUE(r.diagnostics.empty());

  // The aggregate at the bottom of the chain is found, then every unbound x is reported.
  r = validator.validate("MATCH (n:Person) WHERE " + chain + "count(*) > 1 RETURN n");
  ASSERT_EQ(r.errors().size(), 1 + operators);
  EXPECT_EQ(code_str(r.diagnostics[0].code), "E602");
  EXPECT_EQ(describe(r.diagnostics.back()), unbound("x"));
  EXPECT_EQ(r.errors().back(), r.diagnostics.back().message);
}

}  // namespace
}  // namespace tessary
