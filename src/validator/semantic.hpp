#pragma once
// The semantic pass: one SemanticValidator walks one parsed query against a schema, keeps the
// variable scope and records every finding as an error or warning with its diagnostic.
//
// The work is split over three files: semantic.cpp (scope, bindings and the query-level walk),
// patterns.cpp (patterns and clauses) and expressions.cpp (expressions and function calls).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "diagnostics.hpp"
#include "parser/ast.hpp"
#include "schema.hpp"
#include "validator/fix.hpp"
#include "validator/inline_list.hpp"
#include "validator/schema_candidates.hpp"

namespace tessary {

// Hashes names for the maps keyed by them.
struct NameHash {
  std::size_t operator()(std::string_view s) const { return name_hash(s); }
};

// The variables currently bound, each with the node labels and relationship types seen for it
// (first-seen order, no duplicates). Lookups are hashed; the iteration order is never observed.
// Names and labels are views: the texts they show (the query tree's, or any caller's) must
// outlive the scope.
//
// Nested bodies (pattern comprehensions, subqueries, UNION branches, a RETURN's ORDER BY) change
// the scope and must leave it as they found it. Instead of copying the whole scope for each of
// them, `save` opens a savepoint: while one is open every change is recorded with what it
// replaced, and `restore` undoes the changes made since its savepoint, latest first. A body then
// costs what it changes, not the size of the scope around it.
class Scope {
 public:
  // A variable rarely carries more than two labels or types.
  using Labels = InlineList<std::string_view, 2>;
  using Mark = std::size_t;

  struct Binding {
    std::string_view name;
    Labels labels;
  };

  Scope() = default;
  Scope(Scope&&) noexcept = default;
  Scope& operator=(Scope&&) noexcept = default;
  // Copies hold the bindings only, never open savepoints.
  Scope(const Scope& other) : map_(other.map_) {}
  Scope& operator=(const Scope& other) = delete;

  const Labels* find(std::string_view name) const { return map_.find(name); }
  bool contains(std::string_view name) const { return map_.find(name) != nullptr; }

  // Node and relationship variables: a new name takes a copy of `labels`; a bound one gains the
  // names it does not hold yet, in the given order. For the labels of a tree's pattern, or a
  // list of labels.
  template <class Names>
  void accumulate(std::string_view name, const Names& labels);
  // Every other binding: the name gets an empty list, replacing any entry it had.
  void reset(std::string_view name) { bind(name, {}); }
  // Sets the name's list, replacing any entry it had.
  void bind(std::string_view name, Labels labels);
  void erase(std::string_view name);
  // Replaces every binding by those of `next`.
  void replace_all(Scope next);

  // Opens a savepoint; the mark it returns is handed to `restore` or `keep`.
  Mark save() {
    ++open_;
    return journal_.size();
  }
  // Undoes every change made since `mark` and closes its savepoint.
  void restore(Mark mark);
  // Keeps the changes made since `mark` and closes its savepoint.
  void keep(Mark mark);
  // Whether `replace_all` was called since `mark`.
  bool replaced_since(Mark mark) const;

  // The bindings in no particular order.
  std::size_t size() const { return map_.size(); }
  bool empty() const { return map_.size() == 0; }
  const Binding* begin() const { return map_.begin(); }
  const Binding* end() const { return map_.end(); }

 private:
  // The bindings: a flat list searched directly while it is short (most scopes hold a few
  // names, kept inside the map itself), through a hashed index of positions once it is long.
  class Map {
   public:
    Labels* find(std::string_view name);
    const Labels* find(std::string_view name) const { return const_cast<Map*>(this)->find(name); }
    // `name` must be unbound.
    void insert(std::string_view name, Labels&& labels);
    // `name` must be bound; the last binding takes its place in the list.
    void erase(std::string_view name);
    std::size_t size() const { return list_.size(); }
    const Binding* begin() const { return list_.begin(); }
    const Binding* end() const { return list_.end(); }

    Map() = default;
    Map(Map&&) noexcept = default;
    Map& operator=(Map&&) noexcept = default;
    Map(const Map& other)
        : list_(other.list_),
          index_(other.index_ ? std::make_unique<Index>(*other.index_) : nullptr) {}
    Map& operator=(const Map&) = delete;

