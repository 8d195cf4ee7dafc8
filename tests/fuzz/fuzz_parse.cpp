// Fuzz target: the recognizer, the tree builder and the schema-free summary on arbitrary bytes.
// The entry points must return (never crash, hang or overrun), and they must agree on whether
// the text is a query. The recognizer's run that records no attempts must accept exactly what
// the recording run accepts, with the same token tree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <variant>

#include "parser/parse.hpp"
#include "parser/recognizer.hpp"
#include "parser/recognizer_internal.hpp"
#include "parser/summary.hpp"

namespace {

bool same_pairs(tessary::Pairs a, tessary::Pairs b) {
  for (;;) {
    std::optional<tessary::Pair> x = a.next();
    std::optional<tessary::Pair> y = b.next();
    if (!x || !y) return !x && !y;
    if (x->as_rule() != y->as_rule() || x->start() != y->start() || x->end() != y->end() ||
        !same_pairs(x->into_inner(), y->into_inner())) {
      return false;
    }
  }
}

void check_recognizer_runs(std::string_view text) {
  using tessary::recognizer_detail::Options;
  using tessary::recognizer_detail::parse_with;
  Options recording;
  recording.quick_first = false;
  Options quick;
  quick.quick_only = true;
  auto full = parse_with(tessary::Rule::cypher, text, recording);
  auto fast = parse_with(tessary::Rule::cypher, text, quick);
  const auto* full_pairs = std::get_if<tessary::Pairs>(&full);
  const auto* fast_pairs = std::get_if<tessary::Pairs>(&fast);
  if ((full_pairs == nullptr) != (fast_pairs == nullptr)) std::abort();
  if (full_pairs != nullptr && !same_pairs(*full_pairs, *fast_pairs)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto plain = tessary::parse(text);
  auto detailed = tessary::parse_with_detail(text);
  if (std::holds_alternative<tessary::CypherQuery>(plain) !=
      std::holds_alternative<tessary::CypherQuery>(detailed)) {
    std::abort();
  }
  if (tessary::summarize_query(text).is_valid !=
      std::holds_alternative<tessary::CypherQuery>(plain)) {
    std::abort();
  }
  check_recognizer_runs(text);
  return 0;
}
