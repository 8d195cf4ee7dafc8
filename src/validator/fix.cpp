// Applying suggestions to the query text so that only whole names change: string literals,
// comments, parts of longer names and parts of backtick-quoted names are left alone.
#include "validator/fix.hpp"

#include <algorithm>
#include <cstdint>
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

std::optional<std::string> compute_fixed_query(
    std::string_view query, const std::vector<ValidationDiagnostic>& diagnostics) {
  std::vector<std::pair<std::string_view, std::string_view>> pairs;
  bool any_error = false;
  for (const auto& d : diagnostics) {
    if (d.severity != Severity::Error) continue;
    any_error = true;
    if (!d.suggestion) return std::nullopt;  // all or nothing
    std::pair<std::string_view, std::string_view> pair{d.suggestion->original,
                                                       d.suggestion->replacement};
    if (std::find(pairs.begin(), pairs.end(), pair) == pairs.end()) pairs.push_back(pair);
  }
  if (!any_error) return std::nullopt;
  std::stable_sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) {
    return a.first.size() > b.first.size();
  });
  std::string text(query);
  for (const auto& [original, replacement] : pairs) {
    text = replace_whole_names(text, original, replacement);
  }
  return text;
}

}  // namespace tessary
