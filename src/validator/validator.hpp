#pragma once
// The validation pipeline: parse, semantic checks, result and automatic fix.
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

class Tessary {
 public:
  explicit Tessary(Schema schema) : schema_(std::move(schema)) {}
  const Schema& schema() const { return schema_; }
  // Never fails; safe to call from many threads at once.
  ValidationResult validate(std::string_view query) const;

 private:
  Schema schema_;
};

}  // namespace tessary
