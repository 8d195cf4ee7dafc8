#pragma once
// The recognizer's engine: the state of one run, its event list (the token list while the run
// goes on), its attempt record, and the memo of re-read rules with the cut, restore and replay
// of the events a memoized call left. The rule functions (recognizer_grammar.hpp) drive it
// through the combinators and wrappers of recognizer_combinators.hpp; the entry point that
// starts a run and turns its end state into pairs or an error is in recognizer_engine.cpp.
//
// What runs on every rule call is defined here, inline, so that each unit that compiles the
// grammar (recognizer.cpp, recognizer_quick.cpp) compiles it together with the rules.
#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "parser/pairs.hpp"
#include "parser/recognizer_internal.hpp"
#include "parser/rule.hpp"

namespace tessary::recognizer_detail {

// ---------------------------------------------------------------------------------------------
// Events
// ---------------------------------------------------------------------------------------------

// While a run goes on, the token list is a list of events: the start and the end of a pair,
// or a reference to the events a memoized call appended (a replay). Events are token entries:
// a replay is marked with the rule WHITESPACE, which never leaves a pair, and names its memo
// entry in the partner field. A pair's end event is linked to its start event when it is
// appended, so that without replays the event list is the pairs' token list as it stands;
// with replays it is flattened into a new list, linked as it is written. The run that records
// nothing leaves runs of chain levels (pairs.hpp), whose ends but the last are marked as inner
// ends: they leave the run's start event open, and each is linked to the run's end event before
// it (the innermost one to the start event). A short pair whose call appended nothing after
// its start event ends by rewriting that event as a leaf event, which stays its leaf entry in
// the token list (linked to itself, like every leaf entry, as it is written); a literal whose
// call appended a leaf event alone ends as a wrapped leaf event the same way. An atom that is
// the innermost level of a run and holds a leaf event alone folds it into the run's start
// event (pairs.hpp), which stays a start event.
using Event = Token;
enum class EventKind : std::uint8_t { Start, End, Leaf, Replay };
inline constexpr Rule kReplayMark = Rule::WHITESPACE;

inline Event start_event(std::uint32_t pos, Rule r) { return Token{pos, 0, r, true}; }
inline Event end_event(std::uint32_t pos, Rule r) { return Token{pos, 0, r, false}; }
// The leaf event of a pair from `pos` to `end` (at most kMaxLeafLen bytes apart, and not at the
// same place), at event `index`.
inline Event leaf_event(std::uint32_t pos, std::uint32_t end, Rule r, std::uint32_t index) {
  return Token{.pos = pos,
               .partner = index,
               .rule = r,
               .is_start = true,
               .leaf_len = static_cast<std::uint8_t>(end - pos)};
}
inline bool fits_leaf(std::uint32_t pos, std::uint32_t end) {
  return end != pos && end - pos <= kMaxLeafLen;
}
inline Event replay_event(std::uint32_t entry) { return Token{0, entry, kReplayMark, false}; }
inline EventKind event_kind(const Event& e) {
  if (e.rule == kReplayMark) return EventKind::Replay;
  if (e.is_start) {
    // A start event with a folded leaf stays open unless its run was closed at it.
    return e.leaf_len == 0 || (e.leaf_rule != 0 && !closed_at_start(e.rule)) ? EventKind::Start
                                                                             : EventKind::Leaf;
  }
  return EventKind::End;
}
// Where the pair of the last event so far ends, for an end event or a leaf event; for a start
// event with a folded leaf, where its levels above the atom that have no end event end.
inline std::uint32_t event_end(const Event& e) { return e.pos + e.leaf_len + blank_after(e.rule); }

// The event list of a run: appends and cuts are the recognizer's most frequent operations.
// Cutting keeps the events beyond the new end in the buffer until they are written over, so
// that they can be taken back unchanged (`restore`). The buffer is a token vector whose room is
// used without being sized, and becomes the pairs' token list at the end.
//
// The list also keeps the index at which the next append must first move a cut memo entry's
// events out of the way (`stop`, see State::cut_entries), so that an append tests one bound, the
// lower of that index and the capacity.
class EventList {
 public:
  std::size_t size() const { return size_; }
  const Event* data() const { return data_; }
  void reserve(std::size_t n) {  // before the first event only
    buf_.reserve(n);
    data_ = buf_.data();
    cap_ = buf_.capacity();
    limit_ = std::min(cap_, stop_);
  }
  std::size_t stop() const { return stop_; }
  void set_stop(std::size_t stop) {
    stop_ = stop;
    limit_ = std::min(cap_, stop_);
  }
  // Whether the next append needs room made first: the list is full, or reaches `stop`.
  [[gnu::always_inline]] bool at_limit() const { return size_ == limit_; }
  // Appends where neither bound stands (after at_limit, or once room is made).
  [[gnu::always_inline]] void append(const Event& e) { data_[size_++] = e; }
  void grow_if_full() {
    if (size_ == cap_) grow();
  }
  Event& operator[](std::size_t i) { return data_[i]; }
  void cut(std::size_t n) { size_ = n; }
  // Rewrites the start event at `start`, the last event, as the leaf event of its pair.
  void end_as_leaf(std::size_t start, std::uint32_t end) {
    Event& e = data_[start];
    e = leaf_event(e.pos, end, e.rule, static_cast<std::uint32_t>(start));
  }
  // Rewrites the start event at `start`, followed by the leaf event of its one inner pair, the
  // last event, as a wrapped leaf event of both (pairs.hpp).
  void end_as_wrapped_leaf(std::size_t start) {
    Event& e = data_[start];
    e = data_[start + 1];
    e.partner = static_cast<std::uint32_t>(start);
    e.chain = 1;
    size_ = start + 1;
  }
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
    cap_ = size_ = limit_ = 0;
    return std::move(buf_);
  }

