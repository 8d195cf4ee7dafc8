#include "parser/names.hpp"

#include "parser/recognizer.hpp"

namespace tessary {

bool is_plain_name(std::string_view name) {
  auto word_byte = [](char c) {
    return c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  };
  bool plain = !name.empty() && !(name.front() >= '0' && name.front() <= '9');
  for (char c : name) plain = plain && word_byte(c);
  // A plain word that the grammar's identifier refuses is a reserved word; the identifier
  // takes the whole run of word characters, which here is the whole name.
  return plain && !CypherParser::is_reserved_word(name);
}

std::string name_as_written(std::string_view name) {
  if (is_plain_name(name) || name.find('`') != std::string_view::npos) return std::string(name);
  std::string quoted;
  quoted.reserve(name.size() + 2);
  quoted += '`';
  quoted += name;
  quoted += '`';
  return quoted;
}

}  // namespace tessary
