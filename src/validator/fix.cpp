// Applying suggestions to the query text so that only whole names change: string literals,
// comments, parts of longer names and parts of backtick-quoted names are left alone.
#include "validator/fix.hpp"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace tessary {

namespace {

bool is_name_byte(char c) {
  return c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Where each byte of a query text stands, as far as the fix cares: in plain text, inside a
// string literal or comment (never touched), or inside a backtick-quoted name.
class TextMap {
 public:
  explicit TextMap(std::string_view text) : owner_(text.size(), kPlain) {
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
      const char c = text[i];
      if (c == '\'' || c == '"') {
        std::size_t close = text.find(c, i + 1);
        if (close == std::string_view::npos) {
          ++i;
          continue;
        }
        mark(i, close + 1, kProtected);
        i = close + 1;
      } else if (c == '`') {
        std::size_t close = text.find('`', i + 1);
        if (close == std::string_view::npos) {
          ++i;
          continue;
        }
        // A quoted name is identified by the offset of its opening backtick.
        mark(i, close + 1, static_cast<std::int64_t>(i));
        ends_.emplace_back(i, close + 1);
        i = close + 1;
      } else if (c == '/' && i + 1 < n && text[i + 1] == '/') {
        std::size_t nl = text.find('\n', i + 2);
        std::size_t end = nl == std::string_view::npos ? n : nl + 1;
        mark(i, end, kProtected);
        i = end;
      } else if (c == '/' && i + 1 < n && text[i + 1] == '*') {
        std::size_t close = text.find("*/", i + 2);
        if (close == std::string_view::npos) {
          ++i;  // an unterminated block comment is ordinary text
          continue;
        }
        mark(i, close + 2, kProtected);
        i = close + 2;
      } else {
        ++i;
      }
    }
  }

  // Whether the byte at `k` is outside literals, comments and quoted names.
  bool plain(std::size_t k) const { return owner_[k] == kPlain; }

  // The end of the quoted name whose opening backtick is at `k`, or 0.
  std::size_t quoted_name_end(std::size_t k) const {
    return owner_[k] == static_cast<std::int64_t>(k) ? quoted_end(k) : 0;
  }

  // Whether every quote, backtick and block comment opening of `text` (the text this map was
  // made of) is closed, and every quoted name stands between bytes that are neither name bytes
  // nor backticks.
  bool quoted_names_stand_apart(std::string_view text) const {
    for (std::size_t k = 0; k < text.size(); ++k) {
      if (!plain(k)) continue;
      const char c = text[k];
      if (c == '`' || c == '\'' || c == '"') return false;
      if (c == '/' && k + 1 < text.size() && text[k + 1] == '*') return false;
    }
    auto apart = [](char c) { return !is_name_byte(c) && c != '`'; };
    for (const auto& [open, end] : ends_) {
      if (open > 0 && !apart(text[open - 1])) return false;
      if (end < text.size() && !apart(text[end])) return false;
    }
    return true;
  }

  // Whether [begin, end) touches no literal or comment and cuts no quoted name.
  bool replaceable(std::size_t begin, std::size_t end) const {
    for (std::size_t k = begin; k < end; ++k) {
      if (owner_[k] == kProtected) return false;
    }
    if (owner_[begin] >= 0 && static_cast<std::size_t>(owner_[begin]) != begin) return false;
    const std::int64_t last = owner_[end - 1];
    if (last >= 0 && quoted_end(static_cast<std::size_t>(last)) != end) return false;
    return true;
  }

 private:
  static constexpr std::int64_t kPlain = -1;
  static constexpr std::int64_t kProtected = -2;

  void mark(std::size_t begin, std::size_t end, std::int64_t owner) {
    std::fill(owner_.begin() + static_cast<std::ptrdiff_t>(begin),
              owner_.begin() + static_cast<std::ptrdiff_t>(end), owner);
  }
  std::size_t quoted_end(std::size_t start) const {
    auto it = std::lower_bound(ends_.begin(), ends_.end(), std::make_pair(start, std::size_t{0}));
    return it == ends_.end() || it->first != start ? 0 : it->second;
  }

  std::vector<std::int64_t> owner_;
  std::vector<std::pair<std::size_t, std::size_t>> ends_;  // quoted names, by opening offset
};

}  // namespace

std::string replace_whole_names(std::string_view text, std::string_view original,
                                std::string_view replacement) {
  if (original.empty()) return std::string(text);
  std::size_t at = text.find(original);
  if (at == std::string_view::npos) return std::string(text);

  const TextMap map(text);
  const bool check_start = original.front() != ':';
  std::string out;
  out.reserve(text.size());
  std::size_t copied = 0;
  while (at != std::string_view::npos) {
    const std::size_t end = at + original.size();
    bool ok = map.replaceable(at, end);
    if (ok && check_start && at > 0 && (is_name_byte(text[at - 1]) || text[at - 1] == '$')) {
      ok = false;
    }
    if (ok && end < text.size() && is_name_byte(text[end])) ok = false;
    if (ok) {
      out.append(text.substr(copied, at - copied));
      out.append(replacement);
      copied = end;
      at = text.find(original, end);
    } else {
      at = text.find(original, at + 1);
    }
  }
  out.append(text.substr(copied));
  return out;
}

