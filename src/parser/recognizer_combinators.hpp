#pragma once
// The pieces every rule function is built from: the rule wrapper and the memo wrapper, the
// combinators (seq with the implicit skip between elements, choice, opt, star, plus), literals
// and character classes. Every combinator leaves the position and the event list as they were
// when it fails, so a choice never has to rewind.
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "parser/recognizer_engine.hpp"

namespace tessary::recognizer_detail {

// The end of the implicit skip from `p`: WHITESPACE* ~ (COMMENT ~ WHITESPACE*)*. A block
// comment without its "*/" is no comment, and the skip stops before its "/*".
std::uint32_t skip_end(const char* t, std::uint32_t p, std::uint32_t n);

// Everything here has internal linkage, for the reason given in recognizer_engine.hpp.
namespace {

// ---------------------------------------------------------------------------------------------
// Characters
// ---------------------------------------------------------------------------------------------

constexpr bool is_ws(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
constexpr bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
inline constexpr std::array<bool, 256> kWordChars = [] {
  std::array<bool, 256> t{};
  for (int c = 0; c < 256; ++c) {
    const char ch = static_cast<char>(c);
    t[static_cast<std::size_t>(c)] = is_alpha(ch) || is_digit(ch) || ch == '_';
  }
  return t;
}();
constexpr bool is_word(char c) { return kWordChars[static_cast<unsigned char>(c)]; }
constexpr bool is_word_start(char c) { return is_alpha(c) || c == '_'; }
constexpr bool is_hex(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
constexpr bool is_oct(char c) { return c >= '0' && c <= '7'; }
constexpr bool is_sign(char c) { return c == '+' || c == '-'; }
constexpr bool is_exp(char c) { return c == 'e' || c == 'E'; }
constexpr bool is_skip_start(char c) { return is_ws(c) || c == '/'; }
constexpr char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// A character class as a table, for tests on hot paths.
template <bool (*Pred)(char)>
inline constexpr std::array<bool, 256> kCharTable = [] {
  std::array<bool, 256> t{};
  for (int c = 0; c < 256; ++c) t[static_cast<std::size_t>(c)] = Pred(static_cast<char>(c));
  return t;
}();
template <bool (*Pred)(char)>
[[gnu::always_inline]] inline bool in_class(char c) {
  return kCharTable<Pred>[static_cast<unsigned char>(c)];
}

// The class of the characters `Cs`.
template <char... Cs>
constexpr bool first_of(char c) {
  return ((c == Cs) || ...);
}

// ---------------------------------------------------------------------------------------------
// The rule wrapper
// ---------------------------------------------------------------------------------------------

// The rules whose active calls count as nesting levels.
constexpr bool counts_level(Rule r) {
  return r == Rule::expression || r == Rule::regular_query || r == Rule::updating_clause;
}

// The rules whose pairs are left as leaf events where they are short: the atomic rules, whose
// bodies leave no pairs, and the rules made of literals alone. (Any rule would do, with the
// same tree; the test is left out of the others, which nearly always hold pairs.)
constexpr bool may_be_leaf(Rule r) {
  return rule_kind(r) == RuleKind::atomic || r == Rule::comparison_op || r == Rule::left_arrow ||
         r == Rule::right_arrow || r == Rule::boolean_literal || r == Rule::null_literal;
}

// Runs the call of rule R whose expression is `body`: leaves its pair (start and end events,
// or one leaf event for a short pair of a rule that may_be_leaf) outside atomic mode, runs the
// body in atomic mode for an atomic rule, records the rule when it fails (in a recording run),
// and counts the nesting levels.
//
// `First`, where given, tells the characters the rule's first element (a literal or a character
// class) can begin with: elsewhere the rule fails at once, having called no rule, exactly as
// running it would.
//
// `Records` is false where the caller is compiled for the run that records nothing only: the
// steps of the record are then left out of the code instead of being passed over.
template <Rule R, bool (*First)(char) = nullptr, bool Records = true, class Body>
inline bool rule(State& s, Body&& body) {
  if (s.aborted) return false;
  const std::uint32_t p = s.pos;
  if constexpr (counts_level(R)) {
    if (s.level == kMaxNesting) {
      abort_run(s, R, p);
      return false;
    }
    ++s.level;
    if (s.level > s.peak) s.peak = s.level;
  }
  if constexpr (First != nullptr) {
    if (p >= s.len || !in_class<First>(s.text[p])) {
      if constexpr (counts_level(R)) --s.level;
      if ((Records && s.recording) && !s.atomic) {
        record(s, R, p, s.furthest == p ? s.count_at_furthest() : 0);
      }
      return false;
    }
  }
  ++s.work;
  const bool track = !s.atomic;
  const std::uint32_t e0 = (Records && s.recording) && s.furthest == p ? s.count_at_furthest() : 0;
  const auto ti = static_cast<std::uint32_t>(s.tokens.size());
  // A level of a run: the run's start event, and its count and link before this call.
  [[maybe_unused]] RunJoin join;
  if constexpr (run_parent(R) != R) {
    if (track) join = join_run(s, run_parent(R), p);
    if (!join.joined() && track) emit(s, start_event(p, R));
  } else {
    if (track) emit(s, start_event(p, R));
  }
  bool ok;
  if constexpr (rule_kind(R) == RuleKind::atomic) {
    const bool saved = s.atomic;
    s.atomic = true;
    ok = body(s);
    s.atomic = saved;
  } else {
    ok = body(s);
  }
  if constexpr (counts_level(R)) --s.level;
  if (ok) {
    if constexpr (run_parent(R) != R) {
      if (join.joined()) {
        end_run_level(s, join, R);
        return true;
      }
    }
    if constexpr (heads_run(R)) {
      if (track && s.tokens[ti].chain != 0) {
        close_run(s, ti, R);
        return true;
      }
    }
    if (track) {
      if (may_be_leaf(R) && s.tokens.size() == ti + 1 && fits_leaf(p, s.pos)) {
        s.tokens.end_as_leaf(ti, s.pos);
      } else if (R == Rule::literal && s.tokens.size() == ti + 2 &&
                 s.tokens[ti + 1].leaf_len != 0) {
        // Its one inner pair, a leaf of its text (only a leaf event has a length): one wrapped
        // leaf entry (pairs.hpp).
        s.tokens.end_as_wrapped_leaf(ti);
      } else {
        emit(s, end_event(s.pos, R));
        s.tokens.link_last(ti);
      }
    }
    return true;
  }
  s.pos = p;
  if (track) {
    cut(s, ti);
    if constexpr (run_parent(R) != R) {
      if (join.joined()) leave_run(s, join);
    }
    if ((Records && s.recording) && !s.aborted) record(s, R, p, e0);
  }
  return false;
}

// A rule function F of rule R, memoized: the first call at a position runs F and may keep its
// entry; every later call of R there replays the entry (recognizer_engine.hpp).
// `Records` as for `rule`.
template <Rule R, bool (*F)(State&), bool Records = true>
inline bool memoized(State& s) {
  if (!s.memoize || s.atomic || s.aborted) return F(s);
  if (const std::uint32_t* hit = s.memo_index.find(s.memo.data(), R, s.pos)) {
    return replay<Records>(s, *hit);
  }
  const MemoCall call = begin_memo_call<Records>(s, R);
  const bool ok = F(s);
  end_memo_call<Records>(s, call, ok);
  return ok;
}

// ---------------------------------------------------------------------------------------------
// The implicit skip
// ---------------------------------------------------------------------------------------------

// The implicit skip from a whitespace character or "/".
[[gnu::always_inline]] inline void skip_text(State& s) {
  // Most often a single space stands between two tokens.
  const std::uint32_t p = s.pos;
  if (s.text[p] == ' ' && (p + 1 == s.len || !in_class<is_skip_start>(s.text[p + 1]))) {
    s.pos = p + 1;
    return;
  }
  s.pos = skip_end(s.text, p, s.len);
}

[[gnu::always_inline]] inline void skip(State& s) {
  if (s.pos < s.len && in_class<is_skip_start>(s.text[s.pos])) skip_text(s);
}

// ---------------------------------------------------------------------------------------------
// Combinators
// ---------------------------------------------------------------------------------------------

// a ~ b ~ ...: the implicit skip stands between elements unless in atomic mode.
template <class... P>
constexpr auto seq(P... p) {
  return [=](State & s) __attribute__((always_inline))->bool {
    const std::uint32_t pos0 = s.pos;
    const std::size_t tok0 = s.tokens.size();
    std::uint32_t steps = 0;
    auto step = [&](const auto& q) __attribute__((always_inline))->bool {
      if (steps++ != 0 && !s.atomic) skip(s);
      return q(s);
    };
    if ((step(p) && ...)) return true;
    // A failed element leaves everything as it found it: only later elements need undoing.
    if (steps == 1) return false;
    s.pos = pos0;
    cut(s, tok0);
    return false;
  };
}

// a | b | ...: ordered, never re-entered.
template <class... P>
constexpr auto choice(P... p) {
  return [=](State & s) __attribute__((always_inline))->bool { return (p(s) || ...); };
}

template <class P>
constexpr auto opt(P p) {
  return [=](State & s) __attribute__((always_inline))->bool {
    p(s);
    return true;
  };
}

// a*: greedy and possessive; the skip before a repetition that fails is given back.
template <class P>
constexpr auto star(P p) {
  return [=](State & s) __attribute__((always_inline))->bool {
    if (!p(s)) return true;
    for (;;) {
      const std::uint32_t before = s.pos;
      const std::size_t tok0 = s.tokens.size();
      if (!s.atomic) skip(s);
      if (!p(s)) {
        s.pos = before;  // the failed repetition appended nothing
        return true;
      }
      if (s.pos == before) {
        cut(s, tok0);
        return true;
      }
    }
  };
}

// a+ is a ~ a*: the skip after the first repetition stays when no second one follows.
template <class P>
constexpr auto plus(P p) {
  return seq(p, star(p));
}

// ---------------------------------------------------------------------------------------------
// Terminals
// ---------------------------------------------------------------------------------------------

struct Lit {
  const char* str;
  std::uint32_t n;
  bool operator()(State& s) const {
    if (s.len - s.pos < n) return false;
    const char* t = s.text + s.pos;
    for (std::uint32_t i = 0; i < n; ++i) {
      if (t[i] != str[i]) return false;
    }
    s.pos += n;
    return true;
  }
};

// The text of a literal, as a template argument.
template <std::size_t N>
struct LiteralText {
  char chars[N] = {};
  consteval LiteralText(const char (&text)[N]) {  // NOLINT: implicit on purpose
    for (std::size_t i = 0; i < N; ++i) chars[i] = text[i];
  }
  static constexpr std::uint32_t size = N - 1;
};

// A case-insensitive literal: A-Z fold to a-z on both sides, nothing else folds.
//
// A literal of up to 16 bytes is compared as two pieces of the text that overlap where it is
// shorter than their sum (its first and its last 8, 4, 2 or 1 bytes), each read as one number.
// Setting 0x20 in a byte maps a capital letter to its small letter, a small letter to itself
// and no other byte to a letter, so the bytes where the literal has a letter are compared with
// 0x20 set on both sides, the others as they are.
template <LiteralText Text>
struct ILit {
  static constexpr std::uint32_t n = Text.size;
  static_assert(n >= 1 && n <= 16);
  static constexpr std::uint32_t width = n >= 8 ? 8 : n >= 4 ? 4 : n >= 2 ? 2 : 1;

  struct Piece {
    std::uint64_t key = 0;
    std::uint64_t fold = 0;
  };
  static constexpr Piece piece_of(std::uint32_t from) {
    Piece p;
    for (std::uint32_t i = 0; i < width; ++i) {
      const char c = Text.chars[from + i];
      const std::uint64_t f = is_alpha(c) ? 0x20 : 0;
      p.fold |= f << (8 * i);
      p.key |= (std::uint64_t{static_cast<unsigned char>(c)} | f) << (8 * i);
    }
    return p;
  }
  static constexpr Piece kFirst = piece_of(0);
  static constexpr Piece kLast = piece_of(n - width);

  // The `width` bytes at `t` as one number, the first byte in the low bits.
  static std::uint64_t load(const char* t) {
    if constexpr (std::endian::native == std::endian::little && width > 1) {
      if constexpr (width == 8) {
        std::uint64_t v;
        std::memcpy(&v, t, 8);
        return v;
      } else if constexpr (width == 4) {
        std::uint32_t v;
        std::memcpy(&v, t, 4);
        return v;
      } else {
        std::uint16_t v;
        std::memcpy(&v, t, 2);
        return v;
      }
    } else {
      std::uint64_t v = 0;
      for (std::uint32_t i = 0; i < width; ++i) {
        v |= std::uint64_t{static_cast<unsigned char>(t[i])} << (8 * i);
      }
      return v;
    }
  }

  static bool matches(const State& s) {
    if (s.len - s.pos < n) return false;
    const char* t = s.text + s.pos;
    return (load(t) | kFirst.fold) == kFirst.key && (load(t + n - width) | kLast.fold) == kLast.key;
  }
  bool operator()(State& s) const {
    if (!matches(s)) return false;
    s.pos += n;
    return true;
  }
};

template <std::size_t N>
constexpr Lit lit(const char (&str)[N]) {
  return Lit{str, N - 1};
}
template <LiteralText Text>
constexpr ILit<Text> ilit() {
  return {};
}

// One character of a class.
template <bool (*Pred)(char)>
inline bool one(State& s) {
  if (s.pos < s.len && Pred(s.text[s.pos])) {
    ++s.pos;
    return true;
  }
  return false;
}

// Any number of characters of a class (only used in atomic rules, where no skip stands).
template <bool (*Pred)(char)>
inline bool many(State& s) {
  while (s.pos < s.len && Pred(s.text[s.pos])) ++s.pos;
  return true;
}

// !(ASCII_ALPHANUMERIC | "_"), tested on the character right here.
inline bool word_end(State& s) { return s.pos >= s.len || !is_word(s.text[s.pos]); }

inline bool soi(State& s) { return s.pos == 0; }

// (!"c" ~ ANY)* ~ "c" in atomic mode, as a forward search for c; fails (consuming nothing)
// when c does not occur.
template <char C>
inline bool quoted_body(State& s) {
  const void* hit = std::memchr(s.text + s.pos, C, s.len - s.pos);
  if (!hit) return false;
  s.pos = static_cast<std::uint32_t>(static_cast<const char*>(hit) - s.text) + 1;
  return true;
}

// No skip stands before the word-boundary test: it looks at the character right after `w`.
template <class W>
constexpr auto whole_word(W w) {
  return [=](State & s) __attribute__((always_inline))->bool {
    const std::uint32_t p = s.pos;
    if (!w(s)) return false;
    if (word_end(s)) return true;
    s.pos = p;
    return false;
  };
}

}  // namespace
}  // namespace tessary::recognizer_detail
