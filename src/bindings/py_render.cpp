// The three text renderings of a schema: an aligned listing, Markdown tables and inline Cypher
// patterns. All read the schema through its sorted accessors only.
#include <string>
#include <string_view>
#include <vector>

#include "bindings/py_schema.hpp"

namespace tessary::py {
namespace {

constexpr std::size_t kNameWidth = 26;

std::string joined(const std::vector<std::string_view>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i != 0) out += ", ";
    out += names[i];
  }
  return out;
}

// Number of characters (Unicode scalar values) of UTF-8 text.
std::size_t char_count(std::string_view text) {
  std::size_t count = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

// `name` left-aligned and filled with spaces to kNameWidth characters; never cut.
void append_padded(std::string& out, std::string_view name) {
  out += name;
  const std::size_t width = char_count(name);
  if (width < kNameWidth) out.append(kNameWidth - width, ' ');
}

}  // namespace

std::string render_prompt(const Schema& schema) {
  std::string out = "Graph Schema\n============\n\nNodes\n-----\n";
  for (std::string_view label : schema.node_labels()) {
    auto properties = schema.node_properties(label);
    out += "  :";
    if (properties.empty()) {
      out += label;
    } else {
      append_padded(out, label);
      out += "  ";
      out += joined(properties);
    }
    out += '\n';
  }
  out += "\nRelationships\n-------------\n";
  for (std::string_view rel_type : schema.rel_types()) {
    auto endpoints = schema.rel_src_tgt(rel_type);
    if (!endpoints) continue;
    auto properties = schema.rel_properties(rel_type);
    out += "  :";
    append_padded(out, rel_type);
    out += "  (";
    out += endpoints->first;
    out += ")-->(";
    out += endpoints->second;
    out += ")";
    if (!properties.empty()) {
      out += "   ";
      out += joined(properties);
    }
    out += '\n';
  }
  return out;
}

std::string render_markdown(const Schema& schema) {
  constexpr std::string_view kNone = "\xE2\x80\x94";  // U+2014 EM DASH
  std::string out = "### Nodes\n\n| Label | Properties |\n|---|---|\n";
  for (std::string_view label : schema.node_labels()) {
    auto properties = schema.node_properties(label);
    out += "| :";
    out += label;
    out += " | ";
    out += properties.empty() ? std::string(kNone) : joined(properties);
    out += " |\n";
  }
  // U+2192 RIGHTWARDS ARROW between source and target.
  out +=
      "\n### Relationships\n\n| Type | Source \xE2\x86\x92 Target | Properties |\n|---|---|---|\n";
  for (std::string_view rel_type : schema.rel_types()) {
    auto endpoints = schema.rel_src_tgt(rel_type);
    if (!endpoints) continue;
    auto properties = schema.rel_properties(rel_type);
    out += "| :";
    out += rel_type;
    out += " | :";
    out += endpoints->first;
    out += " \xE2\x86\x92 :";
    out += endpoints->second;
    out += " | ";
    out += properties.empty() ? std::string(kNone) : joined(properties);
    out += " |\n";
  }
  return out;
}

std::string render_cypher_context(const Schema& schema) {
  std::string out = "// Node labels and their properties\n";
  for (std::string_view label : schema.node_labels()) {
    auto properties = schema.node_properties(label);
    out += "(:";
    out += label;
    if (!properties.empty()) {
      out += " {";
      out += joined(properties);
      out += "}";
    }
    out += ")\n";
  }
  out += "\n// Relationship types\n";
  for (std::string_view rel_type : schema.rel_types()) {
    auto endpoints = schema.rel_src_tgt(rel_type);
    if (!endpoints) continue;
    auto properties = schema.rel_properties(rel_type);
    out += "(:";
    out += endpoints->first;
    out += ")-[:";
    out += rel_type;
    if (!properties.empty()) {
      out += " {";
      out += joined(properties);
      out += "}";
    }
    out += "]->(:";
    out += endpoints->second;
    out += ")\n";
  }
  return out;
}

}  // namespace tessary::py
