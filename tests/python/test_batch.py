"""Tessary.validate_batch: arguments, order, equality with validate, the worker pool."""

import collections
import json
import os
import subprocess
import sys
import textwrap
import threading
import time

import pytest
from hypothesis import given, settings, strategies as st

from _tessary import Schema, Tessary, ValidationResult

SCHEMA = Schema(
    {"Person": ["name", "age"], "Movie": ["title", "year"], "City": []},
    {"ACTED_IN": ("Person", "Movie", ["role"]), "LIVES_IN": ("Person", "City", [])},
)

CORPUS = [
    "MATCH (p:Person)-[r:ACTED_IN]->(m:Movie) WHERE m.year > 2000 RETURN p.name, r.role",
    "MATCH (p:Persn)-[:LIVES_IN]->(c:City) RETURN p.name",
    "MATCH (n:Person {nme: 'Ann'}) RETURN n.age ORDER BY n.age DESC LIMIT 3",
    "MATCH (a)-[:KNOWS*]->(b) RETURN a, b",
    "MATCH (p:Person) WITH p, count(*) AS c WHERE c > 1 RETURN p.name, c",
    "UNWIND [1, 2, 3] AS x RETURN x * 2",
    "CREATE (p:Person {name: 'Bo', age: 3})-[:ACTED_IN {role: 'x'}]->(m:Movie {title: 't'})",
    "MATCH (p:Person) RETURN p.name UNION MATCH (m:Movie) RETURN m.title AS name",
    "MATCH (p:Person) WHERE EXISTS { (p)-[:ACTED_IN]->(:Movie) } RETURN p",
    "MATCH (m:Movie) RETURN m.title SKIP 'a' LIMIT 1.5",
    "MATCH (p:Person RETURN p",
    "RETURN",
    "",
    "CALL db.labels() YIELD label",
]


@pytest.fixture(scope="module")
def validator():
    return Tessary(SCHEMA)


def dicts(results):
    return [r.to_dict() for r in results]


# ---------------------------------------------------------------------------------------------
# Arguments


def test_empty_sequences(validator):
    assert validator.validate_batch([]) == []
    assert validator.validate_batch(()) == []


@pytest.mark.parametrize("queries", [list(CORPUS), tuple(CORPUS)])
def test_sequence_kinds(validator, queries):
    results = validator.validate_batch(queries)
    assert isinstance(results, list) and len(results) == len(CORPUS)
    assert all(type(r) is ValidationResult for r in results)
    assert dicts(results) == dicts(validator.validate(q) for q in CORPUS)


def test_str_subclasses_and_custom_sequences(validator):
    class Text(str):
        pass

    class Seq:
        def __len__(self):
            return 2

        def __getitem__(self, i):
            if i >= 2:
                raise IndexError(i)
            return ["RETURN 1", Text("MATCH (n:Persn) RETURN n")][i]

    results = validator.validate_batch(Seq())
    assert dicts(results) == dicts([validator.validate("RETURN 1"),
                                    validator.validate("MATCH (n:Persn) RETURN n")])


@pytest.mark.parametrize("queries, message", [
    ("MATCH (n) RETURN n", "argument 'queries': Can't extract `str` to `Vec`"),
    ("", "argument 'queries': Can't extract `str` to `Vec`"),
    (["RETURN 1", 5], "argument 'queries': 'int' object cannot be cast as 'str'"),
    ([None], "argument 'queries': 'NoneType' object cannot be cast as 'str'"),
    (("RETURN 1", b"RETURN 2"), "argument 'queries': 'bytes' object cannot be cast as 'str'"),
    (5, "argument 'queries': 'int' object cannot be cast as 'Sequence'"),
    ({"RETURN 1": 1}, "argument 'queries': 'dict' object cannot be cast as 'Sequence'"),
    ({"RETURN 1"}, "argument 'queries': 'set' object cannot be cast as 'Sequence'"),
    (iter(["RETURN 1"]), "argument 'queries': 'list_iterator' object cannot be cast as "
                         "'Sequence'"),
])
def test_bad_arguments(validator, queries, message):
    with pytest.raises(TypeError) as info:
        validator.validate_batch(queries)
    assert str(info.value) == message


