"""Memory-growth check of every Python entry point of _tessary.

Each entry (a small callable exercising one entry point, success or error path) runs in a
process of its own: a warm-up, then ITERATIONS calls with the resident set size (RSS, from
/proc/self/statm) printed at five checkpoints. The verdict per entry is "flat" when the RSS at
the end is within a tolerance of the RSS after the warm-up, else "growing"; the script exits 1
when any entry grows.

    python3 scripts/leakcheck.py [--iterations N] [--jobs J] [--only NAME ...] [--list]

The module is imported from PYTHONPATH (scripts/leakcheck.sh sets it to the build).
"""
from __future__ import annotations

import argparse
import gc
import os
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import _tessary as t

# A leak of a few bytes per call shows as megabytes over a million calls; allocator noise and
# the interpreter's own caches stay well below this.
TOLERANCE_BYTES = 2 << 20
CHECKPOINTS = 4
PAGE = os.sysconf("SC_PAGE_SIZE")

NODES = {"Person": ["name", "age"], "Movie": ["title", "year"]}
RELS = {"ACTED_IN": ("Person", "Movie", ["role"]), "KNOWS": ("Person", "Person", [])}
SCHEMA = t.Schema(NODES, RELS)
OTHER = t.Schema({"Studio": ["name"], "Person": ["email"]}, {"OWNS": ("Studio", "Movie", [])})
SCHEMA_JSON = SCHEMA.to_json()
SCHEMA_DICT = SCHEMA.to_dict()
VALIDATOR = t.Tessary(SCHEMA)

Q_VALID = "MATCH (p:Person)-[:ACTED_IN]->(m:Movie) WHERE p.age > 30 RETURN p.name, m.title"
Q_SEMANTIC = "MATCH (p:Persn)-[:ACTD_IN]->(m:Movie) RETURN p.nam, m.titel"
Q_SYNTAX = "MATCH (p:Person RETURN p"
Q_WARN = "MATCH (a:Person), (b:Movie) RETURN a, b"
BATCH = [Q_VALID, Q_SEMANTIC, Q_SYNTAX, Q_WARN]
RESULT_SEMANTIC = VALIDATOR.validate(Q_SEMANTIC)
RESULT_SYNTAX = VALIDATOR.validate(Q_SYNTAX)
DIAGNOSTIC = RESULT_SEMANTIC.diagnostics[0]
SYNTAX_DIAGNOSTIC = RESULT_SYNTAX.diagnostics[0]
INFO = t.parse_query(Q_VALID)
GENERATOR = t.CypherGenerator(SCHEMA, seed=7)
TYPES = t.CypherGenerator.supported_types()


def expect(exc_type, fn, *args, **kwargs):
    """Calls fn and checks that it raises exc_type (the error path is what is measured)."""
    try:
        fn(*args, **kwargs)
    except exc_type:
        return
    raise AssertionError(f"{fn!r} did not raise {exc_type.__name__}")


class Index:
    """An int-like count whose conversion runs Python code."""

    def __index__(self):
        return 2


class Mutating:
    """A property list whose length query adds a key to the dict being converted."""

    def __init__(self, target):
        self.target = target

    def __len__(self):
        self.target[f"k{len(self.target)}"] = []
        return 1

    def __getitem__(self, i):
        if i == 0:
            return "p"
        raise IndexError(i)


def mutated_dict():
    nodes = {"A": None}
    nodes["A"] = Mutating(nodes)
    t.Schema(nodes, {})


class LyingLength:
    """A sequence of one query whose length claims far more items than it yields."""

    def __len__(self):
        return 10**15

    def __getitem__(self, i):
        if i == 0:
            return Q_VALID
        raise IndexError(i)


def generate_all():
    for name in TYPES:
        GENERATOR.generate(name)


