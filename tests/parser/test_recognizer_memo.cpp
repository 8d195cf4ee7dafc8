// The memo of re-read rules must not change any result: random queries, and mutations of
// them, give the same token tree or the same error with the memo and with the plain algorithm.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "test_recognizer_support.hpp"

namespace tessary {
namespace {

using testing_support::run;
using testing_support::run_quick_only;
using testing_support::tree;

// A small seeded generator (SplitMix64), so that every run checks the same texts.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
  bool chance(int percent) { return below(100) < static_cast<std::size_t>(percent); }
  template <std::size_t N>
  const char* pick(const char* const (&options)[N]) {
    return options[below(N)];
  }

 private:
  std::uint64_t state_;
};

// Queries built from the grammar's constructs with some deliberately wrong pieces mixed in.
class QueryGenerator {
 public:
  explicit QueryGenerator(std::uint64_t seed) : rnd_(seed) {}

  std::string query(int depth) {
    std::string q;
    const std::size_t clauses = 1 + rnd_.below(4);
    for (std::size_t i = 0; i < clauses; ++i) {
      if (i > 0) q += gap();
      q += clause(depth);
    }
    if (rnd_.chance(10))
      q += std::string(" UNION ") + (rnd_.chance(50) ? "ALL " : "") + query(depth - 1);
    return q;
  }

  std::string mutate(std::string q) {
    if (q.empty()) return q;
    const std::size_t i = rnd_.below(q.size());
    switch (rnd_.below(5)) {
      case 0:
        return q.erase(i, 1);
      case 1: {
        static const char* const bits[] = {"(", ")", "[",  "]", "{",  "}",      ",", ".", ":",
                                           ";", "-", "<",  ">", "|",  "*",      "=", "$", "`",
                                           "'", " ", "\n", "x", "..", "WHERE ", "/*"};
        return q.insert(i, rnd_.pick(bits));
      }
      case 2:
        return q.substr(0, i);
      case 3: {
        const std::size_t j = rnd_.below(q.size());
        return q.erase(std::min(i, j), std::max(i, j) - std::min(i, j));
      }
      default:
        return q.insert(i, q.substr(i, 6));
    }
  }

 private:
  std::string gap() {
    static const char* const gaps[] = {" ",  " ",         " ",       "",    "\n",
                                       "\t", " /* c */ ", " // x\n", "\r\n"};
    return rnd_.pick(gaps);
  }
  std::string name() {
    static const char* const names[] = {"n",     "m",         "a",      "b",     "x",
                                        "`a b`", "nullable",  "orders", "Order", "count",
                                        "any",   "distinctX", "ends"};
    return rnd_.pick(names);
  }
  std::string literal() {
    static const char* const literals[] = {"1",     "0x1F", "0o17", "1.5", "1.", "1e5", "'s'",
                                           "\"d\"", "true", "null", "$p",  "$1", "12",  ".5"};
    return rnd_.pick(literals);
  }
  std::string list_of(int depth, std::size_t max, const char* sep = ", ") {
    std::string out;
    const std::size_t n = rnd_.below(max + 1);
    for (std::size_t i = 0; i < n; ++i) {
      if (i > 0) out += sep;
      out += expr(depth);
    }
    return out;
  }

  std::string expr(int depth) {
    if (depth <= 0) return rnd_.chance(60) ? name() : literal();
    const int d = depth - 1;
    switch (rnd_.below(20)) {
      case 0: {
        static const char* const ops[] = {
            "OR",          "XOR",          "and",      "ORx", "=", "<>", "<=", "=~", "IN",
            "STARTS WITH", "ends/**/with", "CONTAINS", "+",   "-", "*",  "/",  "%",  "^"};
        return expr(d) + " " + rnd_.pick(ops) + " " + expr(d);
      }
      case 1:
        return std::string(rnd_.chance(50) ? "NOT " : "-") + expr(d);
      case 2: {
        static const char* const checks[] = {" IS NULL", " is not null", " IS\tNULL", " ISNULL"};
        return expr(d) + rnd_.pick(checks);
      }
      case 3:
        return expr(d) + "." + name();
      case 4:
        return expr(d) + "[" + expr(d) + "]";
      case 5:
        return expr(d) + "[" + (rnd_.chance(50) ? expr(d) : "") + " .. " + list_of(d, 1) + "]";
      case 6:
        return "(" + expr(d) + ")";
      case 7: {
        static const char* const fns[] = {"count", "f", "a.b.c", "exists", "all", "reduce"};
        return std::string(rnd_.pick(fns)) + "(" + (rnd_.chance(20) ? "DISTINCT " : "") +
               list_of(d, 2) + ")";
      }
      case 8:
        return "count(*)";
      case 9:
        return "[" + list_of(d, 3) + "]";
      case 10:
        return "{" + name() + ": " + expr(d) + (rnd_.chance(30) ? ", k: " + expr(d) : "") + "}";
      case 11:
        return "reduce(" + name() + " = " + expr(d) + ", " + name() + " IN " + expr(d) +
               (rnd_.chance(80) ? " | " + expr(d) : "") + ")";
      case 12:
        return std::string(rnd_.chance(50) ? "shortestPath(" : "allShortestPaths(") + chain(d) +
               ")";
      case 13: {
        std::string c = "CASE ";
        if (rnd_.chance(40)) c += expr(d) + " ";
        const std::size_t n = rnd_.below(3);
        for (std::size_t i = 0; i < n; ++i) c += "WHEN " + expr(d) + " THEN " + expr(d) + " ";
        if (rnd_.chance(40)) c += "ELSE " + expr(d) + " ";
        return c + "END";
      }
      case 14:
        return "[" + name() + " IN " + expr(d) + (rnd_.chance(50) ? " WHERE " + expr(d) : "") +
               (rnd_.chance(50) ? " | " + expr(d) : "") + "]";
      case 15: {
        static const char* const qs[] = {"all", "ANY", "none", "single"};
        return std::string(rnd_.pick(qs)) + "(" + name() + " IN " + expr(d) +
               (rnd_.chance(60) ? " WHERE " + expr(d) : "") + ")";
      }
      case 16:
        return "EXISTS { " + pattern(d) + " }";
      case 17:
        return "[" + chain(d) + (rnd_.chance(40) ? " WHERE " + expr(d) : "") +
               (rnd_.chance(80) ? " | " + expr(d) : "") + "]";
      case 18:
        return std::string(rnd_.chance(50) ? "COUNT" : "collect") + " { " + query(d) + " }";
      default:
        return rnd_.chance(50) ? name() : literal();
    }
  }

