"""Many Python threads using the module at once, on shared and on separate objects.

Every threaded result is compared with the one a single thread computes. The generator's borrow
errors appear only where a borrow is really held: while its own call runs Python code (a count
converted through __index__); plain threaded use never sees them.
"""
import subprocess
import sys
import textwrap
import threading

import pytest

import _tessary as t

THREADS = 12
ROUNDS = 30

SCHEMA = t.Schema(
    {"Person": ["name", "age"], "Movie": ["title", "year"], "Studio": ["name"]},
    {"ACTED_IN": ("Person", "Movie", ["role"]), "KNOWS": ("Person", "Person", ["since"]),
     "OWNS": ("Studio", "Movie", [])},
)
QUERIES = [
    "MATCH (p:Person)-[:ACTED_IN]->(m:Movie) WHERE p.age > 30 RETURN p.name, m.title",
    "MATCH (p:Persn)-[:ACTD_IN]->(m:Movie) RETURN p.nam",
    "MATCH (p:Person RETURN p",
    "MATCH (a:Person), (b:Movie) RETURN a, b",
    "MATCH (s:Studio)-[:OWNS]->(m:Movie) WITH s, count(m) AS n WHERE n > 2 RETURN s.name ORDER BY n",
    "UNWIND [1, 2, 3] AS x RETURN x + 1",
    "MATCH (p:Person) CALL { WITH p MATCH (p)-[:KNOWS]->(q:Persno) RETURN q } RETURN q.name",
    "CREATE (p:Person {name: 'a', agee: 3})-[:KNOWS {since: 1}]->(q:Person) RETURN p",
    "RETURN 'unterminated",
    "MATCH (m:Movie) WHERE m.year IN [1999, 2000] RETURN m.titl, count(*)",
    "",
    "MATCH (n) RETURN n /* comment */ LIMIT 5",
]
BATCH = QUERIES * 20


def expected_json(validator, queries):
    return [validator.validate(q).to_json() for q in queries]


def run_threads(target, count=THREADS):
    """Runs target(i) on `count` threads started together; re-raises the first failure."""
    barrier = threading.Barrier(count)
    failures = []

    def body(i):
        try:
            barrier.wait()
            target(i)
        except BaseException as exc:  # noqa: BLE001 - any failure, PanicException included
            failures.append(exc)

    threads = [threading.Thread(target=body, args=(i,)) for i in range(count)]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    if failures:
        raise failures[0]


@pytest.fixture(autouse=True)
def quick_switches():
    # Switch threads often so that calls interleave as much as the interpreter lock allows.
    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    yield
    sys.setswitchinterval(old)


@pytest.mark.parametrize("shared", [True, False], ids=["shared", "separate"])
def test_validate_and_batches_from_many_threads_match_one_thread(shared):
    reference = t.Tessary(SCHEMA)
    single = expected_json(reference, QUERIES)
    validators = [reference if shared else t.Tessary(SCHEMA) for _ in range(THREADS)]

    def work(i):
        validator = validators[i]
        for r in range(ROUNDS):
            if (i + r) % 3 == 0:
                got = [res.to_json() for res in validator.validate_batch(BATCH)]
                assert got == single * 20
            else:
                q = (i + r) % len(QUERIES)
                assert validator.validate(QUERIES[q]).to_json() == single[q]

    run_threads(work)


def test_concurrent_batches_of_different_sizes_keep_their_order():
    validator = t.Tessary(SCHEMA)
    single = expected_json(validator, QUERIES)

    def work(i):
        # Sizes around the pool's chunking: empty, one, a few, many.
        for n in (0, 1, 2, 7, 64, 1000 + i):
            queries = [QUERIES[(k * 7 + i) % len(QUERIES)] for k in range(n)]
            got = [res.to_json() for res in validator.validate_batch(queries)]
            assert got == [single[(k * 7 + i) % len(QUERIES)] for k in range(n)]

    run_threads(work, 8)


def test_parse_query_from_many_threads_matches_one_thread():
    single = [repr(t.parse_query(q)) for q in QUERIES]

    def work(i):
        for r in range(ROUNDS * 4):
            q = (i * 5 + r) % len(QUERIES)
            assert repr(t.parse_query(QUERIES[q])) == single[q]

    run_threads(work)


