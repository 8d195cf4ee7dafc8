#pragma once
// Queries of up to 64 KiB built to be as costly as their kind allows: long lists, many items,
// operator chains up to the builder's depth bound, every nested form at the deepest nesting the
// recognizer accepts, long patterns, many clauses and branches, big maps, many misspelt names
// (findings with suggestions and a fixed query), big scopes copied by nested bodies, and long
// literals and comments. Names refer to the schema of validation_bench.hpp.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "parser/parse.hpp"

namespace tessary::bench {

inline constexpr std::size_t kWorstCaseBytes = 64 * 1024;

// `head`, then `unit(0)`, `unit(1)`, ... joined by `sep`, then `tail`: as many units as keep the
// whole within `budget` bytes.
inline std::string fill(std::string_view head, std::string_view sep, std::string_view tail,
                        const std::function<std::string(std::size_t)>& unit,
                        std::size_t budget = kWorstCaseBytes) {
  std::string out(head);
  for (std::size_t i = 0;; ++i) {
    std::string next = unit(i);
    std::size_t extra = (i > 0 ? sep.size() : 0) + next.size();
    if (out.size() + extra + tail.size() > budget) break;
    if (i > 0) out += sep;
    out += next;
  }
  out += tail;
  return out;
}

inline std::function<std::string(std::size_t)> same(std::string text) {
  return [text = std::move(text)](std::size_t) { return text; };
}

inline std::string repeat(std::string_view text, std::size_t n) {
  std::string out;
  out.reserve(text.size() * n);
  for (std::size_t i = 0; i < n; ++i) out += text;
  return out;
}

// `open` n times, `core`, `close` n times.
inline std::string nest(std::string_view open, std::string_view core, std::string_view close,
                        std::size_t n) {
  return repeat(open, n) + std::string(core) + repeat(close, n);
}

inline bool parses(const std::string& query) {
  return std::holds_alternative<CypherQuery>(parse_with_detail(query));
}

// The deepest nesting (at most 300) for which `make(depth)` still parses.
inline std::size_t deepest(const std::function<std::string(std::size_t)>& make) {
  for (std::size_t depth = 300; depth > 1; --depth) {
    if (parses(make(depth))) return depth;
  }
  return 1;
}

// The nested expression `make(depth)` at its deepest, repeated as RETURN items.
inline std::string nested_items(const std::function<std::string(std::size_t)>& make) {
  const std::string one = make(deepest([&](std::size_t d) { return "RETURN " + make(d); }));
  return fill("RETURN ", ", ", "", same(one));
}

// The nested clause `make(depth)` at its deepest, repeated as clauses before `tail`.
inline std::string nested_clauses(std::string_view head,
                                  const std::function<std::string(std::size_t)>& make,
                                  std::string_view tail) {
  const std::string h(head);
  const std::string t(tail);
  const std::string one = make(deepest([&](std::size_t d) { return h + make(d) + t; }));
  return fill(h, " ", t, same(one));
}

// `a(i)` names: a0, a1, ...
inline std::string name(std::string_view prefix, std::size_t i) {
  return std::string(prefix) + std::to_string(i);
}

// A MATCH of `n` disconnected nodes a0 ... a(n-1): a scope of n variables.
inline std::string big_scope(std::size_t n) {
  std::string out = "MATCH ";
  for (std::size_t i = 0; i < n; ++i) out += (i ? ", (" : "(") + name("a", i) + ":Person)";
  return out;
}

// Misspellings at edit distance 1 of the given names: each letter in turn replaced by 'x', then
// by 'q', and so on, so that every one is distinct and has its suggestion.
inline std::function<std::string(std::size_t)> misspelt(std::vector<std::string> names) {
  return [names = std::move(names)](std::size_t i) {
    static constexpr std::string_view kLetters = "xqzjkvwy";
    std::size_t round = 0;
    for (;;) {
      for (const std::string& n : names) {
        if (i < n.size()) {
          std::string out = n;
          char c = kLetters[round % kLetters.size()];
          out[i] = out[i] == c ? 'w' : c;
          return out;
        }
        i -= n.size();
      }
      ++round;
    }
  };
}

// The longest `make(n)` that still parses after `head` (n up to 2000), repeated as RETURN items.
inline std::string chain_items(std::string_view head,
                               const std::function<std::string(std::size_t)>& make) {
  const std::string h(head);
  std::size_t good = 1;
  std::size_t bad = 2000;
  while (bad - good > 1) {
    std::size_t mid = (good + bad) / 2;
    (parses(h + make(mid)) ? good : bad) = mid;
  }
  return fill(h, ",", "", same(make(good)));
}

// `first` followed by n - 1 times `link`.
inline std::function<std::string(std::size_t)> chain(std::string first, std::string link) {
  return [=](std::size_t n) { return first + repeat(link, n - 1); };
}

struct WorstCase {
  const char* name;
  std::function<std::string()> make;
};

inline std::vector<WorstCase> worst_cases() {
  const std::vector<std::string> labels = {"Person",  "Movie",     "Company",   "Country", "Review",
                                           "Episode", "Character", "Publisher", "Festival"};
  const std::vector<std::string> keys = {"name", "title", "rating", "released", "year"};
  const std::vector<std::string> types = {"ACTED_IN",   "DIRECTED", "PRODUCED",
                                          "LOCATED_IN", "REVIEWED", "PUBLISHED"};
  return {
      // Long lists and many items.
      {"literal_list", [] { return fill("RETURN [", ",", "]", same("1")); }},
      {"string_list", [] { return fill("RETURN [", ",", "]", same("'a'")); }},
      {"function_args", [] { return fill("RETURN coalesce(", ",", ")", same("1")); }},
      {"sum_string_args", [] { return fill("RETURN sum(", ",", ")", same("'a'")); }},
      {"unknown_functions", [] { return fill("RETURN ", ",", "", same("f()")); }},
      {"return_same_variable", [] { return fill("MATCH (a:Person) RETURN ", ",", "", same("a")); }},
      {"return_unbound_variables",
       [] { return fill("RETURN ", ",", "", [](std::size_t i) { return name("v", i); }); }},
      {"return_properties",
       [] { return fill("MATCH (a:Person) RETURN ", ",", "", same("a.name")); }},
      {"with_aliases",
       [] {
         return fill("WITH ", ",", " RETURN *",
                     [](std::size_t i) { return "1 AS " + name("v", i); });
       }},
      {"order_by_items",
       [] { return fill("MATCH (a:Person) RETURN a AS b ORDER BY ", ",", "", same("b")); }},
      {"match_parts",
       [] {
         return fill("MATCH ", ",", " RETURN 1",
                     [](std::size_t i) { return "(" + name("a", i) + ")"; });
       }},
      {"scope_lookups",
       [] {
         return fill(big_scope(4000) + " RETURN ", ",", "",
                     [](std::size_t i) { return name("a", i % 4000); });
       }},
      // Operator chains as long as the builder's depth bound allows, repeated as items.
      {"chain_add", [] { return chain_items("RETURN ", chain("1", "+1")); }},
      {"chain_and", [] { return chain_items("RETURN ", chain("true", " AND true")); }},
      {"chain_or_xor", [] { return chain_items("RETURN ", chain("a", " OR a XOR a")); }},
      {"chain_comparison", [] { return chain_items("RETURN ", chain("1", "<1")); }},
      {"chain_string_ops", [] { return chain_items("RETURN ", chain("'a'", " STARTS WITH 'a'")); }},
      {"chain_property",
       [] { return chain_items("MATCH (n:Person) RETURN ", chain("n", ".name")); }},
      {"chain_index", [] { return chain_items("RETURN ", chain("x", "[0]")); }},
      {"chain_not",
       [] {
         return chain_items("RETURN ", [](std::size_t n) { return repeat("NOT ", n) + "a"; });
       }},
      {"chain_too_deep", [] { return fill("RETURN ", "+", "", same("1")); }},
      // Every nested form at its deepest.
      {"nest_parentheses",
       [] { return nested_items([](std::size_t d) { return nest("(", "1", ")", d); }); }},
      {"nest_lists",
       [] { return nested_items([](std::size_t d) { return nest("[", "1", "]", d); }); }},
      {"nest_maps",
       [] { return nested_items([](std::size_t d) { return nest("{a:", "1", "}", d); }); }},
      {"nest_functions",
       [] { return nested_items([](std::size_t d) { return nest("toLower(", "1", ")", d); }); }},
      {"nest_list_comprehensions",
       [] {
         return nested_items([](std::size_t d) { return nest("[x IN ", "[1]", " | x]", d); });
       }},
      {"nest_pattern_comprehensions",
       [] {
         return nested_items([](std::size_t d) { return nest("[(a)-->(b) | ", "1", "]", d); });
       }},
      {"nest_case",
       [] {
         return nested_items(
             [](std::size_t d) { return nest("CASE WHEN true THEN ", "1", " END", d); });
       }},
      {"nest_reduce",
       [] {
         return nested_items(
             [](std::size_t d) { return nest("reduce(s = 0, x IN ", "[1]", " | s)", d); });
       }},
      {"nest_quantifiers",
       [] {
         return nested_items(
             [](std::size_t d) { return nest("all(x IN ", "[1]", " WHERE x)", d); });
       }},
      {"nest_count_subqueries",
       [] {
         return nested_items([](std::size_t d) { return nest("COUNT { RETURN ", "1", " }", d); });
       }},
      {"nest_collect_subqueries",
       [] {
         return nested_items([](std::size_t d) { return nest("COLLECT { RETURN ", "1", " }", d); });
       }},
      {"nest_exists",
       [] {
         return nested_items(
             [](std::size_t d) { return nest("EXISTS { (a {p: ", "1", "}) }", d); });
       }},
      {"nest_call_subqueries",
       [] {
         return nested_clauses(
             "",
             [](std::size_t d) {
               return "CALL { " + nest("CALL { ", "RETURN 1 AS x", " } RETURN x", d - 1) + " }";
             },
             " RETURN 1");
       }},
      {"nest_foreach",
       [] {
         return nested_clauses(
             "MATCH (n:Person) ",
             [](std::size_t d) { return nest("FOREACH (x IN [1] | ", "SET n.name = x", ")", d); },
             "");
       }},
      // Nested bodies that start from the enclosing scope, with many variables in it.
      {"scope_pattern_comprehensions",
       [] { return fill(big_scope(2000) + " RETURN ", ",", "", same("[(a0)-->(b) | b]")); }},
      {"scope_nested_pattern_comprehensions",
       [] {
         std::string one = nest("[(a0)-->(b) | ", "b", "]", 100);
         return fill(big_scope(2000) + " RETURN ", ",", "", same(one));
       }},
      {"scope_exists",
       [] { return fill(big_scope(2000) + " RETURN ", ",", "", same("EXISTS { (a0) }")); }},
      {"scope_count_subqueries",
       [] { return fill(big_scope(2000) + " RETURN ", ",", "", same("COUNT { RETURN a0 }")); }},
      {"scope_call_subqueries",
       [] {
         return fill(big_scope(2000) + " ", " ", " RETURN 1", same("CALL { RETURN 1 AS x }"));
       }},
      {"scope_call_return_star",
       [] {
         return fill(big_scope(2000) + " ", " ", " RETURN 1",
                     same("CALL { WITH 1 AS x RETURN * }"));
       }},
      {"scope_unions",
       [] {
         return fill(big_scope(2000) + " RETURN 1 AS x ", " ", "", same("UNION RETURN 1 AS x"));
       }},
      // Long patterns.
      {"long_pattern",
       [] {
         return fill("MATCH (a:Person)", "", " RETURN a",
                     same("-[:ACTED_IN]->(:Movie)<-[:ACTED_IN]-(:Person)"));
       }},
      {"long_pattern_variables",
       [] {
         return fill("MATCH (a:Person)", "", " RETURN a", [](std::size_t i) {
           return "-[" + name("r", i) + ":ACTED_IN]-(" + name("n", i) + ":Person)";
         });
       }},
      {"long_pattern_wrong_endpoints",
       [] {
         return fill("MATCH (a:Movie)", "", " RETURN a", same("-[:ACTED_IN]->(:Movie:Person)"));
       }},
      {"long_pattern_var_length",
       [] { return fill("MATCH (a:Person)", "", " RETURN a", same("-[:ACTED_IN*]-(:Person)")); }},
      // Many clauses and branches.
      {"many_match_clauses", [] { return fill("", " ", " RETURN a", same("MATCH (a:Person)")); }},
      {"many_with_clauses",
       [] { return fill("MATCH (a:Person) ", " ", " RETURN a", same("WITH a")); }},
      {"many_unwind_clauses", [] { return fill("", " ", " RETURN x", same("UNWIND [1] AS x")); }},
      {"many_set_clauses",
       [] { return fill("MATCH (n:Person) ", " ", "", same("SET n.name = 1")); }},
      {"many_unions", [] { return fill("", " UNION ", "", same("RETURN 1 AS x")); }},
      {"many_case_alternatives",
       [] { return fill("RETURN CASE ", " ", " END", same("WHEN true THEN 1")); }},
      // Big maps.
      {"map_literal",
       [] {
         return fill("RETURN {", ",", "}", [](std::size_t i) { return name("k", i) + ":1"; });
       }},
      {"map_literal_same_key", [] { return fill("RETURN {", ",", "}", same("k:1")); }},
      {"property_map_unknown_keys",
       [] {
         return fill("MATCH (n:Person {", ",", "}) RETURN n",
                     [](std::size_t i) { return name("k", i) + ":1"; });
       }},
      // Many misspelt names: every finding has a suggestion, so the fix runs.
      {"misspelt_property_map",
       [=] {
         auto make = misspelt(keys);
         return fill("MATCH (n:Person {", ",", "}) RETURN n",
                     [&](std::size_t i) { return make(i) + ":1"; });
       }},
      {"misspelt_labels",
       [=] {
         auto make = misspelt(labels);
         return fill("MATCH ", ",", " RETURN 1",
                     [&](std::size_t i) { return "(:" + make(i) + ")"; });
       }},
      {"misspelt_rel_types",
       [=] {
         auto make = misspelt(types);
         return fill("MATCH (a)", "", " RETURN a",
                     [&](std::size_t i) { return "-[:" + make(i) + "]-()"; });
       }},
      {"misspelt_properties",
       [=] {
         auto make = misspelt(keys);
         return fill("MATCH (n:Person) RETURN ", ",", "",
                     [&](std::size_t i) { return "n." + make(i); });
       }},
      {"misspelt_quoted_labels",
       [=] {
         auto make = misspelt(labels);
         return fill("MATCH ", ",", " RETURN 1",
                     [&](std::size_t i) { return "(:`" + make(i) + "`)"; });
       }},
      {"misspelt_same_label", [] { return fill("MATCH ", ",", " RETURN 1", same("(:Persn)")); }},
      // Long literals and comments.
      {"long_string", [] { return "RETURN '" + std::string(kWorstCaseBytes - 9, 'a') + "'"; }},
      {"long_block_comment",
       [] { return "RETURN 1 /*" + std::string(kWorstCaseBytes - 13, 'c') + "*/"; }},
      {"many_line_comments", [] { return fill("RETURN 1", "", "", same("\n// a comment line")); }},
      {"comments_between_tokens",
       [] { return fill("RETURN ", " /* c */ , /* c */ ", "", same("1")); }},
  };
}

}  // namespace tessary::bench
