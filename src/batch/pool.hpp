#pragma once
// The process-wide worker pool of batch validation. It is created on first use, sized once from
// RAYON_NUM_THREADS, RAYON_RS_NUM_CPUS or the CPUs this process may use, and lives until the
// process exits. Nothing here knows about Python.
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

namespace tessary::pool {

// Stack size of every worker thread: deep enough for the parser's nesting bound.
inline constexpr std::size_t kWorkerStackBytes = std::size_t{16} << 20;
// No pool grows beyond this many threads, whatever the environment asks for.
inline constexpr std::size_t kMaxThreads = 1024;

// A thread-count setting as the environment writes it: a decimal count, optionally with a leading
// "+". Zero, a negative number, anything else or an overflow gives nothing.
std::optional<std::size_t> parse_count(std::string_view text);

// The CPUs this process may run on: the affinity mask, lowered by the CPU quota of its control
// group (cgroup v2 cpu.max, v1 cpu.cfs_quota_us / cpu.cfs_period_us) along the group's path.
// At least 1.
std::size_t available_cpus();

// The size the pool takes: RAYON_NUM_THREADS when it holds a positive count; when it holds 0, the
// available CPUs; otherwise RAYON_RS_NUM_CPUS when it holds a positive count; otherwise the
// available CPUs. Capped at kMaxThreads.
std::size_t configured_threads();

// The number of threads of the pool, which is created on first use.
std::size_t thread_count();

// How often, at most, the caller of parallel_for calls `poll` while the pool works.
inline constexpr std::chrono::milliseconds kPollInterval{50};

// Calls body(i) for every i in [0, n) and returns once no call is under way any more.
//
// The calling thread takes part in the work, beside the pool's workers, and calls poll() about
// every kPollInterval (never when poll is empty): between two of its own calls, and while it
// waits for the workers' last calls. When poll() returns false, the calls not yet begun are
// skipped, those under way finish, and parallel_for returns false; otherwise it returns true
// once every call has been made.
//
// When a call throws, the calls not yet begun are skipped and the first exception is rethrown
// here once the others have finished (an exception thrown by poll itself likewise).
//
// In a process forked from one whose pool had been started, the inherited pool's threads do not
// exist: there the calling thread works beside threads started for the call, so a forked child
// runs batches whatever its parent was doing. If poll() itself forks (a signal handler may), the
// new child cannot wait for threads it does not have: it calls body again for every index, on
// threads of its own, so body must then skip an index whose work it sees done.
bool parallel_for(std::size_t n, const std::function<void(std::size_t)>& body,
                  const std::function<bool()>& poll = {});

}  // namespace tessary::pool
