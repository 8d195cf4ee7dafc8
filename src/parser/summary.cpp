#include "parser/summary.hpp"

#include <set>
#include <variant>

#include "deep_stack.hpp"
#include "parser/parse.hpp"

namespace tessary {

namespace {

using NameSet = std::set<std::string>;  // std::string orders by unsigned bytes

// Where the walk puts what it finds. Inside the values of a node's property map labels and
// relationship types are discarded (null), property keys still count.
struct Sinks {
  NameSet* labels;
  NameSet* rel_types;
  NameSet* properties;

  void label(std::string_view name) const {
    if (labels != nullptr) labels->emplace(name);
  }
  void rel_type(std::string_view name) const {
    if (rel_types != nullptr) rel_types->emplace(name);
  }
  void property(std::string_view name) const { properties->emplace(name); }
  Sinks properties_only() const { return {nullptr, nullptr, properties}; }
};

void collect_regular_query(const RegularQuery& q, const Sinks& s);
void collect_expr(const Expr& e, const Sinks& s);

void collect_node_props(const NodePattern& node, const Sinks& s) {
  if (!node.properties) return;
  const auto* map = std::get_if<MapOrParam::Map>(&node.properties->node);
  if (map == nullptr) return;  // a parameter names no keys
  for (const MapEntry& entry : map->entries) {
    s.property(entry.key);
    collect_expr(entry.value, s.properties_only());
  }
}

void collect_node(const NodePattern& node, const Sinks& s) {
  for (std::string_view label : node.labels) s.label(label);
  collect_node_props(node, s);
}

void collect_element(const PatternElement& element, const Sinks& s) {
  collect_node(element.start, s);
  for (const PatternStep& step : element.chain) {
    // A relationship contributes its types only: its variable, range and map are not read.
    for (std::string_view type : step.relationship.rel_types) s.rel_type(type);
    collect_node(step.node, s);
  }
}

void collect_pattern(const Pattern& pattern, const Sinks& s) {
  for (const PatternPart& part : pattern.parts) collect_element(part.element, s);
}

void collect_exprs(const TreeList<Expr>& exprs, const Sinks& s) {
  for (const Expr& e : exprs) collect_expr(e, s);
}

void collect_optional(const MaybeBox<Expr>& e, const Sinks& s) {
  if (e) collect_expr(*e, s);
}

void collect_expr(const Expr& e, const Sinks& s) {
  e.visit(Overload{
      [&](const Expr::Property& node) {
        s.property(node.key);
        collect_expr(*node.expr, s);
      },
      [&](const Expr::List& node) { collect_exprs(node.items, s); },
      [&](const Expr::FunctionCall& node) { collect_exprs(node.args, s); },
      [&](const Expr::Map& node) {
        // A map literal's own keys are not property keys; its values may hold lookups.
        for (const MapEntry& entry : node.entries) collect_expr(entry.value, s);
      },
      [&](const Expr::Index& node) {
        collect_expr(*node.expr, s);
        collect_expr(*node.index, s);
      },
      [&]<ExprKind K>(const BinaryExpr<K>& node) {
        collect_expr(node.left(), s);
        collect_expr(node.right(), s);
      },
      [&]<ExprKind K>(const UnaryExpr<K>& node) { collect_expr(*node.operand, s); },
      [&](const Expr::Slice& node) {
        collect_expr(*node.expr, s);
        collect_optional(node.from, s);
        collect_optional(node.to, s);
      },
      [&](const Expr::Case& node) {
        collect_optional(node.subject, s);
        for (const CaseAlternative& alt : node.alternatives) {
          collect_expr(alt.when, s);
          collect_expr(alt.then, s);
        }
        collect_optional(node.else_expr, s);
      },
      [&](const Expr::ListComprehension& node) {
        collect_optional(node.list, s);
        collect_optional(node.filter, s);
        collect_optional(node.projection, s);
      },
      [&]<ExprKind K>(const QuantifierExpr<K>& node) {
        collect_optional(node.list, s);
        collect_optional(node.predicate, s);
      },
      [&](const Expr::Reduce& node) {
        collect_expr(*node.init, s);
        collect_expr(*node.list, s);
        collect_expr(*node.projection, s);
      },
      [&](const Expr::ShortestPath& node) { collect_element(*node.element, s); },
      [&](const Expr::PatternComprehension& node) {
        collect_element(*node.element, s);
        collect_optional(node.filter, s);
        collect_optional(node.projection, s);
      },
      [&](const Expr::Exists& node) { collect_pattern(*node.pattern, s); },
      [&](const OneOf<Expr::CountSubquery, Expr::CollectSubquery> auto& node) {
        collect_regular_query(*node.query, s);
      },
      // Literals, variables, parameters and count(*) name nothing.
      [](const OneOf<Expr::Integer, Expr::Float, Expr::String, Expr::Bool, Expr::Null,
                     Expr::Variable, Expr::Parameter, Expr::CountStar> auto&) {},
  });
}

void collect_reading(const ReadingClause& clause, const Sinks& s) {
  if (const auto* match = clause.get_if<ReadingClause::Match>()) {
    collect_pattern(match->pattern, s);
    if (match->where_clause) collect_expr(*match->where_clause, s);
  } else if (const auto* sub = clause.get_if<ReadingClause::CallSubquery>()) {
    collect_regular_query(*sub->query, s);
  }
  // UNWIND and procedure calls name nothing here.
}

void collect_updating(const UpdatingClause& clause, const Sinks& s) {
  if (const auto* create = clause.get_if<UpdatingClause::Create>()) {
    collect_pattern(create->pattern, s);
  } else if (const auto* merge = clause.get_if<UpdatingClause::Merge>()) {
    // The MERGE pattern is walked as a pattern of its one part; ON MATCH / ON CREATE are not.
    collect_element(merge->part->element, s);
  }
  // SET, REMOVE, DELETE and FOREACH name nothing here.
}

void collect_clauses(const TreeList<ReadingClause>& reading,
                     const TreeList<UpdatingClause>& updating, const Sinks& s) {
  for (const ReadingClause& clause : reading) collect_reading(clause, s);
  for (const UpdatingClause& clause : updating) collect_updating(clause, s);
}

void collect_return(const std::optional<ReturnClause>& ret, const Sinks& s) {
  if (!ret) return;
  for (const ReturnItem& item : ret->items) collect_expr(item.expr, s);
}

void collect_single_query(const SingleQuery& q, const Sinks& s) {
  if (const auto* single = q.get_if<SinglePartQuery>()) {
    collect_clauses(single->reading_clauses, single->updating_clauses, s);
    collect_return(single->return_clause, s);
    return;
  }
  const auto& multi = q.as<MultiPartQuery>();
  for (const QueryPartStep& step : multi.parts) {
    // The WITH of each step is deliberately not visited.
    collect_clauses(step.reading_clauses, step.updating_clauses, s);
  }
  collect_clauses(multi.reading_clauses, multi.updating_clauses, s);
  collect_return(multi.return_clause, s);
}

void collect_regular_query(const RegularQuery& q, const Sinks& s) {
  collect_single_query(q.first, s);
  for (const UnionBranch& branch : q.unions) collect_single_query(branch.query, s);
}

std::vector<std::string> to_list(NameSet&& set) {
  std::vector<std::string> out;
  out.reserve(set.size());
  for (auto it = set.begin(); it != set.end();) {
    auto node = set.extract(it++);
    out.push_back(std::move(node.value()));
  }
  return out;
}

}  // namespace

QuerySummary summarize(const CypherQuery& query) {
  NameSet labels, rel_types, properties;
  collect_regular_query(query.query, Sinks{&labels, &rel_types, &properties});
  QuerySummary summary;
  summary.is_valid = true;
  summary.labels_used = to_list(std::move(labels));
  summary.rel_types_used = to_list(std::move(rel_types));
  summary.properties_used = to_list(std::move(properties));
  return summary;
}

QuerySummary summarize_query(std::string_view query) {
  // The walk, and the tree's destruction, recurse as deeply as the parse: all three run where
  // there is enough stack, not only the parse.
  return deep_stack::call([&] {
    auto parsed = on_this_stack::parse(query);
    if (const auto* error = std::get_if<CypherError>(&parsed)) {
      QuerySummary summary;
      summary.errors.push_back(error->display());
      return summary;
    }
    return summarize(std::get<CypherQuery>(parsed));
  });
}

}  // namespace tessary
