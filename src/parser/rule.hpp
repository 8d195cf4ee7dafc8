#pragma once
// The grammar's rules, numbered in the order that sorts a parse error's expected list. The list
// of rules is written once, in rules.def; everything here is expanded from it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tessary {

enum class Rule : std::uint8_t {
#define TESSARY_RULE(name, display, kind) name,
#include "parser/rules.def"
};

// How a rule runs: see rules.def.
enum class RuleKind : std::uint8_t { normal, atomic, silent };

inline constexpr auto kRuleNames = std::to_array<std::string_view>({
#define TESSARY_RULE(name, display, kind) display,
#include "parser/rules.def"
});

inline constexpr std::size_t kRuleCount = kRuleNames.size();

inline constexpr std::array<RuleKind, kRuleCount> kRuleKinds = {
#define TESSARY_RULE(name, display, kind) RuleKind::kind,
#include "parser/rules.def"
};

// Display name of a rule: its name as written in the grammar.
constexpr std::string_view rule_name(Rule rule) {
  return kRuleNames[static_cast<std::size_t>(rule)];
}

constexpr RuleKind rule_kind(Rule rule) { return kRuleKinds[static_cast<std::size_t>(rule)]; }

}  // namespace tessary
