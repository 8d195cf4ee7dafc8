// The validation pipeline: parse, run the semantic pass, assemble the result and the fix.
#include "validator/validator.hpp"

#include <utility>
#include <variant>

#include "deep_stack.hpp"
#include "parser/parse.hpp"
#include "validator/fix.hpp"
#include "validator/schema_candidates.hpp"
#include "validator/semantic.hpp"

namespace tessary {

struct Tessary::State {
  explicit State(Schema s) : schema(std::move(s)), candidates(schema) {}
  Schema schema;
  SchemaCandidates candidates;
};

namespace {

ValidationResult run_pipeline(const Schema& schema, const SchemaCandidates& candidates,
                              std::string_view query) {
  ValidationResult result;
  // The tree goes before the query text does.
  auto parsed = on_this_stack::parse_with_detail(query, SourceText::Viewed);
  if (auto* failure = std::get_if<ParseErrorDetail>(&parsed)) {
    std::optional<Position> position;
    if (failure->position) position = Position{failure->position->first, failure->position->second};
    result.is_valid = false;
    result.diagnostics.push_back(ValidationDiagnostic{
        DiagnosticCode::ParseError, Severity::Error, std::move(failure->message), {}, position});
    return result;
  }

  const CypherQuery& tree = std::get<CypherQuery>(parsed);
  SemanticValidator validator(schema, candidates);
  validator.validate_regular_query(tree.query);

  result.is_valid = validator.error_count == 0;
  result.fixed_query =
      compute_fixed_query(query, validator.diagnostics, validator.suggestion_sites);
  result.diagnostics = std::move(validator.diagnostics);
  return result;
}

}  // namespace

Tessary::Tessary(Schema schema) : state_(std::make_shared<const State>(std::move(schema))) {}

const Schema& Tessary::schema() const { return state_->schema; }

ValidationResult Tessary::validate(std::string_view query) const {
  // The checks recurse along the query's nesting as deeply as the parser does.
  return deep_stack::call([&] { return run_pipeline(state_->schema, state_->candidates, query); });
}

}  // namespace tessary
