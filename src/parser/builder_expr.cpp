// Expression and atom steps of the builder.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "parser/builder.hpp"
#include "parser/builder_text.hpp"
#include "parser/rule.hpp"

namespace tessary::builder {
namespace {

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// The boxes below are made by `b`, this thread's Building, as the calling step keeps it.

// A box holding what `tree` held, moved in once.
Box<Expr> box_of(Expr& tree, const Building& b) {
  return Box<Expr>::made_by(b, [&]() -> Expr { return std::move(tree); });
}

// A box of the expression of `pair`, built in the box.
Box<Expr> box_built(const Pair& pair, const Building& b = building()) {
  return Box<Expr>::made_by(b, [&] { return build_expression(pair); });
}

// The operands of an operator: what `tree` held, moved in, and the expression of `pair`, built in
// its place. `tree` is left moved from.
Box<OperandPair> operands_built(Expr& tree, const Pair& pair, const Building& b) {
  return Box<OperandPair>::made_by(b, [&] {
    return OperandPair{std::move(tree), build_expression(pair)};
  });
}

// Makes `tree` a `Node` of `parts`, in its place (boxed in its own room when the node is held
// boxed). Whatever `tree` held must have been moved out into the parts already.
template <class Node, class... Parts>
void make_node(Expr& tree, Parts&&... parts) {
  tree.emplace<Node>(std::forward<Parts>(parts)...);
}

// `tree`, moved into `operands` as the left one, becomes the operator `Node` of them.
template <class Node>
void join(Expr& tree, Box<OperandPair> operands) {
  make_node<Node>(tree, std::move(operands));
}

// `tree` becomes the operator `Node` of what it held.
template <class Node>
void wrap(Expr& tree, const Building& b) {
  make_node<Node>(tree, box_of(tree, b));
}

// Comparison operators by their text, compared without regard to letter case. For STARTS WITH and
// ENDS WITH only the first word is tested, so whatever the grammar allowed between the two words
// does not matter.
struct ComparisonOp {
  std::string_view text;
  bool prefix_only;
  void (*make)(Expr&, Box<OperandPair>);
};
constexpr ComparisonOp kComparisonOps[] = {
    {"=", false, &join<Expr::Eq>},
    {"<>", false, &join<Expr::Ne>},
    {"<", false, &join<Expr::Lt>},
    {"<=", false, &join<Expr::Le>},
    {">", false, &join<Expr::Gt>},
    {">=", false, &join<Expr::Ge>},
    {"=~", false, &join<Expr::RegexMatch>},
    {"IN", false, &join<Expr::In>},
    {"STARTS", true, &join<Expr::StartsWith>},
    {"ENDS", true, &join<Expr::EndsWith>},
    {"CONTAINS", false, &join<Expr::Contains>},
};

// The comparison operator written `text`, or null.
const ComparisonOp* comparison_op(std::string_view text) {
  // The symbols compare as they are, and only with the symbols (the first seven entries).
  if (!text.empty() && (text[0] == '=' || text[0] == '<' || text[0] == '>')) {
    for (std::size_t i = 0; i < 7; ++i) {
      if (text == kComparisonOps[i].text) return &kComparisonOps[i];
    }
    return nullptr;
  }
  // The words, after the symbols, do not begin with a symbol's character.
  for (const ComparisonOp& candidate : std::span(kComparisonOps).subspan(7)) {
    if (starts_with_word(text, candidate.text) &&
        (candidate.prefix_only || text.size() == candidate.text.size())) {
      return &candidate;
    }
  }
  return nullptr;
}

// or_expr, xor_expr, and_expr: operands separated by keyword pairs, folded to the left.
template <class Node>
[[gnu::noinline]] Expr keyword_fold(const Pair& pair, Rule keyword, const char* empty_message) {
  std::size_t operands = 0;
  for (Pair child : pair.into_inner()) operands += child.as_rule() != keyword;
  if (operands == 0) fail(empty_message);
  DepthGuard depth(operands - 1);
  Pairs inner = pair.into_inner();
  std::optional<Pair> first = inner.next();
  while (first->as_rule() == keyword) first = inner.next();  // there is an operand
  Expr tree = build_expression(*first);
  std::size_t index = 1;
  for (Pair child : inner) {
    if (child.as_rule() == keyword) continue;
    depth.set(operands - index++);
    join<Node>(tree, operands_built(tree, child, depth.building()));
  }
  return tree;
}

// add_sub_expr, mul_div_expr, mod_expr, power_expr: every inner pair is an operand; the
// operator between two operands is read from the text between their spans.
template <class Make>
[[gnu::noinline]] Expr operand_fold(const Pair& pair, const char* empty_message, Make&& make) {
  Pairs inner = pair.into_inner();
  std::size_t operands = inner.count();
  std::optional<Pair> first = inner.next();
  if (!first) fail(empty_message);
  DepthGuard depth(operands - 1);
  Expr tree = build_expression(*first);
  std::size_t prev_end = first->end();
  std::size_t index = 1;
  for (Pair child : inner) {
    depth.set(operands - index++);
    Box<OperandPair> operands = operands_built(tree, child, depth.building());
    make(gap_text(pair, prev_end, &child), tree, std::move(operands));
    prev_end = child.end();
  }
  return tree;
}

[[gnu::noinline]] Expr build_not_expr(const Pair& pair) {
  std::size_t nots = 0;
  std::optional<Pair> comparison;
  for (Pair child : pair.into_inner()) {
    if (child.as_rule() == Rule::not_kw) {
      ++nots;
    } else if (child.as_rule() == Rule::comparison_expr && !comparison) {
      comparison = child;
    }
  }
  if (!comparison) fail("NOT missing comparison_expr");
  DepthGuard depth(nots);
  Expr tree = build_comparison_expr(*comparison);
  for (std::size_t i = 0; i < nots; ++i) wrap<Expr::Not>(tree, depth.building());
  return tree;
}

[[gnu::noinline]] Expr build_unary_expr(const Pair& pair) {
  std::optional<Pair> operand;
  for (Pair child : pair.into_inner()) {
    if (child.as_rule() == Rule::postfix_expr) {
      operand = child;
      break;
    }
  }
  if (!operand) fail("Unary missing postfix");
  std::string_view text = pair.as_str();
  if (!text.empty() && text.front() == '-') {
    DepthGuard depth;
    Expr tree = build_postfix_expr(*operand);
    wrap<Expr::Neg>(tree, depth.building());
    return tree;
  }
  return build_postfix_expr(*operand);
}

// Keys are deduplicated by their text as written, compared with the entries' own key texts
// (pieces of the query text or of the tree's copy of it, which outlive the build); small maps
// are searched directly.
class MapBuilder {
 public:
  // Its entries and key texts are made by `b`, this thread's Building, as the caller keeps it.
  MapBuilder(std::size_t expected, const Building& b) : building_(b) {
    entries_.reserve(expected, b);
  }
  void insert(std::string_view key, std::uint32_t offset, Expr value) {
    if (auto found = find(key)) {
      entries_[*found].value = std::move(value);
      entries_[*found].key_offsets.push_back(offset);
      return;
    }
    if (!index_.empty() || entries_.size() >= kDirectSearchLimit) {
      if (index_.empty()) {
        for (std::size_t i = 0; i < entries_.size(); ++i) index_.emplace(entries_[i].key, i);
      }
      index_.emplace(key, entries_.size());
    }
    entries_.push_back(MapEntry{Text(key, building_), std::move(value), NameOffsets(offset)});
  }
  TreeList<MapEntry> take() { return std::move(entries_); }

