#pragma once
// The token tree of one recognizer run: a flat list of start and end entries shared by every
// pair taken from it. A pair is the couple of one start entry and its end entry; its inner
// pairs are the couples between them.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "parser/rule.hpp"

namespace tessary {

// The levels of an expression's operator chain, outermost first: each holds the next as its
// first child.
inline constexpr Rule kChainRules[] = {
    Rule::expression,      Rule::or_expr,      Rule::xor_expr,     Rule::and_expr, Rule::not_expr,
    Rule::comparison_expr, Rule::add_sub_expr, Rule::mul_div_expr, Rule::mod_expr, Rule::power_expr,
    Rule::unary_expr,      Rule::postfix_expr, Rule::atom};

// The levels that one start entry may stand for, outermost first, each holding the next as its
// first child with the same start: a projection's body, its item list and its first item, that
// item's expression and the levels of the expression's operator chain.
inline constexpr Rule kRunRules[] = {
    Rule::return_body,  Rule::return_items,    Rule::return_item,  Rule::expression,
    Rule::or_expr,      Rule::xor_expr,        Rule::and_expr,     Rule::not_expr,
    Rule::comparison_expr, Rule::add_sub_expr, Rule::mul_div_expr, Rule::mod_expr,
    Rule::power_expr,   Rule::unary_expr,      Rule::postfix_expr, Rule::atom};
inline constexpr std::size_t kRunLevels = std::size(kRunRules);

// The start entry of a run with a folded leaf (see Token) may carry marks in its rule byte: the
// byte is then kMarkedRun, the marks and the run's outermost rule as its place in kRunRules
// (four bits), and the tables below read it as that rule.
//  - kEndsAfterBlank: the run's levels from postfix_expr up that have no end entry of their own
//    end one byte after the atom, after the one blank that follows it;
//  - kClosedAtStart: the run has no end entry at all; the start entry is its own partner, like
//    a leaf entry's, and all its levels end there.
inline constexpr std::uint8_t kMarkedRun = 0x80;
inline constexpr std::uint8_t kEndsAfterBlank = 0x10;
inline constexpr std::uint8_t kClosedAtStart = 0x20;
static_assert(kRunLevels <= 16);

constexpr std::uint8_t rule_byte(Rule r) { return static_cast<std::uint8_t>(r); }
// How far past its atom the levels above the atom of a run's start entry of rule `r` end, where
// they have no end entry: one byte where it carries kEndsAfterBlank, else none.
constexpr std::uint32_t blank_after(Rule r) {
  return (rule_byte(r) & (kMarkedRun | kEndsAfterBlank)) == (kMarkedRun | kEndsAfterBlank);
}
constexpr bool closed_at_start(Rule r) {
  return (rule_byte(r) & (kMarkedRun | kClosedAtStart)) == (kMarkedRun | kClosedAtStart);
}
// The rules that stand for kRunRules[i]: itself and its marked forms.
constexpr std::array<std::size_t, 4> run_rule_forms(std::size_t i) {
  const std::size_t marked = kMarkedRun | i;
  return {static_cast<std::size_t>(kRunRules[i]), marked | kEndsAfterBlank, marked | kClosedAtStart,
          marked | kEndsAfterBlank | kClosedAtStart};
}

// A rule's place in kRunRules (0 for a rule outside it).
inline constexpr auto kRunIndex = [] {
  std::array<std::uint8_t, 256> index{};
  for (std::size_t i = 0; i < kRunLevels; ++i) {
    for (std::size_t form : run_rule_forms(i)) index[form] = static_cast<std::uint8_t>(i);
  }
  return index;
}();
constexpr std::uint32_t run_index(Rule r) { return kRunIndex[static_cast<std::size_t>(r)]; }
// The rule `r` of a run's start entry (itself marked or not) with the mark `mark` added.
constexpr Rule with_run_mark(Rule r, std::uint8_t mark) {
  const std::uint8_t b = rule_byte(r);
  const std::uint8_t marks = (b & kMarkedRun) != 0 ? b & (kEndsAfterBlank | kClosedAtStart) : 0;
  return static_cast<Rule>(kMarkedRun | marks | mark | kRunIndex[b]);
}

// The chain's levels are the last levels of a run.
static_assert([] {
  for (std::size_t i = 0; i < std::size(kChainRules); ++i) {
    if (kRunRules[kRunLevels - std::size(kChainRules) + i] != kChainRules[i]) return false;
  }
  return true;
}());

// The rules of the literals that a literal pair may hold alone, its text too: such a literal
// and its inner pair may be one leaf entry (Token).
inline constexpr Rule kWrappedLeafRules[] = {Rule::integer_literal, Rule::float_literal,
                                             Rule::string_literal, Rule::boolean_literal,
                                             Rule::null_literal};

// The rule of level `level` of the pairs that one start entry of rule `r` stands for, below the
// entry's own: kLevelRules[r][level]. A run holds the levels of kRunRules from `r` down; a
// wrapped leaf is a literal (level 0) holding its own rule.
inline constexpr auto kLevelRules = [] {
  std::array<std::array<Rule, kRunLevels>, 256> levels{};
  for (std::size_t i = 0; i < kRunLevels; ++i) {
    for (std::size_t l = 0; i + l < kRunLevels; ++l) {
      for (std::size_t form : run_rule_forms(i)) levels[form][l] = kRunRules[i + l];
    }
  }
  for (Rule r : kWrappedLeafRules) {
    levels[static_cast<std::size_t>(r)][0] = Rule::literal;
    levels[static_cast<std::size_t>(r)][1] = r;
  }
  return levels;
}();

// One entry of the list. Most levels of a projection and of an expression's chain hold one
// child with their own span, so a start entry may stand for a run of nested chain levels: its
// rule is the outermost of them and `chain` counts the levels below it. Such a start entry's
// partner is the last of its end entries. An end entry is written for the innermost level and
// for each level whose span ends elsewhere than the one below it (a level with repetitions, or
// with a skip after its child); a level without one ends where the level below it ends. An end
// entry's rule names the level it ends; the innermost one links to the start entry, and each
// other one to the run's end entry before it (the end of the level below it that does not
// share it).
//
// A pair without inner pairs whose text is 1 to 255 bytes long may instead be a single leaf
// entry: a start entry that is its own partner, its length in `leaf_len`. Every other entry has
// a leaf_len of 0, so that a pair's end is its end entry's pos plus its leaf_len. A literal
// whose one inner pair is such a leaf of one of kWrappedLeafRules, with the literal's text, may
// be one leaf entry too, a wrapped leaf: the inner pair's rule with a `chain` of 1, the two
// pairs being the levels of a run of one entry (kLevelRules).
//
// A run whose innermost level, atom, holds a leaf alone with the atom's text (a variable, a
// parameter, or a wrapped leaf of a literal) may hold that leaf in its start entry, a folded
// leaf: the start entry's `leaf_rule` is the leaf's rule (the inner one of a wrapped leaf) and
// its `leaf_len` the leaf's length, and the atom has no end entry of its own (it ends where the
// leaf ends: its level's pairs end at the start entry). The leaf's levels (kFoldedLeafRules)
// follow the atom's.
// Where the text after the atom is one blank (a skip of one byte) and no postfix operator,
// postfix_expr ends after that blank: it then has no end entry of its own either, and the start
// entry's rule carries kEndsAfterBlank; a level above the atom that ends at the start entry
// ends there. Where all the run's levels end at the start entry, the run has no end entry at
// all: the start entry, its rule carrying kClosedAtStart, is its own partner.
struct Token {
  std::uint32_t pos;  // byte offset: where the pair starts (start entry) or ends (end entry)
  std::uint32_t
      partner;  // index of the matching end entry (start entry) or start entry (end entry)
  Rule rule;    // the pair's, on both its entries (a run's outermost level on its start entry)
  bool is_start : 1;
  // A start entry's folded leaf: its rule (0 where it holds none).
  std::uint8_t leaf_rule : 7 = 0;
  // Start entry: the chain levels it stands for below its rule. End entry: nonzero while a run
  // of levels is being recorded, on its ends but the last (the recognizer's flattening of its
  // events keeps the run's start entry open over them).
  std::uint8_t chain = 0;
  std::uint8_t leaf_len = 0;
};
static_assert(sizeof(Token) == 12);
static_assert(kRuleCount <= 128, "a folded leaf's rule takes 7 bits");
inline constexpr std::uint32_t kMaxLeafLen = 255;

// The levels that a folded leaf of rule `r` adds below the atom of its run, outermost first:
// kFoldedLeafRules[r][1], and [2] where it is a wrapped leaf (kFoldedLeafLevels[r] of them).
inline constexpr auto kFoldedLeafRules = [] {
  std::array<std::array<Rule, 3>, 128> levels{};
  for (std::size_t r = 0; r < levels.size(); ++r) levels[r][1] = static_cast<Rule>(r);
  for (Rule r : kWrappedLeafRules) {
    levels[static_cast<std::size_t>(r)][1] = Rule::literal;
    levels[static_cast<std::size_t>(r)][2] = r;
  }
  return levels;
}();
inline constexpr auto kFoldedLeafLevels = [] {
  std::array<std::uint8_t, 128> levels{};
  for (std::size_t r = 1; r < levels.size(); ++r) levels[r] = 1;
  for (Rule r : kWrappedLeafRules) levels[static_cast<std::size_t>(r)] = 2;
  return levels;
}();
// Rule 0 marks a start entry without a folded leaf: it is never a leaf's.
static_assert(static_cast<Rule>(0) == Rule::EOI);

// A growable array of tokens on the C heap. Room is made without being written, so that the
// recognizer can size its buffer without touching the pages of the part it does not use, and
// the array grows by reallocation (a query of a few dozen kilobytes can leave tens of megabytes
// of tokens, and the allocator can often grow a block in place or remap its pages). Each thread
// keeps the block of one small array it let go for the next array it makes, since a parse and
// the tree built from it come and go together.
class TokenVector {
 public:
  TokenVector() = default;
  TokenVector(TokenVector&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)),
        given_back_(std::exchange(other.given_back_, 0)) {}
  TokenVector& operator=(TokenVector&& other) noexcept {
    if (this != &other) {
      release();
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      capacity_ = std::exchange(other.capacity_, 0);
      given_back_ = std::exchange(other.given_back_, 0);
    }
    return *this;
  }
  TokenVector(const TokenVector&) = delete;
  TokenVector& operator=(const TokenVector&) = delete;
  ~TokenVector() { release(); }

  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }
  Token* data() { return data_; }
  const Token* data() const { return data_; }
  Token& operator[](std::size_t i) { return data_[i]; }
  const Token& operator[](std::size_t i) const { return data_[i]; }

  // Makes room for `n` tokens in all, keeping what the whole room held, written through data()
  // past the size or not; new room is not written. Never shrinks. Throws std::bad_alloc.
  void reserve(std::size_t n) {
    if (n > capacity_) grow_to(n);
  }
  void push_back(const Token& token) {
    if (size_ == capacity_) grow_to(capacity_ * 2 + 64);
    data_[size_++] = token;
  }
  // Sets the size; tokens past the old size are not written.
  void resize(std::size_t n) {
    reserve(n);
    size_ = n;
  }

  // Tells the array that tokens [from, to) are not read again, so that a large array can give
  // their memory back to the system while the rest is still read (the pages wholly inside the
  // span, once they add up to a step worth the call). A token given back reads as zeros.
  void forget(std::size_t from, std::size_t to) const noexcept {
    if (capacity_ > kForgetFrom && (to - from) * sizeof(Token) >= kForgetStep) give_back(from, to);
  }

 private:
  // Arrays of more tokens than this give back the memory of the tokens forgotten, this much
  // at least at a time. The allocator maps blocks this large apart from its heap, so that their
  // pages are faulted in afresh by every parse anyway; the pages of a smaller block given back
  // would be faulted in again by the next parse that reuses the block.
  static constexpr std::size_t kForgetFrom = (std::size_t{32} << 20) / sizeof(Token);
  static constexpr std::size_t kForgetStep = std::size_t{1} << 20;

  void grow_to(std::size_t n);
  void release() noexcept;
  void give_back(std::size_t from, std::size_t to) const noexcept;

  Token* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  mutable std::size_t given_back_ = 0;  // tokens below this index went back (in whole pages)
};
static_assert(std::is_trivially_copyable_v<Token>);

