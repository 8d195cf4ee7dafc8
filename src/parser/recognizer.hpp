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

  // Whether `word` is one of the grammar's reserved words, A-Z folded: the test by which a run
  // of ASCII word characters is refused as an identifier.
  static bool is_reserved_word(std::string_view word);
};

}  // namespace tessary