# Texts of many sizes and byte widths side by side, empty ones among them: each must reach its
# task with exactly its own bytes, whichever way the sequence is read.
MIXED_TEXTS = [
    "", "MATCH (n:`P\u00e9rson`) RETURN n", "", "", "RETURN '\U0001f600' AS x",
    "MATCH (p:Persn) RETURN p // \u65e5\u672c\u8a9e", "RETURN '\x00'", "RETURN 1",
    "MATCH (m:Movie {titel: '\u00e9\u00e9'}) RETURN m", "\u00e9", "MATCH (p:Person RETURN p",
    "UNWIND [1, 2] AS \u00e9 RETURN \u00e9" + " " * 3000, "",
]


@pytest.mark.parametrize("wrap", [list, tuple, collections.UserList],
                         ids=["list", "tuple", "other-sequence"])
def test_texts_of_mixed_widths_reach_their_tasks_whole(validator, wrap):
    queries = MIXED_TEXTS * 3 + MIXED_TEXTS[::-1]
    assert dicts(validator.validate_batch(wrap(queries))) == \
        dicts(validator.validate(q) for q in queries)


class ReadThenEmptied(collections.UserList):
    """A sequence other than a list whose iteration tells when its last item has been read."""

    def __init__(self, items, read):
        super().__init__(items)
        self.read = read

    def __iter__(self):
        for i in range(len(self.data)):
            yield self.data[i]
        self.read.set()


@pytest.mark.parametrize("kind", ["list", "other-sequence"])
def test_texts_stay_whole_while_another_thread_empties_the_sequence(validator, kind):
    # The batch reads its texts in place, so it must keep each alive itself: here the sequence
    # holds the only references to them, and another thread empties it while the batch runs and
    # makes new texts of the same sizes, which would take the memory of any text let go of.
    # The other thread waits until the batch has read the whole sequence, and then for the lock,
    # which the batch releases while its workers run; on a busy machine it may get the lock
    # only after the batch has returned, so the batch is tried a few times.
    queries = [CORPUS[i % len(CORPUS)] + " " * (i % 5) + "// %d" % i for i in range(20000)]
    expected = dicts(validator.validate(q) for q in queries)
    emptied_during_a_batch = False
    for _ in range(5):
        read, emptied_at, junk = threading.Event(), [], []
        texts = [q.encode().decode() for q in queries]
        sequence = texts if kind == "list" else ReadThenEmptied(texts, read)
        del texts

        def empty_it():
            read.wait()
            del sequence[:]
            junk.extend("X" * len(q) for q in queries)
            emptied_at.append(time.perf_counter())

        thread = threading.Thread(target=empty_it)
        thread.start()
        if kind == "list":
            read.set()  # a list is read at once, with the lock held
        called_at = time.perf_counter()
        results = validator.validate_batch(sequence)
        returned_at = time.perf_counter()
        thread.join()
        if emptied_at[0] < called_at:
            continue  # emptied before the call: nothing was tested
        assert dicts(results) == expected
        if emptied_at[0] < returned_at:
            emptied_during_a_batch = True
            break
    assert emptied_during_a_batch


@pytest.mark.parametrize("wrap", [list, tuple, collections.UserList],
                         ids=["list", "tuple", "other-sequence"])
def test_a_batch_lets_go_of_every_text_it_held(validator, wrap):
    queries = [CORPUS[i % len(CORPUS)] + "// %d" % i for i in range(10000)]
    sequence = wrap(queries)
    counts = [sys.getrefcount(q) for q in queries]
    assert len(validator.validate_batch(sequence)) == len(queries)
    assert [sys.getrefcount(q) for q in queries] == counts
    for bad in (7, b"RETURN 1"):
        with pytest.raises(TypeError):
            validator.validate_batch(wrap(queries[:5000] + [bad] + queries[5000:]))
        assert [sys.getrefcount(q) for q in queries] == counts


def test_bad_element_keeps_other_calls_working(validator):
    with pytest.raises(TypeError):
        validator.validate_batch(["RETURN 1"] * 100 + [7])
    assert len(validator.validate_batch(["RETURN 1"] * 100)) == 100


# ---------------------------------------------------------------------------------------------
# Same results as validate, in input order


def test_large_batch_in_order(validator):
    queries = [CORPUS[i % len(CORPUS)] + (" // %d" % i if CORPUS[i % len(CORPUS)] else "")
               for i in range(5000)]
    results = validator.validate_batch(queries)
    assert dicts(results) == dicts(validator.validate(q) for q in queries)


def test_batch_results_are_independent_objects(validator):
    a, b = validator.validate_batch(["RETURN 1", "RETURN 1"])
    assert a is not b and a.to_dict() == b.to_dict()