  std::string node(int depth) {
    std::string n = "(";
    if (rnd_.chance(60)) n += name();
    const std::size_t labels = rnd_.below(3);
    for (std::size_t i = 0; i < labels; ++i) n += ":" + name();
    if (rnd_.chance(25)) n += rnd_.chance(70) ? " {" + name() + ": " + expr(depth) + "}" : " $p";
    return n + ")";
  }
  std::string rel(int depth) {
    std::string r = rnd_.chance(30) ? "<" : "";
    if (rnd_.chance(40)) {
      static const char* const shorts[] = {"--", "--", "-", "- -"};
      r += rnd_.pick(shorts);
    } else {
      r += "-[";
      if (rnd_.chance(40)) r += name();
      if (rnd_.chance(50)) r += ":" + name() + (rnd_.chance(30) ? "|" + name() : "");
      static const char* const ranges[] = {"", "", "*", "*2", "*1..3", "*2..", "*..5", "* 1 .. 2"};
      r += rnd_.pick(ranges);
      if (rnd_.chance(20)) r += " {" + name() + ": " + expr(depth) + "}";
      r += "]-";
    }
    return r + (rnd_.chance(40) ? ">" : "");
  }
  std::string chain(int depth) {
    std::string c = node(depth);
    const std::size_t n = rnd_.below(3);
    for (std::size_t i = 0; i < n; ++i) c += rel(depth) + node(depth);
    if (rnd_.chance(5)) c += rel(depth);
    return c;
  }
  std::string pattern(int depth) {
    std::string p = (rnd_.chance(20) ? name() + " = " : "") + chain(depth);
    if (rnd_.chance(30)) p += ", " + chain(depth);
    return p;
  }
  std::string projection(int depth) {
    std::string p = rnd_.chance(15) ? "DISTINCT " : "";
    if (rnd_.chance(10)) {
      p += "*";
    } else {
      const std::size_t n = 1 + rnd_.below(3);
      for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) p += ", ";
        p += expr(depth) + (rnd_.chance(30) ? " AS " + name() : "");
      }
    }
    if (rnd_.chance(25)) p += " ORDER BY " + expr(depth) + (rnd_.chance(50) ? " DESC" : "");
    if (rnd_.chance(20)) p += " SKIP " + expr(depth);
    if (rnd_.chance(20)) p += " LIMIT " + expr(depth);
    return p;
  }
  std::string clause(int depth) {
    const int d = depth;
    switch (rnd_.below(14)) {
      case 0:
      case 1:
        return std::string(rnd_.chance(20) ? "OPTIONAL " : "") + "MATCH " + pattern(d) +
               (rnd_.chance(40) ? " WHERE " + expr(d) : "");
      case 2:
        return "UNWIND " + expr(d) + " AS " + name();
      case 3:
        return depth > 0 ? "CALL { " + query(depth - 1) + " }" : "CALL { RETURN 1 }";
      case 4:
        return "CALL p.q(" + list_of(d, 2) + ")" + (rnd_.chance(50) ? " YIELD a AS b, c" : "");
      case 5:
        return "CREATE " + pattern(d);
      case 6:
        return "MERGE " + chain(d) + (rnd_.chance(50) ? " ON CREATE SET n.a = " + expr(d) : "") +
               (rnd_.chance(30) ? " ON MATCH SET n:L" : "");
      case 7: {
        static const char* const items[] = {"n.a = 1", "n = {a: 1}", "n += {b: 2}", "n:A:B",
                                            "n.x += 1"};
        return std::string("SET ") + rnd_.pick(items) +
               (rnd_.chance(30) ? ", m.b = " + expr(d) : "");
      }
      case 8:
        return std::string("REMOVE n:A") + (rnd_.chance(50) ? ", n.b" : "");
      case 9:
        return std::string(rnd_.chance(40) ? "DETACH " : "") + "DELETE " + expr(d);
      case 10:
        return "FOREACH (x IN " + expr(d) + " | " + (depth > 0 ? clause(depth - 1) : "CREATE (n)") +
               ")";
      case 11:
        return "WITH " + projection(d) + (rnd_.chance(30) ? " WHERE " + expr(d) : "");
      default:
        return "RETURN " + projection(d);
    }
  }

  Random rnd_;
};

// Everything a run yields, as one comparable text.
std::string summary(const std::variant<Pairs, Error>& r) {
  if (const Pairs* p = std::get_if<Pairs>(&r)) return "ok " + tree(*p);
  const Error& e = std::get<Error>(r);
  return "error " + std::to_string(e.position) + " " + std::to_string(e.line) + ":" +
         std::to_string(e.column) + " " + e.rendered();
}

// The plain algorithm with its one recording run, the default (a run that records nothing, then
// a recording run if the text is refused) and the run that records nothing alone: the same
// tree, or the same error from the first two and a refusal from the third.
void expect_same_results(const std::string& q) {
  const std::string plain = summary(run(q, false));
  ASSERT_EQ(summary(run(q, true)), plain) << "query: " << q;
  const auto quick = run_quick_only(q);
  if (plain.rfind("ok ", 0) == 0) {
    ASSERT_EQ(summary(quick), plain) << "query: " << q;
  } else {
    ASSERT_FALSE(std::holds_alternative<Pairs>(quick)) << "query: " << q;
  }
}

// Each of `items` in the place of the "%s" of each of `contexts`: the same results as above for
// every query made so; `accepted` counts those the default run accepts.
void expect_same_in_contexts(std::span<const char* const> items,
                             std::span<const char* const> contexts, int& accepted) {
  for (const char* item : items) {
    for (std::string q : contexts) {
      q.replace(q.find("%s"), 2, item);
      ASSERT_NO_FATAL_FAILURE(expect_same_results(q));
      accepted += std::holds_alternative<Pairs>(run(q, true));
    }
  }
}

TEST(RecognizerMemo, SameResultsAsPlainAlgorithm) {
  QueryGenerator gen(20261210);
  int accepted = 0;
  int compared = 0;
  for (int i = 0; i < 4000; ++i) {
    std::string q = gen.query(static_cast<int>(i % 4));
    const int mutations = i % 3 == 0 ? 0 : static_cast<int>(i % 4);
    for (int m = 0; m < mutations; ++m) q = gen.mutate(q);
    ASSERT_NO_FATAL_FAILURE(expect_same_results(q));
    accepted += std::holds_alternative<Pairs>(run(q, false));
    ++compared;
  }
  // The corpus must exercise both outcomes.
  EXPECT_GT(accepted, compared / 20);
  EXPECT_LT(accepted, compared - compared / 20);
}

// Nested re-read constructs: the memo replays whole subtrees here.
TEST(RecognizerMemo, SameResultsOnNestedReReads) {
  const char* const shapes[] = {
      "[x IN %s WHERE x > 0 | x]",
      "[(a {p: %s})-->(b) | b]",
      "CALL { WITH %s AS y RETURN y } RETURN 1",
      "COUNT { MATCH (n) WHERE %s RETURN n }",
      "all(x IN %s)",
      "reduce(a = 0, x IN %s | a)",
      "any(%s)",
      "[%s, 1]",
      "CASE WHEN %s THEN 1 END",
      "FOREACH (x IN %s | CREATE (n))",
  };
  Random rnd(7);
  for (int i = 0; i < 600; ++i) {
    std::string inner = "1";
    const int depth = 1 + static_cast<int>(rnd.below(5));
    for (int d = 0; d < depth; ++d) {
      std::string shape = rnd.pick(shapes);
      inner = shape.replace(shape.find("%s"), 2, inner);
    }
    std::string q = (inner.rfind("CALL", 0) == 0 || inner.rfind("FOREACH", 0) == 0)
                        ? inner
                        : "MATCH (n) WITH n RETURN " + inner;
    if (i % 2 == 1) q.erase(rnd.below(q.size()), 1);
    ASSERT_NO_FATAL_FAILURE(expect_same_results(q));
  }
}

