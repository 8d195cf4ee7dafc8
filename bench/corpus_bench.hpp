#pragma once
// Shared harness of the benchmarks over the corpus of realistic queries (one query per line of
// the file TESSARY_BENCH_CORPUS names): the loader, the loop over the corpus with its counters,
// and the two benchmarks every parser of that corpus is measured against: the byte scan (the
// floor: no parser reads its input faster than a loop that only looks at each byte once) and
// the recognizer alone.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <variant>
#include <vector>

#include "parser/recognizer.hpp"

namespace tessary::bench {

// The corpus, read once; empty when the file cannot be read.
inline const std::vector<std::string>& corpus() {
  static const std::vector<std::string> queries = [] {
    std::vector<std::string> out;
    std::ifstream in(TESSARY_BENCH_CORPUS);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty()) out.push_back(line);
    }
    return out;
  }();
  return queries;
}

// Runs `run` on every query of the corpus in each iteration. `run` returns whether it accepted
// the query; the benchmark fails when any query is refused. Counters: bytes per second,
// queries per second and nanoseconds per query.
template <class Run>
void over_corpus(benchmark::State& state, Run&& run) {
  const std::vector<std::string>& queries = corpus();
  if (queries.empty()) {
    state.SkipWithError("corpus not found");
    return;
  }
  std::size_t bytes = 0;
  std::size_t count = 0;
  std::size_t accepted = 0;
  for (auto _ : state) {
    for (const std::string& q : queries) {
      accepted += run(q);
      bytes += q.size();
      ++count;
    }
  }
  if (accepted != count) state.SkipWithError("a corpus query was refused");
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  state.counters["queries/s"] =
      benchmark::Counter(static_cast<double>(count), benchmark::Counter::kIsRate);
  state.counters["ns/query"] = benchmark::Counter(
      static_cast<double>(count), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The floor: each byte of each query is looked at once (the blanks between tokens are
// counted), nothing else.
inline void BM_ScanBytes(benchmark::State& state) {
  over_corpus(state, [](const std::string& q) {
    std::size_t blanks = 0;
    for (const char c : q) blanks += c == ' ' || c == '\t' || c == '\n' || c == '\r';
    benchmark::DoNotOptimize(blanks);
    return true;
  });
}

// The recognizer alone: the token tree of each query, no query tree.
inline void BM_Recognize(benchmark::State& state) {
  over_corpus(state, [](const std::string& q) {
    auto r = CypherParser::parse(Rule::cypher, q);
    benchmark::DoNotOptimize(r);
    return std::holds_alternative<Pairs>(r);
  });
}

}  // namespace tessary::bench
