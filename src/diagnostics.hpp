#pragma once
// The vocabulary of validation findings: codes, severities, diagnostics and suggestions, and the
// "did you mean" helpers.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
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
// The code's message template ("Unknown node label: :{}{}" ...); empty for ParseError.
std::string_view code_template(DiagnosticCode code);

// Replaces each "{}" of `tmpl`, in order, by the next argument (a missing argument gives "").
std::string fill_template(std::string_view tmpl, std::initializer_list<std::string_view> args);
// fill_template(code_template(code), args): the complete message of a finding.
//   format_message(DiagnosticCode::UnknownNodeLabel, {"Persn", label_hint(...)})
std::string format_message(DiagnosticCode code, std::initializer_list<std::string_view> args);

// Full Unicode lower-casing: each code point by its lower-case mapping (U+0130 becomes "i" +
// U+0307), a capital sigma at the end of a word by the final sigma; bytes that are not
// well-formed UTF-8 are kept as they are.
std::string unicode_lower(std::string_view text);

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

// A candidate list searched again and again: each candidate is lower-cased once, here.
class Candidates {
 public:
  Candidates() = default;
  explicit Candidates(std::vector<std::string_view> names);
  const std::vector<std::string_view>& names() const { return names_; }

 private:
  friend std::optional<std::string_view> closest_match(std::string_view name,
                                                       const Candidates& candidates);
  std::vector<std::string_view> names_;
  std::vector<std::string> lowered_;
};

// closest_match over the names of `candidates`, with the same result.
std::optional<std::string_view> closest_match(std::string_view name, const Candidates& candidates);
// ":name" -> ":match", "Replace :name with :match"; none without a match.
std::optional<Suggestion> label_suggestion(std::string_view name,
                                           const std::vector<std::string_view>& candidates);
// "name" -> "match", "Replace property 'name' with 'match'"; none without a match.
std::optional<Suggestion> property_suggestion(std::string_view name,
                                              const std::vector<std::string_view>& candidates);
// The same, with the fragments built from `name` as written but the match looked up for
// `lookup` (for instance the name without its enclosing backticks).
std::optional<Suggestion> label_suggestion(std::string_view name, std::string_view lookup,
                                           const std::vector<std::string_view>& candidates);
std::optional<Suggestion> property_suggestion(std::string_view name, std::string_view lookup,
                                              const std::vector<std::string_view>& candidates);
// ", did you mean :m?" / ", did you mean .m?" or the empty text.
std::string label_hint(std::string_view name, const std::vector<std::string_view>& candidates);
std::string property_hint(std::string_view name, const std::vector<std::string_view>& candidates);
// The suggestion and hint for a `match` that closest_match found for `name`.
Suggestion label_suggestion_for(std::string_view name, std::string_view match);
Suggestion property_suggestion_for(std::string_view name, std::string_view match);
std::string label_hint_for(std::string_view match);
std::string property_hint_for(std::string_view match);

}  // namespace tessary
