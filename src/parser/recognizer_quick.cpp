// The shortcuts of the run that records nothing.
//
// A text is first read by a run that records no attempts: only a refused text needs the record,
// to explain its error, and then a second, recording run reads it again. Without the record to
// keep exact, the first run takes a few shortcuts where the grammar is read most: the operator
// chain of an expression in one function, the alternatives of an atom picked by the text,
// postfix operators tried only where one can begin, names read at once. Each shortcut replaces
// one rule function of `Grammar<QuickRun>` and leaves exactly the pairs, the position and the
// memo entries that rule would. The entry point runs this grammar first (its table of rule
// functions is at the end) and `Grammar<RecordingRun>`, the grammar as written, for the second
// run (recognizer.cpp). Each is compiled as a unit of its own, with the combinators and the
// inline part of the engine, so that the calls between them can be inlined.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "parser/recognizer_grammar.hpp"

namespace tessary::recognizer_detail {
namespace {

struct QuickRun {
  static constexpr bool kRecords = false;
};
using Quick = Grammar<QuickRun>;

// The rule functions this run replaces; every other rule is read as written.
template <>
bool Quick::expression_rule(State& s);
template <>
bool Quick::postfix_expr(State& s);
template <>
bool Quick::atom(State& s);
template <>
bool Quick::atom_rule(State& s);
template <>
bool Quick::variable(State& s);
template <>
bool Quick::label_name(State& s);
template <>
bool Quick::rel_type_name(State& s);
template <>
bool Quick::property_key_name(State& s);
template <>
bool Quick::procedure_result_field(State& s);
template <>
bool Quick::reading_clause(State& s);
template <>
bool Quick::updating_clause(State& s);
template <>
bool Quick::return_item(State& s);
template <>
bool Quick::pattern_part(State& s);
template <>
bool Quick::pattern_element(State& s);
template <>
bool Quick::node_pattern(State& s);
template <>
bool Quick::relationship_pattern(State& s);
template <>
bool Quick::regular_query(State& s);
template <>
bool Quick::match_clause(State& s);
template <>
bool Quick::with_clause(State& s);
template <>
bool Quick::return_body(State& s);
template <>
bool Quick::single_part_query(State& s);
template <>
bool Quick::multi_part_query(State& s);

// The element that calls rule function F where a character of First, the characters the rule
// can begin with, stands here, and fails at once elsewhere, as F would, without the call.
template <bool (*First)(char), bool (*F)(State&)>
struct WhereItCanBegin {
  [[gnu::always_inline]] bool operator()(State& s) const {
    if (s.pos == s.len || !in_class<First>(s.text[s.pos])) return false;
    return F(s);
  }
};
template <bool (*First)(char), bool (*F)(State&)>
constexpr WhereItCanBegin<First, F> where_it_can_begin{};

// ---------------------------------------------------------------------------------------------
// expression: or_expr, with the operator chain read in one function
//
// The expression and its operator chain from or_expr down to unary_expr, run without the rule
// functions of their levels: it leaves exactly the pairs and the position those would. Each
// level is `child ~ (operator ~ child)*`, except expression, which is its child alone, and
// not_expr and unary_expr, which are a prefix and their child. Reading from a given level down
// is: the start of that level and every one below it, with the prefixes where they stand, then
// postfix_expr, then on the way up each level's repetitions (right operands read the same way
// from the level below) and its end. Where no operator can begin after an operand, every level
// up to the one asked for ends there at once.
//
// The levels are left as runs of chain levels (pairs.hpp): one start event for the levels from
// the one asked for down to not_expr and one for those below, or a single one where no NOT
// stands between them, and an end event only for the innermost level of a run and for a level
// that does not end where the level below it does. postfix_expr and a small atom are the
// lower run's innermost levels unless a "-" stands before them (quick_unary_operand).
// ---------------------------------------------------------------------------------------------

enum ChainLevel : int {
  kExpression,
  kOr,
  kXor,
  kAnd,
  kNot,
  kComparison,
  kAddSub,
  kMulDiv,
  kMod,
  kPower,
  kUnary,
  kPostfix,
  kAtom
};
static_assert(kChainRules[kNot] == Rule::not_expr && kChainRules[kUnary] == Rule::unary_expr &&
              kChainRules[kPostfix] == Rule::postfix_expr && kChainRules[kAtom] == Rule::atom &&
              std::size(kChainRules) == kAtom + 1);

constexpr std::array<bool, 256> kOperatorStart = [] {
  std::array<bool, 256> t{};
  for (char c : std::string_view("^%*/+-<>=iIsSeEcCaAxXoO")) {
    t[static_cast<unsigned char>(c)] = true;
  }
  return t;
}();

// Whether the text here begins with `word`, A-Z folded, and a word character does not follow it.
template <class Word>
inline bool at_whole_word(const State& s, Word word) {
  if (!word.matches(s)) return false;
  const std::uint32_t end = s.pos + word.n;
  return end == s.len || !is_word(s.text[end]);
}

// Whether an operator of a level of the chain from `Level` down may begin here (after an operand
// and its skip). A symbol is taken to begin one; a letter only where the word of an operator
// that begins with it stands here: AND, OR, XOR and IN as whole words (each is read with a word
// boundary after it), STARTS, ENDS and CONTAINS as the text's first letters. Elsewhere every
// operator fails at once, so the word after an operand (AS, ORDER, ASC, ...) ends the levels as
// the end of the text does; the one operator rule whose first letter it is would still have
// been called, and its call is counted.
template <int Level>
inline bool operator_may_follow(State& s) {
  if (s.pos == s.len) return false;
  const char c = s.text[s.pos];
  if (!kOperatorStart[static_cast<unsigned char>(c)]) return false;
  bool called;  // whether the operator rule that begins with the letter is tried from Level
  switch (c) {
    case 'a':
    case 'A':
      if (at_whole_word(s, ilit<"AND">())) return true;
      called = Level <= kAnd;
      break;
    case 'o':
    case 'O':
      if (at_whole_word(s, ilit<"OR">())) return true;
      called = Level <= kOr;
      break;
    case 'x':
    case 'X':
      if (at_whole_word(s, ilit<"XOR">())) return true;
      called = Level <= kXor;
      break;
    case 'i':
    case 'I':
      if (at_whole_word(s, ilit<"IN">())) return true;
      called = Level <= kComparison;
      break;
    case 's':
    case 'S':
      if (ilit<"STARTS">().matches(s)) return true;
      called = Level <= kComparison;
      break;
    case 'e':
    case 'E':
      if (ilit<"ENDS">().matches(s)) return true;
      called = Level <= kComparison;
      break;
    case 'c':
    case 'C':
      if (ilit<"CONTAINS">().matches(s)) return true;
      called = Level <= kComparison;
      break;
    default:
      return true;
  }
  // What the rule wrapper of that operator does before its body fails.
  if (called && !s.aborted) ++s.work;
  return false;
}

// The start event of a run of chain levels at `pos`, from `level` down to `innermost`.
inline void emit_chain_start(State& s, std::uint32_t pos, int level, int innermost) {
  Event e = start_event(pos, kChainRules[level]);
  e.chain = static_cast<std::uint8_t>(innermost - level);
  emit(s, e);
}

// An end event of level `level` of the run whose start event is at `start`, linked to the run's
// end event before it (the start event for the innermost level's). It is marked as an inner end
// until the run closes. The start event links to the run's last end event.
inline void emit_chain_end(State& s, std::size_t start, int level, bool innermost = false) {
  Event e = end_event(s.pos, kChainRules[level]);
  e.chain = 1;
  e.partner = innermost ? static_cast<std::uint32_t>(start) : s.tokens[start].partner;
  emit(s, e);
  s.tokens[start].partner = static_cast<std::uint32_t>(s.tokens.size() - 1);
}

// Ends level `level` of the run at `start`, whose repetitions were read after event `before`:
// without repetitions, where the run's last end event is, the level shares that event.
inline void end_chain_level(State& s, std::size_t start, std::size_t before, int level) {
  if (s.tokens.size() == before && event_end(s.tokens[before - 1]) == s.pos) return;
  emit_chain_end(s, start, level);
}

// The run's last end event, that of its outermost level, closes it: the last event, or, where
// the run's start event is with a folded leaf that all its levels end with, one more.
inline void close_chain(State& s) {
  const std::size_t last = s.tokens.size() - 1;
  if (s.tokens[last].is_start) {
    close_folded_run(s, static_cast<std::uint32_t>(last));
  } else {
    s.tokens[last].chain = 0;
  }
}

// The rest of a level whose first child has been read: its repetitions, then its end.
// `skipped` is a position that the implicit skip has ended at, so that the skip from there
// passes over nothing: where the level below left the position there, the skip is not read
// again.
template <class Rest>
[[gnu::always_inline]] inline void finish_level(State& s, std::size_t start, int level, Rest rest,
                                                std::uint32_t& skipped) {
  if (s.pos != skipped) {
    skip(s);
    skipped = s.pos;
  }
  const std::size_t before = s.tokens.size();
  star(rest)(s);
  end_chain_level(s, start, before, level);
}

bool quick_unary_operand(State& s, std::size_t lower, bool joined);

// With `Joins`, the levels are levels of the run whose start event is the last event (an open
// one at the expression's start whose innermost level holds the expression as its first child):
// they count on that event, and the run is left open for its outer levels to close.
template <int Level, bool Joins = false>
bool quick_level(State& s) {
  static_assert(Level >= kExpression && Level <= kUnary);
  static_assert(!Joins || Level == kExpression);
  const std::uint32_t p = s.pos;
  const std::size_t top = Joins ? s.tokens.size() - 1 : s.tokens.size();
  [[maybe_unused]] const RunJoin join{static_cast<std::uint32_t>(top), s.tokens[top].partner,
                                      s.tokens[top].chain};
  std::size_t lower = top;  // the start event of the run that holds unary_expr
  if constexpr (Level <= kNot) {
    if constexpr (Joins) {
      s.tokens[top].chain += 1 + (kNot - Level);
    } else {
      emit_chain_start(s, p, Level, kNot);
    }
    // not_kw*, called only where a NOT can begin (it fails at once elsewhere).
    if (s.pos < s.len && fold(s.text[s.pos]) == 'n') star(Quick::not_kw)(s);
    skip(s);
    if (s.tokens.size() == top + 1 && s.pos == p) {
      s.tokens[top].chain += kAtom - kNot;  // nothing in between: one run down to atom
    } else {
      lower = s.tokens.size();
      emit_chain_start(s, s.pos, kComparison, kAtom);
    }
  } else {
    emit_chain_start(s, p, Level, kAtom);
  }
  const std::uint32_t unary_at = s.pos;
  // The skip before a "-" has been read here: above where the levels from not_expr down begin,
  // and by the caller where a lower level does (outside atomic mode, a sequence's skip stands
  // before it). Without a "-" the skip after it passes over nothing.
  if (lit("-")(s) || (Level > kNot && s.atomic)) skip(s);
  if (!quick_unary_operand(s, lower, s.pos == unary_at)) {
    s.pos = p;
    if constexpr (Joins) {
      cut(s, top + 1);
      leave_run(s, join);
    } else {
      cut(s, top);
    }
    return false;
  }
  // Closes the run that holds comparison_expr, and ends not_expr where its comparison_expr
  // ends: as the innermost level of the run above, or sharing the end of comparison_expr.
  auto end_not = [&] {
    if (lower != top) {
      close_chain(s);
      emit_chain_end(s, top, kNot, true);
    }
  };
  if constexpr (Level == kUnary) {
    close_chain(s);
    return true;
  }
  skip(s);
  std::uint32_t skipped = s.pos;
  if (!operator_may_follow<Level>(s)) {
    // No operator follows: every level from power_expr up ends here.
    end_chain_level(s, lower, s.tokens.size(), kPower);
    if constexpr (Level <= kNot) end_not();
    if constexpr (!Joins) close_chain(s);
    return true;
  }
  auto done = [&] {
    if constexpr (!Joins) close_chain(s);
    return true;
  };
  finish_level(s, lower, kPower, seq(lit("^"), quick_level<kUnary>), skipped);
  if constexpr (Level == kPower) return done();
  finish_level(s, lower, kMod, seq(lit("%"), quick_level<kPower>), skipped);
  if constexpr (Level == kMod) return done();
  finish_level(s, lower, kMulDiv, seq(choice(lit("*"), lit("/")), quick_level<kMod>), skipped);
  if constexpr (Level == kMulDiv) return done();
  finish_level(s, lower, kAddSub, seq(choice(lit("+"), lit("-")), quick_level<kMulDiv>), skipped);
  if constexpr (Level == kAddSub) return done();
  finish_level(s, lower, kComparison,
               seq(where_it_can_begin<comparison_start, Quick::comparison_op>,
                   quick_level<kAddSub>),
               skipped);
  if constexpr (Level == kComparison) return done();
  end_not();
  if constexpr (Level == kNot) return done();
  finish_level(s, top, kAnd,
               seq(where_it_can_begin<first_of<'a', 'A'>, Quick::and_kw>, quick_level<kNot>),
               skipped);
  if constexpr (Level == kAnd) return done();
  finish_level(s, top, kXor,
               seq(where_it_can_begin<first_of<'x', 'X'>, Quick::xor_kw>, quick_level<kAnd>),
               skipped);
  if constexpr (Level == kXor) return done();
  finish_level(s, top, kOr,
               seq(where_it_can_begin<first_of<'o', 'O'>, Quick::or_kw>, quick_level<kXor>),
               skipped);
  // expression ends where its or_expr ends.
  return done();
}

bool quick_chain(State& s) { return quick_level<kOr>(s); }

// An expression's levels in a run that is not aborted, with what the rule wrapper does besides
// leaving the pair: the nesting bound, the nesting peak and the work count.
template <bool Joins>
bool quick_expression_levels(State& s) {
  if (s.level == kMaxNesting) {
    abort_run(s, Rule::expression, s.pos);
    return false;
  }
  ++s.level;
  if (s.level > s.peak) s.peak = s.level;
  ++s.work;
  const bool ok = quick_level<kExpression, Joins>(s);
  --s.level;
  return ok;
}

// The expression's own pair is the outermost level of the run its chain leaves. What the rule
// wrapper does besides leaving the pair is done here as it does it: a run that records nothing
// records no failure.
template <>
bool Quick::expression_rule(State& s) {
  if (s.atomic) return rule<Rule::expression>(s, quick_chain);
  if (s.aborted) return false;
  return quick_expression_levels<false>(s);
}

// ---------------------------------------------------------------------------------------------
// variable, label_name, rel_type_name, property_key_name, procedure_result_field: the
// identifier here read at once, a word that is not a reserved word or a backtick name closed by
// the next backtick
// ---------------------------------------------------------------------------------------------

// Leaves the pair of name rule R over the `n` bytes here, and passes over them.
template <Rule R>
inline void emit_name(State& s, std::uint32_t n) {
  const std::uint32_t p = s.pos;
  const auto start = s.tokens.size();
  if (fits_leaf(p, p + n)) {
    emit(s, leaf_event(p, p + n, R, static_cast<std::uint32_t>(start)));
  } else {
    emit(s, start_event(p, R));
    emit(s, end_event(p + n, R));
    s.tokens.link_last(start);
  }
  s.pos = p + n;
}

template <Rule R>
[[gnu::always_inline]] inline bool quick_name(State& s) {
  if (s.atomic) return rule<R, name_start, false>(s, Quick::identifier);
  if (s.aborted) return false;
  const std::uint32_t p = s.pos;
  if (p >= s.len) return false;
  const char* t = s.text + p;
  const std::uint32_t rest = s.len - p;
  std::uint32_t n = 0;
  if (is_word_start(t[0])) {
    n = 1;
    while (n < rest && is_word(t[n])) ++n;
    if (reserved_word(t, n)) return false;
  } else if (t[0] == '`') {
    const void* close = std::memchr(t + 1, '`', rest - 1);
    if (!close) return false;
    n = static_cast<std::uint32_t>(static_cast<const char*>(close) - t) + 1;
  } else {
    return false;
  }
  emit_name<R>(s, n);
  return true;
}

// quick_name where the text here is known to begin with a letter or "_" and its run of word
// characters to be `n` bytes long, in a run that is not aborted.
template <Rule R>
inline bool quick_word_name(State& s, std::uint32_t n) {
  if (s.atomic) return quick_name<R>(s);
  if (reserved_word(s.text + s.pos, n)) return false;
  emit_name<R>(s, n);
  return true;
}

// ---------------------------------------------------------------------------------------------
// return_item: expression ~ (^"AS" ~ variable)?, its expression's levels joining the run that
// the item's pair begins or is a level of (recognizer_engine.hpp). The expression's call is
// then not memoized, as its entry would hold its events without the run's start event: it is
// run, neither replayed nor kept, which leaves the same pairs. (It would gain nothing: no
// other call of an expression begins where an item begins, and an item is read again only
// where the clause holding it is, inside a call that is replayed as a whole.)
// ---------------------------------------------------------------------------------------------

bool quick_item_expression(State& s) {
  const std::size_t n = s.tokens.size();
  if (s.atomic || s.aborted || n == 0) return Quick::expression(s);
  const Event& last = s.tokens[n - 1];
  if (!last.is_start || last.leaf_len != 0 || last.pos != s.pos ||
      innermost_level(last) != Rule::return_item) {
    return Quick::expression(s);
  }
  return quick_expression_levels<true>(s);
}

template <>
bool Quick::return_item(State& s) {
  return rule<Rule::return_item>(s, seq(quick_item_expression, opt(seq(ilit<"AS">(), variable))));
}

// ---------------------------------------------------------------------------------------------
// postfix_expr: atom ~ postfix_op*, with postfix_op called only where one can begin (elsewhere
// it fails at once, and only a recording run must see that)
// ---------------------------------------------------------------------------------------------

// postfix_op at a ".", where of its alternatives only property_lookup can begin: the pairs of
// both rules around the property key name, and what their rule wrappers do besides, written out.
inline bool quick_property_op(State& s) {
  const std::uint32_t p = s.pos;
  s.work += 2;
  const std::size_t ti = s.tokens.size();
  emit(s, start_event(p, Rule::postfix_op));
  emit(s, start_event(p, Rule::property_lookup));
  s.pos = p + 1;
  skip(s);
  if (!quick_name<Rule::property_key_name>(s)) {
    s.pos = p;
    cut(s, ti);
    return false;
  }
  emit(s, end_event(s.pos, Rule::property_lookup));
  s.tokens.link_last(ti + 1);
  emit(s, end_event(s.pos, Rule::postfix_op));
  s.tokens.link_last(ti);
  return true;
}

// The operator where one can begin.
[[gnu::noinline]] bool postfix_op_at(State& s) {
  if (s.text[s.pos] == '.' && !s.atomic && !s.aborted) return quick_property_op(s);
  return Quick::postfix_op(s);
}

// The test, inlined where the operators are read.
[[gnu::always_inline]] inline bool postfix_op_here(State& s) {
  if (s.pos == s.len || !in_class<postfix_start>(s.text[s.pos])) return false;
  return postfix_op_at(s);
}

template <>
bool Quick::postfix_expr(State& s) {
  return rule<Rule::postfix_expr>(s, seq(atom, star(postfix_op_here)));
}

// ---------------------------------------------------------------------------------------------
// atom: its alternatives picked by the text
// ---------------------------------------------------------------------------------------------

// Whether the text here begins with `word`, A-Z folded (so, whether ^"word" would match).
template <class Word>
inline bool starts_with_word(const State& s, Word word) {
  return word.matches(s);
}

// The end of the run of name text from `i`: word characters, dots and closed backtick names.
constexpr bool is_word_or_dot(char c) { return is_word(c) || c == '.'; }

inline std::uint32_t name_run_end(const State& s, std::uint32_t i) {
  while (i < s.len) {
    const char c = s.text[i];
    if (in_class<is_word_or_dot>(c)) {
      ++i;
    } else if (c == '`') {
      const void* close = std::memchr(s.text + i + 1, '`', s.len - i - 1);
      if (!close) break;
      i = static_cast<std::uint32_t>(static_cast<const char*>(close) - s.text) + 1;
    } else {
      break;
    }
  }
  return i;
}

// The end of the run of name text here and of the skip after it, where a "(" after a function
// name would stand. A single space is passed over at once, as the implicit skip does.
inline std::uint32_t name_run_skip_end(const State& s, std::uint32_t from) {
  const std::uint32_t run = name_run_end(s, from);
  if (run == s.len || !in_class<is_skip_start>(s.text[run])) return run;
  if (s.text[run] == ' ' && (run + 1 == s.len || !in_class<is_skip_start>(s.text[run + 1]))) {
    return run + 1;
  }
  return skip_end(s.text, run, s.len);
}

// The last two alternatives of atom, function_invocation | variable, where the text begins
// with a letter or "_". A function name ends at the end of a word inside the run of name text
// here, and only at the run's end can the "(" after it follow; where none follows, the call
// fails, leaving the variable.
bool quick_name_atom(State& s) {
  const std::uint32_t after = name_run_skip_end(s, s.pos);
  if (after < s.len && s.text[after] == '(') {
    return Quick::function_invocation(s) || Quick::variable(s);
  }
  return Quick::variable(s);
}

// atom's choice: only the alternatives that can begin with the character here are tried, in
// the choice's order. An alternative that begins with a keyword is tried only where the text
// begins with that keyword; every one skipped would have failed at once, leaving nothing
// behind.
bool quick_atom_choice(State& s) {
  const char c = s.text[s.pos];
  switch (c) {
    case '$':
      return Quick::parameter(s);
    case '(':
      return Quick::parenthesized_expr(s);
    case '[':
      return Quick::literal(s) || Quick::pattern_comprehension(s) || Quick::list_comprehension(s);
    case '{':
    case '"':
    case '\'':
      return Quick::literal(s);
    case '`':
      return Quick::function_invocation(s) || Quick::variable(s);
    default:
      break;
  }
  if (is_digit(c)) return Quick::literal(s);
  switch (fold(c)) {
    case 'r':
      if (starts_with_word(s, ilit<"REDUCE">()) && Quick::reduce_expression(s)) return true;
      break;
    case 'a':
      if (starts_with_word(s, ilit<"ALL">()) || starts_with_word(s, ilit<"ANY">())) {
        if (Quick::shortest_path_call(s) || Quick::quantifier_expression(s)) return true;
      }
      break;
    case 's':
      if (starts_with_word(s, ilit<"SHORTESTPATH">()) && Quick::shortest_path_call(s)) return true;
      if (starts_with_word(s, ilit<"SINGLE">()) && Quick::quantifier_expression(s)) return true;
      break;
    case 't':
      if (starts_with_word(s, ilit<"TRUE">()) && Quick::literal(s)) return true;
      break;
    case 'f':
      if (starts_with_word(s, ilit<"FALSE">()) && Quick::literal(s)) return true;
      break;
    case 'n':
      if (starts_with_word(s, ilit<"NULL">()) && Quick::literal(s)) return true;
      if (starts_with_word(s, ilit<"NONE">()) && Quick::quantifier_expression(s)) return true;
      break;
    case 'c':
      if (starts_with_word(s, ilit<"CASE">()) && Quick::case_expression(s)) return true;
      if (starts_with_word(s, ilit<"COUNT">()) &&
          (Quick::count_subquery(s) || Quick::count_star(s))) {
        return true;
      }
      if (starts_with_word(s, ilit<"COLLECT">()) && Quick::collect_subquery(s)) return true;
      break;
    case 'e':
      if (starts_with_word(s, ilit<"EXISTS">()) && Quick::exists_subquery(s)) return true;
      break;
    default:
      break;
  }
  return quick_name_atom(s);
}

// The length of the plain decimal integer here, or 0: its digits, where no "." follows them (a
// float_literal's) and they do not begin with the "0x" or "0o" of another base. The text here
// begins with a digit.
inline std::uint32_t plain_integer_length(const State& s) {
  const char* t = s.text + s.pos;
  const std::uint32_t rest = s.len - s.pos;
  if (t[0] == '0' && rest > 1 && (t[1] == 'x' || t[1] == 'o')) return 0;
  std::uint32_t n = 1;
  while (n < rest && is_digit(t[n])) ++n;
  if (n < rest && t[n] == '.') return 0;
  return n;
}

// The length of the string literal here, up to its closing quote, or 0 where it is not closed.
// The text here begins with a quote.
inline std::uint32_t closed_string_length(const State& s) {
  const char* t = s.text + s.pos;
  const void* close = std::memchr(t + 1, t[0], s.len - s.pos - 1);
  return close ? static_cast<std::uint32_t>(static_cast<const char*>(close) - t) + 1 : 0;
}

// The length of the parameter here, or 0: "$" and a name or a number. The text here begins
// with "$".
inline std::uint32_t parameter_length(const State& s) {
  const char* t = s.text + s.pos;
  const std::uint32_t rest = s.len - s.pos;
  if (rest < 2) return 0;
  std::uint32_t n = 2;
  if (is_word_start(t[1])) {
    while (n < rest && is_word(t[n])) ++n;
  } else if (is_digit(t[1])) {
    while (n < rest && is_digit(t[n])) ++n;
  } else {
    return 0;
  }
  return n;
}

template <>
bool Quick::atom_rule(State& s) {
  return rule<Rule::atom, atom_start>(s, quick_atom_choice);
}

// What the atom here is read as, where that is known from its first characters: a variable
// alone (a name that begins no other alternative and has no "(" after it), or a number, a
// string, a boolean, null or a parameter. For a variable, `word` is set to the length of the run
// of word characters here, which is all the variable can be.
enum class SmallAtom { kNone, kVariable, kOther };

// A keyword that begins an alternative of atom, as the key of its letters (recognizer_lexicon.hpp).
struct AtomKeyword {
  WordKey key;
  std::uint32_t n;
};
template <std::size_t N>
constexpr AtomKeyword atom_keyword(const char (&word)[N]) {
  return AtomKeyword{word_key(word, N - 1), N - 1};
}

// Whether the run of `n` word characters at `t` begins with `word`, A-Z folded: the run is at
// least as long as the word (whose characters are all letters), and its first bytes have its key.
inline bool run_begins_with(const char* t, std::uint32_t n, AtomKeyword word) {
  return n >= word.n && word_key(t, word.n) == word.key;
}

[[gnu::always_inline]] inline SmallAtom small_atom(const State& s, std::uint32_t& word) {
  const char c = s.text[s.pos];
  if (!is_word_start(c)) {
    return is_digit(c) || c == '"' || c == '\'' || c == '$' ? SmallAtom::kOther : SmallAtom::kNone;
  }
  const char* t = s.text + s.pos;
  const std::uint32_t rest = s.len - s.pos;
  std::uint32_t n = 1;
  while (n < rest && is_word(t[n])) ++n;
  // The text begins with one of the keywords only where its run of word characters does, which
  // is at least 3 long.
  if (n >= 3) {
    static constexpr AtomKeyword kReduce = atom_keyword("REDUCE");
    static constexpr AtomKeyword kAll = atom_keyword("ALL");
    static constexpr AtomKeyword kAny = atom_keyword("ANY");
    static constexpr AtomKeyword kShortestPath = atom_keyword("SHORTESTPATH");
    static constexpr AtomKeyword kSingle = atom_keyword("SINGLE");
    static constexpr AtomKeyword kTrue = atom_keyword("TRUE");
    static constexpr AtomKeyword kFalse = atom_keyword("FALSE");
    static constexpr AtomKeyword kNull = atom_keyword("NULL");
    static constexpr AtomKeyword kNone = atom_keyword("NONE");
    static constexpr AtomKeyword kCase = atom_keyword("CASE");
    static constexpr AtomKeyword kCount = atom_keyword("COUNT");
    static constexpr AtomKeyword kCollect = atom_keyword("COLLECT");
    static constexpr AtomKeyword kExists = atom_keyword("EXISTS");
    switch (fold(c)) {
      case 'r':
        if (run_begins_with(t, n, kReduce)) return SmallAtom::kNone;
        break;
      case 'a':
        if (run_begins_with(t, n, kAll) || run_begins_with(t, n, kAny)) return SmallAtom::kNone;
        break;
      case 's':
        if (run_begins_with(t, n, kShortestPath) || run_begins_with(t, n, kSingle)) {
          return SmallAtom::kNone;
        }
        break;
      case 't':
        if (run_begins_with(t, n, kTrue)) return SmallAtom::kOther;
        break;
      case 'f':
        if (run_begins_with(t, n, kFalse)) return SmallAtom::kOther;
        break;
      case 'n':
        if (run_begins_with(t, n, kNull)) return SmallAtom::kOther;
        if (run_begins_with(t, n, kNone)) return SmallAtom::kNone;
        break;
      case 'c':
        if (run_begins_with(t, n, kCase) || run_begins_with(t, n, kCount) ||
            run_begins_with(t, n, kCollect)) {
          return SmallAtom::kNone;
        }
        break;
      case 'e':
        if (run_begins_with(t, n, kExists)) return SmallAtom::kNone;
        break;
      default:
        break;
    }
  }
  const std::uint32_t after = name_run_skip_end(s, s.pos + n);
  if (after < s.len && s.text[after] == '(') return SmallAtom::kNone;
  word = n;
  return SmallAtom::kVariable;
}

// The memo wrapper of atom, passed over where the atom is small: such a call does far less work
// than an entry needs to be kept (kMemoMinWork), so no entry for it is ever found or made, and
// a run that records nothing has no record to keep apart. A variable alone is read at once,
// as quick_atom_choice would read it.
template <>
bool Quick::atom(State& s) {
  if (s.pos < s.len && !s.atomic) {
    std::uint32_t word = 0;
    switch (small_atom(s, word)) {
      case SmallAtom::kVariable:
        return rule<Rule::atom, atom_start>(
            s, [word](State& st) { return quick_word_name<Rule::variable>(st, word); });
      case SmallAtom::kOther:
        return atom_rule(s);
      case SmallAtom::kNone:
        break;
    }
  }
  return memoized<Rule::atom, atom_rule>(s);
}

// unary_expr's operand, postfix_expr, read from where the "-" may stand, and the end entries
// of the levels of the run at `lower` below unary_expr (its start entry counts the levels down
// to atom). postfix_expr is a level of the run where it begins where unary_expr does
// (`joined`), and unary_expr then ends where it ends; after a "-" it is a pair of its own, the
// start of a run of its own, and the run at `lower` ends at unary_expr. atom is the innermost
// level of the run where it is small: no memo entry stands in for it, so it leaves only its
// pair, and postfix_expr ends where it does, or one blank after it (a mark on the run's start
// entry), unless a longer skip or a postfix operator follows it. What the rule wrappers of the
// two levels do besides leaving their pairs is done here as they do it; a small atom begins
// with a character atom can begin with.
bool quick_unary_operand(State& s, std::size_t lower, bool joined) {
  if (!joined) {
    // postfix_expr heads a run of its own, down to atom, read as a joined operand is.
    s.tokens[lower].chain -= kAtom - kUnary;
    const std::size_t inner = s.tokens.size();
    emit_chain_start(s, s.pos, kPostfix, kAtom);
    if (!quick_unary_operand(s, inner, true)) return false;
    close_chain(s);
    emit_chain_end(s, lower, kUnary, true);
    return true;
  }
  if (s.aborted) return false;
  ++s.work;
  std::uint32_t word = 0;
  const SmallAtom kind = s.pos < s.len ? small_atom(s, word) : SmallAtom::kNone;
  if (kind == SmallAtom::kNone) {
    --s.tokens[lower].chain;
    if (!seq(Quick::memoized<Rule::atom, Quick::atom_rule>, star(postfix_op_here))(s)) {
      return false;
    }
    emit_chain_end(s, lower, kPostfix, true);
    return true;
  }
  ++s.work;
  // A variable's or a parameter's leaf event, or a plain integer's or a string's (its literal's
  // wrapped leaf), would be the only event after the run's start event, and end_atom_level would
  // fold it into that event: it is written there at once, and the rules called are counted.
  Rule leaf = Rule::EOI;
  std::uint32_t leaf_len = 0;
  if (!s.atomic && s.tokens.size() == lower + 1) {
    if (kind == SmallAtom::kVariable) {
      if (word <= kMaxLeafLen) {
        if (reserved_word(s.text + s.pos, word)) return false;
        leaf = Rule::variable;
        leaf_len = word;
      }
    } else {
      const char c = s.text[s.pos];
      std::uint32_t calls = 0;  // the rules called, atom's alternative and those within it
      if (is_digit(c)) {
        leaf_len = plain_integer_length(s);
        leaf = Rule::integer_literal;
        calls = 3;  // literal, float_literal, integer_literal
      } else if (c == '\'' || c == '"') {
        leaf_len = closed_string_length(s);
        leaf = Rule::string_literal;
        calls = 2;  // literal, string_literal (float_literal and integer_literal fail at once)
      } else if (c == '$') {
        leaf_len = parameter_length(s);
        leaf = Rule::parameter;
        calls = 1;
      }
      if (leaf_len != 0 && leaf_len <= kMaxLeafLen) {
        s.work += calls;
      } else {
        leaf = Rule::EOI;
      }
    }
  }
  bool folded;
  if (leaf != Rule::EOI) {
    Event& run = s.tokens[lower];
    run.leaf_rule = static_cast<std::uint8_t>(leaf);
    run.leaf_len = static_cast<std::uint8_t>(leaf_len);
    run.partner = static_cast<std::uint32_t>(lower);
    s.pos += leaf_len;
    folded = true;
  } else {
    if (!(kind == SmallAtom::kVariable ? quick_word_name<Rule::variable>(s, word)
                                       : quick_atom_choice(s))) {
      return false;
    }
    folded = end_atom_level(s, static_cast<std::uint32_t>(lower));
  }
  const std::uint32_t atom_end = s.pos;
  skip(s);
  const std::size_t before = s.tokens.size();
  star(postfix_op_here)(s);
  if (folded && s.tokens.size() == before && s.pos - atom_end <= 1) {
    // postfix_expr ends with the atom, or after the one blank after it: at the start event.
    if (s.pos != atom_end) {
      s.tokens[lower].rule = with_run_mark(s.tokens[lower].rule, kEndsAfterBlank);
    }
    return true;
  }
  end_chain_level(s, lower, before, kPostfix);
  return true;
}

template <>
bool Quick::variable(State& s) {
  return quick_name<Rule::variable>(s);
}
template <>
bool Quick::label_name(State& s) {
  return quick_name<Rule::label_name>(s);
}
template <>
bool Quick::rel_type_name(State& s) {
  return quick_name<Rule::rel_type_name>(s);
}
template <>
bool Quick::property_key_name(State& s) {
  return quick_name<Rule::property_key_name>(s);
}
template <>
bool Quick::procedure_result_field(State& s) {
  return quick_name<Rule::procedure_result_field>(s);
}

// ---------------------------------------------------------------------------------------------
// pattern_part, pattern_element, node_pattern, relationship_pattern: the pieces of a pattern
// that begin with a character class of their own (arrows, labels, types, range, properties,
// shortestPath, a variable) are mostly absent, and their rules fail at once where they cannot
// begin (a run that records nothing keeps no trace of that). The pattern rules are written out
// here with each piece's first character tested in place, and its rule called only where it
// can begin: a rule function passed to a combinator is called, never inlined, so the test must
// be an element of the caller's body.
// ---------------------------------------------------------------------------------------------

constexpr bool left_arrow_start(char c) { return c == '<'; }
constexpr bool right_arrow_start(char c) { return c == '>'; }
constexpr bool range_start(char c) { return c == '*'; }
constexpr bool shortest_path_start(char c) { return first_of<'a', 'A', 's', 'S'>(c); }
constexpr bool labels_start(char c) { return c == ':'; }

// pattern_part: (variable ~ "=")? ~ pattern_element
template <>
bool Quick::pattern_part(State& s) {
  return rule<Rule::pattern_part>(
      s, seq(opt(seq(where_it_can_begin<name_start, variable>, lit("="))), pattern_element));
}

// pattern_element: shortest_path_call | node_pattern ~ (relationship_pattern ~ node_pattern)*
template <>
bool Quick::pattern_element(State& s) {
  return rule<Rule::pattern_element>(
      s, choice(where_it_can_begin<shortest_path_start, shortest_path_call>,
                seq(node_pattern, star(seq(relationship_pattern, node_pattern)))));
}

// node_pattern: "(" ~ variable? ~ node_labels? ~ properties? ~ ")"
template <>
bool Quick::node_pattern(State& s) {
  return rule<Rule::node_pattern, first_of<'('>>(
      s, seq(lit("("), opt(where_it_can_begin<name_start, variable>),
             opt(where_it_can_begin<labels_start, node_labels>),
             opt(where_it_can_begin<properties_start, properties>), lit(")")));
}

// relationship_pattern: left_arrow? ~ ("-" ~ "[" ~ variable? ~ rel_types? ~ range_literal?
//                       ~ properties? ~ "]" ~ "-" ~ right_arrow? | "--" ~ right_arrow?)
template <>
bool Quick::relationship_pattern(State& s) {
  constexpr auto right_arrow_here = where_it_can_begin<right_arrow_start, right_arrow>;
  return rule<Rule::relationship_pattern>(
      s, seq(opt(where_it_can_begin<left_arrow_start, left_arrow>),
             choice(seq(lit("-"), lit("["), opt(where_it_can_begin<name_start, variable>),
                        opt(where_it_can_begin<labels_start, rel_types>),
                        opt(where_it_can_begin<range_start, range_literal>),
                        opt(where_it_can_begin<properties_start, properties>),
                        lit("]"), lit("-"), opt(right_arrow_here)),
                    seq(lit("--"), opt(right_arrow_here)))));
}

// ---------------------------------------------------------------------------------------------
// regular_query, match_clause, with_clause, return_body: the optional clauses that end them
// (UNION, WHERE, ORDER BY, SKIP, LIMIT) are mostly absent, and each begins with its keyword's
// first letter: the callers test it in place, as the pattern rules do for their pieces.
// ---------------------------------------------------------------------------------------------

// regular_query: single_query ~ union_clause*
template <>
bool Quick::regular_query(State& s) {
  return rule<Rule::regular_query>(
      s, seq(single_query, star(where_it_can_begin<first_of<'u', 'U'>, union_clause>)));
}

// match_clause: ^"OPTIONAL"? ~ ^"MATCH" ~ pattern ~ where_clause?
template <>
bool Quick::match_clause(State& s) {
  return rule<Rule::match_clause, first_of<'o', 'O', 'm', 'M'>>(
      s, seq(opt(ilit<"OPTIONAL">()), ilit<"MATCH">(), pattern,
             opt(where_it_can_begin<first_of<'w', 'W'>, where_clause>)));
}

// with_clause: ^"WITH" ~ ^"DISTINCT"? ~ return_body ~ where_clause?
template <>
bool Quick::with_clause(State& s) {
  return rule<Rule::with_clause, first_of<'w', 'W'>>(
      s, seq(ilit<"WITH">(), opt(ilit<"DISTINCT">()), return_body,
             opt(where_it_can_begin<first_of<'w', 'W'>, where_clause>)));
}

// return_body: return_items ~ order_clause? ~ skip_clause? ~ limit_clause?
template <>
bool Quick::return_body(State& s) {
  return rule<Rule::return_body>(
      s, seq(return_items, opt(where_it_can_begin<first_of<'o', 'O'>, order_clause>),
             opt(where_it_can_begin<first_of<'s', 'S'>, skip_clause>),
             opt(where_it_can_begin<first_of<'l', 'L'>, limit_clause>)));
}

// ---------------------------------------------------------------------------------------------
// reading_clause, updating_clause: each alternative begins with its own keyword. Where the first
// letter of one stands here but not its keyword, the clause's rule and that alternative are
// called only to fail at the keyword, having done too little work for a memo entry; only their
// counts are kept: the calls (and the nesting level updating_clause would count). Where no
// alternative can begin here, the clause's rule fails at once, and no memo entry can stand for
// it: the call is passed over as well, but for that nesting level. A run that is aborted, or at
// the nesting bound, is left to the rules.
// ---------------------------------------------------------------------------------------------

template <>
bool Quick::reading_clause(State& s) {
  static_assert(!counts_level(Rule::reading_clause));
  if (s.pos == s.len || !in_class<reading_start>(s.text[s.pos])) return false;
  if (!s.aborted) {
    std::uint64_t calls = 0;  // the rules called: the clause's and the alternatives'
    switch (fold(s.text[s.pos])) {
      case 'o':
      case 'm':  // match_clause: ^"OPTIONAL"? ~ ^"MATCH"
        if (!starts_with_word(s, ilit<"OPTIONAL">()) && !starts_with_word(s, ilit<"MATCH">()))
          calls = 2;
        break;
      case 'u':  // unwind_clause
        if (!starts_with_word(s, ilit<"UNWIND">())) calls = 2;
        break;
      default:  // 'c': call_subquery, in_query_call
        if (!starts_with_word(s, ilit<"CALL">())) calls = 3;
        break;
    }
    if (calls != 0) {
      s.work += calls;
      return false;
    }
  }
  return memoized<Rule::reading_clause, reading_clause_rule>(s);
}

// Whether no updating clause can begin here, in a run that is not aborted and below the nesting
// bound; if so, the nesting level the clause's call would count is counted.
[[gnu::always_inline]] inline bool passes_over_updating_clause(State& s) {
  static_assert(counts_level(Rule::updating_clause));
  if (s.aborted || s.level == kMaxNesting) return false;
  if (s.pos != s.len && in_class<updating_start>(s.text[s.pos])) return false;
  if (s.level + 1 > s.peak) s.peak = s.level + 1;
  return true;
}

template <>
bool Quick::updating_clause(State& s) {
  if (passes_over_updating_clause(s)) return false;
  if (!s.aborted && s.level != kMaxNesting) {
    bool keyword;
    switch (fold(s.text[s.pos])) {
      case 'c':
        keyword = starts_with_word(s, ilit<"CREATE">());
        break;
      case 'm':
        keyword = starts_with_word(s, ilit<"MERGE">());
        break;
      case 'f':
        keyword = starts_with_word(s, ilit<"FOREACH">());
        break;
      case 's':
        keyword = starts_with_word(s, ilit<"SET">());
        break;
      case 'r':
        keyword = starts_with_word(s, ilit<"REMOVE">());
        break;
      default:  // 'd': delete_clause, ^"DETACH"? ~ ^"DELETE"
        keyword = starts_with_word(s, ilit<"DETACH">()) || starts_with_word(s, ilit<"DELETE">());
        break;
    }
    if (!keyword) {
      s.work += 2;
      if (s.level + 1 > s.peak) s.peak = s.level + 1;
      return false;
    }
  }
  return memoized<Rule::updating_clause, updating_clause_rule>(s);
}

// ---------------------------------------------------------------------------------------------
// single_part_query, multi_part_query: the clauses of a query part are tried one after another
// where most of them cannot begin; reading_clause and updating_clause are called only where
// one can, with what passing over either would do done in place.
// ---------------------------------------------------------------------------------------------

constexpr auto reading_clause_here = where_it_can_begin<reading_start, Quick::reading_clause>;

struct UpdatingClauseHere {
  [[gnu::always_inline]] bool operator()(State& s) const {
    if (passes_over_updating_clause(s)) return false;
    return Quick::updating_clause(s);
  }
};
constexpr UpdatingClauseHere updating_clause_here{};

// single_part_query: reading_clause+ ~ updating_clause* ~ return_clause?
//                  | updating_clause+ ~ return_clause? | return_clause
template <>
bool Quick::single_part_query(State& s) {
  return rule<Rule::single_part_query>(
      s, choice(seq(plus(reading_clause_here), star(updating_clause_here), opt(return_clause)),
                seq(plus(updating_clause_here), opt(return_clause)), return_clause));
}

// multi_part_query: (reading_clause* ~ updating_clause* ~ with_clause)+
//                   ~ reading_clause* ~ updating_clause* ~ return_clause?
template <>
bool Quick::multi_part_query(State& s) {
  return rule<Rule::multi_part_query>(
      s, seq(plus(seq(star(reading_clause_here), star(updating_clause_here), with_clause)),
             star(reading_clause_here), star(updating_clause_here), opt(return_clause)));
}

}  // namespace

const RuleTable kQuickRules = {
#define TESSARY_RULE(name, display, kind) &Quick::name,
#include "parser/rules.def"
};

}  // namespace tessary::recognizer_detail
