#pragma once
// The grammar: one function per rule, named after the rule, with the rule's production as its
// first comment, in the order of the grammar text. Each reads like its production, built from
// the combinators of recognizer_combinators.hpp and the character and word tests of
// recognizer_lexicon.hpp. The grammar's lookaheads (the reserved-word test, the word boundaries
// of the keyword operators) look only at characters, so they are written out where they stand
// and never record an attempt or leave a pair.
//
// `Grammar<Run>` is the grammar as written, compiled once for each run: as it stands for the
// recording run (recognizer.cpp), and for the run that records nothing with a few of its
// functions replaced by shortcuts (recognizer_quick.cpp).
#include <cstdint>
#include <string_view>

#include "parser/recognizer_combinators.hpp"
#include "parser/recognizer_lexicon.hpp"

namespace tessary::recognizer_detail {
namespace {

// One function per rule, declared from the rule table.
//
// The memoized rules are those the grammar reads again at the same position: `reading_clause`
// and `updating_clause` (a query part is read by multi_part_query and then by
// single_part_query), `atom` (a bracket is read as a list literal, a pattern comprehension and
// a list comprehension) and `expression` (a subscript is read again as a slice, a quantifier
// body as call arguments). With them every rule runs a bounded number of times per position.
// A memoized rule's function is its memo wrapper; the rule itself is the function named with
// "_rule" after it.
template <class Run>
struct Grammar {
#define TESSARY_RULE(name, display, kind) static bool name(State& s);
#include "parser/rules.def"
  static bool reading_clause_rule(State& s);
  static bool updating_clause_rule(State& s);
  static bool expression_rule(State& s);
  static bool atom_rule(State& s);

