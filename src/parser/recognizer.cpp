// The recursive-descent recognizer of the Cypher grammar: one function per rule over one
// recognizer state, the flat token list, the attempt record and the parse error.
//
// Every rule function reads like its grammar line, built from a few combinators: seq (with the
// implicit skip between elements), choice, opt, star, plus and literals. Every combinator
// leaves the position and the token list as they were when it fails, so a choice never has to
// rewind. The grammar's lookaheads (the reserved-word test, the word boundaries of the keyword
// operators) look only at characters, so they are written out where they stand and never
// record an attempt or leave a pair.
//
// A text is first read by a run that records no attempts: only a refused text needs the record,
// to explain its error, and then a second, recording run reads it again. Without the record to
// keep exact, the first run also takes a few shortcuts where the grammar is read most: the
// operator chain of an expression in one function, the alternatives of an atom picked by the
// text, names read at once. Each shortcut leaves exactly the pairs the rule functions would.
#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

#include "parser/recognizer.hpp"
#include "parser/recognizer_internal.hpp"

namespace tessary {
namespace {

using recognizer_detail::kMaxNesting;

// The rules whose active calls count as nesting levels.
constexpr bool counts_level(Rule r) {
  return r == Rule::expression || r == Rule::regular_query || r == Rule::updating_clause;
}

// ---------------------------------------------------------------------------------------------
// Recognizer state
// ---------------------------------------------------------------------------------------------

// While a run goes on, the token list is a list of events: the start and the end of a pair,
// or a reference to the events a memoized call appended (a replay). Events are token entries:
// a replay is marked with the rule WHITESPACE, which never leaves a pair, and names its memo
// entry in the partner field. A pair's end event is linked to its start event when it is
// appended, so that without replays the event list is the pairs' token list as it stands;
// with replays it is flattened into a new list, linked as it is written.
using Event = Token;
enum class EventKind : std::uint8_t { Start, End, Replay };
constexpr Rule kReplayMark = Rule::WHITESPACE;

inline Event start_event(std::uint32_t pos, Rule r) { return Token{pos, 0, r, true}; }
inline Event end_event(std::uint32_t pos, Rule r) { return Token{pos, 0, r, false}; }
inline Event replay_event(std::uint32_t entry) { return Token{0, entry, kReplayMark, false}; }
inline EventKind event_kind(const Event& e) {
  return e.rule == kReplayMark ? EventKind::Replay : e.is_start ? EventKind::Start : EventKind::End;
}

// The event list of a run: appends and cuts are the recognizer's most frequent operations.
// Cutting keeps the events beyond the new end in the buffer until they are written over, so
// that they can be taken back unchanged (`restore`). The buffer is a token vector whose room is
// used without being sized, and becomes the pairs' token list at the end.
class EventList {
 public:
  std::size_t size() const { return size_; }
  const Event* data() const { return data_; }
  void reserve(std::size_t n) {  // before the first event only
    buf_.reserve(n);
    data_ = buf_.data();
    cap_ = buf_.capacity();
  }
  [[gnu::always_inline]] void push_back(const Event& e) {
    if (size_ == cap_) [[unlikely]] grow();
    data_[size_++] = e;
  }
  // Room for `n` more events; they are written there and then counted with `appended`.
  [[gnu::always_inline]] Event* room(std::size_t n) {
    while (cap_ - size_ < n) [[unlikely]] grow();
    return data_ + size_;
  }
  void appended(std::size_t n) { size_ += n; }
  Event& operator[](std::size_t i) { return data_[i]; }
  void cut(std::size_t n) { size_ = n; }
  // Links the end event just appended to the start event at `start`.
  void link_last(std::size_t start) {
    data_[size_ - 1].partner = static_cast<std::uint32_t>(start);
    data_[start].partner = static_cast<std::uint32_t>(size_ - 1);
  }
  void restore(std::size_t n) { size_ = n; }
  // The events as a token list, the cut ones dropped.
  TokenVector take() {
    buf_.resize(size_);
    data_ = nullptr;
    cap_ = size_ = 0;
    return std::move(buf_);
  }

 private:
  [[gnu::noinline]] void grow() {
    buf_.reserve(cap_ * 2 + 64);  // keeps every event, the kept cut ones included
    data_ = buf_.data();
    cap_ = buf_.capacity();
  }
  TokenVector buf_;
  Event* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t cap_ = 0;
};

// One memoized call: what a rule did at a position, replayable into any caller's state.
// The events it appended stay where they are in the event list while they are there ("live");
// when they are cut from it they are first moved to State::memo_events. An entry made inside
// another entry's call refers to its place in that entry's events instead. Each event is thus
// moved at most once, and a replay appends a single event: the memo work stays linear.
struct MemoEntry {
  bool ok;
  std::uint32_t end;       // position after the call (success only)
  std::uint32_t tok_len;   // events it appended
  std::uint32_t live;      // index of its first event in the event list, while live
  std::int32_t parent;     // entry whose events hold these, or -1
  std::uint32_t rel;       // offset of these events inside the parent's
  std::int32_t copy;       // offset in memo_events once moved there, or -1
  bool cut;                // cut from the list but still in its buffer, not yet written over
  std::uint32_t exp_off;   // what it recorded: expected rules in State::memo_expected ...
  std::uint32_t exp_len;   // ... (none when 0) ...
  std::uint32_t furthest;  // ... at this position
  std::uint32_t depth;     // nesting levels it went below the level it was called at
};

// One piece of the expected list: a rule recorded once, or a replay of all that a memoized
// call recorded (two or more attempts, kept once with its entry). Replayed pieces keep the list
// short where the attempts it stands for repeat: the rules recorded at one position by nested
// re-read text can be exponentially many, with few distinct ones. Only two facts about the list
// are ever used, the attempt count since a given point being exactly one, and the set of rules
// in it, and both are read off the pieces.
struct Attempt {
  std::uint32_t value;  // a Rule, or a memo entry index
  bool replay;
};

// The attempt list: pushes and truncations happen on nearly every failed rule call. Like the
// event list, the buffer is sized to its capacity and the length kept apart.
class AttemptList {
 public:
  std::size_t size() const { return size_; }
  const Attempt& back() const { return data_[size_ - 1]; }
  const Attempt* begin() const { return data_; }
  const Attempt* end() const { return data_ + size_; }
  void reserve(std::size_t n) {
    if (n > buf_.size()) buf_.resize(n);
    data_ = buf_.data();
    cap_ = buf_.size();
  }
  [[gnu::always_inline]] void push_back(const Attempt& a) {
    if (size_ == cap_) [[unlikely]] grow();
    data_[size_++] = a;
  }
  // Keeps the first `n` pieces (n <= size()).
  void truncate(std::size_t n) { size_ = n; }
  std::size_t capacity() const { return cap_; }
  // Removes the pieces [from, to).
  void erase(std::size_t from, std::size_t to) {
    std::copy(data_ + to, data_ + size_, data_ + from);
    size_ -= to - from;
  }

 private:
  [[gnu::noinline]] void grow() { reserve(cap_ * 2 + 64); }
  std::vector<Attempt> buf_;
  Attempt* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t cap_ = 0;
};

// Open-addressing map from (rule, position) to an entry index.
class MemoTable {
 public:
  bool empty() const { return size_ == 0; }
  std::size_t capacity() const { return keys_.size(); }
  void clear() {
    if (size_ == 0) return;
    std::fill(keys_.begin(), keys_.end(), kEmpty);
    size_ = 0;
  }
  const std::uint32_t* find(std::uint64_t key) const {
    if (size_ == 0) return nullptr;
    for (std::size_t i = hash(key) & mask_;; i = (i + 1) & mask_) {
      if (keys_[i] == kEmpty) return nullptr;
      if (keys_[i] == key) return &values_[i];
    }
  }
  void insert(std::uint64_t key, std::uint32_t value) {
    if ((size_ + 1) * 2 > keys_.size()) grow();
    std::size_t i = hash(key) & mask_;
    while (keys_[i] != kEmpty && keys_[i] != key) i = (i + 1) & mask_;
    if (keys_[i] == kEmpty) ++size_;
    keys_[i] = key;
    values_[i] = value;
  }

 private:
  static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
  static std::size_t hash(std::uint64_t key) {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 32);
  }
  void grow() {
    std::vector<std::uint64_t> keys = std::move(keys_);
    std::vector<std::uint32_t> values = std::move(values_);
    const std::size_t cap = keys.empty() ? 64 : keys.size() * 2;
    keys_.assign(cap, kEmpty);
    values_.assign(cap, 0);
    mask_ = cap - 1;
    size_ = 0;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (keys[i] != kEmpty) insert(keys[i], values[i]);
    }
  }
  std::vector<std::uint64_t> keys_;
  std::vector<std::uint32_t> values_;
  std::size_t mask_ = 0;
  std::size_t size_ = 0;
};

struct State {
  const char* text = nullptr;
  std::uint32_t len = 0;
  std::uint32_t pos = 0;
  bool atomic = false;
  EventList tokens;

  // Attempt record. The list in force is expected[base, end): a memoized call runs on a fresh
  // record kept after its caller's, and merges it back when it returns.
  std::uint32_t furthest = 0;
  AttemptList expected;
  std::uint32_t base = 0;

  // Nesting bound.
  std::uint32_t level = 0;
  std::uint32_t peak = 0;  // deepest level reached so far
  bool aborted = false;
  std::uint32_t abort_pos = 0;
  Rule abort_rule = Rule::statement;

  // Memo of re-read rules.
  bool memoize = true;
  // Whether failed attempts are recorded. A run that records nothing finds the same token tree,
  // and only a failed run needs the record, for its error.
  bool recording = true;
  std::uint64_t work = 0;  // rule calls so far
  std::uint64_t replays = 0;  // replay events appended so far
  MemoTable memo_index;
  std::vector<MemoEntry> memo;
  std::vector<std::uint32_t> live;  // entries whose tokens are live, by ascending first token
  std::uint32_t live_end = 0;  // first event of the last of them, plus one; 0 when none
  // Entries cut from the list whose events are still in its buffer, all at or after its end,
  // and the lowest first index among them. Their events do not overlap, and the list holds them
  // by descending first index: a cut moves the entries above its point here, lowest last, and
  // every one already here lies above all that the list has grown back into since. So the
  // entry that a replay takes back or that the list is about to write over is the last one.
  std::vector<std::uint32_t> cut_entries;
  std::size_t cut_from = ~std::size_t{0};
  std::vector<Event> memo_events;
  std::vector<Attempt> memo_expected;