 private:
  [[gnu::noinline]] void grow() {
    buf_.reserve(cap_ * 2 + 64);  // keeps every event, the kept cut ones included
    data_ = buf_.data();
    cap_ = buf_.capacity();
    limit_ = std::min(cap_, stop_);
  }
  TokenVector buf_;
  Event* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t cap_ = 0;
  std::size_t stop_ = ~std::size_t{0};
  std::size_t limit_ = 0;  // the lower of cap_ and stop_
};

// ---------------------------------------------------------------------------------------------
// Memo entries and attempts
// ---------------------------------------------------------------------------------------------

// One memoized call: what a rule did at a position, replayable into any caller's state.
// The events it appended stay where they are in the event list while they are there ("live");
// when they are cut from it they stay in its buffer until written over, and are then moved to
// State::memo_events. An entry made inside another entry's call refers to its place in that
// entry's events instead. Each event is thus moved at most once, and a replay appends a single
// event: the memo work stays linear. Where an entry's events are is one of these places, each
// reading `at` its own way; a failed call left none.
enum class EntryPlace : std::uint8_t {
  Failed,  // no events
  Live,    // in the event list, from index `at`
  Cut,     // cut from the list but still in its buffer from index `at`, not yet written over
  Nested,  // inside entry `parent`'s events, `at` events after their first
  Moved,   // in memo_events from index `at`
};

struct MemoEntry {
  std::uint32_t pos;      // where the call began (with `rule`, its key)
  std::uint32_t end;      // position after the call (success only)
  std::uint32_t tok_len;  // events it appended
  std::uint32_t at;       // where its events are, by `place`
  std::uint32_t parent;   // entry whose events hold these, when nested
  Rule rule;
  EntryPlace place;
  std::uint16_t depth;  // nesting levels it went below the level it was called at
  bool ok() const { return place != EntryPlace::Failed; }
};
static_assert(sizeof(MemoEntry) == 24);
static_assert(kMaxNesting < 0xFFFF, "a memo entry's depth is at most the nesting bound");

