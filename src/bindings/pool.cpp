#include "bindings/pool.hpp"

#include <sched.h>
#include <tbb/blocked_range.h>
#include <tbb/global_control.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fstream>
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

// The pool itself: created once, never destroyed (worker threads may still be parked when the
// process exits).
struct Pool {
  explicit Pool(std::size_t n)
      : threads(n),
        stack(tbb::global_control::thread_stack_size, kWorkerStackBytes),
        // Raise the process-wide worker limit when more threads are asked for than CPUs exist;
        // never lower it below what other users of the runtime get by default.
        parallelism(tbb::global_control::max_allowed_parallelism,
                    std::max<std::size_t>(n, static_cast<std::size_t>(
                                                 std::max(1, tbb::info::default_concurrency())))),
        arena(static_cast<int>(n)) {}

  std::size_t threads;
  tbb::global_control stack;
  tbb::global_control parallelism;
  tbb::task_arena arena;
};

Pool& instance() {
  static Pool* pool = new Pool(configured_threads());
  return *pool;
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

void parallel_for(std::size_t n, const std::function<void(std::size_t)>& body) {
  if (n == 0) return;
  Pool& pool = instance();
  if (pool.threads == 1 || n == 1) {
    for (std::size_t i = 0; i < n; ++i) body(i);
    return;
  }
  pool.arena.execute([&] {
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, n),
                      [&](const tbb::blocked_range<std::size_t>& range) {
                        for (std::size_t i = range.begin(); i != range.end(); ++i) body(i);
                      });
  });
}

}  // namespace tessary::pool