def mutate(query, edits):
    """Applies (kind, position, char) edits: 0 deletes, 1 inserts, 2 replaces, 3 swaps."""
    text = list(query)
    for kind, pos, ch in edits:
        if not text and kind != 1:
            continue
        i = pos % (len(text) + (1 if kind == 1 else 0))
        if kind == 0:
            del text[i]
        elif kind == 1:
            text.insert(i, ch)
        elif kind == 2:
            text[i] = ch
        elif i + 1 < len(text):
            text[i], text[i + 1] = text[i + 1], text[i]
    return "".join(text)


EDIT = st.tuples(st.integers(0, 3), st.integers(0, 10_000),
                 st.sampled_from(list("()[]{}:-<>.,'\"` nPMx1*|$\\\n")))
MUTATED = st.builds(mutate, st.sampled_from(CORPUS), st.lists(EDIT, max_size=4))


@settings(max_examples=60, deadline=None)
@given(st.lists(st.one_of(MUTATED, st.text(max_size=40)), max_size=60))
def test_batch_equals_one_by_one(queries):
    validator = Tessary(SCHEMA)
    assert dicts(validator.validate_batch(queries)) == dicts(validator.validate(q) for q in queries)


def test_generated_queries(validator):
    generator_cls = pytest.importorskip("_tessary").__dict__.get("CypherGenerator")
    if generator_cls is None:
        pytest.skip("no query generator in this build")
    generator = generator_cls(SCHEMA, seed=7)
    queries = [q for kind in generator_cls.supported_types()
               for q in generator.generate_batch(kind, 40)]
    assert dicts(validator.validate_batch(queries)) == dicts(validator.validate(q) for q in queries)


