// The recognizer's parse error: where a run failed, what it expected there, and the text that
// shows it.
#include "parser/recognizer_error.hpp"

#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace tessary {

Error Error::new_from_pos(std::vector<Rule> expected, std::uint64_t position,
                          std::string_view input) {
  Error e;
  e.expected = std::move(expected);
  if (position > input.size()) position = input.size();
  e.position = position;
  const std::size_t pos = static_cast<std::size_t>(position);
  std::size_t line_start = 0;
  std::uint64_t line = 1;
  const char* const text_begin = input.data();
  for (const char* at = text_begin; at < text_begin + pos;) {
    const void* nl = std::memchr(at, '\n', static_cast<std::size_t>(text_begin + pos - at));
    if (nl == nullptr) break;
    ++line;
    at = static_cast<const char*>(nl) + 1;
    line_start = static_cast<std::size_t>(at - text_begin);
  }
  std::uint64_t column = 1;
  for (std::size_t i = line_start; i < pos; ++i) {
    if ((static_cast<unsigned char>(input[i]) & 0xC0) != 0x80) ++column;
  }
  std::size_t line_end = input.find('\n', pos);
  if (line_end == std::string_view::npos) line_end = input.size();
  // The line holds no newline; carriage returns are left out of the display.
  const std::string_view shown = input.substr(line_start, line_end - line_start);
  std::string text;
  if (shown.find('\r') == std::string_view::npos) {
    text.assign(shown);
  } else {
    text.reserve(shown.size());
    for (char c : shown) {
      if (c != '\r') text.push_back(c);
    }
  }
  e.line = line;
  e.column = column;
  e.line_text = std::move(text);
  return e;
}

std::string Error::message() const {
  if (!message_override.empty()) return message_override;
  std::string out = "expected ";
  const std::size_t n = expected.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0) {
      if (n == 2) {
        out += " or ";
      } else if (i + 1 == n) {
        out += ", or ";
      } else {
        out += ", ";
      }
    }
    out += rule_name(expected[i]);
  }
  return out;
}

std::string Error::rendered() const {
  const std::string num = std::to_string(line);
  const std::string col = std::to_string(column);
  const std::string text = message();
  // The underline: a blank for each character before the column (a tab stays a tab, so that
  // the caret lines up under the text), then the caret.
  std::string underline(line_text.size(), ' ');
  std::size_t width = 0;
  std::uint64_t chars = 0;
  for (std::size_t i = 0; i < line_text.size() && chars + 1 < column; ++i) {
    const auto c = static_cast<unsigned char>(line_text[i]);
    if ((c & 0xC0) == 0x80) continue;  // continuation byte of the character already counted
    if (c == '\t') underline[width] = '\t';
    ++width;
    ++chars;
  }
  underline.resize(width);
  const std::string gutter(num.size(), ' ');
  std::string out;
  out.reserve(5 * gutter.size() + num.size() * 2 + col.size() + line_text.size() + width +
              text.size() + 40);
  out.append(gutter).append("--> ").append(num).append(":").append(col).append("\n");
  out.append(gutter).append(" |\n");
  out.append(num).append(" | ").append(line_text).append("\n");
  out.append(gutter).append(" | ").append(underline).append("^---\n");
  out.append(gutter).append(" |\n");
  out.append(gutter).append(" = ").append(text);
  return out;
}

}  // namespace tessary
