// The recognizer's parse error: where a run failed, what it expected there, and the text that
// shows it.
#include "parser/recognizer_error.hpp"

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
  for (std::size_t i = 0; i < pos; ++i) {
    if (input[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  std::uint64_t column = 1;
  for (std::size_t i = line_start; i < pos; ++i) {
    if ((static_cast<unsigned char>(input[i]) & 0xC0) != 0x80) ++column;
  }
  std::size_t line_end = input.find('\n', pos);
  if (line_end == std::string_view::npos) line_end = input.size();
  std::string text;
  text.reserve(line_end - line_start);
  for (std::size_t i = line_start; i < line_end; ++i) {
    if (input[i] != '\r' && input[i] != '\n') text.push_back(input[i]);
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
  const std::string gutter(num.size(), ' ');
  std::string underline;
  std::uint64_t chars = 0;
  for (std::size_t i = 0; i < line_text.size() && chars + 1 < column; ++i) {
    const auto c = static_cast<unsigned char>(line_text[i]);
    if ((c & 0xC0) == 0x80) continue;  // continuation byte of the character already counted
    underline.push_back(c == '\t' ? '\t' : ' ');
    ++chars;
  }
  underline += "^---";
  std::string out;
  out += gutter + "--> " + num + ":" + std::to_string(column) + "\n";
  out += gutter + " |\n";
  out += num + " | " + line_text + "\n";
  out += gutter + " | " + underline + "\n";
  out += gutter + " |\n";
  out += gutter + " = " + message();
  return out;
}

}  // namespace tessary
