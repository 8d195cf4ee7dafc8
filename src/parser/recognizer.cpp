// The recursive-descent recognizer of the Cypher grammar: the grammar as written
// (recognizer_grammar.hpp), run by the recording run, compiled as one unit with the combinators
// and wrappers it is built from (recognizer_combinators.hpp) and the inline part of the engine
// (recognizer_engine.hpp), so that the calls between them can be inlined. The run that records
// nothing runs the same grammar with its shortcuts (recognizer_quick.cpp); the rest of the
// engine, with the entry point, is recognizer_engine.cpp; the parse error is
// recognizer_error.cpp.
#include "parser/recognizer_grammar.hpp"

namespace tessary::recognizer_detail {
namespace {

struct RecordingRun {
  static constexpr bool kRecords = true;
};

}  // namespace

const RuleTable kRecordingRules = {
#define TESSARY_RULE(name, display, kind) &Grammar<RecordingRun>::name,
#include "parser/rules.def"
};

}  // namespace tessary::recognizer_detail

namespace tessary {

bool CypherParser::is_reserved_word(std::string_view word) {
  return word.size() <= 10 &&
         recognizer_detail::reserved_word(word.data(), static_cast<std::uint32_t>(word.size()));
}

}  // namespace tessary
