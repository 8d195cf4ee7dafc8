// Every query the generator draws parses and validates without errors against the schema it was
// drawn from, over many seeds and schemas of different shapes, provided the schema declares a
// label and every relationship endpoint. (Over a schema without labels the stand-in label "Node"
// is, by design, unknown to the validator: that is its only finding.)
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "generator/generator.hpp"
#include "parser/parse.hpp"
#include "validator/validator.hpp"

namespace tessary {
namespace {

std::vector<Schema> schemas() {
  std::vector<Schema> out;
  Schema bare;
  bare.insert_node("Thing", {});
  out.push_back(bare);
  Schema movies;
  movies.insert_node("Person", {"name", "age", "email"});
  movies.insert_node("Movie", {"title", "year", "genre", "rating", "tagline"});
  movies.insert_node("Studio", {});
  movies.insert_relationship("ACTED_IN", "Person", "Movie", {"role"});
  movies.insert_relationship("KNOWS", "Person", "Person", {});
  movies.insert_relationship("PRODUCED", "Studio", "Movie", {"year", "budget"});
  out.push_back(movies);
  Schema one;
  one.insert_node("A", {"x"});
  one.insert_relationship("SELF", "A", "A", {});
  out.push_back(one);
  return out;
}

TEST(GeneratedQueries, ValidateWithoutErrors) {
  for (const Schema& schema : schemas()) {
    const Tessary validator(schema);
    for (std::uint64_t seed = 0; seed < 60; ++seed) {
      CypherGenerator g(schema, seed);
      for (int round = 0; round < 3; ++round) {
        for (const auto& type : CypherGenerator::kQueryTypes) {
          auto r = g.generate(type);
          ASSERT_TRUE(std::holds_alternative<std::string>(r));
          const std::string& query = std::get<std::string>(r);
          const ValidationResult result = validator.validate(query);
          ASSERT_TRUE(result.is_valid) << query << "\n"
                                       << (result.errors().empty() ? "" : result.errors()[0]);
          ASSERT_TRUE(result.errors().empty()) << query;
        }
      }
    }
  }
}

// Names that the query language does not take as plain names (reserved words, spaces,
// punctuation, non-ASCII letters, a leading digit, the empty name) are written so that every
// query parses, and still name the schema's labels, types and properties.
TEST(GeneratedQueries, NamesThatAreNotPlainParseAndValidate) {
  Schema schema;
  schema.insert_node("Order", {"count", "order", "first name", "ok_1", "ENDS", "2nd"});
  schema.insert_node("Café", {"end", "prix €", ""});
  schema.insert_node("My Label", {});
  schema.insert_node("Person", {"name", "asc", "Desc", "nullable", "TrueValue"});
  schema.insert_node("1st", {"x-y"});
  schema.insert_relationship("IN", "Order", "Café", {"since"});
  schema.insert_relationship("FROM", "My Label", "Person", {});
  schema.insert_relationship("HAS-PART", "Person", "1st", {"count"});
  schema.insert_relationship("with", "Order", "Order", {});
  schema.insert_relationship("KNOWS", "Person", "Person", {});
  const Tessary validator(schema);
  for (std::uint64_t seed = 0; seed < 100; ++seed) {
    CypherGenerator g(schema, seed);
    for (int round = 0; round < 3; ++round) {
      for (const auto& type : CypherGenerator::kQueryTypes) {
        const std::string query = std::get<std::string>(g.generate(type));
        const auto parsed = parse_with_detail(query);
        ASSERT_TRUE(std::holds_alternative<CypherQuery>(parsed))
            << query << "\n"
            << std::get<ParseErrorDetail>(parsed).message;
        const ValidationResult result = validator.validate(query);
        ASSERT_TRUE(result.errors().empty()) << query << "\n" << result.errors()[0];
      }
    }
  }
}

TEST(GeneratedQueries, WithoutLabelsOnlyTheStandInLabelIsUnknown) {
  const Schema empty;
  const Tessary validator(empty);
  for (std::uint64_t seed = 0; seed < 40; ++seed) {
    CypherGenerator g(empty, seed);
    for (const auto& type : CypherGenerator::kQueryTypes) {
      const std::string query = std::get<std::string>(g.generate(type));
      const ValidationResult result = validator.validate(query);
      ASSERT_TRUE(result.syntax_errors().empty()) << query;
      for (const std::string& error : result.errors()) {
        ASSERT_EQ(error, "Unknown node label: :Node") << query;
      }
      const bool has_label = query.find("(n:Node)") != std::string::npos;
      ASSERT_EQ(result.errors().size(), has_label ? 1u : 0u) << query;
    }
  }
}

}  // namespace
}  // namespace tessary
