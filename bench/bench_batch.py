"""Times and sizes `validate_batch` on 100,000 queries (the corpus of bench_validate.py repeated):

1. scaling: the call on 1, 2, 4 and 8 worker threads with wall time, CPU time and speed-up, and
   the time Python then needs to free the returned list;
2. serial phases, on one worker thread: the work done before the interpreter lock is released
   (taking views of the texts), the parallel part, the work after the lock is retaken (creating
   the result objects) and freeing the results; and the pool's wake-up for a tiny batch;
3. memory: the peak growth of the resident set during the batch against the memory that the
   100,000 results hold once it has returned (the growth of the resident set that remains
   after the allocators have handed their free memory back to the system);
4. memory given back: for a batch of three times as many queries, on 8 threads and on one, the
   growth of the resident set while the results live and once they are deleted (the module
   hands the memory back by itself: nothing is trimmed by hand), and how long deleting takes;
5. with --baseline DIR (a folder holding another build's _tessary module): this build and that
   one in turn, several rounds, each run in a fresh process: the first batch of a process, and
   the call and the freeing of the returned list when batches follow one another (best of 3
   after a first one), with the medians and the ratios of the pairs.

With --versus, only this instead: threads against processes on the same machine at the same
moment. One process validates the batch on N threads; N processes, each on one thread, validate
the whole batch each, started together; and one process alone validates it on one thread. The
three take turns, several times per round, in fresh processes each round (with --baseline, the
other build's three take turns with them). The figure is the threads' throughput over the
processes' (count / threads' time against N x count / the processes' wall time), worked out
for each turn from measurements made back to back, so that it holds up under other load on the
machine better than the times themselves; also the CPU time per query in each mode.

Every measurement runs in a process of its own, since the pool is sized once per process and
the peak resident set is a high-water mark. The serial phases are seen from Python: a second
thread stamps the clock in a loop, which it can only do while the batch has released the lock,
so the first and last stamps inside the call mark where the lock was released and retaken.

Run: PYTHONPATH=build/src/bindings .venv/bin/python bench/bench_batch.py [--quick] [--count N]
         [--baseline DIR [--rounds R]]
     PYTHONPATH=build/src/bindings .venv/bin/python bench/bench_batch.py --versus [--threads N]
         [--count N (default 50,000)] [--rounds R] [--turns T] [--baseline DIR]
"""

import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

# A valid query of 400 bytes: its result is small, so the copied texts weigh most in the batch.
LONG_VALID = ("MATCH (p:Person)-[r:ACTED_IN]->(m:Movie) WHERE m.released > 2000 AND p.born < 1970 "
              "AND m.rating > 5 AND m.title STARTS WITH 'A' AND p.name CONTAINS 'x' "
              "RETURN p.name, m.title, r.role, m.released, m.rating, p.born, p.email "
              "ORDER BY m.released DESC, m.rating DESC, p.name SKIP 10 LIMIT 25")
LONG_VALID += " " * (400 - len(LONG_VALID))

PRELUDE = """
import ctypes, gc, json, os, resource, sys, threading, time
sys.path[:0] = {path!r}
import _tessary
from bench_validate import CORPUS, SCHEMA
from bench_batch import LONG_VALID
validator = _tessary.Tessary(_tessary.Schema(SCHEMA["nodes"], SCHEMA["relationships"]))
queries = [CORPUS[i % len(CORPUS)] for i in range({count})]

def cpu():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime
"""

SCALING = """
validator.validate_batch(queries)  # starts the pool
best = {{"seconds": float("inf"), "cpu_seconds": float("inf"), "free_seconds": float("inf"),
         "total_seconds": float("inf")}}
for _ in range({repeats}):
    start, start_cpu = time.perf_counter(), cpu()
    results = validator.validate_batch(queries)
    returned, returned_cpu = time.perf_counter(), cpu()
    del results
    freed = time.perf_counter()
    for key, value in (("seconds", returned - start), ("cpu_seconds", returned_cpu - start_cpu),
                       ("free_seconds", freed - returned), ("total_seconds", freed - start)):
        best[key] = min(best[key], value)
print(json.dumps(best))
"""

