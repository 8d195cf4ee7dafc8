// Recognition throughput: a corpus of realistic queries, and families of nested inputs whose
// time must stay linear in the nesting depth.
#include <benchmark/benchmark.h>

#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "corpus_bench.hpp"
#include "parser/recognizer.hpp"
#include "parser/recognizer_internal.hpp"

namespace {

using tessary::CypherParser;
using tessary::Pairs;
using tessary::Rule;

// The corpus of realistic queries, next to the floor of a scan that only reads its bytes.
BENCHMARK(tessary::bench::BM_ScanBytes)->Name("BM_ScanBytes");
BENCHMARK(tessary::bench::BM_Recognize)->Name("BM_Recognize");

// Families of nested inputs, each built by wrapping the text `depth` times.
struct Family {
  const char* name;
  const char* prefix;  // before the nest
  const char* base;    // innermost text
  std::function<std::string(const std::string&)> wrap;
};

const std::vector<Family>& families() {
  static const std::vector<Family> all = {
      {"parentheses", "RETURN ", "1", [](const std::string& s) { return "(" + s + ")"; }},
      {"list_comprehension", "RETURN ", "l",
       [](const std::string& s) { return "[x IN " + s + " WHERE x > 0 | x]"; }},
      {"pattern_comprehension", "RETURN ", "1",
       [](const std::string& s) { return "[(a {p: " + s + "})-->(b) | b]"; }},
      {"call_subquery", "", "RETURN 1",
       [](const std::string& s) { return "CALL { " + s + " } RETURN 1"; }},
      {"count_subquery", "RETURN ", "1",
       [](const std::string& s) { return "COUNT { MATCH (n) WHERE " + s + " RETURN n }"; }},
      {"case", "RETURN ", "1",
       [](const std::string& s) { return "CASE WHEN " + s + " THEN 1 ELSE 0 END"; }},
  };
  return all;
}

void BM_Nested(benchmark::State& state, bool memoize) {
  const Family& f = families()[static_cast<std::size_t>(state.range(0))];
  const auto depth = static_cast<int>(state.range(1));
  std::string q = f.base;
  for (int i = 0; i < depth; ++i) q = f.wrap(q);
  q = f.prefix + q;
  state.SetLabel(f.name);
  tessary::recognizer_detail::Options options;
  options.memoize = memoize;
  for (auto _ : state) {
    auto r = tessary::recognizer_detail::parse_with(Rule::cypher, q, options);
    if (!std::holds_alternative<Pairs>(r)) {
      state.SkipWithError("nested input refused");
      break;
    }
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * q.size()));
}

// Depths up to 200; a COUNT { } subquery with its WHERE takes two nesting levels per depth, so
// its deepest point is 125, near the bound.
void NestedArgs(benchmark::internal::Benchmark* b) {
  for (int family = 0; family < 6; ++family) {
    for (int depth : {1, 10, 50, 100, 200})
      b->Args({family, family == 4 && depth == 200 ? 125 : depth});
  }
}
BENCHMARK_CAPTURE(BM_Nested, memo, true)->Apply(NestedArgs);

// The plain algorithm for comparison, only at depths where it still finishes.
void PlainArgs(benchmark::internal::Benchmark* b) {
  for (int family = 0; family < 6; ++family) {
    for (int depth : {1, 5, 10}) b->Args({family, depth});
  }
}
BENCHMARK_CAPTURE(BM_Nested, plain, false)->Apply(PlainArgs);

// The largest input the time bound speaks of: 64 KiB of queries joined by UNION.
void BM_Large(benchmark::State& state) {
  std::string q = "MATCH (n:Person {name: 'x'})-[:KNOWS]->(m) WHERE m.age > 3 RETURN m.name";
  std::string big = q;
  while (big.size() < 64 * 1024 - q.size() - 8) big += " UNION " + q;
  for (auto _ : state) {
    auto r = CypherParser::parse(Rule::cypher, big);
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * big.size()));
}
BENCHMARK(BM_Large);

}  // namespace

BENCHMARK_MAIN();
