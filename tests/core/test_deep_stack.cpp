// Queries at the nesting bounds parse and validate on threads of any stack size: calls made
// with little stack left move to a helper thread instead of overflowing.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "deep_stack.hpp"
#include "parser/parse.hpp"
#include "parser/summary.hpp"
#include "schema.hpp"
#include "validator/validator.hpp"

namespace tessary {
namespace {

std::string repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// Runs `body` on a thread whose stack is `bytes` large and waits for it.
void on_stack(std::size_t bytes, const std::function<void()>& body) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, bytes), 0);
  auto trampoline = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attr, trampoline, const_cast<std::function<void()>*>(&body)),
            0);
  pthread_attr_destroy(&attr);
  pthread_join(thread, nullptr);
}

struct Deep {
  const char* name;
  std::string query;
  bool valid;  // within the bounds (a valid query) or past them (a parse error)
};

std::vector<Deep> deep_queries() {
  return {
      {"parentheses", "RETURN " + repeat("(", 254) + "1" + repeat(")", 254), true},
      {"maps", "RETURN " + repeat("{a: ", 254) + "1" + repeat("}", 254), true},
      {"lists", "RETURN " + repeat("[", 254) + "1" + repeat("]", 254), true},
      {"case", "RETURN " + repeat("CASE WHEN true THEN ", 254) + "1" + repeat(" END", 254), true},
      {"not_chain", "RETURN " + repeat("NOT ", 998) + "true", true},
      {"operator_chain", "RETURN 1" + repeat(" + 1", 998), true},
      {"maps_past_bound", "RETURN " + repeat("{a: ", 400) + "1" + repeat("}", 400), false},
      {"parentheses_100000", "RETURN " + repeat("(", 100000) + "1" + repeat(")", 100000), false},
  };
}

TEST(DeepStack, DeepQueriesOnSmallStacksGiveTheSameResultsAsOnTheMainThread) {
  Tessary validator(Schema{});
  for (const Deep& deep : deep_queries()) {
    SCOPED_TRACE(deep.name);
    const ValidationResult expected = validator.validate(deep.query);
    ASSERT_EQ(expected.is_valid, deep.valid);
    for (std::size_t kib : {32, 64, 256, 512}) {
      SCOPED_TRACE(kib);
      ValidationResult got;
      bool parsed = false;
      QuerySummary summary;
      // The tree parse() hands back is the caller's to destroy, and destroying it recurses
      // along its nesting: keep it until the small thread has ended.
      std::optional<std::variant<CypherQuery, CypherError>> tree;
      on_stack(kib << 10, [&] {
        got = validator.validate(deep.query);
        tree.emplace(parse(deep.query));
        parsed = std::holds_alternative<CypherQuery>(*tree);
        summary = summarize_query(deep.query);
      });
      EXPECT_EQ(got.is_valid, expected.is_valid);
      EXPECT_EQ(got.errors(), expected.errors());
      EXPECT_EQ(parsed, deep.valid);
      // The summary walks and drops its tree where there is stack enough (it crashed on
      // 32 KiB threads for long operator chains).
      EXPECT_EQ(summary.is_valid, deep.valid);
    }
  }
}

// The stack size of the calling thread as the thread library reports it (it may hand out a
// cached stack larger than the one asked for).
std::size_t own_stack_size() {
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return 0;
  std::size_t size = 0;
  pthread_attr_getstacksize(&attr, &size);
  pthread_attr_destroy(&attr);
  return size;
}

[[gnu::noinline]] std::size_t remaining_below(int frames) {
  volatile char pad[1024] = {};
  if (frames == 0) return deep_stack::remaining() + pad[0];
  return remaining_below(frames - 1) + pad[1];
}

TEST(DeepStack, RemainingIsWithinTheThreadsStackAndShrinksWithDepth) {
  on_stack(std::size_t{128} << 10, [] {
    const std::size_t size = own_stack_size();
    const std::size_t here = deep_stack::remaining();
    EXPECT_GT(here, 0u);
    EXPECT_LT(here, size);
    EXPECT_LE(remaining_below(16) + 16 * 1024, here);
  });
  on_stack(std::size_t{32} << 20,
           [] { EXPECT_GE(deep_stack::remaining(), deep_stack::kNeededBytes); });
}

TEST(DeepStack, CallReturnsValuesAndRethrowsFromTheHelper) {
  on_stack(std::size_t{64} << 10, [] {
    std::thread::id caller = std::this_thread::get_id();
    std::thread::id ran_on;
    int value = deep_stack::call([&] {
      ran_on = std::this_thread::get_id();
      return 42;
    });
    EXPECT_EQ(value, 42);
    EXPECT_NE(ran_on, caller);  // too little stack here: the helper ran it
    EXPECT_THROW(deep_stack::call([]() -> int { throw std::runtime_error("inner"); }),
                 std::runtime_error);
    bool ran = false;
    deep_stack::call([&] { ran = true; });
    EXPECT_TRUE(ran);
  });
  // With enough stack the call stays on the calling thread.
  std::thread::id ran_on;
  deep_stack::call([&] { ran_on = std::this_thread::get_id(); });
  EXPECT_EQ(ran_on, std::this_thread::get_id());
}

}  // namespace
}  // namespace tessary