// What a memoized call of the run that records attempts recorded, by entry index: the expected
// rules in State::memo_expected from `exp_off` (none when `exp_len` is 0) at `furthest`.
struct MemoRecord {
  std::uint32_t exp_off;
  std::uint32_t exp_len;
  std::uint32_t furthest;
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
    if (size_ == cap_) [[unlikely]]
      grow();
    data_[size_++] = a;
  }
  // Keeps the first `n` pieces (n <= size()).
  void truncate(std::size_t n) { size_ = n; }
  void clear() { size_ = 0; }
  std::size_t capacity() const { return cap_; }
  void swap(AttemptList& other) noexcept {
    buf_.swap(other.buf_);
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(cap_, other.cap_);
  }
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

inline std::uint64_t memo_key(Rule r, std::uint32_t p) {
  return (static_cast<std::uint64_t>(p) << 8) | static_cast<std::uint64_t>(r);
}

// Open-addressing map from (rule, position) to an entry index. A slot holds the index alone:
// the key is the rule and position of the entry it names, in the entry list each call is
// given (the one the indexes refer to). The table is kept at most half full while small, where
// the probes of its lookups are most of its cost, and at most three quarters full from
// kCompactFrom slots on, where its size counts for more (and growing it leaves its old slots
// behind in the heap).
class MemoTable {
 public:
  bool empty() const { return size_ == 0; }
  std::size_t capacity() const { return slots_.size(); }
  void swap(MemoTable& other) noexcept {
    slots_.swap(other.slots_);
    std::swap(mask_, other.mask_);
    std::swap(size_, other.size_);
  }
  void clear() {
    if (size_ == 0) return;
    std::fill(slots_.begin(), slots_.end(), kEmpty);
    size_ = 0;
  }
  const std::uint32_t* find(const MemoEntry* entries, Rule r, std::uint32_t p) const {
    if (size_ == 0) return nullptr;
    for (std::size_t i = hash(memo_key(r, p)) & mask_;; i = (i + 1) & mask_) {
      if (slots_[i] == kEmpty) return nullptr;
      const MemoEntry& m = entries[slots_[i]];
      if (m.pos == p && m.rule == r) return &slots_[i];
    }
  }
  // Maps the key of entries[index] to `index`, in place of an entry of the same key.
  void insert(const MemoEntry* entries, std::uint32_t index) {
    const std::size_t n = slots_.size();
    if (size_ == (n < kCompactFrom ? n / 2 : n / 4 * 3)) grow(entries);
    const MemoEntry& m = entries[index];
    std::size_t i = hash(memo_key(m.rule, m.pos)) & mask_;
    for (; slots_[i] != kEmpty; i = (i + 1) & mask_) {
      const MemoEntry& o = entries[slots_[i]];
      if (o.pos == m.pos && o.rule == m.rule) break;
    }
    if (slots_[i] == kEmpty) ++size_;
    slots_[i] = index;
  }

 private:
  static constexpr std::uint32_t kEmpty = ~std::uint32_t{0};
  static constexpr std::size_t kCompactFrom = std::size_t{1} << 16;
  static std::size_t hash(std::uint64_t key) {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 32);
  }
  [[gnu::noinline]] void grow(const MemoEntry* entries) {
    std::vector<std::uint32_t> slots = std::move(slots_);
    const std::size_t cap = slots.empty() ? 64 : slots.size() * 2;
    slots_.assign(cap, kEmpty);
    mask_ = cap - 1;
    size_ = 0;
    for (const std::uint32_t index : slots) {
      if (index != kEmpty) insert(entries, index);
    }
  }
  std::vector<std::uint32_t> slots_;
  std::size_t mask_ = 0;
  std::size_t size_ = 0;
};

