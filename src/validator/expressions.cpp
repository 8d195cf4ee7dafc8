// Expression checks: unbound variables, property accesses against the schema, built-in function
// calls, SKIP/LIMIT literals, the aggregate detector, and the temporary bindings of
// comprehensions, quantifiers, REDUCE and subqueries.
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "validator/functions.hpp"
#include "validator/semantic.hpp"

namespace tessary {

namespace {

// A binding that lasts while one body is checked: the name is bound with an empty list when it
// is unbound, and removed again afterwards; an existing binding is left as it is, labels included.
class TemporaryBinding {
 public:
  TemporaryBinding(Scope& scope, std::string_view name)
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
  std::string_view name_;
  bool bound_here_;
};

// The rarer forms live in functions of their own, which keeps the frame of the recursive walk
// small for deeply nested expressions.
[[gnu::noinline]] void report_unbound(SemanticValidator& v, std::string_view name) {
  v.push_error(DiagnosticCode::UnboundVariable,
               format_message(DiagnosticCode::UnboundVariable, {name}));
}
[[gnu::noinline]] void check_function_call(SemanticValidator& v, const Expr::FunctionCall& call);
[[gnu::noinline]] void check_pattern_comprehension(SemanticValidator& v,
                                                   const Expr::PatternComprehension& pc);
[[gnu::noinline]] void check_exists(SemanticValidator& v, const Expr::Exists& exists);
[[gnu::noinline]] void check_subquery(SemanticValidator& v, const RegularQuery& query);

}  // namespace

// ---------------------------------------------------------------------------------------------
// validate_expr

void SemanticValidator::validate_expr(const Expr& expr) {
  expr.visit(Overload{
      // Operators: the left operand, then the right one.
      [this]<ExprKind K>(const BinaryExpr<K>& op) {
        validate_expr(op.left());
        validate_expr(op.right());
      },
      [this]<ExprKind K>(const UnaryExpr<K>& op) { validate_expr(*op.operand); },

      [](const OneOf<Expr::Integer, Expr::Float, Expr::String, Expr::Bool, Expr::Null,
                     Expr::Parameter, Expr::CountStar> auto&) {},

      [this](const Expr::List& list) {
        for (const auto& item : list.items) validate_expr(item);
      },
      [this](const Expr::Map& map) {
        for (const auto& entry : map.entries) validate_expr(entry.value);
      },

      [this](const Expr::Variable& var) {
        if (!scope.contains(var.name)) report_unbound(*this, var.name);
      },
      [this](const Expr::Property& prop) {
        // Only the first key of a chain is checked: in n.a.b the inner Property holds n and a.
        if (const auto* var = prop.expr->get_if<Expr::Variable>()) {
          // The variable is looked up once, for the key and for itself.
          if (!validate_property_access(var->name, std::span<const Text>(&prop.key, 1),
                                        NameOffsets(prop.key_offset))) {
            report_unbound(*this, var->name);
          }
          return;
        }
        validate_expr(*prop.expr);
      },
      [this](const Expr::Index& index) {
        validate_expr(*index.expr);
        validate_expr(*index.index);
      },
      [this](const Expr::Slice& slice) {
        validate_expr(*slice.expr);
        if (slice.from) validate_expr(*slice.from);
        if (slice.to) validate_expr(*slice.to);
      },

      [this](const Expr::FunctionCall& call) { check_function_call(*this, call); },

      [this](const Expr::Case& c) {
        if (c.subject) validate_expr(*c.subject);
        for (const auto& alt : c.alternatives) {
          validate_expr(alt.when);
          validate_expr(alt.then);
        }
        if (c.else_expr) validate_expr(*c.else_expr);
      },

      [this](const Expr::ListComprehension& lc) {
        validate_expr(*lc.list);
        TemporaryBinding binding(scope, lc.variable);
        binding.bind();
        if (lc.filter) validate_expr(*lc.filter);
        if (lc.projection) validate_expr(*lc.projection);
      },
      [this]<ExprKind K>(const QuantifierExpr<K>& q) {
        validate_expr(*q.list);
        TemporaryBinding binding(scope, q.variable);
        binding.bind();
        if (q.predicate) validate_expr(*q.predicate);
      },
      [this](const Expr::Reduce& r) {
        validate_expr(*r.init);
        validate_expr(*r.list);
        // Both names are looked up before either is bound.
        TemporaryBinding accumulator(scope, r.accumulator);
        TemporaryBinding variable(scope, r.variable);
        accumulator.bind();
        variable.bind();
        validate_expr(*r.projection);
      },

      [this](const Expr::ShortestPath& sp) { validate_pattern_element(*sp.element); },

      // Forms with a body of their own, whose changes to the scope are undone afterwards.
      [this](const Expr::PatternComprehension& pc) { check_pattern_comprehension(*this, pc); },
      [this](const Expr::Exists& exists) { check_exists(*this, exists); },
      [this](const OneOf<Expr::CountSubquery, Expr::CollectSubquery> auto& sub) {
        check_subquery(*this, *sub.query);
      },
  });
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

void check_exists(SemanticValidator& v, const Expr::Exists& exists) {
  const Scope::Mark mark = v.scope.save();
  v.collect_pattern_bindings(exists.pattern->parts);
  v.validate_pattern(exists.pattern->parts);
  v.scope.restore(mark);
}

void check_subquery(SemanticValidator& v, const RegularQuery& query) {
  const Scope::Mark mark = v.scope.save();
  v.validate_regular_query(query);
  v.scope.restore(mark);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Property access

// Called out of line: inlined, it would triple the frame of the recursive walk above.
[[gnu::noinline]] bool SemanticValidator::validate_property_access(std::string_view variable,
                                                                   std::span<const Text> keys,
                                                                   const NameOffsets& key_offsets) {
  // Nothing below changes the scope, so the variable's list is read in place.
  const Scope::Labels* labels = scope.find(variable);
  if (labels == nullptr) return false;
  for (const auto& t : *labels) {
    if (const PropertySet* properties = schema_.nodes.find(bare_name(t))) {
      for (std::size_t i = 0; i < keys.size(); ++i) {
        std::string_view key = keys[i];
        if (properties->contains(bare_name(key))) continue;
        NameFix fix = property_fix(key, node_property_candidates(bare_name(t)));
        push_error(
            DiagnosticCode::UnknownNodePropertyOnVar,
            format_message(DiagnosticCode::UnknownNodePropertyOnVar, {key, variable, t}, fix.hint),
            std::move(fix.suggestion), key_offsets[i]);
      }
    } else if (const RelationshipDef* def = schema_.relationships.find(bare_name(t))) {
      for (std::size_t i = 0; i < keys.size(); ++i) {
        std::string_view key = keys[i];
        if (def->properties.contains(bare_name(key))) continue;
        NameFix fix = property_fix(key, rel_property_candidates(bare_name(t)));
        push_error(
            DiagnosticCode::UnknownRelPropertyOnVar,
            format_message(DiagnosticCode::UnknownRelPropertyOnVar, {key, variable, t}, fix.hint),
            std::move(fix.suggestion), key_offsets[i]);
      }
    }
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// SKIP and LIMIT

void SemanticValidator::validate_pagination_expr(const Expr& expr, std::string_view clause) {
  using Finding = std::optional<DiagnosticCode>;
  const Finding code = expr.visit(Overload{
      [](const Expr::Float&) { return Finding(DiagnosticCode::PaginationTypeFloat); },
      [](const Expr::String&) { return Finding(DiagnosticCode::PaginationTypeString); },
      [](const Expr::Bool&) { return Finding(DiagnosticCode::PaginationTypeBool); },
      [](const Expr::Null&) { return Finding(DiagnosticCode::PaginationTypeNull); },
      [](const auto&) { return Finding(); },  // integers, parameters, any other expression
  });
  if (!code) {
    validate_expr(expr);
    return;
  }
  push_error(*code, format_message(*code, {clause}));
}

// ---------------------------------------------------------------------------------------------
// Aggregate detection

bool SemanticValidator::contains_aggregate(const Expr& expr) {
  return expr.visit(Overload{
      []<ExprKind K>(const BinaryExpr<K>& op) {
        return contains_aggregate(op.left()) || contains_aggregate(op.right());
      },
      []<ExprKind K>(const UnaryExpr<K>& op) { return contains_aggregate(*op.operand); },
      [](const Expr::CountStar&) { return true; },
      [](const Expr::FunctionCall& call) {
        const BuiltinFunction* function = lookup_function(call.name);
        if (function != nullptr && function->is_aggregate) return true;
        for (const auto& arg : call.args) {
          if (contains_aggregate(arg)) return true;
        }
        return false;
      },
      [](const Expr::Case& c) {
        if (c.subject && contains_aggregate(*c.subject)) return true;
        for (const auto& alt : c.alternatives) {
          if (contains_aggregate(alt.when) || contains_aggregate(alt.then)) return true;
        }
        return c.else_expr && contains_aggregate(*c.else_expr);
      },
      [](const Expr::Property& prop) { return contains_aggregate(*prop.expr); },
      [](const Expr::Index& index) {
        return contains_aggregate(*index.expr) || contains_aggregate(*index.index);
      },
      [](const Expr::List& list) {
        for (const auto& item : list.items) {
          if (contains_aggregate(item)) return true;
        }
        return false;
      },
      [](const Expr::Map& map) {
        for (const auto& entry : map.entries) {
          if (contains_aggregate(entry.value)) return true;
        }
        return false;
      },

      // Literals, variables, parameters, slices and every form with a scope of its own.
      [](const OneOf<Expr::Integer, Expr::Float, Expr::String, Expr::Bool, Expr::Null,
                     Expr::Variable, Expr::Slice, Expr::Parameter, Expr::ListComprehension,
                     Expr::Reduce, Expr::ShortestPath, Expr::PatternComprehension, Expr::Exists,
                     Expr::CountSubquery, Expr::CollectSubquery> auto&) { return false; },
      []<ExprKind K>(const QuantifierExpr<K>&) { return false; },
  });
}

}  // namespace tessary
