#pragma once
// The recursive-descent recognizer of the Cypher grammar.
#include <string_view>
#include <variant>

#include "parser/pairs.hpp"
#include "parser/recognizer_error.hpp"
#include "parser/rule.hpp"

namespace tessary {

struct CypherParser {
  // Runs `rule` over `input` from position 0. The returned pairs view `input`, which must
  // outlive them.
  static std::variant<Pairs, Error> parse(Rule rule, std::string_view input);
};

}  // namespace tessary
