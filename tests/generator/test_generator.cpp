// The query generator: exact strings for fixed seeds and schemas (computed independently from
// the draw rules with arbitrary-precision integers), reproducibility, unknown types and the
// shapes of the templates.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "generator/generator.hpp"

namespace tessary {
namespace {

std::string gen(CypherGenerator& g, std::string_view type) {
  auto r = g.generate(type);
  if (auto* e = std::get_if<CypherError>(&r)) {
    ADD_FAILURE() << e->display();
    return {};
  }
  return std::get<std::string>(r);
}

Schema movie_schema() {
  Schema s;
  s.insert_node("Person", {"name"});
  s.insert_node("Movie", {"title", "year", "genre", "rating", "tagline"});
  s.insert_relationship("ACTED_IN", "Person", "Movie", {"role"});
  s.insert_relationship("KNOWS", "Person", "Person", {});
  return s;
}

struct Step {
  const char* type;
  const char* query;
};

void expect_sequence(CypherGenerator& g, const std::vector<Step>& steps) {
  for (const Step& s : steps) EXPECT_EQ(gen(g, s.type), s.query) << s.type;
}

TEST(CypherGenerator, EmptySchemaSeed0) {
  CypherGenerator g(Schema{}, 0);
  expect_sequence(g, {
                         {"match_return", "MATCH (n:Node) RETURN n LIMIT 20"},
                         {"match_where_return", "MATCH (n:Node) RETURN n"},
                         {"create", "CREATE (n:Node) RETURN n"},
                         {"merge", "MERGE (n:Node) RETURN n"},
                         {"aggregation", "MATCH (n:Node) RETURN count(n) AS result"},
                         {"match_relationship", "MATCH (n:Node) RETURN n"},
                         {"create_relationship", "CREATE (n:Node) RETURN n"},
                         {"match_set", "MATCH (n:Node) RETURN n"},
                         {"match_delete", "MATCH (n:Node) DETACH DELETE n"},
                         {"with_chain", "MATCH (n:Node) WITH n AS val RETURN count(*)"},
                         {"distinct_return", "MATCH (n:Node) RETURN DISTINCT n LIMIT 25"},
                         {"order_by", "MATCH (n:Node) RETURN n ORDER BY n"},
                         {"unwind", "UNWIND [8, 7, \"Alice\", \"Carol\"] AS item RETURN item"},
                     });
}

TEST(CypherGenerator, OneLabelWithoutPropertiesSeed7) {
  Schema s;
  s.insert_node("Thing", {});
  CypherGenerator g(s, 7);
  expect_sequence(g, {
                         {"match_return", "MATCH (n:Thing) RETURN n LIMIT 36"},
                         {"match_where_return", "MATCH (n:Thing) RETURN n"},
                         {"create", "CREATE (n:Thing) RETURN n"},
                         {"merge", "MERGE (n:Thing) RETURN n"},
                         {"aggregation", "MATCH (n:Thing) RETURN count(n) AS result"},
                         {"match_relationship", "MATCH (n:Thing) RETURN n"},
                         {"create_relationship", "CREATE (n:Thing) RETURN n"},
                         {"match_set", "MATCH (n:Thing) RETURN n"},
                         {"match_delete", "MATCH (n:Thing) DETACH DELETE n"},
                         {"with_chain", "MATCH (n:Thing) WITH n AS val RETURN count(*)"},
                         {"distinct_return", "MATCH (n:Thing) RETURN DISTINCT n"},
                         {"order_by", "MATCH (n:Thing) RETURN n ORDER BY n LIMIT 6"},
                         {"unwind", "UNWIND [80, false, \"Alice\", \"Bob\"] AS item RETURN item"},
                     });
}

TEST(CypherGenerator, LabelsPropertiesAndTypesSeed42) {
  CypherGenerator g(movie_schema(), 42);
  expect_sequence(
      g,
      {
          {"match_return", "MATCH (n:Person) RETURN n LIMIT 50"},
          {"match_where_return", "MATCH (n:Person) WHERE n.name = \"Alice\" RETURN n.name"},
          {"create", "CREATE (n:Movie {rating: \"Carol\", year: true, title: \"Carol\"}) RETURN n"},
          {"merge", "MERGE (n:Movie {year: false}) RETURN n"},
          {"aggregation", "MATCH (n:Person) RETURN count(n.name) AS result"},
          {"match_relationship", "MATCH (a:Person)-[r:ACTED_IN]->(b:Movie) RETURN a, r, b"},
          {"create_relationship", "MATCH (a:Person),(b:Person) CREATE (a)-[r:KNOWS]->(b) RETURN r"},
          {"match_set", "MATCH (n:Person) SET n.name = \"Carol\" RETURN n"},
          {"match_delete", "MATCH (n:Movie) DETACH DELETE n"},
          {"with_chain", "MATCH (n:Person) WITH n.name AS val RETURN count(*)"},
          {"distinct_return", "MATCH (n:Person) RETURN DISTINCT n.name"},
          {"order_by", "MATCH (n:Person) RETURN n ORDER BY n.name"},
          {"unwind", "MATCH (n:Person) UNWIND n.name AS item RETURN item"},
          {"match_return", "MATCH (n:Movie) RETURN n"},
          {"match_where_return", "MATCH (n:Person) WHERE n.name = \"Alice\" RETURN n.name"},
          {"create", "CREATE (n:Movie {title: $limit, year: false}) RETURN n"},
          {"merge", "MERGE (n:Person {name: \"hello\"}) RETURN n"},
          {"aggregation", "MATCH (n:Person) RETURN count(n.name) AS result"},
          {"match_relationship", "MATCH (a:Person)-[r:ACTED_IN]->(b:Movie) RETURN a, r, b"},
          {"create_relationship",
           "MATCH (a:Person),(b:Movie) CREATE (a)-[r:ACTED_IN]->(b) RETURN r"},
          {"match_set", "MATCH (n:Movie) SET n.year = $id RETURN n"},
          {"match_delete", "MATCH (n:Movie) DETACH DELETE n"},
          {"with_chain", "MATCH (n:Movie) WITH n.rating AS val RETURN count(*)"},
          {"distinct_return", "MATCH (n:Movie) RETURN DISTINCT n.rating LIMIT 18"},
          {"order_by", "MATCH (n:Person) RETURN n ORDER BY n.name DESC LIMIT 38"},
          {"unwind", "MATCH (n:Person) UNWIND n.name AS item RETURN item"},
      });
}

TEST(CypherGenerator, SupportedTypesInOrder) {
  EXPECT_EQ(CypherGenerator::supported_types(),
            (std::vector<std::string>{"match_return", "match_where_return", "create", "merge",
                                      "aggregation", "match_relationship", "create_relationship",
                                      "match_set", "match_delete", "with_chain", "distinct_return",
                                      "order_by", "unwind"}));
}

TEST(CypherGenerator, UnknownTypeLeavesTheStateUntouched) {
  CypherGenerator probed(movie_schema(), 9);
  CypherGenerator plain(movie_schema(), 9);
  for (const char* bad : {"Match_Return", "", "MATCH_RETURN", "match_return ", "unknown"}) {
    auto r = probed.generate(bad);
    ASSERT_TRUE(std::holds_alternative<CypherError>(r));
    const CypherError& e = std::get<CypherError>(r);
    EXPECT_EQ(e.kind, CypherErrorKind::Generator);
    EXPECT_EQ(e.message, std::string("Unknown query type: ") + bad);
    EXPECT_EQ(e.display(), std::string("Generator error: Unknown query type: ") + bad);
  }
  for (int round = 0; round < 3; ++round) {
    for (const auto& type : CypherGenerator::supported_types()) {
      ASSERT_EQ(gen(probed, type), gen(plain, type));
    }
  }
}

TEST(CypherGenerator, SameSeedSameSequenceAndOwnSchemaCopy) {
  Schema schema = movie_schema();
  CypherGenerator a(schema, 12345);
  schema.insert_node("Extra", {"x"});  // later changes to the source do not reach `a`
  CypherGenerator b(movie_schema(), 12345);
  CypherGenerator other(movie_schema(), 12346);
  bool differs = false;
  for (int i = 0; i < 200; ++i) {
    const auto& type = CypherGenerator::kQueryTypes[i % 13];
    const std::string qa = gen(a, type);
    ASSERT_EQ(qa, gen(b, type));
    ASSERT_EQ(qa.find("Extra"), std::string::npos);
    differs |= qa != gen(other, type);
  }
  EXPECT_TRUE(differs);
}

TEST(CypherGenerator, UnseededGeneratorsDiffer) {
  CypherGenerator a(movie_schema());
  CypherGenerator b(movie_schema());
  std::string sa, sb;
  for (int i = 0; i < 40; ++i) {
    sa += gen(a, "create") + "\n";
    sb += gen(b, "create") + "\n";
  }
  EXPECT_NE(sa, sb);
}

TEST(CypherGenerator, TemplateShapes) {
  Schema s;
  s.insert_node("P", {"a", "b", "c", "d", "e"});
  s.insert_node("One", {"only"});
  const std::regex scalar(
      R"re(("(Alice|Bob|Carol|Neo4j|hello)"|[1-9][0-9]?|100|true|false|\$(name|id|value|limit)))re");
  const std::string v =
      R"re(("(Alice|Bob|Carol|Neo4j|hello)"|[0-9]+|true|false|\$(name|id|value|limit)))re";
  const std::regex create_map("CREATE \\(n:(P|One) \\{([a-e]|only): " + v + "(, ([a-e]): " + v +
                              "){0,2}\\}\\) RETURN n");
  const std::regex limit(".* LIMIT ([0-9]+)$");
  const std::regex key("([a-e]|only): ");
  CypherGenerator g(s, 3);
  int pairs_seen[4] = {};
  for (int i = 0; i < 400; ++i) {
    const std::string c = gen(g, "create");
    ASSERT_TRUE(std::regex_match(c, create_map)) << c;
    const std::size_t pairs = static_cast<std::size_t>(std::count(c.begin(), c.end(), ':')) - 1;
    ASSERT_GE(pairs, 1u);
    ASSERT_LE(pairs, 3u);
    ++pairs_seen[pairs];
    if (c.find("(n:One") != std::string::npos) {
      ASSERT_EQ(pairs, 1u) << c;
    }
    // Distinct property names within one map.
    std::set<std::string> names;
    for (std::sregex_iterator it(c.begin(), c.end(), key), end; it != end; ++it) {
      ASSERT_TRUE(names.insert((*it)[1]).second) << c;
    }
    const std::string r = gen(g, "match_return");
    std::smatch m;
    if (std::regex_match(r, m, limit)) {
      const int n = std::stoi(m[1]);
      ASSERT_GE(n, 1);
      ASSERT_LE(n, 50);
    }
    const std::string u = gen(g, "unwind");
    ASSERT_TRUE(u.rfind("MATCH (n:", 0) == 0) << u;  // every label has a property here
  }
  EXPECT_GT(pairs_seen[2], 0);
  EXPECT_GT(pairs_seen[3], 0);
  // Without a property, unwind lists two to four scalar values.
  CypherGenerator bare(Schema{}, 5);
  for (int i = 0; i < 200; ++i) {
    const std::string u = gen(bare, "unwind");
    ASSERT_EQ(u.rfind("UNWIND [", 0), 0u);
    const std::string inner = u.substr(8, u.find("] AS item RETURN item") - 8);
    std::size_t count = 0;
    std::size_t start = 0;
    while (true) {
      const std::size_t comma = inner.find(", ", start);
      ASSERT_TRUE(std::regex_match(inner.substr(start, comma - start), scalar)) << u;
      ++count;
      if (comma == std::string::npos) break;
      start = comma + 2;
    }
    ASSERT_GE(count, 2u);
    ASSERT_LE(count, 4u);
  }
}

TEST(CypherGenerator, RelationshipsPointFromSourceToTarget) {
  Schema s;
  s.insert_node("A", {});
  s.insert_relationship("R1", "A", "B", {});
  s.insert_relationship("R2", "C", "A", {"w"});
  CypherGenerator g(s, 11);
  int optional = 0;
  for (int i = 0; i < 300; ++i) {
    const std::string m = gen(g, "match_relationship");
    const bool r1 = m.find("MATCH (a:A)-[r:R1]->(b:B) RETURN a, r, b") != std::string::npos;
    const bool r2 = m.find("MATCH (a:C)-[r:R2]->(b:A) RETURN a, r, b") != std::string::npos;
    ASSERT_TRUE(r1 || r2) << m;
    if (m.rfind("OPTIONAL ", 0) == 0) ++optional;
    const std::string c = gen(g, "create_relationship");
    ASSERT_TRUE(c == "MATCH (a:A),(b:B) CREATE (a)-[r:R1]->(b) RETURN r" ||
                c == "MATCH (a:C),(b:A) CREATE (a)-[r:R2]->(b) RETURN r")
        << c;
  }
  EXPECT_GT(optional, 30);  // about one in four
  EXPECT_LT(optional, 120);
}

TEST(CypherGenerator, NamesAreInsertedAsTheyAre) {
  Schema s;
  s.insert_node("`Odd Label`", {"`a b`"});
  CypherGenerator g(s, 1);
  EXPECT_EQ(gen(g, "aggregation"), "MATCH (n:`Odd Label`) RETURN count(n.`a b`) AS result");
}

// Names that the query language does not take as plain names (reserved words in any letter case,
// spaces, punctuation, non-ASCII letters, a leading digit, the empty name) go into every place of
// every template in backticks; a name holding a backtick, which no form can write, stays as it is.
// The draws do not change: with each name replaced by a plain stand-in of the same byte order, a
// schema of the same shape gives the same queries, seed for seed.
TEST(CypherGenerator, NamesThatAreNotPlainAreWrittenInBackticksWithTheSameDraws) {
  const std::map<std::string, std::string> written = {
      {"Order", "`Order`"},
      {"Café", "`Café`"},
      {"My Label", "`My Label`"},
      {"1st", "`1st`"},
      {"Person", "Person"},
      {"IN", "`IN`"},
      {"from", "`from`"},
      {"HAS-PART", "`HAS-PART`"},
      {"DESCENDING", "`DESCENDING`"},
      {"KNOWS", "KNOWS"},
      {"count", "`count`"},
      {"order", "`order`"},
      {"Ends", "`Ends`"},
      {"asc", "`asc`"},
      {"first name", "`first name`"},
      {"", "``"},
      {"ok_1", "ok_1"},
      {"descendings", "descendings"},
      {"nullable", "nullable"},
      {"a`b", "a`b"},
  };
  auto build = [](auto&& name) {
    Schema s;
    s.insert_node(name("Order"), {name("count"), name("order"), name("first name"), name("ok_1")});
    s.insert_node(name("Café"), {name("Ends"), name("")});
    s.insert_node(name("My Label"), {});
    s.insert_node(name("Person"), {name("asc"), name("descendings"), name("nullable")});
    s.insert_node(name("1st"), {name("a`b")});
    s.insert_relationship(name("IN"), name("Order"), name("Café"), {});
    s.insert_relationship(name("from"), name("My Label"), name("Person"), {name("count")});
    s.insert_relationship(name("HAS-PART"), name("Person"), name("1st"), {});
    s.insert_relationship(name("DESCENDING"), name("Order"), name("Order"), {});
    s.insert_relationship(name("KNOWS"), name("Person"), name("Person"), {});
    return s;
  };
  // The stand-ins Q00, Q01, ... follow the names' byte order, so every sorted list of the two
  // schemas lines up.
  std::map<std::string, std::string> stand_in;
  std::map<std::string, std::string> back;
  for (const auto& [name, as_written] : written) {
    const std::string q =
        "Q" + std::string(stand_in.size() < 10 ? "0" : "") + std::to_string(stand_in.size());
    stand_in[name] = q;
    back[q] = as_written;
  }
  const Schema awkward = build([](const char* n) { return std::string(n); });
  const Schema plain = build([&](const char* n) { return stand_in.at(n); });
  const std::regex q_name("Q[0-9][0-9]");
  std::set<std::string> seen;
  for (std::uint64_t seed = 0; seed < 40; ++seed) {
    CypherGenerator a(awkward, seed);
    CypherGenerator p(plain, seed);
    for (int round = 0; round < 3; ++round) {
      for (const auto& type : CypherGenerator::kQueryTypes) {
        const std::string from_plain = gen(p, type);
        std::string expected;
        std::size_t copied = 0;
        for (std::sregex_iterator it(from_plain.begin(), from_plain.end(), q_name), end; it != end;
             ++it) {
          expected += from_plain.substr(copied, it->position() - copied);
          expected += back.at(it->str());
          seen.insert(it->str());
          copied = it->position() + it->length();
        }
        expected += from_plain.substr(copied);
        ASSERT_EQ(gen(a, type), expected) << "seed " << seed << ", " << type;
      }
    }
  }
  EXPECT_EQ(seen.size(), written.size());  // every name was drawn somewhere
}

}  // namespace
}  // namespace tessary