ENTRIES = {
    # Schema construction and conversions
    "Schema()": lambda: t.Schema(NODES, RELS),
    "Schema(tuple props)": lambda: t.Schema({"A": ("x", "x", "y")}, {"R": ("A", "A", ("p",))}),
    "Schema.from_dict": lambda: t.Schema.from_dict(SCHEMA_DICT),
    "Schema.from_json": lambda: t.Schema.from_json(SCHEMA_JSON),
    "Schema.to_dict": SCHEMA.to_dict,
    "Schema.to_json": SCHEMA.to_json,
    "Schema.merge": lambda: SCHEMA.merge(OTHER),
    "Schema.node_labels": SCHEMA.node_labels,
    "Schema.rel_types": SCHEMA.rel_types,
    "Schema.has_node_label": lambda: (SCHEMA.has_node_label("Person"), SCHEMA.has_node_label("X")),
    "Schema.has_rel_type": lambda: (SCHEMA.has_rel_type("KNOWS"), SCHEMA.has_rel_type(rel_type="X")),
    "Schema.node_properties": lambda: (SCHEMA.node_properties("Person"), SCHEMA.node_properties("X")),
    "Schema.rel_properties": lambda: (SCHEMA.rel_properties("ACTED_IN"), SCHEMA.rel_properties("X")),
    "Schema.rel_endpoints": lambda: (SCHEMA.rel_endpoints("KNOWS"), SCHEMA.rel_endpoints("X")),
    "Schema.to_prompt": SCHEMA.to_prompt,
    "Schema.to_markdown": SCHEMA.to_markdown,
    "Schema.to_cypher_context": SCHEMA.to_cypher_context,
    "Schema.__repr__": lambda: repr(SCHEMA),
    # Schema error paths
    "err Schema(non-dict)": lambda: expect(TypeError, t.Schema, [], {}),
    "err Schema(missing arg)": lambda: expect(TypeError, t.Schema, NODES),
    "err Schema(bad keyword)": lambda: expect(TypeError, t.Schema, NODES, RELS, extra=1),
    "err Schema(non-str key)": lambda: expect(TypeError, t.Schema, {1: []}, {}),
    "err Schema(str props)": lambda: expect(TypeError, t.Schema, {"A": "name"}, {}),
    "err Schema(bad element)": lambda: expect(TypeError, t.Schema, {"A": ["x", 3]}, {}),
    "err Schema(list rel)": lambda: expect(TypeError, t.Schema, {}, {"R": ["A", "B", []]}),
    "err Schema(short rel)": lambda: expect(TypeError, t.Schema, {}, {"R": ("A", "B")}),
    "err Schema(surrogate label)": lambda: expect(UnicodeEncodeError, t.Schema, {"\ud800": []}, {}),
    "err Schema(mutated dict)": lambda: expect(BaseException, mutated_dict),
    "err from_dict(missing key)": lambda: expect(KeyError, t.Schema.from_dict, {"relationships": {}}),
    "err from_dict(non-dict nodes)": lambda: expect(TypeError, t.Schema.from_dict, {"nodes": [], "relationships": {}}),
    "err from_dict(non-dict)": lambda: expect(TypeError, t.Schema.from_dict, "x"),
    "err from_json(bad json)": lambda: expect(ValueError, t.Schema.from_json, '{"nodes": {"A": [1]}'),
    "err from_json(bad shape)": lambda: expect(ValueError, t.Schema.from_json, '{"nodes": [], "relationships": {}}'),
    "err from_json(non-str)": lambda: expect(TypeError, t.Schema.from_json, b"{}"),
    "err merge(non-Schema)": lambda: expect(TypeError, SCHEMA.merge, 5),
    "err node_labels(extra arg)": lambda: expect(TypeError, SCHEMA.node_labels, 1),
    "err has_node_label(surrogate)": lambda: expect(UnicodeEncodeError, SCHEMA.has_node_label, "a\udc80"),
    # Validator
    "Tessary()": lambda: t.Tessary(SCHEMA),
    "Tessary.schema": lambda: VALIDATOR.schema,
    "Tessary.__repr__": lambda: repr(VALIDATOR),
    "validate(valid)": lambda: VALIDATOR.validate(Q_VALID),
    "validate(semantic)": lambda: VALIDATOR.validate(query=Q_SEMANTIC),
    "validate(syntax)": lambda: VALIDATOR.validate(Q_SYNTAX),
    "validate_batch": lambda: VALIDATOR.validate_batch(BATCH),
    "validate_batch(tuple)": lambda: VALIDATOR.validate_batch(tuple(BATCH[:2])),
    "validate_batch(empty)": lambda: VALIDATOR.validate_batch([]),
    "validate_batch(lying length)": lambda: VALIDATOR.validate_batch(LyingLength()),
    # run on a thread with a small stack: every call moves to a helper thread
    "small-stack validate": lambda: VALIDATOR.validate(Q_SEMANTIC),
    "small-stack parse_query": lambda: t.parse_query(Q_VALID),
    "result getters": lambda: (RESULT_SEMANTIC.is_valid, RESULT_SEMANTIC.errors,
                               RESULT_SEMANTIC.syntax_errors, RESULT_SEMANTIC.semantic_errors,
                               RESULT_SEMANTIC.warnings, RESULT_SEMANTIC.fixed_query,
                               bool(RESULT_SEMANTIC), len(RESULT_SEMANTIC)),
    "result.diagnostics": lambda: RESULT_SEMANTIC.diagnostics,
    "result.to_dict": lambda: (RESULT_SEMANTIC.to_dict(), RESULT_SYNTAX.to_dict()),
    "result.to_json": lambda: (RESULT_SEMANTIC.to_json(), RESULT_SYNTAX.to_json()),
    "result.__repr__": lambda: (repr(RESULT_SEMANTIC), repr(RESULT_SYNTAX)),
    "diagnostic getters": lambda: (DIAGNOSTIC.code, DIAGNOSTIC.code_name, DIAGNOSTIC.severity,
                                   DIAGNOSTIC.message, DIAGNOSTIC.suggestion_original,
                                   DIAGNOSTIC.suggestion_replacement,
                                   DIAGNOSTIC.suggestion_description,
                                   SYNTAX_DIAGNOSTIC.position_line, SYNTAX_DIAGNOSTIC.position_col),
    "diagnostic.to_dict": lambda: (DIAGNOSTIC.to_dict(), SYNTAX_DIAGNOSTIC.to_dict()),
    "diagnostic.__repr__": lambda: (repr(DIAGNOSTIC), repr(SYNTAX_DIAGNOSTIC)),
    # Validator error paths
    "err Tessary(non-Schema)": lambda: expect(TypeError, t.Tessary, {}),
    "err validate(int)": lambda: expect(TypeError, VALIDATOR.validate, 5),
    "err validate(no arg)": lambda: expect(TypeError, VALIDATOR.validate),
    "err validate(two args)": lambda: expect(TypeError, VALIDATOR.validate, "a", "b"),
    "err validate(both forms)": lambda: expect(TypeError, VALIDATOR.validate, "a", query="b"),
    "err validate(surrogate)": lambda: expect(UnicodeEncodeError, VALIDATOR.validate, "RETURN '\ud800'"),
    "err validate_batch(str)": lambda: expect(TypeError, VALIDATOR.validate_batch, Q_VALID),
    "err validate_batch(int element)": lambda: expect(TypeError, VALIDATOR.validate_batch, [Q_VALID, 1]),
    "err validate_batch(non-sequence)": lambda: expect(TypeError, VALIDATOR.validate_batch, {Q_VALID}),
    "err validate_batch(surrogate)": lambda: expect(UnicodeEncodeError, VALIDATOR.validate_batch, [Q_VALID, "\udfff"]),
    "err ValidationResult()": lambda: expect(TypeError, t.ValidationResult),
    "err ValidationDiagnostic()": lambda: expect(TypeError, t.ValidationDiagnostic),
    # Query summary
    "parse_query(valid)": lambda: t.parse_query(Q_VALID),
    "parse_query(syntax)": lambda: t.parse_query(query=Q_SYNTAX),
    "query info getters": lambda: (INFO.is_valid, INFO.errors, INFO.labels_used,
                                   INFO.rel_types_used, INFO.properties_used, repr(INFO)),
    "err parse_query(None)": lambda: expect(TypeError, t.parse_query, None),
    "err parse_query(surrogate)": lambda: expect(UnicodeEncodeError, t.parse_query, "\ud800"),
    "err QueryInfo()": lambda: expect(TypeError, t.QueryInfo),
    # Generator
    "CypherGenerator(seed)": lambda: t.CypherGenerator(SCHEMA, seed=3),
    "CypherGenerator(no seed)": lambda: t.CypherGenerator(SCHEMA),
    "generate(each type)": generate_all,
    "generate_batch": lambda: GENERATOR.generate_batch("match_where_return", 4),
    "generate_batch(__index__ count)": lambda: GENERATOR.generate_batch("create", Index()),
    "supported_types": t.CypherGenerator.supported_types,
    "CypherGenerator.__repr__": lambda: repr(GENERATOR),
    "err generate(unknown type)": lambda: expect(ValueError, GENERATOR.generate, "nope"),
    "err generate_batch(unknown type)": lambda: expect(ValueError, GENERATOR.generate_batch, "nope", 2),
    "err generate_batch(negative)": lambda: expect(OverflowError, GENERATOR.generate_batch, "create", -1),
    "err generate_batch(str count)": lambda: expect(TypeError, GENERATOR.generate_batch, "create", "2"),
    "err CypherGenerator(negative seed)": lambda: expect(OverflowError, t.CypherGenerator, SCHEMA, -1),
    "err CypherGenerator(non-Schema)": lambda: expect(TypeError, t.CypherGenerator, None),
    "err generate_batch(capacity)": lambda: expect(BaseException, GENERATOR.generate_batch, "create", 2**64 - 1),
}


