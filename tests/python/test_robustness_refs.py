"""Reference counting and object leaks of every entry point, on success and on error paths.

Each case calls one entry point many times and checks that the reference counts of its
arguments (and of the elements of list, tuple and dict arguments) come back exactly, and that
the interpreter's count of allocated memory blocks does not grow with the number of calls: a
reference kept too many drops neither the object nor its block, one released too many shows as
a changed count (or a crash).
"""
import gc
import sys

import pytest

import _tessary as t

CALLS = 400
# Blocks that caches and free lists may take over a run, far below one block per call.
BLOCK_SLACK = 40

NODES = {"Person": ["name", "age"], "Movie": ["title"]}
RELS = {"ACTED_IN": ("Person", "Movie", ["role"]), "KNOWS": ("Person", "Person", [])}
SCHEMA = t.Schema(NODES, RELS)
OTHER = t.Schema({"Studio": ["name"]}, {"OWNS": ("Studio", "Movie", [])})
VALIDATOR = t.Tessary(SCHEMA)
GENERATOR = t.CypherGenerator(SCHEMA, seed=11)

Q_VALID = "MATCH (p:Person)-[:ACTED_IN]->(m:Movie) WHERE p.age > 3 RETURN p.name, m.title"
Q_SEMANTIC = "MATCH (p:Persn)-[:ACTD_IN]->(m:Movie) RETURN p.nam"
Q_SYNTAX = "MATCH (p:Person RETURN p"
RESULT = VALIDATOR.validate(Q_SEMANTIC)
SYNTAX_RESULT = VALIDATOR.validate(Q_SYNTAX)
DIAGNOSTIC = RESULT.diagnostics[0]
INFO = t.parse_query(Q_VALID)


class Count:
    """An int-like object: converting it runs Python code."""

    def __index__(self):
        return 2


class Grows:
    """A property list that adds a key to the dict being converted when asked for its length."""

    def __init__(self, target):
        self.target = target

    def __len__(self):
        self.target[f"k{len(self.target)}"] = []
        return 1

    def __getitem__(self, i):
        if i == 0:
            return "p"
        raise IndexError(i)


def mutated_nodes():
    nodes = {"A": None}
    nodes["A"] = Grows(nodes)
    return nodes


