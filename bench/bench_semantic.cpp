// Validation against a schema: the whole pipeline, the parse alone, and the semantic pass alone
// (on trees built beforehand), for typical queries and for queries full of misspelt names whose
// findings compute suggestions. The semantic pass's share of validation is Semantic / Validate.
#include <cstdint>
#include <string>
#include <vector>

#include "validation_bench.hpp"

namespace tessary {
namespace {

const std::vector<std::string> kTypical = {
    "MATCH (p:Person)-[r:ACTED_IN]->(m:Movie) WHERE m.year > 2000 RETURN p.name, r.role",
    "MATCH (u:Person)-[r:REVIEWED]->(v:Review) RETURN u, count(r) AS n ORDER BY n DESC LIMIT 10",
    "MATCH (p:Person {name: $name})-[:LIVES_IN]->(c:City)-[:LOCATED_IN]->(k:Country) "
    "RETURN p.name AS person, c.name AS city, k.name AS country",
    "MATCH (m:Movie)-[:IN_GENRE]->(g:Genre) WITH g, count(m) AS movies WHERE movies > 5 "
    "RETURN g.name, movies ORDER BY movies DESC",
    "MATCH (a:Author)-[:WROTE]->(b:Book)<-[:PUBLISHED]-(p:Publisher) WHERE b.year >= 1990 AND "
    "b.rating > 4.5 RETURN a.name, collect(b.title) AS books, p.name",
    "MATCH (p:Person) WHERE EXISTS { (p)-[:WON]->(:Award) } OPTIONAL MATCH (p)-[:DIRECTED]->(m) "
    "RETURN p.name, [x IN collect(m.title) WHERE x IS NOT NULL | toUpper(x)] AS films",
    "MERGE (c:City {name: $city}) ON CREATE SET c.year = 2024 WITH c MATCH (p:Person) "
    "WHERE p.name STARTS WITH 'A' CREATE (p)-[:LIVES_IN {since: 2024}]->(c) RETURN count(p)",
    "MATCH (e:Episode)-[:PART_OF]->(s:Series) RETURN s.title, count(e) AS episodes, "
    "avg(e.rating) AS rating ORDER BY rating DESC SKIP 5 LIMIT 20",
};

const std::vector<std::string> kManyFindings = {
    "MATCH (p:Persn)-[r:ACTED_INN]->(m:Movi) WHERE m.yeer > 2000 RETURN p.nme, r.rol",
    "MATCH (u:Peson {nmae: 'x', agee: 3})-[:REVIEWD]->(v:Reviw {ratng: 1}) RETURN u.titel, v.yr",
    "MATCH (a:Autor)-[:WROT]->(b:Bok)<-[:PUBLISHD]-(p:Publishr) RETURN a.nam, b.titl, p.nme, q",
    "MATCH (p:Person) SET p.nmae = 1, p.agge = 2, p:Persn, p:Moive REMOVE p.ratin, p:Cty "
    "RETURN p.relased, p.yaer, p.ratng",
    "MATCH (c:Cty)-[:LOCATD_IN]->(k:Contry) WITH c AS x, k AS y RETURN x.nam, y.nme, "
    "sum('a'), substring('x'), foo(1), toLower(DISTINCT x.name) SKIP 1.5 LIMIT 'ten'",
    "MATCH (m:Movie)-[:IN_GENR]->(g:Genr), (s:Studi) WHERE count(m) > 1 RETURN m.titl, g.nme, "
    "s.nam, undefined_var",
};

const Schema& schema() {
  static const Schema instance = bench::common_schema();
  return instance;
}

void BM_Validate_Typical(benchmark::State& s) { bench::run_validate(s, schema(), kTypical); }
void BM_Parse_Typical(benchmark::State& s) { bench::run_parse(s, kTypical); }
void BM_Semantic_Typical(benchmark::State& s) { bench::run_semantic(s, schema(), kTypical); }
void BM_Validate_ManyFindings(benchmark::State& s) {
  bench::run_validate(s, schema(), kManyFindings);
}
void BM_Parse_ManyFindings(benchmark::State& s) { bench::run_parse(s, kManyFindings); }
void BM_Semantic_ManyFindings(benchmark::State& s) {
  bench::run_semantic(s, schema(), kManyFindings);
}

BENCHMARK(BM_Validate_Typical);
BENCHMARK(BM_Parse_Typical);
BENCHMARK(BM_Semantic_Typical);
BENCHMARK(BM_Validate_ManyFindings);
BENCHMARK(BM_Parse_ManyFindings);
BENCHMARK(BM_Semantic_ManyFindings);

// How validation scales over threads, each validating the typical corpus on its own, next to a
// loop of integer work in registers and a 4 KiB table, which shows how far this machine's cores
// scale at all: where hardware threads share a core, neither reaches one speed-up per thread.
// Compare items_per_second with the one-thread figure.
void BM_IntegerWork(benchmark::State& state) {
  std::uint64_t a = 1 + static_cast<std::uint64_t>(state.thread_index());
  std::uint64_t b = 2;
  std::uint64_t c = 3;
  std::uint8_t table[4096];
  for (std::size_t i = 0; i < sizeof table; ++i) table[i] = static_cast<std::uint8_t>(i * 7);
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i) {
      a ^= a << 13;
      a ^= a >> 7;
      a ^= a << 17;
      b += table[a & 4095];
      c = (b & 1) ? c + a : c ^ b;
    }
    benchmark::DoNotOptimize(c);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 1000);
}
BENCHMARK(BM_Validate_Typical)->Name("Scaling/Validate_Typical")->ThreadRange(1, 8)->UseRealTime();
BENCHMARK(BM_IntegerWork)->Name("Scaling/IntegerWork")->ThreadRange(1, 8)->UseRealTime();

}  // namespace
}  // namespace tessary

BENCHMARK_MAIN();
