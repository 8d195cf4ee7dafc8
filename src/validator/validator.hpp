#pragma once
// The validation pipeline: parse, semantic checks, result and automatic fix.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics.hpp"
#include "schema.hpp"

namespace tessary {

struct ValidationResult {
  bool is_valid = true;
  std::vector<std::string> errors;
  std::vector<std::string> syntax_errors;
  std::vector<std::string> semantic_errors;
  std::vector<std::string> warnings;
  std::optional<std::string> fixed_query;
  std::vector<ValidationDiagnostic> diagnostics;
};

class SchemaCandidates;

class Tessary {
 public:
  explicit Tessary(Schema schema);
  const Schema& schema() const;
  // Never fails; safe to call from many threads at once.
  ValidationResult validate(std::string_view query) const;

 private:
  // The schema and the candidate lists of its suggestions, indexed as searches first need them
  // and shared by every validation (copies of the validator share them too: nothing in them
  // changes but the lists made on first use).
  struct State;
  std::shared_ptr<const State> state_;
};

}  // namespace tessary