PHASES = """
validator.validate_batch(queries)
sys.setswitchinterval(2e-5)

def phases():
    stamps, stop, started = [], [False], threading.Event()
    def stamp():
        started.set()
        clock = time.perf_counter
        while not stop[0]:
            stamps.append(clock())
    thread = threading.Thread(target=stamp)
    thread.start()
    started.wait()
    time.sleep(0.01)
    start = time.perf_counter()
    results = validator.validate_batch(queries)
    end = time.perf_counter()
    stop[0] = True
    thread.join()
    del results
    freed = time.perf_counter()
    points = [start] + [s for s in stamps if start <= s <= end] + [end]
    # The stamps are dense (microseconds apart) while the lock is released. The lock is taken
    # back where the last long pause begins that ends right at the call's return.
    dense = [i for i in range(len(points) - 1) if points[i + 1] - points[i] < 5e-5]
    pauses = [i for i in range(len(points) - 1)
              if points[i + 1] - points[i] > 2e-4 and end - points[i + 1] < 1e-3]
    if not dense or not pauses:
        return None  # the stamping thread did not get to run where it had to: not counted
    released, retaken = points[dense[0]], points[pauses[-1]]
    return {{"before_release": released - start, "parallel": retaken - released,
             "after_retake": end - retaken, "free": freed - end, "call": end - start}}

runs = [r for r in (phases() for _ in range({repeats})) if r is not None]
sys.setswitchinterval(0.005)
if not runs:
    sys.exit("no run showed where the lock was released and retaken")
# The median of each phase: a single run may be slowed by other work on the machine.
print(json.dumps({{key: sorted(r[key] for r in runs)[len(runs) // 2] for key in runs[0]}}))
"""

WAKEUP = """
validator.validate_batch(queries)
tiny = ["RETURN 1"] * {tiny}
for _ in range(50):
    validator.validate_batch(tiny)
samples = []
for _ in range(2000):
    start = time.perf_counter()
    validator.validate_batch(tiny)
    samples.append(time.perf_counter() - start)
    time.sleep(0.0002)  # lets the workers go back to sleep between calls
samples.sort()
print(json.dumps({{"median": samples[len(samples) // 2], "p90": samples[len(samples) * 9 // 10]}}))
"""

MEMORY = """
class Mallinfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
        "fordblks", "keepcost")]

libc = ctypes.CDLL(None)
libc.mallinfo2.restype = Mallinfo2
libc.malloc_trim.argtypes = [ctypes.c_size_t]
page = os.sysconf("SC_PAGE_SIZE")

def malloc_in_use():
    info = libc.mallinfo2()
    return info.uordblks + info.hblkhd

def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * page

def trim():
    # Hands the allocators' free memory back to the system, so that the resident set counts
    # what is in use: the C library's heaps, and oneTBB's scalable allocator when it is loaded.
    libc.malloc_trim(0)
    try:
        ctypes.CDLL("libtbbmalloc.so.2").scalable_allocation_command(0, None)
    except (OSError, AttributeError):
        pass

if {long_valid}:
    queries = [LONG_VALID] * {count}
validator.validate_batch(["RETURN 1"] * 64)  # starts the pool and its threads
gc.collect()
gc.disable()
trim()
rss_before, in_use_before = rss(), malloc_in_use()
peak_before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
results = validator.validate_batch(queries)
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
rss_after = rss()
trim()
print(json.dumps({{
    "peak_growth": peak - max(rss_before, peak_before) if peak > peak_before else 0,
    "rss_growth_after": rss_after - rss_before, "held": rss() - rss_before,
    "malloc_held": malloc_in_use() - in_use_before,
    "objects": sum(sys.getsizeof(r) for r in results),
    "texts": sum(len(q.encode()) for q in queries)}}))
"""