// ---------------------------------------------------------------------------------------------
// State
// ---------------------------------------------------------------------------------------------

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
  std::uint64_t work = 0;     // rule calls so far
  std::uint64_t replays = 0;  // replay events appended so far
  MemoTable memo_index;
  std::vector<MemoEntry> memo;
  std::vector<MemoRecord> memo_records;  // by entry, filled by the run that records attempts
  std::vector<std::uint32_t> live;  // entries whose tokens are live, by ascending first token
  std::uint32_t live_end = 0;       // first event of the last of them, plus one; 0 when none
  // Entries cut from the list whose events are still in its buffer, all at or after its end;
  // the lowest first index among them is the event list's `stop`. Their events do not overlap,
  // and the list holds them by descending first index: a cut moves the entries above its point
  // here, lowest last, and every one already here lies above all that the list has grown back
  // into since. So the entry that a replay takes back or that the list is about to write over
  // is the last one.
  std::vector<std::uint32_t> cut_entries;
  std::vector<Event> memo_events;
  std::vector<Attempt> memo_expected;

  std::uint32_t count_at_furthest() const {
    return static_cast<std::uint32_t>(expected.size()) - base;
  }
};

// Marks the live memo entries at or after event `n` as cut (see `cut`).
void mark_cut(State& s, std::size_t n);

// The next event goes where a cut entry begins: moves that entry's events out first.
void move_out_cut_entry(State& s);

// Makes room for the next event where the event list is at its limit: moves out the cut entry
// that begins there, grows the list where it is full.
void make_room(State& s);

