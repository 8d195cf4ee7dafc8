// Deep nesting fails with a parse error that says so, never with a crash, also on threads
// with a small stack.
#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>
#include <string>

#include "test_recognizer_support.hpp"

namespace tessary {
namespace {

using recognizer_detail::kMaxNesting;
using testing_support::outcome;
using testing_support::run;

struct Family {
  const char* name;
  std::string prefix;
  std::string base;
  std::function<std::string(const std::string&)> wrap;
  int levels_per_wrap;   // nesting levels one wrap adds
  int fixed_levels;      // levels outside the nest (the query, the item's expression)
  bool accepted = true;  // whether the nest parses while it stays within the bound
};

const std::vector<Family>& families() {
  static const std::vector<Family> all = {
      {"parentheses", "RETURN ", "1", [](const std::string& s) { return "(" + s + ")"; }, 1, 2},
      {"lists", "RETURN ", "1", [](const std::string& s) { return "[" + s + "]"; }, 1, 2},
      {"list_comprehension", "RETURN ", "l",
       [](const std::string& s) { return "[x IN " + s + " WHERE x > 0 | x]"; }, 1, 2},
      {"pattern_comprehension", "RETURN ", "1",
       [](const std::string& s) { return "[(a {p: " + s + "})-->(b) | b]"; }, 1, 2},
      {"shortest_path", "RETURN ", "1",
       [](const std::string& s) { return "shortestPath((a)-[{p: " + s + "}]-(b))"; }, 1, 2},
      {"exists", "RETURN ", "1",
       [](const std::string& s) { return "EXISTS { (a {p: " + s + "}) }"; }, 1, 2},
      {"call_subquery", "", "RETURN 1",
       [](const std::string& s) { return "CALL { " + s + " } RETURN 1"; }, 1, 2},
      {"count_subquery", "RETURN ", "1",
       [](const std::string& s) { return "COUNT { MATCH (n) WHERE " + s + " RETURN n }"; }, 2, 2},
      {"case", "RETURN ", "1",
       [](const std::string& s) { return "CASE WHEN " + s + " THEN 1 END"; }, 1, 2},
      {"foreach", "", "CREATE (n)",
       [](const std::string& s) { return "FOREACH (x IN l | " + s + ")"; }, 1, 2},
      {"slice", "RETURN ", "1", [](const std::string& s) { return "l[" + s + " ..]"; }, 1, 2},
      // A slice whose lower bound takes the point as a float fails, and so does the subscript
      // before it: the nest is refused, level after level, without re-reading it.
      {"failing_slice", "RETURN ", "1", [](const std::string& s) { return "l[" + s + "..]"; }, 1, 2,
       false},
      {"map", "RETURN ", "1", [](const std::string& s) { return "{a: " + s + "}"; }, 1, 2},
  };
  return all;
}

std::string nest(const Family& f, int wraps) {
  std::string s = f.base;
  for (int i = 0; i < wraps; ++i) s = f.wrap(s);
  return f.prefix + s;
}

// The most wraps that stay within the bound.
int max_wraps(const Family& f) {
  return (static_cast<int>(kMaxNesting) - f.fixed_levels) / f.levels_per_wrap;
}

bool too_deep(const std::variant<Pairs, Error>& r) {
  return std::holds_alternative<Error>(r) &&
         std::get<Error>(r).message().find("nested too deeply") != std::string::npos;
}

TEST(RecognizerNesting, AcceptedUpToTheBoundAndRefusedBeyond) {
  // Alternatives that re-read the innermost text may reach a level or two deeper than the
  // nest itself, so the bound is checked with that much room.
  for (const Family& f : families()) {
    const int wraps = max_wraps(f) - 2;
    const auto within = run(nest(f, wraps));
    if (f.accepted) {
      EXPECT_EQ(outcome(within), "ok") << f.name;
    } else {
      EXPECT_TRUE(std::holds_alternative<Error>(within) && !too_deep(within)) << f.name;
    }
    const auto deeper = run(nest(f, wraps + 3));
    EXPECT_TRUE(too_deep(deeper)) << f.name << ": " << outcome(deeper);
  }
}

TEST(RecognizerNesting, ErrorNamesTheProblemAndItsPlace) {
  const std::string q = "RETURN " + std::string(400, '(') + "1" + std::string(400, ')');
  const auto r = run(q);
  ASSERT_TRUE(too_deep(r));
  const Error& e = std::get<Error>(r);
  EXPECT_EQ(e.line, 1u);
  // The query and the item take two levels, so the expression after the 255th "(" is the first
  // one too deep.
  EXPECT_EQ(e.position, 7u + kMaxNesting - 1);
  EXPECT_FALSE(e.expected.empty());
  EXPECT_NE(e.rendered().find(" = query nested too deeply"), std::string::npos) << e.rendered();
}

TEST(RecognizerNesting, MemoReplayRespectsTheBound) {
  // The list literal fails at WHERE and the comprehension re-reads the same nest: the replayed
  // subtree must still count its levels.
  std::string inner = "1";
  for (int i = 0; i < static_cast<int>(kMaxNesting) - 3; ++i) inner = "(" + inner + ")";
  EXPECT_EQ(outcome(run("RETURN [x IN " + inner + " WHERE x]")), "ok");
  EXPECT_EQ(outcome(run("RETURN [x IN " + inner + " WHERE x]", false)), "ok");
  const std::string over = "RETURN [x IN (" + inner + ") WHERE x]";
  EXPECT_TRUE(too_deep(run(over)));
  EXPECT_TRUE(too_deep(run(over, false)));
}

TEST(RecognizerNesting, HugeNestingFailsCleanly) {
  for (const Family& f : families()) {
    EXPECT_TRUE(too_deep(run(nest(f, 5000)))) << f.name;
  }
  EXPECT_TRUE(too_deep(run("RETURN " + std::string(200000, '['))));
  EXPECT_TRUE(too_deep(run("MATCH (n) WHERE " + std::string(100000, '(') + " RETURN n")));
}

// Runs every family at its deepest accepted nesting, and beyond, on a thread whose stack is
// 1 MiB (more under sanitizers, whose frames are larger).
void* run_all_families(void* ok) {
  bool all = true;
  for (const Family& f : families()) {
    all = all && std::holds_alternative<Pairs>(run(nest(f, max_wraps(f) - 2))) == f.accepted;
    all = all && too_deep(run(nest(f, max_wraps(f) + 1)));
  }
  *static_cast<bool*>(ok) = all;
  return nullptr;
}

// Optimized builds fit the deepest nesting in well under 1 MiB; unoptimized and sanitizer
// builds have larger frames and get more.
#if defined(__SANITIZE_ADDRESS__) || !defined(__OPTIMIZE__)
constexpr std::size_t kWorkerStack = 16u << 20;
#else
constexpr std::size_t kWorkerStack = 1u << 20;
#endif

TEST(RecognizerNesting, BoundHoldsOnSmallStackThread) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, kWorkerStack), 0);
  bool ok = false;
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attr, run_all_families, &ok), 0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
  pthread_attr_destroy(&attr);
  EXPECT_TRUE(ok);
}

}  // namespace
}  // namespace tessary
