#pragma once
// The table of built-in functions known to the validator: names, argument counts and whether a
// function aggregates.
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tessary {

struct BuiltinFunction {
  std::string_view name;  // lower case
  std::size_t min_args;
  std::optional<std::size_t> max_args;  // absent: no upper bound
  bool is_aggregate;
};

inline constexpr std::size_t kBuiltinFunctionCount = 73;

// Every built-in function, in table order.
const std::array<BuiltinFunction, kBuiltinFunctionCount>& builtin_functions();

// The entry whose name equals `name` after full Unicode lower-casing, or null. A dotted
// (namespaced) name never matches, as no table name contains a dot.
const BuiltinFunction* lookup_function(std::string_view name);

// Whether a call of this (lower-cased) function rejects string literal arguments: the numeric
// aggregates sum, avg, stdev, stdevp, percentilecont and percentiledisc.
bool is_numeric_aggregate(std::string_view lowered_name);

// The expected-count text of an arity message: "at least N", "N" or "N-M".
std::string expected_arg_count(const BuiltinFunction& function);

}  // namespace tessary
