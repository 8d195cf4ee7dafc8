// The recognizer's engine, the parts that run once per run or rarely: the entry point, the
// per-thread state each run starts from, the flattening of a run's events into the token
// list, the expected rules of a failed run, and the rare paths of cutting events.
#include "parser/recognizer_engine.hpp"

#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "parser/recognizer.hpp"
#include "parser/recognizer_combinators.hpp"

namespace tessary::recognizer_detail {

// ---------------------------------------------------------------------------------------------
// Cutting events, the implicit skip
// ---------------------------------------------------------------------------------------------

void mark_cut(State& s, std::size_t n) {
  while (!s.live.empty() && s.memo[s.live.back()].at >= n) {
    const std::uint32_t index = s.live.back();
    s.live.pop_back();
    sync_live_end(s);
    s.memo[index].place = EntryPlace::Cut;
    s.cut_entries.push_back(index);
    s.tokens.set_stop(s.memo[index].at);
  }
}

void move_out_cut_entry(State& s) {
  MemoEntry& m = s.memo[s.cut_entries.back()];
  assert(m.place == EntryPlace::Cut && m.at == s.tokens.size());
  const Event* first = s.tokens.data() + m.at;
  m.place = EntryPlace::Moved;
  m.at = static_cast<std::uint32_t>(s.memo_events.size());
  s.memo_events.insert(s.memo_events.end(), first, first + m.tok_len);
  pop_cut_entry(s);
}

void make_room(State& s) {
  if (s.tokens.size() == s.tokens.stop()) move_out_cut_entry(s);
  s.tokens.grow_if_full();
}

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

// ---------------------------------------------------------------------------------------------
// The end of a run
// ---------------------------------------------------------------------------------------------

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
      const MemoRecord& m = s.memo_records[a.value];
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

namespace {

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
// is open, its start entry's partner field links to the start entry open before it; the inner
// end entries of a run of chain levels leave it open, and each end entry of a run links to the
// run's end entry before it (the innermost one to the start entry).
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
  // The open runs of chain levels that have had inner end entries, innermost last, each with
  // its last end entry so far.
  struct OpenRun {
    std::uint32_t start;
    std::uint32_t last_end;
  };
  std::vector<OpenRun> runs;
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
        o[k] = e;  // a folded leaf's fields too
        o[k].partner = open;
        open = k++;
        break;
      case EventKind::End: {
        if (e.chain != 0) {
          // An inner end of a run of chain levels: the run's start entry stays open.
          std::uint32_t inner = open;
          if (!runs.empty() && runs.back().start == open) {
            inner = std::exchange(runs.back().last_end, k);
          } else {
            runs.push_back(OpenRun{open, k});
          }
          o[k++] = Token{.pos = e.pos, .partner = inner, .rule = e.rule, .is_start = false,
                         .chain = e.chain};
          break;
        }
        const std::uint32_t start = open;
        open = o[start].partner;
        o[start].partner = k;
        std::uint32_t inner = start;
        if (!runs.empty() && runs.back().start == start) {
          inner = runs.back().last_end;
          runs.pop_back();
        }
        o[k++] = Token{e.pos, inner, e.rule, false};
        break;
      }
      case EventKind::Leaf:
        o[k] = e;
        o[k].partner = k;
        ++k;
        break;
      case EventKind::Replay: {
        const MemoEntry& m = s.memo[e.partner];
        const Event* first = entry_events(s, m);
        stack.push_back(Span{first, first + m.tok_len});
        break;
      }
    }
  }
}

}  // namespace

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

void start(State& s, std::string_view input, const Options& options) {
  s.text = input.data();
  s.len = static_cast<std::uint32_t>(input.size());
  s.memoize = options.memoize;
  s.tokens.reserve(64 + 3 * input.size());
  s.expected.reserve(64);
  if (s.memoize) {
    // Room for the entries a text of this size keeps in most cases (a memoized call reads at
    // least a few bytes, and most of them far more), so that the entry list seldom grows: a
    // vector that grows holds its old and new copies at once, and leaves the old one behind in
    // the heap. Only the pages entries are written into are touched.
    const std::size_t entries = 32 + input.size() / 16;
    s.memo.reserve(entries);
    s.live.reserve(entries);
    s.memo_expected.reserve(128);
    s.memo_events.reserve(64 + input.size());
  }
}

