// How a name is written in a query: plain when the grammar reads it whole as a plain name,
// otherwise in backticks; a name holding a backtick stays as it is. Every written form that is
// not left as it is must be read back by the grammar as exactly that one name.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "parser/names.hpp"
#include "parser/recognizer.hpp"

namespace tessary {
namespace {

struct NameCase {
  const char* name;
  const char* written;
};

constexpr NameCase kNames[] = {
    // Plain words, including words that merely begin or end with a reserved word.
    {"Person", "Person"},
    {"_x", "_x"},
    {"match_1", "match_1"},
    {"orders", "orders"},
    {"end_date", "end_date"},
    {"_match", "_match"},
    {"nullable", "nullable"},
    {"TrueValue", "TrueValue"},
    {"descendings", "descendings"},  // one letter longer than the longest reserved word
    {"x1", "x1"},
    // Reserved words, in any letter case, the longest and the shortest among them.
    {"Order", "`Order`"},
    {"oRdEr", "`oRdEr`"},
    {"IN", "`IN`"},
    {"from", "`from`"},
    {"count", "`count`"},
    {"ends", "`ends`"},
    {"asc", "`asc`"},
    {"DESCENDING", "`DESCENDING`"},
    {"do", "`do`"},
    {"null", "`null`"},
    // Not an ASCII word.
    {"", "``"},
    {"1st", "`1st`"},
    {"My Label", "`My Label`"},
    {"HAS-PART", "`HAS-PART`"},
    {"Café", "`Café`"},
    {"été", "`été`"},
    {"a.b", "`a.b`"},
    {"line\nbreak", "`line\nbreak`"},
    // No form can hold a backtick.
    {"a`b", "a`b"},
    {"`Order`", "`Order`"},
};

TEST(NameAsWritten, PlainWhenTheGrammarReadsItPlainlyElseInBackticks) {
  for (const NameCase& c : kNames) {
    EXPECT_EQ(name_as_written(c.name), c.written) << c.name;
    EXPECT_EQ(is_plain_name(c.name), std::string(c.name) == c.written &&
                                         std::string(c.name).find('`') == std::string::npos)
        << c.name;
  }
}

TEST(NameAsWritten, TheWrittenFormIsReadAsOneWholeName) {
  for (const NameCase& c : kNames) {
    const std::string name = c.name;
    if (name.find('`') != std::string::npos) continue;
    const std::string written = name_as_written(name);
    auto run = CypherParser::parse(Rule::label_name, written);
    const auto* pairs = std::get_if<Pairs>(&run);
    ASSERT_NE(pairs, nullptr) << written;
    auto first = pairs->peek();
    ASSERT_TRUE(first.has_value()) << written;
    EXPECT_EQ(first->as_str(), written);
  }
}

// The grammar's reading of a name standing alone: the `variable` rule takes it whole, and not
// as a backtick name.
bool variable_reads_plainly(const std::string& name) {
  auto run = CypherParser::parse(Rule::variable, name);
  const auto* pairs = std::get_if<Pairs>(&run);
  auto first = pairs ? pairs->peek() : std::nullopt;
  return first && first->start() == 0 && first->end() == name.size() && name.front() != '`';
}

// is_plain_name decides without running the grammar; on every reserved word in several letter
// cases, with a letter changed, added or dropped at each end, and on names around them, it
// decides as the `variable` rule does.
TEST(NameAsWritten, PlainNameDecidesAsTheVariableRule) {
  std::vector<std::string> names = {"", "_", "__", "a", "Z", "0", "9a", "a9", "_9", "`", "``",
                                    "`a`", "a`", "a b", " a", "a ", "a-b", "a.b", "Caf\xc3\xa9",
                                    "\xc3\xa9t\xc3\xa9", "x\x80", "\xff", "a\n", "descendings",
                                    "ascendingx", "DESCENDING_", "abcdefghijk", "abcdefghij"};
  names.push_back(std::string("in\0", 3));
  for (const char* word : {"ALL",      "AND",     "ANY",    "ASCENDING", "ASC",    "AS",
                           "BY",       "CALL",    "CASE",   "CONTAINS",  "COUNT",  "CREATE",
                           "DELETE",   "DESCENDING", "DESC", "DETACH",   "DISTINCT", "DO",
                           "DROP",     "ELSE",    "ENDS",   "END",       "EXISTS", "FALSE",
                           "FOREACH",  "FOR",     "FROM",   "IN",        "IS",     "LIMIT",
                           "MATCH",    "MERGE",   "NEW",    "NONE",      "NOT",    "NULL",
                           "ON",       "OPTIONAL", "ORDER", "OR",        "REDUCE", "REMOVE",
                           "RETURN",   "SET",     "SINGLE", "SKIP",      "STARTS", "THEN",
                           "TRUE",     "UNION",   "UNWIND", "WHEN",      "WHERE",  "WITH",
                           "XOR",      "YIELD"}) {
    const std::string upper = word;
    std::string lower = upper;
    for (char& c : lower) c = static_cast<char>(c + 32);
    std::string mixed = lower;
    mixed[0] = upper[0];
    for (const std::string& w : {upper, lower, mixed}) {
      names.push_back(w);
      names.push_back(w + "_");
      names.push_back(w + "1");
      names.push_back(w + "s");
      names.push_back("_" + w);
      names.push_back("x" + w);
      names.push_back(w.substr(1));
      names.push_back(w.substr(0, w.size() - 1));
      names.push_back("`" + w + "`");
      names.push_back(w + " ");
      for (std::size_t i = 0; i < w.size(); ++i) {
        for (const char other : {'q', 'Q', '_', '7', '@', '[', '`', '{'}) {
          std::string near = w;
          near[i] = other;
          names.push_back(near);
        }
      }
    }
  }
  for (const std::string& name : names) {
    EXPECT_EQ(is_plain_name(name), variable_reads_plainly(name)) << name;
  }
}

}  // namespace
// The reserved words, each in letters of alternating case, need backticks; every word that
// differs from one of them in a single letter, at any place of it, is a plain name.
TEST(NameAsWritten, OnlyTheReservedWordsThemselvesNeedBackticks) {
  const std::vector<std::string> reserved = {
      "ALL",      "AND",      "ANY",    "ASCENDING", "ASC",    "AS",         "BY",     "CALL",
      "CASE",     "CONTAINS", "COUNT",  "CREATE",    "DELETE", "DESCENDING", "DESC",   "DETACH",
      "DISTINCT", "DO",       "DROP",   "ELSE",      "ENDS",   "END",        "EXISTS", "FALSE",
      "FOREACH",  "FOR",      "FROM",   "IN",        "IS",     "LIMIT",      "MATCH",  "MERGE",
      "NEW",      "NONE",     "NOT",    "NULL",      "ON",     "OPTIONAL",   "ORDER",  "OR",
      "REDUCE",   "REMOVE",   "RETURN", "SET",       "SINGLE", "SKIP",       "STARTS", "THEN",
      "TRUE",     "UNION",    "UNWIND", "WHEN",      "WHERE",  "WITH",       "XOR",    "YIELD"};
  for (const std::string& word : reserved) {
    for (int first_small = 0; first_small < 2; ++first_small) {
      std::string mixed = word;
      for (std::size_t i = 0; i < mixed.size(); ++i) {
        if ((i % 2 == 0) == (first_small == 1)) mixed[i] = static_cast<char>(mixed[i] + 32);
      }
      EXPECT_FALSE(is_plain_name(mixed)) << mixed;
    }
    for (std::size_t i = 0; i < word.size(); ++i) {
      for (const char other : {'Q', 'q', '_', '7'}) {
        std::string near = word;
        near[i] = other;
        if (i == 0 && other == '7') continue;  // not a word
        EXPECT_TRUE(is_plain_name(near)) << near;
      }
    }
  }
}

}  // namespace tessary
