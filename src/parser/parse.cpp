#include "parser/parse.hpp"

#include <cstdlib>
#include <limits>

#include "parser/builder.hpp"
#include "deep_stack.hpp"
#include "parser/recognizer.hpp"
#include "parser/rule.hpp"

namespace tessary {
namespace {

std::uint32_t clamp32(std::uint64_t value) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
  return static_cast<std::uint32_t>(value > kMax ? kMax : value);
}

// The regular query that `top` holds, or throws.
Pair query_body(Pair top) {
  std::optional<Pair> statement = top.into_inner().peek();
  if (!statement) builder::fail("Empty query");
  if (statement->as_rule() != Rule::statement) {
    builder::fail("Expected statement, got " + std::string(rule_name(statement->as_rule())));
  }
  std::optional<Pair> body = statement->into_inner().peek();
  if (!body) builder::fail("Empty statement");
  if (body->as_rule() != Rule::regular_query) {
    builder::fail("Unknown statement type: " + std::string(rule_name(body->as_rule())));
  }
  return *body;
}

// The tree of `top` as the first alternative of `Result`, made in its place, or what `on_error`
// makes of the build's error.
template <class Result, class OnError>
Result build_as(Pair top, SourceText text, OnError&& on_error) {
  try {
    const Pair body = query_body(top);
    // Every node of the tree takes its memory from one arena, which the root keeps, and every
    // text of the tree is a piece of the arena's copy of the query text (or of the text itself).
    return Result(std::in_place_index<0>, std::make_unique<Arena>(), [&](Arena* arena) {
      BuildingArena building(arena, top.input(), text);
      return builder::build_regular_query(body);
    });
  } catch (CypherError& error) {
    return on_error(error);
  }
}

}  // namespace

std::variant<CypherQuery, CypherError> build_query(Pair top, SourceText text) {
  using Result = std::variant<CypherQuery, CypherError>;
  return build_as<Result>(top, text, [](CypherError& error) { return Result(std::move(error)); });
}

namespace {

// Puts the heap's allocator, once per process, in the state it reaches by itself once the
// process has freed a large block. glibc's allocator adapts two thresholds to the blocks a
// process frees: freeing a block it had mapped raises the size from which it maps blocks to that
// block's size (up to 32 MiB), and the free room it keeps at the top of a heap to twice that.
// Before that has happened, it maps every block of 128 KiB or more afresh and gives back any
// free stretch of more than 128 KiB at the top of a heap at once, so that a parse that makes and
// frees some megabytes (the token list, the tree and the findings of a large query) faults all
// their pages in again on every call, 4 KiB at a time. Which state a process is in would then
// depend on the sizes of the blocks it happened to free before.
void settle_heap() noexcept {
  static const bool settled = [] {
    // Just below the largest adaptive threshold, the block's header and page rounding included;
    // volatile, so that the compiler does not leave the unused block out.
    void* volatile block = std::malloc((std::size_t{32} << 20) - (std::size_t{64} << 10));
    std::free(block);
    return true;
  }();
  (void)settled;
}

}  // namespace

namespace on_this_stack {

std::variant<CypherQuery, CypherError> parse(std::string_view query) {
  settle_heap();
  std::variant<Pairs, Error> run = CypherParser::parse(Rule::cypher, query);
  if (Error* error = std::get_if<Error>(&run)) return CypherError::parse(error->rendered());
  std::optional<Pair> top = std::get<Pairs>(run).peek();
  if (!top) return CypherError::parse("No parse result");
  return build_query(*top);
}

std::variant<CypherQuery, ParseErrorDetail> parse_with_detail(std::string_view query,
                                                              SourceText text) {
  settle_heap();
  std::variant<Pairs, Error> run = CypherParser::parse(Rule::cypher, query);
  if (Error* error = std::get_if<Error>(&run)) {
    return ParseErrorDetail{error->rendered(),
                            std::make_pair(clamp32(error->line), clamp32(error->column))};
  }
  std::optional<Pair> top = std::get<Pairs>(run).peek();
  if (!top) return ParseErrorDetail{"No parse result", std::nullopt};
  using Result = std::variant<CypherQuery, ParseErrorDetail>;
  return build_as<Result>(*top, text, [](CypherError& error) {
    return Result(ParseErrorDetail{error.display(), std::nullopt});
  });
}

}  // namespace on_this_stack

std::variant<CypherQuery, CypherError> parse(std::string_view query) {
  return deep_stack::call([&] { return on_this_stack::parse(query); });
}

std::variant<CypherQuery, ParseErrorDetail> parse_with_detail(std::string_view query) {
  return deep_stack::call([&] { return on_this_stack::parse_with_detail(query); });
}

}  // namespace tessary