def test_concurrent_batches_from_threads(validator):
    queries = [q for q in CORPUS] * 200
    expected = dicts(validator.validate(q) for q in queries)
    outcomes = [None] * 4

    def run(slot):
        outcomes[slot] = dicts(validator.validate_batch(queries))

    threads = [threading.Thread(target=run, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert outcomes == [expected] * 4


# ---------------------------------------------------------------------------------------------
# The worker pool, in fresh processes (it is sized once per process)

CHILD = textwrap.dedent("""
    import json, os, sys, time, threading
    from _tessary import Schema, Tessary
    schema = Schema({"Person": ["name"]}, {"KNOWS": ("Person", "Person", [])})
    v = Tessary(schema)
    queries = ["MATCH (a:Person)-[:KNOWS]->(b:Persn) WHERE a.name = 'x%d' RETURN b.nam" % i
               for i in range(20000)]
    results = v.validate_batch(queries)
    same = [r.to_dict() for r in results] == [v.validate(q).to_dict() for q in queries]
    threads = len(os.listdir("/proc/self/task"))
    print(json.dumps({"same": same, "threads": threads}))
""")


def run_child(env_updates, code=CHILD):
    env = {k: v for k, v in os.environ.items()
           if k not in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS")}
    env.update(env_updates)
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True,
                         timeout=120)
    assert out.returncode == 0, out.stderr
    return json.loads(out.stdout.strip().splitlines()[-1])


def usable_cpus():
    return len(os.sched_getaffinity(0))


@pytest.mark.parametrize("env, at_most", [
    ({"RAYON_NUM_THREADS": "1"}, 1),
    ({"RAYON_NUM_THREADS": "2"}, 2),
    ({"RAYON_NUM_THREADS": "+3"}, 3),
    ({"RAYON_NUM_THREADS": "2", "RAYON_RS_NUM_CPUS": "6"}, 2),
    ({"RAYON_RS_NUM_CPUS": "2"}, 2),
    ({"RAYON_NUM_THREADS": "junk", "RAYON_RS_NUM_CPUS": "1"}, 1),
    ({"RAYON_NUM_THREADS": "-4", "RAYON_RS_NUM_CPUS": "2"}, 2),
    ({"RAYON_NUM_THREADS": "0", "RAYON_RS_NUM_CPUS": "1"}, None),  # 0: the CPUs available
    ({"RAYON_NUM_THREADS": "", "RAYON_RS_NUM_CPUS": "0"}, None),
    ({}, None),
])
def test_pool_size_from_environment(env, at_most):
    report = run_child(env)
    assert report["same"] is True
    # The interpreter's own thread plus the pool's workers; the caller works in the pool.
    limit = at_most if at_most is not None else usable_cpus()
    assert report["threads"] <= limit + 1


def test_oversubscribed_pool_still_correct():
    report = run_child({"RAYON_NUM_THREADS": str(usable_cpus() * 2 + 1)})
    assert report["same"] is True


GIL_CHILD = textwrap.dedent("""
    import json, time, threading
    from _tessary import Schema, Tessary
    v = Tessary(Schema({"Person": ["name"]}, {}))
    q = "MATCH (n:Person) WHERE " + " AND ".join("n.name <> 'v%d'" % i for i in range(60)) \\
        + " RETURN n.name"
    queries = [q] * 6000
    stamps = []
    stop = False
    def ticker():
        while not stop:
            stamps.append(time.perf_counter())
            time.sleep(0.0005)
    t = threading.Thread(target=ticker)
    t.start()
    time.sleep(0.02)
    start = time.perf_counter()
    v.validate_batch(queries)
    end = time.perf_counter()
    stop = True
    t.join()
    inside = [s for s in stamps if start <= s <= end]
    gaps = [b - a for a, b in zip(stamps, stamps[1:]) if b >= start and a <= end]
    print(json.dumps({"duration": end - start, "ticks": len(inside),
                      "max_gap": max(gaps) if gaps else end - start}))
""")


def test_lock_released_during_batch():
    report = run_child({"RAYON_NUM_THREADS": "1"}, GIL_CHILD)
    # Another Python thread keeps running while the batch validates.
    assert report["ticks"] >= 3
    assert report["max_gap"] < report["duration"] * 0.75


# ---------------------------------------------------------------------------------------------
# Memory given back once a batch's results are freed, in fresh processes (the resident set is
# the whole process's)

MEMORY_CHILD = textwrap.dedent("""
    import gc, json, os
    from _tessary import Schema, Tessary
    page = os.sysconf("SC_PAGE_SIZE")
    def rss():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * page
    v = Tessary(Schema({"Person": ["name", "age"], "Movie": ["title"]},
                       {"ACTED_IN": ("Person", "Movie", ["role"])}))
    if %(large_results)r:
        # Few results of about 20 KB: 60 errors and diagnostics with suggestions each.
        queries = ["MATCH " + ", ".join("(p%%d:Persn {nme: %%d})" %% (j, i) for j in range(60))
                   + " RETURN p0.nme" for i in range(8000)]
    else:
        # Many results of about 1.3 KB: errors, diagnostics with suggestions and a fixed query.
        queries = ["MATCH (p:Persn {nme: 'x%%d'})-[:ACTD_IN]->(m:Movi) RETURN p.nme, m.titel" %% i
                   for i in range(90000)]
    v.validate_batch(queries[:64])  # starts the pool's threads
    gc.collect()
    gc.disable()
    start = rss()
    results = v.validate_batch(queries)
    held = rss() - start
    keep_every = %(keep_every)d
    kept = results[::keep_every] if keep_every else []
    del results
    after = rss() - start
    expected = [v.validate(q).to_dict() for q in queries[::keep_every]] if keep_every else []
    same = [r.to_dict() for r in kept] == expected
    del kept, expected
    results = v.validate_batch(queries)
    del results
    print(json.dumps({"held": held, "after": after, "after_again": rss() - start, "same": same}))
""")

MIB = 1 << 20

not_sanitized = pytest.mark.skipif(
    os.environ.get("TESSARY_SANITIZED") == "1",
    reason="the sanitizer's allocator keeps freed memory in quarantine")


@not_sanitized
@pytest.mark.parametrize("threads, large_results", [
    ("1", False),
    ("4", False),
    ("4", True),
])
def test_memory_of_a_large_batch_goes_back_once_its_results_are_freed(threads, large_results):
    report = run_child({"RAYON_NUM_THREADS": threads},
                       MEMORY_CHILD % {"keep_every": 0, "large_results": large_results})
    assert report["held"] > 96 * MIB  # the results did take memory
    # What stays is at most a few tens of MB that the next batch reuses.
    assert report["after"] < 40 * MIB
    # A second batch finds the process as the first left it and leaves it the same way.
    assert report["after_again"] < 40 * MIB


@not_sanitized
def test_memory_of_freed_results_goes_back_while_some_are_kept():
    # Every hundredth result outlives the list: the others' memory goes back all the same, and
    # the kept ones stay whole.
    report = run_child({"RAYON_NUM_THREADS": "4"},
                       MEMORY_CHILD % {"keep_every": 100, "large_results": False})
    assert report["same"] is True
    assert report["held"] > 96 * MIB
    assert report["after"] < report["held"] / 2
    assert report["after_again"] < report["held"] / 2