// The functions below run on every rule call. They have internal linkage, like the
// combinators, so that each unit that includes them may drop the copies it has inlined
// everywhere: shared (vague-linkage) copies would have to stay, and the compiler would then
// inline far less. The few rare paths they call are defined in recognizer_engine.cpp.
namespace {

// ---------------------------------------------------------------------------------------------
// Appending and cutting events
// ---------------------------------------------------------------------------------------------

inline void sync_live_end(State& s) {
  s.live_end = s.live.empty() ? 0 : s.memo[s.live.back()].at + 1;
}

// Cuts the event list back to its first `n` events. Live memo entries among the cut events
// stay where they are in the buffer: a replay at the same place takes them back as they are,
// and they are moved out only when the list is about to write over them.
inline void cut(State& s, std::size_t n) {
  if (s.live_end > n) mark_cut(s, n);
  s.tokens.cut(n);
}

// Drops the lowest cut entry from the list of cut entries.
inline void pop_cut_entry(State& s) {
  s.cut_entries.pop_back();
  s.tokens.set_stop(s.cut_entries.empty() ? ~std::size_t{0} : s.memo[s.cut_entries.back()].at);
}

[[gnu::always_inline]] inline void emit(State& s, const Event& e) {
  if (s.tokens.at_limit()) [[unlikely]]
    make_room(s);
  s.tokens.append(e);
}

// ---------------------------------------------------------------------------------------------
// Runs of levels
//
// A rule's call whose pair is the first child of its caller's pair, with the same start, may
// be a level of the caller's run (pairs.hpp) instead of a pair of its own: it appends no start
// event, and counts one level more on the run's start event, the last event when it begins.
// Its end event is appended as an inner end of the run where it ends elsewhere than the level
// below it (or where it is the innermost level); the run's first level, when it ends, closes
// the run. A level's caller never gives it back without failing itself (its body has no
// alternative after the level, and nothing after it that can fail), so that the count on the
// start event stays right; a failed level puts the count and the link back as it found them.
// No memoized call stands between a level and its caller: its memo entry would hold the
// level's events without the start event that counts it.
// ---------------------------------------------------------------------------------------------

// The rule of the pair whose run a call of `r` may be a level of, or `r` itself.
constexpr Rule run_parent(Rule r) {
  switch (r) {
    case Rule::return_items:
      return Rule::return_body;
    case Rule::return_item:
      return Rule::return_items;
    default:
      return r;
  }
}

// The rules whose pairs may begin a run that the rule wrapper closes: those that another rule's
// pair may join (return_item a run of its expression's levels where it is no level itself).
constexpr bool heads_run(Rule r) {
  return r == Rule::return_body || r == Rule::return_items || r == Rule::return_item;
}

inline constexpr std::uint32_t kNoRun = ~std::uint32_t{0};

// A call that is a level of a run: the run's start event, and its count and link before.
struct RunJoin {
  std::uint32_t start = kNoRun;
  std::uint32_t partner = 0;
  std::uint8_t chain = 0;
  bool joined() const { return start != kNoRun; }
};

// The innermost of the levels that the start event `e` stands for.
inline Rule innermost_level(const Event& e) {
  return e.chain == 0 ? e.rule : kLevelRules[static_cast<std::size_t>(e.rule)][e.chain];
}

// Makes the call beginning at `p` a level of the run of the last event where that event is an
// open start event at `p` whose innermost level is `parent`.
[[gnu::always_inline]] inline RunJoin join_run(State& s, Rule parent, std::uint32_t p) {
  RunJoin join;
  const std::size_t n = s.tokens.size();
  if (n == 0) return join;
  Event& last = s.tokens[n - 1];
  if (!last.is_start || last.leaf_len != 0 || last.pos != p || innermost_level(last) != parent) {
    return join;
  }
  join.start = static_cast<std::uint32_t>(n - 1);
  join.partner = last.partner;
  join.chain = last.chain;
  ++last.chain;
  return join;
}

// Appends an inner end event of level `r` of the run at `start`, linked to the run's last end
// event (the start event for the innermost level's), and links the start event to it.
inline void emit_run_end(State& s, std::uint32_t start, Rule r, bool innermost) {
  Event e = end_event(s.pos, r);
  e.chain = 1;
  e.partner = innermost ? start : s.tokens[start].partner;
  emit(s, e);
  s.tokens[start].partner = static_cast<std::uint32_t>(s.tokens.size() - 1);
}

// Ends level `r` of a run, joined as `join`: it shares the run's last end event where that is
// the last event and ends here.
inline void end_run_level(State& s, const RunJoin& join, Rule r) {
  const Event& start = s.tokens[join.start];
  const bool innermost = start.chain == join.chain + 1;
  const std::size_t n = s.tokens.size();
  if (!innermost && start.partner == n - 1 && event_end(s.tokens[n - 1]) == s.pos) return;
  emit_run_end(s, join.start, r, innermost);
}

// A failed level: the run's start event as the level found it.
inline void leave_run(State& s, const RunJoin& join) {
  Event& start = s.tokens[join.start];
  start.chain = join.chain;
  start.partner = join.partner;
  start.leaf_rule = 0;  // a level holds no folded leaf when it joins
  start.leaf_len = 0;
  // nor marks, which only a start event with a folded leaf carries
  if ((rule_byte(start.rule) & kMarkedRun) != 0) start.rule = kRunRules[run_index(start.rule)];
}

// Closes the run whose start event, at `start`, is the last event and holds a folded leaf that
// all the run's levels end with (or after the blank after it): at that event, which is already
// its own partner.
inline void close_folded_run(State& s, std::uint32_t start) {
  Event& run = s.tokens[start];
  assert(run.partner == start && run.leaf_rule != 0);
  run.rule = with_run_mark(run.rule, kClosedAtStart);
}

// Folds the leaf event after the start event at `start`, the last event, into it where the
// atom, the innermost level of the run, holds that leaf alone (pairs.hpp) and ends here; else
// ends the atom with an inner end event. Returns whether it folded.
inline bool end_atom_level(State& s, std::uint32_t start) {
  const std::size_t n = s.tokens.size();
  if (n == start + 2) {
    const Event& leaf = s.tokens[n - 1];
    Event& run = s.tokens[start];
    // Only a leaf event (or a wrapped one) has a length here; the atom began with it, and a
    // leaf of a rule that a literal wraps is only ever a wrapped one under an atom.
    if (leaf.is_start && leaf.leaf_len != 0) {
      assert(leaf.leaf_rule == 0 && leaf.pos == run.pos && leaf.pos + leaf.leaf_len == s.pos &&
             leaf.chain == kFoldedLeafLevels[static_cast<std::size_t>(leaf.rule)] - 1);
      run.leaf_rule = static_cast<std::uint8_t>(leaf.rule);
      run.leaf_len = leaf.leaf_len;
      run.partner = start;
      cut(s, start + 1);
      return true;
    }
  }
  emit_run_end(s, start, Rule::atom, true);
  return false;
}

// Closes the run at `start`, that of a pair of rule `r` holding levels below it: its own end is
// the run's last end event where that is the last event and ends here, or one more.
inline void close_run(State& s, std::uint32_t start, Rule r) {
  const std::size_t n = s.tokens.size();
  if (s.tokens[start].partner == n - 1 && event_end(s.tokens[n - 1]) == s.pos) {
    if (n - 1 == start) {
      assert(s.tokens[start].leaf_rule != 0);
      close_folded_run(s, start);
    } else {
      s.tokens[n - 1].chain = 0;
    }
    return;
  }
  Event e = end_event(s.pos, r);
  e.partner = s.tokens[start].partner;
  emit(s, e);
  s.tokens[start].partner = static_cast<std::uint32_t>(s.tokens.size() - 1);
}

// ---------------------------------------------------------------------------------------------
// Attempt recording and the nesting bound
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
// Options::memoize = false runs the plain algorithm, for the differential tests.
// ---------------------------------------------------------------------------------------------

inline constexpr std::uint64_t kMemoMinWork = 24;

// Where an entry's events are now.
inline const Event* entry_events(const State& s, const MemoEntry& m) {
  switch (m.place) {
    case EntryPlace::Moved:
      return s.memo_events.data() + m.at;
    case EntryPlace::Nested:
      return entry_events(s, s.memo[m.parent]) + m.at;
    default:
      return s.tokens.data() + m.at;
  }
}

// Replays memo entry `index` here: its events, its end position and what it recorded (where
// `Records`, as begin_memo_call), as if the call were run again. Returns whether the call
// succeeded.
template <bool Records = true>
inline bool replay(State& s, std::uint32_t index) {
  MemoEntry& m = s.memo[index];
  if (s.level + m.depth > kMaxNesting) {
    // The call, run again here, would cross the nesting bound.
    abort_run(s, Rule::expression, s.pos);
    return false;
  }
  if (s.level + m.depth > s.peak) s.peak = s.level + m.depth;
  const bool ok = m.ok();
  if (ok) {
    if (m.place == EntryPlace::Cut && m.at == s.tokens.size()) {
      // The events are still in place, right where they would go: take them back.
      assert(s.cut_entries.back() == index);
      pop_cut_entry(s);
      m.place = EntryPlace::Live;
      s.live.push_back(index);
      sync_live_end(s);
      s.tokens.restore(m.at + m.tok_len);
    } else {
      emit(s, replay_event(index));
      ++s.replays;
    }
    s.pos = m.end;
  }
  // Merge what the call recorded.
  if constexpr (Records) {
    const MemoRecord& r = s.memo_records[index];
    if (r.exp_len != 0 && r.furthest >= s.furthest) {
      if (r.furthest > s.furthest) {
        s.expected.truncate(s.base);
        s.furthest = r.furthest;
      }
      s.expected.push_back(r.exp_len == 1 ? s.memo_expected[r.exp_off] : Attempt{index, true});
    }
  }
  return ok && !s.aborted;
}

// A memoized call while it runs: the caller's state it will be kept and merged against.
struct MemoCall {
  std::uint32_t pos;
  Rule rule;
  std::uint32_t furthest;
  std::uint32_t base;
  std::uint32_t peak;
  std::uint32_t level;
  std::uint64_t work;
  std::uint32_t tokens;
};

// Starts a memoized call of rule `r` here: it runs on a fresh record placed after the caller's.
// Without `Records` (a call of the run that records nothing, whose record stays empty) the
// record is left as it is.
template <bool Records = true>
[[gnu::always_inline]] inline MemoCall begin_memo_call(State& s, Rule r) {
  const MemoCall call{s.pos,
                      r,
                      s.furthest,
                      s.base,
                      s.peak,
                      s.level,
                      s.work,
                      static_cast<std::uint32_t>(s.tokens.size())};
  if constexpr (Records) {
    s.furthest = 0;
    s.base = static_cast<std::uint32_t>(s.expected.size());
  }
  s.peak = s.level;
  return call;
}

// Ends a memoized call that returned `ok`: keeps its entry if it did enough work, and merges
// its record into the caller's (where `Records`, as begin_memo_call).
template <bool Records = true>
[[gnu::always_inline]] inline void end_memo_call(State& s, const MemoCall& call, bool ok) {
  // A call that records nothing leaves an empty record.
  const std::uint32_t f1 = Records ? s.furthest : 0;
  const std::uint32_t n1 = Records ? s.count_at_furthest() : 0;
  const std::uint32_t depth = s.peak - call.level;
  const std::uint32_t tok0 = call.tokens;
  if (!s.aborted && s.work - call.work >= kMemoMinWork) {
    MemoEntry m{};
    m.pos = call.pos;
    m.rule = call.rule;
    m.place = ok ? EntryPlace::Live : EntryPlace::Failed;
    m.end = s.pos;
    m.tok_len = ok ? static_cast<std::uint32_t>(s.tokens.size()) - tok0 : 0;
    m.at = tok0;
    m.depth = static_cast<std::uint16_t>(depth);
    if constexpr (Records) {
      s.memo_records.push_back(
          MemoRecord{static_cast<std::uint32_t>(s.memo_expected.size()), n1, f1});
      s.memo_expected.insert(s.memo_expected.end(), s.expected.begin() + s.base, s.expected.end());
    }
    const auto index = static_cast<std::uint32_t>(s.memo.size());
    if (ok) {
      // Live entries made during this call lie inside its tokens: they now refer to them.
      while (!s.live.empty() && s.memo[s.live.back()].at >= tok0) {
        MemoEntry& inner = s.memo[s.live.back()];
        inner.place = EntryPlace::Nested;
        inner.parent = index;
        inner.at -= tok0;
        s.live.pop_back();
      }
      s.live.push_back(index);
      s.live_end = tok0 + 1;
    }
    s.memo.push_back(m);
    s.memo_index.insert(s.memo.data(), index);
  }

  // Merge the fresh record into the caller's, which sits at [call.base, s.base).
  s.peak = std::max(call.peak, s.peak);
  if constexpr (Records) {
    const std::uint32_t fresh = s.base;
    s.base = call.base;
    s.furthest = call.furthest;
    if (n1 != 0 && f1 >= call.furthest) {
      if (f1 > call.furthest) {
        s.expected.erase(call.base, fresh);
        s.furthest = f1;
      }
    } else {
      s.expected.truncate(fresh);
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Runs
// ---------------------------------------------------------------------------------------------

using RuleFunction = bool (*)(State&);
using RuleTable = std::array<RuleFunction, kRuleCount>;

// The grammar's rule functions by rule number: as written, for the run that records attempts
// (recognizer.cpp), and with the shortcuts of the run that records nothing
// (recognizer_quick.cpp).
extern const RuleTable kRecordingRules;
extern const RuleTable kQuickRules;

// Prepares `s` for a run over `input`: the text, the options, and room in its buffers.
void start(State& s, std::string_view input, const Options& options);

// The token tree of a successful run (its events, replays expanded).
Pairs pairs_of(State& s, std::string_view input);

// The rules of the expected list of a failed run, ascending by number, each once.
std::vector<Rule> expected_rules(const State& s);

}  // namespace tessary::recognizer_detail
