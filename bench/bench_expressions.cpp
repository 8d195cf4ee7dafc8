// Expression checks: validation of queries whose cost lies in their expressions (function calls,
// comprehensions, CASE, REDUCE, pattern comprehensions and subqueries that copy the scope, and
// property accesses whose misspelt keys compute suggestions), split into the whole pipeline, the
// parse alone and the semantic pass alone. The semantic share is Semantic / Validate; the
// function lookup and the aggregate detector are measured on their own.
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "validation_bench.hpp"
#include "validator/functions.hpp"

namespace tessary {
namespace {

// Person, Movie and ACTED_IN, plus 30 generated labels of 8 properties each, so that property
// suggestions search lists of realistic length.
Schema expression_schema() {
  Schema schema;
  schema.insert_node("Person", PropertySet{"name", "age", "born", "email", "nickname"});
  schema.insert_node("Movie", PropertySet{"title", "released", "tagline", "rating"});
  schema.insert_relationship("ACTED_IN", "Person", "Movie", PropertySet{"role", "since"});
  for (int i = 0; i < 30; ++i) {
    PropertySet props;
    for (int p = 0; p < 8; ++p) props.insert("prop_" + std::to_string(i) + "_" + std::to_string(p));
    schema.insert_node("Label" + std::to_string(i), props);
  }
  return schema;
}

// Valid queries whose expressions are the larger part of the tree.
const std::vector<std::string> kValid = {
    "MATCH (p:Person)-[r:ACTED_IN]->(m:Movie) WHERE toLower(p.name) STARTS WITH 'a' AND "
    "m.released > 1990 RETURN p.name, collect(DISTINCT m.title) AS titles, avg(m.rating) AS r",
    "MATCH (p:Person) RETURN [x IN range(1, 10) WHERE x % 2 = 0 | x * p.age] AS evens, "
    "reduce(s = 0, x IN [1, 2, 3] | s + x) AS total, CASE WHEN p.age > 30 THEN 'old' "
    "ELSE 'young' END AS band",
    "MATCH (p:Person) WHERE any(n IN split(p.nickname, ' ') WHERE size(n) > 3) RETURN "
    "coalesce(p.email, p.nickname, 'none'), substring(p.name, 0, 3), round(p.age / 3.0, 2)",
    "MATCH (p:Person) RETURN p.name, [(p)-[r:ACTED_IN]->(m:Movie) WHERE m.rating > 5 | "
    "m.title + ': ' + r.role] AS roles, COUNT { MATCH (p)-[:ACTED_IN]->(x:Movie) RETURN x } AS n",
    "MATCH (m:Movie) WHERE EXISTS { (m)<-[:ACTED_IN]-(:Person) } WITH m, size(m.tagline) AS len "
    "WHERE len > 10 RETURN m.title, len ORDER BY len DESC SKIP 2 LIMIT 10",
    "UNWIND range(1, 5) AS i MATCH (p:Person) WHERE p.age = i RETURN i, "
    "all(c IN split(p.name, '') WHERE c <> ' '), head(collect(p.name)), last(collect(p.born))",
};

// Queries full of findings from the expression checks: misspelt keys with suggestions (E303,
// E304), unbound variables, unknown functions, wrong argument counts, string literals passed to
// numeric aggregates and DISTINCT on plain functions.
const std::vector<std::string> kFindings = {
    "MATCH (p:Person)-[r:ACTED_IN]->(m:Movie) RETURN p.nme, p.agee, p.emial, r.rol, r.snce, "
    "m.titel, m.relased, m.ratng, m.tagln",
    "MATCH (p:Person) RETURN [x IN range(1) WHERE x > q | x * p.aeg] AS a, "
    "reduce(s = 0, x IN [1] | s + p.nickame) AS b, sum('a'), avg('b', 'c'), foo.bar(p.brn)",
    "MATCH (a:Label3), (b:Label17) WHERE a.prop_3_9 = b.prop_71_2 RETURN a.prop_3_1x, "
    "b.prop_17_, toLower(DISTINCT a.prop_3_0), substring('x'), pi(1), coalesce()",
    "MATCH (p:Person) SET p.nmae = 1, p.agge = p.emal REMOVE p.nickanme RETURN "
    "[(p)-[r:ACTED_IN]->(m:Movie) WHERE m.rting > 1 | r.roel] AS x, undefined_a, undefined_b",
};

const Schema& schema() {
  static const Schema instance = expression_schema();
  return instance;
}

// The semantic pass alone, without the automatic fix.
void run_semantic(benchmark::State& state, const std::vector<std::string>& corpus) {
  const Schema& fixture = schema();
  const std::vector<CypherQuery> trees = bench::build_trees(corpus);
  if (trees.size() != corpus.size()) state.SkipWithError("a query of the corpus does not parse");
  const SchemaCandidates candidates(fixture);  // made once per schema, as Tessary does
  for (auto _ : state) {
    for (const auto& tree : trees) {
      SemanticValidator validator(fixture, candidates);
      validator.validate_regular_query(tree.query);
      benchmark::DoNotOptimize(validator.diagnostics.data());
    }
  }
  bench::report(state, corpus);
}

void BM_Expressions_Validate_Valid(benchmark::State& s) {
  bench::run_validate(s, schema(), kValid);
}
void BM_Expressions_Parse_Valid(benchmark::State& s) { bench::run_parse(s, kValid); }
void BM_Expressions_Semantic_Valid(benchmark::State& s) { run_semantic(s, kValid); }
void BM_Expressions_Validate_Findings(benchmark::State& s) {
  bench::run_validate(s, schema(), kFindings);
}
void BM_Expressions_Parse_Findings(benchmark::State& s) { bench::run_parse(s, kFindings); }
void BM_Expressions_Semantic_Findings(benchmark::State& s) { run_semantic(s, kFindings); }

// One lookup per name: a hit early in the table, one late, a mixed-case hit and a miss.
void BM_LookupFunction(benchmark::State& state) {
  const std::string names[] = {"count", "toboolean", "percentileDisc", "my.user.fn"};
  for (auto _ : state) {
    for (const auto& name : names) benchmark::DoNotOptimize(lookup_function(name));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * 4));
}

// The aggregate detector over a wide expression with the aggregate at its far end.
void BM_ContainsAggregate(benchmark::State& state) {
  std::string where;
  for (int i = 0; i < 50; ++i) where += "toLower(n.name) = 'x' AND ";
  auto parsed = parse_with_detail("MATCH (n:Person) WHERE " + where + "count(n) > 1 RETURN n");
  const auto* tree = std::get_if<CypherQuery>(&parsed);
  if (tree == nullptr) {
    state.SkipWithError("the query does not parse");
    return;
  }
  const auto& single = tree->query.first.as<SinglePartQuery>();
  const Expr& predicate = *single.reading_clauses[0].as<ReadingClause::Match>().where_clause;
  for (auto _ : state) benchmark::DoNotOptimize(SemanticValidator::contains_aggregate(predicate));
}

BENCHMARK(BM_Expressions_Validate_Valid);
BENCHMARK(BM_Expressions_Parse_Valid);
BENCHMARK(BM_Expressions_Semantic_Valid);
BENCHMARK(BM_Expressions_Validate_Findings);
BENCHMARK(BM_Expressions_Parse_Findings);
BENCHMARK(BM_Expressions_Semantic_Findings);
BENCHMARK(BM_LookupFunction);
BENCHMARK(BM_ContainsAggregate);

}  // namespace
}  // namespace tessary

BENCHMARK_MAIN();