// Atoms and operator chains whose first word is, contains or begins with a keyword: the run that
// records nothing picks atom alternatives by the text here and reads names and operator chains
// in one go, and must accept and build exactly what the recording run does.
TEST(RecognizerMemo, QuickRunAgreesOnKeywordLikeAtoms) {
  const char* const atoms[] = {
      "reduce(a = 0, x IN l | a + x)",
      "reducex",
      "reduce (a = 0, x IN l | a)",
      "REDUCE",
      "allShortestPaths((a)-->(b))",
      "shortestPath((a)-[*]-(b))",
      "shortestPathx",
      "allx",
      "all(x IN l WHERE x > 1)",
      "ALL (x IN l)",
      "any(x)",
      "anyx(1)",
      "none(x IN l)",
      "nonex",
      "single(x IN l WHERE x)",
      "singles",
      "true",
      "TRUE",
      "trueish",
      "false",
      "falsey",
      "null",
      "nullable",
      "NULL",
      "case",
      "CASE WHEN a THEN b END",
      "CASEx WHEN 1 THEN 2 END",
      "casex",
      "count(*)",
      "COUNT ( * )",
      "count(x)",
      "count { MATCH (n) RETURN n }",
      "countx",
      "collect { RETURN 1 }",
      "collect(x)",
      "collectx",
      "exists { (a)-->(b) }",
      "exists(x)",
      "existsx",
      "`a b`",
      "`a`.b(1)",
      "a.b.c(1)",
      "a.b.c",
      "a . b",
      "a.`b`.c",
      "a.AND.b",
      "f (1)",
      "f/**/(1)",
      "f // c\n (1)",
      "f  (1)",
      "a.b \t(1)",
      "f / (1)",
      "x.y /* c */",
      "_x",
      "$p",
      "$1",
      "1.5",
      "0x1F",
      "'s'",
      "[1, 2]",
      "[x IN l | x]",
      "[(a)-->(b) | b]",
      "{k: 1}",
      "(1)",
      "NOT x",
      "NOT NOT x",
      "-x",
      "- x",
      "a IS NULL",
      "a is not null",
      "a ISNULL",
      "a.b[1]",
      "a[1..2]",
      "a[..]",
      "a = 1 AND b <> 2 OR NOT c XOR d",
      "a + b * c ^ d % e / f - g",
      "a STARTS WITH 'x'",
      "a ENDS/**/WITH 'x'",
      "a CONTAINS b",
      "a IN [1]",
      "a =~ 'x'",
      "a <= b >= c < d > e",
      // Names and literals read as small atoms, next to ones that begin a larger atom
      "n",
      "m.title",
      "trueFn(1)",
      "TRUEx(1)",
      "falsely.x",
      "NULLIF(a)",
      "nonempty(x)",
      "counter",
      "c (1)",
      "c/**/(1)",
      "e",
      "`a`",
      "`a`(1)",
      "a.`b c`(1)",
      "a.`b",
      "AND",
      "WHERE",
      "$p.x",
      // Variables read from the length of their word, reserved words among them
      "desc",
      "Limit.x",
      "yield[0]",
      "ascending",
      "DESCENDING",
      "descendings",
      "x1_",
      "_",
      "a_b.c.d",
      "abcdefghijklmnop",
      // Integers next to the other forms a number's text can take
      "0",
      "007",
      "0x",
      "0o",
      "0X1",
      "0o8",
      "0x1g",
      "1..2",
      "1.e",
      "12e3",
      "1_000",
      // Parameters and strings at the edges of their forms
      "$",
      "$_",
      "$_1.x",
      "$1a",
      "$ p",
      "''",
      "\"\"",
      "'a\"",
      "\"b'\"",
      "\"unclosed",
      // Words as short as, or shorter than, the keywords an atom can begin with
      "al",
      "AN",
      "tr",
      "nu",
      "no",
      "ca",
      "ex",
      "tru.x",
      "nul",
      "ALL",
      "Any",
      "NONE",
      "CASE",
      "SHORTESTPAT",
      "SHORTESTPATH",
      "sinGLE",
      "count",
      "exists",
      "In",
      "is",
      "optional.x",
      "end",
      "b2 (1)",
      "b2 .c",
      "b2`x`",
      "\"d\"[0]",
      "'unclosed",
      "7.x",
      "a ORx",
      "a ANDy",
      "a XORb",
      "a INx",
      // Words after an operand that begin like an operator's word, or are one in another case
      "a ASC",
      "a ORDER",
      "a Or b",
      "a aNd b",
      "a xOr b",
      "a iN [1]",
      "a IN[1]",
      "a starts With 'x'",
      "a STARTSx 'y'",
      "a ENDSWITH 'y'",
      "a Contains 'z'",
      "a CONTAINSx",
      "a IS x",
      "a ORDER BY b",
      "a AND_ b",
      "a OR1",
      "1 -- 2",
      "a OR",
      "a +",
      "(a",
      "f(a,",
      "[1,",
  };
  const char* const contexts[] = {
      "RETURN %s",
      "RETURN %s AS v",
      "MATCH (n) WHERE %s RETURN n",
      "WITH %s AS v RETURN v",
      "RETURN [%s, 1]",
      "RETURN f(%s)",
      "UNWIND %s AS v RETURN v",
      "RETURN %s ORDER BY %s",
      "MATCH (n {p: %s}) RETURN n",
      "RETURN CASE %s WHEN %s THEN %s END",
  };
  int accepted = 0;
  for (const char* atom : atoms) {
    for (std::string q : contexts) {
      for (std::size_t at; (at = q.find("%s")) != std::string::npos;) q.replace(at, 2, atom);
      ASSERT_NO_FATAL_FAILURE(expect_same_results(q));
      accepted += std::holds_alternative<Pairs>(run(q, true));
    }
  }
  EXPECT_GT(accepted, 300);
}

// Clauses, and words that begin with a clause keyword's first letter but are not the keyword,
// after clauses of each kind and inside a subquery: the run that records nothing passes over a
// clause that cannot begin here, and must accept and build exactly what the recording run does.
TEST(RecognizerMemo, QuickRunAgreesOnClauseWords) {
  const char* const clauses[] = {
      "RETURN n",
      "return n",
      "CREATE (m)",
      "create (m) RETURN m",
      "CREATEx (m)",
      "MERGE (m)",
      "MERG (m)",
      "MATCH (m) RETURN m",
      "match (m) RETURN m",
      "MATCHx (m)",
      "OPTIONAL MATCH (m) RETURN m",
      "optional match (m) RETURN m",
      "OPTIONALMATCH (m) RETURN m",
      "OPTION",
      "UNWIND [1] AS x RETURN x",
      "UNWINDING",
      "CALL { RETURN 1 AS one } RETURN n",
      "CALL db.labels()",
      "CALLx",
      "SET n.p = 1",
      "set n.p = 1 RETURN n",
      "SETx",
      "REMOVE n.p",
      "REMOVAL",
      "DELETE n",
      "DETACH DELETE n",
      "detach delete n",
      "DETACHED",
      "DELE n",
      "FOREACH (x IN [1] | CREATE (m))",
      "FOREVER",
      "WITH n RETURN n",
      "ORDER",
      "c",
      "m",
      "r",
      "d",
      "s",
      "u",
      "o",
      "f",
  };
  const char* const contexts[] = {
      "MATCH (n) %s",
      "MATCH (n) WITH n %s",
      "MATCH (n) SET n.a = 1 %s",
      "MATCH (n) /* c */ %s",
      "CALL { MATCH (n) %s } RETURN 1",
      "%s",
      "UNWIND [1] AS n WITH n %s",
      "MATCH (n) DELETE n WITH n %s",
  };
  int accepted = 0;
  ASSERT_NO_FATAL_FAILURE(expect_same_in_contexts(clauses, contexts, accepted));
  EXPECT_GT(accepted, 90);
}

