#pragma once
// The parser's entry points: query text in, query tree or error out. Both are pure functions
// of their argument and may run on any number of threads at once.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "error.hpp"
#include "parser/ast.hpp"
#include "parser/pairs.hpp"

namespace tessary {

// The error of parse_with_detail. `position` (1-based line and column, the column counted
// in characters) is present for a grammar error only.
struct ParseErrorDetail {
  std::string message;
  std::optional<std::pair<std::uint32_t, std::uint32_t>> position;
};

// Parses and builds. A grammar error gives a Parse error whose message is the rendered
// error text; a builder failure gives the builder's error.
std::variant<CypherQuery, CypherError> parse(std::string_view query);

// Parses and builds. A grammar error gives its rendered text (no prefix) with its position;
// a builder failure gives the error's display text ("Parse error: ...") without position.
std::variant<CypherQuery, ParseErrorDetail> parse_with_detail(std::string_view query);

// The same two entries on the calling thread's stack, for an entry point that has already made
// sure of enough stack (through deep_stack::call) for the whole of its work.
// parse_with_detail can leave the tree's texts in `query` itself rather than in a copy, for a
// caller whose query text outlives the tree (the copy would otherwise be made while the
// recognizer's tokens are all still held).
namespace on_this_stack {
std::variant<CypherQuery, CypherError> parse(std::string_view query);
std::variant<CypherQuery, ParseErrorDetail> parse_with_detail(std::string_view query,
                                                              SourceText text = SourceText::Copied);
}  // namespace on_this_stack

// Builds the tree from the top `cypher` pair of a recognizer run.
std::variant<CypherQuery, CypherError> build_query(Pair top, SourceText text = SourceText::Copied);

}  // namespace tessary
