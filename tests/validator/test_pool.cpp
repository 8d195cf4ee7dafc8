// The batch worker pool: every index runs exactly once, results land in their slots, a task's
// exception reaches the caller (which the Python layer turns into PanicException after it has
// retaken the interpreter lock), and several callers may use the pool at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bindings/pool.hpp"

namespace tessary::pool {
namespace {

TEST(Pool, EveryIndexRunsOnceWhateverTheSize) {
  for (std::size_t n : {0, 1, 2, 3, 7, 64, 1000, 100000}) {
    SCOPED_TRACE(n);
    std::vector<std::atomic<int>> runs(n);
    parallel_for(n, [&](std::size_t i) { runs[i].fetch_add(1, std::memory_order_relaxed); });
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(runs[i].load(), 1) << i;
  }
}

TEST(Pool, ATaskFailureIsRethrownInTheCallerAndThePoolStaysUsable) {
  for (std::size_t failing : {std::size_t{0}, std::size_t{4999}, std::size_t{9999}}) {
    SCOPED_TRACE(failing);
    std::atomic<std::size_t> ran{0};
    try {
      parallel_for(10000, [&](std::size_t i) {
        ran.fetch_add(1, std::memory_order_relaxed);
        if (i == failing) throw std::runtime_error("task " + std::to_string(i) + " failed");
      });
      FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), "task " + std::to_string(failing) + " failed");
    }
    EXPECT_GE(ran.load(), 1u);
    EXPECT_LE(ran.load(), 10000u);
  }
  // Every task failing: one exception, nothing hangs.
  EXPECT_THROW(parallel_for(1000, [](std::size_t) { throw std::logic_error("all"); }),
               std::logic_error);
  std::vector<int> out(500);
  parallel_for(out.size(), [&](std::size_t i) { out[i] = static_cast<int>(i) * 2; });
  for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], static_cast<int>(i) * 2);
}

TEST(Pool, ConcurrentCallersGetTheirOwnResults) {
  constexpr int kCallers = 8;
  std::vector<std::vector<std::size_t>> results(kCallers);
  std::vector<std::thread> callers;
  for (int c = 0; c < kCallers; ++c) {
    callers.emplace_back([&, c] {
      for (int round = 0; round < 20; ++round) {
        const std::size_t n = 100 + static_cast<std::size_t>(c) * 37 + round;
        std::vector<std::size_t> slots(n);
        parallel_for(n, [&](std::size_t i) { slots[i] = i * kCallers + c; });
        for (std::size_t i = 0; i < n; ++i)
          if (slots[i] != i * kCallers + c) return;
        results[c] = slots;
      }
    });
  }
  for (auto& th : callers) th.join();
  for (int c = 0; c < kCallers; ++c) {
    const std::size_t n = 100 + static_cast<std::size_t>(c) * 37 + 19;
    ASSERT_EQ(results[c].size(), n) << c;
  }
}

TEST(Pool, ThreadCountParsing) {
  struct Case {
    const char* text;
    std::optional<std::size_t> count;
  };
  for (const Case& c : {Case{"4", 4}, Case{"+2", 2}, Case{"0", std::nullopt}, Case{"-1", std::nullopt},
                        Case{"", std::nullopt}, Case{"abc", std::nullopt}, Case{"3x", std::nullopt},
                        Case{"99999999999999999999999", std::nullopt}}) {
    EXPECT_EQ(parse_count(c.text), c.count) << c.text;
  }
  EXPECT_GE(thread_count(), 1u);
  EXPECT_LE(thread_count(), kMaxThreads);
}

}  // namespace
}  // namespace tessary::pool