// Patterns with and without each piece that begins with a character of its own (labels, types,
// range, properties, arrows, shortestPath), with the text ending or broken right where one
// could begin, and names that begin with a letter of shortestPath: the run that records nothing
// passes over a piece that cannot begin here, and must accept and build exactly what the
// recording run does.
TEST(RecognizerMemo, QuickRunAgreesOnPatternPieces) {
  const char* const patterns[] = {
      "(n)",
      "()",
      "(n:A)",
      "(:A:B)",
      "(n :A : B)",
      "(n {k: 1})",
      "(n $p)",
      "(n:A $p)",
      "({})",
      "(n:",
      "(n {",
      "(n $",
      "(n:A {k: 1}",
      "(a)-->(b)",
      "(a)<--(b)",
      "(a)<-->(b)",
      "(a)--(b)",
      "(a)-[]->(b)",
      "(a)<-[r]-(b)",
      "(a)-[:T]-(b)",
      "(a)-[r:T|:U|V]->(b)",
      "(a)-[*]-(b)",
      "(a)-[*2]-(b)",
      "(a)-[*1..3]-(b)",
      "(a)-[r:T*..2 {k: 1}]->(b)",
      "(a)-[$p]-(b)",
      "(a)-[:T $p]-(b)",
      "(a)-[:",
      "(a)-[*",
      "(a)-[r {",
      "(a)<",
      "(a)-",
      "(a)<-",
      "(a)-[r]-",
      "(a)-[r]-> (b)",
      "(a) - [r] - > (b)",
      "(a) < - - (b)",
      "(a)->(b)",
      "(a)-[r]>(b)",
      "shortestPath((a)-[*]-(b))",
      "allShortestPaths((a)--(b))",
      "SHORTESTPATH((a)--(b))",
      "shortestPath((a))",
      "shortestPath(",
      "shortest((a)--(b))",
      "allShortestPath((a)--(b))",
      "s = (a)",
      "a = (b)",
      "shortestPath = (a)",
  };
  const char* const contexts[] = {
      "MATCH %s RETURN 1",
      "MATCH p = %s, (x) RETURN p",
      "MATCH %s",
      "CREATE %s",
      "MERGE %s RETURN 1",
      "MATCH (x) WHERE %s RETURN x",
      "RETURN [%s | 1]",
  };
  int accepted = 0;
  ASSERT_NO_FATAL_FAILURE(expect_same_in_contexts(patterns, contexts, accepted));
  EXPECT_GT(accepted, 100);
}

// Queries with and without the optional clauses that end a query part (WHERE, ORDER BY, SKIP,
// LIMIT, UNION), words and names that begin with their first letters, and operators read after
// an operand where another operator's first letter stands: the run that records nothing passes
// over a clause or an operator that cannot begin here, and must accept and build exactly what
// the recording run does.
TEST(RecognizerMemo, QuickRunAgreesOnEndingClausesAndOperators) {
  const char* const tails[] = {
      "",
      " WHERE n.a > 1",
      " where n.a = 1 OR n.b < 2",
      " WHERE",
      " WHEREx",
      " WITH w",
      " ORDER BY n",
      " order by n.a DESC SKIP 1 LIMIT 2",
      " SKIP 3",
      " LIMIT 4",
      " SKIP 1 LIMIT",
      " ORDER n",
      " ORDERS BY n",
      " UNION RETURN 1 AS n",
      " union all RETURN 1 AS n",
      " UNIONS RETURN 1",
      " U",
      " AS w, 1 AS o, 2 AS s, 3 AS l, 4 AS u",
      " = 1",
      " AND n",
      " and n XOR m or o",
      " ANDx",
      " XOR",
      " OR",
      " ORx",
      " IN [n] AND s STARTS WITH 'a' OR e ENDS WITH 'b' XOR c CONTAINS 'c'",
      " <> n AND n <= 1 AND n >= 2 AND n =~ 'x'",
      " IS NULL AND n IS NOT NULL",
      " + 1 AS x ORDER BY x",
  };
  const char* const heads[] = {
      "MATCH (n) RETURN n",
      "MATCH (n) WITH n",
      "MATCH (n) WITH n ORDER BY n.a WHERE n.b",
      "MATCH (n) WHERE n",
      "UNWIND [1] AS n RETURN DISTINCT n",
      "WITH 1 AS n RETURN n",
      "MATCH (n) RETURN n SKIP 1 UNION MATCH (n) RETURN n",
  };
  int accepted = 0;
  for (const char* head : heads) {
    for (const char* tail : tails) {
      const std::string q = std::string(head) + tail;
      ASSERT_NO_FATAL_FAILURE(expect_same_results(q));
      ASSERT_NO_FATAL_FAILURE(expect_same_results(q + " RETURN n"));
      accepted += std::holds_alternative<Pairs>(run(q, true));
    }
  }
  EXPECT_GT(accepted, 60);
}

// Random expressions over every level of the operator chain, with NOT and "-" prefixes, skips
// of every kind between and after their pieces, and atoms that hold expressions of their own or
// are read twice (a list that turns out to be a comprehension, a parenthesised pattern): the run
// that records nothing leaves the chain's levels in runs that share start and end entries, and
// every reader must see the pairs of the recording run.
class ChainGenerator {
 public:
  explicit ChainGenerator(std::uint64_t seed) : rnd_(seed) {}

  // An expression; NOT may stand first where `nots` (the operand of AND, OR or XOR, or a whole
  // expression).
  std::string expression(int depth, bool nots = true) {
    if (depth <= 0 || rnd_.chance(30)) return prefixed(atom(depth), nots);
    static const char* const ops[] = {"OR", "XOR", "AND", "=",           "<>",       "<",
                                      ">=", "=~",  "IN",  "STARTS WITH", "CONTAINS", "+",
                                      "-",  "*",   "/",   "%",           "^"};
    std::string out = expression(depth - 1, nots);
    const int more = 1 + static_cast<int>(rnd_.below(3));
    for (int i = 0; i < more; ++i) {
      const std::size_t op = rnd_.below(std::size(ops));
      out += gap(true);
      out += ops[op];
      out += ops[op][0] == '/' ? " " : gap(true);
      out += expression(depth - 1, op < 3);
    }
    return rnd_.chance(20) ? prefixed("(" + gap() + out + gap() + ")", nots) : out;
  }