 private:
  static constexpr std::size_t kDirectSearchLimit = 8;
  std::optional<std::size_t> find(std::string_view key) const {
    if (!index_.empty()) {
      auto it = index_.find(key);
      if (it == index_.end()) return std::nullopt;
      return it->second;
    }
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].key == key) return i;
    }
    return std::nullopt;
  }
  const Building& building_;
  TreeList<MapEntry> entries_;
  std::unordered_map<std::string_view, std::size_t> index_;
};

[[gnu::noinline]] Expr build_function_invocation(const Pair& pair) {
  Pairs inner = pair.into_inner();
  std::optional<Pair> name = inner.next();
  if (!name) fail("Function missing name");
  const Building& b = build_thread().building;
  auto held = Box<Expr::FunctionCall>::made_by(b, [] { return Expr::FunctionCall{}; });
  Expr::FunctionCall& call = *held;
  call.name = Text(text_of(*name), b);
  call.args.reserve(inner.count(), b);
  std::optional<Pair> first_arg;
  for (Pair child : inner) {
    if (child.as_rule() != Rule::expression) continue;
    if (!first_arg) first_arg = child;
    call.args.emplace_made([&] { return build_expression(child); });
  }
  call.distinct =
      has_word(gap_text(pair, name->end(), first_arg ? &*first_arg : nullptr), "DISTINCT");
  return Expr(std::move(held));
}

