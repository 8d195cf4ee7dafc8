// The built-in functions through what their table decides: which names are known (in any
// letter case, never with a namespace), how many arguments each takes and what a wrong count
// reports, which ones aggregate and which refuse string literals.
#include "validator/functions.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "validation_cases.hpp"
#include "validator/validator.hpp"

namespace tessary {
namespace {

// Every built-in function, grouped by the argument counts it accepts.
struct ArityGroup {
  std::string expected;  // the expected-count text of the arity message
  std::size_t min;
  std::optional<std::size_t> max;  // absent: no upper bound
  std::vector<std::string> names;
};

const std::vector<ArityGroup>& arity_groups() {
  static const std::vector<ArityGroup> groups = {
      {"0", 0, 0, {"rand", "e", "pi", "randomuuid", "timestamp"}},
      {"0-1", 0, 1, {"date", "datetime", "time", "localtime", "localdatetime"}},
      {"1", 1, 1, {"count", "collect",   "sum",       "avg",       "min",           "max",
                   "stdev", "stdevp",    "tolower",   "toupper",   "trim",          "ltrim",
                   "rtrim", "reverse",   "tostring",  "abs",       "ceil",          "floor",
                   "sign",  "tointeger", "tofloat",   "sqrt",      "log",           "log10",
                   "exp",   "sin",       "cos",       "tan",       "asin",          "acos",
                   "atan",  "radians",   "degrees",   "size",      "head",          "tail",
                   "last",  "keys",      "labels",    "nodes",     "relationships", "properties",
                   "type",  "id",        "elementid", "startnode", "endnode",       "duration",
                   "point", "toboolean", "exists"}},
      {"1-2", 1, 2, {"round"}},
      {"2",
       2,
       2,
       {"percentilecont", "percentiledisc", "left", "right", "split", "atan2", "distance"}},
      {"2-3", 2, 3, {"substring", "range"}},
      {"3", 3, 3, {"replace"}},
      {"at least 1", 1, std::nullopt, {"coalesce"}},
  };
  return groups;
}

const std::set<std::string> kAggregates = {
    "count",  "collect",        "sum",           "avg", "min", "max", "stdev",
    "stdevp", "percentilecont", "percentiledisc"};
const std::set<std::string> kNumericAggregates = {
    "sum", "avg", "stdev", "stdevp", "percentilecont", "percentiledisc"};

// "name(arg, arg, ...)" with `count` arguments, DISTINCT before the first when asked.
std::string call(const std::string& name, std::size_t count, const std::string& arg = "1",
                 bool distinct = false) {
  std::string out = name + "(" + (distinct ? "DISTINCT " : "");
  for (std::size_t i = 0; i < count; ++i) out += (i ? ", " : "") + arg;
  return out + ")";
}

std::string arity_finding(const ArityGroup& group, const std::string& name, std::size_t count) {
  return "E603 Function " + name + "() expects " + group.expected + " argument(s), got " +
         std::to_string(count);
}

bool accepts(const ArityGroup& group, std::size_t count) {
  return count >= group.min && (!group.max || count <= *group.max);
}

const Tessary& validator() {
  static const Tessary instance([] {
    Schema schema;
    schema.insert_node("Person", PropertySet{"name"});
    return schema;
  }());
  return instance;
}

// The known names are exactly these, each found in any letter case, and the table holds each
// once.
TEST(BuiltinFunctions, KnownNamesAreExactlyTheListedOnes) {
  std::set<std::string> known;
  for (const ArityGroup& group : arity_groups()) {
    for (const std::string& name : group.names) {
      EXPECT_TRUE(known.insert(name).second) << name;
      const BuiltinFunction* f = lookup_function(name);
      ASSERT_NE(f, nullptr) << name;
      EXPECT_EQ(f->name, name);
      std::string upper = name;
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      EXPECT_EQ(lookup_function(upper), f) << upper;
    }
  }
  EXPECT_EQ(known.size(), 73u);
  EXPECT_EQ(builtin_functions().size(), known.size());
  for (const BuiltinFunction& f : builtin_functions()) {
    EXPECT_EQ(lookup_function(f.name), &f) << f.name;
    EXPECT_EQ(known.count(std::string(f.name)), 1u) << f.name;
  }
}

// A call with one argument too few or too many is reported with the function's expected-count
// text; the smallest and the largest accepted counts (a few more than the least for coalesce)
// are not.
TEST(BuiltinFunctions, ArgumentCountsOfEveryFunction) {
  for (const ArityGroup& group : arity_groups()) {
    for (const std::string& name : group.names) {
      EXPECT_EQ(expected_arg_count(*lookup_function(name)), group.expected) << name;
      std::vector<std::size_t> counts = {group.min, group.max.value_or(group.min + 4)};
      if (group.min > 0) counts.push_back(group.min - 1);
      if (group.max) counts.push_back(*group.max + 1);
      for (std::size_t n : counts) {
        ValidationCase c{"RETURN " + call(name, n), {}};
        if (!accepts(group, n)) c.findings.push_back(arity_finding(group, name, n));
        expect_validation(validator(), c);
      }
    }
  }
}

// Aggregates are refused in a MATCH's WHERE, and DISTINCT is meaningful for them only.
TEST(BuiltinFunctions, AggregatesAreRefusedInMatchWhereAndTakeDistinct) {
  const std::string refused =
      "E602 Aggregate function not allowed in MATCH WHERE context; aggregates are only valid in "
      "RETURN, WITH, or ORDER BY";
  for (const ArityGroup& group : arity_groups()) {
    for (const std::string& name : group.names) {
      const bool aggregate = kAggregates.count(name) != 0;
      ValidationCase in_where{"MATCH (n:Person) WHERE " + call(name, group.min) + " RETURN n", {}};
      if (aggregate) in_where.findings.push_back(refused);
      expect_validation(validator(), in_where);

      const std::size_t n = std::max<std::size_t>(group.min, 1);
      ValidationCase with_distinct{"RETURN " + call(name, n, "1", true), {}};
      if (!accepts(group, n)) with_distinct.findings.push_back(arity_finding(group, name, n));
      if (!aggregate) {
        with_distinct.findings.push_back("W104 DISTINCT is used with non-aggregate function " +
                                         name +
                                         "(); DISTINCT only has meaning with aggregate functions");
      }
      expect_validation(validator(), with_distinct);
    }
  }
}

// String literal arguments are refused by the numeric aggregates only, once per argument.
TEST(BuiltinFunctions, StringLiteralsAreRefusedByNumericAggregatesOnly) {
  for (const ArityGroup& group : arity_groups()) {
    for (const std::string& name : group.names) {
      const std::size_t n = std::max<std::size_t>(group.min, 1);
      ValidationCase c{"RETURN " + call(name, n, "'x'"), {}};
      if (!accepts(group, n)) c.findings.push_back(arity_finding(group, name, n));
      if (kNumericAggregates.count(name) != 0) {
        for (std::size_t i = 0; i < n; ++i) {
          c.findings.push_back("E601 Aggregate function " + name +
                               "() received a string literal; expected a numeric expression");
        }
      }
      expect_validation(validator(), c);
    }
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
      {"\xE2\x84\xAA"
       "eys",
       "keys"},
      // Dotted capital I lower-cases to i plus a combining dot, which is not "id".
      {"\xC4\xB0"
       "d",
       nullptr},
      {"S\xC3\x9A"
       "M",
       nullptr},  // SÚM
      {"\xE2\x84\xAA"
       "EYS",
       "keys"},
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
