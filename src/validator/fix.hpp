#pragma once
// The automatic fix of a validated query: every error's suggestion applied to the query text.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics.hpp"

namespace tessary {

// The query with the suggestions of all error diagnostics applied, or none when there is no
// error or one of the errors has no suggestion. Distinct (original, replacement) pairs are
// applied longest original first (equal lengths in the order found), each to the text the
// previous one produced.
std::optional<std::string> compute_fixed_query(std::string_view query,
                                               const std::vector<ValidationDiagnostic>& diagnostics);

// Replaces, left to right and without overlap, each occurrence of `original` that stands as a
// whole name: not inside a string literal or a comment, not preceded (unless `original` begins
// with ":") or followed by an ASCII letter, digit or "_" (nor preceded by the "$" of a
// parameter), and covering a backtick-quoted name either completely or not at all.
std::string replace_whole_names(std::string_view text, std::string_view original,
                                std::string_view replacement);

}  // namespace tessary