[[gnu::noinline]] Expr build_case_expression(const Pair& pair) {
  Expr::Case node;
  std::optional<Expr> pending_when;
  std::size_t prev_end = pair.start();
  for (Pair child : pair.into_inner()) {
    if (child.as_rule() != Rule::expression) continue;
    std::string_view before = gap_text(pair, prev_end, &child);
    prev_end = child.end();
    Expr value = build_expression(child);
    if (has_word(before, "ELSE")) {
      node.else_expr = Box<Expr>(std::move(value));
    } else if (has_word(before, "THEN")) {
      if (pending_when) {
        node.alternatives.push_back(CaseAlternative{std::move(*pending_when), std::move(value)});
        pending_when.reset();
      }
    } else if (has_word(before, "WHEN")) {
      pending_when.emplace(std::move(value));
    } else {
      node.subject = Box<Expr>(std::move(value));
    }
  }
  return Expr(std::move(node));
}

[[gnu::noinline]] Expr build_list_comprehension(const Pair& pair) {
  FilterTriple filter;
  MaybeBox<Expr> projection;
  for (Pair child : pair.into_inner()) {
    if (child.as_rule() == Rule::filter_expression) {
      filter = parse_filter_expression(child);
    } else if (child.as_rule() == Rule::expression) {
      projection = box_built(child);
    }
  }
  return Expr(Expr::ListComprehension{std::move(filter.variable), Box<Expr>(std::move(filter.list)),
                                      std::move(filter.predicate), std::move(projection)});
}

template <class Node>
Expr quantifier(FilterTriple filter) {
  return Expr(Node{std::move(filter.variable), Box<Expr>(std::move(filter.list)),
                   std::move(filter.predicate)});
}

[[gnu::noinline]] Expr build_quantifier_expression(const Pair& pair) {
  FilterTriple filter;
  for (Pair child : pair.into_inner()) {
    if (child.as_rule() == Rule::filter_expression) filter = parse_filter_expression(child);
  }
  std::string_view text = pair.as_str();
  if (starts_with_word(text, "ALL")) return quantifier<Expr::All>(std::move(filter));
  if (starts_with_word(text, "ANY")) return quantifier<Expr::Any>(std::move(filter));
  if (starts_with_word(text, "NONE")) return quantifier<Expr::None>(std::move(filter));
  return quantifier<Expr::Single>(std::move(filter));
}

// Down from `top`, the first level that builds a node of its own: sets `level` to it and returns
// its rule. The levels passed over hand their one operand to build_expression unchanged: an
// expression, a level with one operand and no operator, a parenthesised atom. Each level's rule
// is read once, as its parent's child.
// Inlined into its caller, and walking with a pair of its own that is written out once, so that
// the pairs are read and written field by field: a pair copied whole, with wide loads, just after
// its fields were stored one by one would wait for those stores.
[[gnu::always_inline]] inline Rule building_level(const Pair& top, std::optional<Pair>& level) {
  // Chain levels that hold the next level alone and end where it ends pass it on: they are
  // passed over at once.
  Pair pair = top.innermost_sharing_end();
  Rule rule = pair.as_rule();
  const auto found = [&] {
    level.emplace(pair);
    return rule;
  };
  for (;;) {
    Pairs inner = pair.into_inner();
    std::optional<Pair> first = inner.next();
    if (!first) return found();
    Rule child = first->as_rule();
    bool pass = false;
    switch (rule) {
      case Rule::expression:
        pass = true;
        break;
      case Rule::atom:
        if (child != Rule::parenthesized_expr) return found();
        first = first->into_inner().peek();
        if (!first) return found();
        child = first->as_rule();
        pass = true;
        break;
      case Rule::or_expr:
      case Rule::xor_expr:
      case Rule::and_expr:
        pass = child != Rule::or_kw && child != Rule::xor_kw && child != Rule::and_kw;
        break;
      case Rule::not_expr:
        pass = child == Rule::comparison_expr;
        break;
      case Rule::comparison_expr:
      case Rule::add_sub_expr:
      case Rule::mul_div_expr:
      case Rule::mod_expr:
      case Rule::power_expr:
        pass = true;
        break;
      case Rule::unary_expr: {
        std::string_view text = pair.as_str();
        pass = child == Rule::postfix_expr && !(!text.empty() && text.front() == '-');
        break;
      }
      case Rule::postfix_expr:
        pass = child == Rule::atom;
        break;
      default:
        break;
    }
    // Only an expression and an atom pass on a first pair that has siblings.
    if (!pass || (rule != Rule::expression && rule != Rule::atom && !inner.empty())) {
      return found();
    }
    pair = first->innermost_sharing_end();
    rule = pair.as_rule();
  }
}

}  // namespace

