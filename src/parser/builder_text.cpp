#include "parser/builder_text.hpp"

#include <optional>

namespace tessary::builder {
namespace {

char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Length of the comment starting at text[i], or 0 when none starts there. A block comment
// without its closing "*/" is not a comment.
std::size_t comment_length(std::string_view text, std::size_t i) {
  if (i + 1 >= text.size() || text[i] != '/') return 0;
  if (text[i + 1] == '/') {
    std::size_t nl = text.find('\n', i + 2);
    return (nl == std::string_view::npos ? text.size() : nl + 1) - i;
  }
  if (text[i + 1] == '*') {
    std::size_t close = text.find("*/", i + 2);
    if (close == std::string_view::npos) return 0;
    return close + 2 - i;
  }
  return 0;
}

// Calls `visit(segment)` for each maximal piece of `text` outside comments, until it returns
// true. Comments begin with "/", so the text is searched for that byte only.
template <class Visit>
bool any_segment(std::string_view text, Visit&& visit) {
  std::size_t seg = 0;
  std::size_t i = text.find('/');
  while (i != std::string_view::npos) {
    const std::size_t len = comment_length(text, i);
    if (len == 0) {
      i = text.find('/', i + 1);
      continue;
    }
    if (visit(text.substr(seg, i - seg))) return true;
    seg = i + len;
    i = text.find('/', seg);
  }
  return visit(text.substr(seg));
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ascii_upper(a[i]) != ascii_upper(b[i])) return false;
  }
  return true;
}

}  // namespace

bool has_word(std::string_view text, std::string_view word) {
  if (word.empty() || text.size() < word.size()) return false;
  if (word.find('/') == std::string_view::npos) {
    // A place that runs into a comment holds the comment's "/", which the word does not: the
    // text is read once, comments passed over as they come.
    const char head = ascii_upper(word[0]);
    for (std::size_t i = 0; i + word.size() <= text.size();) {
      if (text[i] == '/') {
        if (const std::size_t len = comment_length(text, i)) {
          i += len;
          continue;
        }
      } else if (ascii_upper(text[i]) == head &&
                 equal_ignoring_case(text.substr(i, word.size()), word)) {
        return true;
      }
      ++i;
    }
    return false;
  }
  return any_segment(text, [&](std::string_view seg) {
    for (std::size_t i = 0; i + word.size() <= seg.size(); ++i) {
      if (equal_ignoring_case(seg.substr(i, word.size()), word)) return true;
    }
    return false;
  });
}

bool starts_with_word(std::string_view text, std::string_view word) {
  return text.size() >= word.size() && equal_ignoring_case(text.substr(0, word.size()), word);
}

char find_operator(std::string_view text, std::string_view candidates) {
  char found = '\0';
  any_segment(text, [&](std::string_view seg) {
    std::size_t at = seg.find_first_of(candidates);
    if (at == std::string_view::npos) return false;
    found = seg[at];
    return true;
  });
  return found;
}

std::string_view gap_text(const Pair& parent, std::size_t from, const Pair* child) {
  std::size_t base = parent.start();
  std::size_t to = child ? child->start() : parent.end();
  if (from < base) from = base;
  if (to < from) return {};
  return parent.input().substr(from, to - from);
}

void inner_names(const Pair& pair, Rule name_rule, TreeList<Text>& names, NameOffsets& offsets) {
  inner_names(pair, name_rule, names, offsets, build_thread().building);
}

void inner_names(const Pair& pair, Rule name_rule, TreeList<Text>& names, NameOffsets& offsets,
                 const Building& b) {
  names.reserve(pair.into_inner().count(), b);
  for (Pair child : pair.into_inner()) {
    if (child.as_rule() != name_rule) continue;
    names.emplace_back(child.as_str(), b);
    offsets.push_back(offset_of(child));
  }
}

std::string_view without_dollars(std::string_view text) {
  while (!text.empty() && text.front() == '$') text.remove_prefix(1);
  return text;
}

std::string_view leading_gap(const Pair& parent) {
  std::optional<Pair> first = parent.into_inner().peek();
  return gap_text(parent, parent.start(), first ? &*first : nullptr);
}

std::string_view trailing_gap(const Pair& parent) {
  std::size_t last_end = parent.start();
  for (Pair child : parent.into_inner()) last_end = child.end();
  return gap_text(parent, last_end, nullptr);
}

}  // namespace tessary::builder