def rss() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


def run_entry(name: str, iterations: int) -> int:
    fn = ENTRIES[name]
    if "mutated" in name or "capacity" in name:
        # These paths write an internal-failure report to stderr on every call.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, 2)
    if name.startswith("small-stack"):
        threading.stack_size(256 * 1024)
        outcome = []
        worker = threading.Thread(target=lambda: outcome.append(measure(name, fn, iterations)))
        worker.start()
        worker.join()
        return outcome[0] if outcome else 1
    return measure(name, fn, iterations)


def measure(name, fn, iterations: int) -> int:
    warmup = max(1000, iterations // 20)
    for _ in range(warmup):
        fn()
    gc.collect()
    start = rss()
    marks = [start]
    step = max(1, iterations // CHECKPOINTS)
    began = time.perf_counter()
    done = 0
    while done < iterations:
        n = min(step, iterations - done)
        for _ in range(n):
            fn()
        done += n
        gc.collect()
        marks.append(rss())
    elapsed = time.perf_counter() - began
    growth = marks[-1] - start
    verdict = "flat" if growth <= TOLERANCE_BYTES else "growing"
    mib = " ".join(f"{m / (1 << 20):.1f}" for m in marks)
    print(f"{name:<36} {verdict:<8} rss MiB: {mib}  growth {growth / 1024:+.0f} KiB "
          f"({growth / iterations:+.2f} B/call) {elapsed / iterations * 1e6:.2f} us/call",
          flush=True)
    return 0 if verdict == "flat" else 1


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--iterations", type=int, default=1_000_000)
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--only", nargs="*", default=None, help="entry names to run")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--entry", help=argparse.SUPPRESS)
    args = parser.parse_args()

    if args.list:
        print("\n".join(ENTRIES))
        return 0
    if args.entry is not None:
        return run_entry(args.entry, args.iterations)

    names = args.only if args.only else list(ENTRIES)
    unknown = [n for n in names if n not in ENTRIES]
    if unknown:
        parser.error(f"unknown entries: {unknown}")
    print(f"{len(names)} entries, {args.iterations} iterations each, {args.jobs} at a time",
          flush=True)

    def child(name: str):
        proc = subprocess.run(
            [sys.executable, __file__, "--entry", name, "--iterations", str(args.iterations)],
            capture_output=True, text=True)
        out = proc.stdout.strip() or f"{name:<36} FAILED rc={proc.returncode}: {proc.stderr.strip()[-500:]}"
        print(out, flush=True)
        return proc.returncode

    began = time.perf_counter()
    with ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        codes = list(pool.map(child, names))
    bad = [n for n, c in zip(names, codes) if c != 0]
    print(f"verdict: {'flat' if not bad else 'growing or failed: ' + ', '.join(bad)} "
          f"({len(names) - len(bad)}/{len(names)} flat, {time.perf_counter() - began:.0f} s)")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