 private:
  // Between two tokens; `needed` where a word must be kept apart from the next one.
  std::string gap(bool needed = false) {
    static const char* const gaps[] = {" ", "  ", "\n", " /* c */ ", "/**/", "\t// c\n", ""};
    std::string g = rnd_.pick(gaps);
    return g.empty() && needed ? " " : g;
  }

  std::string prefixed(std::string operand, bool nots) {
    std::string out;
    for (int n = nots ? static_cast<int>(rnd_.below(4)) - 1 : 0; n > 0; --n) {
      out += "NOT" + gap(true);
    }
    if (rnd_.chance(25)) out += "-" + gap();
    return out + operand;
  }

  std::string atom(int depth) {
    static const char* const plain[] = {"x", "1", "2.5", "'s'", "$p", "n.p", "true", "null"};
    const int d = depth - 1;
    switch (depth > 0 ? rnd_.below(10) : 9) {
      case 0:
        return "f(" + expression(d) + "," + gap() + expression(d) + ")";
      case 1:
        return "[" + expression(d) + "," + gap() + expression(d) + "]";
      case 2:
        return "[x IN " + expression(d) + gap(true) + "WHERE " + expression(d) + " | x]";
      case 3:
        return "[(a)-->(b {p: " + expression(d) + "}) | b]";
      case 4:
        return "CASE WHEN " + expression(d) + " THEN " + expression(d) + " END";
      case 5:
        return "{k:" + gap() + expression(d) + "}";
      case 6:
        return "x IS NOT NULL";
      case 7:
        return "a[" + expression(d) + "]" + gap() + ".b";
      default:
        return rnd_.pick(plain);
    }
  }

  Random rnd_;
};

TEST(RecognizerMemo, QuickRunAgreesOnOperatorChains) {
  const char* const contexts[] = {
      "RETURN %s",
      "RETURN %s AS v",
      "WITH %s AS v RETURN v",
      "MATCH (n) WHERE %s RETURN n",
      "RETURN [%s] ",
      "UNWIND %s AS v RETURN v ORDER BY %s",
  };
  ChainGenerator gen(20261211);
  int accepted = 0;
  for (int i = 0; i < 3000; ++i) {
    std::string q = contexts[i % std::size(contexts)];
    for (std::size_t at; (at = q.find("%s")) != std::string::npos;) {
      q.replace(at, 2, gen.expression(1 + i % 4));
    }
    ASSERT_NO_FATAL_FAILURE(expect_same_results(q));
    accepted += std::holds_alternative<Pairs>(run(q, true));
  }
  EXPECT_GT(accepted, 2700);
}

// Very long chains at each level, long runs of prefixes and deep nesting.
TEST(RecognizerMemo, QuickRunAgreesOnLongAndDeepChains) {
  auto repeat = [](const std::string& piece, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += piece;
    return out;
  };
  const std::vector<std::string> queries = {
      "RETURN " + repeat("x OR ", 3000) + "x",
      "RETURN " + repeat("1 + 2 * ", 3000) + "3",
      "RETURN " + repeat("a AND b = c OR ", 1500) + "d",
      "RETURN " + repeat("1 ^ -2 % ", 2000) + "3 ",
      "RETURN " + repeat("NOT ", 2000) + "x",
      "RETURN " + repeat("NOT x AND ", 2000) + "x",
      "RETURN - " + repeat("(", 200) + "1" + repeat(")", 200),
      "RETURN " + repeat("(NOT -[", 80) + "x" + repeat("])", 80),
      "RETURN " + repeat("f(1, ", 120) + "x" + repeat(" + 1 ) ", 120) + "AS v",
      "RETURN " + repeat("[x IN [", 12) + "1" + repeat("] | x + 1]", 12),
  };
  for (const std::string& q : queries) {
    ASSERT_NO_FATAL_FAILURE(expect_same_results(q));
    EXPECT_TRUE(std::holds_alternative<Pairs>(run(q, true))) << q.substr(0, 80);
  }
}

// Long operator chains inside constructs that are read twice from the same place, the second
// time behind other pairs: the second reading replays the memo entries of the first, and the
// runs of chain levels in them must come out of the replay whole.
TEST(RecognizerMemo, QuickRunAgreesOnReplayedChains) {
  const char* const shapes[] = {
      "RETURN [x IN [f(%s), 2] WHERE x > 0 | x]",
      "RETURN [x IN [(a {p: %s})-->(b) | b] WHERE x | x]",
      "RETURN any(x IN [[%s], 1] WHERE x)",
      "MATCH (n) WHERE [x IN {k: f(%s)} WHERE x | x] RETURN n",
      "RETURN [x IN [y IN [f(%s)] | y] WHERE x > 0 | [x IN [f(%s), 1] WHERE x | x]]",
  };
  const char* const expressions[] = {
      "1 + 2 * 3 - x ^ 2 % 4 OR NOT a AND b = c",
      "NOT NOT a = b + c * d ^ - e AND x XOR y",
      "- 1 ^ 2 ^ 3 % 4 * 5 / 6 + 7 - 8 <= 9 <> 10 IN [1] ",
      "a.b[1] /* c */ OR // d\n b CONTAINS 'x' AND NOT (c STARTS WITH 'y' OR d)",
      "((1 + 2) * (3 - 4)) ^ ((5 % 6) / -(7)) /**/",
      "f(a, b) + f(c) OR f(d) XOR f(e) AND NOT f(g) = f(h)",
  };
  for (const char* shape : shapes) {
    for (const char* e : expressions) {
      std::string q = shape;
      for (std::size_t at; (at = q.find("%s")) != std::string::npos;) q.replace(at, 2, e);
      ASSERT_NO_FATAL_FAILURE(expect_same_results(q));
      EXPECT_TRUE(std::holds_alternative<Pairs>(run(q, true))) << q;
    }
  }
}

// Every pair's innermost_sharing_end() is the pair reached from it through first children that
// end where it ends, with the same inner pairs.
void expect_sharing_levels_agree(Pairs pairs, const std::string& q) {
  for (Pair p : pairs) {
    const Pair inner = p.innermost_sharing_end();
    Pair d = p;
    for (int steps = 0; !(d.as_rule() == inner.as_rule() && d.start() == inner.start()); ++steps) {
      const std::optional<Pair> first = d.into_inner().peek();
      ASSERT_TRUE(first && first->end() == p.end() && steps < 16)
          << "query: " << q << " pair: " << rule_name(p.as_rule());
      d = *first;
    }
    ASSERT_EQ(inner.end(), d.end()) << "query: " << q;
    ASSERT_EQ(tree(inner.into_inner()), tree(d.into_inner())) << "query: " << q;
    ASSERT_NO_FATAL_FAILURE(expect_sharing_levels_agree(p.into_inner(), q));
  }
}

