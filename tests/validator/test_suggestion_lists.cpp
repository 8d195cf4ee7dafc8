// The candidate lists a validator keeps for its suggestions: the schema's sorted lists, made once
// and shared by every validation, also by validations that start on many threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "parser/names.hpp"
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
    for (int p = 0; p < 30; ++p)
      properties.insert("prop" + std::to_string(i % 7) + "_" + std::to_string(p));
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
    if (d.suggestion)
      out += " [" + d.suggestion->original + " -> " + d.suggestion->replacement + "]";
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

// The written forms of names are kept with the lists: each is name_as_written's, asked for again
// it is the same text, and once the room for them is taken up the validator works them out itself.
TEST(SuggestionLists, WrittenNamesAreKeptUntilTheirRoomIsTakenUp) {
  Schema schema;
  schema.insert_node("Person", {});
  schema.insert_node("Has Space", {});
  const SchemaCandidates lists(schema);
  const struct {
    const char* name;
    const char* written;
  } cases[] = {
      {"Person", "Person"}, {"Has Space", "`Has Space`"},
      {"match", "`match`"}, {"1st", "`1st`"},
      {"a`b", "a`b"},       {"_x9", "_x9"},
  };
  for (const auto& c : cases) {
    const std::string* written = lists.written(c.name);
    ASSERT_NE(written, nullptr) << c.name;
    EXPECT_EQ(*written, c.written) << c.name;
    EXPECT_EQ(lists.written(c.name), written) << c.name;
  }

  std::size_t kept = 0;
  for (int i = 0; i < 2000; ++i) {
    const std::string name = (i % 2 ? "name " : "name") + std::to_string(i);
    const std::string* written = lists.written(name);
    if (written == nullptr) continue;
    ++kept;
    EXPECT_EQ(*written, name_as_written(name)) << name;
  }
  EXPECT_GT(kept, 0u);
  EXPECT_LT(kept, 2000u);

  auto parsed = parse_with_detail("MATCH (a:`Has Spac`) RETURN a");
  const auto* tree = std::get_if<CypherQuery>(&parsed);
  ASSERT_NE(tree, nullptr);
  const SchemaCandidates full(schema);
  for (int i = 0; i < 2000; ++i) full.written("filler" + std::to_string(i));
  for (const SchemaCandidates* shared : {&lists, &full}) {
    SemanticValidator validator(schema, *shared);
    validator.validate_regular_query(tree->query);
    ASSERT_EQ(validator.diagnostics.size(), 1u);
    ASSERT_TRUE(validator.diagnostics[0].suggestion);
    EXPECT_EQ(validator.diagnostics[0].suggestion->replacement, ":`Has Space`");
  }
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
      EXPECT_EQ(own.diagnostics[i].suggestion.has_value(),
                shared.diagnostics[i].suggestion.has_value());
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