[[noreturn]] void fail(std::string message) { throw CypherError::parse(std::move(message)); }

[[gnu::noinline, gnu::cold]] void detail::fail_too_deep() { fail(kTooDeepMessage); }

// ---------------------------------------------------------------------------------------------
// Expressions

Expr build_expression(const Pair& top) {
  // Most levels of the chain hold a single operand; walk down to the first one that builds a
  // node within this frame, so a nesting level of the query costs few frames.
  std::optional<Pair> level;
  const Rule rule = building_level(top, level);
  const Pair& pair = *level;
  switch (rule) {
    case Rule::expression:
      return build_first_inner_expression(pair, "Empty expression");
    case Rule::or_expr:
      return keyword_fold<Expr::Or>(pair, Rule::or_kw, "Empty or_expr");
    case Rule::xor_expr:
      return keyword_fold<Expr::Xor>(pair, Rule::xor_kw, "Empty xor_expr");
    case Rule::and_expr:
      return keyword_fold<Expr::And>(pair, Rule::and_kw, "Empty and_expr");
    case Rule::not_expr:
      return build_not_expr(pair);
    case Rule::comparison_expr:
      return build_comparison_expr(pair);
    case Rule::add_sub_expr:
      return build_add_sub_expr(pair);
    case Rule::mul_div_expr:
      return operand_fold(pair, "Empty mul_div_expr",
                          [](std::string_view op, Expr& l, Box<OperandPair> r) {
                            find_operator(op, "*/") == '/' ? join<Expr::Div>(l, std::move(r))
                                                           : join<Expr::Mul>(l, std::move(r));
                          });
    case Rule::mod_expr:
      return operand_fold(
          pair, "Empty mod_expr",
          [](std::string_view, Expr& l, Box<OperandPair> r) { join<Expr::Mod>(l, std::move(r)); });
    case Rule::power_expr:
      return operand_fold(
          pair, "Empty power_expr",
          [](std::string_view, Expr& l, Box<OperandPair> r) { join<Expr::Pow>(l, std::move(r)); });
    case Rule::unary_expr:
      return build_unary_expr(pair);
    case Rule::postfix_expr:
      return build_postfix_expr(pair);
    case Rule::atom:
      return build_atom(pair);
    default:
      fail("Unexpected rule in expression: " + std::string(rule_name(pair.as_rule())));
  }
}

Expr build_first_inner_expression(const Pair& pair, const char* missing) {
  std::optional<Pair> first = pair.into_inner().peek();
  if (!first) fail(missing);
  return build_expression(*first);
}

Expr build_comparison_expr(const Pair& pair) {
  Pairs inner = pair.into_inner();
  std::optional<Pair> first = inner.next();
  if (!first) fail("Empty comparison_expr");
  std::size_t operators = (pair.into_inner().count() - 1) / 2;
  DepthGuard depth(operators);
  Expr tree = build_expression(*first);
  while (std::optional<Pair> op = inner.next()) {
    std::optional<Pair> operand_pair = inner.next();
    if (!operand_pair) break;
    depth.set(operators--);
    Box<OperandPair> operands = operands_built(tree, *operand_pair, depth.building());
    const std::string_view text = op->as_str();
    const ComparisonOp* match = comparison_op(text);
    if (!match) fail("Unknown comparison op: " + upper(text));
    match->make(tree, std::move(operands));
  }
  return tree;
}

