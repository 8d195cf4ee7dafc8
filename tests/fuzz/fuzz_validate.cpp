// Fuzz target: the whole validation pipeline (parse, semantic checks, automatic fix) on
// arbitrary bytes against a small schema. It must return a result for every input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "schema.hpp"
#include "validator/validator.hpp"

namespace {

const tessary::Tessary& validator() {
  static const tessary::Tessary instance([] {
    tessary::Schema schema;
    schema.insert_node("Person", tessary::PropertySet{"name", "age"});
    schema.insert_node("Movie", tessary::PropertySet{"title"});
    schema.insert_relationship("ACTED_IN", "Person", "Movie", tessary::PropertySet{"role"});
    return schema;
  }());
  return instance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  tessary::ValidationResult result = validator().validate(text);
  // A valid result carries no errors, and every error is one of the two kinds.
  if (result.is_valid && !result.errors().empty()) std::abort();
  if (result.errors().size() != result.syntax_errors().size() + result.semantic_errors().size()) {
    std::abort();
  }
  // Validating the fixed query again must also return.
  if (result.fixed_query) (void)validator().validate(*result.fixed_query);
  return 0;
}