GIVEN_BACK = """
page = os.sysconf("SC_PAGE_SIZE")

def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * page

validator.validate_batch(["RETURN 1"] * 64)  # starts the pool and its threads
gc.collect()
gc.disable()
start = rss()
results = validator.validate_batch(queries)
held = rss() - start
begin = time.perf_counter()
del results
free_seconds = time.perf_counter() - begin
print(json.dumps({{"held": held, "after_free": rss() - start, "free_seconds": free_seconds}}))
"""

FIRST = """
validator.validate_batch(["RETURN 1"] * 64)  # starts the pool and its threads
start = time.perf_counter()
results = validator.validate_batch(queries)
print(json.dumps({{"seconds": time.perf_counter() - start}}))
"""


# A process that validates the batch once to warm up, then once per "go" line read, printing
# when the call began and ended (the clock is the same in every process) and the CPU time the
# process spent in it.
TURNS = """
results = validator.validate_batch(queries)
del results
print("ready", flush=True)
for line in sys.stdin:
    if line.strip() != "go":
        break
    start, start_cpu = time.perf_counter(), cpu()
    results = validator.validate_batch(queries)
    end, end_cpu = time.perf_counter(), cpu()
    del results
    print(json.dumps({{"start": start, "end": end, "cpu": end_cpu - start_cpu}}), flush=True)
"""


def run(code, threads, cpus=None, **fields):
    env = dict(os.environ)
    env.pop("RAYON_RS_NUM_CPUS", None)
    env["RAYON_NUM_THREADS"] = str(threads)
    fields.setdefault("path", [HERE] + sys.path)
    script = (PRELUDE + code).format(**fields)

    def pin():
        if cpus:
            os.sched_setaffinity(0, cpus)

    out = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True,
                         check=True, preexec_fn=pin)
    return json.loads(out.stdout.strip().splitlines()[-1])


def mib(n):
    return n / (1 << 20)


def main(argv):
    if "--versus" in argv:
        return versus(argv)
    quick = "--quick" in argv
    count = int(argv[argv.index("--count") + 1]) if "--count" in argv else 100_000
    repeats = 3 if quick else 7
    cpus = sorted(os.sched_getaffinity(0))

    print("validate_batch() of %d queries, best of %d (CPUs usable: %d; load average %.2f)"
          % (count, repeats, len(cpus), os.getloadavg()[0]))
    print("  call = the call itself; + free = until Python has freed the returned list")
    baseline = None
    for threads in (1, 2, 4, 8):
        r = run(SCALING, threads, count=count, repeats=repeats)
        baseline = baseline or r
        print("  %d thread(s): call %7.1f ms  speed-up %5.2fx  CPU %7.1f ms | free %5.1f ms | "
              "call + free %7.1f ms  speed-up %5.2fx"
              % (threads, r["seconds"] * 1e3, baseline["seconds"] / r["seconds"],
                 r["cpu_seconds"] * 1e3, r["free_seconds"] * 1e3, r["total_seconds"] * 1e3,
                 baseline["total_seconds"] / r["total_seconds"]))
    print("  (load average now %.2f)" % os.getloadavg()[0])

    # One worker thread, pinned with the stamping thread to two CPUs of their own.
    print("\nserial phases, 1 worker thread, median of %d (load average %.2f)"
          % (repeats, os.getloadavg()[0]))
    p = run(PHASES, 1, cpus=cpus[-2:] if len(cpus) >= 2 else None, count=count,
            repeats=repeats)
    for key, label in (("before_release", "before the lock is released (views of the texts)"),
                       ("parallel", "lock released (validation)"),
                       ("after_retake", "after the lock is retaken (result objects)"),
                       ("free", "freeing the returned list")):
        print("  %-50s %7.2f ms  %6.1f ns/query" % (label, p[key] * 1e3, p[key] / count * 1e9))

    print("\npool wake-up: a batch of one short query per thread, median (90th percentile)")
    for threads in (1, 8):
        w = run(WAKEUP, threads, count=1000, tiny=threads)
        print("  %d thread(s): %6.1f us (%6.1f us)" % (threads, w["median"] * 1e6, w["p90"] * 1e6))

    for long_valid, what in ((False, "the corpus"), (True, "valid 400-byte queries")):
        print("\nmemory of one batch of %s on 8 threads (load average %.2f)"
              % (what, os.getloadavg()[0]))
        m = run(MEMORY, 8, count=count, long_valid=long_valid)
        held = m["held"]
        print("  query texts (UTF-8 bytes)                      %7.1f MiB" % mib(m["texts"]))
        print("  peak growth of the resident set in the batch   %7.1f MiB" % mib(m["peak_growth"]))
        print("  resident set growth right after it             %7.1f MiB"
              % mib(m["rss_growth_after"]))
        print("  results held (that growth once the allocators  %7.1f MiB  %d B/result"
              % (mib(held), held / count))
        print("  have handed back their free memory); of which C malloc in use %.1f MiB,"
              " result objects %.1f MiB" % (mib(m["malloc_held"]), mib(m["objects"])))
        ratio = m["peak_growth"] / held if held > 0 else float("inf")
        print("  peak growth / results held: %.2f (target: at most 2.00) -> %s"
              % (ratio, "met" if ratio <= 2 else "NOT met"))

    big = 3 * count
    print("\nmemory given back: a batch of %d queries of the corpus, its results deleted"
          " (load average %.2f)" % (big, os.getloadavg()[0]))
    for threads in (8, 1):
        g = run(GIVEN_BACK, threads, count=big)
        print("  %d thread(s): resident set growth with the results %7.1f MiB, after deleting"
              " them %5.1f MiB (target: at most 64 MiB) -> %s; deleting took %6.1f ms"
              % (threads, mib(g["held"]), mib(g["after_free"]),
                 "met" if g["after_free"] <= 64 << 20 else "NOT met", g["free_seconds"] * 1e3))

    if "--baseline" in argv:
        rounds = int(argv[argv.index("--rounds") + 1]) if "--rounds" in argv else 7
        compare(argv[argv.index("--baseline") + 1], count, rounds)
    return 0


