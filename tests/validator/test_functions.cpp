#include "validator/functions.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace tessary {
namespace {

TEST(BuiltinFunctions, TableHasSeventyThreeUniqueLowerCaseEntriesInOrder) {
  const auto& table = builtin_functions();
  ASSERT_EQ(table.size(), 73u);
  EXPECT_EQ(table.front().name, "count");
  EXPECT_EQ(table[8].name, "percentilecont");
  EXPECT_EQ(table[10].name, "tolower");
  EXPECT_EQ(table[34].name, "e");
  EXPECT_EQ(table[68].name, "coalesce");
  EXPECT_EQ(table.back().name, "exists");
  std::set<std::string_view> seen;
  for (const auto& f : table) {
    EXPECT_TRUE(seen.insert(f.name).second) << f.name;
    for (char c : f.name) EXPECT_FALSE(c >= 'A' && c <= 'Z') << f.name;
    if (f.max_args) {
      EXPECT_LE(f.min_args, *f.max_args) << f.name;
    }
  }
  // The first ten entries are exactly the aggregates.
  for (std::size_t i = 0; i < table.size(); ++i) EXPECT_EQ(table[i].is_aggregate, i < 10) << table[i].name;
  // coalesce is the only function without an upper bound.
  for (const auto& f : table) EXPECT_EQ(!f.max_args.has_value(), f.name == "coalesce") << f.name;
}

struct ArityCase {
  const char* name;
  std::size_t min;
  std::optional<std::size_t> max;
  bool aggregate;
};

TEST(BuiltinFunctions, ArityAndAggregateFlags) {
  const ArityCase cases[] = {
      {"count", 1, 1, true},        {"percentiledisc", 2, 2, true}, {"stdevp", 1, 1, true},
      {"replace", 3, 3, false},     {"substring", 2, 3, false},     {"round", 1, 2, false},
      {"rand", 0, 0, false},        {"pi", 0, 0, false},            {"range", 2, 3, false},
      {"date", 0, 1, false},        {"localdatetime", 0, 1, false}, {"duration", 1, 1, false},
      {"distance", 2, 2, false},    {"coalesce", 1, std::nullopt, false},
      {"randomuuid", 0, 0, false},  {"exists", 1, 1, false},        {"atan2", 2, 2, false},
  };
  for (const auto& c : cases) {
    const BuiltinFunction* f = lookup_function(c.name);
    ASSERT_NE(f, nullptr) << c.name;
    EXPECT_EQ(f->min_args, c.min) << c.name;
    EXPECT_EQ(f->max_args, c.max) << c.name;
    EXPECT_EQ(f->is_aggregate, c.aggregate) << c.name;
  }
}

TEST(BuiltinFunctions, LookupIgnoresLetterCaseButNotNamespaces) {
  struct Case {
    std::string name;
    const char* found;  // null: not found
  } cases[] = {
      {"toLower", "tolower"},
      {"TOLOWER", "tolower"},
      {"percentileCont", "percentilecont"},
      {"ElementId", "elementid"},
      {"E", "e"},
      // Kelvin sign lower-cases to an ASCII k.
      {"\xE2\x84\xAA" "eys", "keys"},
      // Dotted capital I lower-cases to i plus a combining dot, which is not "id".
      {"\xC4\xB0" "d", nullptr},
      {"S\xC3\x9A" "M", nullptr},  // SÚM
      {"\xE2\x84\xAA" "EYS", "keys"},
      {"my.text.join", nullptr},
      {"apoc.count", nullptr},
      {"math.sum", nullptr},
      {"count ", nullptr},
      {"`count`", nullptr},
      {"", nullptr},
      {"percentilecontx", nullptr},
      {"shortestPath", nullptr},
  };
  for (const auto& c : cases) {
    const BuiltinFunction* f = lookup_function(c.name);
    if (c.found == nullptr) {
      EXPECT_EQ(f, nullptr) << c.name;
    } else {
      ASSERT_NE(f, nullptr) << c.name;
      EXPECT_EQ(f->name, c.found) << c.name;
    }
  }
}

TEST(BuiltinFunctions, ExpectedCountTexts) {
  EXPECT_EQ(expected_arg_count(*lookup_function("coalesce")), "at least 1");
  EXPECT_EQ(expected_arg_count(*lookup_function("pi")), "0");
  EXPECT_EQ(expected_arg_count(*lookup_function("replace")), "3");
  EXPECT_EQ(expected_arg_count(*lookup_function("substring")), "2-3");
  EXPECT_EQ(expected_arg_count(*lookup_function("round")), "1-2");
  EXPECT_EQ(expected_arg_count(*lookup_function("date")), "0-1");
}

TEST(BuiltinFunctions, NumericAggregates) {
  for (const auto& f : builtin_functions()) {
    bool numeric = f.name == "sum" || f.name == "avg" || f.name == "stdev" || f.name == "stdevp" ||
                   f.name == "percentilecont" || f.name == "percentiledisc";
    EXPECT_EQ(is_numeric_aggregate(f.name), numeric) << f.name;
  }
  EXPECT_FALSE(is_numeric_aggregate("count"));
  EXPECT_FALSE(is_numeric_aggregate("max"));
}

}  // namespace
}  // namespace tessary