// Operands with chains of postfix operators, and small atoms alone or followed by a skip, behind
// every prefix and before operators of each level, alone and inside constructs that are read
// twice: postfix_expr, and a small atom below it, are the innermost levels of a run of chain
// levels where no "-" stands before them, and a pair of its own after one.
TEST(RecognizerMemo, QuickRunAgreesOnPostfixChains) {
  const char* const operands[] = {
      "x",
      "x /* c */",
      "x\n",
      "12",
      "2.5e3 ",
      "'s'",
      "\"d\"/**/",
      "$p",
      "$1 ",
      "true",
      "FALSE",
      "null",
      "nullable",
      "`a b`",
      "f(x)",
      "[1]",
      "(a)",
      "a.b",
      "a.b.c",
      "a[0]",
      "a[0].b",
      "a[i..j]",
      "a[..2]",
      "a[i..]",
      "a[..]",
      "f(x).p",
      "f(x)[0]",
      "n.p IS NULL",
      "n.p IS NOT NULL",
      "[1, 2][0]",
      "{k: 1}.k",
      "(a).b",
      "$p.x",
      "'s'[0]",
      "a.b[c.d[-e]].f",
      "a /* c */ .b",
      "a\n[0]",
      "count(*)",
      "CASE WHEN a THEN b END.c",
      "[x IN l | x][lo..hi]",
  };
  const char* const prefixes[] = {"", "-", "- ", "-/**/", "NOT ", "NOT -", "NOT NOT - "};
  const char* const followers[] = {"", " + 1", " ^ 2", " * -b.c", " = x[0]", " AND NOT y.z"};
  const char* const shapes[] = {
      "RETURN %s",
      "MATCH (n) WHERE %s RETURN n",
      "RETURN [x IN [f(%s), 2] WHERE x > 0 | x]",
      "RETURN any(x IN [[%s], 1] WHERE x)",
  };
  int accepted = 0;
  int compared = 0;
  for (const char* operand : operands) {
    for (const char* prefix : prefixes) {
      for (const char* follower : followers) {
        const std::string e = std::string(prefix) + operand + follower;
        for (const char* shape : shapes) {
          std::string q = shape;
          q.replace(q.find("%s"), 2, e);
          ASSERT_NO_FATAL_FAILURE(expect_same_results(q));
          const auto quick = run_quick_only(q);
          if (const Pairs* pairs = std::get_if<Pairs>(&quick)) {
            ASSERT_NO_FATAL_FAILURE(expect_sharing_levels_agree(*pairs, q));
            ++accepted;
          }
          ++compared;
        }
      }
    }
  }
  EXPECT_GT(accepted, compared * 9 / 10);
}

// Projections: a projection's body, its item list and its first item, with the levels of that
// item's expression, are levels of one run (and every later item's pair a run of its item and
// expression levels), each level ending where the one below it does or elsewhere: with and
// without AS, DISTINCT, ORDER BY, SKIP, LIMIT and WHERE after the items, skips after them, "*",
// items whose expressions end in postfix operators or hold projections of their own, alone and
// inside constructs that are read twice (their memo entries replayed behind other pairs).
std::vector<std::string> projection_queries() {
  const char* const bodies[] = {
      "%s",
      "%s AS v",
      "%s AS v, %s",
      "%s, %s AS w, %s ",
      "DISTINCT %s AS v",
      "%s AS v ORDER BY v",
      "%s ORDER BY %s DESC SKIP 1 LIMIT 2",
      "%s AS v /* c */ LIMIT 3 ",
      "*",
      "* ORDER BY %s",
  };
  const char* const items[] = {
      "1", "x", "x ", "'s'", "a.b", "a.b /**/", "f(x)", "-x", "NOT x", "NOT -x.p",
      "1 + 2 * x", "a AND b OR c", "[1, 2][0]", "count(*)",
      "COUNT { WITH 1 AS a RETURN a }", "[x IN l | x]",
  };
  const char* const contexts[] = {
      "RETURN %b",
      "WITH %b RETURN v",
      "WITH %b WHERE v > 0 RETURN *",
      "MATCH (n) WITH %b WITH %b RETURN 1",
      "CALL { WITH %b RETURN 1 AS r } RETURN r",
      "RETURN [x IN [COUNT { WITH %b RETURN 1 }, 2] WHERE x > 0 | x]",
      "RETURN any(x IN [EXISTS { MATCH (n) WHERE COUNT { RETURN %b } > 0 }] WHERE x)",
  };
  std::vector<std::string> out;
  std::size_t k = 0;
  for (const char* context : contexts) {
    for (const char* body : bodies) {
      for (std::size_t i = 0; i < std::size(items); ++i) {
        std::string q = context;
        for (std::size_t at; (at = q.find("%b")) != std::string::npos;) {
          std::string b = body;
          for (std::size_t bt; (bt = b.find("%s")) != std::string::npos;) {
            b.replace(bt, 2, items[(i + k++) % std::size(items)]);
          }
          q.replace(at, 2, b);
        }
        out.push_back(q);
      }
    }
  }
  return out;
}

TEST(RecognizerMemo, QuickRunAgreesOnProjections) {
  int accepted = 0;
  for (const std::string& q : projection_queries()) {
    ASSERT_NO_FATAL_FAILURE(expect_same_results(q));
    const auto quick = run_quick_only(q);
    if (const Pairs* pairs = std::get_if<Pairs>(&quick)) {
      ASSERT_NO_FATAL_FAILURE(expect_sharing_levels_agree(*pairs, q));
      ++accepted;
    }
  }
  EXPECT_GT(accepted, 900);
}