def compare(baseline, count, rounds):
    """This build against the module in `baseline`, in turn, each run a fresh process."""
    print("\nthis build against %s: validate_batch() of %d queries, %d rounds in turn"
          " (load average %.2f)" % (baseline, count, rounds, os.getloadavg()[0]))
    print("  first call = the first batch of a process; call, free = best of 3 batches that"
          " follow a first one, each freed before the next")
    sides = {"this": [HERE] + sys.path, "baseline": [HERE, os.path.abspath(baseline)] + sys.path}
    for threads in (8, 1):
        runs = {side: [] for side in sides}
        for _ in range(rounds):
            for side, path in sides.items():
                r = run(SCALING, threads, count=count, repeats=3, path=path)
                r["first_seconds"] = run(FIRST, threads, count=count, path=path)["seconds"]
                runs[side].append(r)
        print("  %d thread(s), medians:" % threads)
        for key, label in (("first_seconds", "first call"), ("seconds", "call"),
                           ("free_seconds", "free"), ("total_seconds", "call + free")):
            this = [r[key] for r in runs["this"]]
            base = [r[key] for r in runs["baseline"]]
            ratios = sorted(a / b for a, b in zip(this, base))
            print("    %-12s this %8.1f ms   baseline %8.1f ms   this/baseline %.3f (%.3f-%.3f)"
                  % (label, median(this) * 1e3, median(base) * 1e3, median(ratios), ratios[0],
                     ratios[-1]))
    print("  (load average now %.2f)" % os.getloadavg()[0])


