// Query trees built from query texts, checked through the compact printout of tree_printer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "parser/arena.hpp"
#include "parser/builder.hpp"
#include "parser/builder_text.hpp"
#include "parser/parse.hpp"
#include "tree_printer.hpp"

namespace tessary {
namespace {

using testing::print;

struct Case {
  const char* query;
  const char* expected;
};

std::string tree_of(const std::string& query) {
  auto result = parse(query);
  if (auto* error = std::get_if<CypherError>(&result)) return "ERROR " + error->display();
  return print(std::get<CypherQuery>(result));
}

// The first projected expression of a query "RETURN <expr>".
std::string expr_of(const std::string& expression) {
  auto result = parse("RETURN " + expression);
  if (auto* error = std::get_if<CypherError>(&result)) return "ERROR " + error->display();
  const auto& single = std::get<SinglePartQuery>(std::get<CypherQuery>(result).query.first.node);
  return print(single.return_clause->items.at(0).expr);
}

void expect_table(const std::vector<Case>& cases, std::string (*run)(const std::string&)) {
  for (const Case& c : cases) EXPECT_EQ(run(c.query), c.expected) << "query: " << c.query;
}

// ---------------------------------------------------------------------------------------------
// Text outside inner pairs

TEST(BuilderText, HasWordIgnoresCaseAndComments) {
  struct Row {
    const char* text;
    const char* word;
    bool found;
  };
  const std::vector<Row> rows = {
      {"RETURN DISTINCT ", "DISTINCT", true},
      {"return distinct", "DISTINCT", true},
      {"RETURN DiStInCt", "DISTINCT", true},
      {"RETURN ", "DISTINCT", false},
      {"RETURN /* DISTINCT */ ", "DISTINCT", false},
      {"RETURN // distinct\n", "DISTINCT", false},
      {"RETURN // distinct", "DISTINCT", false},
      {"RETURN /* x */ DISTINCT", "DISTINCT", true},
      {"RETURN DIS/**/TINCT", "DISTINCT", false},         // a comment separates
      {"RETURN /* unclosed DISTINCT", "DISTINCT", true},  // not a comment without its end
      {" += ", "+=", true},
      {" = ", "+=", false},
      {" /*+=*/ = ", "+=", false},
      {"[ .. ", "..", true},
      {"[/*..*/ ", "..", false},
      {"", "ALL", false},
      {"x / y", "/", true},  // a word with a slash is looked for outside comments too
      {"x /* / */ y", "/", false},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(builder::has_word(r.text, r.word), r.found) << r.text << " / " << r.word;
  }
}

TEST(BuilderText, FindOperatorSkipsComments) {
  EXPECT_EQ(builder::find_operator(" - ", "+-"), '-');
  EXPECT_EQ(builder::find_operator(" /* + */ - ", "+-"), '-');
  EXPECT_EQ(builder::find_operator(" // -\n + ", "+-"), '+');
  EXPECT_EQ(builder::find_operator(" /* * */ / ", "*/"), '/');
  EXPECT_EQ(builder::find_operator(" /* / */ * ", "*/"), '*');
  EXPECT_EQ(builder::find_operator("  ", "+-"), '\0');
}

// ---------------------------------------------------------------------------------------------
// Expressions

TEST(BuilderExpressions, OperatorsFoldToTheLeft) {
  expect_table(
      {
          {"a OR b XOR c AND NOT d", "Or(a, Xor(b, And(c, Not(d))))"},
          {"a OR b OR c", "Or(Or(a, b), c)"},
          {"a xor b xor c", "Xor(Xor(a, b), c)"},
          {"a AND b AND c", "And(And(a, b), c)"},
          {"NOT NOT a", "Not(Not(a))"},
          {"NOT n.notes", "Not(Prop(n, notes))"},
          {"x IS NOT NULL", "IsNotNull(x)"},
          {"x is null", "IsNull(x)"},
          {"x IS   NOT\n NULL", "IsNotNull(x)"},
          {"1 < 2 < 3", "Lt(Lt(Int(1), Int(2)), Int(3))"},
          {"a - b + c", "Add(Sub(a, b), c)"},
          {"a + b - c", "Sub(Add(a, b), c)"},
          {"a / b * c", "Mul(Div(a, b), c)"},
          {"a * b / c", "Div(Mul(a, b), c)"},
          {"a % b % c", "Mod(Mod(a, b), c)"},
          {"a * b % c", "Mul(a, Mod(b, c))"},
          {"2 ^ 3 ^ 2", "Pow(Pow(Int(2), Int(3)), Int(2))"},
          {"-2 ^ 2", "Pow(Neg(Int(2)), Int(2))"},
          {"-x", "Neg(x)"},
          {"-1", "Neg(Int(1))"},
          {"a + b IS NULL", "Add(a, IsNull(b))"},
          {"NOT a = b", "Not(Eq(a, b))"},
          {"a /* - */ + b // -\n - c", "Sub(Add(a, b), c)"},
          {"a /* / */ * b", "Mul(a, b)"},
          {"a/b", "Div(a, b)"},
          {"a-b", "Sub(a, b)"},
      },
      expr_of);
}

TEST(BuilderExpressions, ComparisonOperators) {
  expect_table(
      {
          {"a = b", "Eq(a, b)"},
          {"a <> b", "Ne(a, b)"},
          {"a < b", "Lt(a, b)"},
          {"a <= b", "Le(a, b)"},
          {"a > b", "Gt(a, b)"},
          {"a >= b", "Ge(a, b)"},
          {"a =~ 'x.*'", "RegexMatch(a, Str(x.*))"},
          {"x in [1]", "In(x, [Int(1)])"},
          {"x IN $p", "In(x, $p)"},
          {"x Contains 'a'", "Contains(x, Str(a))"},
          {"x starts with 'a'", "StartsWith(x, Str(a))"},
          {"x STARTS /* c */ WITH 'a'", "StartsWith(x, Str(a))"},
          {"x ends   with 'a'", "EndsWith(x, Str(a))"},
      },
      expr_of);
}

TEST(BuilderExpressions, PostfixChains) {
  expect_table(
      {
          {"n.a.b[0] IS NULL", "IsNull(Index(Prop(Prop(n, a), b), Int(0)))"},
          {"n.name", "Prop(n, name)"},
          {"n.`first name`", "Prop(n, `first name`)"},
          {"n . name", "Prop(n, name)"},
          {"x[i..j]", "Slice(x, i, j)"},
          {"x[i..]", "Slice(x, i, _)"},
          {"x[..j]", "Slice(x, _, j)"},
          {"x[..]", "Slice(x, _, _)"},
          {"x[ /* .. */ i ..]", "Slice(x, i, _)"},
          {"x[1 .. 3]", "Slice(x, Int(1), Int(3))"},
          {"x[i]", "Index(x, i)"},
      },
      expr_of);
}

TEST(BuilderExpressions, MapLiteralsKeepTheLastValueInFirstPlace) {
  expect_table(
      {
          {"{a: 1, b: 2}", "{a: Int(1), b: Int(2)}"},
          {"{a: 1, a: 2}", "{a: Int(2)}"},
          {"{a: 1, b: 2, a: 3}", "{a: Int(3), b: Int(2)}"},
          {"{}", "{}"},
          {"{`a b`: 1, A: 2, a: 3}", "{`a b`: Int(1), A: Int(2), a: Int(3)}"},
      },
      expr_of);
}

TEST(BuilderExpressions, LargeMapLiteralDeduplicatesThroughItsIndex) {
  std::string map = "{";
  for (int i = 0; i < 40; ++i) map += "k" + std::to_string(i) + ": " + std::to_string(i) + ", ";
  for (int i = 0; i < 40; i += 2) map += "k" + std::to_string(i) + ": -1, ";
  map += "k39: 99}";
  auto result = parse("RETURN " + map);
  const auto& single = std::get<SinglePartQuery>(std::get<CypherQuery>(result).query.first.node);
  const auto& entries = single.return_clause->items.at(0).expr.as<Expr::Map>().entries;
  ASSERT_EQ(entries.size(), 40u);
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(entries[i].key, "k" + std::to_string(i));
    std::string expected = i == 39      ? "Int(99)"
                           : i % 2 == 0 ? "Neg(Int(1))"
                                        : "Int(" + std::to_string(i) + ")";
    EXPECT_EQ(print(entries[i].value), expected) << i;
  }
}

// ---------------------------------------------------------------------------------------------
// Atoms and literals

TEST(BuilderAtoms, Literals) {
  expect_table(
      {
          {"42", "Int(42)"},
          {"0x1F", "Int(31)"},
          {"0xff", "Int(255)"},
          {"0o17", "Int(15)"},
          {"017", "Int(17)"},
          {"9223372036854775807", "Int(9223372036854775807)"},
          {"9223372036854775808", "Int(0)"},
          {"0x8000000000000000", "Int(0)"},
          {"0x7fffffffffffffff", "Int(9223372036854775807)"},
          {"-5", "Neg(Int(5))"},
          {"1.5", "Float(1.5)"},
          {"2.", "Float(2)"},
          {"1.5e2", "Float(150)"},
          {"1.5E-1", "Float(0.14999999999999999)"},
          {"1.0e400", "Float(inf)"},
          {"1.0e-400", "Float(0)"},
          {"0.0e999", "Float(0)"},
          {"'abc'", "Str(abc)"},
          {"\"abc\"", "Str(abc)"},
          {"''", "Str()"},
          {"true", "true"},
          {"TRUE", "true"},
          {"True", "true"},
          {"false", "false"},
          {"NULL", "null"},
          {"[]", "[]"},
          {"[1, 'a', null]", "[Int(1), Str(a), null]"},
          {"[x IN xs]", "[In(x, xs)]"},
          {"$name", "$name"},
          {"$1", "$1"},
          {"n", "n"},
          {"`my var`", "`my var`"},
          {"((1))", "Int(1)"},
      },
      expr_of);
  // Backslashes are ordinary characters: the content is kept as written.
  EXPECT_EQ(expr_of("'a\\nb\\t'"), "Str(a\\nb\\t)");
  EXPECT_EQ(expr_of("\"it's\""), "Str(it's)");
}

TEST(BuilderAtoms, LiteralConversions) {
  EXPECT_EQ(builder::integer_literal_value("0X1f"), 31);
  EXPECT_EQ(builder::integer_literal_value("00012"), 12);
  EXPECT_EQ(builder::integer_literal_value("99999999999999999999"), 0);
  EXPECT_EQ(builder::integer_literal_value("0o777777777777777777777777"), 0);
  EXPECT_EQ(builder::float_literal_value("1.7976931348623157e308"), 1.7976931348623157e308);
  EXPECT_TRUE(std::isinf(builder::float_literal_value("1.8e308")));
  EXPECT_TRUE(std::isinf(builder::float_literal_value("100000.0e304")));
  EXPECT_EQ(builder::float_literal_value("0.00001e-320"), 0.0);
  EXPECT_EQ(builder::float_literal_value("4.9e-324"), 4.9e-324);  // smallest subnormal kept
  EXPECT_EQ(builder::float_literal_value("0.1"), 0.1);
  EXPECT_EQ(builder::float_literal_value("123456789012345678901234567890.0"),
            123456789012345678901234567890.0);
}

TEST(BuilderAtoms, CallsAndSpecialForms) {
  expect_table(
      {
          {"count(*)", "CountStar"},
          {"COUNT ( * )", "CountStar"},
          {"count(n)", "Fn(count; n)"},
          {"count(DISTINCT n)", "Fn(count, DISTINCT; n)"},
          {"count(distinct n)", "Fn(count, DISTINCT; n)"},
          {"count( /* distinct */ n)", "Fn(count; n)"},
          {"count(distinctValue)", "Fn(count, DISTINCT; Value)"},
          {"f('distinct')", "Fn(f; Str(distinct))"},
          {"my.ns.fn()", "Fn(my.ns.fn; )"},
          {"toUpper(a, b)", "Fn(toUpper; a, b)"},
          {"exists(n.name)", "Fn(exists; Prop(n, name))"},
          {"reduce(acc = 0, x IN [1, 2] | acc + x)",
           "Reduce(acc = Int(0), x IN [Int(1), Int(2)] | Add(acc, x))"},
          {"shortestPath((a)-[:KNOWS*]-(b))", "ShortestPath((a)-[:KNOWS *_.._]-(b))"},
          {"allShortestPaths((a)--(b))", "AllShortestPaths((a)-[]-(b))"},
          {"ALLSHORTESTPATHS((a)-[:K*1..5]->(b))", "AllShortestPaths((a)-[:K *1..5]->(b))"},
          {"CASE WHEN a THEN b END", "Case(; a -> b)"},
          {"CASE x WHEN 1 THEN 'one' WHEN 2 THEN 'two' ELSE 'many' END",
           "Case(x; Int(1) -> Str(one), Int(2) -> Str(two); ELSE Str(many))"},
          {"CASE WHEN a THEN b ELSE c END", "Case(; a -> b; ELSE c)"},
          {"case x when 1 then 2 end", "Case(x; Int(1) -> Int(2))"},
          {"CASE /* WHEN */ x WHEN 'ELSE' THEN 'THEN' END", "Case(x; Str(ELSE) -> Str(THEN))"},
          {"CASE x ELSE 1 END", "ERROR"},
          {"[x IN xs WHERE x > 1]", "ListComp(x IN xs WHERE Gt(x, Int(1)))"},
          {"[x IN xs | x * 2]", "ListComp(x IN xs | Mul(x, Int(2)))"},
          {"[x IN xs WHERE x > 1 | x * 2]",
           "ListComp(x IN xs WHERE Gt(x, Int(1)) | Mul(x, Int(2)))"},
          {"all(x IN xs WHERE x > 0)", "All(x IN xs WHERE Gt(x, Int(0)))"},
          {"ANY (x IN xs WHERE x IS NULL)", "Any(x IN xs WHERE IsNull(x))"},
          {"none(x IN xs WHERE x = 1)", "None(x IN xs WHERE Eq(x, Int(1)))"},
          {"Single(x IN xs WHERE x = 1)", "Single(x IN xs WHERE Eq(x, Int(1)))"},
          {"all(x IN xs)", "All(x IN xs)"},
          {"any(x)", "Fn(any; x)"},
          {"EXISTS { (n)-[:R]->() }", "Exists((n)-[:R]->())"},
          {"exists {(a)--(b), (b)--(c)}", "Exists((a)-[]-(b), (b)-[]-(c))"},
          {"COUNT { MATCH (n) RETURN n }", "CountSub{Single{MATCH (n) RETURN n}}"},
          {"COLLECT { MATCH (n) RETURN n.name }",
           "CollectSub{Single{MATCH (n) RETURN Prop(n, name)}}"},
          {"[(a)-->(b) | b.name]", "PatternComp((a)-[]->(b) | Prop(b, name))"},
          {"[(a)-->(b) WHERE b.age > 1 | b.name]",
           "PatternComp((a)-[]->(b) WHERE Gt(Prop(b, age), Int(1)) | Prop(b, name))"},
          {"[(a)--(b)]", "[Sub(a, Neg(b))]"},
      },
      [](const std::string& q) -> std::string {
        std::string out = expr_of(q);
        return out.rfind("ERROR", 0) == 0 ? "ERROR" : out;
      });
}

// ---------------------------------------------------------------------------------------------
// Patterns

TEST(BuilderPatterns, DirectionsRangesAndNames) {
  expect_table(
      {
          {"MATCH (a)<-[r]->(b)", "Single{MATCH (a)<-[r]-(b)}"},
          {"MATCH (a)<-->(b)", "Single{MATCH (a)<-[]-(b)}"},
          {"MATCH (a)-[r]->(b)", "Single{MATCH (a)-[r]->(b)}"},
          {"MATCH (a)<-[r]-(b)", "Single{MATCH (a)<-[r]-(b)}"},
          {"MATCH (a)-[r]-(b)", "Single{MATCH (a)-[r]-(b)}"},
          {"MATCH (a)--(b)", "Single{MATCH (a)-[]-(b)}"},
          {"MATCH (a)- [ r ] - >(b)", "Single{MATCH (a)-[r]->(b)}"},
          {"MATCH (a)-[]->(b)", "Single{MATCH (a)-[]->(b)}"},
          {"MATCH (a)-[*]->(b)", "Single{MATCH (a)-[ *_.._]->(b)}"},
          {"MATCH (a)-[*3]->(b)", "Single{MATCH (a)-[ *3..3]->(b)}"},
          {"MATCH (a)-[*1..5]->(b)", "Single{MATCH (a)-[ *1..5]->(b)}"},
          {"MATCH (a)-[*2..]->(b)", "Single{MATCH (a)-[ *2.._]->(b)}"},
          {"MATCH (a)-[ * 1 .. 5 ]->(b)", "Single{MATCH (a)-[ *1..5]->(b)}"},
          {"MATCH (a)-[* 2 ..]->(b)", "Single{MATCH (a)-[ *2.._]->(b)}"},
          {"MATCH (a)-[*99999999999999999999]->(b)", "Single{MATCH (a)-[ *0..0]->(b)}"},
          {"MATCH (a)-[*1..99999999999999999999]->(b)", "Single{MATCH (a)-[ *1..0]->(b)}"},
          // Bounds read as integer literals, comments inside the range do not matter.
          {"MATCH (a)-[*0x3]->(b)", "Single{MATCH (a)-[ *3..3]->(b)}"},
          {"MATCH (a)-[*0o7..0x10]->(b)", "Single{MATCH (a)-[ *7..16]->(b)}"},
          {"MATCH (a)-[*2 /* c */]->(b)", "Single{MATCH (a)-[ *2..2]->(b)}"},
          {"MATCH (a)-[*1 /* .. */ ]->(b)", "Single{MATCH (a)-[ *1..1]->(b)}"},
          {"MATCH (a)-[*1 /* c */ .. /* d */ 4]->(b)", "Single{MATCH (a)-[ *1..4]->(b)}"},
          {"MATCH (a)-[:KNOWS]->(b)", "Single{MATCH (a)-[:KNOWS]->(b)}"},
          {"MATCH (a)-[:A|B]->(b)", "Single{MATCH (a)-[:A|B]->(b)}"},
          {"MATCH (a)-[:A|:B]->(b)", "Single{MATCH (a)-[:A|B]->(b)}"},
          {"MATCH (a)-[r:`my type`|x *2 {w: 1}]->(b)",
           "Single{MATCH (a)-[r:`my type`|x *2..2 {w: Int(1)}]->(b)}"},
          {"MATCH (n:Person:`Movie Star` {name: 'x', name: 'y'})",
           "Single{MATCH (n:Person:`Movie Star` {name: Str(y)})}"},
          {"MATCH (n :B : a)", "Single{MATCH (n:B:a)}"},
          {"MATCH (n $props)", "Single{MATCH (n $props)}"},
          {"MATCH ($props)", "Single{MATCH ( $props)}"},
          {"MATCH (n)-[r $p]-(m)", "Single{MATCH (n)-[r $p]-(m)}"},
          {"MATCH p = (a)-->(b), (c)", "Single{MATCH p = (a)-[]->(b), (c)}"},
          {"MATCH p = shortestPath((a)-[*]-(b))", "Single{MATCH p = (a)-[ *_.._]-(b)}"},
          {"MATCH (a)-->(b)<--(c)", "Single{MATCH (a)-[]->(b)<-[]-(c)}"},
      },
      tree_of);
}

// ---------------------------------------------------------------------------------------------
// Queries and projections

TEST(BuilderQueries, ProjectionsAndParts) {
  expect_table(
      {
          {"RETURN *", "Single{RETURN (none)}"},
          {"MATCH (n) WITH * RETURN n", "Multi{MATCH (n) WITH (none); RETURN n}"},
          {"MATCH (n) RETURN n ORDER BY n.description",
           "Single{MATCH (n) RETURN n ORDER BY Prop(n, description) ASC}"},
          {"MATCH (n) RETURN n ORDER BY n.x DESC, n.y descending, n.z ASC, n.w ascending",
           "Single{MATCH (n) RETURN n ORDER BY Prop(n, x) DESC, Prop(n, y) DESC, Prop(n, z) ASC, "
           "Prop(n, w) ASC}"},
          {"MATCH (n) RETURN n ORDER BY n.desc_field",
           "Single{MATCH (n) RETURN n ORDER BY Prop(n, desc_field) ASC}"},
          {"MATCH (n) RETURN n ORDER BY n.`desc` /* DESC */",
           "Single{MATCH (n) RETURN n ORDER BY Prop(n, `desc`) ASC}"},
          {"MATCH (n) RETURN count(DISTINCT n)", "Single{MATCH (n) RETURN Fn(count, DISTINCT; n)}"},
          {"MATCH (n) RETURN DISTINCT n", "Single{MATCH (n) RETURN DISTINCT n}"},
          {"MATCH (n) WITH DISTINCT n RETURN n", "Multi{MATCH (n) WITH DISTINCT n; RETURN n}"},
          {"MATCH (n) WITH count(DISTINCT n) AS c RETURN c",
           "Multi{MATCH (n) WITH Fn(count, DISTINCT; n) AS c; RETURN c}"},
          {"RETURN distinct_count", "Single{RETURN DISTINCT _count}"},
          {"RETURN x assoc", "Single{RETURN x AS soc}"},
          {"MATCH (a) RETURN a UNION ALL MATCH (b) RETURN b",
           "Single{MATCH (a) RETURN a} UNION ALL Single{MATCH (b) RETURN b}"},
          {"MATCH (a:Ball) RETURN a.total UNION MATCH (b:Ball) RETURN b.total",
           "Single{MATCH (a:Ball) RETURN Prop(a, total)} UNION Single{MATCH (b:Ball) RETURN "
           "Prop(b, total)}"},
          {"RETURN 1 UNION /* ALL */ RETURN 2",
           "Single{RETURN Int(1)} UNION Single{RETURN Int(2)}"},
          {"RETURN 1 union all RETURN 2 UNION RETURN 3",
           "Single{RETURN Int(1)} UNION ALL Single{RETURN Int(2)} UNION Single{RETURN Int(3)}"},
          {"MATCH (a) WITH a MATCH (b) WITH a, b RETURN a",
           "Multi{MATCH (a) WITH a; MATCH (b) WITH a, b; RETURN a}"},
          {"MATCH (n) WITH n", "Multi{MATCH (n) WITH n; }"},
          {"WITH 1 AS x", "Multi{WITH Int(1) AS x; }"},
          {"MATCH (n)", "Single{MATCH (n)}"},
          {"CREATE (n)", "Single{CREATE (n)}"},
          {"RETURN 1", "Single{RETURN Int(1)}"},
          {"RETURN a AS x, b", "Single{RETURN a AS x, b}"},
          {"MATCH (n) RETURN n SKIP 1 LIMIT 2",
           "Single{MATCH (n) RETURN n SKIP Int(1) LIMIT Int(2)}"},
          {"MATCH (n) WITH n ORDER BY n.x DESC SKIP 1 LIMIT 2 WHERE n.x > 1 RETURN n",
           "Multi{MATCH (n) WITH n ORDER BY Prop(n, x) DESC SKIP Int(1) LIMIT Int(2) WHERE "
           "Gt(Prop(n, x), Int(1)); RETURN n}"},
          // Each part of a projection's tail alone, and WHERE after one of them.
          {"MATCH (n) WITH n SKIP 1 RETURN n", "Multi{MATCH (n) WITH n SKIP Int(1); RETURN n}"},
          {"MATCH (n) WITH n LIMIT 2 RETURN n", "Multi{MATCH (n) WITH n LIMIT Int(2); RETURN n}"},
          {"MATCH (n) WITH n WHERE n.x RETURN n",
           "Multi{MATCH (n) WITH n WHERE Prop(n, x); RETURN n}"},
          {"MATCH (n) WITH n ORDER BY n RETURN n", "Multi{MATCH (n) WITH n ORDER BY n ASC; RETURN n}"},
          {"MATCH (n) WITH n LIMIT 2 WHERE n.x RETURN n",
           "Multi{MATCH (n) WITH n LIMIT Int(2) WHERE Prop(n, x); RETURN n}"},
          {"MATCH (n) RETURN n LIMIT 2", "Single{MATCH (n) RETURN n LIMIT Int(2)}"},
          {"MATCH (n) RETURN n SKIP 1", "Single{MATCH (n) RETURN n SKIP Int(1)}"},
          {"MATCH (n) CREATE (m) SET m.x = 1 RETURN m",
           "Single{MATCH (n) CREATE (m) SET Property(m.x = Int(1)) RETURN m}"},
          {"MATCH (n) RETURN n;", "Single{MATCH (n) RETURN n}"},
          {"match (n) where n.x = 1 return n",
           "Single{MATCH (n) WHERE Eq(Prop(n, x), Int(1)) RETURN n}"},
      },
      [](const std::string& q) -> std::string {
        std::string out = tree_of(q);
        return out.rfind("ERROR", 0) == 0 ? "ERROR" : out;
      });
}

TEST(BuilderQueries, AbsentAndEmptyAreDistinct) {
  auto result = parse("MATCH (n)");
  const auto& q = std::get<SinglePartQuery>(std::get<CypherQuery>(result).query.first.node);
  EXPECT_FALSE(q.return_clause.has_value());
  auto ret = parse("MATCH (n) RETURN n");
  const auto& r = std::get<SinglePartQuery>(std::get<CypherQuery>(ret).query.first.node);
  ASSERT_TRUE(r.return_clause.has_value());
  EXPECT_EQ(r.return_clause->order_by(), nullptr);
  EXPECT_EQ(r.return_clause->skip(), nullptr);
  EXPECT_FALSE(r.return_clause->tail.has_value());  // a projection without a tail makes none
  const auto& match = r.reading_clauses.at(0).as<ReadingClause::Match>();
  EXPECT_FALSE(match.where_clause.has_value());
  EXPECT_FALSE(match.pattern.parts.at(0).element.start.properties.has_value());
  auto rel = parse("MATCH (a)-[r]->(b)");
  const auto& rq = std::get<SinglePartQuery>(std::get<CypherQuery>(rel).query.first.node);
  const auto& step =
      rq.reading_clauses.at(0).as<ReadingClause::Match>().pattern.parts.at(0).element.chain.at(0);
  EXPECT_FALSE(step.relationship.range.has_value());
  EXPECT_EQ(step.relationship.direction, RelationshipDirection::Right);
  static_assert(sizeof(RelationshipDirection) == 1);
}

// ---------------------------------------------------------------------------------------------
// Clauses

TEST(BuilderClauses, ReadingClauses) {
  expect_table(
      {
          {"OPTIONAL MATCH (n) RETURN n", "Single{OPTIONAL MATCH (n) RETURN n}"},
          {"optional match (n)", "Single{OPTIONAL MATCH (n)}"},
          {"MATCH (n) WHERE n.age > 3", "Single{MATCH (n) WHERE Gt(Prop(n, age), Int(3))}"},
          {"UNWIND [1, 2] AS x RETURN x", "Single{UNWIND [Int(1), Int(2)] AS x RETURN x}"},
          {"CALL my.labels() YIELD label", "Single{CALL my.labels() YIELD label}"},
          {"CALL my.labels()", "Single{CALL my.labels()}"},
          {"CALL my.proc(1, 'a') YIELD out AS o",
           "Single{CALL my.proc(Int(1), Str(a)) YIELD out AS o}"},
          {"CALL p.q(1, 'a') YIELD x AS y, z", "Single{CALL p.q(Int(1), Str(a)) YIELD x AS y, z}"},
          {"CALL { MATCH (n) RETURN n } RETURN 1",
           "Single{CALL {Single{MATCH (n) RETURN n}} RETURN Int(1)}"},
      },
      tree_of);
}

TEST(BuilderClauses, UpdatingClauses) {
  expect_table(
      {
          {"SET n.name = 'x'", "Single{SET Property(n.name = Str(x))}"},
          {"SET a.b.c = 1", "Single{SET Property(a.b.c = Int(1))}"},
          {"SET n = {a: 1}", "Single{SET Assign(n = {a: Int(1)})}"},
          {"SET n += {a: 1}", "Single{SET Append(n += {a: Int(1)})}"},
          {"SET n.note = 'a+=b'", "Single{SET Property(n.note = Str(a+=b))}"},
          {"SET n = {s: 'a+=b'}", "Single{SET Assign(n = {s: Str(a+=b)})}"},
          {"SET n /* += */ = 1", "Single{SET Assign(n = Int(1))}"},
          {"SET n:Person:Admin", "Single{SET Labels(n:Person:Admin)}"},
          {"SET n.a = 1, n.b = 2", "Single{SET Property(n.a = Int(1)), Property(n.b = Int(2))}"},
          {"REMOVE n:Temp", "Single{REMOVE Labels(n:Temp)}"},
          {"REMOVE n.prop", "Single{REMOVE Property(n.prop)}"},
          {"REMOVE n:Person, n.age", "Single{REMOVE Labels(n:Person), Property(n.age)}"},
          {"MERGE (n:P {id: 1}) ON CREATE SET n.created = 1 ON MATCH SET n.seen = 2",
           "Single{MERGE (n:P {id: Int(1)}) ON MATCH [Property(n.seen = Int(2))] ON CREATE "
           "[Property(n.created = Int(1))]}"},
          {"MERGE (n) ON MATCH SET n.a = 1 ON MATCH SET n.b = 2, n.c = 3",
           "Single{MERGE (n) ON MATCH [Property(n.a = Int(1))] ON MATCH [Property(n.b = Int(2)), "
           "Property(n.c = Int(3))]}"},
          {"MERGE (n) ON CREATE SET n.matched = true",
           "Single{MERGE (n) ON CREATE [Property(n.matched = true)]}"},
          {"MERGE (n) on /* MATCH */ create SET n.x = 1",
           "Single{MERGE (n) ON CREATE [Property(n.x = Int(1))]}"},
          {"MERGE p = (a)-[:R]->(b)", "Single{MERGE p = (a)-[:R]->(b)}"},
          {"DETACH DELETE a, b", "Single{DETACH DELETE a, b}"},
          {"detach delete a", "Single{DETACH DELETE a}"},
          {"DELETE a", "Single{DELETE a}"},
          {"CREATE (a)-[:R]->(b), (c)", "Single{CREATE (a)-[:R]->(b), (c)}"},
          {"FOREACH (x IN [1, 2] | CREATE (:N {v: x}) SET m.last = x)",
           "Single{FOREACH (x IN [Int(1), Int(2)] | CREATE (:N {v: x}) SET Property(m.last = x))}"},
          {"FOREACH (x IN a | FOREACH (y IN x | DELETE y))",
           "Single{FOREACH (x IN a | FOREACH (y IN x | DELETE y))}"},
      },
      tree_of);
}

// ---------------------------------------------------------------------------------------------
// Entry points and errors

TEST(BuilderEntry, GrammarErrorsThroughBothEntries) {
  struct Row {
    const char* query;
    std::uint32_t line;
    std::uint32_t column;
  };
  const std::vector<Row> rows = {
      {"", 1, 1},
      {"FOO", 1, 1},
      {"MATCH (n) RETURN n; x", 1, 21},
      {"MATCH (n)\nWHERE n.x = 1\nRETURN 'é', (", 3, 14},
  };
  for (const Row& r : rows) {
    auto detail = parse_with_detail(r.query);
    ASSERT_TRUE(std::holds_alternative<ParseErrorDetail>(detail)) << r.query;
    const auto& d = std::get<ParseErrorDetail>(detail);
    ASSERT_TRUE(d.position.has_value()) << r.query;
    EXPECT_EQ(d.position->first, r.line) << r.query;
    EXPECT_EQ(d.position->second, r.column) << r.query;
    EXPECT_EQ(d.message.rfind("Parse error", 0), std::string::npos) << "no prefix: " << d.message;
    auto plain = parse(r.query);
    ASSERT_TRUE(std::holds_alternative<CypherError>(plain));
    const auto& e = std::get<CypherError>(plain);
    EXPECT_EQ(e.kind, CypherErrorKind::Parse);
    EXPECT_EQ(e.message, d.message);
    EXPECT_EQ(e.display(), "Parse error: " + d.message);
  }
}

TEST(BuilderEntry, ProcedureCallAloneIsARegularQuery) {
  auto result = parse_with_detail("CALL my.labels() YIELD label");
  ASSERT_TRUE(std::holds_alternative<CypherQuery>(result));
  const auto& q = std::get<CypherQuery>(result).query;
  EXPECT_TRUE(q.unions.empty());
  const auto& single = std::get<SinglePartQuery>(q.first.node);
  ASSERT_EQ(single.reading_clauses.size(), 1u);
  EXPECT_EQ(single.reading_clauses[0].kind(), ReadingClauseKind::Call);
  EXPECT_TRUE(single.updating_clauses.empty());
  EXPECT_FALSE(single.return_clause.has_value());
}

// A hand-made token tree shows the builder's own failures: the first one ends the build and
// no tree comes back.
struct TokenTreeBuilder {
  TokenList list;
  std::vector<std::uint32_t> open;
  void start(std::uint32_t pos) {
    open.push_back(static_cast<std::uint32_t>(list.tokens.size()));
    list.tokens.push_back(Token{pos, 0, Rule::EOI, true});
  }
  void end(Rule rule, std::uint32_t pos) {
    std::uint32_t s = open.back();
    open.pop_back();
    auto e = static_cast<std::uint32_t>(list.tokens.size());
    list.tokens[s].partner = e;
    list.tokens[s].rule = rule;
    list.tokens.push_back(Token{pos, s, rule, false});
  }
  Pair top() const { return Pair(&list, 0); }
};

TEST(BuilderEntry, DefensiveFailuresStopTheBuild) {
  {
    TokenTreeBuilder t;
    t.list.input = "x";
    t.start(0);
    t.end(Rule::cypher, 1);
    auto r = build_query(t.top());
    ASSERT_TRUE(std::holds_alternative<CypherError>(r));
    EXPECT_EQ(std::get<CypherError>(r).display(), "Parse error: Empty query");
  }
  {
    TokenTreeBuilder t;
    t.list.input = "x";
    t.start(0);
    t.start(1);
    t.end(Rule::EOI, 1);
    t.end(Rule::cypher, 1);
    auto r = build_query(t.top());
    EXPECT_EQ(std::get<CypherError>(r).message, "Expected statement, got EOI");
  }
  {
    // statement > regular_query > single_query > single_part_query > return_clause holding
    // an empty return_body item: an expression pair without inner pairs.
    TokenTreeBuilder t;
    t.list.input = "RETURN x";
    t.start(0);  // cypher
    t.start(0);  // statement
    t.start(0);  // regular_query
    t.start(0);  // single_query
    t.start(0);  // single_part_query
    t.start(0);  // return_clause
    t.start(7);  // return_body
    t.start(7);  // return_items
    t.start(7);  // return_item
    t.start(7);  // expression (empty)
    t.end(Rule::expression, 8);
    t.end(Rule::return_item, 8);
    t.end(Rule::return_items, 8);
    t.end(Rule::return_body, 8);
    t.end(Rule::return_clause, 8);
    t.end(Rule::single_part_query, 8);
    t.end(Rule::single_query, 8);
    t.end(Rule::regular_query, 8);
    t.end(Rule::statement, 8);
    t.end(Rule::cypher, 8);
    auto r = build_query(t.top());
    ASSERT_TRUE(std::holds_alternative<CypherError>(r));
    EXPECT_EQ(std::get<CypherError>(r).message, "Empty expression");
  }
}

TEST(BuilderEntry, VeryLongOperatorChainsAreRefusedNotOverflowed) {
  // Flat in the token tree, but each operand nests one level deeper in the query tree.
  for (const char* op : {" + ", " OR ", " < ", "."}) {
    std::string query = "RETURN a";
    for (int i = 0; i < 5000; ++i) query += op + std::string("a");
    auto plain = parse(query);
    ASSERT_TRUE(std::holds_alternative<CypherError>(plain)) << op;
    EXPECT_EQ(std::get<CypherError>(plain).message, builder::kTooDeepMessage);
    auto detail = parse_with_detail(query);
    ASSERT_TRUE(std::holds_alternative<ParseErrorDetail>(detail));
    EXPECT_EQ(std::get<ParseErrorDetail>(detail).message,
              std::string("Parse error: ") + builder::kTooDeepMessage);
    EXPECT_FALSE(std::get<ParseErrorDetail>(detail).position.has_value());
  }
  // A long chain below the bound builds, and a failed build leaves the next one unaffected.
  std::string query = "RETURN a";
  for (int i = 0; i < 900; ++i) query += " + a";
  EXPECT_TRUE(std::holds_alternative<CypherQuery>(parse(query)));
}

std::string repeat(const std::string& text, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += text;
  return out;
}

TEST(BuilderEntry, TreeDepthCountsNestedChainsAndNotJustTokenNesting) {
  struct Row {
    std::string query;
    bool builds;
  };
  // 20 nested chains of 60 operators: little token nesting, but a left spine 1200 deep.
  std::string nested = "a";
  for (int i = 0; i < 20; ++i) nested = "(" + nested + repeat(" + a", 60) + ")";
  std::string right = "a";
  for (int i = 0; i < 250; ++i) right = "a + (" + right + ")";
  std::string lists = repeat("[1 + ", 250) + "1" + repeat("]", 250);
  const std::vector<Row> rows = {
      {"RETURN " + nested, false},
      {"RETURN " + right, true},
      {"RETURN " + lists, true},
      {"RETURN " + repeat("NOT ", 1200) + "a", false},
      {"RETURN " + repeat("NOT ", 500) + "a", true},
      {"RETURN a" + repeat(".b", 1200), false},
      {"RETURN a" + repeat("[0]", 500), true},
      {"RETURN a" + repeat(" < b", 1200), false},
      {"RETURN [" + repeat("a + ", 1200) + "a]", false},
      {"RETURN [" + repeat("1, ", 5000) + "1]", true},  // long lists are flat
      {"MATCH (a)" + repeat("-->(a)", 3000), true},     // so are long pattern chains
      // A failure deep inside a clause ends the whole build.
      {"MATCH (a) WITH a WITH a WHERE a" + repeat(" + a", 1200) + " RETURN a", false},
      {"MATCH (n {k: [" + repeat("a OR ", 1200) + "a]}) RETURN n", false},
      {"CALL { CALL { RETURN a" + repeat(" - a", 1200) + " } RETURN 1 } RETURN 1", false},
  };
  for (const Row& r : rows) {
    auto result = parse(r.query);
    EXPECT_EQ(std::holds_alternative<CypherQuery>(result), r.builds) << r.query.substr(0, 60);
    if (!r.builds && std::holds_alternative<CypherError>(result)) {
      EXPECT_EQ(std::get<CypherError>(result).message, builder::kTooDeepMessage);
    }
  }
}

// The longest chain of NOT over `operand` that still builds.
std::size_t deepest_not_chain(const std::string& operand) {
  for (std::size_t k = builder::kMaxTreeDepth + 5; k > 0; --k) {
    auto result = parse("RETURN " + repeat("NOT ", static_cast<int>(k)) + operand);
    if (std::holds_alternative<CypherQuery>(result)) return k;
    EXPECT_EQ(std::get<CypherError>(result).message, builder::kTooDeepMessage) << operand;
  }
  return 0;
}

TEST(BuilderEntry, EveryNodeOnTheDeepestPathCountsOnceTowardsTheDepth) {
  // Each NOT stands above its operand, so a chain over an operand whose deepest path holds n
  // nodes builds n - 1 NOT fewer than over a lone variable. Leaves (atoms without children)
  // count as one node, and so does every postfix operator, whatever comes before or after it.
  struct Row {
    std::string operand;
    std::size_t levels;  // the operand's nodes on its deepest path
  };
  const std::vector<Row> rows = {
      {"$p", 1},
      {"1", 1},
      {"1.5", 1},
      {"'s'", 1},
      {"true", 1},
      {"null", 1},
      {"count(*)", 1},
      {"(a)", 1},
      {"[a]", 2},
      {"[[a]]", 3},
      {"{k: a}", 2},
      {"a.b", 2},
      {"a.b.c", 3},
      {"a[0]", 2},
      {"a[0].b", 3},
      {"a.b[0]", 3},
      {"a[b[0]]", 3},
      {"a IS NULL", 2},
      {"a[b..c]", 2},
      {"a[..b.c]", 3},
      {"f(a)", 2},
      {"-a", 2},
      {"a + b", 2},
      {"[x IN a | x]", 2},
      // An index or slice bound stands below the operators from its own on, not the earlier.
      {"a.c[b[0]]", 3},
      {"a.c.d[b[0][0]]", 4},
      {"a.c[..b.c.d]", 4},
      {"a.c[b..d.e.f]", 4},
  };
  const std::size_t variable = deepest_not_chain("a");
  ASSERT_GT(variable, builder::kMaxTreeDepth - 10);
  for (const Row& r : rows) {
    EXPECT_EQ(deepest_not_chain(r.operand) + r.levels, variable + 1) << r.operand;
  }
}

TEST(BuilderEntry, ThreadsBuildIndependently) {
  // The depth count is per thread: refused deep queries on some threads never disturb the
  // builds running on the others.
  std::string deep = "RETURN a" + repeat(" + a", 2000);
  std::string ok =
      "MATCH (a)-[r:R*1..3]->(b) WHERE a.x + 1 > 2 RETURN " + repeat("a.x + ", 800) + "1";
  const std::string expected = tree_of(ok);
  ASSERT_EQ(expected.rfind("Single{", 0), 0u);
  std::vector<std::thread> threads;
  std::vector<int> failures(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i) {
        if ((i + t) % 2) {
          if (!std::holds_alternative<CypherError>(parse(deep))) ++failures[t];
        } else if (tree_of(ok) != expected) {
          ++failures[t];
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 8; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

// ---------------------------------------------------------------------------------------------
// Where names are written

std::vector<std::string> names_of(const std::string& query) {
  auto result = parse(query);
  if (auto* error = std::get_if<CypherError>(&result)) return {"ERROR " + error->display()};
  return testing::name_offsets(std::get<CypherQuery>(result));
}

TEST(BuilderNames, LabelsTypesAndKeysKeepWhereTheyAreWritten) {
  struct NamesCase {
    const char* query;
    std::vector<std::string> names;  // sorted
  };
  const NamesCase cases[] = {
      // Offsets:  0         1         2         3         4
      //           01234567890123456789012345678901234567890123456789
      {"MATCH (n:A:`B c`)-[:T|:U|V]->(m {k: 1}) RETURN n.k",
       {"A@9", "T@20", "U@23", "V@25", "`B c`@11", "k@33", "k@49"}},
      // Whitespace and comments between a colon and its name.
      {"MATCH (n : A /* x */ :B)-[: /* : */ T]-() RETURN n", {"A@11", "B@22", "T@36"}},
      // A key written twice in one map keeps both places; a map literal's keys too.
      {"MATCH (n {k: 1, j: 2, k: 3}) RETURN {k: 1, `k`: 2}",
       {"`k`@43", "j@16", "k@10", "k@22", "k@37"}},
      // Property chains in expressions, SET and REMOVE.
      {"MATCH (n) SET n.a.`b` = n.c.d, n:L REMOVE n.e, n:M:N",
       {"L@33", "M@49", "N@51", "`b`@18", "a@16", "c@26", "d@28", "e@44"}},
      // Long lists: every name keeps its own place.
      {"MATCH (:A:B:C:D:E {k: 1, k: 2, k: 3, k: 4, k: 5, k: 6})",
       {"A@8", "B@10", "C@12", "D@14", "E@16", "k@19", "k@25", "k@31", "k@37", "k@43", "k@49"}},
      // Patterns inside expressions and MERGE actions.
      {"MATCH (a) WHERE EXISTS { (a)-[:R]->(:L) } MERGE (b:M) ON CREATE SET b.p = 1",
       {"L@37", "M@51", "R@31", "p@70"}},
  };
  for (const NamesCase& c : cases) EXPECT_EQ(names_of(c.query), c.names) << "query: " << c.query;
}

TEST(BuilderNames, EveryOffsetShowsItsName) {
  const char* queries[] = {
      "MATCH (p:Person {name: 'Alice'})-[:KNOWS]->(f:Person) WHERE f.age > 30 RETURN f.name",
      "MATCH (a)-[r:`my type`|x *2 {w: 1, w: 2}]->(b:`Movie Star`) RETURN r.w, b.`first name`",
      "MERGE (u:User {email: $e}) ON CREATE SET u.created = 1 ON MATCH SET u.seen = 2 RETURN u",
      "MATCH p = shortestPath((a:S {n: 1})-[:L*1..5]-(b:S)) RETURN [x IN nodes(p) | x.n] AS s",
      "MATCH (n) RETURN [(n)-[:K]->(m:P {q: n.q}) WHERE m.r > 1 | m.s], COUNT { MATCH (z:Z) "
      "RETURN z.t }, COLLECT { MATCH (y) RETURN y.u }",
      "MATCH (n)\n// :Fake n.fake\nSET n:A:B, n.c.d = {e: {f: n.g}}\nREMOVE n:C, n.h.i "
      "FOREACH (x IN [1] | SET n.j = x)",
      "UNWIND $rows AS row MERGE (p:Product {sku: row.sku}) SET p += {name: row.name} "
      "WITH p MATCH (c) WHERE c.k = p.`sku` RETURN c ORDER BY c.x SKIP 1",
      "CALL { MATCH (a:A) RETURN a.b AS c UNION MATCH (d:D) RETURN d.e AS c } RETURN c",
  };
  for (std::string query : queries) {
    std::vector<std::string> names = names_of(query);
    ASSERT_FALSE(names.empty()) << "query: " << query;
    for (const std::string& noted : names) {
      const std::size_t at = noted.rfind('@');
      ASSERT_NE(noted.substr(at + 1), "?") << "query: " << query << ", name " << noted;
      const std::string name = noted.substr(0, at);
      const std::size_t offset = std::stoul(noted.substr(at + 1));
      EXPECT_EQ(query.substr(offset, name.size()), name) << "query: " << query;
    }
  }
}

TEST(BuilderTree, DeepCopyIsIndependent) {
  auto result = parse(
      "MATCH p = (a:A:B {k: [1, 2], k: 3, k: 4})-[r:R*1..2]->(b) WHERE all(x IN a.k WHERE x > 0) "
      "MERGE (c) ON MATCH SET c.x = CASE WHEN a.k IS NULL THEN 1 END "
      "RETURN reduce(s = 0, y IN a.k | s + y), COUNT { MATCH (z) RETURN z } AS n");
  ASSERT_TRUE(std::holds_alternative<CypherQuery>(result));
  const CypherQuery& original = std::get<CypherQuery>(result);
  CypherQuery copy = original;
  EXPECT_EQ(print(copy), print(original));
  EXPECT_EQ(testing::name_offsets(copy), testing::name_offsets(original));
  auto& single = std::get<SinglePartQuery>(copy.query.first.node);
  auto& match = std::get<ReadingClause::Match>(single.reading_clauses.at(0).node);
  match.pattern.parts.at(0).element.start.labels.at(0) = "Changed";
  single.return_clause->items.at(0).expr.as<Expr::Reduce>().accumulator = "t";
  EXPECT_NE(print(copy), print(original));
  EXPECT_NE(print(original).find("(a:A:B {k: Int(4)})"), std::string::npos);
  EXPECT_NE(print(original).find("Reduce(s = "), std::string::npos);
}

// Expressions copied out of their tree, copied and moved again and grown in a list, with the tree
// gone: each way an expression holds its variant (in place: numbers, names, operators with their
// box of operands; boxed: strings, parameters, lookups, lists, calls) keeps what it showed.
TEST(BuilderTree, ExpressionsCopiedOutOfTheTreeStandAlone) {
  const char* const expressions[] = {
      "1",
      "2.5",
      "true",
      "null",
      "count(*)",
      "a_variable_name_longer_than_sixteen_bytes",
      "NOT a_long_variable_name_on_the_left = -x * 2 ^ another_long_variable_name OR b IS NULL",
      "'a string longer than sixteen bytes'",
      "$a_parameter_name_longer_than_16",
      "n.key[0]",
      "[x, 1, [y, 'z'], {k: w}]",
      "f(a_variable_name_longer_than_sixteen_bytes, b + c)",
      "CASE v WHEN 1 THEN w ELSE u END",
  };
  for (const char* text : expressions) {
    Expr copied;
    std::string expected;
    {
      auto result = parse(std::string("RETURN ") + text);
      ASSERT_TRUE(std::holds_alternative<CypherQuery>(result)) << text;
      const auto& single =
          std::get<SinglePartQuery>(std::get<CypherQuery>(result).query.first.node);
      const Expr& built = single.return_clause->items.at(0).expr;
      expected = print(built);
      const Expr copy = built;
      copied = copy;  // a copy of a copy, over an expression of another kind
      EXPECT_EQ(print(copy), expected) << text;
    }
    // The tree's memory is taken again by a tree of the same shape with other texts.
    std::string other = std::string("RETURN ") + text;
    for (char& c : other) c = c >= 'a' && c <= 'z' ? 'q' : c;
    auto reused = parse(other);
    EXPECT_EQ(print(copied), expected) << text;
    Expr moved = std::move(copied);
    EXPECT_EQ(print(moved), expected) << text;
    copied = Expr::Integer{7};
    copied = std::move(moved);
    EXPECT_EQ(print(copied), expected) << text;
    TreeList<Expr> grown;
    for (int i = 0; i < 40; ++i) grown.push_back(i % 2 == 0 ? copied : Expr(Expr::Integer{i}));
    for (int i = 0; i < 40; ++i) {
      EXPECT_EQ(print(grown[i]), i % 2 == 0 ? expected : "Int(" + std::to_string(i) + ")") << text;
    }
  }
}

// A query with texts of every kind (names longer than a short string holds, a string literal, a
// parameter, keys written twice) and lists long enough to take blocks of their own and to outgrow
// them (2,000 WITH steps, a list literal of 20,000 items).
std::string query_with_every_kind_of_text() {
  std::string query =
      "MATCH p = (a:`A label longer than sixteen bytes`:B {key: 'a string value', key: $param})"
      "-[r:REL_TYPE_WITH_A_LONG_NAME|OTHER*1..3]->(b) WHERE a.some_long_property_name > 1 ";
  for (int i = 0; i < 2000; ++i) query += "WITH a, b AS b" + std::to_string(i % 7) + " ";
  query += "MERGE (c:C) ON MATCH SET c.k = [";
  for (int i = 0; i < 20000; ++i) query += i ? ", 1" : "1";
  return query + "] RETURN reduce(total = 0, x IN a.list | total + x) AS sum ORDER BY sum SKIP 1";
}

TEST(BuilderTree, TreeKeepsItsTextsAndMovesBetweenThreads) {
  std::string query = query_with_every_kind_of_text();
  auto result = parse(query);
  ASSERT_TRUE(std::holds_alternative<CypherQuery>(result));
  CypherQuery tree = std::move(std::get<CypherQuery>(result));
  const std::string expected = print(tree);
  // The caller's text is written over and released: the tree holds its own copy.
  std::memset(query.data(), 'x', query.size());
  query = std::string();
  std::string printed_there;
  std::thread([&] {
    CypherQuery moved = std::move(tree);
    printed_there = print(moved);
  }).join();
  EXPECT_EQ(printed_there, expected);
  EXPECT_NE(expected.find("`A label longer than sixteen bytes`"), std::string::npos);
}

TEST(BuilderTree, CopyOutlivesItsOriginal) {
  std::optional<CypherQuery> original;
  {
    auto result = parse(query_with_every_kind_of_text());
    original.emplace(std::move(std::get<CypherQuery>(result)));
  }
  const std::string expected = print(*original);
  CypherQuery copy = *original;
  CypherQuery assigned;
  assigned = *original;
  original.reset();
  EXPECT_EQ(print(copy), expected);
  EXPECT_EQ(print(assigned), expected);
  copy = std::move(assigned);  // a tree moved over another releases the one it replaces
  EXPECT_EQ(print(copy), expected);
}

// Lists of clauses and of list items long enough that the builder makes them at their size and
// lets the memory of the tokens it has built from go as it goes: every element is the one its own
// text says, in order.
TEST(BuilderTree, LongListsKeepEveryElementInOrder) {
  using Elements = std::vector<std::string>;
  struct LongCase {
    const char* head;
    const char* before;  // each element's text is before + its number + after
    const char* after;
    const char* tail;
    const char* seen;  // what the element shows beside its number
    std::function<Elements(const SingleQuery&)> elements;
  };
  const LongCase cases[] = {
      {"", "WITH ", " AS a ", "RETURN a", "",
       [](const SingleQuery& q) {
         Elements out;
         for (const QueryPartStep& step : q.as<MultiPartQuery>().parts) {
           out.push_back(
               std::to_string(step.with_clause.items.at(0).expr.as<Expr::Integer>().value));
         }
         return out;
       }},
      {"", "MATCH (v", ":L) ", "RETURN 1", "L",
       [](const SingleQuery& q) {
         Elements out;
         for (const ReadingClause& clause : q.as<SinglePartQuery>().reading_clauses) {
           const NodePattern& node =
               clause.as<ReadingClause::Match>().pattern.parts.at(0).element.start;
           out.push_back(node.variable.value().str().substr(1) + node.labels.at(0).str());
         }
         return out;
       }},
      {"RETURN [", "", ", ", "-1]", "",
       [](const SingleQuery& q) {
         Elements out;
         const Expr& list = q.as<SinglePartQuery>().return_clause->items.at(0).expr;
         for (const Expr& item : list.as<Expr::List>().items) {
           if (const auto* n = item.get_if<Expr::Integer>())
             out.push_back(std::to_string(n->value));
         }
         return out;
       }},
  };
  constexpr int kCount = 200000;
  for (const LongCase& c : cases) {
    std::string query = c.head;
    Elements expected;
    for (int i = 0; i < kCount; ++i) {
      query += c.before + std::to_string(i) + c.after;
      expected.push_back(std::to_string(i) + c.seen);
    }
    query += c.tail;
    auto result = parse(query);
    ASSERT_TRUE(std::holds_alternative<CypherQuery>(result)) << c.before;
    Elements got = c.elements(std::get<CypherQuery>(result).query.first);
    ASSERT_EQ(got.size(), expected.size()) << c.before;
    EXPECT_TRUE(got == expected) << c.before;
  }
}

// A MaybeText reads as the std::optional<std::string> of the same value through every way of
// making, copying, moving and resetting it; an absent text and an empty one stay apart. Those made
// in a building arena (pointing into its copy of the source) and copied out of it outlive it.
TEST(BuilderTree, MaybeTextBehavesAsAnOptionalText) {
  const std::string source = "name a_name_longer_than_a_short_string_holds";
  const std::vector<std::optional<std::string>> values = {
      std::nullopt, "", "n", source.substr(5), "elsewhere, not in the source text"};
  auto same = [](const MaybeText& got, const std::optional<std::string>& want) {
    if (got.has_value() != want.has_value() || static_cast<bool>(got) != want.has_value()) {
      return false;
    }
    return !want || (got->view() == *want && got.value() == *want && (*got).size() == want->size());
  };
  auto make = [&](const std::optional<std::string>& want) {
    if (!want) return MaybeText();
    // A piece of the source when it is one, so that in an arena it points into its copy.
    const std::size_t at = want->empty() ? std::string::npos : source.find(*want);
    return at == std::string::npos ? MaybeText(*want)
                                    : MaybeText(std::string_view(source).substr(at, want->size()));
  };
  for (bool in_arena : {false, true}) {
    std::vector<MaybeText> copies;
    {
      Arena arena;
      std::optional<BuildingArena> building;
      if (in_arena) building.emplace(&arena, source);
      std::vector<MaybeText> made;
      for (const auto& v : values) made.push_back(make(v));
      building.reset();  // copies made from here on are on the heap
      for (std::size_t i = 0; i < values.size(); ++i) {
        SCOPED_TRACE(::testing::Message() << "arena " << in_arena << " value " << i);
        EXPECT_TRUE(same(made[i], values[i]));
        EXPECT_EQ(made[i] == std::nullopt, !values[i].has_value());
        MaybeText copied(made[i]);
        EXPECT_TRUE(same(copied, values[i]));
        MaybeText moved(std::move(copied));
        EXPECT_TRUE(same(moved, values[i]));
        for (std::size_t j = 0; j < values.size(); ++j) {
          EXPECT_EQ(made[i] == made[j], values[i] == values[j]) << "against " << j;
          MaybeText assigned = make(values[j]);
          assigned = made[i];
          EXPECT_TRUE(same(assigned, values[i])) << "copied over " << j;
          MaybeText moved_over = make(values[j]);
          moved_over = MaybeText(made[i]);
          EXPECT_TRUE(same(moved_over, values[i])) << "moved over " << j;
        }
        MaybeText emplaced = made[i];
        emplaced.emplace("");
        EXPECT_TRUE(same(emplaced, std::string()));
        emplaced = std::nullopt;
        EXPECT_TRUE(same(emplaced, std::nullopt));
        EXPECT_THROW(static_cast<void>(emplaced.value()), std::bad_optional_access);
        copies.push_back(made[i]);
      }
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
      EXPECT_TRUE(same(copies[i], values[i])) << "arena " << in_arena << " value " << i;
    }
  }
}

// Texts, boxes and lists made by the Building a step keeps take their room where the ones that
// look the thread's Building up do: a piece of the query text points into the arena's copy of it,
// any other text is a copy of its own, and outside a build all of them own their room.
TEST(BuilderTree, MadeByTheKeptBuildingAsByTheLookedUpOne) {
  const std::string source = "MATCH (n:Label) RETURN n.name";
  const std::string elsewhere = "not a piece of the source";
  const std::string_view pieces[] = {std::string_view(source).substr(6, 9), elsewhere, ""};
  for (bool in_arena : {false, true}) {
    Arena arena;
    std::optional<BuildingArena> scope;
    if (in_arena) scope.emplace(&arena, source);
    const Building& b = build_thread().building;
    auto in_copy = [&](const char* p) {
      return b.copy != nullptr && p >= b.copy && p < b.copy + source.size();
    };
    for (std::string_view piece : pieces) {
      SCOPED_TRACE(::testing::Message() << "arena " << in_arena << " text '" << piece << "'");
      const Text looked_up(piece);
      const Text kept(piece, b);
      const PackedText packed(piece, b);
      EXPECT_EQ(kept.view(), piece);
      EXPECT_EQ(packed.view(), piece);
      EXPECT_EQ(in_copy(kept.data()), in_copy(looked_up.data()));
      EXPECT_EQ(in_copy(packed.data()), in_copy(looked_up.data()));
      EXPECT_EQ(in_copy(kept.data()), in_arena && piece.data() == source.data() + 6);
      if (!piece.empty()) {
        EXPECT_NE(kept.data(), piece.data());
      }
    }
    auto box = Box<Expr>::made_by(b, [] { return Expr(Expr::Integer{7}); });
    EXPECT_EQ(box->as<Expr::Integer>().value, 7);
    TreeList<Text> names;
    names.reserve(3, b);
    EXPECT_EQ(names.capacity(), 3u);
    Expr tree = Expr::Integer{1};
    tree.emplace_by<Expr::Property>(b, Box<Expr>(Expr(Expr::Integer{2})), Text("k", b), 5u);
    ASSERT_TRUE(tree.is<Expr::Property>());
    EXPECT_EQ(tree.as<Expr::Property>().key, "k");
    EXPECT_EQ(tree.as<Expr::Property>().expr->as<Expr::Integer>().value, 2);
  }
}

TEST(BuilderTree, ArenaRoomIsAlignedAndDistinct) {
  Arena arena;
  std::vector<std::pair<unsigned char*, std::size_t>> taken;
  for (std::size_t i = 0; i < 3000; ++i) {
    const std::size_t size = (i * 37) % 700 + (i % 500 == 0 ? std::size_t{100} << 10 : 1);
    const std::size_t align = std::size_t{1} << (i % 5);
    auto* p = static_cast<unsigned char*>(arena.allocate(size, align));
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(p) % align, 0u);
    std::memset(p, static_cast<int>(i & 0xff), size);
    taken.emplace_back(p, size);
  }
  // Large room given back and taken again.
  arena.deallocate(arena.allocate(std::size_t{1} << 20, 8), std::size_t{1} << 20);
  for (std::size_t i = 0; i < taken.size(); ++i) {
    const auto [p, size] = taken[i];
    EXPECT_EQ(p[0], i & 0xff);
    EXPECT_EQ(p[size - 1], i & 0xff);
  }
}

}  // namespace
}  // namespace tessary