// The pairs of a few projections, as every run must leave them (the run that records attempts
// leaves the projection's levels in a run too, so the comparisons above do not check that
// part on their own).
TEST(RecognizerMemo, ProjectionPairsAreTheGrammars) {
  struct Case {
    const char* query;
    const char* pairs;
  };
  const Case cases[] = {
      {"WITH 1 AS a RETURN a",
       "cypher[0,20](statement[0,20](regular_query[0,20](single_query[0,20](multi_part_query[0,2"
       "0](with_clause[0,12](return_body[5,12](return_items[5,12](return_item[5,11](expression[5"
       ",7](or_expr[5,7](xor_expr[5,7](and_expr[5,7](not_expr[5,7](comparison_expr[5,7](add_sub_"
       "expr[5,7](mul_div_expr[5,7](mod_expr[5,7](power_expr[5,7](unary_expr[5,7](postfix_expr[5"
       ",7](atom[5,6](literal[5,6](integer_literal[5,6])))))))))))))) variable[10,11])))) return"
       "_clause[12,20](return_body[19,20](return_items[19,20](return_item[19,20](expression[19,2"
       "0](or_expr[19,20](xor_expr[19,20](and_expr[19,20](not_expr[19,20](comparison_expr[19,20]"
       "(add_sub_expr[19,20](mul_div_expr[19,20](mod_expr[19,20](power_expr[19,20](unary_expr[19"
       ",20](postfix_expr[19,20](atom[19,20](variable[19,20]))))))))))))))))))))) EOI[20,20])"},
      {"RETURN p.name, m",
       "cypher[0,16](statement[0,16](regular_query[0,16](single_query[0,16](single_part_query[0,"
       "16](return_clause[0,16](return_body[7,16](return_items[7,16](return_item[7,13](expressio"
       "n[7,13](or_expr[7,13](xor_expr[7,13](and_expr[7,13](not_expr[7,13](comparison_expr[7,13]"
       "(add_sub_expr[7,13](mul_div_expr[7,13](mod_expr[7,13](power_expr[7,13](unary_expr[7,13]("
       "postfix_expr[7,13](atom[7,8](variable[7,8]) postfix_op[8,13](property_lookup[8,13](prope"
       "rty_key_name[9,13]))))))))))))))) return_item[15,16](expression[15,16](or_expr[15,16](xo"
       "r_expr[15,16](and_expr[15,16](not_expr[15,16](comparison_expr[15,16](add_sub_expr[15,16]"
       "(mul_div_expr[15,16](mod_expr[15,16](power_expr[15,16](unary_expr[15,16](postfix_expr[15"
       ",16](atom[15,16](variable[15,16]))))))))))))))))))))) EOI[16,16])"},
      {"WITH * ORDER BY x SKIP 1 RETURN x AS y",
       "cypher[0,38](statement[0,38](regular_query[0,38](single_query[0,38](multi_part_query[0,3"
       "8](with_clause[0,25](return_body[5,25](return_items[5,6] order_clause[7,18](sort_item[16"
       ",18](expression[16,18](or_expr[16,18](xor_expr[16,18](and_expr[16,18](not_expr[16,18](co"
       "mparison_expr[16,18](add_sub_expr[16,18](mul_div_expr[16,18](mod_expr[16,18](power_expr["
       "16,18](unary_expr[16,18](postfix_expr[16,18](atom[16,17](variable[16,17]))))))))))))))) "
       "skip_clause[18,25](expression[23,25](or_expr[23,25](xor_expr[23,25](and_expr[23,25](not_"
       "expr[23,25](comparison_expr[23,25](add_sub_expr[23,25](mul_div_expr[23,25](mod_expr[23,2"
       "5](power_expr[23,25](unary_expr[23,25](postfix_expr[23,25](atom[23,24](literal[23,24](in"
       "teger_literal[23,24]))))))))))))))))) return_clause[25,38](return_body[32,38](return_ite"
       "ms[32,38](return_item[32,38](expression[32,34](or_expr[32,34](xor_expr[32,34](and_expr[3"
       "2,34](not_expr[32,34](comparison_expr[32,34](add_sub_expr[32,34](mul_div_expr[32,34](mod"
       "_expr[32,34](power_expr[32,34](unary_expr[32,34](postfix_expr[32,34](atom[32,33](variabl"
       "e[32,33]))))))))))))) variable[37,38])))))))) EOI[38,38])"},
  };
  for (const Case& c : cases) {
    for (int memoize = 0; memoize < 2; ++memoize) {
      const auto r = run(c.query, memoize != 0);
      ASSERT_TRUE(std::holds_alternative<Pairs>(r)) << c.query;
      EXPECT_EQ(tree(std::get<Pairs>(r)), c.pairs) << c.query;
    }
    const auto quick = run_quick_only(c.query);
    ASSERT_TRUE(std::holds_alternative<Pairs>(quick)) << c.query;
    EXPECT_EQ(tree(std::get<Pairs>(quick)), c.pairs) << c.query;
  }
}

// Operands that are a leaf alone (a name, a parameter, a literal of one leaf; 255 bytes long,
// the longest leaf, and 256), alone and inside runs of chain levels, at their ends and before
// operators, with and without postfix operators, followed by a blank of one byte or a longer
// skip, in projections and inside constructs that are read twice (their memo entries replayed
// behind other pairs).
TEST(RecognizerMemo, QuickRunAgreesOnLeafOperands) {
  const std::string long_name(255, 'n');
  const std::string longer_name(256, 'n');
  const std::string long_string = "'" + std::string(253, 's') + "'";
  const std::string longer_string = "'" + std::string(254, 's') + "'";
  const std::string long_number(255, '7');
  const std::string longer_number(256, '7');
  const std::string leaves[] = {"x",       "$p",          "$1",         "7",         "0x1F",
                                "2.5e3",   "'s'",         "\"d\"",      "true",      "NULL",
                                long_name, longer_name,   long_string,  longer_string,
                                long_number, longer_number, "0", "00", "0o17", "12."};
  const char* const shapes[] = {
      "RETURN %s",
      "RETURN %s AS a",
      "RETURN %s , %s /**/",
      "WITH %s AS a, -%s AS b RETURN a",
      "RETURN %s + %s * %s",
      "RETURN NOT %s = %s ",
      "RETURN %s.p IS NULL OR %s[0] ^ %s",
      "RETURN [%s, %s]",
      "RETURN {k: %s}.k",
      "MATCH (n) WHERE %s < %s RETURN n",
      "RETURN [x IN [%s, %s + 1] WHERE x > %s | %s]",
      "RETURN [x IN [COUNT { WITH %s AS a RETURN %s }, 2] WHERE x | x]",
      // A blank of one byte (of each kind) after an operand, and skips longer than that.
      "RETURN %s\t+ %s\n",
      "RETURN %s\r* %s \n AS a",
      "RETURN %s  - %s  AS a",
      "RETURN %s /**/ = %s/**/",
      "RETURN [%s ,%s ] ",
      "RETURN (%s ) ^ (%s\r\n) % %s",
      "MATCH (n {k: %s }) WHERE n.k = %s  RETURN n",
      "RETURN [x IN [%s ] WHERE x <> %s | %s ]",
  };
  int accepted = 0;
  for (const std::string& leaf : leaves) {
    for (const char* shape : shapes) {
      std::string q = shape;
      for (std::size_t at; (at = q.find("%s")) != std::string::npos;) q.replace(at, 2, leaf);
      ASSERT_NO_FATAL_FAILURE(expect_same_results(q));
      const auto quick = run_quick_only(q);
      if (const Pairs* pairs = std::get_if<Pairs>(&quick)) {
        ASSERT_NO_FATAL_FAILURE(expect_sharing_levels_agree(*pairs, q));
        ++accepted;
      }
    }
  }
  EXPECT_GT(accepted, static_cast<int>(std::size(leaves) * std::size(shapes)) * 9 / 10);
}

// "rule[start,end]" for every pair, with ">rule" after it where innermost_sharing_end() is a
// pair below it.
void print_sharing(Pairs pairs, std::string& out) {
  for (Pair p : pairs) {
    out += rule_name(p.as_rule());
    out += '[' + std::to_string(p.start()) + ',' + std::to_string(p.end()) + ']';
    const Pair inner = p.innermost_sharing_end();
    if (inner.as_rule() != p.as_rule()) {
      out += '>';
      out += rule_name(inner.as_rule());
    }
    out += ' ';
    print_sharing(p.into_inner(), out);
  }
}