Expr build_add_sub_expr(const Pair& pair) {
  return operand_fold(pair, "Empty add_sub_expr",
                      [](std::string_view op, Expr& l, Box<OperandPair> r) {
                        find_operator(op, "+-") == '-' ? join<Expr::Sub>(l, std::move(r))
                                                       : join<Expr::Add>(l, std::move(r));
                      });
}

Expr build_postfix_expr(const Pair& pair) {
  Pairs inner = pair.into_inner();
  std::optional<Pair> atom = inner.next();
  if (!atom) fail("Postfix missing atom");
  // Each postfix operator wraps everything before it: the atom stands below all of them, and
  // the index of the j-th operator below the j-th and the ones after it.
  std::size_t remaining = 0;
  for (Pair op : inner) remaining += op.as_rule() == Rule::postfix_op;
  DepthGuard depth(remaining);
  const Building& b = depth.building();
  Expr tree = build_atom(*atom);
  for (Pair op : inner) {
    if (op.as_rule() != Rule::postfix_op) continue;
    // The operators from this one on stand above a child built here. The guard holds more
    // until then, which fails no sooner: it failed at once if any count could.
    const std::size_t above = remaining--;
    std::optional<Pair> form = op.into_inner().peek();
    if (!form) fail("Empty postfix_op");
    switch (form->as_rule()) {
      case Rule::null_check_op:
        if (upper(form->as_str()).find("NOT") != std::string::npos) {
          wrap<Expr::IsNotNull>(tree, b);
        } else {
          wrap<Expr::IsNull>(tree, b);
        }
        break;
      case Rule::property_lookup: {
        std::optional<Pair> key = form->into_inner().peek();
        if (!key) fail("Property lookup missing key");
        tree.emplace_by<Expr::Property>(b, box_of(tree, b), Text(text_of(*key), b),
                                        offset_of(*key));
        break;
      }
      case Rule::subscript_op: {
        std::optional<Pair> index = form->into_inner().peek();
        if (!index) fail("Subscript missing index");
        depth.set(above);
        Box<Expr> subscript = box_built(*index, b);
        tree.emplace_by<Expr::Index>(b, box_of(tree, b), std::move(subscript));
        break;
      }
      case Rule::list_slice_op: {
        // A bound with ".." before it (after the previous bound) is the upper one.
        Expr::Slice slice;
        depth.set(above);
        std::size_t prev_end = form->start();
        for (Pair bound : form->into_inner()) {
          bool upper_bound = has_word(gap_text(*form, prev_end, &bound), "..");
          prev_end = bound.end();
          (upper_bound ? slice.to : slice.from) = box_built(bound, b);
        }
        tree.emplace_by<Expr::Slice>(b, box_of(tree, b), std::move(slice.from),
                                     std::move(slice.to));
        break;
      }
      default:
        break;
    }
  }
  return tree;
}

TreeList<MapEntry> build_map_literal(const Pair& pair) {
  MapBuilder map(pair.into_inner().count(), build_thread().building);
  for (Pair entry : pair.into_inner()) {
    if (entry.as_rule() != Rule::property_key_value_pair) continue;
    Pairs parts = entry.into_inner();
    std::optional<Pair> key = parts.next();
    if (!key) fail("Map missing key");
    std::optional<Pair> value = parts.next();
    if (!value) fail("Map missing value");
    map.insert(key->as_str(), offset_of(*key), build_expression(*value));
  }
  return map.take();
}

// ---------------------------------------------------------------------------------------------
// Atoms