   private:
    using Index = std::unordered_map<std::string_view, std::uint32_t, NameHash>;
    // Whether lookups go through the index; it is made only for a long list.
    bool indexed() const { return index_ && !index_->empty(); }

    static constexpr std::size_t kDirectLimit = 16;
    InlineList<Binding, 8> list_;
    std::unique_ptr<Index> index_;
  };

  // One recorded change and what undoes it.
  struct Change {
    enum class Kind : std::uint8_t {
      Inserted,  // the name was new: erase it
      Appended,  // labels were appended: cut the list back to `length`
      Rebound,   // the name had `labels`: put them back
      Erased,    // the name had `labels`: insert it again
      Replaced,  // the whole map was replaced: the last of `replaced_` comes back
    };
    Kind kind;
    std::string_view name;
    Labels labels;
    std::size_t length = 0;
  };
  bool recording() const { return open_ > 0; }
  void record(Change::Kind kind, std::string_view name, Labels labels = {},
              std::size_t length = 0) {
    journal_.emplace_back(Change{kind, name, std::move(labels), length});
  }
  void undo(Change& change);

  Map map_;
  InlineList<Change, 4> journal_;  // a body changes few names, mostly
  std::vector<Map> replaced_;      // whole maps put aside by replace_all, for restore
  std::size_t open_ = 0;           // savepoints open
};

// The hint and suggestion for one unknown name, computed with one closest-match search.
struct NameFix {
  Hint hint;  // ", did you mean :m?" / ", did you mean .m?" or none
  std::optional<Suggestion> suggestion;
};

class SemanticValidator {
 public:
  // Searches `candidates` for suggestions.
  SemanticValidator(const Schema& schema, const SchemaCandidates& candidates);
  // Indexes the candidate lists it searches itself, for this validation only.
  explicit SemanticValidator(const Schema& schema);

  // Findings in the order found, errors and warnings interleaved, and how many are errors.
  std::vector<ValidationDiagnostic> diagnostics;
  std::size_t error_count = 0;
  Scope scope;

  // Where the suggestions of the errors apply, in the order the errors were found.
  std::vector<SuggestionSite> suggestion_sites;

  // An error without suggestion.
  void push_error(DiagnosticCode code, std::string message);
  // An error about the name written at `at` (a label, relationship type or property key of the
  // query), or at each offset of `at` (a map key written more than once): the suggestion, when
  // there is one, applies there and nowhere else.
  void push_error(DiagnosticCode code, std::string message, std::optional<Suggestion> suggestion,
                  std::uint32_t at);
  void push_error(DiagnosticCode code, std::string message, std::optional<Suggestion> suggestion,
                  const NameOffsets& at);
  void push_warning(DiagnosticCode code, std::string message);

  // Query-level walk (semantic.cpp).
  void validate_regular_query(const RegularQuery& query);
  void validate_single_query(const SingleQuery& query);
  void validate_multi_part(const MultiPartQuery& query);
  void validate_return_clause(const ReturnClause& clause);
  void check_alias_uniqueness(const TreeList<ReturnItem>& items);
  // One query part: bindings of all its clauses first, then the clause checks.
  void validate_query_part(const TreeList<ReadingClause>& reading,
                           const TreeList<UpdatingClause>& updating);
  // The scope that projecting `items` out of `source` leaves (an empty list: all of `source`).
  static Scope projection_scope(const TreeList<ReturnItem>& items, const Scope& source);

  // Binding collectors (semantic.cpp).
  void collect_node_bindings(const NodePattern& node);
  void collect_rel_bindings(const RelationshipPattern& rel);
  void collect_pattern_bindings(std::span<const PatternPart> parts);
  void collect_reading_bindings(const ReadingClause& clause);
  void collect_updating_bindings(const UpdatingClause& clause);

  // Pattern and clause checks (patterns.cpp).
  void validate_pattern(std::span<const PatternPart> parts);
  void validate_pattern_element(const PatternElement& element);
  void validate_node_pattern(const NodePattern& node);
  void validate_rel_pattern_with_endpoints(const RelationshipPattern& rel,
                                           std::span<const Text> left, std::span<const Text> right);
  void check_endpoint_label(std::span<const Text> labels, std::string_view expected,
                            std::string_view role, std::string_view rel_type);
  void validate_reading_clause(const ReadingClause& clause);
  void validate_updating_clause(const UpdatingClause& clause);
  void validate_set_item(const SetItem& item);
  void check_match_complexity(const ReadingClause::Match& match);
  void check_cartesian_product(std::span<const PatternPart> parts);

