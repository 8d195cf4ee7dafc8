#include "batch/pool.hpp"

#include <pthread.h>
#include <sched.h>
#include <tbb/global_control.h>
#include <tbb/info.h>
#include <tbb/task_arena.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <sstream>
#include <string>
#include <vector>

namespace tessary::pool {

namespace {

std::optional<std::string> read_file(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<std::string_view> split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    std::size_t end = text.find(sep, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return parts;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\n' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\n' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

std::optional<unsigned long long> parse_u64(std::string_view s) {
  unsigned long long value = 0;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || ptr != s.data() + s.size() || s.empty()) return std::nullopt;
  return value;
}

// CPUs in the affinity mask of this process, or 0 when it cannot be read.
std::size_t affinity_cpus() {
  for (std::size_t cpus = 1024; cpus <= (std::size_t{1} << 20); cpus *= 2) {
    cpu_set_t* set = CPU_ALLOC(cpus);
    if (set == nullptr) return 0;
    std::size_t bytes = CPU_ALLOC_SIZE(cpus);
    CPU_ZERO_S(bytes, set);
    if (sched_getaffinity(0, bytes, set) == 0) {
      std::size_t count = static_cast<std::size_t>(CPU_COUNT_S(bytes, set));
      CPU_FREE(set);
      return count;
    }
    int err = errno;
    CPU_FREE(set);
    if (err != EINVAL) return 0;  // EINVAL: the kernel's mask is larger than ours; grow it.
  }
  return 0;
}

// One mounted control-group hierarchy: where it is mounted and which group path its root is.
struct Mount {
  std::string point;
  std::string root;
};

// The mount of the v2 hierarchy (want_v2) or of the v1 hierarchy that carries the cpu controller.
std::optional<Mount> find_mount(const std::string& mountinfo, bool want_v2) {
  for (std::string_view line : split(mountinfo, '\n')) {
    std::vector<std::string_view> fields = split(line, ' ');
    auto dash = std::find(fields.begin(), fields.end(), std::string_view("-"));
    if (fields.size() < 5 || dash == fields.end() || fields.end() - dash < 4) continue;
    std::string_view fstype = dash[1];
    if (want_v2) {
      if (fstype != "cgroup2") continue;
    } else {
      if (fstype != "cgroup") continue;
      std::vector<std::string_view> opts = split(dash[3], ',');
      if (std::find(opts.begin(), opts.end(), std::string_view("cpu")) == opts.end()) continue;
    }
    return Mount{std::string(fields[4]), std::string(fields[3])};
  }
  return std::nullopt;
}

// The group path of this process in the v2 hierarchy ("0::path") or in the v1 hierarchy whose
// controller list names cpu.
std::optional<std::string> group_path(const std::string& cgroup_file, bool want_v2) {
  for (std::string_view line : split(cgroup_file, '\n')) {
    std::size_t first = line.find(':');
    if (first == std::string_view::npos) continue;
    std::size_t second = line.find(':', first + 1);
    if (second == std::string_view::npos) continue;
    std::string_view id = line.substr(0, first);
    std::string_view controllers = line.substr(first + 1, second - first - 1);
    std::string_view path = line.substr(second + 1);
    if (want_v2) {
      if (id == "0" && controllers.empty()) return std::string(path);
    } else {
      std::vector<std::string_view> names = split(controllers, ',');
      if (std::find(names.begin(), names.end(), std::string_view("cpu")) != names.end())
        return std::string(path);
    }
  }
  return std::nullopt;
}

// CPUs allowed by one group directory's quota, or nothing when it sets none.
std::optional<std::size_t> quota_in(const std::string& dir, bool v2) {
  unsigned long long quota = 0, period = 0;
  if (v2) {
    auto text = read_file(dir + "/cpu.max");
    if (!text) return std::nullopt;
    std::vector<std::string_view> parts = split(trim(*text), ' ');
    if (parts.size() != 2) return std::nullopt;
    auto q = parse_u64(parts[0]);
    auto p = parse_u64(parts[1]);
    if (!q || !p) return std::nullopt;  // "max": no quota
    quota = *q;
    period = *p;
  } else {
    auto q_text = read_file(dir + "/cpu.cfs_quota_us");
    auto p_text = read_file(dir + "/cpu.cfs_period_us");
    if (!q_text || !p_text) return std::nullopt;
    auto q = parse_u64(trim(*q_text));  // -1: no quota
    auto p = parse_u64(trim(*p_text));
    if (!q || !p) return std::nullopt;
    quota = *q;
    period = *p;
  }
  if (period == 0) return std::nullopt;
  return std::max<std::size_t>(1, static_cast<std::size_t>(quota / period));
}

// The tightest quota along the group's path from its own directory up to the hierarchy's root.
std::optional<std::size_t> cgroup_cpus(bool v2) {
  auto mountinfo = read_file("/proc/self/mountinfo");
  auto cgroups = read_file("/proc/self/cgroup");
  if (!mountinfo || !cgroups) return std::nullopt;
  auto mount = find_mount(*mountinfo, v2);
  auto path = group_path(*cgroups, v2);
  if (!mount || !path) return std::nullopt;
  std::string relative = *path;
  if (mount->root != "/" && relative.compare(0, mount->root.size(), mount->root) == 0)
    relative = relative.substr(mount->root.size());
  while (!relative.empty() && relative.back() == '/') relative.pop_back();

  std::optional<std::size_t> tightest;
  while (true) {
    if (auto cpus = quota_in(mount->point + relative, v2))
      tightest = tightest ? std::min(*tightest, *cpus) : *cpus;
    if (relative.empty()) break;
    std::size_t slash = relative.rfind('/');
    relative.resize(slash == std::string::npos ? 0 : slash);
  }
  return tightest;
}

std::optional<std::size_t> env_count(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return parse_count(value);
}

bool env_is_zero(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return false;
  std::string_view text(value);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  auto n = parse_u64(text);
  return n && *n == 0;
}

using Body = std::function<void(std::size_t)>;
using Poll = std::function<bool()>;
using Clock = std::chrono::steady_clock;

// The pool itself: created once, never destroyed (worker threads may still be parked when the
// process exits). The thread that calls parallel_for works beside the pool's workers, so the
// pool has one thread fewer than the batch uses.
struct Pool {
  explicit Pool(std::size_t n)
      : threads(n),
        stack(tbb::global_control::thread_stack_size, kWorkerStackBytes),
        // Raise the process-wide worker limit when more threads are asked for than CPUs exist;
        // never lower it below what other users of the runtime get by default.
        parallelism(tbb::global_control::max_allowed_parallelism,
                    std::max<std::size_t>(n, static_cast<std::size_t>(
                                                 std::max(1, tbb::info::default_concurrency())))),
        arena(static_cast<int>(std::max<std::size_t>(n, 2) - 1), 0) {}

  std::size_t threads;
  tbb::global_control stack;
  tbb::global_control parallelism;
  tbb::task_arena arena;
};

// The number of fork() calls that made this process out of one in which the pool had been asked
// for: counted by a fork handler in each child. From the first one on, the pool's threads are
// those of an ancestor, which do not exist here, and the runtime's record of them is
// meaningless; batches then run on threads started for them.
std::atomic<unsigned> g_forks{0};

void count_fork_in_child() noexcept { g_forks.fetch_add(1, std::memory_order_relaxed); }

Pool& instance() {
  static Pool* pool = [] {
    // Registered before the pool exists, so that every child forked from here on knows.
    if (pthread_atfork(nullptr, nullptr, count_fork_in_child) != 0) throw std::bad_alloc();
    return new Pool(configured_threads());
  }();
  return *pool;
}

// The thread count for batches on threads of their own, in a forked child. Worked out in the
// child itself: the inherited pool object may even be half made, if the fork came while
// another thread was making it.
std::size_t fresh_thread_count() {
  static std::atomic<std::size_t> cached{0};
  std::size_t n = cached.load(std::memory_order_relaxed);
  if (n == 0) {
    n = configured_threads();
    cached.store(n, std::memory_order_relaxed);
  }
  return n;
}

enum class Outcome {
  kDone,       // every call made, or a failure to rethrow
  kCancelled,  // poll said stop
  kForked,     // poll forked, and this is the child: the helpers of the run are not here
};

// One parallel_for: the calling thread and its helpers take stretches of indices that no one has
// taken yet, the stretches shrinking as fewer indices are left, so that all finish together.
// Helpers hold the run by shared pointer: one that starts late, after the caller has returned,
// finds every index taken and only lets go of its reference. Body is called only for indices
// taken, all of which are settled before the caller returns.
class Run {
 public:
  Run(std::size_t n, const Body& body, std::size_t threads) noexcept
      : n_(n), body_(&body), threads_(threads) {}
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  bool stopped() const noexcept { return stopped_.load(std::memory_order_relaxed); }
  bool work_left() const noexcept { return next_.load(std::memory_order_relaxed) < n_; }

  // A helper's part: stretches until none is left.
  void help() noexcept {
    std::size_t begin = 0;
    std::size_t end = 0;
    while (claim(begin, end)) {
      for (std::size_t i = begin; i != end; ++i) call(i);
      settle(end - begin);
    }
  }

  // The calling thread's part: stretches like a helper, calling poll about every kPollInterval
  // between two calls, and then waiting, still polling, until every index is settled. Rethrows
  // the first failure.
  Outcome work_and_wait(const Poll& poll) {
    Clock::time_point next_poll = Clock::now() + kPollInterval;
    std::size_t begin = 0;
    std::size_t end = 0;
    while (claim(begin, end)) {
      for (std::size_t i = begin; i != end; ++i) {
        call(i);
        if (poll && !stopped() && Clock::now() >= next_poll) {
          if (!run_poll(poll)) return Outcome::kForked;
          next_poll = Clock::now() + kPollInterval;
        }
      }
      settle(end - begin);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    while (settled_.load(std::memory_order_acquire) != n_) {
      if (!poll || stopped()) {
        settled_all_.wait(lock);
        continue;
      }
      if (settled_all_.wait_until(lock, next_poll) != std::cv_status::timeout) continue;
      lock.unlock();
      if (!run_poll(poll)) return Outcome::kForked;
      next_poll = Clock::now() + kPollInterval;
      lock.lock();
    }
    if (failure_) std::rethrow_exception(failure_);
    return cancelled_ ? Outcome::kCancelled : Outcome::kDone;
  }

 private:
  // Takes the next stretch [begin, end); false when every index is taken.
  bool claim(std::size_t& begin, std::size_t& end) noexcept {
    constexpr std::size_t kLongest = 64;
    std::size_t first = next_.load(std::memory_order_relaxed);
    while (first < n_) {
      const std::size_t size = std::clamp<std::size_t>((n_ - first) / (4 * threads_), 1, kLongest);
      if (next_.compare_exchange_weak(first, first + size, std::memory_order_relaxed)) {
        begin = first;
        end = first + size;
        return true;
      }
    }
    return false;
  }

  // body(i), unless the run has stopped. A failure is kept (the first one) and stops the run.
  void call(std::size_t i) noexcept {
    if (stopped()) return;
    try {
      (*body_)(i);
    } catch (...) {
      stop(std::current_exception(), false);
    }
  }

  // Counts `count` indices as done with (called or skipped); the last ones wake the caller.
  void settle(std::size_t count) noexcept {
    if (settled_.fetch_add(count, std::memory_order_acq_rel) + count != n_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    settled_all_.notify_all();
  }

  // Stops the run for a failure or a cancellation, whichever comes first: the indices no one
  // has taken are settled at once, those under way finish.
  void stop(std::exception_ptr failure, bool cancel) noexcept {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!failure_ && !cancelled_) {
        failure_ = std::move(failure);
        cancelled_ = cancel;
      }
      stopped_.store(true, std::memory_order_relaxed);
    }
    const std::size_t first = next_.exchange(n_, std::memory_order_relaxed);
    if (first < n_) settle(n_ - first);
  }

  // Calls poll and stops the run when it says so or throws. False when poll forked and this is
  // the child: the run's helpers are not here, and one of them may have held the lock at the
  // fork, so nothing of the run may be touched any more.
  bool run_poll(const Poll& poll) noexcept {
    const unsigned forks = g_forks.load(std::memory_order_relaxed);
    bool go_on = false;
    std::exception_ptr failure;
    try {
      go_on = poll();
    } catch (...) {
      failure = std::current_exception();
    }
    if (g_forks.load(std::memory_order_relaxed) != forks) return false;
    if (failure) {
      stop(std::move(failure), false);
    } else if (!go_on) {
      stop(nullptr, true);
    }
    return true;
  }

  const std::size_t n_;
  const Body* body_;
  const std::size_t threads_;
  std::atomic<std::size_t> next_{0};     // the first index not taken yet
  std::atomic<std::size_t> settled_{0};  // indices done with
  std::atomic<bool> stopped_{false};
  std::mutex mutex_;
  std::condition_variable settled_all_;
  bool cancelled_ = false;      // under mutex_
  std::exception_ptr failure_;  // under mutex_
};

// Every call on the calling thread, polling between two calls.
bool run_here(std::size_t n, const Body& body, const Poll& poll) {
  Clock::time_point next_poll = Clock::now() + kPollInterval;
  for (std::size_t i = 0; i < n; ++i) {
    body(i);
    if (poll && i + 1 < n && Clock::now() >= next_poll) {
      if (!poll()) return false;
      next_poll = Clock::now() + kPollInterval;
    }
  }
  return true;
}

// The run with the pool's workers as helpers.
Outcome run_on_pool(Pool& pool, std::size_t n, const Body& body, const Poll& poll) {
  auto run = std::make_shared<Run>(n, body, pool.threads);
  const std::size_t helpers = std::min(pool.threads, n) - 1;
  try {
    for (std::size_t k = 0; k < helpers; ++k) pool.arena.enqueue([run] { run->help(); });
  } catch (const std::exception&) {
    // Out of memory for a task: the helpers enqueued so far, and the caller, do the work.
  }
  return run->work_and_wait(poll);
}

// A helper thread of a run in a forked child: starts the next helper while work is left, then
// helps.
struct Helper {
  std::shared_ptr<Run> run;
  std::size_t more;  // helpers still to start after this one
};

void* help_on_new_thread(void* arg) noexcept;

// Starts a detached helper thread; false when none can be started.
bool start_helper(const std::shared_ptr<Run>& run, std::size_t more) noexcept {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  bool started = false;
  Helper* helper = new (std::nothrow) Helper{run, more};
  if (helper != nullptr && pthread_attr_setstacksize(&attr, kWorkerStackBytes) == 0 &&
      pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED) == 0) {
    pthread_t thread;
    started = pthread_create(&thread, &attr, help_on_new_thread, helper) == 0;
  }
  if (!started) delete helper;
  pthread_attr_destroy(&attr);
  return started;
}

void* help_on_new_thread(void* arg) noexcept {
  std::unique_ptr<Helper> helper(static_cast<Helper*>(arg));
  // Each helper starts the next, so that the caller starts only one and begins work at once.
  if (helper->more > 0 && helper->run->work_left()) start_helper(helper->run, helper->more - 1);
  helper->run->help();
  return nullptr;
}

// The run with helpers on threads started for it (out of memory or of threads, fewer helpers,
// or none, do).
Outcome run_on_new_threads(std::size_t threads, std::size_t n, const Body& body, const Poll& poll) {
  auto run = std::make_shared<Run>(n, body, threads);
  const std::size_t helpers = std::min(threads, n) - 1;
  if (helpers > 0) start_helper(run, helpers - 1);
  return run->work_and_wait(poll);
}

}  // namespace

std::optional<std::size_t> parse_count(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  auto n = parse_u64(text);
  if (!n || *n == 0) return std::nullopt;
  return static_cast<std::size_t>(*n);
}

std::size_t available_cpus() {
  std::size_t cpus = affinity_cpus();
  if (cpus == 0) {
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    cpus = online > 0 ? static_cast<std::size_t>(online) : 1;
  }
  if (auto v2 = cgroup_cpus(true)) cpus = std::min(cpus, *v2);
  if (auto v1 = cgroup_cpus(false)) cpus = std::min(cpus, *v1);
  return std::max<std::size_t>(1, cpus);
}

std::size_t configured_threads() {
  std::size_t n = 0;
  if (auto count = env_count("RAYON_NUM_THREADS")) {
    n = *count;
  } else if (env_is_zero("RAYON_NUM_THREADS")) {
    n = available_cpus();
  } else if (auto legacy = env_count("RAYON_RS_NUM_CPUS")) {
    n = *legacy;
  } else {
    n = available_cpus();
  }
  return std::min(n, kMaxThreads);
}

std::size_t thread_count() { return instance().threads; }

bool parallel_for(std::size_t n, const Body& body, const Poll& poll) {
  if (n == 0) return true;
  const bool inherited = g_forks.load(std::memory_order_relaxed) != 0;
  Pool* pool = inherited ? nullptr : &instance();
  const std::size_t threads = inherited ? fresh_thread_count() : pool->threads;
  if (threads == 1 || n == 1) return run_here(n, body, poll);

  Outcome outcome =
      inherited ? run_on_new_threads(threads, n, body, poll) : run_on_pool(*pool, n, body, poll);
  while (outcome == Outcome::kForked) {
    // This is a child that poll forked: every index goes once more to threads of this process,
    // and body skips those it finds done.
    outcome = run_on_new_threads(fresh_thread_count(), n, body, poll);
  }
  return outcome == Outcome::kDone;
}

}  // namespace tessary::pool