Expr build_atom(const Pair& pair) {
  std::optional<Pair> form = pair.into_inner().peek();
  if (!form) fail("Empty atom");
  // The atom's node stands above what its form builds; a form without children only checks
  // that the node itself fits.
  switch (form->as_rule()) {
    case Rule::literal:
      return build_literal(*form);
    case Rule::parameter: {
      const BuildThread& thread = build_thread();
      DepthGuard::check(1, thread);
      const Building& b = thread.building;
      return Expr(Box<Expr::Parameter>::made_by(
          b, [&] { return Expr::Parameter{Text(without_dollars(form->as_str()), b)}; }));
    }
    case Rule::variable: {
      const BuildThread& thread = build_thread();
      DepthGuard::check(1, thread);
      return Expr(Expr::Variable{PackedText(text_of(*form), thread.building)});
    }
    case Rule::count_star:
      DepthGuard::check(1);
      return Expr(Expr::CountStar{});
    default:
      break;
  }
  DepthGuard depth;
  switch (form->as_rule()) {
    case Rule::parenthesized_expr:
      return build_first_inner_expression(*form, "Empty paren expr");
    case Rule::function_invocation:
      return build_function_invocation(*form);
    case Rule::reduce_expression:
      return build_reduce_expression(*form);
    case Rule::shortest_path_call:
      return build_shortest_path_expr(*form);
    case Rule::case_expression:
      return build_case_expression(*form);
    case Rule::list_comprehension:
      return build_list_comprehension(*form);
    case Rule::quantifier_expression:
      return build_quantifier_expression(*form);
    case Rule::exists_subquery:
      return build_exists_subquery(*form);
    case Rule::count_subquery:
      return build_count_subquery(*form);
    case Rule::collect_subquery:
      return build_collect_subquery(*form);
    case Rule::pattern_comprehension:
      return build_pattern_comprehension(*form);
    default:
      fail("Unknown atom: " + std::string(rule_name(form->as_rule())));
  }
}

std::int64_t integer_literal_value(std::string_view text) {
  int base = 10;
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  } else if (text.size() >= 2 && text[0] == '0' && text[1] == 'o') {
    base = 8;
    text.remove_prefix(2);
  }
  std::int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return 0;
  return value;
}

double float_literal_value(std::string_view text) {
  double value = 0.0;
  const char* begin = text.data();
  const char* stop = text.data() + text.size();
  auto [end, ec] = std::from_chars(begin, stop, value, std::chars_format::general);
  if (ec == std::errc() && end == stop) return value;
  if (ec != std::errc::result_out_of_range || end != stop) return 0.0;
  // Out of the double range: beyond it gives infinity, below it zero. The magnitude is the
  // position of the first non-zero digit relative to the point, plus the exponent.
  std::size_t point = text.find('.');
  std::size_t mantissa_end = text.find_first_of("eE");
  if (mantissa_end == std::string_view::npos) mantissa_end = text.size();
  if (point == std::string_view::npos || point > mantissa_end) point = mantissa_end;
  long long magnitude = 0;
  bool nonzero = false;
  for (std::size_t i = 0; i < mantissa_end; ++i) {
    if (text[i] >= '1' && text[i] <= '9') {
      magnitude =
          i < point ? static_cast<long long>(point - i) : -static_cast<long long>(i - point) + 1;
      nonzero = true;
      break;
    }
  }
  if (!nonzero) return 0.0;
  long long exponent = 0;
  if (mantissa_end < text.size()) {
    std::string_view exp = text.substr(mantissa_end + 1);
    bool negative = !exp.empty() && exp.front() == '-';
    if (!exp.empty() && (exp.front() == '-' || exp.front() == '+')) exp.remove_prefix(1);
    for (char c : exp) {
      exponent = exponent * 10 + (c - '0');
      if (exponent > 1000000) break;
    }
    if (negative) exponent = -exponent;
  }
  return magnitude + exponent > 0 ? HUGE_VAL : 0.0;
}

Expr build_literal(const Pair& pair) {
  std::optional<Pair> form = pair.into_inner().peek();
  if (!form) fail("Empty literal");
  // The literal's atom node stands above a list's items and a map's values.
  if (form->as_rule() == Rule::list_literal || form->as_rule() == Rule::map_literal) {
    DepthGuard depth;
    if (form->as_rule() == Rule::list_literal) {
      Expr::List list;
      list.items.reserve(form->into_inner().count(), depth.building());
      for (Pair item : form->into_inner()) {
        form->forget_inner_before(item);  // the items built so far
        if (item.as_rule() == Rule::expression) {
          list.items.emplace_made([&] { return build_expression(item); });
        }
      }
      return Expr(std::move(list));
    }
    return Expr(Expr::Map{build_map_literal(*form)});
  }
  const BuildThread& thread = build_thread();
  DepthGuard::check(1, thread);
  std::string_view text = form->as_str();
  switch (form->as_rule()) {
    case Rule::integer_literal:
      return Expr(Expr::Integer{integer_literal_value(text)});
    case Rule::float_literal:
      return Expr(Expr::Float{float_literal_value(text)});
    case Rule::string_literal: {
      const Building& b = thread.building;
      return Expr(Box<Expr::String>::made_by(b, [&] {
        return Expr::String{
            Text(text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string_view(), b)};
      }));
    }
    case Rule::boolean_literal:
      return Expr(Expr::Bool{upper(text) == "TRUE"});
    case Rule::null_literal:
      return Expr(Expr::Null{});
    default:
      fail("Unknown literal: " + std::string(rule_name(form->as_rule())));
  }
}