# (id, callable, positional args, keyword args, expected exception or None)
CASES = [
    ("Schema", t.Schema, (NODES, RELS), {}, None),
    ("Schema-keywords", t.Schema, (), {"nodes": NODES, "relationships": RELS}, None),
    ("Schema-tuple-props", t.Schema, ({"A": ("x", "x")}, {"R": ("A", "A", ("p",))}), {}, None),
    ("from_dict", t.Schema.from_dict, (SCHEMA.to_dict(),), {}, None),
    ("from_json", t.Schema.from_json, (SCHEMA.to_json(),), {}, None),
    ("to_dict", SCHEMA.to_dict, (), {}, None),
    ("to_json", SCHEMA.to_json, (), {}, None),
    ("merge", SCHEMA.merge, (OTHER,), {}, None),
    ("merge-keyword", SCHEMA.merge, (), {"other": OTHER}, None),
    ("node_labels", SCHEMA.node_labels, (), {}, None),
    ("rel_types", SCHEMA.rel_types, (), {}, None),
    ("has_node_label", SCHEMA.has_node_label, ("Person",), {}, None),
    ("has_rel_type", SCHEMA.has_rel_type, (), {"rel_type": "X"}, None),
    ("node_properties", SCHEMA.node_properties, ("Person",), {}, None),
    ("rel_properties", SCHEMA.rel_properties, ("ACTED_IN",), {}, None),
    ("rel_endpoints", SCHEMA.rel_endpoints, ("KNOWS",), {}, None),
    ("rel_endpoints-unknown", SCHEMA.rel_endpoints, ("X",), {}, None),
    ("to_prompt", SCHEMA.to_prompt, (), {}, None),
    ("to_markdown", SCHEMA.to_markdown, (), {}, None),
    ("to_cypher_context", SCHEMA.to_cypher_context, (), {}, None),
    ("Schema-repr", repr, (SCHEMA,), {}, None),
    ("Tessary", t.Tessary, (SCHEMA,), {}, None),
    ("Tessary-schema", getattr, (VALIDATOR, "schema"), {}, None),
    ("validate-valid", VALIDATOR.validate, (Q_VALID,), {}, None),
    ("validate-semantic", VALIDATOR.validate, (), {"query": Q_SEMANTIC}, None),
    ("validate-syntax", VALIDATOR.validate, (Q_SYNTAX,), {}, None),
    ("validate_batch", VALIDATOR.validate_batch, ([Q_VALID, Q_SEMANTIC, Q_SYNTAX],), {}, None),
    ("validate_batch-tuple", VALIDATOR.validate_batch, ((Q_VALID, Q_SYNTAX),), {}, None),
    ("result-errors", getattr, (RESULT, "errors"), {}, None),
    ("result-fixed_query", getattr, (RESULT, "fixed_query"), {}, None),
    ("result-diagnostics", getattr, (RESULT, "diagnostics"), {}, None),
    ("result-to_dict", RESULT.to_dict, (), {}, None),
    ("result-to_json", SYNTAX_RESULT.to_json, (), {}, None),
    ("result-repr", repr, (SYNTAX_RESULT,), {}, None),
    ("result-bool-len", lambda r: (bool(r), len(r)), (RESULT,), {}, None),
    ("diagnostic-to_dict", DIAGNOSTIC.to_dict, (), {}, None),
    ("diagnostic-repr", repr, (DIAGNOSTIC,), {}, None),
    ("diagnostic-suggestion", getattr, (DIAGNOSTIC, "suggestion_replacement"), {}, None),
    ("parse_query", t.parse_query, (Q_VALID,), {}, None),
    ("parse_query-syntax", t.parse_query, (), {"query": Q_SYNTAX}, None),
    ("query-info", lambda i: (i.labels_used, i.errors, repr(i)), (INFO,), {}, None),
    ("CypherGenerator", t.CypherGenerator, (SCHEMA,), {"seed": 5}, None),
    ("generate", GENERATOR.generate, ("match_where_return",), {}, None),
    ("generate_batch", GENERATOR.generate_batch, ("create", 3), {}, None),
    ("generate_batch-index", GENERATOR.generate_batch, ("merge", Count()), {}, None),
    ("supported_types", t.CypherGenerator.supported_types, (), {}, None),
    # error paths
    ("Schema-non-dict", t.Schema, ([], {}), {}, TypeError),
    ("Schema-missing", t.Schema, (NODES,), {}, TypeError),
    ("Schema-unknown-keyword", t.Schema, (NODES, RELS), {"x": 1}, TypeError),
    ("Schema-twice", t.Schema, (NODES,), {"nodes": NODES}, TypeError),
    ("Schema-int-key", t.Schema, ({1: []}, {}), {}, TypeError),
    ("Schema-str-props", t.Schema, ({"A": "name"}, {}), {}, TypeError),
    ("Schema-bad-element", t.Schema, ({"A": ["x", None]}, {}), {}, TypeError),
    ("Schema-list-rel", t.Schema, ({}, {"R": ["A", "B", []]}), {}, TypeError),
    ("Schema-bad-rel-props", t.Schema, ({}, {"R": ("A", "B", [1])}), {}, TypeError),
    ("Schema-surrogate", t.Schema, ({"\ud800": []}, {}), {}, UnicodeEncodeError),
    ("Schema-mutated", lambda: t.Schema(mutated_nodes(), {}), (), {}, BaseException),
    ("from_dict-missing", t.Schema.from_dict, ({"nodes": {}},), {}, KeyError),
    ("from_dict-non-dict-nodes", t.Schema.from_dict, ({"nodes": 1, "relationships": {}},), {}, TypeError),
    ("from_json-bad", t.Schema.from_json, ('{"nodes": ',), {}, ValueError),
    ("from_json-shape", t.Schema.from_json, ('{"nodes": {"A": 1}, "relationships": {}}',), {}, ValueError),
    ("merge-non-schema", SCHEMA.merge, ("x",), {}, TypeError),
    ("node_labels-arg", SCHEMA.node_labels, (1,), {}, TypeError),
    ("Tessary-non-schema", t.Tessary, (NODES,), {}, TypeError),
    ("validate-int", VALIDATOR.validate, (5,), {}, TypeError),
    ("validate-surrogate", VALIDATOR.validate, ("RETURN '\udc00'",), {}, UnicodeEncodeError),
    ("validate_batch-str", VALIDATOR.validate_batch, (Q_VALID,), {}, TypeError),
    ("validate_batch-int", VALIDATOR.validate_batch, ([Q_VALID, 1],), {}, TypeError),
    ("validate_batch-set", VALIDATOR.validate_batch, ({Q_VALID},), {}, TypeError),
    ("parse_query-bytes", t.parse_query, (b"RETURN 1",), {}, TypeError),
    ("ValidationResult()", t.ValidationResult, (), {}, TypeError),
    ("generate-unknown", GENERATOR.generate, ("nope",), {}, ValueError),
    ("generate_batch-unknown", GENERATOR.generate_batch, ("nope", 1), {}, ValueError),
    ("generate_batch-negative", GENERATOR.generate_batch, ("create", -1), {}, OverflowError),
    ("CypherGenerator-seed-str", t.CypherGenerator, (SCHEMA, "1"), {}, TypeError),
]


