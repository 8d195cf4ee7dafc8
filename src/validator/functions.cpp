#include "validator/functions.hpp"

#include <algorithm>
#include <cstdint>

#include "diagnostics.hpp"

namespace tessary {

namespace {

constexpr std::optional<std::size_t> kUnbounded = std::nullopt;

constexpr std::array<BuiltinFunction, kBuiltinFunctionCount> kFunctions{{
    {"count", 1, 1, true},
    {"collect", 1, 1, true},
    {"sum", 1, 1, true},
    {"avg", 1, 1, true},
    {"min", 1, 1, true},
    {"max", 1, 1, true},
    {"stdev", 1, 1, true},
    {"stdevp", 1, 1, true},
    {"percentilecont", 2, 2, true},
    {"percentiledisc", 2, 2, true},
    {"tolower", 1, 1, false},
    {"toupper", 1, 1, false},
    {"trim", 1, 1, false},
    {"ltrim", 1, 1, false},
    {"rtrim", 1, 1, false},
    {"replace", 3, 3, false},
    {"substring", 2, 3, false},
    {"left", 2, 2, false},
    {"right", 2, 2, false},
    {"split", 2, 2, false},
    {"reverse", 1, 1, false},
    {"tostring", 1, 1, false},
    {"abs", 1, 1, false},
    {"ceil", 1, 1, false},
    {"floor", 1, 1, false},
    {"round", 1, 2, false},
    {"sign", 1, 1, false},
    {"rand", 0, 0, false},
    {"tointeger", 1, 1, false},
    {"tofloat", 1, 1, false},
    {"sqrt", 1, 1, false},
    {"log", 1, 1, false},
    {"log10", 1, 1, false},
    {"exp", 1, 1, false},
    {"e", 0, 0, false},
    {"pi", 0, 0, false},
    {"sin", 1, 1, false},
    {"cos", 1, 1, false},
    {"tan", 1, 1, false},
    {"asin", 1, 1, false},
    {"acos", 1, 1, false},
    {"atan", 1, 1, false},
    {"atan2", 2, 2, false},
    {"radians", 1, 1, false},
    {"degrees", 1, 1, false},
    {"size", 1, 1, false},
    {"head", 1, 1, false},
    {"tail", 1, 1, false},
    {"last", 1, 1, false},
    {"range", 2, 3, false},
    {"keys", 1, 1, false},
    {"labels", 1, 1, false},
    {"nodes", 1, 1, false},
    {"relationships", 1, 1, false},
    {"properties", 1, 1, false},
    {"type", 1, 1, false},
    {"id", 1, 1, false},
    {"elementid", 1, 1, false},
    {"startnode", 1, 1, false},
    {"endnode", 1, 1, false},
    {"date", 0, 1, false},
    {"datetime", 0, 1, false},
    {"time", 0, 1, false},
    {"localtime", 0, 1, false},
    {"localdatetime", 0, 1, false},
    {"duration", 1, 1, false},
    {"point", 1, 1, false},
    {"distance", 2, 2, false},
    {"coalesce", 1, kUnbounded, false},
    {"randomuuid", 0, 0, false},
    {"timestamp", 0, 0, false},
    {"toboolean", 1, 1, false},
    {"exists", 1, 1, false},
}};

constexpr std::size_t kLongestName = [] {
  std::size_t longest = 0;
  for (const auto& f : kFunctions) longest = std::max(longest, f.name.size());
  return longest;
}();

// The table's positions grouped by name length: those of names of n bytes are
// kByLength[kLengthStarts[n]] ... kByLength[kLengthStarts[n + 1] - 1], in table order.
constexpr auto kLengthStarts = [] {
  std::array<std::uint8_t, kLongestName + 2> starts{};
  for (const auto& f : kFunctions) ++starts[f.name.size() + 1];
  for (std::size_t n = 1; n < starts.size(); ++n) starts[n] += starts[n - 1];
  return starts;
}();

constexpr auto kByLength = [] {
  std::array<std::uint8_t, kBuiltinFunctionCount> order{};
  auto next = kLengthStarts;
  for (std::size_t i = 0; i < kFunctions.size(); ++i) {
    order[next[kFunctions[i].name.size()]++] = static_cast<std::uint8_t>(i);
  }
  return order;
}();

const BuiltinFunction* find_lowered(std::string_view lowered) {
  if (lowered.empty() || lowered.size() > kLongestName) return nullptr;
  for (std::size_t k = kLengthStarts[lowered.size()]; k < kLengthStarts[lowered.size() + 1]; ++k) {
    const BuiltinFunction& f = kFunctions[kByLength[k]];
    if (f.name.front() == lowered.front() && f.name == lowered) return &f;
  }
  return nullptr;
}

}  // namespace

const std::array<BuiltinFunction, kBuiltinFunctionCount>& builtin_functions() { return kFunctions; }

const BuiltinFunction* lookup_function(std::string_view name) {
  const bool ascii = std::all_of(name.begin(), name.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (!ascii) return find_lowered(unicode_lower(name));
  // Plain ASCII names (every name the grammar produces) are lower-cased on the stack.
  if (name.size() > kLongestName) return nullptr;
  char buf[kLongestName];
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    buf[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return find_lowered(std::string_view(buf, name.size()));
}

bool is_numeric_aggregate(std::string_view lowered_name) {
  return lowered_name == "sum" || lowered_name == "avg" || lowered_name == "stdev" ||
         lowered_name == "stdevp" || lowered_name == "percentilecont" ||
         lowered_name == "percentiledisc";
}

std::string expected_arg_count(const BuiltinFunction& function) {
  if (!function.max_args) return "at least " + std::to_string(function.min_args);
  if (function.min_args == *function.max_args) return std::to_string(function.min_args);
  return std::to_string(function.min_args) + "-" + std::to_string(*function.max_args);
}

}  // namespace tessary