struct TokenList {
  std::string_view input;
  TokenVector tokens;
};

class Pairs;

// The end entry of level `level + 1` of the run of chain levels whose start entry is `start`,
// given `end`, that of level `level`: the same entry where the inner level shares it, else the
// run's end entry before it.
inline std::uint32_t inner_chain_end(const Token* tokens, std::uint32_t start, std::uint32_t level,
                                     std::uint32_t end) {
  if (run_index(tokens[end].rule) - run_index(tokens[start].rule) > level) return end;
  return tokens[end].partner;
}

// One rule-tagged span. Cheap to copy; valid while the Pairs it came from (or a copy of the
// top-level Pairs returned by the recognizer) is alive.
class Pair {
 public:
  Pair(const TokenList* list, std::uint32_t start_index)
      : list_(list), start_(start_index), end_(list->tokens[start_index].partner) {}
  // Level `level` of the run of chain levels at `start_index`, which ends at `end_index`.
  Pair(const TokenList* list, std::uint32_t start_index, std::uint32_t level,
       std::uint32_t end_index)
      : list_(list), start_(start_index), end_(end_index), level_(level) {}

  [[gnu::always_inline]] Rule as_rule() const {
    // Read off the start entry, next to the entries read with it.
    const Token& t = list_->tokens[start_];
    if (t.chain == 0) return t.rule;
    if (level_ <= t.chain) [[likely]] {
      return kLevelRules[static_cast<std::size_t>(t.rule)][level_];
    }
    return kFoldedLeafRules[t.leaf_rule][level_ - t.chain];
  }
  std::size_t start() const { return list_->tokens[start_].pos; }
  std::size_t end() const {
    const Token& t = list_->tokens[end_];
    const std::uint32_t end = t.pos + t.leaf_len;
    return end_ == start_ && level_ < t.chain ? end + blank_after(t.rule) : end;
  }
  [[gnu::always_inline]] std::string_view as_str() const {
    const std::size_t from = start();
    return {list_->input.data() + from, end() - from};
  }
  // The whole text that the recognizer read.
  std::string_view input() const { return list_->input; }
  inline Pairs into_inner() const;
  // Tells the token list that the entries of this pair's inner pairs before `child`, one of
  // them, are not read again (the builder of a long list of clauses or items calls it as it
  // goes, so that the tokens of what it has built can go back to the system).
  void forget_inner_before(const Pair& child) const {
    list_->tokens.forget(start_ + 1, child.start_);
  }
  // The innermost of the levels of an expression's chain, from this pair's down, that end where
  // this pair ends: each level above it holds that level's pair alone, through the levels
  // between. Any other pair (a level of a wrapped leaf or of a folded leaf too) is itself.
  // (Made field by field, itself too: a copy of the whole pair, with wide loads, would wait for
  // the stores of its fields that were made just before.)
  Pair innermost_sharing_end() const {
    const Token* tokens = list_->tokens.data();
    const Token& t = tokens[start_];
    std::uint32_t level = level_;
    if (t.chain == 0) {
    } else if (start_ == end_) {
      // A level above the atom of a folded leaf, which ends at the start entry: with the atom,
      // or after the blank after it, with postfix_expr.
      if (t.leaf_rule != 0 && level_ < t.chain) level = t.chain - blank_after(t.rule);
    } else {
      level = run_index(tokens[end_].rule) - run_index(t.rule);
    }
    return Pair(list_, start_, level, end_);
  }

