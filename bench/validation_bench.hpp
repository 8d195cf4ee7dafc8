#pragma once
// Shared harness of the validation benchmarks: the whole pipeline, the parse alone and the
// semantic pass alone (on trees built beforehand, with the automatic fix), over one corpus.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "parser/parse.hpp"
#include "validator/fix.hpp"
#include "validator/semantic.hpp"
#include "validator/validator.hpp"

namespace tessary::bench {

// A schema of a common size: 16 labels with 6 properties each, 12 relationship types.
inline Schema common_schema() {
  Schema schema;
  const char* labels[] = {"Person", "Movie", "Company", "City", "Country", "Genre", "Review",
                          "Award", "Studio", "Series", "Episode", "Character", "Book", "Author",
                          "Publisher", "Festival"};
  const char* props[] = {"name", "title", "age", "year", "rating", "released"};
  for (const char* label : labels) {
    PropertySet set;
    for (const char* p : props) set.insert(p);
    set.insert(std::string(label) + "_id");
    schema.insert_node(label, set);
  }
  const char* rels[][3] = {{"ACTED_IN", "Person", "Movie"},    {"DIRECTED", "Person", "Movie"},
                           {"PRODUCED", "Company", "Movie"},   {"LIVES_IN", "Person", "City"},
                           {"LOCATED_IN", "City", "Country"},  {"IN_GENRE", "Movie", "Genre"},
                           {"REVIEWED", "Person", "Review"},   {"WON", "Person", "Award"},
                           {"WROTE", "Author", "Book"},        {"PUBLISHED", "Publisher", "Book"},
                           {"PART_OF", "Episode", "Series"},   {"PLAYS", "Person", "Character"}};
  for (auto& r : rels) schema.insert_relationship(r[0], r[1], r[2], PropertySet{"since", "role"});
  return schema;
}

inline std::vector<CypherQuery> build_trees(const std::vector<std::string>& corpus) {
  std::vector<CypherQuery> trees;
  for (const auto& q : corpus) {
    auto parsed = parse_with_detail(q);
    if (auto* tree = std::get_if<CypherQuery>(&parsed)) trees.push_back(std::move(*tree));
  }
  return trees;
}

inline void report(benchmark::State& state, const std::vector<std::string>& corpus) {
  std::size_t bytes = 0;
  for (const auto& q : corpus) bytes += q.size();
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * corpus.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

inline void run_validate(benchmark::State& state, const Schema& schema,
                         const std::vector<std::string>& corpus) {
  const Tessary tessary(schema);
  for (auto _ : state) {
    for (const auto& q : corpus) benchmark::DoNotOptimize(tessary.validate(q));
  }
  report(state, corpus);
}

inline void run_parse(benchmark::State& state, const std::vector<std::string>& corpus) {
  for (auto _ : state) {
    for (const auto& q : corpus) benchmark::DoNotOptimize(parse_with_detail(q));
  }
  report(state, corpus);
}

// What validate does after a successful parse: the semantic pass and the automatic fix.
inline void run_semantic(benchmark::State& state, const Schema& schema,
                         const std::vector<std::string>& corpus) {
  const std::vector<CypherQuery> trees = build_trees(corpus);
  if (trees.size() != corpus.size()) state.SkipWithError("a query of the corpus does not parse");
  const SchemaCandidates candidates(schema);  // made once per schema, as Tessary does
  for (auto _ : state) {
    for (std::size_t i = 0; i < trees.size(); ++i) {
      SemanticValidator validator(schema, candidates);
      validator.validate_regular_query(trees[i].query);
      benchmark::DoNotOptimize(
          compute_fixed_query(corpus[i], validator.diagnostics, validator.suggestion_sites));
      benchmark::DoNotOptimize(validator.diagnostics.data());
    }
  }
  report(state, corpus);
}

}  // namespace tessary::bench
