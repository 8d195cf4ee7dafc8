// Schema JSON reading and writing, "did you mean" matching and query generation.
#include <benchmark/benchmark.h>

#include <string>
#include <variant>
#include <vector>

#include "diagnostics.hpp"
#include "generator/generator.hpp"
#include "schema.hpp"

namespace {

using tessary::Schema;

// A schema of `labels` labels with 8 properties each and as many relationship types.
Schema make_schema(int labels) {
  Schema s;
  for (int i = 0; i < labels; ++i) {
    tessary::PropertySet props;
    for (int p = 0; p < 8; ++p)
      props.insert("property_" + std::to_string(i) + "_" + std::to_string(p));
    s.insert_node("Label" + std::to_string(i), std::move(props));
    s.insert_relationship("REL_" + std::to_string(i), "Label" + std::to_string(i),
                          "Label" + std::to_string((i + 1) % labels), {"since", "weight"});
  }
  return s;
}

void BM_SchemaSerialize(benchmark::State& state) {
  const Schema s = make_schema(static_cast<int>(state.range(0)));
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string text = s.serialize();
    bytes += text.size();
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_SchemaSerialize)->Arg(10)->Arg(1000);

void BM_SchemaDeserialize(benchmark::State& state) {
  const std::string text = make_schema(static_cast<int>(state.range(0))).serialize();
  for (auto _ : state) {
    auto result = Schema::deserialize(text);
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_SchemaDeserialize)->Arg(10)->Arg(1000);

void BM_ClosestMatch(benchmark::State& state) {
  const Schema s = make_schema(static_cast<int>(state.range(0)));
  const std::vector<std::string_view> labels = s.node_labels();
  for (auto _ : state) {
    auto m = tessary::closest_match("label17x", labels);
    benchmark::DoNotOptimize(m);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ClosestMatch)->Arg(10)->Arg(100)->Arg(1000);

void BM_UnicodeLower(benchmark::State& state) {
  const std::string text =
      "Stra\xc3\x9f"
      "e_\xce\x9f\xce\x94\xce\x9f\xce\xa3_\xc4\xb0stanbul_Caf\xc3\x89";
  for (auto _ : state) {
    std::string l = tessary::unicode_lower(text);
    benchmark::DoNotOptimize(l);
  }
}
BENCHMARK(BM_UnicodeLower);

void BM_Generate(benchmark::State& state) {
  tessary::CypherGenerator g(make_schema(20), 42);
  std::size_t i = 0;
  for (auto _ : state) {
    auto q = g.generate(tessary::CypherGenerator::kQueryTypes[i++ % 13]);
    benchmark::DoNotOptimize(q);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Generate);

}  // namespace

BENCHMARK_MAIN();
