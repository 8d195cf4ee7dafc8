// Fuzz target: the schema JSON reader on arbitrary bytes. A schema it accepts must write
// back to JSON that reads again into the same schema, and writing that gives the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

#include "schema.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view json(reinterpret_cast<const char*>(data), size);
  auto first = tessary::Schema::deserialize(json);
  auto* schema = std::get_if<tessary::Schema>(&first);
  if (schema == nullptr) return 0;
  std::string text = schema->serialize();
  auto second = tessary::Schema::deserialize(text);
  auto* again = std::get_if<tessary::Schema>(&second);
  if (again == nullptr) std::abort();
  if (again->serialize() != text) std::abort();
  return 0;
}
