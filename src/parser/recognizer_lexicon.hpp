#pragma once
// The characters and words the rule functions test: the first characters of the rules that
// begin with a literal or a character class, and the reserved words with the two pieces of rule
// expressions built on them (the `keyword` choice, and the plain word of `identifier`).
// Included by recognizer_grammar.hpp.
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

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
constexpr bool comparison_start(char c) {
  return first_of<'<', '>', '=', 'i', 'I', 's', 'S', 'e', 'E', 'c', 'C'>(c);
}
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

// A word of 2 to 10 characters as two numbers: the bytes of two pieces of the word that overlap
// where it is shorter than their sum (the first and the last 8, 4 or 2 bytes), each with 0x20
// set in every byte. Setting 0x20 maps a capital letter to its small letter, a small letter to
// itself, and no other byte to a letter, so a word has the key of a reserved word (all letters)
// of its length exactly when it is that word with A-Z folded.
struct WordKey {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  constexpr bool operator==(const WordKey&) const = default;
};

// The piece of `width` bytes at `t`, the first byte in the low bits.
constexpr std::uint64_t word_piece(const char* t, std::uint32_t width) {
  std::uint64_t v = 0;
  if (std::is_constant_evaluated() || std::endian::native != std::endian::little) {
    for (std::uint32_t i = 0; i < width; ++i) {
      v |= std::uint64_t{static_cast<unsigned char>(t[i])} << (8 * i);
    }
  } else if (width == 8) {
    std::memcpy(&v, t, 8);
  } else if (width == 4) {
    std::uint32_t w;
    std::memcpy(&w, t, 4);
    v = w;
  } else {
    std::uint16_t w;
    std::memcpy(&w, t, 2);
    v = w;
  }
  return v;
}

constexpr WordKey word_key(const char* t, std::uint32_t n) {
  const std::uint32_t width = n >= 8 ? 8 : n >= 4 ? 4 : 2;
  constexpr std::uint64_t kFold = 0x2020202020202020ull;
  const std::uint64_t mask = width == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * width)) - 1;
  return WordKey{word_piece(t, width) | (kFold & mask),
                 word_piece(t + n - width, width) | (kFold & mask)};
}

// The reserved words grouped by length and first letter: kWordGroups[n][c] holds the keys of
// those of n letters that begin with the letter c ('a' + c).
struct WordGroup {
  std::array<WordKey, 4> keys{};
  std::size_t count = 0;
};
using WordGroups = std::array<std::array<WordGroup, 26>, 11>;
constexpr WordGroups group_words() {
  WordGroups groups{};
  for (std::string_view w : kReservedWords) {
    WordGroup& g = groups[w.size()][static_cast<std::size_t>(fold(w[0]) - 'a')];
    g.keys[g.count++] = word_key(w.data(), static_cast<std::uint32_t>(w.size()));
  }
  return groups;
}
constexpr WordGroups kWordGroups = group_words();
static_assert(word_key("Match", 5) == word_key("MATCH", 5) &&
              word_key("match", 5) == word_key("MATCH", 5) &&
              !(word_key("MATC_", 5) == word_key("MATCH", 5)) &&
              !(word_key("m4tch", 5) == word_key("MATCH", 5)));

// Whether the run of `n` word characters at `t` (the whole run) is a reserved word.
inline bool reserved_word(const char* t, std::uint32_t n) {
  if (n < 2 || n > 10 || !is_alpha(t[0])) return false;
  const WordGroup& group = kWordGroups[n][static_cast<std::size_t>(fold(t[0]) - 'a')];
  if (group.count == 0) return false;
  const WordKey key = word_key(t, n);
  for (std::size_t k = 0; k < group.count; ++k) {
    if (group.keys[k] == key) return true;
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
