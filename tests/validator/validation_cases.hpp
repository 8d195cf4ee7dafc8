#pragma once
// Shared harness of the validation-case tables: a row is a query that parses, every finding it
// must yield in the order found, and the automatically fixed query it must get; the check holds
// the row against everything the result says.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "validator/validator.hpp"

namespace tessary {

// One finding as "CODE message", followed by " [original -> replacement]" when it carries a
// suggestion.
inline std::string describe(const ValidationDiagnostic& d) {
  std::string out = std::string(code_str(d.code)) + " " + d.message;
  if (d.suggestion) out += " [" + d.suggestion->original + " -> " + d.suggestion->replacement + "]";
  return out;
}

// Every finding of a result, one per line, for failure messages.
inline std::string describe(const ValidationResult& result) {
  std::string out;
  for (const auto& d : result.diagnostics) out += describe(d) + "\n";
  return out.empty() ? "(no findings)\n" : out;
}

struct ValidationCase {
  std::string query;
  std::vector<std::string> findings;      // each as `describe` writes it, in the order found
  std::optional<std::string> fixed = {};  // the automatically fixed query
};

inline std::ostream& operator<<(std::ostream& os, const ValidationCase& c) { return os << c.query; }

// Checks the findings and the fix of a row, and that the result agrees with its findings: every
// finding has its code's severity, no position (only grammar errors have one), a suggestion
// exactly when its message has a hint, and a description naming both fragments of the
// suggestion; the error and warning lists hold the messages in order, and the query is valid
// exactly when no finding is an error.
inline void expect_validation(const Tessary& validator, const ValidationCase& c) {
  SCOPED_TRACE(c.query);
  const ValidationResult r = validator.validate(c.query);
  std::vector<std::string> found;
  std::vector<std::string> errors;
  std::vector<std::string> warnings;
  for (const auto& d : r.diagnostics) {
    found.push_back(describe(d));
    EXPECT_EQ(d.severity, code_severity(d.code)) << describe(d);
    EXPECT_FALSE(d.position.has_value()) << describe(d);
    // The hint and the suggestion come from the same closest name: both or neither.
    EXPECT_EQ(d.suggestion.has_value(), d.message.find(", did you mean ") != std::string::npos)
        << describe(d);
    if (d.suggestion) {
      const Suggestion& s = *d.suggestion;
      // Labels and relationship types carry their colon in both fragments; properties do not.
      const bool label = s.original.rfind(':', 0) == 0;
      EXPECT_EQ(s.description,
                label ? "Replace " + s.original + " with " + s.replacement
                      : "Replace property '" + s.original + "' with '" + s.replacement + "'")
          << describe(d);
    }
    (d.severity == Severity::Error ? errors : warnings).push_back(d.message);
  }
  EXPECT_EQ(found, c.findings);
  EXPECT_EQ(r.errors(), errors);
  EXPECT_EQ(r.semantic_errors(), errors);
  EXPECT_TRUE(r.syntax_errors().empty());
  EXPECT_EQ(r.warnings(), warnings);
  EXPECT_EQ(r.is_valid, errors.empty());
  EXPECT_EQ(r.fixed_query, c.fixed);
}

}  // namespace tessary
