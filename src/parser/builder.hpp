#pragma once
// The builder: turns the recognizer's token tree into the query tree, one step per grammar
// rule. Each step takes one pair of the rule it is named after and returns its node. A step
// that meets a pair it cannot build throws `CypherError` (kind Parse) with a fixed message;
// the first failure ends the whole build and every node built so far is released by
// unwinding. `build_query` (parser/parse.hpp) is the entry that turns that into a result.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "error.hpp"
#include "parser/ast.hpp"
#include "parser/pairs.hpp"

namespace tessary::builder {

// Deepest query tree the builder makes. Operator chains (a + b + ...) are flat in the token
// tree, which the recognizer's nesting bound does not limit, but each operator nests one level
// deeper in the query tree, and every reader of the tree (the checks, copying, release)
// recurses along that nesting. Past this depth the build fails with kTooDeepMessage instead
// of leaving a tree that could exhaust a thread's stack.
inline constexpr std::size_t kMaxTreeDepth = 1000;
inline constexpr const char* kTooDeepMessage =
    "Query nested too deeply: more than 1000 levels of operators and nested expressions";

[[noreturn]] void fail(std::string message);

namespace detail {
[[noreturn]] void fail_too_deep();
}  // namespace detail

// Counts, on this thread, how many nodes of the tree under construction stand above the child
// being built now. A step holds one guard while it builds its children, set to the number of
// its own nodes that will stand above the next child (a left fold of n operands: n - 1 above
// the first operand, n - i above operand i). Throws kTooDeepMessage past kMaxTreeDepth.
class DepthGuard {
 public:
  explicit DepthGuard(std::size_t levels = 1) : thread_(&build_thread()) { set(levels); }
  ~DepthGuard() { thread_->depth -= levels_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
  void set(std::size_t levels) {
    const std::size_t depth = thread_->depth - levels_ + levels;
    // Checked before the count changes: a guard whose constructor throws is never destroyed.
    if (depth > kMaxTreeDepth) detail::fail_too_deep();
    thread_->depth = depth;
    levels_ = levels;
  }
  // Fails as a guard of `levels` would, for a step that builds no child under it.
  static void check(std::size_t levels) { check(levels, arena_detail::t_build); }
  static void check(std::size_t levels, const BuildThread& thread) {
    if (thread.depth + levels > kMaxTreeDepth) detail::fail_too_deep();
  }
  // What this thread builds from, for the step's boxes, lists and texts.
  const Building& building() const { return thread_->building; }

 private:
  BuildThread* thread_;  // this thread's, looked up once
  std::size_t levels_ = 0;
};

// Expressions.
Expr build_expression(const Pair& pair);
// The first inner pair of `pair` built as an expression; fails with `missing` without one.
Expr build_first_inner_expression(const Pair& pair, const char* missing);
Expr build_comparison_expr(const Pair& pair);
Expr build_add_sub_expr(const Pair& pair);
Expr build_postfix_expr(const Pair& pair);
TreeList<MapEntry> build_map_literal(const Pair& pair);

// Atoms.
struct FilterTriple {
  Text variable;
  Expr list = Expr::Null{};
  MaybeBox<Expr> predicate;
};
Expr build_atom(const Pair& pair);
Expr build_literal(const Pair& pair);
Expr build_reduce_expression(const Pair& pair);
Expr build_shortest_path_expr(const Pair& pair);
Expr build_exists_subquery(const Pair& pair);
Expr build_count_subquery(const Pair& pair);
Expr build_collect_subquery(const Pair& pair);
Expr build_pattern_comprehension(const Pair& pair);
FilterTriple parse_filter_expression(const Pair& pair);

// Literal texts. An integer literal is decimal, or hexadecimal after "0x"/"0X", or octal
// after "0o"; a text out of the signed 64-bit range (or not a number) reads as 0. A float
// literal is rounded to the nearest double; beyond the double range it reads as infinity,
// below it as 0.0.
std::int64_t integer_literal_value(std::string_view text);
double float_literal_value(std::string_view text);

// Patterns, each built into a node made empty by its caller, in the place it takes in the tree.
void build_pattern(const Pair& pair, Pattern& pattern);
void build_pattern_part(const Pair& pair, PatternPart& part);
void build_pattern_element(const Pair& pair, PatternElement& element);
// The relationships and nodes after an element's first node, as the element's steps.
void build_pattern_steps(const Pairs& steps, PatternElement& element);
void build_node_pattern(const Pair& pair, NodePattern& node);
void build_relationship_pattern(const Pair& pair, RelationshipPattern& rel);
MapOrParam build_properties(const Pair& pair);

// Queries and projections.
RegularQuery build_regular_query(const Pair& pair);
SingleQuery build_single_query(const Pair& pair);
void build_return_clause(const Pair& pair, ReturnClause& ret);
SortItem build_sort_item(const Pair& pair);

// Reading clauses.
ReadingClause build_reading_clause(const Pair& pair);
ReadingClause::Call build_call_clause(const Pair& pair);

// Updating clauses.
UpdatingClause build_updating_clause(const Pair& pair);
UpdatingClause build_merge_clause(const Pair& pair);
TreeList<SetItem> build_set_clause(const Pair& pair);
PropertyExpr build_property_expression(const Pair& pair);

}  // namespace tessary::builder
