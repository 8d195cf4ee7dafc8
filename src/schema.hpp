#pragma once
// The declared shape of a property graph: node labels with their property names, and
// relationship types with one source label, one target label and their property names.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "ordered.hpp"

namespace tessary {

using PropertySet = OrderedSet;

struct RelationshipDef {
  std::string source;
  std::string target;
  PropertySet properties;
};

// A failure to read the JSON form: the description followed by " at line {} column {}".
struct SchemaJsonError {
  std::string message;
  std::size_t line = 0;
  std::size_t column = 0;
};

// Appends `text` as a JSON string: a backslash before '"' and '\\', \b \t \n \f \r for those
// control characters, \u00xx (lowercase hex) for the other bytes below 0x20, every other byte
// (0x7F and non-ASCII UTF-8 included) copied unchanged.
void append_json_string(std::string& out, std::string_view text);

class Schema {
 public:
  OrderedMap<PropertySet> nodes;
  OrderedMap<RelationshipDef> relationships;

  // Sorted accessors (ascending byte order); the views live as long as the schema is unchanged.
  std::vector<std::string_view> node_labels() const;
  std::vector<std::string_view> rel_types() const;
  std::vector<std::string_view> node_properties(std::string_view label) const;
  std::vector<std::string_view> rel_properties(std::string_view rel_type) const;
  std::optional<std::pair<std::string_view, std::string_view>> rel_src_tgt(
      std::string_view rel_type) const;
  bool has_node_label(std::string_view label) const { return nodes.contains(label); }
  bool has_rel_type(std::string_view rel_type) const { return relationships.contains(rel_type); }

  // Insertions replace any earlier entry of the same name.
  void insert_node(std::string_view label, PropertySet properties);
  void insert_relationship(std::string_view rel_type, std::string_view source,
                           std::string_view target, PropertySet properties);
  // In-place access to an existing entry, or null.
  PropertySet* node_entry(std::string_view label) { return nodes.find(label); }
  RelationshipDef* rel_entry(std::string_view rel_type) { return relationships.find(rel_type); }

  // Compact JSON text in iteration order.
  std::string serialize() const;
  static std::variant<Schema, SchemaJsonError> deserialize(std::string_view json);
};

}  // namespace tessary