Expr build_reduce_expression(const Pair& pair) {
  Pairs inner = pair.into_inner();
  Expr::Reduce node;
  std::optional<Pair> part = inner.next();
  if (!part) fail("REDUCE missing accumulator");
  node.accumulator = text_of(*part);
  if (!(part = inner.next())) fail("REDUCE missing init expression");
  node.init = box_built(*part);
  if (!(part = inner.next())) fail("REDUCE missing loop variable");
  node.variable = text_of(*part);
  if (!(part = inner.next())) fail("REDUCE missing source expression");
  node.list = box_built(*part);
  if (!(part = inner.next())) fail("REDUCE missing projection expression");
  node.projection = box_built(*part);
  return Expr(std::move(node));
}

Expr build_shortest_path_expr(const Pair& pair) {
  Pairs inner = pair.into_inner();
  std::optional<Pair> start = inner.next();
  if (!start) fail("shortestPath missing start node");
  const bool all = starts_with_word(pair.as_str(), "all");
  auto element = Box<PatternElement>::made_by([&] {
    PatternElement built;
    build_node_pattern(*start, built.start);
    build_pattern_steps(inner, built);
    return built;
  });
  return Expr(Expr::ShortestPath{std::move(element), all});
}

FilterTriple parse_filter_expression(const Pair& pair) {
  FilterTriple filter;
  for (Pair child : pair.into_inner()) {
    if (child.as_rule() == Rule::id_in_coll) {
      Pairs parts = child.into_inner();
      std::optional<Pair> variable = parts.next();
      filter.variable = variable ? text_of(*variable) : std::string_view();
      if (std::optional<Pair> list = parts.next()) filter.list = build_expression(*list);
    } else if (child.as_rule() == Rule::expression) {
      filter.predicate = box_built(child);
    }
  }
  return filter;
}

Expr build_exists_subquery(const Pair& pair) {
  std::optional<Pair> body = pair.into_inner().peek();
  if (!body) fail("Empty EXISTS");
  if (body->as_rule() != Rule::pattern) fail("Unknown EXISTS subquery type");
  return Expr(Expr::Exists{Box<Pattern>::made_by([&] {
    Pattern pattern;
    build_pattern(*body, pattern);
    return pattern;
  })});
}

Expr build_count_subquery(const Pair& pair) {
  std::optional<Pair> body = pair.into_inner().peek();
  if (!body) fail("Empty COUNT subquery");
  return Expr(Expr::CountSubquery{Box<RegularQuery>(build_regular_query(*body))});
}

Expr build_collect_subquery(const Pair& pair) {
  std::optional<Pair> body = pair.into_inner().peek();
  if (!body) fail("Empty COLLECT subquery");
  return Expr(Expr::CollectSubquery{Box<RegularQuery>(build_regular_query(*body))});
}

Expr build_pattern_comprehension(const Pair& pair) {
  Pairs inner = pair.into_inner();
  std::optional<Pair> element = inner.next();
  if (!element) fail("Pattern comprehension missing pattern");
  Expr::PatternComprehension node;
  node.element = Box<PatternElement>::made_by([&] {
    PatternElement built;
    build_pattern_element(*element, built);
    return built;
  });
  std::optional<Expr> first;
  std::optional<Expr> last;
  for (Pair child : inner) {
    if (child.as_rule() != Rule::expression) continue;
    Expr value = build_expression(child);
    if (!first) {
      first.emplace(std::move(value));
    } else {
      last.emplace(std::move(value));
    }
  }
  if (!first) fail("Pattern comprehension missing projection");
  if (last) {
    node.filter = Box<Expr>(std::move(*first));
    node.projection = Box<Expr>(std::move(*last));
  } else {
    node.projection = Box<Expr>(std::move(*first));
  }
  return Expr(std::move(node));
}

}  // namespace tessary::builder
