// Expression checks: unbound variables, property accesses against the schema, built-in function
// calls, SKIP/LIMIT literals, the aggregate detector, and the temporary bindings of
// comprehensions, quantifiers, REDUCE and subqueries.
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "validator/functions.hpp"
#include "validator/semantic.hpp"

namespace tessary {

namespace {

template <class T>
struct IsBinary : std::false_type {};
template <ExprKind K>
struct IsBinary<BinaryExpr<K>> : std::true_type {};
template <class T>
struct IsUnary : std::false_type {};
template <ExprKind K>
struct IsUnary<UnaryExpr<K>> : std::true_type {};
template <class T>
struct IsQuantifier : std::false_type {};
template <ExprKind K>
struct IsQuantifier<QuantifierExpr<K>> : std::true_type {};

struct Operands {
  const Expr* left = nullptr;
  const Expr* right = nullptr;
};

// The two operands of a two-operand operator, or the one operand (as `left`) of a one-operand
// operator; nulls for every other variant.
Operands operands(const Expr& expr) {
  return std::visit(
      [](const auto& node) -> Operands {
        using T = std::decay_t<decltype(node)>;
        if constexpr (IsBinary<T>::value) {
          return {node.left.get(), node.right.get()};
        } else if constexpr (IsUnary<T>::value) {
          return {node.operand.get(), nullptr};
        } else {
          return {};
        }
      },
      expr.node);
}

struct QuantifierView {
  const std::string* variable = nullptr;
  const Expr* list = nullptr;
  const Expr* predicate = nullptr;
};

// The fields of ALL, ANY, NONE and SINGLE, which share one shape.
QuantifierView quantifier(const Expr& expr) {
  return std::visit(
      [](const auto& node) -> QuantifierView {
        using T = std::decay_t<decltype(node)>;
        if constexpr (IsQuantifier<T>::value) {
          return {&node.variable, node.list.get(), node.predicate.get()};
        } else {
          return {};
        }
      },
      expr.node);
}

// A binding that lasts while one body is checked: the name is bound with an empty list when it
// is unbound, and removed again afterwards; an existing binding is left as it is, labels included.
class TemporaryBinding {
 public:
  TemporaryBinding(Scope& scope, const std::string& name)
      : scope_(scope), name_(name), bound_here_(!scope.contains(name)) {}
  void bind() {
    if (bound_here_) scope_.reset(name_);
  }
  ~TemporaryBinding() {
    if (bound_here_) scope_.erase(name_);
  }
  TemporaryBinding(const TemporaryBinding&) = delete;
  TemporaryBinding& operator=(const TemporaryBinding&) = delete;

