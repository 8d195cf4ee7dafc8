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
RangeBounds build_range(Pair pair) {
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

Pattern build_pattern(Pair pair) {
  Pattern pattern;
  pattern.parts.reserve(pair.into_inner().count());
  for (Pair child : pair.into_inner()) {
    if (child.as_rule() == Rule::pattern_part) pattern.parts.push_back(build_pattern_part(child));
  }
  return pattern;
}

PatternPart build_pattern_part(Pair pair) {
  std::optional<Text> variable;
  std::optional<PatternElement> element;
  for (Pair child : pair.into_inner()) {
    if (child.as_rule() == Rule::variable) {
      variable.emplace(child.as_str());
    } else if (child.as_rule() == Rule::pattern_element) {
      element = build_pattern_element(child);
    }
  }
  if (!element) fail("Pattern part missing element");
  return PatternPart{std::move(variable), std::move(*element)};
}

PatternElement build_pattern_element(Pair pair) {
  Pairs rest = pair.into_inner();
  std::optional<Pair> first = rest.next();
  if (!first) fail("Pattern element missing node");
  if (first->as_rule() == Rule::shortest_path_call) {
    // Inside a pattern a shortest-path call reads as its bare node chain.
    rest = first->into_inner();
    first = rest.next();
    if (!first) fail("shortestPath missing node");
  }
  PatternElement element;
  element.chain.reserve(rest.count() / 2);
  element.start = build_node_pattern(*first);
  std::optional<RelationshipPattern> pending;
  for (Pair child : rest) {
    if (child.as_rule() == Rule::relationship_pattern) {
      pending = build_relationship_pattern(child);
    } else if (child.as_rule() == Rule::node_pattern) {
      NodePattern node = build_node_pattern(child);
      if (pending) {
        element.chain.push_back(PatternStep{std::move(*pending), std::move(node)});
        pending.reset();
      }
    }
  }
  return element;
}

NodePattern build_node_pattern(Pair pair) {
  NodePattern node;
  for (Pair child : pair.into_inner()) {
    switch (child.as_rule()) {
      case Rule::variable:
        node.variable.emplace(child.as_str());
        break;
      case Rule::node_labels:
        inner_names(child, Rule::label_name, node.labels, node.label_offsets);
        break;
      case Rule::properties:
        node.properties = Box<MapOrParam>(build_properties(child));
        break;
      default:
        break;
    }
  }
  return node;
}

RelationshipPattern build_relationship_pattern(Pair pair) {
  RelationshipPattern rel;
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
  for (Pair child : pair.into_inner()) {
    switch (child.as_rule()) {
      case Rule::variable:
        rel.variable.emplace(child.as_str());
        break;
      case Rule::rel_types:
        inner_names(child, Rule::rel_type_name, rel.rel_types, rel.rel_type_offsets);
        break;
      case Rule::range_literal:
        rel.range = Box<RangeBounds>(build_range(child));
        break;
      case Rule::properties:
        rel.properties = Box<MapOrParam>(build_properties(child));
        break;
      default:
        break;
    }
  }
  return rel;
}

MapOrParam build_properties(Pair pair) {
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