class Turns:
    """Processes running TURNS, each batch started by go()."""

    def __init__(self, path, threads, processes, count):
        env = dict(os.environ)
        env.pop("RAYON_RS_NUM_CPUS", None)
        env["RAYON_NUM_THREADS"] = str(threads)
        script = (PRELUDE + TURNS).format(path=path, count=count)
        self.children = [subprocess.Popen([sys.executable, "-c", script], env=env, text=True,
                                          stdin=subprocess.PIPE, stdout=subprocess.PIPE)
                         for _ in range(processes)]
        for child in self.children:
            if child.stdout.readline().strip() != "ready":
                raise RuntimeError("a benchmark process failed to start")

    def go(self, processes=None):
        """One batch in every process (or in the first `processes`) at once: the wall time from
        the first start to the last end, and the CPU time of all."""
        children = self.children[:processes]
        for child in children:
            child.stdin.write("go\n")
            child.stdin.flush()
        turns = [json.loads(child.stdout.readline()) for child in children]
        wall = max(t["end"] for t in turns) - min(t["start"] for t in turns)
        return wall, sum(t["cpu"] for t in turns)

    def close(self):
        for child in self.children:
            child.stdin.close()
        for child in self.children:
            child.wait()


def versus(argv):
    """N threads in one process against N processes of one thread, over the same queries."""
    threads = int(argv[argv.index("--threads") + 1]) if "--threads" in argv else 8
    count = int(argv[argv.index("--count") + 1]) if "--count" in argv else 50_000
    rounds = int(argv[argv.index("--rounds") + 1]) if "--rounds" in argv else 5
    turns = int(argv[argv.index("--turns") + 1]) if "--turns" in argv else 4
    sides = {"this": [HERE] + sys.path}
    if "--baseline" in argv:
        sides["baseline"] = [HERE, os.path.abspath(argv[argv.index("--baseline") + 1])] + sys.path
    print("validate_batch() of %d queries: %d threads in one process against %d processes of one"
          " thread each (the whole batch in each), and one process of one thread alone;"
          " %d rounds of %d turns (load average %.2f)"
          % (count, threads, threads, rounds, turns, os.getloadavg()[0]))
    samples = {side: [] for side in sides}
    for _ in range(rounds):
        groups = {side: {"threads": Turns(path, threads, 1, count),
                         "processes": Turns(path, 1, threads, count)} for side, path in
                  sides.items()}
        for _ in range(turns):
            for side, group in groups.items():
                threads_wall, threads_cpu = group["threads"].go()
                processes_wall, processes_cpu = group["processes"].go()
                # One process alone: the first of the group, the others idle meanwhile.
                alone_wall, alone_cpu = group["processes"].go(1)
                samples[side].append({
                    "threads": threads_wall, "processes": processes_wall, "one": alone_wall,
                    "threads_cpu": threads_cpu / count, "processes_cpu": processes_cpu /
                    (threads * count), "one_cpu": alone_cpu / count,
                    "ratio": processes_wall / (threads * threads_wall)})
        for group in groups.values():
            for turns_of in group.values():
                turns_of.close()
    for side, runs in samples.items():
        ratios = sorted(r["ratio"] for r in runs)
        one = median(r["one"] for r in runs)
        print("  %s build, medians of %d turns:" % (side, len(runs)))
        print("    1 thread alone          %7.1f ms   CPU %5.2f us/query"
              % (one * 1e3, median(r["one_cpu"] for r in runs) * 1e6))
        print("    %d threads, 1 process    %7.1f ms   CPU %5.2f us/query   speed-up %5.2fx"
              % (threads, median(r["threads"] for r in runs) * 1e3,
                 median(r["threads_cpu"] for r in runs) * 1e6,
                 median(one / r["threads"] for r in runs)))
        print("    %d processes, 1 thread   %7.1f ms   CPU %5.2f us/query   speed-up %5.2fx"
              " (wall time of %d batches)"
              % (threads, median(r["processes"] for r in runs) * 1e3,
                 median(r["processes_cpu"] for r in runs) * 1e6,
                 median(threads * one / r["processes"] for r in runs), threads))
        print("    threads / processes (throughput, per turn): median %.3f (%.3f-%.3f;"
              " target: at least 0.90)" % (median(ratios), ratios[0], ratios[-1]))
    print("  (load average now %.2f)" % os.getloadavg()[0])
    return 0


def median(values):
    values = sorted(values)
    return values[len(values) // 2]


if __name__ == "__main__":
    sys.exit(main(sys.argv))
