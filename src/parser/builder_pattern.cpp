// Pattern steps of the builder.
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "parser/builder.hpp"
#include "parser/builder_text.hpp"
#include "parser/rule.hpp"

namespace tessary::builder {
namespace {

// The bounds of a variable-length range are its integer literal pairs, read as integer
// literals are everywhere (decimal, 0x, 0o; a value out of the signed 64-bit range reads as
// 0), so whitespace and comments inside the range do not matter. A single bound is the exact
// length unless ".." follows it. A bound that is written is always present.
RangeBounds build_range(const Pair& pair) {
  RangeBounds range;
  std::optional<Pair> lower;
  std::optional<Pair> upper;
  for (Pair child : pair.into_inner()) {
    if (child.as_rule() != Rule::integer_literal) continue;
    if (!lower) {
      lower = child;
    } else if (!upper) {
      upper = child;
    }
  }
  if (!lower) return range;
  auto read = [](const Pair& bound) { return integer_literal_value(bound.as_str()); };
  range.min = read(*lower);
  if (upper) {
    range.max = read(*upper);
  } else if (!has_word(gap_text(pair, lower->end(), nullptr), "..")) {
    range.max = range.min;
  }
  return range;
}

}  // namespace

void build_pattern(const Pair& pair, Pattern& pattern) {
  pattern.parts.reserve(pair.into_inner().count());
  for (Pair child : pair.into_inner()) {
    if (child.as_rule() == Rule::pattern_part) {
      build_pattern_part(child, pattern.parts.emplace_back());
    }
  }
}

void build_pattern_part(const Pair& pair, PatternPart& part) {
  bool has_element = false;
  for (Pair child : pair.into_inner()) {
    if (child.as_rule() == Rule::variable) {
      part.variable.emplace(child.as_str());
    } else if (child.as_rule() == Rule::pattern_element) {
      build_pattern_element(child, part.element);
      has_element = true;
    }
  }
  if (!has_element) fail("Pattern part missing element");
}

void build_pattern_element(const Pair& pair, PatternElement& element) {
  Pairs rest = pair.into_inner();
  std::optional<Pair> first = rest.next();
  if (!first) fail("Pattern element missing node");
  if (first->as_rule() == Rule::shortest_path_call) {
    // Inside a pattern a shortest-path call reads as its bare node chain.
    rest = first->into_inner();
    first = rest.next();
    if (!first) fail("shortestPath missing node");
  }
  build_node_pattern(*first, element.start);
  build_pattern_steps(rest, element);
}

void build_pattern_steps(const Pairs& steps, PatternElement& element) {
  // The grammar alternates relationships and nodes: each relationship opens a step that the
  // node after it completes.
  element.chain.reserve(steps.count() / 2);
  bool open = false;  // the last step has its relationship and waits for its node
  for (Pair child : steps) {
    if (child.as_rule() == Rule::relationship_pattern) {
      build_relationship_pattern(child, element.chain.emplace_back().relationship);
      open = true;
    } else if (child.as_rule() == Rule::node_pattern && open) {
      build_node_pattern(child, element.chain.back().node);
      open = false;
    }
  }
}

void build_node_pattern(const Pair& pair, NodePattern& node) {
  const Building& b = build_thread().building;
  for (Pair child : pair.into_inner()) {
    switch (child.as_rule()) {
      case Rule::variable:
        node.variable.emplace(child.as_str(), b);
        break;
      case Rule::node_labels:
        inner_names(child, Rule::label_name, node.labels, node.label_offsets, b);
        break;
      case Rule::properties:
        node.properties = Box<MapOrParam>::made_by(b, [&] { return build_properties(child); });
        break;
      default:
        break;
    }
  }
}

void build_relationship_pattern(const Pair& pair, RelationshipPattern& rel) {
  std::string_view text = pair.as_str();
  if (text.empty()) {
    rel.direction = RelationshipDirection::Both;
  } else if (text.front() == '<') {
    rel.direction = RelationshipDirection::Left;
  } else if (text.back() == '>') {
    rel.direction = RelationshipDirection::Right;
  } else {
    rel.direction = RelationshipDirection::Both;
  }
  const Building& b = build_thread().building;
  for (Pair child : pair.into_inner()) {
    switch (child.as_rule()) {
      case Rule::variable:
        rel.variable.emplace(child.as_str(), b);
        break;
      case Rule::rel_types:
        inner_names(child, Rule::rel_type_name, rel.rel_types, rel.rel_type_offsets, b);
        break;
      case Rule::range_literal:
        rel.range = Box<RangeBounds>::made_by(b, [&] { return build_range(child); });
        break;
      case Rule::properties:
        rel.properties = Box<MapOrParam>::made_by(b, [&] { return build_properties(child); });
        break;
      default:
        break;
    }
  }
}

MapOrParam build_properties(const Pair& pair) {
  std::optional<Pair> form = pair.into_inner().peek();
  if (!form) fail("Empty properties");
  if (form->as_rule() == Rule::map_literal) {
    return MapOrParam{MapOrParam::Map{build_map_literal(*form)}};
  }
  if (form->as_rule() == Rule::parameter) {
    return MapOrParam{MapOrParam::Param{Text(without_dollars(form->as_str()))}};
  }
  fail("Unknown properties type");
}

}  // namespace tessary::builder
