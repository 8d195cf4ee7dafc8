// The worst cases of worst_cases.hpp, each a query of up to 64 KiB, through the whole pipeline
// (Validate/<case>: Tessary::validate), the parse alone (Parse/<case>) and the semantic pass with
// the automatic fix on a tree built beforehand (Semantic/<case>). Every query should take well
// under 10 ms through validate. Names<N>/Validate/<case> validates the same queries against the
// schema grown by N more labels and N more relationship types (10 properties each), so that every
// "did you mean" search runs over lists of N names. Counters: the query's size and the number of
// its findings.
//
//   taskset -c 5 build/bench/bench_worst_case --benchmark_filter='^Validate/'
//   build/bench/bench_worst_case --benchmark_filter='^Names10000/'
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
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

// A made-up word for number i: syllables picked by the bits of a mixed i, so that neighbouring
// numbers give unrelated words (the first labels: "Rafen", "Fensoko", "Gustafenre").
std::string word(std::uint64_t i, std::size_t syllables) {
  static constexpr std::string_view kSyllables[] = {"ba",  "re",  "lu", "ko",  "mi",  "sta",
                                                    "dor", "ne",  "vi", "tra", "pel", "so",
                                                    "gu",  "fen", "ra", "zo"};
  std::uint64_t bits = (i + 1) * 0x9E3779B97F4A7C15ull;
  bits ^= bits >> 29;
  std::string out;
  for (std::size_t k = 0; k < syllables; ++k, bits >>= 4) out += kSyllables[bits & 15];
  return out;
}

// The common schema with `extra` more labels and relationship types, each with 10 properties.
std::shared_ptr<const Tessary> grown_validator(std::size_t extra) {
  Schema grown = common_schema();
  std::vector<std::string> labels;
  auto properties = [](std::uint64_t seed) {
    PropertySet set;
    for (std::uint64_t k = 0; set.size() < 10; ++k) set.insert(word(seed * 64 + k, 3));
    return set;
  };
  for (std::size_t i = 0; labels.size() < extra; ++i) {
    std::string label = word(i, 2 + i % 3);
    label[0] = static_cast<char>(label[0] - 'a' + 'A');
    if (grown.has_node_label(label)) continue;
    grown.insert_node(label, properties(i));
    labels.push_back(std::move(label));
  }
  for (std::size_t i = 0, added = 0; added < extra; ++i) {
    std::string type = word(i + 1'000'003, 2) + "_" + word(i + 2'000'003, 2);
    for (char& c : type) c = c == '_' ? c : static_cast<char>(c - 'a' + 'A');
    if (grown.has_rel_type(type)) continue;
    grown.insert_relationship(type, labels[added], labels[(added + 1) % extra],
                              properties(i + 5'000'000));
    ++added;
  }
  return std::make_shared<const Tessary>(std::move(grown));
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

// Names<extra>/Validate/<case> for every case, sharing one validator made when the first runs.
void register_grown(std::size_t extra) {
  auto validator = std::make_shared<std::shared_ptr<const Tessary>>();
  for (const auto& worst : worst_cases()) {
    const std::string query = worst.make();
    const std::string name = "Names" + std::to_string(extra) + "/Validate/" + worst.name;
    benchmark::RegisterBenchmark(name.c_str(), [query, extra, validator](benchmark::State& state) {
      if (!*validator) *validator = grown_validator(extra);
      const Tessary& tessary = **validator;
      const ValidationResult first = tessary.validate(query);  // indexes the lists it searches
      for (auto _ : state) benchmark::DoNotOptimize(tessary.validate(query));
      set_counters(state, query, first);
    })->Unit(benchmark::kMillisecond);
  }
}

}  // namespace
}  // namespace tessary::bench

int main(int argc, char** argv) {
  for (const auto& worst : tessary::bench::worst_cases()) tessary::bench::register_case(worst);
  tessary::bench::register_grown(1'000);
  tessary::bench::register_grown(10'000);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
