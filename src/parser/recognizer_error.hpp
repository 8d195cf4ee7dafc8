#pragma once
// The recognizer's parse error.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "parser/rule.hpp"

namespace tessary {

struct Error {
  std::vector<Rule> expected;  // ascending by rule number, no duplicates, never empty
  std::uint64_t position = 0;  // byte offset of the furthest recorded attempt
  std::uint64_t line = 1;      // 1-based
  std::uint64_t column = 1;    // 1-based, counted in characters
  std::string line_text;       // the source line as displayed in the rendered text
  // Set only when the run was stopped by a bound rather than by the grammar (a query nested too
  // deeply, or too long to address): replaces the "expected ..." message.
  std::string message_override;

  static Error new_from_pos(std::vector<Rule> expected, std::uint64_t position,
                            std::string_view input);
  std::string message() const;   // "expected ...", or the override
  std::string rendered() const;  // the six-line display text
};

}  // namespace tessary
