#pragma once
// The characters and words the rule functions test: the first characters of the rules that
// begin with a literal or a character class, and the reserved words with the two pieces of rule
// expressions built on them (the `keyword` choice, and the plain word of `identifier`).
// Included by recognizer_grammar.hpp.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "parser/recognizer_combinators.hpp"

namespace tessary::recognizer_detail {
namespace {

// ---------------------------------------------------------------------------------------------
// First characters
//
// The rules that are a choice of two or more rules, each of which begins with a literal or a
// character class, are given the characters any of them can begin with: where none of them can
// begin, each fails and records itself, and the choice's rule is recorded in their place, which
// is what failing at once gives.
// ---------------------------------------------------------------------------------------------

constexpr bool name_start(char c) { return is_word_start(c) || c == '`'; }
constexpr bool literal_start(char c) {
  return is_digit(c) || first_of<'"', '\'', 't', 'T', 'f', 'F', 'n', 'N', '[', '{'>(c);
}
constexpr bool atom_start(char c) {
  return name_start(c) || literal_start(c) || first_of<'$', '('>(c);
}
constexpr bool postfix_start(char c) { return first_of<'i', 'I', '.', '['>(c); }
constexpr bool properties_start(char c) { return first_of<'{', '$'>(c); }
constexpr bool reading_start(char c) { return first_of<'o', 'O', 'm', 'M', 'u', 'U', 'c', 'C'>(c); }
constexpr bool updating_start(char c) {
  return first_of<'c', 'C', 'm', 'M', 'f', 'F', 's', 'S', 'r', 'R', 'd', 'D'>(c);
}

// ---------------------------------------------------------------------------------------------
// Reserved words
// ---------------------------------------------------------------------------------------------

// The 56 reserved words, each longer word before the shorter words that are its prefixes.
constexpr std::string_view kReservedWords[] = {
    "ALL",      "AND",      "ANY",    "ASCENDING", "ASC",    "AS",         "BY",     "CALL",
    "CASE",     "CONTAINS", "COUNT",  "CREATE",    "DELETE", "DESCENDING", "DESC",   "DETACH",
    "DISTINCT", "DO",       "DROP",   "ELSE",      "ENDS",   "END",        "EXISTS", "FALSE",
    "FOREACH",  "FOR",      "FROM",   "IN",        "IS",     "LIMIT",      "MATCH",  "MERGE",
    "NEW",      "NONE",     "NOT",    "NULL",      "ON",     "OPTIONAL",   "ORDER",  "OR",
    "REDUCE",   "REMOVE",   "RETURN", "SET",       "SINGLE", "SKIP",       "STARTS", "THEN",
    "TRUE",     "UNION",    "UNWIND", "WHEN",      "WHERE",  "WITH",       "XOR",    "YIELD"};

// The reserved words grouped by length and first letter: kWordGroups[n][c] lists those of n
// letters that begin with the letter c ('a' + c).
struct WordGroup {
  std::array<std::string_view, 4> words{};
  std::size_t count = 0;
};
using WordGroups = std::array<std::array<WordGroup, 26>, 11>;
constexpr WordGroups group_words() {
  WordGroups groups{};
  for (std::string_view w : kReservedWords) {
    WordGroup& g = groups[w.size()][static_cast<std::size_t>(fold(w[0]) - 'a')];
    g.words[g.count++] = w;
  }
  return groups;
}
constexpr WordGroups kWordGroups = group_words();

// Whether the run of `n` word characters at `t` (the whole run) is a reserved word.
inline bool reserved_word(const char* t, std::uint32_t n) {
  if (n < 2 || n > 10 || !is_alpha(t[0])) return false;
  const WordGroup& group = kWordGroups[n][static_cast<std::size_t>(fold(t[0]) - 'a')];
  for (std::size_t k = 0; k < group.count; ++k) {
    const std::string_view w = group.words[k];
    bool same = true;
    for (std::uint32_t i = 1; i < n && same; ++i) same = fold(t[i]) == fold(w[i]);
    if (same) return true;
  }
  return false;
}

// The reserved-word choice of `keyword` and its boundary test. The first word that matches
// decides (the choice is never re-entered), then the boundary test. With every longer word
// before its prefixes this is the same as: the whole run of ASCII word characters here equals
// one of the words, ignoring case; that is what is computed.
bool keyword_body(State& s) {
  const char* t = s.text + s.pos;
  const std::uint32_t rest = s.len - s.pos;
  std::uint32_t n = 0;
  while (n < rest && n <= 10 && is_word(t[n])) ++n;
  if (!reserved_word(t, n)) return false;
  s.pos += n;
  return true;
}

// !keyword ~ (ASCII_ALPHA | "_") ~ (ASCII_ALPHANUMERIC | "_")*, in atomic mode: the run of
// word characters here, unless it is a reserved word (which is what the keyword lookahead
// tests) or does not begin with a letter or "_". The lookahead's call of `keyword` records
// nothing and leaves no token; it still counts as a rule call.
bool unreserved_word(State& s) {
  if (!s.aborted) ++s.work;
  const char* t = s.text + s.pos;
  const std::uint32_t rest = s.len - s.pos;
  if (rest == 0 || !is_word_start(t[0])) return false;
  std::uint32_t n = 1;
  while (n < rest && is_word(t[n])) ++n;
  if (reserved_word(t, n)) return false;
  s.pos += n;
  return true;
}

}  // namespace
}  // namespace tessary::recognizer_detail
