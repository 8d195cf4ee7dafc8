// The worst cases of worst_cases.hpp, each a query of up to 64 KiB, through the whole pipeline
// (Validate/<case>: Tessary::validate), the parse alone (Parse/<case>) and the semantic pass with
// the automatic fix on a tree built beforehand (Semantic/<case>). Every query should take well
// under 10 ms through validate. Counters: the query's size and the number of its findings.
//
//   taskset -c 5 build/bench/bench_worst_case --benchmark_filter='Validate/'
#include <benchmark/benchmark.h>

#include <string>
#include <variant>
#include <vector>

#include "validation_bench.hpp"
#include "worst_cases.hpp"

namespace tessary::bench {
namespace {

const Schema& schema() {
  static const Schema instance = common_schema();
  return instance;
}

void set_counters(benchmark::State& state, const std::string& query,
                  const ValidationResult& result) {
  state.counters["bytes"] = static_cast<double>(query.size());
  state.counters["findings"] = static_cast<double>(result.diagnostics.size());
}

void register_case(const WorstCase& worst) {
  const std::string query = worst.make();
  const std::string name = worst.name;
  benchmark::RegisterBenchmark(("Validate/" + name).c_str(), [query](benchmark::State& state) {
    const Tessary tessary(schema());
    for (auto _ : state) benchmark::DoNotOptimize(tessary.validate(query));
    set_counters(state, query, tessary.validate(query));
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(("Parse/" + name).c_str(), [query](benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(parse_with_detail(query));
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(("Semantic/" + name).c_str(), [query](benchmark::State& state) {
    auto parsed = parse_with_detail(query);
    const auto* tree = std::get_if<CypherQuery>(&parsed);
    if (tree == nullptr) {
      state.SkipWithError("the query does not parse");
      return;
    }
    const SchemaCandidates candidates(schema());  // made once per schema, as Tessary does
    for (auto _ : state) {
      SemanticValidator validator(schema(), candidates);
      validator.validate_regular_query(tree->query);
      benchmark::DoNotOptimize(
          compute_fixed_query(query, validator.diagnostics, validator.suggestion_sites));
    }
  })->Unit(benchmark::kMillisecond);
}

}  // namespace
}  // namespace tessary::bench

int main(int argc, char** argv) {
  for (const auto& worst : tessary::bench::worst_cases()) tessary::bench::register_case(worst);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