 private:
  friend class Pairs;
  const TokenList* list_;
  std::uint32_t start_;
  std::uint32_t end_;
  std::uint32_t level_ = 0;  // the level of a run of chain levels; 0 for any other pair
};

// A sequence of sibling pairs in text order: tokens [begin, end) of the list. The first may be
// an inner level of a run of chain levels, whose start entry it shares with its parent.
class Pairs {
 public:
  Pairs() = default;
  Pairs(const TokenList* list, std::uint32_t begin, std::uint32_t end,
        std::shared_ptr<const TokenList> owner = nullptr)
      : owner_(std::move(owner)), list_(list), cur_(begin), end_(end) {}
  // Level `level` of the run at `start`, ending at `first_end`, then the pairs from there up to
  // `end` (one past `first_end` where the level is the only child).
  Pairs(const TokenList* list, std::uint32_t start, std::uint32_t level, std::uint32_t first_end,
        std::uint32_t end)
      : list_(list), cur_(start), end_(end), level_(level), first_end_(first_end) {}

  [[gnu::always_inline]] std::optional<Pair> peek() const {
    if (cur_ >= end_) return std::nullopt;
    return here();
  }
  [[gnu::always_inline]] std::optional<Pair> next() {
    if (cur_ >= end_) return std::nullopt;
    Pair p = here();
    cur_ = p.end_ + 1;
    level_ = 0;
    return p;
  }
  bool empty() const { return cur_ >= end_; }
  std::size_t count() const {
    std::size_t n = 0;
    for (Pairs copy = *this; copy.next();) ++n;
    return n;
  }
  std::string_view input() const { return list_ ? list_->input : std::string_view{}; }