namespace {

using Fragments = std::pair<std::string_view, std::string_view>;  // original, replacement

// The distinct (original, replacement) pairs of the error suggestions in the order found, or
// none when there is no error or an error has no suggestion.
std::optional<std::vector<Fragments>> collect_pairs(
    const std::vector<ValidationDiagnostic>& diagnostics) {
  struct Hash {
    std::size_t operator()(const Fragments& f) const {
      std::hash<std::string_view> h;
      return h(f.first) * 31 + h(f.second);
    }
  };
  constexpr std::size_t kLinearLimit = 8;  // few pairs are compared directly
  std::vector<Fragments> pairs;
  std::unordered_set<Fragments, Hash> seen;
  bool any_error = false;
  for (const auto& d : diagnostics) {
    if (d.severity != Severity::Error) continue;
    any_error = true;
    if (!d.suggestion) return std::nullopt;  // all or nothing
    const Fragments pair{d.suggestion->original, d.suggestion->replacement};
    if (pairs.size() < kLinearLimit) {
      if (std::find(pairs.begin(), pairs.end(), pair) != pairs.end()) continue;
    } else {
      if (seen.empty()) seen.insert(pairs.begin(), pairs.end());
      if (!seen.insert(pair).second) continue;
    }
    pairs.push_back(pair);
  }
  if (!any_error) return std::nullopt;
  return pairs;
}

// What a fragment is after the ":" of a label or relationship type: a plain name (name bytes
// only), a quoted name (backticks around bytes without one), or anything else.
enum class Shape : std::uint8_t { Plain, Quoted, Other };

Shape shape_of(std::string_view fragment) {
  if (!fragment.empty() && fragment.front() == ':') fragment.remove_prefix(1);
  if (!fragment.empty() && std::all_of(fragment.begin(), fragment.end(), is_name_byte)) {
    return Shape::Plain;
  }
  if (fragment.size() >= 3 && fragment.front() == '`' && fragment.back() == '`' &&
      fragment.substr(1, fragment.size() - 2).find('`') == std::string_view::npos) {
    return Shape::Quoted;
  }
  return Shape::Other;
}

// Whether the pairs can be applied in one pass by replace_names.
bool one_pass_applies(std::string_view text, const TextMap& map,
                      const std::vector<Fragments>& pairs) {
  bool quoted = false;
  for (const auto& [original, replacement] : pairs) {
    const Shape from = shape_of(original);
    const Shape to = shape_of(replacement);
    if (from == Shape::Other || to == Shape::Other) return false;
    if ((original.front() == ':') != (replacement.front() == ':')) return false;
    quoted = quoted || from == Shape::Quoted || to == Shape::Quoted;
  }
  return !quoted || map.quoted_names_stand_apart(text);
}

// All pairs applied in one pass. The names a pair can rewrite are the runs of name bytes outside
// literals, comments and quoted names, and the quoted names: a property pair each name equal to
// its original that does not follow "$", a label pair each name that follows ":" and equals its
// original after the ":". With the fragments one_pass_applies accepts, a rewritten name is again
// such a name in the same place, between the same bytes, and no literal, comment or other quoted
// name changes; so applying the pairs one after the other comes to following each name through
// the pairs in order, which is what this does.
std::string replace_names(std::string_view text, const TextMap& map,
                          const std::vector<Fragments>& pairs) {
  struct Rewrites {
    std::vector<std::size_t> after_colon;  // label pairs, by their index in `pairs`
    std::vector<std::size_t> anywhere;     // property pairs
  };
  std::unordered_map<std::string_view, Rewrites> by_name;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    std::string_view original = pairs[i].first;
    if (original.front() == ':') {
      by_name[original.substr(1)].after_colon.push_back(i);
    } else {
      by_name[original].anywhere.push_back(i);
    }
  }
  auto first_from = [](const std::vector<std::size_t>& indices, std::size_t from) {
    auto it = std::lower_bound(indices.begin(), indices.end(), from);
    return it == indices.end() ? SIZE_MAX : *it;
  };
  // The name a name ends as, following it through the pairs in order.
  auto rewrite = [&](std::string_view name, bool after_colon) {
    for (std::size_t next = 0;;) {
      auto it = by_name.find(name);
      if (it == by_name.end()) return name;
      std::size_t index = first_from(it->second.anywhere, next);
      if (after_colon) index = std::min(index, first_from(it->second.after_colon, next));
      if (index == SIZE_MAX) return name;
      name = pairs[index].second;
      if (name.front() == ':') name.remove_prefix(1);
      next = index + 1;
    }
  };

  std::string out;
  out.reserve(text.size());
  std::size_t copied = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t start = i;
    if (const std::size_t end = map.quoted_name_end(i)) {
      i = end;
    } else if (is_name_byte(text[i])) {
      while (i < text.size() && is_name_byte(text[i])) ++i;
      if (!map.plain(start) || !map.plain(i - 1)) continue;
    } else {
      ++i;
      continue;
    }
    const char before = start > 0 ? text[start - 1] : '\0';
    if (before == '$') continue;
    const std::string_view name = text.substr(start, i - start);
    const std::string_view fixed = rewrite(name, before == ':' && map.plain(start - 1));
    if (fixed == name) continue;
    out.append(text.substr(copied, start - copied));
    out.append(fixed);
    copied = i;
  }
  out.append(text.substr(copied));
  return out;
}

}  // namespace

std::optional<std::string> compute_fixed_query(
    std::string_view query, const std::vector<ValidationDiagnostic>& diagnostics) {
  std::optional<std::vector<Fragments>> pairs = collect_pairs(diagnostics);
  if (!pairs) return std::nullopt;
  std::stable_sort(pairs->begin(), pairs->end(), [](const auto& a, const auto& b) {
    return a.first.size() > b.first.size();
  });
  const TextMap map(query);
  if (one_pass_applies(query, map, *pairs)) return replace_names(query, map, *pairs);
  // Otherwise each pair works on the text the previous one produced.
  std::string text(query);
  for (const auto& [original, replacement] : *pairs) {
    text = replace_whole_names(text, original, replacement);
  }
  return text;
}

}  // namespace tessary
