// The recognizer's accept/reject decisions, token-tree shapes, pair texts and parse errors.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "test_recognizer_support.hpp"

namespace tessary {
namespace {

using testing_support::find;
using testing_support::kids;
using testing_support::outcome;
using testing_support::run;
using testing_support::tree;

const char* const kContinuations = "EOI, union_clause, order_clause, skip_clause, limit_clause";

// ---------------------------------------------------------------------------------------------
// Parse errors: line, column and message
// ---------------------------------------------------------------------------------------------

struct ErrorCase {
  const char* query;
  const char* expected;  // "line:column message"
};

class ParseErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ParseErrors, LineColumnAndExpectedRules) {
  const ErrorCase& c = GetParam();
  EXPECT_EQ(outcome(run(c.query)), c.expected) << c.query;
  EXPECT_EQ(outcome(run(c.query, false)), c.expected) << "plain: " << c.query;
}

INSTANTIATE_TEST_SUITE_P(
    Recognizer, ParseErrors,
    ::testing::Values(
        ErrorCase{"", "1:1 expected statement"},
        ErrorCase{"MATCH (n) RETURN n;;", "1:20 expected EOI"},
        ErrorCase{"RETURN", "1:7 expected not_expr"},
        ErrorCase{"MATCH (n RETURN m", "1:10 expected node_labels or properties"},
        ErrorCase{"RETURN nullable",
                  "1:12 expected EOI, union_clause, order_clause, skip_clause, limit_clause, "
                  "or_kw, xor_kw, and_kw, comparison_op, or postfix_op"},
        ErrorCase{"MATCH (\xc3\xa9)", "1:8 expected node_labels, properties, or variable"},
        ErrorCase{"/* never closed", "1:1 expected statement"},
        ErrorCase{"RETURN f(a,)", "1:12 expected not_expr"},
        ErrorCase{"RETURN [1, 2,]", "1:14 expected not_expr"},
        ErrorCase{"RETURN - -1", "1:10 expected atom"},
        ErrorCase{"RETURN CASE WHEN (a > 1) THEN 'x' END",
                  "1:26 expected or_kw, xor_kw, and_kw, comparison_op, or postfix_op"},
        ErrorCase{"FOO", "1:1 expected statement"},
        ErrorCase{"RETURN *, n",
                  "1:9 expected EOI, union_clause, order_clause, skip_clause, or limit_clause"},
        // Derived from the recording rule: a single inner attempt stands for its caller.
        ErrorCase{"RETURN 1 + )", "1:12 expected atom"},
        ErrorCase{"RETURN .5", "1:8 expected not_expr"},
        ErrorCase{"MATCH (n) SET n.x += 1", "1:19 expected property_lookup"},
        ErrorCase{"MATCH (a)-[*..5]->(b)", "1:13 expected properties or integer_literal"},
        ErrorCase{"MATCH (a)-[:A:B]->(b)", "1:14 expected range_literal or properties"},
        ErrorCase{"MATCH (n:A|B) RETURN n", "1:11 expected properties"},
        ErrorCase{"RETURN list[1..3]", "1:16 expected property_key_name"},
        ErrorCase{"MATCH (a)-->", "1:13 expected node_pattern"},
        ErrorCase{"MATCH (a)--", "1:12 expected node_pattern or right_arrow"},
        ErrorCase{"CREATE (n) MATCH (m) RETURN m",
                  "1:12 expected EOI, union_clause, updating_clause, with_clause, "
                  "return_clause, or left_arrow"},
        ErrorCase{"MERGE (a), (b)",
                  "1:10 expected EOI, union_clause, updating_clause, on_match_or_create, "
                  "with_clause, return_clause, or left_arrow"},
        ErrorCase{"CALL p.q() YIELD x WHERE x > 1",
                  "1:20 expected EOI, union_clause, reading_clause, updating_clause, "
                  "with_clause, or return_clause"},
        ErrorCase{"RETURN n LIMIT 2 SKIP 1",
                  "1:18 expected EOI, union_clause, or_kw, xor_kw, and_kw, comparison_op, or "
                  "postfix_op"},
        // Multi-line positions: columns count characters, lines count line feeds.
        ErrorCase{"MATCH (n)\nRETURN", "2:7 expected not_expr"},
        ErrorCase{"MATCH (n)\r\nRETURN", "2:7 expected not_expr"},
        ErrorCase{"RETURN 'h\xc3\xa9' +", "1:14 expected atom"},
        ErrorCase{"RETURN [\n1,\n]", "3:1 expected not_expr"},
        // Keywords fold A-Z only: the long s and the Kelvin sign are not S and K.
        ErrorCase{"\xc5\xbf"
                  "ET n.a = 1",
                  "1:1 expected statement"},
        ErrorCase{"MATCH (n) RETURN n \xe2\x84\xaa"
                  "EYS",
                  "1:20 expected EOI, union_clause, order_clause, skip_clause, limit_clause, "
                  "or_kw, xor_kw, and_kw, comparison_op, or postfix_op"}));

// Places the Parts give in words: the error column is that of the marker.
struct PlaceCase {
  const char* query;
  const char* marker;
};

class ErrorPlaces : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(ErrorPlaces, ErrorStandsAtMarker) {
  const PlaceCase& c = GetParam();
  auto r = run(c.query);
  ASSERT_TRUE(std::holds_alternative<Error>(r)) << c.query;
  const Error& e = std::get<Error>(r);
  EXPECT_EQ(e.position, std::string_view(c.query).find(c.marker)) << c.query;
  EXPECT_EQ(e.line, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Recognizer, ErrorPlaces,
    ::testing::Values(
        PlaceCase{"CREATE (n) MATCH (m) RETURN m", "MATCH"},
        PlaceCase{"RETURN n LIMIT 2 SKIP 1", "SKIP"},
        PlaceCase{"MATCH (n) RETURN n WHERE n.x = 1", "WHERE"}, PlaceCase{"MERGE (a), (b)", ","},
        PlaceCase{"RETURN n:Person", ":"}, PlaceCase{"MATCH (a)-[*..]->(b)", ".."},
        PlaceCase{"RETURN 0X1F", "X"}, PlaceCase{"RETURN 0x", "x"}, PlaceCase{"RETURN 1e5", "e"},
        PlaceCase{"RETURN 1.5e", "e"}, PlaceCase{"RETURN $1abc", "abc"},
        PlaceCase{"RETURN 'it''s'", "'s'"}, PlaceCase{"RETURN 'a\\'b'", "b'"},
        PlaceCase{"RETURN 1 MATCH (n)", "MATCH"}, PlaceCase{"RETURN 1 RETURN 2", "RETURN 2"},
        PlaceCase{"MATCH (a)--> RETURN a", "RETURN"},
        PlaceCase{"MATCH (n) RETURN x ISNULL", "ISNULL"},
        PlaceCase{"FOREACH (x IN [1] | ) RETURN 1", ")"},
        PlaceCase{"MATCH (a)-[*1..2:KNOWS]->(b)", ":"}, PlaceCase{"CALL p.q", "p.q"}));

// ---------------------------------------------------------------------------------------------
// Message and rendered text
// ---------------------------------------------------------------------------------------------

TEST(ErrorText, MessageJoinsNamesInRuleOrder) {
  struct Case {
    std::vector<Rule> expected;
    const char* message;
  };
  const Case cases[] = {
      {{Rule::statement}, "expected statement"},
      {{Rule::node_labels, Rule::properties}, "expected node_labels or properties"},
      {{Rule::node_labels, Rule::properties, Rule::variable},
       "expected node_labels, properties, or variable"},
      {{Rule::namespace_}, "expected namespace"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Error::new_from_pos(c.expected, 0, "x").message(), c.message);
  }
}

struct RenderCase {
  const char* query;
  const char* rendered;
};

class Rendered : public ::testing::TestWithParam<RenderCase> {};

TEST_P(Rendered, SixLines) {
  auto r = run(GetParam().query);
  ASSERT_TRUE(std::holds_alternative<Error>(r));
  EXPECT_EQ(std::get<Error>(r).rendered(), GetParam().rendered);
}

INSTANTIATE_TEST_SUITE_P(
    Recognizer, Rendered,
    ::testing::Values(
        RenderCase{"", " --> 1:1\n  |\n1 | \n  | ^---\n  |\n  = expected statement"},
        RenderCase{"MATCH (n) RETURN n;;",
                   " --> 1:20\n  |\n1 | MATCH (n) RETURN n;;\n  |                    ^---\n  "
                   "|\n  = expected EOI"},
        // A tab stays a tab in the underline; a two-byte character is one column.
        RenderCase{"\tRETURN '\xc3\xa9' +",
                   " --> 1:14\n  |\n1 | \tRETURN '\xc3\xa9' +\n  | \t            ^---\n  |\n  = "
                   "expected atom"},
        // CR LF line ends: the displayed line shows no line break.
        RenderCase{"MATCH (n)\r\nRETURN 1 + )\r\n",
                   " --> 2:12\n  |\n2 | RETURN 1 + )\n  |            ^---\n  |\n  = expected "
                   "atom"},
        // A lone CR counts one column but is not displayed: the caret stands one further right.
        RenderCase{"RETURN\r 1 + )",
                   " --> 1:13\n  |\n1 | RETURN 1 + )\n  |             ^---\n  |\n  = expected "
                   "atom"},
        // After a final line feed: the next line, column 1, nothing displayed.
        RenderCase{"RETURN 1 +\n", " --> 2:1\n  |\n2 | \n  | ^---\n  |\n  = expected atom"},
        // Lines 10 and up get a wider gutter; the number itself is never padded.
        RenderCase{"\n\n\n\n\n\n\n\n\nRETURN",
                   "  --> 10:7\n   |\n10 | RETURN\n   |       ^---\n   |\n   = expected "
                   "not_expr"},
        RenderCase{"\n\n\n\n\n\n\n\nRETURN",
                   " --> 9:7\n  |\n9 | RETURN\n  |       ^---\n  |\n  = expected not_expr"}));

TEST(ErrorText, LineTextSpansToNextLineFeed) {
  auto r = run("MATCH (n)\nRETURN n +\nLIMIT 1");
  ASSERT_TRUE(std::holds_alternative<Error>(r));
  const Error& e = std::get<Error>(r);
  EXPECT_EQ(e.line, 3u);
  EXPECT_EQ(e.column, 1u);
  EXPECT_EQ(e.line_text, "LIMIT 1");
  EXPECT_EQ(e.expected, std::vector<Rule>{Rule::atom});
}

// ---------------------------------------------------------------------------------------------
// Accepted and refused texts
// ---------------------------------------------------------------------------------------------

class Accepts : public ::testing::TestWithParam<const char*> {};
TEST_P(Accepts, Query) { EXPECT_EQ(outcome(run(GetParam())), "ok") << GetParam(); }

INSTANTIATE_TEST_SUITE_P(
    Recognizer, Accepts,
    ::testing::Values(
        // Clause structure
        "MATCH (n)", "CREATE (n)", "RETURN 1", "WITH 1 AS x", "MATCH (n) WITH n",
        "MATCH (n) CREATE (m) SET m.x = 1 RETURN m", "RETURN *", "RETURN n SKIP 1 LIMIT 2",
        "MATCH (n) WITH n WHERE n.x = 1 RETURN n", "MATCH (n) RETURN n;", "  match (n) Return n ; ",
        "CALL my.labels() YIELD label", "CALL my.labels()", "CALL p.q(1, 'a') YIELD x AS y, z",
        "CALL { MATCH (n) RETURN n } RETURN 1", "MATCH (a) RETURN a UNION ALL MATCH (b) RETURN b",
        "RETURN 1 UNION RETURN 2", "SET n:Person:Admin", "REMOVE n:Person, n.age", "SET n = {a: 1}",
        "SET n += {a: 1}", "MERGE (n:P {id: 1}) ON CREATE SET n.c = 1 ON MATCH SET n.m = 2",
        "DETACH DELETE a, b", "FOREACH (x IN [1, 2] | CREATE (:N) SET x.v = 1)",
        "MATCH (n) RETURN n ORDER BY n.x ASCENDING", "MATCH (n) RETURN n ORDER BY n.x desc",
        "RETURN distinct_count", "RETURN x assoc", "OPTIONAL MATCH (n) RETURN n",
        "UNWIND [1, 2] AS x RETURN x", "WITH 1 AS a WITH a RETURN a",
        // Whitespace and comments
        "// lead\nMATCH /* in */ (n) // tail\nRETURN n // end", "RETURN 1 // no line feed",
        "RETURN 1; /* after */ ", "RETURN /**/ 1",
        // Lexical
        "RETURN orders, ordered, end_date", "MATCH (`Order`) RETURN `order`",
        "RETURN 0x1F, 0xff, 0o17", "RETURN 1., 1.5, 1.5e3, 1.E-2, 1.e5", "RETURN list[1 .. 3]",
        "RETURN 'a\nb', \"it's\", ''", "RETURN ``", "RETURN `a b`, `match`, `\xc3\xa9`",
        "RETURN $0, $123, $_x, $match", "RETURN count(n), exists(n.a), all(x IN xs), any(x)",
        "RETURN a.b.c(1)", "MATCH (nullable) RETURN 1", "RETURN 1 AS TrueValue",
        // Expressions
        "RETURN a OR b XOR c AND NOT d", "RETURN a * b % c", "RETURN -2 ^ 2",
        "RETURN a + b IS NULL", "RETURN NOT a = b", "RETURN x IS NULL, x is not null",
        "RETURN x IS \t\n NOT \r\n NULL", "RETURN a =~ 'x.*', a <> b", "RETURN x IN list",
        "RETURN x in [1, 2], x IN $p, x IN(list)", "RETURN name STARTS WITH 'A'",
        "RETURN name starts   with prefix", "RETURN name STARTSWITH 'A'",
        "RETURN name ENDS/*c*/WITH 'A'", "RETURN x CONTAINS 'a', x CONTAINS y", "RETURN 1 < 2 < 3",
        "RETURN n . name, list [0], n.a.b[0]", "RETURN list[a..b], list[i..], list[..5], list[..]",
        "RETURN [x IN list]", "RETURN count(*), COUNT ( * ), count(DISTINCT n), f()",
        "RETURN {}, []", "RETURN {a: 1, b: [2, 3]}", "RETURN NOTE = 1", "RETURN (1 + 2) * 3",
        // Special forms
        "RETURN reduce(total = 0, x IN [1, 2, 3] | total + x)",
        "RETURN REDUCE ( total = 0 , x IN xs | total + x )", "RETURN reduce(total = 0, x IN xs)",
        "RETURN shortestPath((a)-[*]-(b))", "MATCH p = ALLSHORTESTPATHS((a)-[:KNOWS*1..5]->(b))",
        "RETURN shortestPath(p = (a)--(b))", "RETURN CASE WHEN a THEN 1 ELSE 2 END",
        "RETURN CASE x WHEN 1 THEN 'one' END", "RETURN CASE WHEN a > 1 THEN 'x' END",
        "RETURN [x IN list WHERE x > 1 | x * 2], [x IN list WHERE x > 1], [x IN list | x.name]",
        "RETURN all(x IN xs WHERE x > 0), ANY (x IN xs WHERE x IS NULL)",
        "RETURN none(x IN xs WHERE x = 1), single(x IN xs WHERE x = 1)",
        "MATCH (n) WHERE EXISTS { (n)-[:KNOWS]->(m) } RETURN n",
        "RETURN exists {(a)--(b), (b)--(c)}", "RETURN [(a)-->(b) | b.name]",
        "RETURN [(a)-[:R]->(b) WHERE b.x > 1 | b.name]", "RETURN [(a)--(b)]",
        "RETURN COUNT { MATCH (n) RETURN n }", "RETURN collect { MATCH (n) RETURN n.name }",
        // Patterns
        "MATCH (a)--(b), (a)<--(b), (a)-->(b), (a)<-->(b)", "MATCH (a)-[]-(b)",
        "MATCH (a) - [ r : T ] - > (b)", "MATCH (n : A : B)", "MATCH (a)-[:A|B]->(b)",
        "MATCH (a)-[:A|:B]->(b)", "MATCH (a)-[*]->(b), (a)-[*2]->(b), (a)-[*2..]->(b)",
        "MATCH (a)-[* 2 .. 3]->(b)", "MATCH (n $props)", "MATCH (n:A $p)", "MATCH (a {x: 1})",
        "MATCH p = (a)--(b), (c) RETURN p"));

class Refuses : public ::testing::TestWithParam<const char*> {};
TEST_P(Refuses, Query) {
  EXPECT_TRUE(std::holds_alternative<Error>(run(GetParam()))) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(
    Recognizer, Refuses,
    ::testing::Values("MATCH (n) RETURN n;;", "RETURN n LIMIT 2 SKIP 1", "SET n.x += 1",
                      "MERGE (a), (b)", "FOREACH (x IN [1] | )", "CALL p.q", "CALL p.q() YIELD *",
                      "RETURN *, n", "CREATE (n) MATCH (m) RETURN m", "MATCH (n) RETURN n RETURN n",
                      "MATCH (Order) RETURN 1", "MATCH (n:Order) RETURN n", "RETURN n.order",
                      "RETURN n.ENDS", "MATCH (n {asc: 1})", "RETURN 0X1F", "RETURN 1e5",
                      "RETURN .5", "RETURN list[1..3]", "RETURN 'unclosed", "RETURN `unclosed",
                      "RETURN $1abc", "RETURN $ x", "RETURN match.x()", "RETURN a. b()",
                      "RETURN nullable", "RETURN TrueCount", "RETURN falsey",
                      "RETURN x IS /*c*/ NULL", "RETURN x IS NULLABLE", "RETURN x INlist",
                      "RETURN x IN_list", "RETURN x CONTAINSy", "RETURN - -1", "RETURN f(a,)",
                      "RETURN [1, 2,]", "RETURN +1", "RETURN CASE WHEN (a > 1) THEN 'x' END",
                      "RETURN CASE x END", "RETURN EXISTS { MATCH (n) RETURN n }",
                      "RETURN [(a)-->(b)]", "RETURN COUNT { (n)-->() }", "MATCH (a)-(b)",
                      "MATCH (a)->(b)", "MATCH (a)- -(b)", "MATCH (a:A|B)", "MATCH (a)-[:A:B]->(b)",
                      "MATCH (a)-[*..5]->(b)", "MATCH (a)-[*..]->(b)", "MATCH (a)-[*1:T]->(b)",
                      "MATCH (a)-->", "RETURN n:Person", "MATCH (n) RETURN n WHERE n.x = 1",
                      "CALL p.q() YIELD x WHERE x > 1", "RETURN 1 /* unclosed"));

// ---------------------------------------------------------------------------------------------
// Token-tree shapes
// ---------------------------------------------------------------------------------------------

struct KidsCase {
  const char* query;
  Rule rule;         // the first pair of this rule, depth first
  const char* kids;  // its inner pairs
};

class Shapes : public ::testing::TestWithParam<KidsCase> {};

TEST_P(Shapes, InnerPairs) {
  const KidsCase& c = GetParam();
  auto r = run(c.query);
  ASSERT_TRUE(std::holds_alternative<Pairs>(r)) << c.query << "\n" << outcome(r);
  auto p = find(std::get<Pairs>(r), c.rule);
  ASSERT_TRUE(p.has_value()) << c.query << ": no " << rule_name(c.rule);
  EXPECT_EQ(kids(*p), c.kids) << c.query;
}

INSTANTIATE_TEST_SUITE_P(
    Recognizer, Shapes,
    ::testing::Values(
        KidsCase{"RETURN 1", Rule::cypher, "statement EOI"},
        KidsCase{"CALL my.labels() YIELD label", Rule::statement, "regular_query"},
        KidsCase{"CALL my.labels() YIELD label", Rule::single_part_query, "reading_clause"},
        KidsCase{"CALL my.labels()", Rule::reading_clause, "in_query_call"},
        KidsCase{"MATCH (a) WITH a MATCH (b) RETURN a, b", Rule::multi_part_query,
                 "reading_clause with_clause reading_clause return_clause"},
        KidsCase{"MATCH (n) RETURN n", Rule::single_query, "single_part_query"},
        KidsCase{"SET n:Person:Admin", Rule::set_item, "variable node_labels"},
        KidsCase{"SET n:Person:Admin", Rule::node_labels, "label_name label_name"},
        KidsCase{"REMOVE n:Person, n.age", Rule::remove_clause, "remove_item remove_item"},
        KidsCase{"REMOVE n.age", Rule::remove_item, "property_expression"},
        KidsCase{"SET n += {a: 1}", Rule::set_item, "variable expression"},
        KidsCase{"SET n.a.b = 1", Rule::property_expression,
                 "variable property_lookup property_lookup"},
        KidsCase{"MERGE (n:P {id: 1}) ON CREATE SET n.c = 1 ON MATCH SET n.m = 2",
                 Rule::merge_clause, "pattern_part on_match_or_create on_match_or_create"},
        KidsCase{"DETACH DELETE a, b", Rule::delete_clause, "expression expression"},
        KidsCase{"FOREACH (x IN [1, 2] | CREATE (:N) SET x.v = 1)", Rule::foreach_clause,
                 "variable expression updating_clause updating_clause"},
        KidsCase{"CALL p.q(1, 'a') YIELD x AS y, z", Rule::explicit_procedure_invocation,
                 "procedure_name expression expression"},
        KidsCase{"CALL p.q(1, 'a') YIELD x AS y, z", Rule::yield_item,
                 "procedure_result_field variable"},
        KidsCase{"CALL p.q() YIELD z", Rule::yield_item, "variable"},
        KidsCase{"CALL { MATCH (n) RETURN n } RETURN 1", Rule::call_subquery, "regular_query"},
        KidsCase{"MATCH (a) RETURN a UNION ALL MATCH (b) RETURN b", Rule::regular_query,
                 "single_query union_clause"},
        KidsCase{"RETURN *", Rule::return_items, ""},
        KidsCase{"RETURN a OR b XOR c AND NOT d", Rule::or_expr, "xor_expr or_kw xor_expr"},
        KidsCase{"RETURN a AND NOT d", Rule::and_expr, "not_expr and_kw not_expr"},
        KidsCase{"RETURN NOT NOT d", Rule::not_expr, "not_kw not_kw comparison_expr"},
        KidsCase{"RETURN a * b % c", Rule::mul_div_expr, "mod_expr mod_expr"},
        KidsCase{"RETURN -2 ^ 2", Rule::power_expr, "unary_expr unary_expr"},
        KidsCase{"RETURN 1 < 2 < 3", Rule::comparison_expr,
                 "add_sub_expr comparison_op add_sub_expr comparison_op add_sub_expr"},
        KidsCase{"RETURN n.a.b[0]", Rule::postfix_expr, "atom postfix_op postfix_op postfix_op"},
        KidsCase{"RETURN list[a..b]", Rule::list_slice_op, "expression expression"},
        KidsCase{"RETURN list[..]", Rule::list_slice_op, ""},
        KidsCase{"RETURN list[1]", Rule::postfix_op, "subscript_op"},
        KidsCase{"RETURN [x IN list]", Rule::atom, "literal"},
        KidsCase{"RETURN count(*)", Rule::atom, "count_star"},
        KidsCase{"RETURN count(DISTINCT n)", Rule::function_invocation, "function_name expression"},
        KidsCase{"RETURN f()", Rule::function_invocation, "function_name"},
        KidsCase{"RETURN {a: 1, b: [2, 3]}", Rule::map_literal,
                 "property_key_value_pair property_key_value_pair"},
        KidsCase{"RETURN reduce(total = 0, x IN [1, 2, 3] | total + x)", Rule::reduce_expression,
                 "variable expression variable expression expression"},
        KidsCase{"RETURN reduce(total = 0, x IN xs)", Rule::atom, "function_invocation"},
        KidsCase{"RETURN shortestPath(p = (a)--(b))", Rule::atom, "function_invocation"},
        KidsCase{"RETURN shortestPath((a)-[*]-(b))", Rule::shortest_path_call,
                 "node_pattern relationship_pattern node_pattern"},
        KidsCase{"MATCH p = shortestPath((a)--(b))", Rule::pattern_element, "shortest_path_call"},
        KidsCase{"RETURN CASE WHEN a THEN 1 ELSE 2 END", Rule::case_expression,
                 "expression expression expression"},
        KidsCase{"RETURN CASE x WHEN 1 THEN 'a' WHEN 2 THEN 'b' ELSE 'c' END",
                 Rule::case_expression,
                 "expression expression expression expression expression expression"},
        KidsCase{"RETURN [x IN list WHERE x > 1 | x * 2]", Rule::list_comprehension,
                 "filter_expression expression"},
        KidsCase{"RETURN [x IN list WHERE x > 1]", Rule::list_comprehension, "filter_expression"},
        KidsCase{"RETURN [x IN list WHERE x > 1]", Rule::filter_expression,
                 "id_in_coll expression"},
        KidsCase{"RETURN all(x IN xs)", Rule::quantifier_expression, "filter_expression"},
        KidsCase{"RETURN any(x)", Rule::atom, "function_invocation"},
        KidsCase{"RETURN exists(n.name)", Rule::atom, "function_invocation"},
        KidsCase{"RETURN exists {(a)--(b), (b)--(c)}", Rule::pattern, "pattern_part pattern_part"},
        KidsCase{"RETURN [(a)-[:R]->(b) WHERE b.x > 1 | b.name]", Rule::pattern_comprehension,
                 "pattern_element expression expression"},
        KidsCase{"RETURN [(a)--(b)]", Rule::atom, "literal"},
        KidsCase{"RETURN COUNT { MATCH (n) RETURN n }", Rule::count_subquery, "regular_query"},
        KidsCase{"MATCH (a)<-[r:T*1..2 {x: 1}]->(b)", Rule::relationship_pattern,
                 "left_arrow variable rel_types range_literal properties right_arrow"},
        KidsCase{"MATCH (a)-[:A|:B]->(b)", Rule::rel_types, "rel_type_name rel_type_name"},
        KidsCase{"MATCH (a)-[*2..5]->(b)", Rule::range_literal, "integer_literal integer_literal"},
        KidsCase{"MATCH (a)-[*]->(b)", Rule::range_literal, ""},
        KidsCase{"MATCH (n)", Rule::node_pattern, "variable"},
        KidsCase{"MATCH ($p)", Rule::node_pattern, "properties"},
        KidsCase{"MATCH ($p)", Rule::properties, "parameter"},
        KidsCase{"MATCH p = (a)", Rule::pattern_part, "variable pattern_element"},
        KidsCase{"MATCH (a), (b)", Rule::pattern, "pattern_part pattern_part"}));

// The whole tree of a small query: spans include the skips inside each rule, never before it.
TEST(TokenTree, WholeTreeOfSmallQuery) {
  auto r = run(" MATCH (n:A ) RETURN n ");
  ASSERT_TRUE(std::holds_alternative<Pairs>(r));
  EXPECT_EQ(tree(std::get<Pairs>(r)),
            "cypher[0,23](statement[1,23](regular_query[1,23](single_query[1,23]("
            "single_part_query[1,23](reading_clause[1,14](match_clause[1,14](pattern[7,14]("
            "pattern_part[7,14](pattern_element[7,14](node_pattern[7,13](variable[8,9] "
            "node_labels[9,12](label_name[10,11]))))))) return_clause[14,23](return_body[21,23]("
            "return_items[21,23](return_item[21,23](expression[21,23](or_expr[21,23]("
            "xor_expr[21,23](and_expr[21,23](not_expr[21,23](comparison_expr[21,23]("
            "add_sub_expr[21,23](mul_div_expr[21,23](mod_expr[21,23](power_expr[21,23]("
            "unary_expr[21,23](postfix_expr[21,23](atom[21,22](variable[21,22])))))))))))))))))"
            ")))) EOI[23,23])");
}

struct TextCase {
  const char* query;
  Rule rule;
  const char* text;
};

class PairTexts : public ::testing::TestWithParam<TextCase> {};

TEST_P(PairTexts, FirstPairText) {
  const TextCase& c = GetParam();
  auto r = run(c.query);
  ASSERT_TRUE(std::holds_alternative<Pairs>(r)) << c.query << "\n" << outcome(r);
  auto p = find(std::get<Pairs>(r), c.rule);
  ASSERT_TRUE(p.has_value()) << c.query << ": no " << rule_name(c.rule);
  EXPECT_EQ(p->as_str(), c.text) << c.query;
}

INSTANTIATE_TEST_SUITE_P(
    Recognizer, PairTexts,
    ::testing::Values(
        TextCase{"SET n.a = 1", Rule::property_expression, "n.a "},
        TextCase{"SET n.a.b = 1", Rule::property_expression, "n.a.b"},
        TextCase{"MATCH (n:A ) RETURN n", Rule::node_labels, ":A "},
        TextCase{"MATCH (n:A:B ) RETURN n", Rule::node_labels, ":A:B"},
        TextCase{"RETURN name starts /*x*/ with 'a'", Rule::comparison_op, "starts /*x*/ with"},
        TextCase{"RETURN x In y", Rule::comparison_op, "In"},
        TextCase{"RETURN x IS\n not  NULL", Rule::null_check_op, "IS\n not  NULL"},
        TextCase{"RETURN a OR b", Rule::or_kw, "OR"},
        TextCase{"RETURN a + b ", Rule::add_sub_expr, "a + b "},
        TextCase{"RETURN -x", Rule::unary_expr, "-x"},
        TextCase{"RETURN distinct_count", Rule::return_item, "_count"},
        TextCase{"RETURN x assoc", Rule::variable, "x"},
        TextCase{"RETURN x assoc", Rule::return_item, "x assoc"},
        TextCase{"MATCH (a)-[:R]-(b)", Rule::relationship_pattern, "-[:R]-"},
        TextCase{"MATCH (a)-- (b)", Rule::relationship_pattern, "-- "},
        TextCase{"MATCH (a)<-->(b)", Rule::relationship_pattern, "<-->"},
        TextCase{"RETURN a.b.c(1)", Rule::function_name, "a.b.c"},
        TextCase{"RETURN `a b`", Rule::variable, "`a b`"},
        TextCase{"RETURN 'a\\b\"'", Rule::string_literal, "'a\\b\"'"},
        TextCase{"RETURN 0x1F", Rule::integer_literal, "0x1F"},
        TextCase{"RETURN 1.5e3", Rule::float_literal, "1.5e3"},
        TextCase{"RETURN TRUE", Rule::boolean_literal, "TRUE"},
        TextCase{"RETURN count(distinctValue)", Rule::variable, "Value"},
        TextCase{"MATCH (n) RETURN n ORDER BY n.x DESCENDING", Rule::sort_item, "n.x DESCENDING"},
        TextCase{"RETURN 1 ", Rule::EOI, ""}, TextCase{" RETURN 1 ", Rule::cypher, " RETURN 1 "},
        TextCase{" RETURN 1 ", Rule::statement, "RETURN 1 "}));

// A rule other than cypher runs from position 0 and need not reach the end of the input.
TEST(Entry, OtherRulesNeedNotReachTheEnd) {
  auto r = CypherParser::parse(Rule::expression, "1 + 2 RETURN");
  ASSERT_TRUE(std::holds_alternative<Pairs>(r));
  Pairs top = std::get<Pairs>(r);
  auto only = top.next();
  ASSERT_TRUE(only.has_value());
  EXPECT_EQ(only->as_rule(), Rule::expression);
  EXPECT_EQ(only->as_str(), "1 + 2 ");
  EXPECT_FALSE(top.next().has_value());

  auto name = CypherParser::parse(Rule::variable, "match");
  ASSERT_TRUE(std::holds_alternative<Error>(name));
  EXPECT_EQ(std::get<Error>(name).message(), "expected variable");
}

// The top-level pairs keep the token list alive after the parse returns.
TEST(Entry, PairsOwnTheirTokenList) {
  Pairs outer;
  {
    auto r = CypherParser::parse(Rule::cypher, "MATCH (n) RETURN n");
    outer = std::get<Pairs>(r);
  }
  auto p = testing_support::find(outer, Rule::return_clause);
  ASSERT_TRUE(p.has_value());
  EXPECT_EQ(p->as_str(), "RETURN n");
  EXPECT_EQ(kids(*p), "return_body");
}

// Atomic rules leave no inner pairs, and the silent rules and the rules called only inside
// atomic rules leave none anywhere.
TEST(TokenTree, NoPairsOfSilentOrInnerAtomicRules) {
  auto r = run("MATCH (`a`:B {k: $p}) /* c */ // d\n RETURN ns.f(x) AS `y`, 'q', 1.5");
  ASSERT_TRUE(std::holds_alternative<Pairs>(r));
  const std::string t = tree(std::get<Pairs>(r));
  for (const char* absent :
       {"WHITESPACE", "COMMENT", "identifier[", "backtick_identifier", "keyword", "namespace"}) {
    EXPECT_EQ(t.find(absent), std::string::npos) << absent << " in " << t;
  }
  EXPECT_NE(t.find("function_name[43,47]"), std::string::npos) << t;
  EXPECT_NE(t.find("variable[7,10]"), std::string::npos) << t;
}

// A pair without inner pairs is one entry of the token list where its text is short, two where
// it is not: names, numbers and strings read the same on either side of that length, in the run
// that records attempts as in the one that does not, with no inner pairs and with their
// neighbours where they were.
TEST(TokenTree, ShortAndLongPairsWithoutInnerPairs) {
  for (std::size_t n : {1, 2, 254, 255, 256, 257, 70000}) {
    const std::string name(n, 'v');
    const std::string number(n, '7');
    const std::string text = "'" + std::string(n, 's') + "'";
    const std::string q = "MATCH (" + name + ":" + name + " {" + name + ": " + text +
                          "})-->() WHERE " + name + " <> null RETURN " + name + " + " + number +
                          ", {} AS `" + name + "`";
    auto quick = run(q);
    auto recording = run(q, false);
    ASSERT_TRUE(std::holds_alternative<Pairs>(quick)) << n << " " << outcome(quick);
    ASSERT_TRUE(std::holds_alternative<Pairs>(recording)) << n << " " << outcome(recording);
    const Pairs& top = std::get<Pairs>(quick);
    EXPECT_EQ(tree(top), tree(std::get<Pairs>(recording))) << n;
    for (auto [rule, want] : {std::pair{Rule::variable, name}, std::pair{Rule::label_name, name},
                              std::pair{Rule::property_key_name, name},
                              std::pair{Rule::string_literal, text},
                              std::pair{Rule::integer_literal, number},
                              std::pair{Rule::comparison_op, std::string("<>")},
                              std::pair{Rule::null_literal, std::string("null")},
                              std::pair{Rule::right_arrow, std::string(">")}}) {
      auto p = find(top, rule);
      ASSERT_TRUE(p.has_value()) << n << " " << rule_name(rule);
      EXPECT_EQ(p->as_str(), want) << n << " " << rule_name(rule);
      EXPECT_EQ(kids(*p), "") << n << " " << rule_name(rule);
    }
    auto items = find(top, Rule::return_items);
    ASSERT_TRUE(items.has_value());
    EXPECT_EQ(kids(*items), "return_item return_item") << n;
    Pairs item_list = items->into_inner();
    EXPECT_EQ(item_list.next()->as_str(), name + " + " + number) << n;
    std::optional<Pair> second = item_list.next();
    EXPECT_EQ(second->as_str(), "{} AS `" + name + "`") << n;
    EXPECT_EQ(kids(*second), "expression variable") << n;
  }
}

// A literal that holds a short number, string, boolean or null alone is one entry of the token
// list with it, two levels of one pair: each reads as a literal holding that pair alone, with
// the same text, before its neighbours, in either run; a long one, or a list or map, is a
// literal of its own.
TEST(TokenTree, LiteralsHoldingALeafAlone) {
  const std::string long_text = "'" + std::string(300, 's') + "'";
  const std::string long_number(256, '7');
  const struct {
    std::string literal;
    const char* inner;
  } cases[] = {
      {"7", "integer_literal"},  {"0x1F", "integer_literal"},  {"2.5e3", "float_literal"},
      {"'s'", "string_literal"}, {"\"\"", "string_literal"}, {"true", "boolean_literal"},
      {"FALSE", "boolean_literal"}, {"null", "null_literal"}, {long_text, "string_literal"},
      {long_number, "integer_literal"}, {"[]", "list_literal"}, {"{}", "map_literal"},
  };
  for (const auto& c : cases) {
    std::string q;
    for (const char* part : {"WITH ", " AS a, [", "][0] AS b RETURN {k: ", "}.k, -", " > "}) {
      q += part;
      q += c.literal;
    }
    q += " AS `x`";
    auto quick = run(q);
    auto recording = run(q, false);
    ASSERT_TRUE(std::holds_alternative<Pairs>(quick)) << q << " " << outcome(quick);
    ASSERT_TRUE(std::holds_alternative<Pairs>(recording)) << q << " " << outcome(recording);
    const Pairs& top = std::get<Pairs>(quick);
    EXPECT_EQ(tree(top), tree(std::get<Pairs>(recording))) << q;
    int literals = 0;
    std::function<void(Pairs)> walk = [&](Pairs pairs) {
      for (Pair p : pairs) {
        if (p.as_rule() == Rule::literal && p.as_str() == c.literal) {
          ++literals;
          EXPECT_EQ(kids(p), c.inner) << q;
          const Pair inner = *p.into_inner().peek();
          EXPECT_EQ(inner.as_str(), c.literal) << q;
          EXPECT_EQ(inner.innermost_sharing_end().as_rule(), inner.as_rule()) << q;
          EXPECT_EQ(p.innermost_sharing_end().as_rule(), Rule::literal) << q;
          EXPECT_EQ(kids(inner), "") << q;
        }
        walk(p.into_inner());
      }
    };
    walk(top);
    EXPECT_EQ(literals, 5) << q;
    auto ret = find(top, Rule::return_clause);
    ASSERT_TRUE(ret.has_value()) << q;
    auto items = find(ret->into_inner(), Rule::return_items);
    ASSERT_TRUE(items.has_value()) << q;
    EXPECT_EQ(kids(*items), "return_item return_item") << q;
    Pairs item_list = items->into_inner();
    item_list.next();
    EXPECT_EQ(kids(*item_list.next()), "expression variable") << q;
  }
}

// The token list keeps everything written into its room, past its size too, when it grows,
// small or large.
TEST(TokenVector, GrowingKeepsTheWholeRoom) {
  TokenVector v;
  std::size_t written = 0;
  auto fill_room = [&] {
    for (; written < v.capacity(); ++written) {
      v.data()[written] = Token{static_cast<std::uint32_t>(written), 7, Rule::atom, true};
    }
  };
  for (std::size_t n :
       {std::size_t{10}, std::size_t{1000}, std::size_t{200000}, std::size_t{900000}}) {
    v.reserve(n);
    ASSERT_GE(v.capacity(), n);
    for (std::size_t i = 0; i < written; ++i) ASSERT_EQ(v[i].pos, i) << "after growing to " << n;
    fill_room();
  }
  v.resize(5);
  v.push_back(Token{99, 0, Rule::EOI, false});
  ASSERT_EQ(v.size(), 6u);
  EXPECT_EQ(v[5].pos, 99u);
  EXPECT_EQ(v[4].pos, 4u);
  TokenVector moved = std::move(v);
  EXPECT_EQ(moved.size(), 6u);
  EXPECT_EQ(v.size(), 0u);
  EXPECT_EQ(moved[3].pos, 3u);
}

}  // namespace
}  // namespace tessary
