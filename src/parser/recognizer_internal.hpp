#pragma once
// Knobs of the recognizer that only tests and benchmarks turn: the memo of re-read rules can be
// switched off to run the plain algorithm, which must give exactly the same results.
#include <cstdint>
#include <string_view>
#include <variant>

#include "parser/pairs.hpp"
#include "parser/recognizer.hpp"
#include "parser/rule.hpp"

namespace tessary::recognizer_detail {

// Nesting levels a query may use: every `expression`, `regular_query` and `updating_clause`
// call that is active at once counts one level. Deeper text fails with a parse error that says
// so. At most a bounded number of rule frames stand between two counted calls, so this also
// bounds the stack the recognizer (and the builder that walks the same nesting) needs.
inline constexpr std::uint32_t kMaxNesting = 256;

struct Options {
  bool memoize = true;      // false: the plain algorithm, every rule re-read in full
  bool quick_first = true;  // false: record attempts from the start, in the one run
  // Tests: the run that records nothing alone; a text it refuses gives an error naming
  // `statement` at position 0, whatever the recording run would report.
  bool quick_only = false;
};

std::variant<Pairs, Error> parse_with(Rule rule, std::string_view input, const Options& options);

}  // namespace tessary::recognizer_detail
