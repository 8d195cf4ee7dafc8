#pragma once
// The automatic fix of a validated query: every error's suggestion applied to the query text.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics.hpp"

namespace tessary {

// Where the suggestion of one diagnostic applies: the name the finding is about is written at
// byte `offset` of the query text (the label or relationship type after its ":", or the property
// key), exactly as the suggestion's original shows it (without the ":").
struct SuggestionSite {
  std::size_t diagnostic;  // index in the list of diagnostics
  std::uint32_t offset;
};

// The query with the suggestions of all error diagnostics applied, or none when there is no
// error or one of the errors has no suggestion. Each suggestion replaces its name at its sites
// and nowhere else, so every other byte of the query stays as written; where several findings
// are about the same name, the replacement of the first one found is written.
std::optional<std::string> compute_fixed_query(std::string_view query,
                                               const std::vector<ValidationDiagnostic>& diagnostics,
                                               const std::vector<SuggestionSite>& sites);

}  // namespace tessary
