// The semantic validator's state, its findings, the binding collectors and the query-level walk:
// query parts, WITH steps, UNION branches, RETURN and the uniqueness of projected names.
#include "validator/semantic.hpp"

#include <cassert>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "parser/names.hpp"
#include "validator/name_set.hpp"

namespace tessary {

namespace {

// The name an item projects: its alias, else the name of a plain variable, else none.
std::optional<std::string_view> projected_name(const ReturnItem& item) {
  if (item.alias) return item.alias->view();
  if (const auto* var = item.expr.get_if<Expr::Variable>()) return var->name.view();
  return std::nullopt;
}

// The labels an item carries over to its projected name: those of a bound plain variable.
Scope::Labels projected_labels(const ReturnItem& item, const Scope& source) {
  if (const auto* var = item.expr.get_if<Expr::Variable>()) {
    if (const auto* labels = source.find(var->name)) return *labels;
  }
  return {};
}

const ReturnClause* final_return(const SingleQuery& query) {
  if (const auto* single = query.get_if<SinglePartQuery>()) {
    return single->return_clause ? &*single->return_clause : nullptr;
  }
  const auto& multi = query.as<MultiPartQuery>();
  return multi.return_clause ? &*multi.return_clause : nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Scope

Scope::Labels* Scope::Map::find(std::string_view name) {
  if (indexed()) {
    auto it = index_->find(name);
    return it == index_->end() ? nullptr : &list_[it->second].labels;
  }
  for (Binding& binding : list_) {
    if (same_name(binding.name, name)) return &binding.labels;
  }
  return nullptr;
}

void Scope::Map::insert(std::string_view name, Labels&& labels) {
  list_.emplace_back(name, std::move(labels));
  if (indexed()) {
    index_->emplace(name, static_cast<std::uint32_t>(list_.size() - 1));
  } else if (list_.size() > kDirectLimit) {
    if (!index_) index_ = std::make_unique<Index>();
    index_->reserve(2 * list_.size());
    for (std::size_t i = 0; i < list_.size(); ++i) {
      index_->emplace(list_[i].name, static_cast<std::uint32_t>(i));
    }
  }
}

void Scope::Map::erase(std::string_view name) {
  std::size_t at = 0;
  if (indexed()) {
    auto it = index_->find(name);
    at = it->second;
    index_->erase(it);
  } else {
    while (!same_name(list_[at].name, name)) ++at;
  }
  if (at + 1 != list_.size()) {
    list_[at] = std::move(list_.back());
    if (indexed()) index_->find(list_[at].name)->second = static_cast<std::uint32_t>(at);
  }
  list_.pop_back();
}

template <class Names>
void Scope::accumulate(std::string_view name, const Names& labels) {
  Labels* held = map_.find(name);
  if (held == nullptr) {
    map_.insert(name, Labels(labels.begin(), labels.end()));
    if (recording()) record(Change::Kind::Inserted, name);
    return;
  }
  const std::size_t length = held->size();
  for (const auto& label : labels) {
    bool present = false;
    for (std::size_t i = 0; i < held->size() && !present; ++i) present = (*held)[i] == label;
    if (!present) held->emplace_back(std::string_view(label));
  }
  if (recording() && held->size() != length) record(Change::Kind::Appended, name, {}, length);
}

template void Scope::accumulate(std::string_view, const TreeList<Text>&);
template void Scope::accumulate(std::string_view, const Labels&);

void Scope::bind(std::string_view name, Labels labels) {
  Labels* held = map_.find(name);
  if (held == nullptr) {
    map_.insert(name, std::move(labels));
    if (recording()) record(Change::Kind::Inserted, name);
    return;
  }
  if (recording()) record(Change::Kind::Rebound, name, std::move(*held));
  *held = std::move(labels);
}

void Scope::erase(std::string_view name) {
  Labels* held = map_.find(name);
  if (held == nullptr) return;
  if (recording()) record(Change::Kind::Erased, name, std::move(*held));
  map_.erase(name);
}

void Scope::replace_all(Scope next) {
  if (recording()) {
    replaced_.push_back(std::move(map_));
    record(Change::Kind::Replaced, {});
  }
  map_ = std::move(next.map_);
}

void Scope::undo(Change& change) {
  switch (change.kind) {
    case Change::Kind::Inserted:
      map_.erase(change.name);
      break;
    case Change::Kind::Appended:
      map_.find(change.name)->shrink_to(change.length);
      break;
    case Change::Kind::Rebound:
      *map_.find(change.name) = std::move(change.labels);
      break;
    case Change::Kind::Erased:
      map_.insert(change.name, std::move(change.labels));
      break;
    case Change::Kind::Replaced:
      map_ = std::move(replaced_.back());
      replaced_.pop_back();
      break;
  }
}

void Scope::restore(Mark mark) {
  while (journal_.size() > mark) {
    undo(journal_.back());
    journal_.pop_back();
  }
  --open_;
}

void Scope::keep([[maybe_unused]] Mark mark) {
  // The changes stay recorded while an enclosing savepoint may still undo them.
  assert(mark <= journal_.size());
  if (--open_ == 0) {
    journal_.shrink_to(0);
    replaced_.clear();
  }
}

bool Scope::replaced_since(Mark mark) const {
  for (std::size_t i = mark; i < journal_.size(); ++i) {
    if (journal_[i].kind == Change::Kind::Replaced) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Findings

SemanticValidator::SemanticValidator(const Schema& schema, const SchemaCandidates& candidates)
    : schema_(schema), candidates_(&candidates) {}

SemanticValidator::SemanticValidator(const Schema& schema) : schema_(schema) {}

void SemanticValidator::record_error(DiagnosticCode code, std::string message,
                                     std::optional<Suggestion> suggestion) {
  ++error_count;
  // Filled in place, so that the finding is not moved once more.
  ValidationDiagnostic& d = diagnostics.emplace_back();
  d.code = code;
  d.severity = Severity::Error;
  d.message = std::move(message);
  d.suggestion = std::move(suggestion);
}

void SemanticValidator::push_error(DiagnosticCode code, std::string message) {
  record_error(code, std::move(message), std::nullopt);
}

void SemanticValidator::push_error(DiagnosticCode code, std::string message,
                                   std::optional<Suggestion> suggestion, std::uint32_t at) {
  if (suggestion) suggestion_sites.push_back(SuggestionSite{diagnostics.size(), at});
  record_error(code, std::move(message), std::move(suggestion));
}

void SemanticValidator::push_error(DiagnosticCode code, std::string message,
                                   std::optional<Suggestion> suggestion, const NameOffsets& at) {
  if (suggestion) {
    for (std::size_t i = 0; i < at.size(); ++i) {
      suggestion_sites.push_back(SuggestionSite{diagnostics.size(), at[i]});
    }
  }
  record_error(code, std::move(message), std::move(suggestion));
}

void SemanticValidator::push_warning(DiagnosticCode code, std::string message) {
  ValidationDiagnostic& d = diagnostics.emplace_back();
  d.code = code;
  d.severity = Severity::Warning;
  d.message = std::move(message);
}

// ---------------------------------------------------------------------------------------------
// Schema lookups and suggestions

bool SemanticValidator::is_known_label(std::string_view written) const {
  return schema_.has_node_label(bare_name(written));
}

const SchemaCandidates& SemanticValidator::candidates() {
  if (candidates_ == nullptr) {
    own_candidates_ = std::make_unique<SchemaCandidates>(schema_);
    candidates_ = own_candidates_.get();
  }
  return *candidates_;
}

const Candidates& SemanticValidator::known_labels() { return candidates().labels(); }

const Candidates& SemanticValidator::known_rel_types() { return candidates().rel_types(); }

const Candidates& SemanticValidator::node_property_candidates(std::string_view label) {
  return candidates().node_properties(label);
}

const Candidates& SemanticValidator::rel_property_candidates(std::string_view rel_type) {
  return candidates().rel_properties(rel_type);
}

std::optional<std::string_view> SemanticValidator::closest(std::string_view name,
                                                           const Candidates& list) {
  if (const auto* found = matches_.find(&list, name)) return *found;
  const auto match = closest_match(name, list);
  matches_.insert(&list, name, match);
  return match;
}

std::size_t SemanticValidator::Matches::hash(const Candidates* list, std::string_view name) {
  return name_hash(name) ^ (reinterpret_cast<std::uintptr_t>(list) * 0x9E3779B97F4A7C15ull);
}

const std::optional<std::string_view>* SemanticValidator::Matches::find(
    const Candidates* list, std::string_view name) const {
  if (slots_.empty()) {
    for (const Entry& e : entries_) {
      if (e.list == list && same_name(e.name, name)) return &e.match;
    }
    return nullptr;
  }
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash(list, name) & mask;; i = (i + 1) & mask) {
    if (slots_[i] == 0) return nullptr;
    const Entry& e = entries_[slots_[i] - 1];
    if (e.list == list && e.name == name) return &e.match;
  }
}

void SemanticValidator::Matches::insert(const Candidates* list, std::string_view name,
                                        std::optional<std::string_view> match) {
  entries_.emplace_back(Entry{list, std::string(name), match});
  if (slots_.empty() && entries_.size() <= kDirectLimit) return;
  if (2 * entries_.size() > slots_.size()) {
    slots_.assign(slots_.empty() ? 4 * kDirectLimit : 2 * slots_.size(), 0);
    for (std::size_t e = 0; e + 1 < entries_.size(); ++e) {
      const std::size_t mask = slots_.size() - 1;
      std::size_t i = hash(entries_[e].list, entries_[e].name) & mask;
      while (slots_[i] != 0) i = (i + 1) & mask;
      slots_[i] = static_cast<std::uint32_t>(e + 1);
    }
  }
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash(list, name) & mask;
  while (slots_[i] != 0) i = (i + 1) & mask;
  slots_[i] = static_cast<std::uint32_t>(entries_.size());
}

// A suggested name goes into the fixed query as it must be written there, so a name that the
// query language cannot take as a plain name is put in backticks.
std::string_view SemanticValidator::as_written(std::string_view match) {
  if (const std::string* written = candidates().written(match)) return *written;
  if (!written_names_)
    written_names_ = std::make_unique<std::unordered_map<std::string_view, std::string>>();
  auto it = written_names_->find(match);
  if (it == written_names_->end()) {
    it = written_names_->emplace(match, name_as_written(match)).first;
  }
  return it->second;
}

// The closest candidate is searched once; the hint and the suggestion are both built from it.
NameFix SemanticValidator::label_fix(std::string_view written, const Candidates& candidates) {
  auto match = closest(bare_name(written), candidates);
  if (!match) return {};
  return {Hint{':', match}, label_suggestion_for(written, as_written(*match))};
}

NameFix SemanticValidator::property_fix(std::string_view written, const Candidates& candidates) {
  auto match = closest(bare_name(written), candidates);
  if (!match) return {Hint{'.', std::nullopt}, std::nullopt};
  return {Hint{'.', match}, property_suggestion_for(written, as_written(*match))};
}

// ---------------------------------------------------------------------------------------------
// Binding collectors

void SemanticValidator::collect_node_bindings(const NodePattern& node) {
  if (node.variable) scope.accumulate(*node.variable, node.labels);
}

void SemanticValidator::collect_rel_bindings(const RelationshipPattern& rel) {
  if (rel.variable) scope.accumulate(*rel.variable, rel.rel_types);
}

void SemanticValidator::collect_pattern_bindings(std::span<const PatternPart> parts) {
  for (const auto& part : parts) {
    if (part.variable) scope.reset(*part.variable);
    collect_node_bindings(part.element.start);
    for (const auto& step : part.element.chain) {
      collect_rel_bindings(step.relationship);
      collect_node_bindings(step.node);
    }
  }
}

void SemanticValidator::collect_reading_bindings(const ReadingClause& clause) {
  switch (clause.kind()) {
    case ReadingClauseKind::Match:
      collect_pattern_bindings(clause.as<ReadingClause::Match>().pattern.parts);
      break;
    case ReadingClauseKind::Unwind:
      scope.reset(clause.as<ReadingClause::Unwind>().variable);
      break;
    case ReadingClauseKind::Call:
      for (const auto& item : clause.as<ReadingClause::Call>().yield_items) {
        scope.reset(item.variable);
      }
      break;
    case ReadingClauseKind::CallSubquery:
      break;
  }
}

void SemanticValidator::collect_updating_bindings(const UpdatingClause& clause) {
  switch (clause.kind()) {
    case UpdatingClauseKind::Create:
      collect_pattern_bindings(clause.as<UpdatingClause::Create>().pattern.parts);
      break;
    case UpdatingClauseKind::Merge: {
      const auto& merge = clause.as<UpdatingClause::Merge>();
      collect_pattern_bindings(std::span<const PatternPart>(merge.part.get(), 1));
      break;
    }
    case UpdatingClauseKind::Set:
    case UpdatingClauseKind::Remove:
    case UpdatingClauseKind::Delete:
    case UpdatingClauseKind::Foreach:
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// Query-level walk

void SemanticValidator::validate_query_part(const TreeList<ReadingClause>& reading,
                                            const TreeList<UpdatingClause>& updating) {
  for (const auto& clause : reading) collect_reading_bindings(clause);
  for (const auto& clause : updating) collect_updating_bindings(clause);
  for (const auto& clause : reading) validate_reading_clause(clause);
  for (const auto& clause : updating) validate_updating_clause(clause);
}

void SemanticValidator::validate_single_query(const SingleQuery& query) {
  if (const auto* single = query.get_if<SinglePartQuery>()) {
    validate_query_part(single->reading_clauses, single->updating_clauses);
    if (single->return_clause) validate_return_clause(*single->return_clause);
  } else {
    validate_multi_part(query.as<MultiPartQuery>());
  }
}

void SemanticValidator::validate_regular_query(const RegularQuery& query) {
  validate_single_query(query.first);
  for (const auto& branch : query.unions) {
    // Every branch starts from an empty scope; afterwards the scope is what `first` left.
    const Scope::Mark mark = scope.save();
    scope.replace_all({});
    validate_single_query(branch.query);
    scope.restore(mark);
  }
}

Scope SemanticValidator::projection_scope(const TreeList<ReturnItem>& items, const Scope& source) {
  if (items.empty()) return source;
  Scope next;
  for (const auto& item : items) {
    if (const auto name = projected_name(item)) {
      next.bind(*name, projected_labels(item, source));
    }
  }
  return next;
}

void SemanticValidator::validate_multi_part(const MultiPartQuery& query) {
  for (const auto& step : query.parts) {
    validate_query_part(step.reading_clauses, step.updating_clauses);
    const WithClause& with = step.with_clause;
    for (const auto& item : with.items) validate_expr(item.expr);
    check_alias_uniqueness(with.items);
    // WITH * keeps the whole scope as it is.
    if (!with.items.empty()) scope.replace_all(projection_scope(with.items, scope));
    if (const TreeList<SortItem>* order_by = with.order_by()) {
      for (const auto& sort : *order_by) validate_expr(sort.expr);
    }
    if (const Expr* skip = with.skip()) validate_pagination_expr(*skip, "SKIP");
    if (const Expr* limit = with.limit()) validate_pagination_expr(*limit, "LIMIT");
    if (const Expr* where = with.where_clause()) validate_expr(*where);
  }
  validate_query_part(query.reading_clauses, query.updating_clauses);
  if (query.return_clause) validate_return_clause(*query.return_clause);
}

void SemanticValidator::validate_return_clause(const ReturnClause& clause) {
  for (const auto& item : clause.items) validate_expr(item.expr);
  check_alias_uniqueness(clause.items);

  if (const TreeList<SortItem>* order_by = clause.order_by()) {
    // The ORDER BY keys see the RETURN's projected names besides the scope of its items; the
    // names are bound as a WITH projection binds them (every list taken before the first is
    // bound), and afterwards the scope is as it was.
    InlineList<std::pair<std::string_view, Scope::Labels>, 8> projected;
    for (const auto& item : clause.items) {
      if (const auto name = projected_name(item)) {
        projected.emplace_back(*name, projected_labels(item, scope));
      }
    }
    const Scope::Mark mark = scope.save();
    for (auto& [name, labels] : projected) scope.bind(name, std::move(labels));
    for (const auto& sort : *order_by) validate_expr(sort.expr);
    scope.restore(mark);
  }
  if (const Expr* skip = clause.skip()) validate_pagination_expr(*skip, "SKIP");
  if (const Expr* limit = clause.limit()) validate_pagination_expr(*limit, "LIMIT");
}

void SemanticValidator::check_alias_uniqueness(const TreeList<ReturnItem>& items) {
  NameSet seen;
  for (const auto& item : items) {
    const auto name = projected_name(item);
    if (!name) continue;
    if (!seen.insert(*name)) {
      push_error(DiagnosticCode::DuplicateProjectionName,
                 format_message(DiagnosticCode::DuplicateProjectionName, {*name}));
    }
  }
}

// A CALL { ... } body sees the enclosing scope; afterwards the enclosing scope is back as it
// was, plus the names projected by the final RETURN of the body's first branch (RETURN *
// exports the body's whole scope; a body without RETURN binds nothing).
void SemanticValidator::validate_call_subquery(const RegularQuery& body) {
  const Scope::Mark mark = scope.save();
  validate_regular_query(body);
  const ReturnClause* ret = final_return(body.first);
  if (ret != nullptr && ret->items.empty() && !scope.replaced_since(mark)) {
    // RETURN * over a body that never replaced its scope: the body's scope is the enclosing one
    // with the body's bindings laid over it, which is what the export makes of it.
    scope.keep(mark);
    return;
  }
  std::vector<std::pair<std::string_view, Scope::Labels>> exported;
  if (ret != nullptr && ret->items.empty()) {
    for (const auto& [name, labels] : scope) exported.emplace_back(name, labels);
  } else if (ret != nullptr) {
    for (const auto& item : ret->items) {
      if (const auto name = projected_name(item)) {
        exported.emplace_back(*name, projected_labels(item, scope));
      }
    }
  }
  scope.restore(mark);
  for (auto& [name, labels] : exported) scope.bind(name, std::move(labels));
}

}  // namespace tessary
