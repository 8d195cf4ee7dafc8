// Pattern and clause checks: unknown labels, relationship types and inline property keys,
// relationship endpoints, aggregates where clauses forbid them, and the MATCH warnings
// (Cartesian products, unlabeled scans, unbounded variable-length relationships).
#include <string>
#include <string_view>

#include "validator/name_set.hpp"
#include "validator/semantic.hpp"

namespace tessary {

namespace {

std::string aggregate_message(std::string_view context) {
  return format_message(DiagnosticCode::AggregateInForbiddenContext, {context});
}

std::string join_labels(std::span<const Text> labels) {
  std::string out;
  for (std::size_t i = 0; i < labels.size(); ++i) {
    if (i > 0) out += ", ";
    out += labels[i];
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Patterns

void SemanticValidator::validate_pattern(std::span<const PatternPart> parts) {
  for (const auto& part : parts) validate_pattern_element(part.element);
}

void SemanticValidator::validate_pattern_element(const PatternElement& element) {
  validate_node_pattern(element.start);
  const NodePattern* left = &element.start;
  for (const auto& step : element.chain) {
    validate_rel_pattern_with_endpoints(step.relationship, left->labels, step.node.labels);
    validate_node_pattern(step.node);
    left = &step.node;
  }
}

void SemanticValidator::report_unknown_label(DiagnosticCode code, std::string_view label,
                                             std::uint32_t at) {
  NameFix fix = label_fix(label, known_labels());
  push_error(code, format_message(code, {label}, fix.hint), std::move(fix.suggestion), at);
}

void SemanticValidator::validate_node_pattern(const NodePattern& node) {
  for (std::size_t i = 0; i < node.labels.size(); ++i) {
    if (!is_known_label(node.labels[i])) {
      report_unknown_label(DiagnosticCode::UnknownNodeLabel, node.labels[i], node.label_offsets[i]);
    }
  }
  if (!node.properties) return;
  const auto* map = std::get_if<MapOrParam::Map>(&node.properties->node);
  if (map == nullptr) return;
  for (const auto& entry : map->entries) {
    for (const auto& label : node.labels) {
      const PropertySet* properties = schema_.nodes.find(bare_name(label));
      if (properties == nullptr || properties->contains(bare_name(entry.key))) continue;
      NameFix fix = property_fix(entry.key, node_property_candidates(bare_name(label)));
      push_error(DiagnosticCode::UnknownNodeProperty,
                 format_message(DiagnosticCode::UnknownNodeProperty, {entry.key, label}, fix.hint),
                 std::move(fix.suggestion), entry.key_offsets);
    }
  }
}

void SemanticValidator::validate_rel_pattern_with_endpoints(const RelationshipPattern& rel,
                                                            std::span<const Text> left,
                                                            std::span<const Text> right) {
  const auto* map = rel.properties ? std::get_if<MapOrParam::Map>(&rel.properties->node) : nullptr;
  for (std::size_t i = 0; i < rel.rel_types.size(); ++i) {
    std::string_view type = rel.rel_types[i];
    const RelationshipDef* def = schema_.relationships.find(bare_name(type));
    if (def == nullptr) {
      NameFix fix = label_fix(type, known_rel_types());
      push_error(DiagnosticCode::UnknownRelType,
                 format_message(DiagnosticCode::UnknownRelType, {type}, fix.hint),
                 std::move(fix.suggestion), rel.rel_type_offsets[i]);
      continue;
    }
    if (map != nullptr) {
      for (const auto& entry : map->entries) {
        if (def->properties.contains(bare_name(entry.key))) continue;
        NameFix fix = property_fix(entry.key, rel_property_candidates(bare_name(type)));
        push_error(DiagnosticCode::UnknownRelProperty,
                   format_message(DiagnosticCode::UnknownRelProperty, {entry.key, type}, fix.hint),
                   std::move(fix.suggestion), entry.key_offsets);
      }
    }
    switch (rel.direction) {
      case RelationshipDirection::Right:
        check_endpoint_label(left, def->source, "source", type);
        check_endpoint_label(right, def->target, "target", type);
        break;
      case RelationshipDirection::Left:
        check_endpoint_label(right, def->source, "source", type);
        check_endpoint_label(left, def->target, "target", type);
        break;
      case RelationshipDirection::Both:
        break;
    }
  }
}

void SemanticValidator::check_endpoint_label(std::span<const Text> labels,
                                             std::string_view expected, std::string_view role,
                                             std::string_view rel_type) {
  if (labels.empty()) return;
  bool any_known = false;
  for (const auto& label : labels) {
    if (bare_name(label) == expected) return;
    if (!any_known && is_known_label(label)) any_known = true;
  }
  // Labels that are all unknown were reported by the node check already.
  if (!any_known) return;
  push_error(DiagnosticCode::WrongEndpointLabel,
             format_message(DiagnosticCode::WrongEndpointLabel,
                            {rel_type, role, expected, join_labels(labels)}));
}

// ---------------------------------------------------------------------------------------------
// Reading clauses

void SemanticValidator::validate_reading_clause(const ReadingClause& clause) {
  switch (clause.kind()) {
    case ReadingClauseKind::Match: {
      const auto& match = clause.as<ReadingClause::Match>();
      validate_pattern(match.pattern.parts);
      if (match.where_clause) {
        if (contains_aggregate(*match.where_clause)) {
          push_error(DiagnosticCode::AggregateInForbiddenContext, aggregate_message("MATCH WHERE"));
        }
        validate_expr(*match.where_clause);
      }
      check_cartesian_product(match.pattern.parts);
      check_match_complexity(match);
      break;
    }
    case ReadingClauseKind::Unwind:
      validate_expr(clause.as<ReadingClause::Unwind>().expr);
      break;
    case ReadingClauseKind::Call:
      // A procedure call is not checked: its arguments and yields are the procedure's own.
      break;
    case ReadingClauseKind::CallSubquery:
      validate_call_subquery(*clause.as<ReadingClause::CallSubquery>().query);
      break;
  }
}

void SemanticValidator::check_match_complexity(const ReadingClause::Match& match) {
  if (!match.where_clause) {
    bool unlabeled = false;
    for (const auto& part : match.pattern.parts) {
      if (part.element.start.labels.empty()) unlabeled = true;
      for (const auto& step : part.element.chain) {
        if (step.node.labels.empty()) unlabeled = true;
      }
      if (unlabeled) break;
    }
    if (unlabeled)
      push_warning(DiagnosticCode::UnlabeledFullScan,
                   std::string(code_template(DiagnosticCode::UnlabeledFullScan)));
  }
  for (const auto& part : match.pattern.parts) {
    for (const auto& step : part.element.chain) {
      const auto& range = step.relationship.range;
      if (range && !range->max) {
        push_warning(DiagnosticCode::UnboundedVarLength,
                     std::string(code_template(DiagnosticCode::UnboundedVarLength)));
      }
    }
  }
}

void SemanticValidator::check_cartesian_product(std::span<const PatternPart> parts) {
  if (parts.size() <= 1) return;
  auto names_of = [](const PatternPart& part, NameSet& names) {
    if (part.variable) names.insert(*part.variable);
    if (part.element.start.variable) names.insert(*part.element.start.variable);
    for (const auto& step : part.element.chain) {
      if (step.relationship.variable) names.insert(*step.relationship.variable);
      if (step.node.variable) names.insert(*step.node.variable);
    }
  };
  NameSet seen;
  names_of(parts[0], seen);
  for (std::size_t i = 1; i < parts.size(); ++i) {
    NameSet names;
    names_of(parts[i], names);
    bool connected = false;
    for (auto name : names) {
      if (seen.contains(name)) {
        connected = true;
        break;
      }
    }
    if (!connected) {
      push_warning(DiagnosticCode::CartesianProduct,
                   std::string(code_template(DiagnosticCode::CartesianProduct)));
      return;
    }
    for (auto name : names) seen.insert(name);
  }
}

// ---------------------------------------------------------------------------------------------
// Updating clauses

void SemanticValidator::check_set_aggregate(const Expr& value) {
  if (contains_aggregate(value)) {
    push_error(DiagnosticCode::AggregateInForbiddenContext, aggregate_message("SET"));
  }
}

void SemanticValidator::validate_set_item(const SetItem& item) {
  switch (item.kind()) {
    case SetItemKind::Property: {
      const auto& prop = item.as<SetItem::Property>();
      validate_property_access(prop.target.variable, prop.target.keys, prop.target.key_offsets);
      check_set_aggregate(prop.value);
      validate_expr(prop.value);
      break;
    }
    case SetItemKind::Assign: {
      const auto& assign = item.as<SetItem::Assign>();
      check_set_aggregate(assign.value);
      validate_expr(assign.value);
      break;
    }
    case SetItemKind::Append: {
      const auto& append = item.as<SetItem::Append>();
      check_set_aggregate(append.value);
      validate_expr(append.value);
      break;
    }
    case SetItemKind::Labels: {
      const auto& labels = item.as<SetItem::Labels>();
      for (std::size_t i = 0; i < labels.labels.size(); ++i) {
        if (!is_known_label(labels.labels[i])) {
          report_unknown_label(DiagnosticCode::UnknownNodeLabelInSet, labels.labels[i],
                               labels.label_offsets[i]);
        }
      }
      break;
    }
  }
}

void SemanticValidator::validate_set_items(const TreeList<SetItem>& items) {
  for (const auto& item : items) validate_set_item(item);
}

bool SemanticValidator::bind_temporary(std::string_view name) {
  if (scope.contains(name)) return false;
  scope.reset(name);
  return true;
}

void SemanticValidator::validate_updating_clause(const UpdatingClause& clause) {
  switch (clause.kind()) {
    case UpdatingClauseKind::Create:
      validate_pattern(clause.as<UpdatingClause::Create>().pattern.parts);
      break;
    case UpdatingClauseKind::Merge: {
      const auto& merge = clause.as<UpdatingClause::Merge>();
      validate_pattern(std::span<const PatternPart>(merge.part.get(), 1));
      // ON MATCH SET and ON CREATE SET items are checked as the items of a SET clause.
      for (const auto& action : merge.on_match) validate_set_items(action);
      for (const auto& action : merge.on_create) validate_set_items(action);
      break;
    }
    case UpdatingClauseKind::Set:
      validate_set_items(clause.as<UpdatingClause::Set>().items);
      break;
    case UpdatingClauseKind::Remove:
      for (const auto& item : clause.as<UpdatingClause::Remove>().items) {
        if (const auto* labels = item.get_if<RemoveItem::Labels>()) {
          for (std::size_t i = 0; i < labels->labels.size(); ++i) {
            if (!is_known_label(labels->labels[i])) {
              report_unknown_label(DiagnosticCode::UnknownNodeLabelInRemove, labels->labels[i],
                                   labels->label_offsets[i]);
            }
          }
        } else {
          const auto& target = item.as<RemoveItem::Property>().target;
          validate_property_access(target.variable, target.keys, target.key_offsets);
        }
      }
      break;
    case UpdatingClauseKind::Delete:
      for (const auto& expr : clause.as<UpdatingClause::Delete>().exprs) {
        if (contains_aggregate(expr)) {
          push_error(DiagnosticCode::AggregateInForbiddenContext, aggregate_message("DELETE"));
        }
        validate_expr(expr);
      }
      break;
    case UpdatingClauseKind::Foreach: {
      const auto& foreach = clause.as<UpdatingClause::Foreach>();
      validate_expr(foreach.list);
      bool bound_here = bind_temporary(foreach.variable);
      for (const auto& inner : foreach.body) validate_updating_clause(inner);
      if (bound_here) scope.erase(foreach.variable);
      break;
    }
  }
}

}  // namespace tessary