// ---------------------------------------------------------------------------------------------
// The run state
// ---------------------------------------------------------------------------------------------

namespace {

// Each thread keeps one run state from one run to the next, so that a run allocates little more
// than its token list: a run starts from it with its scalars set as a new state's and its
// buffers emptied, and when it ends the event list is let go (its tokens went to the pairs, or
// the run failed) and so are the buffers that a large text made large. Runs on one thread never
// overlap: the quick run ends before the recording run starts.
thread_local State t_state;
constexpr std::size_t kKeptLimit = 1 << 14;  // elements per buffer

// Calls `f(buffer)` for each buffer of the state besides its event list.
template <class F>
void for_each_buffer(State& s, F f) {
  f(s.expected);
  f(s.memo_index);
  f(s.memo);
  f(s.memo_records);
  f(s.live);
  f(s.cut_entries);
  f(s.memo_events);
  f(s.memo_expected);
}

// This thread's state. Out of line, so that a caller looks the thread-local up once and keeps
// its address: from a shared object every lookup is a call, and the compiler would otherwise
// repeat it for each field it touches.
[[gnu::noinline]] State& thread_state() { return t_state; }

// The thread's state for a run while the run lasts.
class RunState {
 public:
  RunState() : s_(thread_state()) {
    // Every scalar of a new state (the buffers are emptied below); a field added to State is
    // set here too, as the size check reminds.
    static_assert(sizeof(void*) != 8 || sizeof(State) == 384, "set every field of State in RunState");
    s_.text = nullptr;
    s_.len = 0;
    s_.pos = 0;
    s_.atomic = false;
    s_.furthest = 0;
    s_.base = 0;
    s_.level = 0;
    s_.peak = 0;
    s_.aborted = false;
    s_.abort_pos = 0;
    s_.abort_rule = Rule::statement;
    s_.memoize = true;
    s_.recording = true;
    s_.work = 0;
    s_.replays = 0;
    s_.live_end = 0;
    s_.tokens.set_stop(~std::size_t{0});
    for_each_buffer(s_, [](auto& buffer) { buffer.clear(); });
  }
  ~RunState() {
    s_.tokens = EventList();
    for_each_buffer(s_, [](auto& buffer) {
      if (buffer.capacity() > kKeptLimit) std::remove_cvref_t<decltype(buffer)>().swap(buffer);
    });
  }
  RunState(const RunState&) = delete;
  RunState& operator=(const RunState&) = delete;
  State& operator*() { return s_; }

 private:
  State& s_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Entry
// ---------------------------------------------------------------------------------------------

namespace {

constexpr std::string_view kTooDeep =
    "query nested too deeply: more than 256 levels of nested expressions, subqueries or clauses";
constexpr std::string_view kTooLong = "query too long: the recognizer reads at most 4 GiB";

static_assert(kMaxNesting == 256, "keep the nesting message in step with the bound");

}  // namespace

std::variant<Pairs, Error> parse_with(Rule rule, std::string_view input, const Options& options) {
  if (input.size() >= std::numeric_limits<std::uint32_t>::max()) {
    Error e = Error::new_from_pos({Rule::statement}, 0, input.substr(0, 0));
    e.message_override = std::string(kTooLong);
    return e;
  }
  const auto index = static_cast<std::size_t>(rule);
  const bool silent = rule_kind(rule) == RuleKind::silent;
  if (options.quick_first && !silent) {
    // Most texts are accepted: try without recording attempts, and record only to explain a
    // failure.
    RunState run;
    State& q = *run;
    start(q, input, options);
    q.recording = false;
    if (kQuickRules[index](q) && !q.aborted) return pairs_of(q, input);
    if (options.quick_only) return Error::new_from_pos({Rule::statement}, 0, input);
  }

  RunState run;
  State& s = *run;
  start(s, input, options);
  const bool ok = kRecordingRules[index](s);
  if (silent && !ok) {
    // A silent rule leaves no pair, and a failed one records nothing: report the rule itself.
    s.furthest = 0;
    s.expected.truncate(0);
    s.expected.push_back(Attempt{static_cast<std::uint32_t>(rule), false});
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

}  // namespace tessary::recognizer_detail

namespace tessary {

std::variant<Pairs, Error> CypherParser::parse(Rule rule, std::string_view input) {
  return recognizer_detail::parse_with(rule, input, recognizer_detail::Options{});
}

}  // namespace tessary
