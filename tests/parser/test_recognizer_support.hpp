#pragma once
// Helpers for the recognizer tests: compact printouts of token trees and errors.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "parser/recognizer.hpp"
#include "parser/recognizer_internal.hpp"

namespace tessary::testing_support {

inline std::variant<Pairs, Error> run(std::string_view q, bool memoize = true) {
  recognizer_detail::Options options;
  options.memoize = memoize;
  options.quick_first = memoize;
  return recognizer_detail::parse_with(Rule::cypher, q, options);
}

// The run that records no attempts, alone: its tree, or an error for any text it refuses.
inline std::variant<Pairs, Error> run_quick_only(std::string_view q) {
  recognizer_detail::Options options;
  options.quick_only = true;
  return recognizer_detail::parse_with(Rule::cypher, q, options);
}

// "rule[start,end](inner ...)" for every pair, in text order.
inline void print_pairs(Pairs pairs, std::string& out) {
  bool first = true;
  for (Pair p : pairs) {
    if (!first) out += ' ';
    first = false;
    out += rule_name(p.as_rule());
    out += '[' + std::to_string(p.start()) + ',' + std::to_string(p.end()) + ']';
    Pairs inner = p.into_inner();
    if (!inner.empty()) {
      out += '(';
      print_pairs(inner, out);
      out += ')';
    }
  }
}

inline std::string tree(const Pairs& pairs) {
  std::string out;
  print_pairs(pairs, out);
  return out;
}

// "line:column expected-list" or "ok".
inline std::string outcome(const std::variant<Pairs, Error>& r) {
  if (std::holds_alternative<Pairs>(r)) return "ok";
  const Error& e = std::get<Error>(r);
  return std::to_string(e.line) + ":" + std::to_string(e.column) + " " + e.message();
}

// The first pair of `rule` in a depth-first walk.
inline std::optional<Pair> find(Pairs pairs, Rule rule) {
  for (Pair p : pairs) {
    if (p.as_rule() == rule) return p;
    if (auto hit = find(p.into_inner(), rule)) return hit;
  }
  return std::nullopt;
}

// The rule names of a pair's inner pairs, separated by spaces.
inline std::string kids(const Pair& p) {
  std::string out;
  for (Pair k : p.into_inner()) {
    if (!out.empty()) out += ' ';
    out += rule_name(k.as_rule());
  }
  return out;
}

}  // namespace tessary::testing_support
