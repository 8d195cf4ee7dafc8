#include "validator/functions.hpp"

#include <utf8proc.h>

#include <algorithm>

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

const BuiltinFunction* find_lowered(std::string_view lowered) {
  for (const auto& f : kFunctions) {
    if (f.name == lowered) return &f;
  }
  return nullptr;
}

void append_utf8(std::string& out, utf8proc_int32_t cp) {
  utf8proc_uint8_t buf[4];
  auto n = utf8proc_encode_char(cp, buf);
  out.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
}

}  // namespace

const std::array<BuiltinFunction, kBuiltinFunctionCount>& builtin_functions() { return kFunctions; }

std::string lower_full(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  std::size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c));
      ++i;
      continue;
    }
    utf8proc_int32_t cp = 0;
    auto n = utf8proc_iterate(bytes + i, static_cast<utf8proc_ssize_t>(text.size() - i), &cp);
    if (n <= 0) {  // not valid UTF-8: keep the byte
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    if (cp == 0x0130) {
      // The one unconditional lower-case mapping to more than one character: dotted capital I
      // becomes i followed by a combining dot above.
      out.push_back('i');
      append_utf8(out, 0x0307);
    } else {
      append_utf8(out, utf8proc_tolower(cp));
    }
    i += static_cast<std::size_t>(n);
  }
  return out;
}

const BuiltinFunction* lookup_function(std::string_view name) {
  // Plain ASCII names (every name the grammar produces) are lower-cased on the stack.
  if (name.size() <= kLongestName &&
      std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    char buf[kLongestName];
    for (std::size_t i = 0; i < name.size(); ++i) {
      char c = name[i];
      buf[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return find_lowered(std::string_view(buf, name.size()));
  }
  return find_lowered(lower_full(name));
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
