// The candidate lists a validator keeps for its suggestions: the schema's sorted lists, made once
// and shared by every validation, also by validations that start on many threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "parser/parse.hpp"
#include "validator/schema_candidates.hpp"
#include "validator/semantic.hpp"
#include "validator/validator.hpp"

namespace tessary {
namespace {

// Many labels and types (enough for the lists' trees), each with its own properties.
Schema big_schema() {
  Schema schema;
  for (int i = 0; i < 400; ++i) {
    PropertySet properties;
    for (int p = 0; p < 30; ++p) properties.insert("prop" + std::to_string(i % 7) + "_" + std::to_string(p));
    schema.insert_node("Label" + std::to_string(i), properties);
    schema.insert_relationship("TYPE_" + std::to_string(i), "Label" + std::to_string(i),
                               "Label" + std::to_string((i + 1) % 400), properties);
  }
  return schema;
}

// Misspelt labels, types and properties of every list, and names with no close match.
std::vector<std::string> queries() {
  std::vector<std::string> out;
  for (int i = 0; i < 400; i += 7) {
    const std::string n = std::to_string(i);
    out.push_back("MATCH (a:Lable" + n + " {prop1_3: 1})-[r:TYPE_" + n + " {prp1_4: 2}]->(b:Label" +
                  n + ") RETURN a.prop" + n + "_x, b.zzzzzz, r.pro2_1");
    out.push_back("MATCH (a:Label" + n + ")-[:TYPEE_" + n + "]->(:Labl" + n + ") SET a:Labelx" + n +
                  " REMOVE a:Qqqqqqqq RETURN a.prop" + std::to_string(i % 7) + "_1x");
  }
  return out;
}

std::string describe(const ValidationResult& result) {
  std::string out = result.fixed_query.value_or("(no fix)") + "\n";
  for (const auto& d : result.diagnostics) {
    out += d.message;
    if (d.suggestion) out += " [" + d.suggestion->original + " -> " + d.suggestion->replacement + "]";
    out += "\n";
  }
  return out;
}

TEST(SuggestionLists, ListsAreTheSchemasSortedLists) {
  const Schema schema = big_schema();
  const SchemaCandidates lists(schema);
  EXPECT_EQ(lists.labels().names(), schema.node_labels());
  EXPECT_EQ(lists.rel_types().names(), schema.rel_types());
  EXPECT_EQ(lists.node_properties("Label5").names(), schema.node_properties("Label5"));
  EXPECT_EQ(lists.rel_properties("TYPE_9").names(), schema.rel_properties("TYPE_9"));
  EXPECT_TRUE(lists.node_properties("Nope").names().empty());
  EXPECT_TRUE(lists.rel_properties("Label5").names().empty());
  // Made once: the same list each time.
  EXPECT_EQ(&lists.labels(), &lists.labels());
  EXPECT_EQ(&lists.node_properties("Label5"), &lists.node_properties("Label5"));
}

// A validator that searches shared lists reports exactly what one with lists of its own does.
TEST(SuggestionLists, SharedListsGiveTheSameFindings) {
  const Schema schema = big_schema();
  const SchemaCandidates lists(schema);
  for (const std::string& query : queries()) {
    auto parsed = parse_with_detail(query);
    const auto* tree = std::get_if<CypherQuery>(&parsed);
    ASSERT_NE(tree, nullptr) << query;
    SemanticValidator own(schema);
    own.validate_regular_query(tree->query);
    SemanticValidator shared(schema, lists);
    shared.validate_regular_query(tree->query);
    ASSERT_EQ(own.diagnostics.size(), shared.diagnostics.size()) << query;
    for (std::size_t i = 0; i < own.diagnostics.size(); ++i) {
      EXPECT_EQ(own.diagnostics[i].message, shared.diagnostics[i].message);
      EXPECT_EQ(own.diagnostics[i].suggestion.has_value(), shared.diagnostics[i].suggestion.has_value());
      if (own.diagnostics[i].suggestion && shared.diagnostics[i].suggestion) {
        EXPECT_EQ(own.diagnostics[i].suggestion->replacement,
                  shared.diagnostics[i].suggestion->replacement);
      }
    }
  }
}

// Threads that validate at once on a fresh validator make its lists at the same time; every one
// gets the results one thread alone gets.
TEST(SuggestionLists, FirstUseFromManyThreads) {
  const std::vector<std::string> qs = queries();
  std::vector<std::string> want;
  {
    const Tessary alone(big_schema());
    for (const auto& q : qs) want.push_back(describe(alone.validate(q)));
  }
  for (int round = 0; round < 4; ++round) {
    const Tessary tessary(big_schema());
    std::atomic<int> ready{0};
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&, t] {
        ++ready;
        while (ready.load() < 8) {
        }
        for (std::size_t i = 0; i < qs.size(); ++i) {
          const std::size_t k = (i + static_cast<std::size_t>(t) * 5) % qs.size();
          if (describe(tessary.validate(qs[k])) != want[k]) ++mismatches;
        }
      });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches.load(), 0) << "round " << round;
  }
}

}  // namespace
}  // namespace tessary
