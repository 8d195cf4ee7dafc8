// The batch worker pool: every index runs exactly once, results land in their slots, a task's
// exception reaches the caller (which the Python layer raises after it has retaken the
// interpreter lock), several callers may use the pool at once, the waiting caller's poll stops
// a run, and a forked child runs batches whatever the pool was doing at the fork.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "batch/pool.hpp"

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

TEST(Pool, PollStopsTheCallsNotYetBegunAndThePoolStaysUsable) {
  // Run to the end, this would take seconds; the third poll stops it.
  constexpr std::size_t kCalls = 200000;
  std::atomic<std::size_t> ran{0};
  int polls = 0;
  const bool complete = parallel_for(
      kCalls,
      [&](std::size_t) {
        ran.fetch_add(1, std::memory_order_relaxed);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      },
      [&] { return ++polls < 3; });
  EXPECT_FALSE(complete);
  EXPECT_EQ(polls, 3);
  EXPECT_LT(ran.load(), kCalls / 2);

  std::vector<std::atomic<int>> runs(5000);
  EXPECT_TRUE(parallel_for(
      runs.size(), [&](std::size_t i) { runs[i].fetch_add(1, std::memory_order_relaxed); },
      [] { return true; }));
  for (std::size_t i = 0; i < runs.size(); ++i) ASSERT_EQ(runs[i].load(), 1) << i;
}

TEST(Pool, CallsUnderWayFinishBeforeAStoppedRunReturns) {
  constexpr std::size_t kCalls = 4000;
  std::vector<std::atomic<int>> begun(kCalls), ended(kCalls);
  const bool complete = parallel_for(
      kCalls,
      [&](std::size_t i) {
        begun[i].store(1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ended[i].store(1);
      },
      [] { return false; });
  EXPECT_FALSE(complete);
  std::size_t begun_count = 0;
  for (std::size_t i = 0; i < kCalls; ++i) {
    ASSERT_EQ(begun[i].load(), ended[i].load()) << i;
    begun_count += static_cast<std::size_t>(begun[i].load());
  }
  EXPECT_GE(begun_count, 1u);
  EXPECT_LT(begun_count, kCalls);
}

TEST(Pool, AFailingPollIsRethrownAfterTheCallsUnderWay) {
  std::atomic<int> under_way{0};
  std::atomic<int> most{0};
  EXPECT_THROW(parallel_for(
                   100000,
                   [&](std::size_t) {
                     under_way.fetch_add(1);
                     std::this_thread::sleep_for(std::chrono::milliseconds(1));
                     most.store(std::max(most.load(), under_way.load()));
                     under_way.fetch_sub(1);
                   },
                   []() -> bool { throw std::runtime_error("poll failed"); }),
               std::runtime_error);
  EXPECT_EQ(under_way.load(), 0);
  EXPECT_GE(most.load(), 1);
}

// Waits for a child process for at most `seconds`; its exit code, or -1 when it was killed or
// did not end in time (then it is killed).
int wait_for_child(pid_t pid, int seconds) {
  for (int tick = 0; tick < seconds * 100; ++tick) {
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

// In a child process: a run whose calls each take a while; 0 when every index ran once and,
// with a pool of several threads, on more than one thread.
int child_run(std::size_t expected_threads) {
  constexpr std::size_t kCalls = 256;
  std::vector<std::atomic<int>> runs(kCalls);
  std::mutex mutex;
  std::set<std::thread::id> threads;
  const bool complete = parallel_for(kCalls, [&](std::size_t i) {
    runs[i].fetch_add(1);
    {
      std::lock_guard<std::mutex> lock(mutex);
      threads.insert(std::this_thread::get_id());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  });
  if (!complete) return 2;
  for (auto& r : runs)
    if (r.load() != 1) return 3;
  if (expected_threads > 1 && threads.size() < 2) return 4;
  return 0;
}

// Keeps the pool busy on a thread of its own until stopped.
class BusyCaller {
 public:
  BusyCaller() : thread_([this] { loop(); }) {
    while (!running_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~BusyCaller() {
    stop_.store(true);
    thread_.join();
  }

 private:
  void loop() {
    while (!stop_.load()) {
      parallel_for(20000, [&](std::size_t) {
        running_.store(true);
        std::this_thread::sleep_for(std::chrono::microseconds(20));
      });
    }
  }
  std::atomic<bool> running_{false};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(Pool, AChildForkedWhileThePoolWorksRunsOnThreadsOfItsOwn) {
  const std::size_t threads = thread_count();
  BusyCaller busy;
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + 7 * round));
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int code = child_run(threads);
      if (code == 0 && round == 0) {
        // Its own child, forked while the child's runs are under way, does as well.
        BusyCaller child_busy;
        const pid_t grandchild = fork();
        if (grandchild == 0) _exit(child_run(threads));
        code = grandchild < 0 ? 5 : wait_for_child(grandchild, 60) == 0 ? 0 : 6;
      }
      _exit(code);
    }
    EXPECT_EQ(wait_for_child(pid, 60), 0);
  }
}

TEST(Pool, AChildForkedFromAnIdlePoolRunsOnThreadsOfItsOwn) {
  parallel_for(1000, [](std::size_t) {});
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) _exit(child_run(thread_count()));
  EXPECT_EQ(wait_for_child(pid, 60), 0);
}

TEST(Pool, APollThatForksLeavesTheChildToFinishTheRun) {
  // A signal handler may fork while the caller polls: in the child, the threads of the run are
  // gone, so the child makes every call again that it does not find done.
  constexpr std::size_t kCalls = 20000;
  std::vector<std::atomic<int>> done(kCalls);
  std::atomic<std::size_t> made{0};
  bool forked = false;
  pid_t child = -1;
  const bool complete = parallel_for(
      kCalls,
      [&](std::size_t i) {
        if (done[i].load() != 0) return;
        made.fetch_add(1);
        std::this_thread::sleep_for(std::chrono::microseconds(100));
        done[i].store(1);
      },
      [&] {
        if (!forked) {
          forked = true;
          child = fork();
        }
        return true;
      });
  std::size_t missing = 0;
  for (auto& d : done) missing += d.load() == 0 ? 1 : 0;
  if (child == 0) _exit(complete && missing == 0 ? 0 : 1);
  EXPECT_TRUE(complete);
  EXPECT_EQ(missing, 0u);
  EXPECT_EQ(made.load(), kCalls);
  ASSERT_GT(child, 0);
  EXPECT_EQ(wait_for_child(child, 60), 0);
}

TEST(Pool, ThreadCountParsing) {
  struct Case {
    const char* text;
    std::optional<std::size_t> count;
  };
  for (const Case& c : {Case{"4", 4}, Case{"+2", 2}, Case{"0", std::nullopt},
                        Case{"-1", std::nullopt}, Case{"", std::nullopt}, Case{"abc", std::nullopt},
                        Case{"3x", std::nullopt}, Case{"99999999999999999999999", std::nullopt}}) {
    EXPECT_EQ(parse_count(c.text), c.count) << c.text;
  }
  EXPECT_GE(thread_count(), 1u);
  EXPECT_LE(thread_count(), kMaxThreads);
}

}  // namespace
}  // namespace tessary::pool