  // Range-for over the remaining pairs (does not advance this object).
  class iterator {
   public:
    iterator(const Pairs& pairs, std::uint32_t cur)
        : list_(pairs.list_), cur_(cur), level_(pairs.level_), first_end_(pairs.first_end_) {}
    Pair operator*() const {
      return level_ == 0 ? Pair(list_, cur_) : Pair(list_, cur_, level_, first_end_);
    }
    iterator& operator++() {
      cur_ = (level_ == 0 ? list_->tokens[cur_].partner : first_end_) + 1;
      level_ = 0;
      return *this;
    }
    bool operator!=(const iterator& o) const { return cur_ != o.cur_; }
    bool operator==(const iterator& o) const { return cur_ == o.cur_; }

   private:
    const TokenList* list_;
    std::uint32_t cur_;
    std::uint32_t level_;
    std::uint32_t first_end_;
  };
  iterator begin() const { return iterator(*this, cur_); }
  iterator end() const { return iterator(*this, end_); }

 private:
  [[gnu::always_inline]] Pair here() const {
    return level_ == 0 ? Pair(list_, cur_) : Pair(list_, cur_, level_, first_end_);
  }

  std::shared_ptr<const TokenList> owner_;  // set on the top-level sequence only
  const TokenList* list_ = nullptr;
  std::uint32_t cur_ = 0;
  std::uint32_t end_ = 0;
  std::uint32_t level_ = 0;      // nonzero while the next pair is an inner level of a run
  std::uint32_t first_end_ = 0;  // that level's end entry
};

[[gnu::always_inline]] inline Pairs Pair::into_inner() const {
  const Token* tokens = list_->tokens.data();
  const Token& t = tokens[start_];
  if (level_ < t.chain) {
    // The inner level first, then the real pairs after its end up to this one's; where the
    // inner level shares this one's end, it is the only child. A level that ends at its start
    // entry (where a wrapped or folded leaf ends) holds one that ends there too.
    const std::uint32_t inner_end =
        end_ == start_ ? end_ : inner_chain_end(tokens, start_, level_, end_);
    return Pairs(list_, start_, level_ + 1, inner_end, inner_end == end_ ? end_ + 1 : end_);
  }
  if (t.leaf_rule != 0 && level_ < t.chain + kFoldedLeafLevels[t.leaf_rule]) {
    // The atom of a folded leaf, or the literal of a wrapped one: the next level, alone. (The
    // atom's end entry, where it has one, follows the start entry.)
    return Pairs(list_, start_, level_ + 1, start_, start_ + 1);
  }
  // A leaf's entry is its own end entry: its (no) inner pairs start and end after it.
  return Pairs(list_, start_ + 1, std::max(end_, start_ + 1));
}

}  // namespace tessary