  std::uint32_t count_at_furthest() const {
    return static_cast<std::uint32_t>(expected.size()) - base;
  }
};


inline void sync_live_end(State& s) {
  s.live_end = s.live.empty() ? 0 : s.memo[s.live.back()].live + 1;
}

// Cuts the event list back to its first `n` events. Live memo entries among the cut events
// stay where they are in the buffer: a replay at the same place takes them back as they are,
// and they are moved out only when the list is about to write over them.
void mark_cut(State& s, std::size_t n) {
  while (!s.live.empty() && s.memo[s.live.back()].live >= n) {
    const std::uint32_t index = s.live.back();
    s.live.pop_back();
    sync_live_end(s);
    s.memo[index].cut = true;
    s.cut_entries.push_back(index);
    s.cut_from = s.memo[index].live;
  }
}

inline void cut(State& s, std::size_t n) {
  if (s.live_end > n) mark_cut(s, n);
  s.tokens.cut(n);
}

// Drops the lowest cut entry from the list of cut entries.
void pop_cut_entry(State& s) {
  s.cut_entries.pop_back();
  s.cut_from = s.cut_entries.empty() ? ~std::size_t{0} : s.memo[s.cut_entries.back()].live;
}

// The next event goes where a cut entry begins: move that entry's events out first.
[[gnu::noinline]] void move_out_cut_entry(State& s) {
  MemoEntry& m = s.memo[s.cut_entries.back()];
  assert(m.live == s.tokens.size());
  m.copy = static_cast<std::int32_t>(s.memo_events.size());
  m.cut = false;
  const Event* first = s.tokens.data() + m.live;
  s.memo_events.insert(s.memo_events.end(), first, first + m.tok_len);
  pop_cut_entry(s);
}

[[gnu::always_inline]] inline void emit(State& s, const Event& e) {
  if (s.tokens.size() == s.cut_from) [[unlikely]] move_out_cut_entry(s);
  s.tokens.push_back(e);
}

// Start events of the `N` rules at `rules`, at one position, in order.
template <std::size_t N>
[[gnu::always_inline]] inline void emit_starts(State& s, std::uint32_t pos, const Rule* rules) {
  if (s.cut_from >= s.tokens.size() + N) [[likely]] {
    Event* e = s.tokens.room(N);
    for (std::size_t i = 0; i < N; ++i) e[i] = start_event(pos, rules[i]);
    s.tokens.appended(N);
    return;
  }
  for (std::size_t i = 0; i < N; ++i) emit(s, start_event(pos, rules[i]));
}

// End events at `pos` for the open starts last, last - 1, ..., first, each linked to its start.
inline void emit_ends(State& s, std::uint32_t pos, std::size_t first, std::size_t last) {
  for (std::size_t k = last + 1; k-- > first;) {
    emit(s, end_event(pos, s.tokens[k].rule));
    s.tokens.link_last(k);
  }
}

// ---------------------------------------------------------------------------------------------
// Attempt recording and the rule wrapper
// ---------------------------------------------------------------------------------------------

// Records a failed call of `r` that began at `p`, with `e0` the number of pieces recorded at
// `p` when the call began.
[[gnu::always_inline]] inline void record(State& s, Rule r, std::uint32_t p, std::uint32_t e0) {
  if (s.furthest == p) {
    const std::uint32_t c1 = s.count_at_furthest();
    // Exactly one attempt recorded at p during the call: it stands for r.
    if (c1 == e0 + 1 && !s.expected.back().replay) return;
    s.expected.truncate(s.base + e0);
  } else if (s.furthest < p) {
    s.expected.truncate(s.base);
    s.furthest = p;
  } else {
    return;
  }
  s.expected.push_back(Attempt{static_cast<std::uint32_t>(r), false});
}

inline void abort_run(State& s, Rule r, std::uint32_t p) {
  if (s.aborted) return;
  s.aborted = true;
  s.abort_pos = p;
  s.abort_rule = r;
}

// A character class as a table, for tests on hot paths.
template <bool (*Pred)(char)>
constexpr std::array<bool, 256> kCharTable = [] {
  std::array<bool, 256> t{};
  for (int c = 0; c < 256; ++c) t[static_cast<std::size_t>(c)] = Pred(static_cast<char>(c));
  return t;
}();
template <bool (*Pred)(char)>
[[gnu::always_inline]] inline bool in_class(char c) {
  return kCharTable<Pred>[static_cast<unsigned char>(c)];
}