  // Expression checks (expressions.cpp).
  void validate_expr(const Expr& expr);
  // E303/E304 for each key against every label or type bound to `variable`; nothing when the
  // variable is unbound. Expressions pass the first key of a chain, SET and REMOVE every key.
  // `key_offsets` says where each key is written. Returns whether the variable is bound.
  bool validate_property_access(std::string_view variable, std::span<const Text> keys,
                                const NameOffsets& key_offsets);
  void validate_pagination_expr(const Expr& expr, std::string_view clause);
  static bool contains_aggregate(const Expr& expr);

  // Schema lookups by name as written: enclosing backticks are not part of the name.
  static std::string_view bare_name(std::string_view written) {
    if (written.size() >= 2 && written.front() == '`' && written.back() == '`') {
      return written.substr(1, written.size() - 2);
    }
    return written;
  }
  bool is_known_label(std::string_view written) const;

  // Candidate lists for suggestions, in ascending byte order: the schema's labels, its
  // relationship types, and the properties of one label or type (by its bare name).
  const Candidates& known_labels();
  const Candidates& known_rel_types();
  const Candidates& node_property_candidates(std::string_view label);
  const Candidates& rel_property_candidates(std::string_view rel_type);

  // Hint and suggestion for an unknown label or type (":" fragments) or property key (bare
  // fragments). The search uses the bare name; the original fragment keeps `written`, and the
  // replacement is the match as it must be written in a query (see name_as_written).
  NameFix label_fix(std::string_view written, const Candidates& candidates);
  NameFix property_fix(std::string_view written, const Candidates& candidates);

  const Schema& schema() const { return schema_; }

 private:
  // The UNWIND-style temporary binding of FOREACH: binds `name` with an empty list when it is
  // unbound; returns whether it did, so the caller can unbind it afterwards.
  bool bind_temporary(std::string_view name);
  void validate_call_subquery(const RegularQuery& body);
  void validate_set_items(const TreeList<SetItem>& items);
  void check_set_aggregate(const Expr& value);
  void report_unknown_label(DiagnosticCode code, std::string_view label, std::uint32_t at);
  void record_error(DiagnosticCode code, std::string message, std::optional<Suggestion> suggestion);
  // `match` as a suggestion writes it into the query: in backticks where the query needs them.
  // `match` is a schema name, so the answer is kept with the candidate lists for every later
  // validation, or, when they have no room left for it, per name for the rest of this one.
  std::string_view as_written(std::string_view match);
  const SchemaCandidates& candidates();
  // closest_match of `name` in `list`, searched once per name and list in a validation.
  std::optional<std::string_view> closest(std::string_view name, const Candidates& list);

  const Schema& schema_;
  const SchemaCandidates* candidates_ = nullptr;  // the shared lists, or own_candidates_
  std::unique_ptr<SchemaCandidates> own_candidates_;
  // The matches found in this validation, by list and name: the first few kept inline and
  // searched directly, more through a flat table of positions, so that remembering one costs no
  // allocation of its own for a short name.
  class Matches {
   public:
    const std::optional<std::string_view>* find(const Candidates* list,
                                                std::string_view name) const;
    void insert(const Candidates* list, std::string_view name,
                std::optional<std::string_view> match);

   private:
    struct Entry {
      const Candidates* list;
      std::string name;
      std::optional<std::string_view> match;
    };
    static std::size_t hash(const Candidates* list, std::string_view name);
    static constexpr std::size_t kDirectLimit = 4;
    InlineList<Entry, kDirectLimit> entries_;
    // Past kDirectLimit entries: entry + 1, or 0; a power of two, at most half full.
    std::vector<std::uint32_t> slots_;
  };
  Matches matches_;
  // Made on first use: most validations write every suggestion through the candidate lists.
  std::unique_ptr<std::unordered_map<std::string_view, std::string>> written_names_;
};

}  // namespace tessary
