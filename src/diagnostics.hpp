#pragma once
// The vocabulary of validation findings: codes, severities, diagnostics and suggestions, and the
// "did you mean" helpers.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessary {

enum class Severity : std::uint8_t { Error = 0, Warning = 1 };

// The 24 finding kinds, in the order of the code table (E603 follows E614).
enum class DiagnosticCode : std::uint8_t {
  ParseError,
  UnknownNodeLabel,
  UnknownNodeLabelInSet,
  UnknownNodeLabelInRemove,
  UnknownRelType,
  UnknownNodeProperty,
  UnknownRelProperty,
  UnknownNodePropertyOnVar,
  UnknownRelPropertyOnVar,
  WrongEndpointLabel,
  UnboundVariable,
  DuplicateProjectionName,
  AggregateStringArg,
  AggregateInForbiddenContext,
  PaginationTypeString,
  PaginationTypeBool,
  PaginationTypeNull,
  PaginationTypeFloat,
  WrongArity,
  CartesianProduct,
  UnknownFunction,
  DistinctOnNonAggregate,
  UnlabeledFullScan,
  UnboundedVarLength,
};

inline constexpr std::size_t kDiagnosticCodeCount = 24;

std::string_view code_str(DiagnosticCode code);   // "E101" ...
std::string_view code_name(DiagnosticCode code);  // "ParseError" ...
Severity code_severity(DiagnosticCode code);
std::string_view severity_str(Severity severity);  // "error" / "warning"

struct Suggestion {
  std::string original;
  std::string replacement;
  std::string description;
};

struct Position {
  std::uint32_t line;
  std::uint32_t column;
};

struct ValidationDiagnostic {
  DiagnosticCode code;
  Severity severity;
  std::string message;
  std::optional<Suggestion> suggestion;
  std::optional<Position> position;
};

// The candidate closest to `name` within edit distance 3, compared case-insensitively
// (candidates in ascending byte order make the tie-break alphabetical).
std::optional<std::string_view> closest_match(std::string_view name,
                                              const std::vector<std::string_view>& candidates);
std::optional<Suggestion> label_suggestion(std::string_view name,
                                           const std::vector<std::string_view>& candidates);
std::optional<Suggestion> property_suggestion(std::string_view name,
                                              const std::vector<std::string_view>& candidates);
// ", did you mean :m?" / ", did you mean .m?" or the empty text.
std::string label_hint(std::string_view name, const std::vector<std::string_view>& candidates);
std::string property_hint(std::string_view name, const std::vector<std::string_view>& candidates);

}  // namespace tessary
