#include "parser/names.hpp"

#include <optional>
#include <variant>

#include "parser/recognizer.hpp"

namespace tessary {

bool is_plain_name(std::string_view name) {
  auto word_byte = [](char c) {
    return c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  };
  bool plain = !name.empty() && !(name.front() >= '0' && name.front() <= '9');
  for (char c : name) plain = plain && word_byte(c);
  // Only a short word can be a reserved word (none is longer than ten letters); for those the
  // grammar's own `variable` rule decides.
  if (plain && name.size() <= 10) {
    auto run = CypherParser::parse(Rule::variable, name);
    const auto* pairs = std::get_if<Pairs>(&run);
    auto first = pairs ? pairs->peek() : std::nullopt;
    plain = first && first->start() == 0 && first->end() == name.size();
  }
  return plain;
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