def test_schema_methods_from_many_threads():
    expected = (SCHEMA.to_json(), SCHEMA.to_dict(), SCHEMA.to_markdown(), repr(SCHEMA))

    def work(_):
        for _ in range(ROUNDS * 3):
            assert (SCHEMA.to_json(), SCHEMA.to_dict(), SCHEMA.to_markdown(), repr(SCHEMA)) == expected
            assert t.Tessary(SCHEMA).schema.to_json() == expected[0]
            assert SCHEMA.merge(SCHEMA).to_json() == expected[0]

    run_threads(work)


def test_separate_seeded_generators_match_one_thread():
    types = t.CypherGenerator.supported_types()
    g = t.CypherGenerator(SCHEMA, seed=99)
    single = [g.generate(types[k % len(types)]) for k in range(200)] + g.generate_batch("unwind", 50)
    results = [None] * THREADS

    def work(i):
        gen = t.CypherGenerator(SCHEMA, seed=99)
        out = [gen.generate(types[k % len(types)]) for k in range(200)]
        results[i] = out + gen.generate_batch("unwind", 50)

    run_threads(work)
    assert results == [single] * THREADS


def test_shared_generator_hands_out_each_draw_once_and_never_reports_a_borrow():
    per_thread = 150
    fresh = t.CypherGenerator(SCHEMA, seed=5)
    single = [fresh.generate("match_where_return") for _ in range(THREADS * per_thread)]
    shared = t.CypherGenerator(SCHEMA, seed=5)
    outputs = [[] for _ in range(THREADS)]

    def work(i):
        for k in range(per_thread // 3):
            # a batch call, then two single calls, interleaved with the other threads
            outputs[i].extend(shared.generate_batch("match_where_return", 1))
            outputs[i].append(shared.generate("match_where_return"))
            outputs[i].append(shared.generate(query_type="match_where_return"))
            repr(shared)

    run_threads(work)  # a RuntimeError from a borrow would be re-raised here
    assert sorted(s for out in outputs for s in out) == sorted(single)


def test_borrow_errors_where_a_borrow_is_held():
    gen = t.CypherGenerator(SCHEMA, seed=1)
    seen = {}

    class Count:
        def __init__(self, action):
            self.action = action

        def __index__(self):
            try:
                self.action()
            except RuntimeError as exc:
                seen[self.action] = str(exc)
                raise
            return 2

    generate = lambda: gen.generate("create")  # noqa: E731
    batch = lambda: gen.generate_batch("create", 1)  # noqa: E731
    show = lambda: repr(gen)  # noqa: E731
    for action, message in [(generate, "Already borrowed"), (batch, "Already borrowed"),
                            (show, "Already mutably borrowed")]:
        # The conversion's error passes through unchanged.
        with pytest.raises(RuntimeError, match=f"^{message}$"):
            gen.generate_batch("create", Count(action))
        assert seen[action] == message
    # The borrow ends with the call, and the failed calls drew nothing.
    assert gen.generate_batch("create", 2) == t.CypherGenerator(SCHEMA, seed=1).generate_batch("create", 2)


def test_borrow_held_across_threads_only_while_the_owner_runs_python_code():
    gen = t.CypherGenerator(SCHEMA, seed=2)
    inside = threading.Event()
    release = threading.Event()
    errors = []

    class Count:
        def __index__(self):
            inside.set()
            release.wait(10)
            return 1

    owner = threading.Thread(target=lambda: errors.append(gen.generate_batch("merge", Count())))
    owner.start()
    assert inside.wait(10)
    try:
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            gen.generate("merge")
        with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
            repr(gen)
        # Other objects are not affected by that borrow.
        assert t.CypherGenerator(SCHEMA, seed=2).generate("merge")
        assert t.Tessary(SCHEMA).validate(QUERIES[0]).is_valid
    finally:
        release.set()
        owner.join()
    assert errors == [t.CypherGenerator(SCHEMA, seed=2).generate_batch("merge", 1)]
    assert repr(gen) == "CypherGenerator()"


def test_batch_lets_other_threads_use_the_same_validator():
    validator = t.Tessary(SCHEMA)
    single = expected_json(validator, QUERIES)
    big = QUERIES * 2000
    done = threading.Event()
    singles = []

    def batch():
        try:
            assert [r.to_json() for r in validator.validate_batch(big)] == single * 2000
        finally:
            done.set()

    worker = threading.Thread(target=batch)
    worker.start()
    while not done.is_set():
        q = len(singles) % len(QUERIES)
        assert validator.validate(QUERIES[q]).to_json() == single[q]
        singles.append(q)
    worker.join()
    assert singles


def test_out_of_memory_in_a_batch_is_memory_error_with_the_lock_retaken():
    # Running out of memory inside the pool's tasks: a child process caps its address space
    # just above what the query texts need, so that only the tasks' own parsing fails. Ten
    # such batches leave nothing allocated or mapped behind.
    code = textwrap.dedent("""
        import ctypes, gc, os, resource, sys, threading
        sys.path[:0] = %r
        import _tessary as t
        class Mallinfo2(ctypes.Structure):
            _fields_ = [(name, ctypes.c_size_t) for name in (
                "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks",
                "uordblks", "fordblks", "keepcost")]
        libc = ctypes.CDLL(None)
        libc.mallinfo2.restype = Mallinfo2
        def malloc_in_use():
            info = libc.mallinfo2()
            return info.uordblks + info.hblkhd
        def vm_size():
            with open("/proc/self/status") as f:
                return next(int(l.split()[1]) * 1024 for l in f if l.startswith("VmSize:"))
        v = t.Tessary(t.Schema({}, {}))
        for _ in range(5):  # all of the pool's workers are started before the cap
            v.validate_batch(["MATCH (n) RETURN n"] * 50000)
        big = "RETURN [" + ",".join(["1"] * 1_000_000) + "]"
        gc.collect()
        before = malloc_in_use(), vm_size()
        outcomes = set()
        for _ in range(10):
            resource.setrlimit(resource.RLIMIT_AS, (vm_size() + (24 << 20), resource.RLIM_INFINITY))
            try:
                v.validate_batch([big, big, "RETURN 1"])
                outcomes.add("no failure")
            except Exception as e:
                outcomes.add(type(e).__module__ + "." + type(e).__name__)
            except BaseException as e:
                outcomes.add("not an Exception: " + type(e).__name__)
            resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
        gc.collect()
        print(sorted(outcomes), malloc_in_use() - before[0] < 1 << 20, vm_size() - before[1] < 8 << 20)
        out = []
        th = threading.Thread(target=lambda: out.append(v.validate_batch(["RETURN 1", "RETURN"])))
        th.start()
        th.join()
        print([r.is_valid for r in out[0]], v.validate("RETURN 2").is_valid)
    """) % (sys.path,)
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert proc.returncode == 0, proc.stderr[-2000:]
    assert proc.stdout.splitlines() == ["['builtins.MemoryError'] True True", "[True, False] True"]
    assert proc.stderr == ""  # no failure report: running out of memory is no internal failure


@pytest.mark.parametrize("threads, size", [(1, 200000), (4, 2000), (4, 2)])
def test_interpreter_exit_while_daemon_threads_run_batches(threads, size):
    # The batch threads are outside the interpreter lock when the interpreter shuts down, or
    # waiting for it; they must neither crash nor hold up the exit. Small batches ask for the
    # lock often, so that some threads wait for it as the shutdown begins.
    code = textwrap.dedent("""
        import sys, threading, time
        sys.path[:0] = %r
        import _tessary as t
        v = t.Tessary(t.Schema({"Person": ["name"]}, {}))
        queries = ["MATCH (p:Person) WHERE p.name = 'x' RETURN p.name"] * %d
        started = threading.Barrier(%d + 1)
        def work():
            started.wait()
            while True:
                v.validate_batch(queries)
        for _ in range(%d):
            threading.Thread(target=work, daemon=True).start()
        started.wait()
        time.sleep(0.05)
        print("exiting")
    """) % (sys.path, size, threads, threads)
    for _ in range(5):
        proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
        assert (proc.returncode, proc.stdout) == (0, "exiting\n"), proc.stderr[-2000:]


@pytest.mark.parametrize("held", [
    "results = v.validate_batch(queries)",  # freed when the module's names are cleared
    "cycle = [v.validate_batch(queries)]; cycle.append(cycle)",  # freed by the last collection
])
def test_interpreter_exit_frees_results_still_held(held):
    # Results of large batches still alive when the program ends are freed by the thread that
    # shuts the interpreter down; handing their memory back must not keep it from finishing.
    code = textwrap.dedent("""
        import sys
        sys.path[:0] = %r
        import _tessary as t
        v = t.Tessary(t.Schema({"Person": ["name"]}, {}))
        queries = ["MATCH (p:Persn) WHERE p.nam = 'x' RETURN p.name"] * 100000
        %s
        print("exiting")
    """) % (sys.path, held)
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert (proc.returncode, proc.stdout) == (0, "exiting\n"), proc.stderr[-2000:]
