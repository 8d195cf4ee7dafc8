#include "validator/functions.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

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
static_assert(kLongestName <= 16, "a name is looked up as two words");

// A name of at most 16 bytes as two words, its first byte in the low bits of the first.
struct Packed {
  std::uint64_t low = 0;
  std::uint64_t high = 0;
};

constexpr Packed pack(std::string_view name) {
  Packed p;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const std::uint64_t byte = static_cast<unsigned char>(name[i]);
    if (i < 8) {
      p.low |= byte << (8 * i);
    } else {
      p.high |= byte << (8 * (i - 8));
    }
  }
  return p;
}

constexpr std::size_t kSlotBits = 8;  // 256 slots for 73 names: short probe runs

constexpr std::size_t slot_of(const Packed& p) {
  return static_cast<std::size_t>(
      ((p.low ^ (p.high * 0x9E3779B97F4A7C15ull)) * 0xBF58476D1CE4E5B9ull) >> (64 - kSlotBits));
}

// The names packed, and an open-addressed index of them: each slot holds a table position + 1,
// or 0 when empty, and a name is looked for from the slot of its hash on up to an empty one.
constexpr auto kPacked = [] {
  std::array<Packed, kBuiltinFunctionCount> packed{};
  for (std::size_t i = 0; i < kFunctions.size(); ++i) packed[i] = pack(kFunctions[i].name);
  return packed;
}();

constexpr auto kSlots = [] {
  std::array<std::uint8_t, std::size_t{1} << kSlotBits> slots{};
  for (std::size_t i = 0; i < kFunctions.size(); ++i) {
    std::size_t at = slot_of(kPacked[i]);
    while (slots[at] != 0) at = (at + 1) % slots.size();
    slots[at] = static_cast<std::uint8_t>(i + 1);
  }
  return slots;
}();

const BuiltinFunction* find_packed(const Packed& name, std::size_t size) {
  for (std::size_t at = slot_of(name);; at = (at + 1) % kSlots.size()) {
    const std::size_t entry = kSlots[at];
    if (entry == 0) return nullptr;
    const Packed& p = kPacked[entry - 1];
    if (p.low == name.low && p.high == name.high && kFunctions[entry - 1].name.size() == size) {
      return &kFunctions[entry - 1];
    }
  }
}

const BuiltinFunction* find_lowered(std::string_view lowered) {
  if (lowered.empty() || lowered.size() > kLongestName) return nullptr;
  return find_packed(pack(lowered), lowered.size());
}

// The bytes of `word` that are ASCII capitals, as their 0x20 bits; the word must hold no byte
// of 0x80 or more.
std::uint64_t ascii_capitals(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  const std::uint64_t from_a = word + (0x80 - 'A') * kOnes;      // high bit: byte >= 'A'
  const std::uint64_t past_z = word + (0x80 - 'Z' - 1) * kOnes;  // high bit: byte > 'Z'
  return ((from_a & ~past_z) & (0x80 * kOnes)) >> 2;
}

}  // namespace

const std::array<BuiltinFunction, kBuiltinFunctionCount>& builtin_functions() { return kFunctions; }

const BuiltinFunction* lookup_function(std::string_view name) {
  if (name.empty()) return nullptr;
  if (name.size() > kLongestName) {
    const bool ascii = std::all_of(name.begin(), name.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    // Lower-casing may shorten a name that is not ASCII.
    return ascii ? nullptr : find_lowered(unicode_lower(name));
  }
  // Plain ASCII names (every name the grammar produces) are lower-cased a word at a time.
  char bytes[16] = {};
  std::memcpy(bytes, name.data(), name.size());
  Packed packed;
  std::memcpy(&packed.low, bytes, 8);
  std::memcpy(&packed.high, bytes + 8, 8);
  if constexpr (std::endian::native == std::endian::big) {
    packed.low = __builtin_bswap64(packed.low);
    packed.high = __builtin_bswap64(packed.high);
  }
  if (((packed.low | packed.high) & 0x8080808080808080ull) != 0) {
    return find_lowered(unicode_lower(name));
  }
  packed.low |= ascii_capitals(packed.low);
  packed.high |= ascii_capitals(packed.high);
  return find_packed(packed, name.size());
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
