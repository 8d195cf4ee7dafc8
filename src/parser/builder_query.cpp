// Query, projection, reading clause and updating clause steps of the builder.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "parser/builder.hpp"
#include "parser/builder_text.hpp"
#include "parser/rule.hpp"

namespace tessary::builder {
namespace {

// The tail of a projection, made empty (by `b`, this thread's Building as the caller keeps it)
// when the first of its parts is written.
ProjectionTail& tail_of(Projection& clause, const Building& b = building()) {
  if (!clause.tail) {
    clause.tail = Box<ProjectionTail>::made_by(b, [] { return ProjectionTail{}; });
  }
  return *clause.tail;
}

// The items, ORDER BY, SKIP and LIMIT of a RETURN or WITH, into its clause. A `*` for the items
// leaves no item pairs, and the clause's items empty.
void build_return_body(const Pair& pair, Projection& clause) {
  const Building& b = build_thread().building;
  for (Pair child : pair.into_inner()) {
    switch (child.as_rule()) {
      case Rule::return_items: {
        TreeList<ReturnItem>& items = clause.items;
        items.reserve(child.into_inner().count(), b);
        for (Pair item : child.into_inner()) {
          if (item.as_rule() != Rule::return_item) continue;
          items.emplace_made([&] {
            Pairs parts = item.into_inner();
            std::optional<Pair> expr = parts.next();
            if (!expr) fail("Return item missing expr");
            ReturnItem built{build_expression(*expr), std::nullopt};
            for (Pair rest : parts) {
              if (rest.as_rule() == Rule::variable) {
                built.alias.emplace(rest.as_str(), b);
                break;
              }
            }
            return built;
          });
        }
        break;
      }
      case Rule::order_clause:
        tail_of(clause, b).order_by = Box<TreeList<SortItem>>::made_by(b, [&] {
          TreeList<SortItem> order;
          for (Pair item : child.into_inner()) {
            if (item.as_rule() == Rule::sort_item) {
              order.emplace_made([&] { return build_sort_item(item); });
            }
          }
          return order;
        });
        break;
      case Rule::skip_clause:
        tail_of(clause, b).skip = Box<Expr>::made_by(
            b, [&] { return build_first_inner_expression(child, "SKIP missing expr"); });
        break;
      case Rule::limit_clause:
        tail_of(clause, b).limit = Box<Expr>::made_by(
            b, [&] { return build_first_inner_expression(child, "LIMIT missing expr"); });
        break;
      default:
        break;
    }
  }
}

[[gnu::noinline]] void build_with_clause(const Pair& pair, WithClause& with) {
  with.distinct = has_word(leading_gap(pair), "DISTINCT");
  for (Pair child : pair.into_inner()) {
    if (child.as_rule() == Rule::return_body) {
      build_return_body(child, with);
    } else if (child.as_rule() == Rule::where_clause) {
      tail_of(with).where_clause = Box<Expr>::made_by(
          [&] { return build_first_inner_expression(child, "WHERE missing expr"); });
    }
  }
}

SetItem build_set_item(const Pair& pair) {
  Pairs inner = pair.into_inner();
  std::optional<Pair> first = inner.next();
  std::optional<Pair> second = inner.next();
  if (!first || !second) fail("Invalid SET item");
  if (has_word(gap_text(pair, first->end(), &*second), "+=")) {
    return SetItem{SetItem::Append{text_of(*first), build_expression(*second)}};
  }
  if (first->as_rule() == Rule::property_expression) {
    PropertyExpr target = build_property_expression(*first);
    return SetItem{SetItem::Property{std::move(target), build_expression(*second)}};
  }
  if (first->as_rule() == Rule::variable) {
    if (second->as_rule() == Rule::node_labels) {
      SetItem::Labels labels{text_of(*first), {}, {}};
      inner_names(*second, Rule::label_name, labels.labels, labels.label_offsets);
      return SetItem{std::move(labels)};
    }
    return SetItem{SetItem::Assign{text_of(*first), build_expression(*second)}};
  }
  fail("Unknown SET item");
}

RemoveItem build_remove_item(const Pair& pair) {
  Pairs inner = pair.into_inner();
  std::optional<Pair> first = inner.next();
  if (!first) fail("Empty remove_item");
  if (first->as_rule() == Rule::property_expression) {
    return RemoveItem{RemoveItem::Property{build_property_expression(*first)}};
  }
  if (first->as_rule() == Rule::variable) {
    std::optional<Pair> second = inner.next();
    RemoveItem::Labels labels{text_of(*first), {}, {}};
    if (second && second->as_rule() == Rule::node_labels) {
      inner_names(*second, Rule::label_name, labels.labels, labels.label_offsets);
    }
    return RemoveItem{std::move(labels)};
  }
  fail("Unknown REMOVE item");
}

// The number of inner pairs of `form` of rule `rule`, when the form is long enough that its
// lists are better made at their size than grown (which moves them as they double, holding the
// old array and the new at once); 0 for a shorter form.
std::size_t count_in_long_form(const Pair& form, Rule rule) {
  constexpr std::size_t kLongForm = std::size_t{64} << 10;  // bytes of text
  if (form.end() - form.start() < kLongForm) return 0;
  std::size_t n = 0;
  for (Pair child : form.into_inner()) n += child.as_rule() == rule;
  return n;
}

[[gnu::noinline]] SingleQuery build_single_part(const Pair& form) {
  SingleQuery single{SinglePartQuery{}};
  auto& query = std::get<SinglePartQuery>(single.node);
  query.reading_clauses.reserve(count_in_long_form(form, Rule::reading_clause));
  query.updating_clauses.reserve(count_in_long_form(form, Rule::updating_clause));
  for (Pair child : form.into_inner()) {
    form.forget_inner_before(child);  // the clauses built so far
    switch (child.as_rule()) {
      case Rule::reading_clause:
        query.reading_clauses.emplace_made([&] { return build_reading_clause(child); });
        break;
      case Rule::updating_clause:
        query.updating_clauses.emplace_made([&] { return build_updating_clause(child); });
        break;
      case Rule::return_clause:
        build_return_clause(child, query.return_clause.emplace());
        break;
      default:
        break;
    }
  }
  return single;
}

// Each with_clause pair closes a part: the clauses since the previous one and that WITH.
[[gnu::noinline]] SingleQuery build_multi_part(const Pair& form) {
  SingleQuery single{MultiPartQuery{}};
  auto& query = std::get<MultiPartQuery>(single.node);
  query.parts.reserve(count_in_long_form(form, Rule::with_clause));
  TreeList<ReadingClause> reading;
  TreeList<UpdatingClause> updating;
  for (Pair child : form.into_inner()) {
    form.forget_inner_before(child);  // the clauses built so far
    switch (child.as_rule()) {
      case Rule::reading_clause:
        reading.emplace_made([&] { return build_reading_clause(child); });
        break;
      case Rule::updating_clause:
        updating.emplace_made([&] { return build_updating_clause(child); });
        break;
      case Rule::with_clause: {
        QueryPartStep& step = query.parts.emplace_back();
        build_with_clause(child, step.with_clause);
        step.reading_clauses = std::move(reading);
        step.updating_clauses = std::move(updating);
        break;
      }
      case Rule::return_clause:
        build_return_clause(child, query.return_clause.emplace());
        break;
      default:
        break;
    }
  }
  query.reading_clauses = std::move(reading);
  query.updating_clauses = std::move(updating);
  return single;
}

[[gnu::noinline]] ReadingClause build_match_clause(const Pair& form) {
  ReadingClause clause{ReadingClause::Match{}};
  auto& match = std::get<ReadingClause::Match>(clause.node);
  match.optional = starts_with_word(form.as_str(), "OPTIONAL");
  bool has_pattern = false;
  for (Pair child : form.into_inner()) {
    if (child.as_rule() == Rule::pattern) {
      build_pattern(child, match.pattern);
      has_pattern = true;
    } else if (child.as_rule() == Rule::where_clause) {
      match.where_clause =
          Box<Expr>::made_by([&] { return build_first_inner_expression(child, "Empty WHERE"); });
    }
  }
  if (!has_pattern) fail("MATCH missing pattern");
  return clause;
}

[[gnu::noinline]] ReadingClause build_unwind_clause(const Pair& form) {
  Pairs inner = form.into_inner();
  std::optional<Pair> expr = inner.next();
  if (!expr) fail("UNWIND missing expr");
  Expr list = build_expression(*expr);
  std::optional<Pair> variable = inner.next();
  if (!variable) fail("UNWIND missing variable");
  return ReadingClause{ReadingClause::Unwind{std::move(list), text_of(*variable)}};
}

[[gnu::noinline]] UpdatingClause build_foreach_clause(const Pair& form) {
  DepthGuard depth;
  Pairs inner = form.into_inner();
  std::optional<Pair> variable = inner.next();
  if (!variable) fail("FOREACH missing variable");
  std::optional<Pair> list = inner.next();
  if (!list) fail("FOREACH missing list expression");
  UpdatingClause::Foreach loop{text_of(*variable), build_expression(*list), {}};
  for (Pair child : inner) {
    if (child.as_rule() == Rule::updating_clause) loop.body.push_back(build_updating_clause(child));
  }
  if (loop.body.empty()) fail("FOREACH body is empty");
  return UpdatingClause{std::move(loop)};
}

[[gnu::noinline]] UpdatingClause build_remove_clause(const Pair& form) {
  UpdatingClause::Remove remove;
  for (Pair child : form.into_inner()) {
    if (child.as_rule() == Rule::remove_item) remove.items.push_back(build_remove_item(child));
  }
  return UpdatingClause{std::move(remove)};
}

[[gnu::noinline]] UpdatingClause build_delete_clause(const Pair& form) {
  UpdatingClause::Delete del;
  del.detach = starts_with_word(form.as_str(), "DETACH");
  for (Pair child : form.into_inner()) {
    if (child.as_rule() == Rule::expression) del.exprs.push_back(build_expression(child));
  }
  return UpdatingClause{std::move(del)};
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Queries and projections

RegularQuery build_regular_query(const Pair& pair) {
  DepthGuard depth;
  Pairs inner = pair.into_inner();
  std::optional<Pair> first = inner.next();
  if (!first) fail("Missing single_query");
  RegularQuery query{build_single_query(*first), {}};
  for (Pair child : inner) {
    if (child.as_rule() != Rule::union_clause) continue;
    std::optional<Pair> branch;
    for (Pair part : child.into_inner()) {
      if (part.as_rule() == Rule::single_query) {
        branch = part;
        break;
      }
    }
    if (!branch) fail("Missing union single_query");
    bool all = has_word(gap_text(child, child.start(), &*branch), "ALL");
    query.unions.emplace_made([&] { return UnionBranch{all, build_single_query(*branch)}; });
  }
  return query;
}

SingleQuery build_single_query(const Pair& pair) {
  std::optional<Pair> form = pair.into_inner().peek();
  if (!form) fail("Empty single_query");
  if (form->as_rule() == Rule::single_part_query) return build_single_part(*form);
  if (form->as_rule() == Rule::multi_part_query) return build_multi_part(*form);
  fail("Unknown single_query: " + std::string(rule_name(form->as_rule())));
}

void build_return_clause(const Pair& pair, ReturnClause& ret) {
  ret.distinct = has_word(leading_gap(pair), "DISTINCT");
  for (Pair child : pair.into_inner()) {
    if (child.as_rule() == Rule::return_body) build_return_body(child, ret);
  }
}

SortItem build_sort_item(const Pair& pair) {
  std::optional<Pair> expr = pair.into_inner().peek();
  if (!expr) fail("Sort item missing expr");
  bool descending = has_word(gap_text(pair, expr->end(), nullptr), "DESC");
  return SortItem{build_expression(*expr), descending};
}

// ---------------------------------------------------------------------------------------------
// Reading clauses

ReadingClause build_reading_clause(const Pair& pair) {
  std::optional<Pair> form = pair.into_inner().peek();
  if (!form) fail("Empty reading_clause");
  switch (form->as_rule()) {
    case Rule::call_subquery: {
      std::optional<Pair> body = form->into_inner().peek();
      if (!body) fail("Empty CALL subquery");
      return ReadingClause{
          ReadingClause::CallSubquery{Box<RegularQuery>(build_regular_query(*body))}};
    }
    case Rule::match_clause:
      return build_match_clause(*form);
    case Rule::unwind_clause:
      return build_unwind_clause(*form);
    case Rule::in_query_call:
      return ReadingClause{build_call_clause(*form)};
    default:
      fail("Unknown reading clause: " + std::string(rule_name(form->as_rule())));
  }
}

ReadingClause::Call build_call_clause(const Pair& pair) {
  ReadingClause::Call call;
  for (Pair child : pair.into_inner()) {
    if (child.as_rule() == Rule::explicit_procedure_invocation) {
      for (Pair part : child.into_inner()) {
        if (part.as_rule() == Rule::procedure_name) {
          call.procedure = text_of(part);
        } else if (part.as_rule() == Rule::expression) {
          call.args.push_back(build_expression(part));
        }
      }
    } else if (child.as_rule() == Rule::yield_items) {
      for (Pair item : child.into_inner()) {
        if (item.as_rule() != Rule::yield_item) continue;
        YieldItem yield;
        for (Pair part : item.into_inner()) {
          if (part.as_rule() == Rule::procedure_result_field) {
            yield.result_field.emplace(part.as_str());
          } else if (part.as_rule() == Rule::variable) {
            yield.variable = text_of(part);
          }
        }
        call.yield_items.push_back(std::move(yield));
      }
    }
  }
  return call;
}

// ---------------------------------------------------------------------------------------------
// Updating clauses

UpdatingClause build_updating_clause(const Pair& pair) {
  std::optional<Pair> form = pair.into_inner().peek();
  if (!form) fail("Empty updating_clause");
  switch (form->as_rule()) {
    case Rule::foreach_clause:
      return build_foreach_clause(*form);
    case Rule::create_clause: {
      std::optional<Pair> pattern = form->into_inner().peek();
      if (!pattern) fail("CREATE missing pattern");
      UpdatingClause clause{UpdatingClause::Create{}};
      build_pattern(*pattern, std::get<UpdatingClause::Create>(clause.node).pattern);
      return clause;
    }
    case Rule::merge_clause:
      return build_merge_clause(*form);
    case Rule::set_clause:
      return UpdatingClause{UpdatingClause::Set{build_set_clause(*form)}};
    case Rule::remove_clause:
      return build_remove_clause(*form);
    case Rule::delete_clause:
      return build_delete_clause(*form);
    default:
      fail("Unknown updating clause: " + std::string(rule_name(form->as_rule())));
  }
}

UpdatingClause build_merge_clause(const Pair& pair) {
  UpdatingClause::Merge merge;
  for (Pair child : pair.into_inner()) {
    if (child.as_rule() == Rule::pattern_part) {
      merge.part = Box<PatternPart>::made_by([&] {
        PatternPart part;
        build_pattern_part(child, part);
        return part;
      });
    } else if (child.as_rule() == Rule::on_match_or_create) {
      for (Pair action : child.into_inner()) {
        if (action.as_rule() != Rule::set_clause) continue;
        bool on_match = has_word(gap_text(child, child.start(), &action), "MATCH");
        (on_match ? merge.on_match : merge.on_create).push_back(build_set_clause(action));
      }
    }
  }
  if (!merge.part) fail("MERGE missing pattern_part");
  return UpdatingClause{std::move(merge)};
}

TreeList<SetItem> build_set_clause(const Pair& pair) {
  TreeList<SetItem> items;
  for (Pair child : pair.into_inner()) {
    if (child.as_rule() == Rule::set_item) items.push_back(build_set_item(child));
  }
  return items;
}

PropertyExpr build_property_expression(const Pair& pair) {
  PropertyExpr target;
  for (Pair child : pair.into_inner()) {
    if (child.as_rule() == Rule::variable) {
      target.variable = text_of(child);
    } else if (child.as_rule() == Rule::property_lookup) {
      std::optional<Pair> key = child.into_inner().peek();
      if (!key) fail("Property lookup missing key");
      target.keys.emplace_back(key->as_str());
      target.key_offsets.push_back(offset_of(*key));
    }
  }
  return target;
}

}  // namespace tessary::builder
