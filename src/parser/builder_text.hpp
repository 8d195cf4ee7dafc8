#pragma once
// Reading the words and operators that the grammar matches as bare literals. Such literals
// leave no pair, so the builder finds them in a pair's text outside the spans of its inner
// pairs: the "gaps". A gap holds only literals, whitespace and comments; comments are
// passed over, so a word written inside a comment never counts.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "parser/ast.hpp"
#include "parser/pairs.hpp"
#include "parser/rule.hpp"

namespace tessary::builder {

// True when `word` (ASCII, compared without regard to letter case) occurs in `text` outside
// comments. A comment separates: a word never runs across one.
bool has_word(std::string_view text, std::string_view word);

// True when `text` begins with `word`, compared without regard to letter case.
bool starts_with_word(std::string_view text, std::string_view word);

// The first character of `text` outside comments that is one of `candidates`, or '\0'.
char find_operator(std::string_view text, std::string_view candidates);

// The text of `parent` from byte offset `from` (absolute, within the parent's span) to the
// start of `child`, or to the parent's end when `child` is null.
std::string_view gap_text(const Pair& parent, std::size_t from, const Pair* child);

// The text of `parent` before its first inner pair (all of it when it has none).
std::string_view leading_gap(const Pair& parent);

// The text of `parent` after its last inner pair (all of it when it has none).
std::string_view trailing_gap(const Pair& parent);

// A pair's text, exactly as written (a tree's Text made from it points into the tree's copy of
// the query text).
[[gnu::always_inline]] inline std::string_view text_of(const Pair& pair) { return pair.as_str(); }

// Where a pair starts in the query text. Token positions count in 32 bits, so every offset fits.
inline std::uint32_t offset_of(const Pair& pair) {
  return static_cast<std::uint32_t>(pair.start());
}

// The texts of the inner pairs of `pair` whose rule is `name_rule` (label names, relationship
// type names), in order, into `names`, and where each is written into `offsets`.
void inner_names(const Pair& pair, Rule name_rule, TreeList<Text>& names, NameOffsets& offsets);
// The same, by `b`: this thread's Building, as a step that keeps it hands it over.
void inner_names(const Pair& pair, Rule name_rule, TreeList<Text>& names, NameOffsets& offsets,
                 const Building& b);

// A parameter's text without its leading "$" (every one of them).
std::string_view without_dollars(std::string_view text);

}  // namespace tessary::builder
