"""Process events during calls: fork while a batch runs, Ctrl-C (SIGINT) during a long batch or
generate_batch, and running out of memory anywhere in a call.

Each case runs in a child interpreter with a time limit, so that a hang fails the test instead
of stopping the suite. Times are asserted with wide margins: they show whether a signal is
handled while the call runs or only once it has finished, not how fast anything is.
"""
import os
import signal
import subprocess
import sys
import tempfile
import textwrap
import threading
import time

import pytest

PRELUDE = textwrap.dedent("""
    import gc, os, signal, sys, threading, time
    sys.path[:0] = %r
    import _tessary as t
    SCHEMA = t.Schema(
        {"Person": ["name", "age"], "Movie": ["title", "year"]},
        {"ACTED_IN": ("Person", "Movie", ["role"]), "KNOWS": ("Person", "Person", [])},
    )
    QUERIES = [
        "MATCH (p:Person)-[:ACTED_IN]->(m:Movie) WHERE p.age > 30 RETURN p.name, m.title",
        "MATCH (p:Persn)-[:ACTD_IN]->(m:Movie) RETURN p.nam",
        "MATCH (p:Person RETURN p",
        "MATCH (a:Person), (b:Movie) RETURN a, b",
        "UNWIND [1, 2, 3] AS x RETURN x + 1",
        "RETURN 'unterminated",
        "",
    ]
    # A valid query that takes a while to validate and has a small result.
    NESTED = "RETURN " + "[" * 250 + "1" + "]" * 250
    v = t.Tessary(SCHEMA)
    EXPECTED = [v.validate(q).to_json() for q in QUERIES]

    def batch_is_right(times=30):
        return [r.to_json() for r in v.validate_batch(QUERIES * times)] == EXPECTED * times

    def wait_child(pid, seconds=60):
        # The child's exit code; -1 when it had to be killed because it did not end in time.
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                return os.waitstatus_to_exitcode(status)
            time.sleep(0.01)
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
        return -1
""") % (sys.path,)


