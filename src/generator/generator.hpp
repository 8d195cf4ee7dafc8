#pragma once
// Random Cypher queries of 13 named types, filled from a schema's labels, relationship types and
// properties and from small fixed value pools. A seeded generator gives the same strings for the
// same schema and sequence of calls. A schema name that the query language does not take as a
// plain name is written in backticks, so every query parses (unless a name holds a backtick,
// which no form of name can).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "error.hpp"
#include "generator/random.hpp"
#include "ordered.hpp"
#include "schema.hpp"

namespace tessary {

class CypherGenerator {
 public:
  // The type names in the order supported_types() lists them.
  static constexpr std::array<std::string_view, 13> kQueryTypes = {
      "match_return",
      "match_where_return",
      "create",
      "merge",
      "aggregation",
      "match_relationship",
      "create_relationship",
      "match_set",
      "match_delete",
      "with_chain",
      "distinct_return",
      "order_by",
      "unwind",
  };

  // Takes its own copy of the schema. Without a seed the state comes from operating-system
  // entropy; if that fails the constructor throws std::runtime_error with the message
  // "from_os_rng failed: {}".
  explicit CypherGenerator(Schema schema, std::optional<std::uint64_t> seed = std::nullopt);

  // One query of the named type (exact, case-sensitive name), advancing the random state; or a
  // CypherError of kind Generator "Unknown query type: {}", detected before any draw.
  std::variant<std::string, CypherError> generate(std::string_view query_type);

  static std::vector<std::string> supported_types();

 private:
  const std::string& pick(const std::vector<std::string>& list);
  std::string_view choose_label();
  const std::vector<std::string>* props_of(std::string_view label) const;
  std::optional<std::string_view> pick_node_prop(std::string_view label);
  std::string maybe_limit();
  std::string gen_property_map(std::string_view label);
  std::string gen_scalar_value();
  std::string gen_string_value();
  std::string_view written(std::string_view name) const;

  std::vector<std::string> node_labels_;
  std::vector<std::string> rel_types_;
  Schema schema_;
  OrderedMap<std::vector<std::string>> node_props_;
  // The schema names that are written in backticks, with their written form; empty for a
  // schema of plain names.
  OrderedMap<std::string> quoted_;
  Rng rng_;
};

}  // namespace tessary