// `First`, where given, tells the characters the rule's first element (a literal or a character
// class) can begin with: elsewhere the rule fails at once, having called no rule, exactly as
// running it would.
template <Rule R, bool (*First)(char) = nullptr, class Body>
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
      if (s.recording && !s.atomic) {
        record(s, R, p, s.furthest == p ? s.count_at_furthest() : 0);
      }
      return false;
    }
  }
  ++s.work;
  const bool track = !s.atomic;
  const std::uint32_t e0 = s.recording && s.furthest == p ? s.count_at_furthest() : 0;
  const auto ti = static_cast<std::uint32_t>(s.tokens.size());
  if (track) emit(s, start_event(p, R));
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
    if (track) {
      emit(s, end_event(s.pos, R));
      s.tokens.link_last(ti);
    }
    return true;
  }
  s.pos = p;
  if (track) {
    cut(s, ti);
    if (s.recording && !s.aborted) record(s, R, p, e0);
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Memo of re-read rules
//
// A memoized call (normal mode, outside lookaheads) runs on an empty attempt record and keeps
// its outcome, end, the tokens it appended and what it recorded (nothing, or a furthest
// position F1 with its list E1). Merging that into the caller's record (F0, E0) is exact on the
// first call and on every replay: unchanged when nothing was recorded or F1 < F0, (F1, E1) when
// F1 > F0, and E0 followed by E1 when F1 = F0, because the recording rule only compares counts
// taken at one position and forgets positions below the furthest. Only calls that did enough
// work to be worth it are kept; any other call is simply run again, which is exact too.
//
// The memoized rules are those the grammar reads again at the same position: `reading_clause`
// and `updating_clause` (a query part is read by multi_part_query and then by
// single_part_query), `atom` (a bracket is read as a list literal, a pattern comprehension and
// a list comprehension) and `expression` (a subscript is read again as a slice, a quantifier
// body as call arguments). With them every rule runs a bounded number of times per position.
// Options::memoize = false runs the plain algorithm, for the differential tests.
// ---------------------------------------------------------------------------------------------

constexpr std::uint64_t kMemoMinWork = 24;

inline std::uint64_t memo_key(Rule r, std::uint32_t p) {
  return (static_cast<std::uint64_t>(p) << 8) | static_cast<std::uint64_t>(r);
}


// Where an entry's events are now.
inline const Event* entry_events(const State& s, const MemoEntry& m) {
  if (m.copy >= 0) return s.memo_events.data() + m.copy;
  if (m.parent >= 0) return entry_events(s, s.memo[static_cast<std::size_t>(m.parent)]) + m.rel;
  return s.tokens.data() + m.live;
}

inline void replay(State& s, std::uint32_t index) {
  const MemoEntry& m = s.memo[index];
  if (s.level + m.depth > kMaxNesting) {
    // The call, run again here, would cross the nesting bound.
    abort_run(s, Rule::expression, s.pos);
    return;
  }
  if (s.level + m.depth > s.peak) s.peak = s.level + m.depth;
  if (m.ok) {
    if (m.cut && m.live == s.tokens.size()) {
      // The events are still in place, right where they would go: take them back.
      assert(s.cut_entries.back() == index);
      pop_cut_entry(s);
      s.memo[index].cut = false;
      s.live.push_back(index);
      sync_live_end(s);
      s.tokens.restore(m.live + m.tok_len);
    } else {
      emit(s, replay_event(index));
      ++s.replays;
    }
    s.pos = m.end;
  }
  // Merge what the call recorded.
  if (m.exp_len == 0 || m.furthest < s.furthest) return;
  if (m.furthest > s.furthest) {
    s.expected.truncate(s.base);
    s.furthest = m.furthest;
  }
  s.expected.push_back(m.exp_len == 1 ? s.memo_expected[m.exp_off] : Attempt{index, true});
}

template <Rule R, bool (*F)(State&)>
inline bool memoized(State& s) {
  if (!s.memoize || s.atomic || s.aborted) return F(s);
  const std::uint32_t p = s.pos;
  const std::uint64_t key = memo_key(R, p);
  if (const std::uint32_t* hit = s.memo_index.find(key)) {
    replay(s, *hit);
    return s.memo[*hit].ok && !s.aborted;
  }
  // Run on a fresh record placed after the caller's.
  const std::uint32_t f0 = s.furthest;
  const std::uint32_t base0 = s.base;
  const std::uint32_t peak0 = s.peak;
  const std::uint32_t level0 = s.level;
  const std::uint64_t work0 = s.work;
  const auto tok0 = static_cast<std::uint32_t>(s.tokens.size());
  s.furthest = 0;
  s.base = static_cast<std::uint32_t>(s.expected.size());
  s.peak = level0;

  const bool ok = F(s);

  const std::uint32_t f1 = s.furthest;
  const std::uint32_t n1 = s.count_at_furthest();
  const std::uint32_t depth = s.peak - level0;
  if (!s.aborted && s.work - work0 >= kMemoMinWork) {
    MemoEntry m{};
    m.ok = ok;
    m.end = s.pos;
    m.tok_len = ok ? static_cast<std::uint32_t>(s.tokens.size()) - tok0 : 0;
    m.live = tok0;
    m.parent = -1;
    m.copy = -1;
    m.cut = false;
    m.exp_off = static_cast<std::uint32_t>(s.memo_expected.size());
    m.exp_len = n1;
    s.memo_expected.insert(s.memo_expected.end(), s.expected.begin() + s.base, s.expected.end());
    m.furthest = f1;
    m.depth = depth;
    const auto index = static_cast<std::uint32_t>(s.memo.size());
    if (ok) {
      // Live entries made during this call lie inside its tokens: they now refer to them.
      while (!s.live.empty() && s.memo[s.live.back()].live >= tok0) {
        MemoEntry& inner = s.memo[s.live.back()];
        inner.parent = static_cast<std::int32_t>(index);
        inner.rel = inner.live - tok0;
        s.live.pop_back();
      }
      s.live.push_back(index);
      s.live_end = tok0 + 1;
    }
    s.memo_index.insert(key, index);
    s.memo.push_back(m);
  }

  // Merge the fresh record into the caller's, which sits at [base0, base).
  s.peak = std::max(peak0, s.peak);
  const std::uint32_t fresh = s.base;
  s.base = base0;
  s.furthest = f0;
  if (n1 != 0 && f1 >= f0) {
    if (f1 > f0) {
      s.expected.erase(base0, fresh);
      s.furthest = f1;
    }
  } else {
    s.expected.truncate(fresh);
  }
  return ok;
}

// ---------------------------------------------------------------------------------------------
// Combinators
// ---------------------------------------------------------------------------------------------

constexpr bool is_ws(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
constexpr bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
constexpr std::array<bool, 256> kWordChars = [] {
  std::array<bool, 256> t{};
  for (int c = 0; c < 256; ++c) {
    const char ch = static_cast<char>(c);
    t[static_cast<std::size_t>(c)] = is_alpha(ch) || is_digit(ch) || ch == '_';
  }
  return t;
}();
constexpr bool is_word(char c) { return kWordChars[static_cast<unsigned char>(c)]; }
constexpr bool is_skip_start(char c) { return is_ws(c) || c == '/'; }
constexpr char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// The implicit skip: WHITESPACE* ~ (COMMENT ~ WHITESPACE*)*. A block comment without its "*/"
// is no comment, and the skip stops before its "/*".
std::uint32_t skip_end(const char* t, std::uint32_t p, std::uint32_t n) {
  for (;;) {
    while (p < n && in_class<is_ws>(t[p])) ++p;
    if (p + 1 < n && t[p] == '/') {
      if (t[p + 1] == '/') {
        const void* nl = std::memchr(t + p + 2, '\n', n - p - 2);
        p = nl ? static_cast<std::uint32_t>(static_cast<const char*>(nl) - t) + 1 : n;
        continue;
      }
      if (t[p + 1] == '*') {
        std::uint32_t q = p + 2;
        bool closed = false;
        while (q + 1 < n) {
          const void* star = std::memchr(t + q, '*', n - q - 1);
          if (!star) break;
          q = static_cast<std::uint32_t>(static_cast<const char*>(star) - t);
          if (t[q + 1] == '/') {
            closed = true;
            break;
          }
          ++q;
        }
        if (!closed) break;
        p = q + 2;
        continue;
      }
    }
    break;
  }
  return p;
}

void skip_text(State& s) {
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

// a ~ b ~ ...: the implicit skip stands between elements unless in atomic mode.
template <class... P>
constexpr auto seq(P... p) {
  return [=](State& s) __attribute__((always_inline)) -> bool {
    const std::uint32_t pos0 = s.pos;
    const std::size_t tok0 = s.tokens.size();
    std::uint32_t steps = 0;
    auto step = [&](const auto& q) __attribute__((always_inline)) -> bool {
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
  return [=](State& s) __attribute__((always_inline)) -> bool { return (p(s) || ...); };
}

template <class P>
constexpr auto opt(P p) {
  return [=](State& s) __attribute__((always_inline)) -> bool {
    p(s);
    return true;
  };
}

// a*: greedy and possessive; the skip before a repetition that fails is given back.
template <class P>
constexpr auto star(P p) {
  return [=](State& s) __attribute__((always_inline)) -> bool {
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

// A case-insensitive literal: A-Z fold to a-z on both sides, nothing else folds.
struct ILit {
  const char* str;
  std::uint32_t n;
  bool matches(const State& s) const {
    if (s.len - s.pos < n) return false;
    const char* t = s.text + s.pos;
    for (std::uint32_t i = 0; i < n; ++i) {
      if (fold(t[i]) != fold(str[i])) return false;
    }
    return true;
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
template <std::size_t N>
constexpr ILit ilit(const char (&str)[N]) {
  return ILit{str, N - 1};
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

constexpr bool is_word_start(char c) { return is_alpha(c) || c == '_'; }
constexpr bool is_hex(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
constexpr bool is_oct(char c) { return c >= '0' && c <= '7'; }
constexpr bool is_sign(char c) { return c == '+' || c == '-'; }
constexpr bool is_exp(char c) { return c == 'e' || c == 'E'; }

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

// First-character tests for the rules that begin with a literal or a character class.
template <char... Cs>
constexpr bool first_of(char c) {
  return ((c == Cs) || ...);
}
constexpr bool name_start(char c) { return is_word_start(c) || c == '`'; }

// Rules that are a choice of two or more rules, each tested as above: where none of them can
// begin, each fails and records itself, and the choice's rule is recorded in their place, which
// is what failing at once gives.
constexpr bool literal_start(char c) {
  return is_digit(c) || first_of<'"', '\'', 't', 'T', 'f', 'F', 'n', 'N', '[', '{'>(c);
}
constexpr bool atom_start(char c) {
  return name_start(c) || literal_start(c) || first_of<'$', '('>(c);
}
constexpr bool postfix_start(char c) { return first_of<'i', 'I', '.', '['>(c); }
constexpr bool properties_start(char c) { return first_of<'{', '$'>(c); }
constexpr bool reading_start(char c) { return first_of<'o', 'O', 'm', 'M', 'u', 'U', 'c', 'C'>(c); }
constexpr bool updating_start(char c) {
  return first_of<'c', 'C', 'm', 'M', 'f', 'F', 's', 'S', 'r', 'R', 'd', 'D'>(c);
}

// ---------------------------------------------------------------------------------------------
// Rule declarations
// ---------------------------------------------------------------------------------------------

#define TESSARY_RULE(name, display, kind) bool name(State&);
#include "parser/rules.def"

// ---------------------------------------------------------------------------------------------
// Frame rules
// ---------------------------------------------------------------------------------------------

// cypher: SOI ~ statement ~ ";"? ~ EOI
bool cypher(State& s) {
  return rule<Rule::cypher>(s, seq(soi, statement, opt(lit(";")), EOI));
}

// EOI: the end of the input
bool EOI(State& s) {
  return rule<Rule::EOI>(s, [](State& st) { return st.pos == st.len; });
}

// ---------------------------------------------------------------------------------------------
// Query and clause rules
// ---------------------------------------------------------------------------------------------

// statement: regular_query | standalone_call
bool statement(State& s) {
  return rule<Rule::statement>(s, choice(regular_query, standalone_call));
}

// regular_query: single_query ~ union_clause*
bool regular_query(State& s) {
  return rule<Rule::regular_query>(s, seq(single_query, star(union_clause)));
}

// union_clause: ^"UNION" ~ ^"ALL"? ~ single_query
bool union_clause(State& s) {
  return rule<Rule::union_clause, first_of<'u', 'U'>>(s, seq(ilit("UNION"), opt(ilit("ALL")), single_query));
}

// single_query: multi_part_query | single_part_query
bool single_query(State& s) {
  return rule<Rule::single_query>(s, choice(multi_part_query, single_part_query));
}

// single_part_query: reading_clause+ ~ updating_clause* ~ return_clause?
//                  | updating_clause+ ~ return_clause? | return_clause
bool single_part_query(State& s) {
  return rule<Rule::single_part_query>(
      s, choice(seq(plus(reading_clause), star(updating_clause), opt(return_clause)),
                seq(plus(updating_clause), opt(return_clause)), return_clause));
}

// multi_part_query: (reading_clause* ~ updating_clause* ~ with_clause)+
//                   ~ reading_clause* ~ updating_clause* ~ return_clause?
bool multi_part_query(State& s) {
  return rule<Rule::multi_part_query>(
      s, seq(plus(seq(star(reading_clause), star(updating_clause), with_clause)),
             star(reading_clause), star(updating_clause), opt(return_clause)));
}

// reading_clause: match_clause | unwind_clause | call_subquery | in_query_call
bool reading_clause_rule(State& s) {
  return rule<Rule::reading_clause, reading_start>(
      s, choice(match_clause, unwind_clause, call_subquery, in_query_call));
}
bool reading_clause(State& s) { return memoized<Rule::reading_clause, reading_clause_rule>(s); }

// match_clause: ^"OPTIONAL"? ~ ^"MATCH" ~ pattern ~ where_clause?
bool match_clause(State& s) {
  return rule<Rule::match_clause, first_of<'o', 'O', 'm', 'M'>>(
      s, seq(opt(ilit("OPTIONAL")), ilit("MATCH"), pattern, opt(where_clause)));
}

// unwind_clause: ^"UNWIND" ~ expression ~ ^"AS" ~ variable
bool unwind_clause(State& s) {
  return rule<Rule::unwind_clause, first_of<'u', 'U'>>(s, seq(ilit("UNWIND"), expression, ilit("AS"), variable));
}

// call_subquery: ^"CALL" ~ "{" ~ regular_query ~ "}"
bool call_subquery(State& s) {
  return rule<Rule::call_subquery, first_of<'c', 'C'>>(s, seq(ilit("CALL"), lit("{"), regular_query, lit("}")));
}

// in_query_call: ^"CALL" ~ explicit_procedure_invocation ~ (^"YIELD" ~ yield_items)?
bool in_query_call(State& s) {
  return rule<Rule::in_query_call, first_of<'c', 'C'>>(
      s, seq(ilit("CALL"), explicit_procedure_invocation, opt(seq(ilit("YIELD"), yield_items))));
}

// standalone_call: ^"CALL" ~ explicit_procedure_invocation ~ (^"YIELD" ~ yield_items)?
bool standalone_call(State& s) {
  return rule<Rule::standalone_call, first_of<'c', 'C'>>(
      s, seq(ilit("CALL"), explicit_procedure_invocation, opt(seq(ilit("YIELD"), yield_items))));
}

// explicit_procedure_invocation: procedure_name ~ "(" ~ (expression ~ ("," ~ expression)*)? ~ ")"
bool explicit_procedure_invocation(State& s) {
  return rule<Rule::explicit_procedure_invocation>(
      s, seq(procedure_name, lit("("), opt(seq(expression, star(seq(lit(","), expression)))),
             lit(")")));
}

// yield_items: yield_item ~ ("," ~ yield_item)*
bool yield_items(State& s) {
  return rule<Rule::yield_items>(s, seq(yield_item, star(seq(lit(","), yield_item))));
}

// yield_item: (procedure_result_field ~ ^"AS")? ~ variable
bool yield_item(State& s) {
  return rule<Rule::yield_item>(
      s, seq(opt(seq(procedure_result_field, ilit("AS"))), variable));
}

// updating_clause: create_clause | merge_clause | foreach_clause | set_clause | remove_clause
//                | delete_clause
bool updating_clause_rule(State& s) {
  return rule<Rule::updating_clause, updating_start>(s, choice(create_clause, merge_clause, foreach_clause,
                                               set_clause, remove_clause, delete_clause));
}
bool updating_clause(State& s) {
  return memoized<Rule::updating_clause, updating_clause_rule>(s);
}

// foreach_clause: ^"FOREACH" ~ "(" ~ variable ~ ^"IN" ~ expression ~ "|" ~ updating_clause+ ~ ")"
bool foreach_clause(State& s) {
  return rule<Rule::foreach_clause, first_of<'f', 'F'>>(
      s, seq(ilit("FOREACH"), lit("("), variable, ilit("IN"), expression, lit("|"),
             plus(updating_clause), lit(")")));
}

// create_clause: ^"CREATE" ~ pattern
bool create_clause(State& s) {
  return rule<Rule::create_clause, first_of<'c', 'C'>>(s, seq(ilit("CREATE"), pattern));
}

// merge_clause: ^"MERGE" ~ pattern_part ~ on_match_or_create*
bool merge_clause(State& s) {
  return rule<Rule::merge_clause, first_of<'m', 'M'>>(s, seq(ilit("MERGE"), pattern_part, star(on_match_or_create)));
}

// on_match_or_create: ^"ON" ~ (^"MATCH" ~ set_clause | ^"CREATE" ~ set_clause)
bool on_match_or_create(State& s) {
  return rule<Rule::on_match_or_create, first_of<'o', 'O'>>(
      s, seq(ilit("ON"), choice(seq(ilit("MATCH"), set_clause), seq(ilit("CREATE"), set_clause))));
}

// set_clause: ^"SET" ~ set_item ~ ("," ~ set_item)*
bool set_clause(State& s) {
  return rule<Rule::set_clause, first_of<'s', 'S'>>(s, seq(ilit("SET"), set_item, star(seq(lit(","), set_item))));
}

// set_item: property_expression ~ "=" ~ expression | variable ~ "=" ~ expression
//         | variable ~ ("+=" ~ expression | node_labels)
bool set_item(State& s) {
  return rule<Rule::set_item>(
      s, choice(seq(property_expression, lit("="), expression), seq(variable, lit("="), expression),
                seq(variable, choice(seq(lit("+="), expression), node_labels))));
}

// remove_clause: ^"REMOVE" ~ remove_item ~ ("," ~ remove_item)*
bool remove_clause(State& s) {
  return rule<Rule::remove_clause, first_of<'r', 'R'>>(
      s, seq(ilit("REMOVE"), remove_item, star(seq(lit(","), remove_item))));
}

// remove_item: variable ~ node_labels | property_expression
bool remove_item(State& s) {
  return rule<Rule::remove_item>(s, choice(seq(variable, node_labels), property_expression));
}

// delete_clause: ^"DETACH"? ~ ^"DELETE" ~ expression ~ ("," ~ expression)*
bool delete_clause(State& s) {
  return rule<Rule::delete_clause, first_of<'d', 'D'>>(
      s, seq(opt(ilit("DETACH")), ilit("DELETE"), expression, star(seq(lit(","), expression))));
}

// with_clause: ^"WITH" ~ ^"DISTINCT"? ~ return_body ~ where_clause?
bool with_clause(State& s) {
  return rule<Rule::with_clause, first_of<'w', 'W'>>(
      s, seq(ilit("WITH"), opt(ilit("DISTINCT")), return_body, opt(where_clause)));
}

// return_clause: ^"RETURN" ~ ^"DISTINCT"? ~ return_body
bool return_clause(State& s) {
  return rule<Rule::return_clause, first_of<'r', 'R'>>(s, seq(ilit("RETURN"), opt(ilit("DISTINCT")), return_body));
}

// return_body: return_items ~ order_clause? ~ skip_clause? ~ limit_clause?
bool return_body(State& s) {
  return rule<Rule::return_body>(
      s, seq(return_items, opt(order_clause), opt(skip_clause), opt(limit_clause)));
}

// return_items: "*" | return_item ~ ("," ~ return_item)*
bool return_items(State& s) {
  return rule<Rule::return_items>(
      s, choice(lit("*"), seq(return_item, star(seq(lit(","), return_item)))));
}

// return_item: expression ~ (^"AS" ~ variable)?
bool return_item(State& s) {
  return rule<Rule::return_item>(s, seq(expression, opt(seq(ilit("AS"), variable))));
}

// order_clause: ^"ORDER" ~ ^"BY" ~ sort_item ~ ("," ~ sort_item)*
bool order_clause(State& s) {
  return rule<Rule::order_clause, first_of<'o', 'O'>>(
      s, seq(ilit("ORDER"), ilit("BY"), sort_item, star(seq(lit(","), sort_item))));
}

// sort_item: expression ~ (^"ASCENDING" | ^"ASC" | ^"DESCENDING" | ^"DESC")?
bool sort_item(State& s) {
  return rule<Rule::sort_item>(
      s, seq(expression,
             opt(choice(ilit("ASCENDING"), ilit("ASC"), ilit("DESCENDING"), ilit("DESC")))));
}

// skip_clause: ^"SKIP" ~ expression
bool skip_clause(State& s) { return rule<Rule::skip_clause, first_of<'s', 'S'>>(s, seq(ilit("SKIP"), expression)); }

// limit_clause: ^"LIMIT" ~ expression
bool limit_clause(State& s) { return rule<Rule::limit_clause, first_of<'l', 'L'>>(s, seq(ilit("LIMIT"), expression)); }

// where_clause: ^"WHERE" ~ expression
bool where_clause(State& s) { return rule<Rule::where_clause, first_of<'w', 'W'>>(s, seq(ilit("WHERE"), expression)); }

// ---------------------------------------------------------------------------------------------
// Pattern rules
// ---------------------------------------------------------------------------------------------

// pattern: pattern_part ~ ("," ~ pattern_part)*
bool pattern(State& s) {
  return rule<Rule::pattern>(s, seq(pattern_part, star(seq(lit(","), pattern_part))));
}

// pattern_part: (variable ~ "=")? ~ pattern_element
bool pattern_part(State& s) {
  return rule<Rule::pattern_part>(s, seq(opt(seq(variable, lit("="))), pattern_element));
}

// pattern_element: shortest_path_call | node_pattern ~ (relationship_pattern ~ node_pattern)*
bool pattern_element(State& s) {
  return rule<Rule::pattern_element>(
      s, choice(shortest_path_call,
                seq(node_pattern, star(seq(relationship_pattern, node_pattern)))));
}

// node_pattern: "(" ~ variable? ~ node_labels? ~ properties? ~ ")"
bool node_pattern(State& s) {
  return rule<Rule::node_pattern, first_of<'('>>(
      s, seq(lit("("), opt(variable), opt(node_labels), opt(properties), lit(")")));
}

// node_labels: (":" ~ label_name)+
bool node_labels(State& s) {
  return rule<Rule::node_labels, first_of<':'>>(s, plus(seq(lit(":"), label_name)));
}

// relationship_pattern: left_arrow? ~ ("-" ~ "[" ~ variable? ~ rel_types? ~ range_literal?
//                       ~ properties? ~ "]" ~ "-" ~ right_arrow? | "--" ~ right_arrow?)
bool relationship_pattern(State& s) {
  return rule<Rule::relationship_pattern>(
      s, seq(opt(left_arrow),
             choice(seq(lit("-"), lit("["), opt(variable), opt(rel_types), opt(range_literal),
                        opt(properties), lit("]"), lit("-"), opt(right_arrow)),
                    seq(lit("--"), opt(right_arrow)))));
}

// left_arrow: "<"
bool left_arrow(State& s) { return rule<Rule::left_arrow, first_of<'<'>>(s, lit("<")); }

// right_arrow: ">"
bool right_arrow(State& s) { return rule<Rule::right_arrow, first_of<'>'>>(s, lit(">")); }

// rel_types: ":" ~ rel_type_name ~ ("|" ~ ":"? ~ rel_type_name)*
bool rel_types(State& s) {
  return rule<Rule::rel_types, first_of<':'>>(
      s, seq(lit(":"), rel_type_name, star(seq(lit("|"), opt(lit(":")), rel_type_name))));
}

// range_literal: "*" ~ (integer_literal ~ (".." ~ integer_literal?)?)?
bool range_literal(State& s) {
  return rule<Rule::range_literal, first_of<'*'>>(
      s, seq(lit("*"), opt(seq(integer_literal, opt(seq(lit(".."), opt(integer_literal)))))));
}

// properties: map_literal | parameter
bool properties(State& s) { return rule<Rule::properties, properties_start>(s, choice(map_literal, parameter)); }

// ---------------------------------------------------------------------------------------------
// Expression rules
// ---------------------------------------------------------------------------------------------

// expression: or_expr
bool quick_chain(State& s);
bool expression_rule(State& s) {
  if (!s.recording) return rule<Rule::expression>(s, quick_chain);
  return rule<Rule::expression>(s, or_expr);
}
bool expression(State& s) { return memoized<Rule::expression, expression_rule>(s); }

// or_expr: xor_expr ~ (or_kw ~ xor_expr)*
bool or_expr(State& s) {
  return rule<Rule::or_expr>(s, seq(xor_expr, star(seq(or_kw, xor_expr))));
}

// xor_expr: and_expr ~ (xor_kw ~ and_expr)*
bool xor_expr(State& s) {
  return rule<Rule::xor_expr>(s, seq(and_expr, star(seq(xor_kw, and_expr))));
}

// and_expr: not_expr ~ (and_kw ~ not_expr)*
bool and_expr(State& s) {
  return rule<Rule::and_expr>(s, seq(not_expr, star(seq(and_kw, not_expr))));
}

// not_expr: not_kw* ~ comparison_expr
bool not_expr(State& s) { return rule<Rule::not_expr>(s, seq(star(not_kw), comparison_expr)); }

// comparison_expr: add_sub_expr ~ (comparison_op ~ add_sub_expr)*
bool comparison_expr(State& s) {
  return rule<Rule::comparison_expr>(s, seq(add_sub_expr, star(seq(comparison_op, add_sub_expr))));
}

// comparison_op: "<=" | ">=" | "<>" | "<" | ">" | "=~" | "=" | ^"IN" ~ !(ASCII_ALPHANUMERIC | "_")
//   | ^"STARTS" ~ ^"WITH" ~ !(...) | ^"ENDS" ~ ^"WITH" ~ !(...) | ^"CONTAINS" ~ !(...)
// No skip stands before the word-boundary tests: each looks at the character right after its
// word.
template <class W>
constexpr auto whole_word(W w) {
  return [=](State& s) __attribute__((always_inline)) -> bool {
    const std::uint32_t p = s.pos;
    if (!w(s)) return false;
    if (word_end(s)) return true;
    s.pos = p;
    return false;
  };
}

bool comparison_op(State& s) {
  return rule<Rule::comparison_op, first_of<'<', '>', '=', 'i', 'I', 's', 'S', 'e', 'E', 'c', 'C'>>(
      s, choice(lit("<="), lit(">="), lit("<>"), lit("<"), lit(">"), lit("=~"), lit("="),
                whole_word(ilit("IN")), seq(ilit("STARTS"), whole_word(ilit("WITH"))),
                seq(ilit("ENDS"), whole_word(ilit("WITH"))), whole_word(ilit("CONTAINS"))));
}

// add_sub_expr: mul_div_expr ~ (("+" | "-") ~ mul_div_expr)*
bool add_sub_expr(State& s) {
  return rule<Rule::add_sub_expr>(
      s, seq(mul_div_expr, star(seq(choice(lit("+"), lit("-")), mul_div_expr))));
}

// mul_div_expr: mod_expr ~ (("*" | "/") ~ mod_expr)*
bool mul_div_expr(State& s) {
  return rule<Rule::mul_div_expr>(
      s, seq(mod_expr, star(seq(choice(lit("*"), lit("/")), mod_expr))));
}

// mod_expr: power_expr ~ ("%" ~ power_expr)*
bool mod_expr(State& s) {
  return rule<Rule::mod_expr>(s, seq(power_expr, star(seq(lit("%"), power_expr))));
}

// power_expr: unary_expr ~ ("^" ~ unary_expr)*
bool power_expr(State& s) {
  return rule<Rule::power_expr>(s, seq(unary_expr, star(seq(lit("^"), unary_expr))));
}

// unary_expr: "-"? ~ postfix_expr
bool unary_expr(State& s) { return rule<Rule::unary_expr>(s, seq(opt(lit("-")), postfix_expr)); }

// postfix_expr: atom ~ postfix_op*
// In runs that record nothing, postfix_op is called only where one can begin: elsewhere it fails
// at once, and only a recording run must see that.
inline bool postfix_op_here(State& s) {
  if (!s.recording && (s.pos == s.len || !in_class<postfix_start>(s.text[s.pos]))) return false;
  return postfix_op(s);
}
bool postfix_expr(State& s) { return rule<Rule::postfix_expr>(s, seq(atom, star(postfix_op_here))); }

// The operator chain from or_expr down to postfix_expr, run without the rule functions of its
// levels, for runs that record no attempts: it leaves exactly the pairs and the position those
// would. Each level is `child ~ (operator ~ child)*`, except not_expr and unary_expr, which are
// a prefix and their child. Reading from a given level down is: the start entries of that level
// and every one below it, with the prefixes where they stand, then postfix_expr, then on the way
// up each level's repetitions (right operands read the same way from the level below) and its
// end entry. Where no operator can begin after an operand, every level up to the one asked for
// ends there at once.
enum ChainLevel : int { kOr, kXor, kAnd, kNot, kComparison, kAddSub, kMulDiv, kMod, kPower, kUnary };
constexpr Rule kUpperLevels[] = {Rule::or_expr, Rule::xor_expr, Rule::and_expr, Rule::not_expr};
constexpr Rule kLowerLevels[] = {Rule::comparison_expr, Rule::add_sub_expr, Rule::mul_div_expr,
                                 Rule::mod_expr, Rule::power_expr, Rule::unary_expr};

constexpr std::array<bool, 256> kOperatorStart = [] {
  std::array<bool, 256> t{};
  for (char c : std::string_view("^%*/+-<>=iIsSeEcCaAxXoO")) t[static_cast<unsigned char>(c)] = true;
  return t;
}();

// The rest of a level whose first child has been read: its repetitions, then its end entry.
template <class Rest>
[[gnu::always_inline]] inline void finish_level(State& s, std::size_t start, Rest rest) {
  skip(s);
  star(rest)(s);
  emit(s, end_event(s.pos, s.tokens[start].rule));
  s.tokens.link_last(start);
}

template <int Level>
bool quick_level(State& s) {
  static_assert(Level >= kOr && Level <= kUnary);
  const std::uint32_t p = s.pos;
  const std::size_t top = s.tokens.size();
  if constexpr (Level <= kNot) {
    emit_starts<kNot - Level + 1>(s, p, kUpperLevels + Level);
    // not_kw*, called only where a NOT can begin (it fails at once elsewhere).
    if (s.pos < s.len && fold(s.text[s.pos]) == 'n') star(not_kw)(s);
    skip(s);
  }
  constexpr int kFirstLower = Level > kComparison ? Level : kComparison;
  const std::size_t lower = s.tokens.size();
  emit_starts<kUnary - kFirstLower + 1>(s, s.pos, kLowerLevels + (kFirstLower - kComparison));
  // Where the start entry of level l is.
  auto at = [&](int l) {
    return l <= kNot ? top + static_cast<std::size_t>(l - Level)
                     : lower + static_cast<std::size_t>(l - kFirstLower);
  };
  lit("-")(s);
  skip(s);
  if (!postfix_expr(s)) {
    s.pos = p;
    cut(s, top);
    return false;
  }
  emit_ends(s, s.pos, at(kUnary), at(kUnary));
  if constexpr (Level == kUnary) return true;
  skip(s);
  if (s.pos == s.len || !kOperatorStart[static_cast<unsigned char>(s.text[s.pos])]) {
    // No operator follows: every level ends here.
    if constexpr (Level >= kComparison) {
      emit_ends(s, s.pos, at(Level), at(kPower));
    } else {
      emit_ends(s, s.pos, at(kComparison), at(kPower));
      emit_ends(s, s.pos, at(Level), at(kNot));
    }
    return true;
  }
  finish_level(s, at(kPower), seq(lit("^"), quick_level<kUnary>));
  if constexpr (Level == kPower) return true;
  finish_level(s, at(kMod), seq(lit("%"), quick_level<kPower>));
  if constexpr (Level == kMod) return true;
  finish_level(s, at(kMulDiv), seq(choice(lit("*"), lit("/")), quick_level<kMod>));
  if constexpr (Level == kMulDiv) return true;
  finish_level(s, at(kAddSub), seq(choice(lit("+"), lit("-")), quick_level<kMulDiv>));
  if constexpr (Level == kAddSub) return true;
  finish_level(s, at(kComparison), seq(comparison_op, quick_level<kAddSub>));
  if constexpr (Level == kComparison) return true;
  emit_ends(s, s.pos, at(kNot), at(kNot));
  if constexpr (Level == kNot) return true;
  finish_level(s, at(kAnd), seq(and_kw, quick_level<kNot>));
  if constexpr (Level == kAnd) return true;
  finish_level(s, at(kXor), seq(xor_kw, quick_level<kAnd>));
  if constexpr (Level == kXor) return true;
  finish_level(s, at(kOr), seq(or_kw, quick_level<kXor>));
  return true;
}

bool quick_chain(State& s) { return quick_level<kOr>(s); }

// postfix_op: null_check_op | property_lookup | subscript_op | list_slice_op
bool postfix_op(State& s) {
  return rule<Rule::postfix_op, postfix_start>(
      s, choice(null_check_op, property_lookup, subscript_op, list_slice_op));
}

// null_check_op (atomic): ^"IS" ~ (" " | "\t" | "\r" | "\n")+
//   ~ (^"NOT" ~ (" " | "\t" | "\r" | "\n")+ ~ ^"NULL" ~ !(...) | ^"NULL" ~ !(...))
bool null_check_op(State& s) {
  const auto spaces = plus(one<is_ws>);
  return rule<Rule::null_check_op, first_of<'i', 'I'>>(
      s, seq(ilit("IS"), spaces,
             choice(seq(ilit("NOT"), spaces, ilit("NULL"), word_end), seq(ilit("NULL"), word_end))));
}

// property_lookup: "." ~ property_key_name
bool property_lookup(State& s) {
  return rule<Rule::property_lookup, first_of<'.'>>(s, seq(lit("."), property_key_name));
}

// subscript_op: "[" ~ expression ~ "]"
bool subscript_op(State& s) {
  return rule<Rule::subscript_op, first_of<'['>>(s, seq(lit("["), expression, lit("]")));
}

// list_slice_op: "[" ~ expression? ~ ".." ~ expression? ~ "]"
bool list_slice_op(State& s) {
  return rule<Rule::list_slice_op, first_of<'['>>(
      s, seq(lit("["), opt(expression), lit(".."), opt(expression), lit("]")));
}

// atom: reduce_expression | shortest_path_call | literal | parameter | case_expression
//     | pattern_comprehension | list_comprehension | quantifier_expression | exists_subquery
//     | count_subquery | collect_subquery | count_star | function_invocation | variable
//     | parenthesized_expr
bool quick_atom_choice(State& s);
bool atom_rule(State& s) {
  if (!s.recording) return rule<Rule::atom, atom_start>(s, quick_atom_choice);
  return rule<Rule::atom, atom_start>(
      s, choice(reduce_expression, shortest_path_call, literal, parameter, case_expression,
                pattern_comprehension, list_comprehension, quantifier_expression, exists_subquery,
                count_subquery, collect_subquery, count_star, function_invocation, variable,
                parenthesized_expr));
}
bool atom(State& s) { return memoized<Rule::atom, atom_rule>(s); }

// Whether the text here begins with `word`, A-Z folded (so, whether ^"word" would match).
template <std::size_t N>
inline bool starts_with_word(const State& s, const char (&word)[N]) {
  return ILit{word, N - 1}.matches(s);
}

bool reserved_word(const char* t, std::uint32_t n);

// The end of the run of name text here: word characters, dots and closed backtick names.
inline std::uint32_t name_run_end(const State& s) {
  std::uint32_t i = s.pos;
  while (i < s.len) {
    const char c = s.text[i];
    if (is_word(c) || c == '.') {
      ++i;
    } else if (c == '`') {
      const void* close = std::memchr(s.text + i + 1, '`', s.len - i - 1);
      if (!close) break;
      i = static_cast<std::uint32_t>(static_cast<const char*>(close) - s.text) + 1;
    } else {
      break;
    }
  }
  return i;
}

// The last two alternatives of atom, function_invocation | variable, where the text begins
// with a letter or "_". A function name ends at the end of a word inside the run of name text
// here, and only at the run's end can the "(" after it follow; where none follows, the call
// fails, leaving the variable.
bool quick_name_atom(State& s) {
  const std::uint32_t after = skip_end(s.text, name_run_end(s), s.len);
  if (after < s.len && s.text[after] == '(') return function_invocation(s) || variable(s);
  return variable(s);
}

// atom's choice for runs that record no attempts: only the alternatives that can begin with
// the character here are tried, in the choice's order. An alternative that begins with a
// keyword is tried only where the text begins with that keyword; every one skipped would
// have failed at once, leaving nothing behind.
bool quick_atom_choice(State& s) {
  const char c = s.text[s.pos];
  switch (c) {
    case '$': return parameter(s);
    case '(': return parenthesized_expr(s);
    case '[': return literal(s) || pattern_comprehension(s) || list_comprehension(s);
    case '{':
    case '"':
    case '\'':
      return literal(s);
    case '`': return function_invocation(s) || variable(s);
    default: break;
  }
  if (is_digit(c)) return literal(s);
  switch (fold(c)) {
    case 'r':
      if (starts_with_word(s, "REDUCE") && reduce_expression(s)) return true;
      break;
    case 'a':
      if (starts_with_word(s, "ALL") || starts_with_word(s, "ANY")) {
        if (shortest_path_call(s) || quantifier_expression(s)) return true;
      }
      break;
    case 's':
      if (starts_with_word(s, "SHORTESTPATH") && shortest_path_call(s)) return true;
      if (starts_with_word(s, "SINGLE") && quantifier_expression(s)) return true;
      break;
    case 't':
      if (starts_with_word(s, "TRUE") && literal(s)) return true;
      break;
    case 'f':
      if (starts_with_word(s, "FALSE") && literal(s)) return true;
      break;
    case 'n':
      if (starts_with_word(s, "NULL") && literal(s)) return true;
      if (starts_with_word(s, "NONE") && quantifier_expression(s)) return true;
      break;
    case 'c':
      if (starts_with_word(s, "CASE") && case_expression(s)) return true;
      if (starts_with_word(s, "COUNT") && (count_subquery(s) || count_star(s))) return true;
      if (starts_with_word(s, "COLLECT") && collect_subquery(s)) return true;
      break;
    case 'e':
      if (starts_with_word(s, "EXISTS") && exists_subquery(s)) return true;
      break;
    default:
      break;
  }
  return quick_name_atom(s);
}

// parenthesized_expr: "(" ~ expression ~ ")"
bool parenthesized_expr(State& s) {
  return rule<Rule::parenthesized_expr, first_of<'('>>(s, seq(lit("("), expression, lit(")")));
}

// count_star: ^"COUNT" ~ "(" ~ "*" ~ ")"
bool count_star(State& s) {
  return rule<Rule::count_star, first_of<'c', 'C'>>(s, seq(ilit("COUNT"), lit("("), lit("*"), lit(")")));
}

// function_invocation: function_name ~ "(" ~ ^"DISTINCT"? ~ (expression ~ ("," ~ expression)*)?
//                      ~ ")"
bool function_invocation(State& s) {
  return rule<Rule::function_invocation>(
      s, seq(function_name, lit("("), opt(ilit("DISTINCT")),
             opt(seq(expression, star(seq(lit(","), expression)))), lit(")")));
}

// literal: float_literal | integer_literal | string_literal | boolean_literal | null_literal
//        | list_literal | map_literal
bool literal(State& s) {
  return rule<Rule::literal, literal_start>(s, choice(float_literal, integer_literal, string_literal,
                                       boolean_literal, null_literal, list_literal, map_literal));
}

// list_literal: "[" ~ (expression ~ ("," ~ expression)*)? ~ "]"
bool list_literal(State& s) {
  return rule<Rule::list_literal, first_of<'['>>(
      s, seq(lit("["), opt(seq(expression, star(seq(lit(","), expression)))), lit("]")));
}

// map_literal: "{" ~ (property_key_value_pair ~ ("," ~ property_key_value_pair)*)? ~ "}"
bool map_literal(State& s) {
  return rule<Rule::map_literal, first_of<'{'>>(
      s, seq(lit("{"),
             opt(seq(property_key_value_pair, star(seq(lit(","), property_key_value_pair)))),
             lit("}")));
}

// property_key_value_pair: property_key_name ~ ":" ~ expression
bool property_key_value_pair(State& s) {
  return rule<Rule::property_key_value_pair>(s, seq(property_key_name, lit(":"), expression));
}

// property_expression: variable ~ property_lookup ~ property_lookup*
bool property_expression(State& s) {
  return rule<Rule::property_expression>(
      s, seq(variable, property_lookup, star(property_lookup)));
}

// ---------------------------------------------------------------------------------------------
// Special expression forms
// ---------------------------------------------------------------------------------------------

// reduce_expression: ^"REDUCE" ~ "(" ~ variable ~ "=" ~ expression ~ "," ~ variable ~ ^"IN"
//                    ~ expression ~ "|" ~ expression ~ ")"
bool reduce_expression(State& s) {
  return rule<Rule::reduce_expression, first_of<'r', 'R'>>(
      s, seq(ilit("REDUCE"), lit("("), variable, lit("="), expression, lit(","), variable,
             ilit("IN"), expression, lit("|"), expression, lit(")")));
}

// shortest_path_call: (^"allShortestPaths" | ^"shortestPath") ~ "(" ~ node_pattern
//                     ~ (relationship_pattern ~ node_pattern)* ~ ")"
bool shortest_path_call(State& s) {
  return rule<Rule::shortest_path_call, first_of<'a', 'A', 's', 'S'>>(
      s, seq(choice(ilit("allShortestPaths"), ilit("shortestPath")), lit("("), node_pattern,
             star(seq(relationship_pattern, node_pattern)), lit(")")));
}

// case_expression: ^"CASE" ~ expression? ~ (^"WHEN" ~ expression ~ ^"THEN" ~ expression)+
//                  ~ (^"ELSE" ~ expression)? ~ ^"END"
bool case_expression(State& s) {
  return rule<Rule::case_expression, first_of<'c', 'C'>>(
      s, seq(ilit("CASE"), opt(expression),
             plus(seq(ilit("WHEN"), expression, ilit("THEN"), expression)),
             opt(seq(ilit("ELSE"), expression)), ilit("END")));
}

// list_comprehension: "[" ~ filter_expression ~ ("|" ~ expression)? ~ "]"
bool list_comprehension(State& s) {
  return rule<Rule::list_comprehension, first_of<'['>>(
      s, seq(lit("["), filter_expression, opt(seq(lit("|"), expression)), lit("]")));
}

// filter_expression: id_in_coll ~ (^"WHERE" ~ expression)?
bool filter_expression(State& s) {
  return rule<Rule::filter_expression>(s, seq(id_in_coll, opt(seq(ilit("WHERE"), expression))));
}

// id_in_coll: variable ~ ^"IN" ~ expression
bool id_in_coll(State& s) {
  return rule<Rule::id_in_coll>(s, seq(variable, ilit("IN"), expression));
}

// quantifier_expression: (^"ALL" | ^"ANY" | ^"NONE" | ^"SINGLE") ~ "(" ~ filter_expression ~ ")"
bool quantifier_expression(State& s) {
  return rule<Rule::quantifier_expression, first_of<'a', 'A', 'n', 'N', 's', 'S'>>(
      s, seq(choice(ilit("ALL"), ilit("ANY"), ilit("NONE"), ilit("SINGLE")), lit("("),
             filter_expression, lit(")")));
}

// exists_subquery: ^"EXISTS" ~ "{" ~ pattern ~ "}"
bool exists_subquery(State& s) {
  return rule<Rule::exists_subquery, first_of<'e', 'E'>>(s, seq(ilit("EXISTS"), lit("{"), pattern, lit("}")));
}

// pattern_comprehension: "[" ~ pattern_element ~ (^"WHERE" ~ expression)? ~ "|" ~ expression
//                        ~ "]"
bool pattern_comprehension(State& s) {
  return rule<Rule::pattern_comprehension, first_of<'['>>(
      s, seq(lit("["), pattern_element, opt(seq(ilit("WHERE"), expression)), lit("|"),
             expression, lit("]")));
}

// count_subquery: ^"COUNT" ~ "{" ~ regular_query ~ "}"
bool count_subquery(State& s) {
  return rule<Rule::count_subquery, first_of<'c', 'C'>>(s, seq(ilit("COUNT"), lit("{"), regular_query, lit("}")));
}

// collect_subquery: ^"COLLECT" ~ "{" ~ regular_query ~ "}"
bool collect_subquery(State& s) {
  return rule<Rule::collect_subquery, first_of<'c', 'C'>>(s, seq(ilit("COLLECT"), lit("{"), regular_query, lit("}")));
}

// ---------------------------------------------------------------------------------------------
// Lexical rules
// ---------------------------------------------------------------------------------------------

// The 56 reserved words, each longer word before the shorter words that are its prefixes.
constexpr std::string_view kReservedWords[] = {
    "ALL",      "AND",      "ANY",     "ASCENDING", "ASC",    "AS",       "BY",     "CALL",
    "CASE",     "CONTAINS", "COUNT",   "CREATE",    "DELETE", "DESCENDING", "DESC", "DETACH",
    "DISTINCT", "DO",       "DROP",    "ELSE",      "ENDS",   "END",      "EXISTS", "FALSE",
    "FOREACH",  "FOR",      "FROM",    "IN",        "IS",     "LIMIT",    "MATCH",  "MERGE",
    "NEW",      "NONE",     "NOT",     "NULL",      "ON",     "OPTIONAL", "ORDER",  "OR",
    "REDUCE",   "REMOVE",   "RETURN",  "SET",       "SINGLE", "SKIP",     "STARTS", "THEN",
    "TRUE",     "UNION",    "UNWIND",  "WHEN",      "WHERE",  "WITH",     "XOR",    "YIELD"};

// keyword: (^"ALL" | ^"AND" | ... | ^"YIELD") ~ !(ASCII_ALPHANUMERIC | "_")
// The first word that matches decides (the choice is never re-entered), then the boundary test.
// With every longer word before its prefixes this is the same as: the whole run of ASCII word
// characters here equals one of the words, ignoring case; that is what is computed.
// The reserved words grouped by length and first letter: kWordGroups[n][c] lists those of n
// letters that begin with the letter c ('a' + c).
struct WordGroup {
  std::array<std::string_view, 4> words{};
  std::size_t count = 0;
};
using WordGroups = std::array<std::array<WordGroup, 26>, 11>;
constexpr WordGroups group_words() {
  WordGroups groups{};
  for (std::string_view w : kReservedWords) {
    WordGroup& g = groups[w.size()][static_cast<std::size_t>(fold(w[0]) - 'a')];
    g.words[g.count++] = w;
  }
  return groups;
}
constexpr WordGroups kWordGroups = group_words();

// Whether the run of `n` word characters at `t` (the whole run) is a reserved word.
inline bool reserved_word(const char* t, std::uint32_t n) {
  if (n < 2 || n > 10 || !is_alpha(t[0])) return false;
  const WordGroup& group = kWordGroups[n][static_cast<std::size_t>(fold(t[0]) - 'a')];
  for (std::size_t k = 0; k < group.count; ++k) {
    const std::string_view w = group.words[k];
    bool same = true;
    for (std::uint32_t i = 1; i < n && same; ++i) same = fold(t[i]) == fold(w[i]);
    if (same) return true;
  }
  return false;
}

bool keyword_body(State& s) {
  const char* t = s.text + s.pos;
  const std::uint32_t rest = s.len - s.pos;
  std::uint32_t n = 0;
  while (n < rest && n <= 10 && is_word(t[n])) ++n;
  if (!reserved_word(t, n)) return false;
  s.pos += n;
  return true;
}
bool keyword(State& s) { return rule<Rule::keyword>(s, keyword_body); }

// !keyword ~ (ASCII_ALPHA | "_") ~ (ASCII_ALPHANUMERIC | "_")*, in atomic mode: the run of
// word characters here, unless it is a reserved word (which is what the keyword lookahead
// tests) or does not begin with a letter or "_". The lookahead's call of `keyword` records
// nothing and leaves no token; it still counts as a rule call.
bool unreserved_word(State& s) {
  if (!s.aborted) ++s.work;
  const char* t = s.text + s.pos;
  const std::uint32_t rest = s.len - s.pos;
  if (rest == 0 || !is_word_start(t[0])) return false;
  std::uint32_t n = 1;
  while (n < rest && is_word(t[n])) ++n;
  if (reserved_word(t, n)) return false;
  s.pos += n;
  return true;
}

// backtick_identifier (atomic): "`" ~ (!"`" ~ ANY)* ~ "`"
bool backtick_identifier(State& s) {
  return rule<Rule::backtick_identifier>(s, seq(lit("`"), quoted_body<'`'>));
}

// identifier (atomic): !keyword ~ (ASCII_ALPHA | "_") ~ (ASCII_ALPHANUMERIC | "_")*
//                    | backtick_identifier
bool identifier(State& s) {
  return rule<Rule::identifier>(
      s, choice(unreserved_word, backtick_identifier));
}

// variable, label_name, rel_type_name, property_key_name, procedure_result_field (atomic):
// identifier
//
// In runs that record nothing, these read the identifier here at once: a word that is not a
// reserved word, or a backtick name closed by the next backtick.
template <Rule R>
bool name_rule(State& s) {
  if (s.recording || s.atomic) return rule<R, name_start>(s, identifier);
  if (s.aborted) return false;
  const std::uint32_t p = s.pos;
  if (p >= s.len) return false;
  const char* t = s.text + p;
  const std::uint32_t rest = s.len - p;
  std::uint32_t n = 0;
  if (is_word_start(t[0])) {
    n = 1;
    while (n < rest && is_word(t[n])) ++n;
    if (reserved_word(t, n)) return false;
  } else if (t[0] == '`') {
    const void* close = std::memchr(t + 1, '`', rest - 1);
    if (!close) return false;
    n = static_cast<std::uint32_t>(static_cast<const char*>(close) - t) + 1;
  } else {
    return false;
  }
  const auto start = s.tokens.size();
  emit(s, start_event(p, R));
  emit(s, end_event(p + n, R));
  s.tokens.link_last(start);
  s.pos = p + n;
  return true;
}
bool variable(State& s) { return name_rule<Rule::variable>(s); }
bool label_name(State& s) { return name_rule<Rule::label_name>(s); }
bool rel_type_name(State& s) { return name_rule<Rule::rel_type_name>(s); }
bool property_key_name(State& s) { return name_rule<Rule::property_key_name>(s); }
bool procedure_result_field(State& s) { return name_rule<Rule::procedure_result_field>(s); }

// procedure_name (atomic): identifier ~ ("." ~ identifier)*
bool procedure_name(State& s) {
  return rule<Rule::procedure_name, name_start>(s, seq(identifier, star(seq(lit("."), identifier))));
}

// namespace (atomic): (identifier ~ ".")+
bool namespace_(State& s) { return rule<Rule::namespace_>(s, plus(seq(identifier, lit(".")))); }

// function_name (atomic): namespace? ~ (ASCII_ALPHA | "_") ~ (ASCII_ALPHANUMERIC | "_")*
bool function_name(State& s) {
  return rule<Rule::function_name, name_start>(s, seq(opt(namespace_), one<is_word_start>, many<is_word>));
}

// or_kw, xor_kw, and_kw, not_kw (atomic): the word ~ !(ASCII_ALPHANUMERIC | "_")
bool or_kw(State& s) { return rule<Rule::or_kw, first_of<'o', 'O'>>(s, seq(ilit("OR"), word_end)); }
bool xor_kw(State& s) { return rule<Rule::xor_kw, first_of<'x', 'X'>>(s, seq(ilit("XOR"), word_end)); }
bool and_kw(State& s) { return rule<Rule::and_kw, first_of<'a', 'A'>>(s, seq(ilit("AND"), word_end)); }
bool not_kw(State& s) { return rule<Rule::not_kw, first_of<'n', 'N'>>(s, seq(ilit("NOT"), word_end)); }

// integer_literal (atomic): "0x" ~ ASCII_HEX_DIGIT+ | "0o" ~ ASCII_OCT_DIGIT+ | ASCII_DIGIT+
bool integer_literal(State& s) {
  return rule<Rule::integer_literal, is_digit>(
      s, choice(seq(lit("0x"), one<is_hex>, many<is_hex>), seq(lit("0o"), one<is_oct>, many<is_oct>),
                seq(one<is_digit>, many<is_digit>)));
}

// float_literal (atomic): ASCII_DIGIT+ ~ "." ~ ASCII_DIGIT* ~ (("e" | "E") ~ ("+" | "-")?
//                         ~ ASCII_DIGIT+)?
bool float_literal(State& s) {
  return rule<Rule::float_literal, is_digit>(
      s, seq(one<is_digit>, many<is_digit>, lit("."), many<is_digit>,
             opt(seq(one<is_exp>, opt(one<is_sign>), one<is_digit>, many<is_digit>))));
}

// string_literal (atomic): "\"" ~ (!"\"" ~ ANY)* ~ "\"" | "'" ~ (!"'" ~ ANY)* ~ "'"
bool string_literal(State& s) {
  return rule<Rule::string_literal, first_of<'"', '\''>>(
      s, choice(seq(lit("\""), quoted_body<'"'>), seq(lit("'"), quoted_body<'\''>)));
}

// boolean_literal: ^"TRUE" | ^"FALSE"
bool boolean_literal(State& s) {
  return rule<Rule::boolean_literal, first_of<'t', 'T', 'f', 'F'>>(s, choice(ilit("TRUE"), ilit("FALSE")));
}

// null_literal: ^"NULL"
bool null_literal(State& s) { return rule<Rule::null_literal, first_of<'n', 'N'>>(s, ilit("NULL")); }

// parameter (atomic): "$" ~ ((ASCII_ALPHA | "_") ~ (ASCII_ALPHANUMERIC | "_")* | ASCII_DIGIT+)
bool parameter(State& s) {
  return rule<Rule::parameter, first_of<'$'>>(
      s, seq(lit("$"), choice(seq(one<is_word_start>, many<is_word>),
                              seq(one<is_digit>, many<is_digit>))));
}

// ---------------------------------------------------------------------------------------------
// Silent rules (the implicit skip reads them itself; these run only when called from outside)
// ---------------------------------------------------------------------------------------------

// WHITESPACE (silent): " " | "\t" | "\r" | "\n"
bool WHITESPACE(State& s) { return one<is_ws>(s); }

// COMMENT (silent): "//" ~ (!"\n" ~ ANY)* ~ "\n"? | "/*" ~ (!"*/" ~ ANY)* ~ "*/"
bool COMMENT(State& s) {
  const std::uint32_t p = s.pos;
  if (p + 1 >= s.len || s.text[p] != '/') return false;
  const std::string_view rest(s.text + p + 2, s.len - p - 2);
  if (s.text[p + 1] == '/') {
    const auto nl = rest.find('\n');
    s.pos = nl == std::string_view::npos ? s.len : p + 2 + static_cast<std::uint32_t>(nl) + 1;
    return true;
  }
  if (s.text[p + 1] != '*') return false;
  const auto close = rest.find("*/");
  if (close == std::string_view::npos) return false;
  s.pos = p + 2 + static_cast<std::uint32_t>(close) + 2;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Running a rule from outside
// ---------------------------------------------------------------------------------------------

using RuleFn = bool (*)(State&);

constexpr RuleFn kRuleFunctions[] = {
#define TESSARY_RULE(name, display, kind) name,
#include "parser/rules.def"
};

constexpr RuleFn rule_function(Rule r) { return kRuleFunctions[static_cast<std::size_t>(r)]; }

// The rules of the expected list, ascending by number, each once.
std::vector<Rule> expected_rules(const State& s) {
  std::array<bool, kRuleCount> seen{};
  std::vector<bool> expanded(s.memo.size(), false);
  std::vector<Attempt> todo(s.expected.begin() + s.base, s.expected.end());
  while (!todo.empty()) {
    const Attempt a = todo.back();
    todo.pop_back();
    if (!a.replay) {
      seen[a.value] = true;
    } else if (!expanded[a.value]) {
      expanded[a.value] = true;
      const MemoEntry& m = s.memo[a.value];
      todo.insert(todo.end(), s.memo_expected.begin() + m.exp_off,
                  s.memo_expected.begin() + m.exp_off + m.exp_len);
    }
  }
  std::vector<Rule> out;
  for (std::size_t r = 0; r < kRuleCount; ++r) {
    if (seen[r]) out.push_back(static_cast<Rule>(r));
  }
  return out;
}

// The number of entries the events give once their replays are expanded; each entry's count
// is taken once.
std::size_t flat_size(const State& s, const Event* events, std::size_t n,
                      std::vector<std::int64_t>& sizes) {
  std::size_t total = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (event_kind(events[i]) != EventKind::Replay) {
      ++total;
      continue;
    }
    const std::uint32_t index = events[i].partner;
    if (sizes[index] < 0) {
      const MemoEntry& m = s.memo[index];
      sizes[index] = static_cast<std::int64_t>(flat_size(s, entry_events(s, m), m.tok_len, sizes));
    }
    total += static_cast<std::size_t>(sizes[index]);
  }
  return total;
}

// Writes the events as linked start and end entries, replays expanded in place. While a pair
// is open, its start entry's partner field links to the start entry open before it.
void flatten(const State& s, const Event* events, std::size_t n, TokenVector& out) {
  std::size_t total = n;
  if (!s.memo.empty()) {
    std::vector<std::int64_t> sizes(s.memo.size(), -1);
    total = flat_size(s, events, n, sizes);
  }
  out.resize(total);
  Token* o = out.data();
  constexpr std::uint32_t kNone = ~std::uint32_t{0};
  std::uint32_t open = kNone;
  std::uint32_t k = 0;
  struct Span {
    const Event* at;
    const Event* end;
  };
  std::vector<Span> stack;
  stack.reserve(64);
  stack.push_back(Span{events, events + n});
  while (!stack.empty()) {
    Span& top = stack.back();
    if (top.at == top.end) {
      stack.pop_back();
      continue;
    }
    const Event& e = *top.at++;
    switch (event_kind(e)) {
      case EventKind::Start:
        o[k] = Token{e.pos, open, e.rule, true};
        open = k++;
        break;
      case EventKind::End: {
        const std::uint32_t start = open;
        open = o[start].partner;
        o[start].partner = k;
        o[k++] = Token{e.pos, start, e.rule, false};
        break;
      }
      case EventKind::Replay: {
        const MemoEntry& m = s.memo[e.partner];
        const Event* first = entry_events(s, m);
        stack.push_back(Span{first, first + m.tok_len});
        break;
      }
    }
  }
}

constexpr std::string_view kTooDeep =
    "query nested too deeply: more than 256 levels of nested expressions, subqueries or clauses";
constexpr std::string_view kTooLong = "query too long: the recognizer reads at most 4 GiB";

static_assert(kMaxNesting == 256, "keep the nesting message in step with the bound");

}  // namespace

// ---------------------------------------------------------------------------------------------
// Entry
// ---------------------------------------------------------------------------------------------

namespace recognizer_detail {
namespace {

// The buffers of a run besides its event list, kept by each thread from one run to the next so
// that a run allocates little more than its token list. Buffers that a large text made large are
// not kept.
struct Spare {
  AttemptList expected;
  MemoTable memo_index;
  std::vector<MemoEntry> memo;
  std::vector<std::uint32_t> live;
  std::vector<std::uint32_t> cut_entries;
  std::vector<Event> memo_events;
  std::vector<Attempt> memo_expected;
};
thread_local Spare t_spare;
constexpr std::size_t kSpareLimit = 1 << 14;  // elements per buffer

void lend_spare(State& s) {
  Spare& spare = t_spare;
  s.expected = std::move(spare.expected);
  s.expected.truncate(0);
  s.memo_index = std::move(spare.memo_index);
  s.memo_index.clear();
  s.memo = std::move(spare.memo);
  s.memo.clear();
  s.live = std::move(spare.live);
  s.live.clear();
  s.cut_entries = std::move(spare.cut_entries);
  s.cut_entries.clear();
  s.memo_events = std::move(spare.memo_events);
  s.memo_events.clear();
  s.memo_expected = std::move(spare.memo_expected);
  s.memo_expected.clear();
}

template <class Buffer>
void keep_if_small(Buffer& spare, Buffer& used, std::size_t capacity) {
  if (capacity <= kSpareLimit) spare = std::move(used);
}

void give_back_spare(State& s) {
  Spare& spare = t_spare;
  keep_if_small(spare.expected, s.expected, s.expected.capacity());
  keep_if_small(spare.memo_index, s.memo_index, s.memo_index.capacity());
  keep_if_small(spare.memo, s.memo, s.memo.capacity());
  keep_if_small(spare.live, s.live, s.live.capacity());
  keep_if_small(spare.cut_entries, s.cut_entries, s.cut_entries.capacity());
  keep_if_small(spare.memo_events, s.memo_events, s.memo_events.capacity());
  keep_if_small(spare.memo_expected, s.memo_expected, s.memo_expected.capacity());
}

// A run's state with the thread's spare buffers, handed back when the run ends.
struct RunState : State {
  RunState() { lend_spare(*this); }
  ~RunState() { give_back_spare(*this); }
  RunState(const RunState&) = delete;
  RunState& operator=(const RunState&) = delete;
};

void start(State& s, std::string_view input, const Options& options) {
  s.text = input.data();
  s.len = static_cast<std::uint32_t>(input.size());
  s.memoize = options.memoize;
  s.tokens.reserve(64 + 3 * input.size());
  s.expected.reserve(64);
  if (s.memoize) {
    s.memo.reserve(32);
    s.live.reserve(32);
    s.memo_expected.reserve(128);
    s.memo_events.reserve(64 + input.size());
  }
}

// The token tree of a successful run.
Pairs pairs_of(State& s, std::string_view input) {
  auto list = std::make_shared<TokenList>();
  list->input = input;
  if (s.replays == 0) {
    list->tokens = s.tokens.take();  // linked as appended
  } else {
    flatten(s, s.tokens.data(), s.tokens.size(), list->tokens);
  }
  const auto n = static_cast<std::uint32_t>(list->tokens.size());
  const TokenList* raw = list.get();
  return Pairs(raw, 0, n, std::move(list));
}

}  // namespace

std::variant<Pairs, Error> parse_with(Rule rule, std::string_view input, const Options& options) {
  if (input.size() >= std::numeric_limits<std::uint32_t>::max()) {
    Error e = Error::new_from_pos({Rule::statement}, 0, input.substr(0, 0));
    e.message_override = std::string(kTooLong);
    return e;
  }
  const bool silent = rule_kind(rule) == RuleKind::silent;
  if (options.quick_first && !silent) {
    // Most texts are accepted: try without recording attempts, and record only to explain a
    // failure.
    RunState q;
    start(q, input, options);
    q.recording = false;
    if (rule_function(rule)(q) && !q.aborted) return pairs_of(q, input);
    if (options.quick_only) return Error::new_from_pos({Rule::statement}, 0, input);
  }

  RunState s;
  start(s, input, options);
  bool ok;
  if (silent) {
    ok = rule_function(rule)(s);
    // A silent rule leaves no pair, and a failed one records nothing: report the rule itself.
    if (!ok) {
      s.furthest = 0;
      s.expected.truncate(0);
      s.expected.push_back(Attempt{static_cast<std::uint32_t>(rule), false});
    }
  } else {
    ok = rule_function(rule)(s);
  }

  if (s.aborted) {
    Error e = Error::new_from_pos({s.abort_rule}, s.abort_pos, input);
    e.message_override = std::string(kTooDeep);
    return e;
  }
  if (ok) return pairs_of(s, input);
  std::vector<Rule> expected = expected_rules(s);
  if (expected.empty()) expected.push_back(rule);
  return Error::new_from_pos(std::move(expected), s.furthest, input);
}

}  // namespace recognizer_detail

std::variant<Pairs, Error> CypherParser::parse(Rule rule, std::string_view input) {
  return recognizer_detail::parse_with(rule, input, recognizer_detail::Options{});
}

}  // namespace tessary
