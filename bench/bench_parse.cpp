// Query tree building: the corpus of realistic queries scanned, recognized alone, recognized and
// built (`parse`), and built from an already recognized token tree, so the builder's own share
// shows.
#include <benchmark/benchmark.h>

#include <string>
#include <variant>
#include <vector>

#include "corpus_bench.hpp"
#include "parser/parse.hpp"
#include "parser/recognizer.hpp"

namespace {

using namespace tessary;

using bench::corpus;
using bench::over_corpus;

// The floor and the recognizer alone, measured in the same run as the builder.
BENCHMARK(bench::BM_ScanBytes)->Name("BM_ScanBytes");
BENCHMARK(bench::BM_Recognize)->Name("BM_Recognize");

void BM_ParseAndBuild(benchmark::State& state) {
  over_corpus(state, [](const std::string& q) {
    auto r = parse(q);
    benchmark::DoNotOptimize(r);
    return std::holds_alternative<CypherQuery>(r);
  });
}
BENCHMARK(BM_ParseAndBuild);

void BM_BuildOnly(benchmark::State& state) {
  const auto& queries = corpus();
  std::vector<Pairs> trees;
  for (const std::string& q : queries) {
    auto r = CypherParser::parse(Rule::cypher, q);
    if (auto* p = std::get_if<Pairs>(&r)) trees.push_back(*p);
  }
  if (trees.empty() || trees.size() != queries.size()) {
    state.SkipWithError("corpus not recognized");
    return;
  }
  std::size_t count = 0;
  for (auto _ : state) {
    for (const Pairs& top : trees) {
      auto r = build_query(*top.peek());
      benchmark::DoNotOptimize(r);
      ++count;
    }
  }
  state.counters["queries/s"] =
      benchmark::Counter(static_cast<double>(count), benchmark::Counter::kIsRate);
  state.counters["ns/query"] = benchmark::Counter(
      static_cast<double>(count), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_BuildOnly);

// Build time against the size of one construct: it must grow linearly.
void BM_BuildFamily(benchmark::State& state, std::string (*make)(int)) {
  const std::string query = make(static_cast<int>(state.range(0)));
  auto run = CypherParser::parse(Rule::cypher, query);
  auto* top = std::get_if<Pairs>(&run);
  if (!top) {
    state.SkipWithError("not recognized");
    return;
  }
  for (auto _ : state) {
    auto r = build_query(*top->peek());
    if (!std::holds_alternative<CypherQuery>(r)) state.SkipWithError("not built");
    benchmark::DoNotOptimize(r);
  }
  state.SetComplexityN(state.range(0));
}

std::string operator_chain(int n) {
  std::string q = "RETURN a";
  for (int i = 0; i < n; ++i) q += i % 2 ? " + a" : " * a";
  return q;
}

std::string nested_lists(int n) {
  std::string q = "RETURN ";
  for (int i = 0; i < n; ++i) q += "[1 + ";
  q += "1";
  for (int i = 0; i < n; ++i) q += "]";
  return q;
}

std::string long_pattern(int n) {
  std::string q = "MATCH (a)";
  for (int i = 0; i < n; ++i) q += "-[:R {w: " + std::to_string(i) + "}]->(b:L)";
  return q;
}

BENCHMARK_CAPTURE(BM_BuildFamily, operator_chain, operator_chain)
    ->RangeMultiplier(2)
    ->Range(64, 512)
    ->Complexity(benchmark::oN);
BENCHMARK_CAPTURE(BM_BuildFamily, nested_lists, nested_lists)
    ->RangeMultiplier(2)
    ->Range(16, 128)
    ->Complexity(benchmark::oN);
BENCHMARK_CAPTURE(BM_BuildFamily, long_pattern, long_pattern)
    ->RangeMultiplier(4)
    ->Range(16, 4096)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