def watched(args, kwargs):
    """The argument objects and their immediate elements."""
    objects = list(args) + list(kwargs.values())
    for obj in list(objects):
        if isinstance(obj, (list, tuple)):
            objects.extend(obj)
        elif isinstance(obj, dict):
            objects.extend(obj.keys())
            objects.extend(obj.values())
    return objects


def call(fn, args, kwargs, error):
    if error is None:
        fn(*args, **kwargs)
        return
    try:
        fn(*args, **kwargs)
    except error:
        return
    raise AssertionError(f"expected {error.__name__}")


@pytest.mark.parametrize("fn,args,kwargs,error", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_calls_keep_reference_counts_and_memory(fn, args, kwargs, error, capfd):
    for _ in range(20):
        call(fn, args, kwargs, error)
    objects = watched(args, kwargs)
    if fn is getattr:
        # The interpreter's type attribute cache holds and drops references to attribute names
        # as other lookups come and go; only the object read from is ours to watch.
        objects = objects[:1]
    gc.collect()
    refs = [sys.getrefcount(o) for o in objects]
    blocks = sys.getallocatedblocks()
    for _ in range(CALLS):
        call(fn, args, kwargs, error)
    gc.collect()
    assert [sys.getrefcount(o) for o in objects] == refs
    assert sys.getallocatedblocks() - blocks < BLOCK_SLACK
    capfd.readouterr()  # internal-failure reports written to stderr


def test_results_outlive_their_validator_and_schema():
    schema = t.Schema({"A": ["x"]}, {})
    validator = t.Tessary(schema)
    results = validator.validate_batch(["MATCH (a:B) RETURN a.x", "MATCH (a:A) RETURN a.y"])
    generator = t.CypherGenerator(schema, seed=1)
    del schema, validator
    gc.collect()
    assert results[0].errors[0].startswith("Unknown node label: :B")
    assert results[1].diagnostics[0].to_dict()["code"] == "E303"
    assert generator.generate("match_return").startswith("MATCH (n:A)")


def test_returned_objects_are_the_only_reference():
    # A fresh object from an entry point, and every fresh object inside it, must be freed as soon
    # as the caller drops it: its only references are the caller's (or its container's).
    makers = [SCHEMA.to_dict, lambda: VALIDATOR.validate(Q_VALID), RESULT.to_dict,
              lambda: VALIDATOR.validate_batch([Q_VALID, Q_SYNTAX]), lambda: RESULT.diagnostics,
              lambda: t.parse_query(Q_VALID), lambda: SCHEMA.merge(OTHER), lambda: VALIDATOR.schema,
              lambda: GENERATOR.generate_batch("create", 2), lambda: SCHEMA.rel_endpoints("KNOWS"),
              lambda: RESULT.errors]
    fresh = (list, tuple, dict, t.Schema, t.ValidationResult, t.ValidationDiagnostic, t.QueryInfo)
    for make in makers:
        obj = make()
        assert sys.getrefcount(obj) == 2, make
        items = obj.values() if isinstance(obj, dict) else obj if isinstance(obj, (list, tuple)) else ()
        for item in items:
            if isinstance(item, fresh):
                # the container's, `item`'s and getrefcount's own
                assert sys.getrefcount(item) == 3, (make, item)