// The pair that innermost_sharing_end() gives for each level of operands that are a leaf
// alone, as the builder reads them: where the operand's levels end with its atom, after a skip,
// after a postfix operator, and in an entry replayed from the memo.
TEST(RecognizerMemo, SharingEndsOfLeafOperands) {
  struct Case {
    const char* query;
    const char* sharing;
  };
  const Case cases[] = {
      {"RETURN [x, 1 ]",
       "expression[7,14]>postfix_expr or_expr[7,14]>postfix_expr xor_expr[7,14]>postfix_expr "
       "and_expr[7,14]>postfix_expr not_expr[7,14]>postfix_expr "
       "comparison_expr[7,14]>postfix_expr add_sub_expr[7,14]>postfix_expr "
       "mul_div_expr[7,14]>postfix_expr mod_expr[7,14]>postfix_expr "
       "power_expr[7,14]>postfix_expr unary_expr[7,14]>postfix_expr postfix_expr[7,14] "
       "atom[7,14] literal[7,14] list_literal[7,14] expression[8,9]>atom or_expr[8,9]>atom "
       "xor_expr[8,9]>atom and_expr[8,9]>atom not_expr[8,9]>atom comparison_expr[8,9]>atom "
       "add_sub_expr[8,9]>atom mul_div_expr[8,9]>atom mod_expr[8,9]>atom power_expr[8,9]>atom "
       "unary_expr[8,9]>atom postfix_expr[8,9]>atom atom[8,9] variable[8,9] "
       "expression[11,13]>postfix_expr or_expr[11,13]>postfix_expr "
       "xor_expr[11,13]>postfix_expr and_expr[11,13]>postfix_expr not_expr[11,13]>postfix_expr"
       " comparison_expr[11,13]>postfix_expr add_sub_expr[11,13]>postfix_expr "
       "mul_div_expr[11,13]>postfix_expr mod_expr[11,13]>postfix_expr "
       "power_expr[11,13]>postfix_expr unary_expr[11,13]>postfix_expr postfix_expr[11,13] "
       "atom[11,12] literal[11,12] integer_literal[11,12] "},
      {"WITH $p AS a RETURN a.b",
       "expression[5,8]>postfix_expr or_expr[5,8]>postfix_expr xor_expr[5,8]>postfix_expr "
       "and_expr[5,8]>postfix_expr not_expr[5,8]>postfix_expr "
       "comparison_expr[5,8]>postfix_expr add_sub_expr[5,8]>postfix_expr "
       "mul_div_expr[5,8]>postfix_expr mod_expr[5,8]>postfix_expr power_expr[5,8]>postfix_expr"
       " unary_expr[5,8]>postfix_expr postfix_expr[5,8] atom[5,7] parameter[5,7] "
       "variable[11,12] return_clause[13,23] return_body[20,23]>postfix_expr "
       "return_items[20,23]>postfix_expr return_item[20,23]>postfix_expr "
       "expression[20,23]>postfix_expr or_expr[20,23]>postfix_expr "
       "xor_expr[20,23]>postfix_expr and_expr[20,23]>postfix_expr not_expr[20,23]>postfix_expr"
       " comparison_expr[20,23]>postfix_expr add_sub_expr[20,23]>postfix_expr "
       "mul_div_expr[20,23]>postfix_expr mod_expr[20,23]>postfix_expr "
       "power_expr[20,23]>postfix_expr unary_expr[20,23]>postfix_expr postfix_expr[20,23] "
       "atom[20,21] variable[20,21] postfix_op[21,23] property_lookup[21,23] "
       "property_key_name[22,23] "},
      {"RETURN [x IN ['s', 2] WHERE x | -x]",
       "expression[7,35]>postfix_expr or_expr[7,35]>postfix_expr xor_expr[7,35]>postfix_expr "
       "and_expr[7,35]>postfix_expr not_expr[7,35]>postfix_expr "
       "comparison_expr[7,35]>postfix_expr add_sub_expr[7,35]>postfix_expr "
       "mul_div_expr[7,35]>postfix_expr mod_expr[7,35]>postfix_expr "
       "power_expr[7,35]>postfix_expr unary_expr[7,35]>postfix_expr postfix_expr[7,35] "
       "atom[7,35] list_comprehension[7,35] filter_expression[8,30] id_in_coll[8,22] "
       "variable[8,9] expression[13,22]>postfix_expr or_expr[13,22]>postfix_expr "
       "xor_expr[13,22]>postfix_expr and_expr[13,22]>postfix_expr not_expr[13,22]>postfix_expr"
       " comparison_expr[13,22]>postfix_expr add_sub_expr[13,22]>postfix_expr "
       "mul_div_expr[13,22]>postfix_expr mod_expr[13,22]>postfix_expr "
       "power_expr[13,22]>postfix_expr unary_expr[13,22]>postfix_expr postfix_expr[13,22] "
       "atom[13,21] literal[13,21] list_literal[13,21] expression[14,17]>atom "
       "or_expr[14,17]>atom xor_expr[14,17]>atom and_expr[14,17]>atom not_expr[14,17]>atom "
       "comparison_expr[14,17]>atom add_sub_expr[14,17]>atom mul_div_expr[14,17]>atom "
       "mod_expr[14,17]>atom power_expr[14,17]>atom unary_expr[14,17]>atom "
       "postfix_expr[14,17]>atom atom[14,17] literal[14,17] string_literal[14,17] "
       "expression[19,20]>atom or_expr[19,20]>atom xor_expr[19,20]>atom and_expr[19,20]>atom "
       "not_expr[19,20]>atom comparison_expr[19,20]>atom add_sub_expr[19,20]>atom "
       "mul_div_expr[19,20]>atom mod_expr[19,20]>atom power_expr[19,20]>atom "
       "unary_expr[19,20]>atom postfix_expr[19,20]>atom atom[19,20] literal[19,20] "
       "integer_literal[19,20] expression[28,30]>postfix_expr or_expr[28,30]>postfix_expr "
       "xor_expr[28,30]>postfix_expr and_expr[28,30]>postfix_expr not_expr[28,30]>postfix_expr"
       " comparison_expr[28,30]>postfix_expr add_sub_expr[28,30]>postfix_expr "
       "mul_div_expr[28,30]>postfix_expr mod_expr[28,30]>postfix_expr "
       "power_expr[28,30]>postfix_expr unary_expr[28,30]>postfix_expr postfix_expr[28,30] "
       "atom[28,29] variable[28,29] expression[32,34]>unary_expr or_expr[32,34]>unary_expr "
       "xor_expr[32,34]>unary_expr and_expr[32,34]>unary_expr not_expr[32,34]>unary_expr "
       "comparison_expr[32,34]>unary_expr add_sub_expr[32,34]>unary_expr "
       "mul_div_expr[32,34]>unary_expr mod_expr[32,34]>unary_expr power_expr[32,34]>unary_expr"
       " unary_expr[32,34] postfix_expr[33,34]>atom atom[33,34] variable[33,34] "},
  };
  for (const Case& c : cases) {
    const auto quick = run_quick_only(c.query);
    ASSERT_TRUE(std::holds_alternative<Pairs>(quick)) << c.query;
    std::string out;
    print_sharing(std::get<Pairs>(quick), out);
    const std::size_t from = out.find("expression[");
    ASSERT_NE(from, std::string::npos) << c.query;
    EXPECT_EQ(out.substr(from, out.find("EOI[") - from), c.sharing) << c.query;
  }
}

}  // namespace
}  // namespace tessary