  // The rule and memo wrappers, with the steps of the record compiled in only for a run that
  // records.
  template <Rule R, bool (*First)(char) = nullptr, class Body>
  [[gnu::always_inline]] static bool rule(State& s, Body&& body) {
    return recognizer_detail::rule<R, First, Run::kRecords>(s, static_cast<Body&&>(body));
  }
  template <Rule R, bool (*F)(State&)>
  [[gnu::always_inline]] static bool memoized(State& s) {
    return recognizer_detail::memoized<R, F, Run::kRecords>(s);
  }
};

// ---------------------------------------------------------------------------------------------
// Frame: the end of the input, and the silent rules (the implicit skip reads whitespace and
// comments itself; these two run only when called from outside)
// ---------------------------------------------------------------------------------------------

// EOI: the end of the input
template <class Run>
bool Grammar<Run>::EOI(State& s) {
  return rule<Rule::EOI>(s, [](State& st) { return st.pos == st.len; });
}

// WHITESPACE (silent): " " | "\t" | "\r" | "\n"
template <class Run>
bool Grammar<Run>::WHITESPACE(State& s) {
  return one<is_ws>(s);
}

// COMMENT (silent): "//" ~ (!"\n" ~ ANY)* ~ "\n"? | "/*" ~ (!"*/" ~ ANY)* ~ "*/"
template <class Run>
bool Grammar<Run>::COMMENT(State& s) {
  const std::uint32_t p = s.pos;
  if (p + 1 >= s.len || s.text[p] != '/') return false;
  const std::string_view rest(s.text + p + 2, s.len - p - 2);
  if (s.text[p + 1] == '/') {
    const auto nl = rest.find('\n');
    s.pos = nl == std::string_view::npos ? s.len : p + 2 + static_cast<std::uint32_t>(nl) + 1;
    return true;
  }
  if (s.text[p + 1] != '*') return false;
  const auto close = rest.find("*/");
  if (close == std::string_view::npos) return false;
  s.pos = p + 2 + static_cast<std::uint32_t>(close) + 2;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Lexical rules
// ---------------------------------------------------------------------------------------------

// identifier (atomic): !keyword ~ (ASCII_ALPHA | "_") ~ (ASCII_ALPHANUMERIC | "_")*
//                    | backtick_identifier
template <class Run>
bool Grammar<Run>::identifier(State& s) {
  return rule<Rule::identifier>(s, choice(unreserved_word, backtick_identifier));
}

// backtick_identifier (atomic): "`" ~ (!"`" ~ ANY)* ~ "`"
template <class Run>
bool Grammar<Run>::backtick_identifier(State& s) {
  return rule<Rule::backtick_identifier>(s, seq(lit("`"), quoted_body<'`'>));
}

// keyword: (^"ALL" | ^"AND" | ... | ^"YIELD") ~ !(ASCII_ALPHANUMERIC | "_")
template <class Run>
bool Grammar<Run>::keyword(State& s) {
  return rule<Rule::keyword>(s, keyword_body);
}

// variable (atomic): identifier
template <class Run>
bool Grammar<Run>::variable(State& s) {
  return rule<Rule::variable, name_start>(s, identifier);
}

// label_name (atomic): identifier
template <class Run>
bool Grammar<Run>::label_name(State& s) {
  return rule<Rule::label_name, name_start>(s, identifier);
}

// rel_type_name (atomic): identifier
template <class Run>
bool Grammar<Run>::rel_type_name(State& s) {
  return rule<Rule::rel_type_name, name_start>(s, identifier);
}

// property_key_name (atomic): identifier
template <class Run>
bool Grammar<Run>::property_key_name(State& s) {
  return rule<Rule::property_key_name, name_start>(s, identifier);
}

// procedure_result_field (atomic): identifier
template <class Run>
bool Grammar<Run>::procedure_result_field(State& s) {
  return rule<Rule::procedure_result_field, name_start>(s, identifier);
}

// procedure_name (atomic): identifier ~ ("." ~ identifier)*
template <class Run>
bool Grammar<Run>::procedure_name(State& s) {
  return rule<Rule::procedure_name, name_start>(s,
                                                seq(identifier, star(seq(lit("."), identifier))));
}

// namespace (atomic): (identifier ~ ".")+
template <class Run>
bool Grammar<Run>::namespace_(State& s) {
  return rule<Rule::namespace_>(s, plus(seq(identifier, lit("."))));
}

// function_name (atomic): namespace? ~ (ASCII_ALPHA | "_") ~ (ASCII_ALPHANUMERIC | "_")*
template <class Run>
bool Grammar<Run>::function_name(State& s) {
  return rule<Rule::function_name, name_start>(
      s, seq(opt(namespace_), one<is_word_start>, many<is_word>));
}

// or_kw (atomic): ^"OR" ~ !(ASCII_ALPHANUMERIC | "_")
template <class Run>
bool Grammar<Run>::or_kw(State& s) {
  return rule<Rule::or_kw, first_of<'o', 'O'>>(s, seq(ilit<"OR">(), word_end));
}

// xor_kw (atomic): ^"XOR" ~ !(ASCII_ALPHANUMERIC | "_")
template <class Run>
bool Grammar<Run>::xor_kw(State& s) {
  return rule<Rule::xor_kw, first_of<'x', 'X'>>(s, seq(ilit<"XOR">(), word_end));
}

// and_kw (atomic): ^"AND" ~ !(ASCII_ALPHANUMERIC | "_")
template <class Run>
bool Grammar<Run>::and_kw(State& s) {
  return rule<Rule::and_kw, first_of<'a', 'A'>>(s, seq(ilit<"AND">(), word_end));
}

// not_kw (atomic): ^"NOT" ~ !(ASCII_ALPHANUMERIC | "_")
template <class Run>
bool Grammar<Run>::not_kw(State& s) {
  return rule<Rule::not_kw, first_of<'n', 'N'>>(s, seq(ilit<"NOT">(), word_end));
}

// integer_literal (atomic): "0x" ~ ASCII_HEX_DIGIT+ | "0o" ~ ASCII_OCT_DIGIT+ | ASCII_DIGIT+
template <class Run>
bool Grammar<Run>::integer_literal(State& s) {
  return rule<Rule::integer_literal, is_digit>(
      s, choice(seq(lit("0x"), one<is_hex>, many<is_hex>),
                seq(lit("0o"), one<is_oct>, many<is_oct>), seq(one<is_digit>, many<is_digit>)));
}

// float_literal (atomic): ASCII_DIGIT+ ~ "." ~ ASCII_DIGIT* ~ (("e" | "E") ~ ("+" | "-")?
//                         ~ ASCII_DIGIT+)?
template <class Run>
bool Grammar<Run>::float_literal(State& s) {
  return rule<Rule::float_literal, is_digit>(
      s, seq(one<is_digit>, many<is_digit>, lit("."), many<is_digit>,
             opt(seq(one<is_exp>, opt(one<is_sign>), one<is_digit>, many<is_digit>))));
}

// string_literal (atomic): "\"" ~ (!"\"" ~ ANY)* ~ "\"" | "'" ~ (!"'" ~ ANY)* ~ "'"
template <class Run>
bool Grammar<Run>::string_literal(State& s) {
  return rule<Rule::string_literal, first_of<'"', '\''>>(
      s, choice(seq(lit("\""), quoted_body<'"'>), seq(lit("'"), quoted_body<'\''>)));
}

// boolean_literal: ^"TRUE" | ^"FALSE"
template <class Run>
bool Grammar<Run>::boolean_literal(State& s) {
  return rule<Rule::boolean_literal, first_of<'t', 'T', 'f', 'F'>>(
      s, choice(ilit<"TRUE">(), ilit<"FALSE">()));
}

// null_literal: ^"NULL"
template <class Run>
bool Grammar<Run>::null_literal(State& s) {
  return rule<Rule::null_literal, first_of<'n', 'N'>>(s, ilit<"NULL">());
}

// parameter (atomic): "$" ~ ((ASCII_ALPHA | "_") ~ (ASCII_ALPHANUMERIC | "_")* | ASCII_DIGIT+)
template <class Run>
bool Grammar<Run>::parameter(State& s) {
  return rule<Rule::parameter, first_of<'$'>>(
      s, seq(lit("$"),
             choice(seq(one<is_word_start>, many<is_word>), seq(one<is_digit>, many<is_digit>))));
}

// left_arrow: "<"
template <class Run>
bool Grammar<Run>::left_arrow(State& s) {
  return rule<Rule::left_arrow, first_of<'<'>>(s, lit("<"));
}

// right_arrow: ">"
template <class Run>
bool Grammar<Run>::right_arrow(State& s) {
  return rule<Rule::right_arrow, first_of<'>'>>(s, lit(">"));
}

// ---------------------------------------------------------------------------------------------
// Expression rules
// ---------------------------------------------------------------------------------------------

// expression: or_expr
template <class Run>
bool Grammar<Run>::expression_rule(State& s) {
  return rule<Rule::expression>(s, or_expr);
}
template <class Run>
bool Grammar<Run>::expression(State& s) {
  return memoized<Rule::expression, expression_rule>(s);
}

// or_expr: xor_expr ~ (or_kw ~ xor_expr)*
template <class Run>
bool Grammar<Run>::or_expr(State& s) {
  return rule<Rule::or_expr>(s, seq(xor_expr, star(seq(or_kw, xor_expr))));
}

// xor_expr: and_expr ~ (xor_kw ~ and_expr)*
template <class Run>
bool Grammar<Run>::xor_expr(State& s) {
  return rule<Rule::xor_expr>(s, seq(and_expr, star(seq(xor_kw, and_expr))));
}

// and_expr: not_expr ~ (and_kw ~ not_expr)*
template <class Run>
bool Grammar<Run>::and_expr(State& s) {
  return rule<Rule::and_expr>(s, seq(not_expr, star(seq(and_kw, not_expr))));
}

// not_expr: not_kw* ~ comparison_expr
template <class Run>
bool Grammar<Run>::not_expr(State& s) {
  return rule<Rule::not_expr>(s, seq(star(not_kw), comparison_expr));
}

// comparison_expr: add_sub_expr ~ (comparison_op ~ add_sub_expr)*
template <class Run>
bool Grammar<Run>::comparison_expr(State& s) {
  return rule<Rule::comparison_expr>(s, seq(add_sub_expr, star(seq(comparison_op, add_sub_expr))));
}

// comparison_op: "<=" | ">=" | "<>" | "<" | ">" | "=~" | "="
//   | ^"IN" ~ !(ASCII_ALPHANUMERIC | "_") | ^"STARTS" ~ ^"WITH" ~ !(ASCII_ALPHANUMERIC | "_")
//   | ^"ENDS" ~ ^"WITH" ~ !(ASCII_ALPHANUMERIC | "_") | ^"CONTAINS" ~ !(ASCII_ALPHANUMERIC | "_")
// No skip stands before the word-boundary tests.
template <class Run>
bool Grammar<Run>::comparison_op(State& s) {
  return rule<Rule::comparison_op, comparison_start>(
      s, choice(lit("<="), lit(">="), lit("<>"), lit("<"), lit(">"), lit("=~"), lit("="),
                whole_word(ilit<"IN">()), seq(ilit<"STARTS">(), whole_word(ilit<"WITH">())),
                seq(ilit<"ENDS">(), whole_word(ilit<"WITH">())), whole_word(ilit<"CONTAINS">())));
}

// add_sub_expr: mul_div_expr ~ (("+" | "-") ~ mul_div_expr)*
template <class Run>
bool Grammar<Run>::add_sub_expr(State& s) {
  return rule<Rule::add_sub_expr>(
      s, seq(mul_div_expr, star(seq(choice(lit("+"), lit("-")), mul_div_expr))));
}

// mul_div_expr: mod_expr ~ (("*" | "/") ~ mod_expr)*
template <class Run>
bool Grammar<Run>::mul_div_expr(State& s) {
  return rule<Rule::mul_div_expr>(s,
                                  seq(mod_expr, star(seq(choice(lit("*"), lit("/")), mod_expr))));
}

// mod_expr: power_expr ~ ("%" ~ power_expr)*
template <class Run>
bool Grammar<Run>::mod_expr(State& s) {
  return rule<Rule::mod_expr>(s, seq(power_expr, star(seq(lit("%"), power_expr))));
}

// power_expr: unary_expr ~ ("^" ~ unary_expr)*
template <class Run>
bool Grammar<Run>::power_expr(State& s) {
  return rule<Rule::power_expr>(s, seq(unary_expr, star(seq(lit("^"), unary_expr))));
}

// unary_expr: "-"? ~ postfix_expr
template <class Run>
bool Grammar<Run>::unary_expr(State& s) {
  return rule<Rule::unary_expr>(s, seq(opt(lit("-")), postfix_expr));
}

// postfix_expr: atom ~ postfix_op*
template <class Run>
bool Grammar<Run>::postfix_expr(State& s) {
  return rule<Rule::postfix_expr>(s, seq(atom, star(postfix_op)));
}

// postfix_op: null_check_op | property_lookup | subscript_op | list_slice_op
template <class Run>
bool Grammar<Run>::postfix_op(State& s) {
  return rule<Rule::postfix_op, postfix_start>(
      s, choice(null_check_op, property_lookup, subscript_op, list_slice_op));
}

// null_check_op (atomic): ^"IS" ~ (" " | "\t" | "\r" | "\n")+
//   ~ (^"NOT" ~ (" " | "\t" | "\r" | "\n")+ ~ ^"NULL" ~ !(ASCII_ALPHANUMERIC | "_")
//     | ^"NULL" ~ !(ASCII_ALPHANUMERIC | "_"))
template <class Run>
bool Grammar<Run>::null_check_op(State& s) {
  const auto spaces = plus(one<is_ws>);
  return rule<Rule::null_check_op, first_of<'i', 'I'>>(
      s, seq(ilit<"IS">(), spaces,
             choice(seq(ilit<"NOT">(), spaces, ilit<"NULL">(), word_end),
                    seq(ilit<"NULL">(), word_end))));
}

// property_lookup: "." ~ property_key_name
template <class Run>
bool Grammar<Run>::property_lookup(State& s) {
  return rule<Rule::property_lookup, first_of<'.'>>(s, seq(lit("."), property_key_name));
}

// subscript_op: "[" ~ expression ~ "]"
template <class Run>
bool Grammar<Run>::subscript_op(State& s) {
  return rule<Rule::subscript_op, first_of<'['>>(s, seq(lit("["), expression, lit("]")));
}

// list_slice_op: "[" ~ expression? ~ ".." ~ expression? ~ "]"
template <class Run>
bool Grammar<Run>::list_slice_op(State& s) {
  return rule<Rule::list_slice_op, first_of<'['>>(
      s, seq(lit("["), opt(expression), lit(".."), opt(expression), lit("]")));
}

// atom: reduce_expression | shortest_path_call | literal | parameter | case_expression
//     | pattern_comprehension | list_comprehension | quantifier_expression | exists_subquery
//     | count_subquery | collect_subquery | count_star | function_invocation | variable
//     | parenthesized_expr
template <class Run>
bool Grammar<Run>::atom_rule(State& s) {
  return rule<Rule::atom, atom_start>(
      s, choice(reduce_expression, shortest_path_call, literal, parameter, case_expression,
                pattern_comprehension, list_comprehension, quantifier_expression, exists_subquery,
                count_subquery, collect_subquery, count_star, function_invocation, variable,
                parenthesized_expr));
}
template <class Run>
bool Grammar<Run>::atom(State& s) {
  return memoized<Rule::atom, atom_rule>(s);
}

// parenthesized_expr: "(" ~ expression ~ ")"
template <class Run>
bool Grammar<Run>::parenthesized_expr(State& s) {
  return rule<Rule::parenthesized_expr, first_of<'('>>(s, seq(lit("("), expression, lit(")")));
}

// count_star: ^"COUNT" ~ "(" ~ "*" ~ ")"
template <class Run>
bool Grammar<Run>::count_star(State& s) {
  return rule<Rule::count_star, first_of<'c', 'C'>>(
      s, seq(ilit<"COUNT">(), lit("("), lit("*"), lit(")")));
}

// function_invocation: function_name ~ "(" ~ ^"DISTINCT"?
//                      ~ (expression ~ ("," ~ expression)*)? ~ ")"
template <class Run>
bool Grammar<Run>::function_invocation(State& s) {
  return rule<Rule::function_invocation>(
      s, seq(function_name, lit("("), opt(ilit<"DISTINCT">()),
             opt(seq(expression, star(seq(lit(","), expression)))), lit(")")));
}

// literal: float_literal | integer_literal | string_literal | boolean_literal | null_literal
//        | list_literal | map_literal
template <class Run>
bool Grammar<Run>::literal(State& s) {
  return rule<Rule::literal, literal_start>(
      s, choice(float_literal, integer_literal, string_literal, boolean_literal, null_literal,
                list_literal, map_literal));
}

// list_literal: "[" ~ (expression ~ ("," ~ expression)*)? ~ "]"
template <class Run>
bool Grammar<Run>::list_literal(State& s) {
  return rule<Rule::list_literal, first_of<'['>>(
      s, seq(lit("["), opt(seq(expression, star(seq(lit(","), expression)))), lit("]")));
}

// map_literal: "{" ~ (property_key_value_pair ~ ("," ~ property_key_value_pair)*)? ~ "}"
template <class Run>
bool Grammar<Run>::map_literal(State& s) {
  return rule<Rule::map_literal, first_of<'{'>>(
      s,
      seq(lit("{"), opt(seq(property_key_value_pair, star(seq(lit(","), property_key_value_pair)))),
          lit("}")));
}

// property_key_value_pair: property_key_name ~ ":" ~ expression
template <class Run>
bool Grammar<Run>::property_key_value_pair(State& s) {
  return rule<Rule::property_key_value_pair>(s, seq(property_key_name, lit(":"), expression));
}

// property_expression: variable ~ property_lookup ~ property_lookup*
template <class Run>
bool Grammar<Run>::property_expression(State& s) {
  return rule<Rule::property_expression>(s, seq(variable, property_lookup, star(property_lookup)));
}

// ---------------------------------------------------------------------------------------------
// Special expression forms
// ---------------------------------------------------------------------------------------------

// reduce_expression: ^"REDUCE" ~ "(" ~ variable ~ "=" ~ expression ~ "," ~ variable ~ ^"IN"
//                    ~ expression ~ "|" ~ expression ~ ")"
template <class Run>
bool Grammar<Run>::reduce_expression(State& s) {
  return rule<Rule::reduce_expression, first_of<'r', 'R'>>(
      s, seq(ilit<"REDUCE">(), lit("("), variable, lit("="), expression, lit(","), variable,
             ilit<"IN">(), expression, lit("|"), expression, lit(")")));
}

// shortest_path_call: (^"allShortestPaths" | ^"shortestPath") ~ "(" ~ node_pattern
//                     ~ (relationship_pattern ~ node_pattern)* ~ ")"
template <class Run>
bool Grammar<Run>::shortest_path_call(State& s) {
  return rule<Rule::shortest_path_call, first_of<'a', 'A', 's', 'S'>>(
      s, seq(choice(ilit<"allShortestPaths">(), ilit<"shortestPath">()), lit("("), node_pattern,
             star(seq(relationship_pattern, node_pattern)), lit(")")));
}

// case_expression: ^"CASE" ~ expression? ~ (^"WHEN" ~ expression ~ ^"THEN" ~ expression)+
//                  ~ (^"ELSE" ~ expression)? ~ ^"END"
template <class Run>
bool Grammar<Run>::case_expression(State& s) {
  return rule<Rule::case_expression, first_of<'c', 'C'>>(
      s, seq(ilit<"CASE">(), opt(expression),
             plus(seq(ilit<"WHEN">(), expression, ilit<"THEN">(), expression)),
             opt(seq(ilit<"ELSE">(), expression)), ilit<"END">()));
}

// list_comprehension: "[" ~ filter_expression ~ ("|" ~ expression)? ~ "]"
template <class Run>
bool Grammar<Run>::list_comprehension(State& s) {
  return rule<Rule::list_comprehension, first_of<'['>>(
      s, seq(lit("["), filter_expression, opt(seq(lit("|"), expression)), lit("]")));
}

// filter_expression: id_in_coll ~ (^"WHERE" ~ expression)?
template <class Run>
bool Grammar<Run>::filter_expression(State& s) {
  return rule<Rule::filter_expression>(s, seq(id_in_coll, opt(seq(ilit<"WHERE">(), expression))));
}

// id_in_coll: variable ~ ^"IN" ~ expression
template <class Run>
bool Grammar<Run>::id_in_coll(State& s) {
  return rule<Rule::id_in_coll>(s, seq(variable, ilit<"IN">(), expression));
}

// quantifier_expression: (^"ALL" | ^"ANY" | ^"NONE" | ^"SINGLE") ~ "(" ~ filter_expression
//                        ~ ")"
template <class Run>
bool Grammar<Run>::quantifier_expression(State& s) {
  return rule<Rule::quantifier_expression, first_of<'a', 'A', 'n', 'N', 's', 'S'>>(
      s, seq(choice(ilit<"ALL">(), ilit<"ANY">(), ilit<"NONE">(), ilit<"SINGLE">()), lit("("),
             filter_expression, lit(")")));
}

// exists_subquery: ^"EXISTS" ~ "{" ~ pattern ~ "}"
template <class Run>
bool Grammar<Run>::exists_subquery(State& s) {
  return rule<Rule::exists_subquery, first_of<'e', 'E'>>(
      s, seq(ilit<"EXISTS">(), lit("{"), pattern, lit("}")));
}

// pattern_comprehension: "[" ~ pattern_element ~ (^"WHERE" ~ expression)? ~ "|" ~ expression
//                        ~ "]"
template <class Run>
bool Grammar<Run>::pattern_comprehension(State& s) {
  return rule<Rule::pattern_comprehension, first_of<'['>>(
      s, seq(lit("["), pattern_element, opt(seq(ilit<"WHERE">(), expression)), lit("|"), expression,
             lit("]")));
}

// count_subquery: ^"COUNT" ~ "{" ~ regular_query ~ "}"
template <class Run>
bool Grammar<Run>::count_subquery(State& s) {
  return rule<Rule::count_subquery, first_of<'c', 'C'>>(
      s, seq(ilit<"COUNT">(), lit("{"), regular_query, lit("}")));
}

// collect_subquery: ^"COLLECT" ~ "{" ~ regular_query ~ "}"
template <class Run>
bool Grammar<Run>::collect_subquery(State& s) {
  return rule<Rule::collect_subquery, first_of<'c', 'C'>>(
      s, seq(ilit<"COLLECT">(), lit("{"), regular_query, lit("}")));
}

// ---------------------------------------------------------------------------------------------
// Query and clause rules
// ---------------------------------------------------------------------------------------------

// cypher: SOI ~ statement ~ ";"? ~ EOI
template <class Run>
bool Grammar<Run>::cypher(State& s) {
  return rule<Rule::cypher>(s, seq(soi, statement, opt(lit(";")), EOI));
}

// statement: regular_query | standalone_call
template <class Run>
bool Grammar<Run>::statement(State& s) {
  return rule<Rule::statement>(s, choice(regular_query, standalone_call));
}

// regular_query: single_query ~ union_clause*
template <class Run>
bool Grammar<Run>::regular_query(State& s) {
  return rule<Rule::regular_query>(s, seq(single_query, star(union_clause)));
}

// union_clause: ^"UNION" ~ ^"ALL"? ~ single_query
template <class Run>
bool Grammar<Run>::union_clause(State& s) {
  return rule<Rule::union_clause, first_of<'u', 'U'>>(
      s, seq(ilit<"UNION">(), opt(ilit<"ALL">()), single_query));
}

// single_query: multi_part_query | single_part_query
template <class Run>
bool Grammar<Run>::single_query(State& s) {
  return rule<Rule::single_query>(s, choice(multi_part_query, single_part_query));
}

// single_part_query: reading_clause+ ~ updating_clause* ~ return_clause?
//                  | updating_clause+ ~ return_clause? | return_clause
template <class Run>
bool Grammar<Run>::single_part_query(State& s) {
  return rule<Rule::single_part_query>(
      s, choice(seq(plus(reading_clause), star(updating_clause), opt(return_clause)),
                seq(plus(updating_clause), opt(return_clause)), return_clause));
}

// multi_part_query: (reading_clause* ~ updating_clause* ~ with_clause)+
//                   ~ reading_clause* ~ updating_clause* ~ return_clause?
template <class Run>
bool Grammar<Run>::multi_part_query(State& s) {
  return rule<Rule::multi_part_query>(
      s, seq(plus(seq(star(reading_clause), star(updating_clause), with_clause)),
             star(reading_clause), star(updating_clause), opt(return_clause)));
}

// reading_clause: match_clause | unwind_clause | call_subquery | in_query_call
template <class Run>
bool Grammar<Run>::reading_clause_rule(State& s) {
  return rule<Rule::reading_clause, reading_start>(
      s, choice(match_clause, unwind_clause, call_subquery, in_query_call));
}
template <class Run>
bool Grammar<Run>::reading_clause(State& s) {
  return memoized<Rule::reading_clause, reading_clause_rule>(s);
}

// match_clause: ^"OPTIONAL"? ~ ^"MATCH" ~ pattern ~ where_clause?
template <class Run>
bool Grammar<Run>::match_clause(State& s) {
  return rule<Rule::match_clause, first_of<'o', 'O', 'm', 'M'>>(
      s, seq(opt(ilit<"OPTIONAL">()), ilit<"MATCH">(), pattern, opt(where_clause)));
}

// unwind_clause: ^"UNWIND" ~ expression ~ ^"AS" ~ variable
template <class Run>
bool Grammar<Run>::unwind_clause(State& s) {
  return rule<Rule::unwind_clause, first_of<'u', 'U'>>(
      s, seq(ilit<"UNWIND">(), expression, ilit<"AS">(), variable));
}

// call_subquery: ^"CALL" ~ "{" ~ regular_query ~ "}"
template <class Run>
bool Grammar<Run>::call_subquery(State& s) {
  return rule<Rule::call_subquery, first_of<'c', 'C'>>(
      s, seq(ilit<"CALL">(), lit("{"), regular_query, lit("}")));
}

// in_query_call: ^"CALL" ~ explicit_procedure_invocation ~ (^"YIELD" ~ yield_items)?
template <class Run>
bool Grammar<Run>::in_query_call(State& s) {
  return rule<Rule::in_query_call, first_of<'c', 'C'>>(
      s,
      seq(ilit<"CALL">(), explicit_procedure_invocation, opt(seq(ilit<"YIELD">(), yield_items))));
}

// standalone_call: ^"CALL" ~ explicit_procedure_invocation ~ (^"YIELD" ~ yield_items)?
template <class Run>
bool Grammar<Run>::standalone_call(State& s) {
  return rule<Rule::standalone_call, first_of<'c', 'C'>>(
      s,
      seq(ilit<"CALL">(), explicit_procedure_invocation, opt(seq(ilit<"YIELD">(), yield_items))));
}

// explicit_procedure_invocation: procedure_name ~ "(" ~ (expression ~ ("," ~ expression)*)?
//                                ~ ")"
template <class Run>
bool Grammar<Run>::explicit_procedure_invocation(State& s) {
  return rule<Rule::explicit_procedure_invocation>(
      s, seq(procedure_name, lit("("), opt(seq(expression, star(seq(lit(","), expression)))),
             lit(")")));
}

// yield_items: yield_item ~ ("," ~ yield_item)*
template <class Run>
bool Grammar<Run>::yield_items(State& s) {
  return rule<Rule::yield_items>(s, seq(yield_item, star(seq(lit(","), yield_item))));
}

// yield_item: (procedure_result_field ~ ^"AS")? ~ variable
template <class Run>
bool Grammar<Run>::yield_item(State& s) {
  return rule<Rule::yield_item>(s, seq(opt(seq(procedure_result_field, ilit<"AS">())), variable));
}

// updating_clause: create_clause | merge_clause | foreach_clause | set_clause | remove_clause
//                | delete_clause
template <class Run>
bool Grammar<Run>::updating_clause_rule(State& s) {
  return rule<Rule::updating_clause, updating_start>(
      s, choice(create_clause, merge_clause, foreach_clause, set_clause, remove_clause,
                delete_clause));
}
template <class Run>
bool Grammar<Run>::updating_clause(State& s) {
  return memoized<Rule::updating_clause, updating_clause_rule>(s);
}

// create_clause: ^"CREATE" ~ pattern
template <class Run>
bool Grammar<Run>::create_clause(State& s) {
  return rule<Rule::create_clause, first_of<'c', 'C'>>(s, seq(ilit<"CREATE">(), pattern));
}

// merge_clause: ^"MERGE" ~ pattern_part ~ on_match_or_create*
template <class Run>
bool Grammar<Run>::merge_clause(State& s) {
  return rule<Rule::merge_clause, first_of<'m', 'M'>>(
      s, seq(ilit<"MERGE">(), pattern_part, star(on_match_or_create)));
}

// on_match_or_create: ^"ON" ~ (^"MATCH" ~ set_clause | ^"CREATE" ~ set_clause)
template <class Run>
bool Grammar<Run>::on_match_or_create(State& s) {
  return rule<Rule::on_match_or_create, first_of<'o', 'O'>>(
      s, seq(ilit<"ON">(),
             choice(seq(ilit<"MATCH">(), set_clause), seq(ilit<"CREATE">(), set_clause))));
}

// set_clause: ^"SET" ~ set_item ~ ("," ~ set_item)*
template <class Run>
bool Grammar<Run>::set_clause(State& s) {
  return rule<Rule::set_clause, first_of<'s', 'S'>>(
      s, seq(ilit<"SET">(), set_item, star(seq(lit(","), set_item))));
}

// set_item: property_expression ~ "=" ~ expression | variable ~ "=" ~ expression
//         | variable ~ ("+=" ~ expression | node_labels)
template <class Run>
bool Grammar<Run>::set_item(State& s) {
  return rule<Rule::set_item>(
      s, choice(seq(property_expression, lit("="), expression), seq(variable, lit("="), expression),
                seq(variable, choice(seq(lit("+="), expression), node_labels))));
}

// remove_clause: ^"REMOVE" ~ remove_item ~ ("," ~ remove_item)*
template <class Run>
bool Grammar<Run>::remove_clause(State& s) {
  return rule<Rule::remove_clause, first_of<'r', 'R'>>(
      s, seq(ilit<"REMOVE">(), remove_item, star(seq(lit(","), remove_item))));
}

// remove_item: variable ~ node_labels | property_expression
template <class Run>
bool Grammar<Run>::remove_item(State& s) {
  return rule<Rule::remove_item>(s, choice(seq(variable, node_labels), property_expression));
}

// delete_clause: ^"DETACH"? ~ ^"DELETE" ~ expression ~ ("," ~ expression)*
template <class Run>
bool Grammar<Run>::delete_clause(State& s) {
  return rule<Rule::delete_clause, first_of<'d', 'D'>>(
      s, seq(opt(ilit<"DETACH">()), ilit<"DELETE">(), expression, star(seq(lit(","), expression))));
}

// foreach_clause: ^"FOREACH" ~ "(" ~ variable ~ ^"IN" ~ expression ~ "|" ~ updating_clause+
//                 ~ ")"
template <class Run>
bool Grammar<Run>::foreach_clause(State& s) {
  return rule<Rule::foreach_clause, first_of<'f', 'F'>>(
      s, seq(ilit<"FOREACH">(), lit("("), variable, ilit<"IN">(), expression, lit("|"),
             plus(updating_clause), lit(")")));
}

// with_clause: ^"WITH" ~ ^"DISTINCT"? ~ return_body ~ where_clause?
template <class Run>
bool Grammar<Run>::with_clause(State& s) {
  return rule<Rule::with_clause, first_of<'w', 'W'>>(
      s, seq(ilit<"WITH">(), opt(ilit<"DISTINCT">()), return_body, opt(where_clause)));
}

// return_clause: ^"RETURN" ~ ^"DISTINCT"? ~ return_body
template <class Run>
bool Grammar<Run>::return_clause(State& s) {
  return rule<Rule::return_clause, first_of<'r', 'R'>>(
      s, seq(ilit<"RETURN">(), opt(ilit<"DISTINCT">()), return_body));
}

// return_body: return_items ~ order_clause? ~ skip_clause? ~ limit_clause?
template <class Run>
bool Grammar<Run>::return_body(State& s) {
  return rule<Rule::return_body>(
      s, seq(return_items, opt(order_clause), opt(skip_clause), opt(limit_clause)));
}

// return_items: "*" | return_item ~ ("," ~ return_item)*
template <class Run>
bool Grammar<Run>::return_items(State& s) {
  return rule<Rule::return_items>(
      s, choice(lit("*"), seq(return_item, star(seq(lit(","), return_item)))));
}

// return_item: expression ~ (^"AS" ~ variable)?
template <class Run>
bool Grammar<Run>::return_item(State& s) {
  return rule<Rule::return_item>(s, seq(expression, opt(seq(ilit<"AS">(), variable))));
}

// order_clause: ^"ORDER" ~ ^"BY" ~ sort_item ~ ("," ~ sort_item)*
template <class Run>
bool Grammar<Run>::order_clause(State& s) {
  return rule<Rule::order_clause, first_of<'o', 'O'>>(
      s, seq(ilit<"ORDER">(), ilit<"BY">(), sort_item, star(seq(lit(","), sort_item))));
}

// sort_item: expression ~ (^"ASCENDING" | ^"ASC" | ^"DESCENDING" | ^"DESC")?
template <class Run>
bool Grammar<Run>::sort_item(State& s) {
  return rule<Rule::sort_item>(
      s, seq(expression, opt(choice(ilit<"ASCENDING">(), ilit<"ASC">(), ilit<"DESCENDING">(),
                                    ilit<"DESC">()))));
}

// skip_clause: ^"SKIP" ~ expression
template <class Run>
bool Grammar<Run>::skip_clause(State& s) {
  return rule<Rule::skip_clause, first_of<'s', 'S'>>(s, seq(ilit<"SKIP">(), expression));
}

// limit_clause: ^"LIMIT" ~ expression
template <class Run>
bool Grammar<Run>::limit_clause(State& s) {
  return rule<Rule::limit_clause, first_of<'l', 'L'>>(s, seq(ilit<"LIMIT">(), expression));
}

// where_clause: ^"WHERE" ~ expression
template <class Run>
bool Grammar<Run>::where_clause(State& s) {
  return rule<Rule::where_clause, first_of<'w', 'W'>>(s, seq(ilit<"WHERE">(), expression));
}

// ---------------------------------------------------------------------------------------------
// Pattern rules
// ---------------------------------------------------------------------------------------------

// pattern: pattern_part ~ ("," ~ pattern_part)*
template <class Run>
bool Grammar<Run>::pattern(State& s) {
  return rule<Rule::pattern>(s, seq(pattern_part, star(seq(lit(","), pattern_part))));
}

// pattern_part: (variable ~ "=")? ~ pattern_element
template <class Run>
bool Grammar<Run>::pattern_part(State& s) {
  return rule<Rule::pattern_part>(s, seq(opt(seq(variable, lit("="))), pattern_element));
}

// pattern_element: shortest_path_call | node_pattern ~ (relationship_pattern ~ node_pattern)*
template <class Run>
bool Grammar<Run>::pattern_element(State& s) {
  return rule<Rule::pattern_element>(
      s,
      choice(shortest_path_call, seq(node_pattern, star(seq(relationship_pattern, node_pattern)))));
}

// node_pattern: "(" ~ variable? ~ node_labels? ~ properties? ~ ")"
template <class Run>
bool Grammar<Run>::node_pattern(State& s) {
  return rule<Rule::node_pattern, first_of<'('>>(
      s, seq(lit("("), opt(variable), opt(node_labels), opt(properties), lit(")")));
}

// node_labels: (":" ~ label_name)+
template <class Run>
bool Grammar<Run>::node_labels(State& s) {
  return rule<Rule::node_labels, first_of<':'>>(s, plus(seq(lit(":"), label_name)));
}

// relationship_pattern: left_arrow? ~ ("-" ~ "[" ~ variable? ~ rel_types? ~ range_literal?
//                       ~ properties? ~ "]" ~ "-" ~ right_arrow? | "--" ~ right_arrow?)
template <class Run>
bool Grammar<Run>::relationship_pattern(State& s) {
  return rule<Rule::relationship_pattern>(
      s, seq(opt(left_arrow),
             choice(seq(lit("-"), lit("["), opt(variable), opt(rel_types), opt(range_literal),
                        opt(properties), lit("]"), lit("-"), opt(right_arrow)),
                    seq(lit("--"), opt(right_arrow)))));
}

// rel_types: ":" ~ rel_type_name ~ ("|" ~ ":"? ~ rel_type_name)*
template <class Run>
bool Grammar<Run>::rel_types(State& s) {
  return rule<Rule::rel_types, first_of<':'>>(
      s, seq(lit(":"), rel_type_name, star(seq(lit("|"), opt(lit(":")), rel_type_name))));
}

// range_literal: "*" ~ (integer_literal ~ (".." ~ integer_literal?)?)?
template <class Run>
bool Grammar<Run>::range_literal(State& s) {
  return rule<Rule::range_literal, first_of<'*'>>(
      s, seq(lit("*"), opt(seq(integer_literal, opt(seq(lit(".."), opt(integer_literal)))))));
}

// properties: map_literal | parameter
template <class Run>
bool Grammar<Run>::properties(State& s) {
  return rule<Rule::properties, properties_start>(s, choice(map_literal, parameter));
}

}  // namespace
}  // namespace tessary::recognizer_detail
