// How a name is written in a query: plain when the grammar reads it whole as a plain name,
// otherwise in backticks; a name holding a backtick stays as it is. Every written form that is
// not left as it is must be read back by the grammar as exactly that one name.
#include <gtest/gtest.h>

#include <string>
#include <variant>

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

}  // namespace
}  // namespace tessary