 private:
  Scope& scope_;
  const std::string& name_;
  bool bound_here_;
};

// The rarer forms live in functions of their own, which keeps the frame of the recursive walk
// small for deeply nested expressions.
[[gnu::noinline]] void report_unbound(SemanticValidator& v, const std::string& name) {
  v.push_error(DiagnosticCode::UnboundVariable,
               format_message(DiagnosticCode::UnboundVariable, {name}));
}
[[gnu::noinline]] void check_function_call(SemanticValidator& v, const Expr::FunctionCall& call);
[[gnu::noinline]] void check_pattern_comprehension(SemanticValidator& v,
                                                   const Expr::PatternComprehension& pc);
[[gnu::noinline]] void check_subquery(SemanticValidator& v, const Expr& expr);

}  // namespace

// ---------------------------------------------------------------------------------------------
// validate_expr

void SemanticValidator::validate_expr(const Expr& expr) {
  // Operators: the left operand, then the right one.
  if (Operands ops = operands(expr); ops.left != nullptr) {
    validate_expr(*ops.left);
    if (ops.right != nullptr) validate_expr(*ops.right);
    return;
  }
  switch (expr.kind()) {
    case ExprKind::Integer:
    case ExprKind::Float:
    case ExprKind::String:
    case ExprKind::Bool:
    case ExprKind::Null:
    case ExprKind::Parameter:
    case ExprKind::CountStar:
      return;

    case ExprKind::List:
      for (const auto& item : expr.as<Expr::List>().items) validate_expr(item);
      return;
    case ExprKind::Map:
      for (const auto& entry : expr.as<Expr::Map>().entries) validate_expr(entry.value);
      return;

    case ExprKind::Variable: {
      const auto& name = expr.as<Expr::Variable>().name;
      if (!scope.contains(name)) report_unbound(*this, name);
      return;
    }
    case ExprKind::Property: {
      // Only the first key of a chain is checked: in n.a.b the inner Property holds n and a.
      const auto& prop = expr.as<Expr::Property>();
      if (const auto* var = prop.expr->get_if<Expr::Variable>()) {
        validate_property_access(var->name, std::span<const std::string>(&prop.key, 1),
                                 NameOffsets(prop.key_offset));
      }
      validate_expr(*prop.expr);
      return;
    }
    case ExprKind::Index: {
      const auto& index = expr.as<Expr::Index>();
      validate_expr(*index.expr);
      validate_expr(*index.index);
      return;
    }
    case ExprKind::Slice: {
      const auto& slice = expr.as<Expr::Slice>();
      validate_expr(*slice.expr);
      if (slice.from) validate_expr(*slice.from);
      if (slice.to) validate_expr(*slice.to);
      return;
    }

    case ExprKind::FunctionCall:
      check_function_call(*this, expr.as<Expr::FunctionCall>());
      return;

    case ExprKind::Case: {
      const auto& c = expr.as<Expr::Case>();
      if (c.subject) validate_expr(*c.subject);
      for (const auto& alt : c.alternatives) {
        validate_expr(alt.when);
        validate_expr(alt.then);
      }
      if (c.else_expr) validate_expr(*c.else_expr);
      return;
    }

    case ExprKind::ListComprehension: {
      const auto& lc = expr.as<Expr::ListComprehension>();
      validate_expr(*lc.list);
      TemporaryBinding binding(scope, lc.variable);
      binding.bind();
      if (lc.filter) validate_expr(*lc.filter);
      if (lc.projection) validate_expr(*lc.projection);
      return;
    }
    case ExprKind::All:
    case ExprKind::Any:
    case ExprKind::None:
    case ExprKind::Single: {
      QuantifierView q = quantifier(expr);
      validate_expr(*q.list);
      TemporaryBinding binding(scope, *q.variable);
      binding.bind();
      if (q.predicate) validate_expr(*q.predicate);
      return;
    }
    case ExprKind::Reduce: {
      const auto& r = expr.as<Expr::Reduce>();
      validate_expr(*r.init);
      validate_expr(*r.list);
      // Both names are looked up before either is bound.
      TemporaryBinding accumulator(scope, r.accumulator);
      TemporaryBinding variable(scope, r.variable);
      accumulator.bind();
      variable.bind();
      validate_expr(*r.projection);
      return;
    }

    case ExprKind::ShortestPath:
      validate_pattern_element(*expr.as<Expr::ShortestPath>().element);
      return;

    // Forms with a body of their own, whose changes to the scope are undone afterwards.
    case ExprKind::PatternComprehension:
      check_pattern_comprehension(*this, expr.as<Expr::PatternComprehension>());
      return;
    case ExprKind::Exists:
    case ExprKind::CountSubquery:
    case ExprKind::CollectSubquery:
      check_subquery(*this, expr);
      return;
    default:  // the operators, checked above
      return;
  }
}

// ---------------------------------------------------------------------------------------------
// Function calls

namespace {

void check_function_call(SemanticValidator& v, const Expr::FunctionCall& call) {
  const BuiltinFunction* function = lookup_function(call.name);
  if (function == nullptr) {
    v.push_warning(DiagnosticCode::UnknownFunction,
                   format_message(DiagnosticCode::UnknownFunction, {call.name}));
  } else {
    const std::size_t n = call.args.size();
    if (n < function->min_args || (function->max_args && n > *function->max_args)) {
      v.push_error(DiagnosticCode::WrongArity,
                   format_message(DiagnosticCode::WrongArity,
                                  {call.name, expected_arg_count(*function), std::to_string(n)}));
    }
    if (call.distinct && !function->is_aggregate) {
      v.push_warning(DiagnosticCode::DistinctOnNonAggregate,
                     format_message(DiagnosticCode::DistinctOnNonAggregate, {call.name}));
    }
    if (is_numeric_aggregate(function->name)) {
      for (const auto& arg : call.args) {
        if (arg.is<Expr::String>()) {
          v.push_error(DiagnosticCode::AggregateStringArg,
                       format_message(DiagnosticCode::AggregateStringArg, {call.name}));
        }
      }
    }
  }
  for (const auto& arg : call.args) v.validate_expr(arg);
}

// ---------------------------------------------------------------------------------------------
// Pattern comprehensions and subqueries: they work on the scope and then undo their changes to
// it, so nothing their body binds leaks out, while the body sees every variable of the enclosing
// scope.

void check_pattern_comprehension(SemanticValidator& v, const Expr::PatternComprehension& pc) {
  const Scope::Mark mark = v.scope.save();
  v.collect_node_bindings(pc.element->start);
  for (const auto& step : pc.element->chain) {
    v.collect_rel_bindings(step.relationship);
    v.collect_node_bindings(step.node);
  }
  v.validate_pattern_element(*pc.element);
  if (pc.filter) v.validate_expr(*pc.filter);
  v.validate_expr(*pc.projection);
  v.scope.restore(mark);
}

void check_subquery(SemanticValidator& v, const Expr& expr) {
  const Scope::Mark mark = v.scope.save();
  if (const auto* exists = expr.get_if<Expr::Exists>()) {
    v.collect_pattern_bindings(exists->pattern->parts);
    v.validate_pattern(exists->pattern->parts);
  } else if (const auto* count = expr.get_if<Expr::CountSubquery>()) {
    v.validate_regular_query(*count->query);
  } else {
    v.validate_regular_query(*expr.as<Expr::CollectSubquery>().query);
  }
  v.scope.restore(mark);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Property access

void SemanticValidator::validate_property_access(std::string_view variable,
                                                 std::span<const std::string> keys,
                                                 const NameOffsets& key_offsets) {
  // Nothing below changes the scope, so the variable's list is read in place.
  const Scope::Labels* labels = scope.find(variable);
  if (labels == nullptr) return;
  for (const auto& t : *labels) {
    if (const PropertySet* properties = schema_.nodes.find(bare_name(t))) {
      for (std::size_t i = 0; i < keys.size(); ++i) {
        const std::string& key = keys[i];
        if (properties->contains(bare_name(key))) continue;
        NameFix fix = property_fix(key, node_property_candidates(bare_name(t)));
        push_error(DiagnosticCode::UnknownNodePropertyOnVar,
                   format_message(DiagnosticCode::UnknownNodePropertyOnVar,
                                  {key, variable, t, fix.hint}),
                   std::move(fix.suggestion), key_offsets[i]);
      }
    } else if (const RelationshipDef* def = schema_.relationships.find(bare_name(t))) {
      for (std::size_t i = 0; i < keys.size(); ++i) {
        const std::string& key = keys[i];
        if (def->properties.contains(bare_name(key))) continue;
        NameFix fix = property_fix(key, rel_property_candidates(bare_name(t)));
        push_error(DiagnosticCode::UnknownRelPropertyOnVar,
                   format_message(DiagnosticCode::UnknownRelPropertyOnVar,
                                  {key, variable, t, fix.hint}),
                   std::move(fix.suggestion), key_offsets[i]);
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// SKIP and LIMIT

void SemanticValidator::validate_pagination_expr(const Expr& expr, std::string_view clause) {
  DiagnosticCode code;
  switch (expr.kind()) {
    case ExprKind::Float: code = DiagnosticCode::PaginationTypeFloat; break;
    case ExprKind::String: code = DiagnosticCode::PaginationTypeString; break;
    case ExprKind::Bool: code = DiagnosticCode::PaginationTypeBool; break;
    case ExprKind::Null: code = DiagnosticCode::PaginationTypeNull; break;
    default:
      validate_expr(expr);
      return;
  }
  push_error(code, format_message(code, {clause}));
}

// ---------------------------------------------------------------------------------------------
// Aggregate detection

bool SemanticValidator::contains_aggregate(const Expr& expr) {
  if (Operands ops = operands(expr); ops.left != nullptr) {
    return contains_aggregate(*ops.left) || (ops.right != nullptr && contains_aggregate(*ops.right));
  }
  switch (expr.kind()) {
    case ExprKind::CountStar:
      return true;
    case ExprKind::FunctionCall: {
      const auto& call = expr.as<Expr::FunctionCall>();
      const BuiltinFunction* function = lookup_function(call.name);
      if (function != nullptr && function->is_aggregate) return true;
      for (const auto& arg : call.args) {
        if (contains_aggregate(arg)) return true;
      }
      return false;
    }
    case ExprKind::Case: {
      const auto& c = expr.as<Expr::Case>();
      if (c.subject && contains_aggregate(*c.subject)) return true;
      for (const auto& alt : c.alternatives) {
        if (contains_aggregate(alt.when) || contains_aggregate(alt.then)) return true;
      }
      return c.else_expr && contains_aggregate(*c.else_expr);
    }
    case ExprKind::Property: return contains_aggregate(*expr.as<Expr::Property>().expr);
    case ExprKind::Index: {
      const auto& index = expr.as<Expr::Index>();
      return contains_aggregate(*index.expr) || contains_aggregate(*index.index);
    }
    case ExprKind::List:
      for (const auto& item : expr.as<Expr::List>().items) {
        if (contains_aggregate(item)) return true;
      }
      return false;
    case ExprKind::Map:
      for (const auto& entry : expr.as<Expr::Map>().entries) {
        if (contains_aggregate(entry.value)) return true;
      }
      return false;


    // Literals, variables, parameters, slices and every form with a scope of its own.
    case ExprKind::Integer:
    case ExprKind::Float:
    case ExprKind::String:
    case ExprKind::Bool:
    case ExprKind::Null:
    case ExprKind::Variable:
    case ExprKind::Slice:
    case ExprKind::Parameter:
    case ExprKind::ListComprehension:
    case ExprKind::All:
    case ExprKind::Any:
    case ExprKind::None:
    case ExprKind::Single:
    case ExprKind::Reduce:
    case ExprKind::ShortestPath:
    case ExprKind::PatternComprehension:
    case ExprKind::Exists:
    case ExprKind::CountSubquery:
    case ExprKind::CollectSubquery:
      return false;
    default:  // the operators, looked into above
      return false;
  }
}

}  // namespace tessary
