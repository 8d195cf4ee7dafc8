// Fuzz target: the recognizer, the tree builder and the schema-free summary on arbitrary bytes.
// The entry points must return (never crash, hang or overrun), and they must agree on whether
// the text is a query.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <variant>

#include "parser/parse.hpp"
#include "parser/summary.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto plain = tessary::parse(text);
  auto detailed = tessary::parse_with_detail(text);
  if (std::holds_alternative<tessary::CypherQuery>(plain) !=
      std::holds_alternative<tessary::CypherQuery>(detailed)) {
    std::abort();
  }
  if (tessary::summarize_query(text).is_valid != std::holds_alternative<tessary::CypherQuery>(plain)) {
    std::abort();
  }
  return 0;
}