def run(code, threads=None, timeout=120):
    env = dict(os.environ)
    env.pop("RAYON_RS_NUM_CPUS", None)
    if threads is not None:
        env["RAYON_NUM_THREADS"] = str(threads)
    else:
        env.pop("RAYON_NUM_THREADS", None)
    try:
        return subprocess.run([sys.executable, "-c", PRELUDE + textwrap.dedent(code)], env=env,
                              capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired as e:
        pytest.fail("the child interpreter hung; its output: %r" % (e.stdout,))


# ---------------------------------------------------------------------------------------------
# fork


def test_children_forked_while_another_thread_runs_a_batch_validate_batches():
    proc = run("""
        big = QUERIES * 20000
        inside, stop = threading.Event(), [False]
        def work():
            while not stop[0]:
                inside.set()
                v.validate_batch(big)
        worker = threading.Thread(target=work)
        worker.start()
        inside.wait()
        for round in range(5):
            time.sleep(0.02 + 0.03 * round)
            pid = os.fork()
            if pid == 0:
                ok = batch_is_right() and batch_is_right(1) and v.validate(QUERIES[1]).to_json() == EXPECTED[1]
                if ok and round == 0:
                    # The child's own child, forked while the child's batch runs, works as well.
                    stop[0] = False
                    worker = threading.Thread(target=work)
                    worker.start()
                    time.sleep(0.05)
                    grandchild = os.fork()
                    if grandchild == 0:
                        os._exit(0 if batch_is_right() else 1)
                    ok = wait_child(grandchild) == 0
                    stop[0] = True
                    worker.join()
                os._exit(0 if ok else 1)
            print(round, wait_child(pid), flush=True)
        stop[0] = True
        worker.join()
        print("parent", batch_is_right())
    """)
    assert proc.returncode == 0, proc.stderr[-3000:]
    assert proc.stdout.splitlines() == ["0 0", "1 0", "2 0", "3 0", "4 0", "parent True"]


def test_a_child_forked_from_an_idle_pool_validates_on_threads_of_its_own():
    proc = run("""
        assert batch_is_right()
        pid = os.fork()
        if pid == 0:
            # Sample the number of threads while a batch runs; the lock is released meanwhile.
            most, stop = [0], [False]
            def sample():
                while not stop[0]:
                    most[0] = max(most[0], len(os.listdir("/proc/self/task")))
                    time.sleep(0.001)
            sampler = threading.Thread(target=sample)
            sampler.start()
            ok = [r.to_json() for r in v.validate_batch([NESTED] * 20000)] == [v.validate(NESTED).to_json()] * 20000
            stop[0] = True
            sampler.join()
            # The main thread, the sampler and the batch's own threads.
            os._exit(0 if ok and most[0] >= 4 and batch_is_right() else 1)
        print(wait_child(pid), batch_is_right())
    """, threads=4)
    assert proc.returncode == 0, proc.stderr[-3000:]
    assert proc.stdout.split() == ["0", "True"]


def test_a_signal_handler_that_forks_during_a_batch_leaves_both_processes_a_whole_result():
    # The handler runs while the main thread waits for the pool; the child has none of the
    # pool's threads and finishes the batch on threads of its own.
    proc = run("""
        queries = [NESTED, "RETURN", NESTED, "MATCH (n:Persn) RETURN n"] * 5000
        expected = [v.validate(q).to_json() for q in queries[:4]] * 5000
        forked = []
        def handler(signum, frame):
            forked.append((os.fork(), time.monotonic()))
        signal.signal(signal.SIGALRM, handler)
        signal.setitimer(signal.ITIMER_REAL, 0.1)
        results = v.validate_batch(queries)
        returned = time.monotonic()
        pid, handled = forked[0]
        ok = [r.to_json() for r in results] == expected and batch_is_right()
        # The handler ran inside the call, well before it returned.
        inside = returned - handled > 0.05
        if pid == 0:
            os._exit(0 if ok and inside else 1)
        print(ok, inside, wait_child(pid))
    """, threads=2)
    assert proc.returncode == 0, proc.stderr[-3000:]
    assert proc.stdout.split() == ["True", "True", "0"]


# ---------------------------------------------------------------------------------------------
# Ctrl-C

SIGINT_CHILD = """
    import ctypes
    # A test run started as a shell's background job inherits SIGINT ignored; the child takes
    # the interpreter's own handler back so that the signal raises KeyboardInterrupt.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    libc = ctypes.CDLL(None)

    def resident():
        libc.malloc_trim(0)
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    def call(count):
        {call}

    call({sample})  # the pool is started, the first allocations made
    start = time.monotonic()
    call({sample})
    # What the whole call would take, from a call of a fiftieth of its size.
    print("estimate", (time.monotonic() - start) * {count} / {sample}, flush=True)
    gc.collect()
    before = resident()
    print("started", flush=True)
    start = time.monotonic()
    try:
        call({count})
        print("finished", flush=True)
    except KeyboardInterrupt:
        print("interrupted", time.monotonic() - start, flush=True)
    gc.collect()
    print("grown", (resident() - before) >> 20, flush=True)
    print("after", batch_is_right(), v.validate(QUERIES[1]).to_json() == EXPECTED[1],
          t.CypherGenerator(SCHEMA, 5).generate_batch("create", 3) ==
          t.CypherGenerator(SCHEMA, 5).generate_batch("create", 3), flush=True)
"""

SIGINT_CALLS = {
    "validate_batch": "v.validate_batch([NESTED] * count)",
    "generate_batch": "t.CypherGenerator(SCHEMA, 1).generate_batch('match_where_return', count)",
}


@pytest.mark.parametrize("name,threads,sample,count", [
    ("validate_batch", 1, 2000, 100_000),
    ("validate_batch", 2, 2000, 100_000),
    ("generate_batch", 1, 100_000, 20_000_000),
], ids=["validate_batch-one-thread", "validate_batch-pool", "generate_batch"])
def test_ctrl_c_stops_a_long_call_at_once(name, threads, sample, count):
    code = PRELUDE + textwrap.dedent(SIGINT_CHILD).format(
        call=SIGINT_CALLS[name], sample=sample, count=count)
    env = dict(os.environ, RAYON_NUM_THREADS=str(threads))
    env.pop("RAYON_RS_NUM_CPUS", None)
    with tempfile.TemporaryFile("w+") as err:
        proc = subprocess.Popen([sys.executable, "-c", code], env=env, stdout=subprocess.PIPE,
                                stderr=err, text=True)
        killer = threading.Timer(120, proc.kill)  # a hang ends the child
        killer.start()
        try:
            estimate = float(proc.stdout.readline().split()[1])
            assert proc.stdout.readline() == "started\n"
            time.sleep(0.3)
            sent = time.monotonic()
            proc.send_signal(signal.SIGINT)
            line = proc.stdout.readline()
            latency = time.monotonic() - sent
            out = proc.stdout.read().splitlines()
        finally:
            killer.cancel()
            proc.kill()
            proc.wait()
        err.seek(0)
        errors = err.read()
    assert line.startswith("interrupted"), (line, out, errors)
    elapsed = float(line.split()[1])
    # KeyboardInterrupt came while the call was far from done (it typically comes within
    # 0.1-0.2 s of the signal).
    assert latency < 5, latency
    assert elapsed < estimate / 2, (elapsed, estimate)
    if os.environ.get("TESSARY_SANITIZED") != "1":  # the sanitizer holds freed memory back
        assert int(out[0].split()[1]) < 16, out  # what the call had made is freed (MiB)
    assert out[1] == "after True True True", out
    assert errors == ""


# ---------------------------------------------------------------------------------------------
# Out of memory

OOM_PRELUDE = """
    import ctypes, resource
    libc = ctypes.CDLL(None)

    def vm_size():
        # The mappings of the process, less the free room the C library's allocator keeps at
        # the top of its heap (which it may keep up to some tens of MiB of).
        libc.malloc_trim(0)
        with open("/proc/self/status") as f:
            return next(int(l.split()[1]) * 1024 for l in f if l.startswith("VmSize:"))

    class Mallinfo2(ctypes.Structure):
        _fields_ = [(name, ctypes.c_size_t) for name in (
            "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
            "fordblks", "keepcost")]

    libc.mallinfo2.restype = Mallinfo2

    def malloc_in_use():
        # What the C library's allocator has handed out and not got back. (The resident set is
        # no measure here: that allocator keeps memory freed at the top of a thread's heap.)
        info = libc.mallinfo2()
        return info.uordblks + info.hblkhd

    def capped(headroom, call):
        # call() with the address space capped `headroom` bytes above what is mapped now:
        # its result, or the name of the exception it raised.
        resource.setrlimit(resource.RLIMIT_AS, (vm_size() + headroom, resource.RLIM_INFINITY))
        try:
            return call()
        except BaseException as e:
            return type(e).__module__ + "." + type(e).__name__
        finally:
            resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))

    for _ in range(5):  # every thread of the pool is started before the address space is capped
        v.validate_batch(["MATCH (n) RETURN n"] * 50000)
"""


def test_allocation_failures_anywhere_in_a_call_are_memory_errors():
    # Every call below runs under caps from tight to loose, so that allocations fail at many
    # different points: each gives its right result or MemoryError, prints nothing, and leaves
    # everything working.
    proc = run(OOM_PRELUDE + """
        import json
        many_errors = "MATCH " + ", ".join("(n%d:Persn%d)" % (i, i) for i in range(5000)) + " RETURN 1"
        # Long enough that its validation still allocates past every headroom up to 32 MiB.
        big_list = "RETURN [" + ",".join(["1"] * 600_000) + "]"
        result = v.validate(many_errors)
        schema_json = t.Schema({"L%d" % i: ["p%d" % j for j in range(20)] for i in range(5000)}, {}).to_json()
        calls = {
            "validate": lambda: v.validate(big_list).to_json(),
            "validate_batch": lambda: [r.to_json() for r in v.validate_batch([big_list, many_errors] + QUERIES * 200)],
            "to_json": lambda: result.to_json(),
            "to_dict": lambda: json.dumps(result.to_dict()),
            "diagnostics": lambda: [d.to_dict() for d in result.diagnostics],
            "errors": lambda: result.errors,
            "parse_query": lambda: repr((lambda i: (i.is_valid, i.labels_used, i.errors))(t.parse_query(many_errors))),
            "schema": lambda: t.Schema.from_json(schema_json).to_json() == schema_json,
            "generate_batch": lambda: t.CypherGenerator(SCHEMA, 7).generate_batch("match_relationship", 100_000),
        }
        expected = {name: call() for name, call in calls.items()}
        wrong = []
        failed = 0
        # The second pass shows whether the failures leave anything behind, allocated or
        # mapped: the first one has grown the allocators' heaps to what these calls need.
        for round in range(2):
            gc.collect()
            before = malloc_in_use(), vm_size()
            for headroom in (0, 1, 2, 3, 4, 6, 8, 16, 32, 128):
                for name, call in calls.items():
                    got = capped(headroom << 20, call)
                    if got == "builtins.MemoryError":
                        failed += 1
                    elif got != expected[name]:
                        wrong.append((headroom, name, str(got)[:200]))
                    if not batch_is_right(2):
                        wrong.append((headroom, name, "the batch after it"))
        gc.collect()
        grown = [(after - b) >> 20 for after, b in zip((malloc_in_use(), vm_size()), before)]
        print(wrong, failed >= 24, grown)
    """, timeout=300)
    assert proc.returncode == 0, proc.stderr[-3000:]
    wrong, enough_failures, grown = proc.stdout.split("\n")[0].split(" ", 2)
    assert (wrong, enough_failures) == ("[]", "True"), proc.stdout
    malloc_growth, mapped_growth = eval(grown)  # MiB
    assert malloc_growth < 2 and mapped_growth < 16, grown
    assert proc.stderr == ""
