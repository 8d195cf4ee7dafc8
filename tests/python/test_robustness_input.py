"""Hostile and extreme input: every case gives its clear error or a correct result, quickly.

Lone surrogates, NUL characters, 10 MB queries, 100,000 levels of nesting, schemas of 100,000
labels, sequences that are not what they claim, and dicts changed while they are converted.
Deep nesting is also run on threads with small stacks, in a child process so that a crash
shows as a failed test rather than ending the test run.
"""
import json
import subprocess
import sys
import textwrap
import time

import pytest

import _tessary as t

SCHEMA = t.Schema({"Person": ["name", "age"], "Movie": ["title"]},
                  {"ACTED_IN": ("Person", "Movie", ["role"])})
VALIDATOR = t.Tessary(SCHEMA)
VALID = "MATCH (p:Person) RETURN p.name"
ENCODING = "surrogates not allowed"
N = 100_000


# A guard against hangs (work that would never end, or grow without bound), not a speed
# measurement: the bound is far above any normal run, sanitizer builds included.
HANG_GUARD = 120


def within(fn, *args):
    began = time.perf_counter()
    result = fn(*args)
    assert time.perf_counter() - began < HANG_GUARD
    return result


# ---------------------------------------------------------------------------------------------
# Lone surrogates

@pytest.mark.parametrize("call", [
    lambda: VALIDATOR.validate("MATCH (n:`\ud800`) RETURN n"),
    lambda: VALIDATOR.validate(query="RETURN '\udfff'"),
    lambda: VALIDATOR.validate_batch([VALID, "RETURN '\ud800'"]),
    lambda: t.parse_query("\udc80"),
    lambda: t.Schema({"\ud800": []}, {}),
    lambda: t.Schema({}, {"\ud800": ("A", "B", [])}),
    lambda: t.Schema.from_json('{"nodes": {"\ud800": []}, "relationships": {}}'),
    lambda: SCHEMA.has_node_label("Per\ud800"),
    lambda: SCHEMA.node_properties("\ud800"),
    lambda: t.CypherGenerator(SCHEMA, seed=1).generate("\ud800"),
], ids=["validate", "validate-keyword", "batch", "parse_query", "label", "rel-type", "from_json",
        "has_node_label", "node_properties", "generate"])
def test_lone_surrogates_raise_the_encoding_error(call):
    with pytest.raises(UnicodeEncodeError, match=ENCODING):
        call()


@pytest.mark.parametrize("nodes,rels,message", [
    ({"A": ["ok", "\ud800"]}, {}, "Expected list[str] for node properties of label 'A'"),
    ({}, {"R": ("\ud800", "B", [])}, "Expected (str, str, list[str]) for relationship 'R'"),
    ({}, {"R": ("A", "B", ["\udfff"])}, "Expected (str, str, list[str]) for relationship 'R'"),
])
def test_surrogates_inside_schema_values_give_the_shape_errors(nodes, rels, message):
    with pytest.raises(TypeError) as info:
        t.Schema(nodes, rels)
    assert str(info.value).startswith(message)


def test_surrogate_escapes_in_schema_json():
    with pytest.raises(ValueError, match="^Invalid Schema JSON: .*surrogate"):
        t.Schema.from_json('{"nodes": {"\\ud800": []}, "relationships": {}}')
    pair = t.Schema.from_json('{"nodes": {"\\ud83d\\ude00": ["\\u00e9"]}, "relationships": {}}')
    assert pair.node_labels() == ["\U0001f600"] and pair.node_properties("\U0001f600") == ["\u00e9"]


def test_a_failed_batch_conversion_validates_nothing_and_the_validator_still_works():
    with pytest.raises(UnicodeEncodeError):
        VALIDATOR.validate_batch([VALID] * 1000 + ["\ud800"])
    assert [r.is_valid for r in VALIDATOR.validate_batch([VALID, "RETURN"])] == [True, False]


# ---------------------------------------------------------------------------------------------
# NUL characters

def test_nul_characters_in_queries():
    # Outside a string or name a NUL is no part of the grammar: a parse error at its column.
    r = VALIDATOR.validate("MATCH (n:Person)\x00 RETURN n")
    assert not r.is_valid and r.diagnostics[0].code == "E101"
    assert (r.diagnostics[0].position_line, r.diagnostics[0].position_col) == (1, 17)
    assert "\\0" in repr(r)
    # Inside a string literal it is data; inside a backticked name it is part of the name.
    assert VALIDATOR.validate("RETURN 'a\x00b'").is_valid
    r = VALIDATOR.validate("MATCH (n:`Per\x00son`) RETURN n")
    assert r.errors == ["Unknown node label: :`Per\x00son`, did you mean :Person?"]
    assert r.fixed_query == "MATCH (n:Person) RETURN n"
    assert json.loads(r.to_json())["errors"] == r.errors
    assert t.parse_query("MATCH (n:`A\x00`) RETURN n.`k\x00`").labels_used == ["`A\x00`"]


def test_nul_characters_in_schema_names_round_trip():
    s = t.Schema({"A\x00B": ["p\x00"]}, {"R\x00": ("A\x00B", "A\x00B", [])})
    text = s.to_json()
    assert "\\u0000" in text and "\x00" not in text
    back = t.Schema.from_json(text)
    assert back.to_dict() == s.to_dict() == {
        "nodes": {"A\x00B": ["p\x00"]}, "relationships": {"R\x00": ("A\x00B", "A\x00B", [])}}
    assert s.has_node_label("A\x00B") and not s.has_node_label("A")
    assert repr(s) == 'Schema(nodes=["A\\0B"], relationships=["R\\0"])'
    assert t.Tessary(s).validate("MATCH (a:`A\x00B`)-[:`R\x00`]->(b) RETURN a.`p\x00`").is_valid
    with pytest.raises(ValueError, match="^Invalid Schema JSON: "):
        t.Schema.from_json('{"nodes": {"A\x00": []}, "relationships": {}}')  # raw control char


# ---------------------------------------------------------------------------------------------
# 10 MB queries

TEN_MB = 10_000_000


@pytest.mark.parametrize("query,valid", [
    ("RETURN '" + "a" * TEN_MB + "'", True),
    ("MATCH (n:Person) RETURN n" + " " * TEN_MB, True),
    ("MATCH (n:Person)" + " /* comment */" * (TEN_MB // 14) + " RETURN n", True),
    ("MATCH (`" + "v" * TEN_MB + "`:Person) RETURN 1", True),
    ("RETURN '" + "a" * TEN_MB, False),  # unterminated string at the very end
    ("RETURN 1 " + "x" * TEN_MB, False),
], ids=["string", "spaces", "comments", "name", "unterminated", "trailing-garbage"])
def test_ten_megabyte_queries(query, valid):
    r = within(VALIDATOR.validate, query)
    assert r.is_valid is valid
    assert within(t.parse_query, query).is_valid is valid
    if not valid:
        assert r.diagnostics[0].code == "E101" and r.diagnostics[0].position_line == 1


def test_ten_megabyte_unknown_label_gets_its_finding():
    label = "Q" * TEN_MB
    r = within(VALIDATOR.validate, f"MATCH (n:{label}) RETURN n")
    assert r.errors == [f"Unknown node label: :{label}"]


def test_batch_of_ten_megabyte_queries():
    big = "MATCH (n:Person) WHERE n.name = '" + "z" * TEN_MB + "' RETURN n"
    results = within(VALIDATOR.validate_batch, [big, VALID, big[:-1] + "(", big])
    assert [r.is_valid for r in results] == [True, True, False, True]


# ---------------------------------------------------------------------------------------------
# 100,000 levels of nesting

def nests(n):
    return {
        "parentheses": "RETURN " + "(" * n + "1" + ")" * n,
        "lists": "RETURN " + "[" * n + "1" + "]" * n,
        "maps": "RETURN " + "{a: " * n + "1" + "}" * n,
        "call-subquery": "CALL { " * n + "RETURN 1 AS x" + " }" * n + " RETURN x",
        "count-subquery": "RETURN " + "COUNT { RETURN " * n + "1" + " }" * n,
        "exists": "MATCH (a) WHERE " + "EXISTS { (a {p: " * n + "1" + "}) }" * n + " RETURN a",
        "case": "RETURN " + "CASE WHEN true THEN " * n + "1" + " END" * n,
        "function-calls": "RETURN " + "abs(" * n + "1" + ")" * n,
        "list-comprehension": "RETURN " + "[x IN " * n + "[1]" + " | x]" * n,
        "foreach": "MATCH (a) " + "FOREACH (x IN [1] | " * n + "SET a.p = 1" + ")" * n,
        "not-chain": "RETURN " + "NOT " * n + "true",
        "property-chain": "MATCH (n:Person) RETURN n" + ".name" * n,
        "index-chain": "RETURN [1]" + "[0]" * n,
        "operator-chain": "RETURN 1" + " + 1" * n,
        "comparison-chain": "RETURN 1" + " < 2" * n,
        "power-chain": "RETURN 2" + " ^ 2" * n,
        "and-chain": "RETURN true" + " AND false" * n,
    }


@pytest.mark.parametrize("name", list(nests(1)))
def test_hundred_thousand_levels_of_nesting_are_a_parse_error(name):
    query = nests(N)[name]
    r = within(VALIDATOR.validate, query)
    assert not r.is_valid
    assert r.diagnostics[0].code == "E101" and r.syntax_errors == r.errors
    info = within(t.parse_query, query)
    assert not info.is_valid and info.errors[0].startswith("Parse error: ")
    # A shallow query of the same form is accepted.
    assert VALIDATOR.validate(nests(5)[name]).syntax_errors == []


@pytest.mark.parametrize("name", ["parentheses", "maps", "not-chain", "operator-chain"])
def test_nesting_errors_say_the_query_is_nested_too_deeply(name):
    assert "nested too deeply" in VALIDATOR.validate(nests(N)[name]).errors[0].lower()


def test_deep_nesting_in_a_batch_matches_one_by_one():
    queries = [nests(n)[name] for name in nests(1) for n in (3, 250, 2000)]
    assert ([r.to_json() for r in within(VALIDATOR.validate_batch, queries)]
            == [VALIDATOR.validate(q).to_json() for q in queries])


def test_deep_nesting_on_threads_with_small_stacks():
    # Near and past the nesting bounds, on 128 KiB thread stacks; a crash ends the child.
    code = textwrap.dedent("""
        import sys, threading
        sys.path[:0] = %r
        import _tessary as t
        v = t.Tessary(t.Schema({"Person": ["name"]}, {}))
        queries = [
            "RETURN " + "{a: " * 254 + "1" + "}" * 254,
            "RETURN " + "(" * 254 + "1" + ")" * 254,
            "RETURN " + "CASE WHEN true THEN " * 254 + "1" + " END" * 254,
            "RETURN " + "{a: " * 300 + "1" + "}" * 300,
            "RETURN 1" + " + 1" * 998,
            "MATCH (n) RETURN n" + ".name" * 998,
        ]
        expected = [v.validate(q).to_json() for q in queries]
        out = []
        def work():
            out.append([v.validate(q).to_json() for q in queries])
            out.append([r.to_json() for r in v.validate_batch(queries)])
            out.append([t.parse_query(q).is_valid for q in queries])
        threading.stack_size(128 * 1024)
        th = threading.Thread(target=work)
        th.start()
        th.join()
        assert out[0] == expected and out[1] == expected, "results differ"
        assert out[2] == [True, True, True, False, True, True], out[2]
        print("ok")
    """) % (sys.path,)
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert proc.returncode == 0, proc.stderr[-2000:]
    assert proc.stdout.strip() == "ok"


# ---------------------------------------------------------------------------------------------
# 100,000 labels

# Bound of one step on a schema this large: linear work takes about a second, anything worse
# takes minutes.

@pytest.fixture(scope="module")
def huge():
    nodes = {f"Label{i}": [f"p{i}", "name"] for i in range(N)}
    rels = {f"REL_{i}": (f"Label{i}", f"Label{(i + 1) % N}", ["w"]) for i in range(N)}
    return nodes, rels, within(t.Schema, nodes, rels)


def test_hundred_thousand_labels_convert_and_render(huge):
    nodes, rels, s = huge
    labels = s.node_labels()
    assert len(labels) == N and labels == sorted(nodes)
    assert s.rel_endpoints("REL_99999") == ("Label99999", "Label0")
    back = within(t.Schema.from_json, s.to_json())
    assert back.node_labels() == labels and back.rel_types() == s.rel_types()
    assert within(s.to_dict)["nodes"]["Label123"] == ["name", "p123"]
    for render in (s.to_prompt, s.to_markdown, s.to_cypher_context):
        assert "Label99999" in within(render)
    assert len(within(s.merge, t.Schema({"Extra": []}, {})).node_labels()) == N + 1


def test_hundred_thousand_labels_validate_and_generate(huge):
    _, _, s = huge
    v = within(t.Tessary, s)
    assert v.validate("MATCH (a:Label5)-[:REL_5]->(b:Label6) RETURN a.p5, b.name").is_valid
    r = within(v.validate, "MATCH (a:Labl77777) RETURN a")
    assert r.errors == ["Unknown node label: :Labl77777, did you mean :Label77777?"]
    g = within(t.CypherGenerator, s, 3)
    for q in g.generate_batch("match_relationship", 20):
        assert v.validate(q).is_valid, q


# ---------------------------------------------------------------------------------------------
# Sequences that are not what they claim

class Seq:
    """A sequence of `items` whose __len__ reports `length`."""

    def __init__(self, length, items):
        self.length, self.items = length, items

    def __len__(self):
        return self.length

    def __getitem__(self, i):
        if i < len(self.items):
            return self.items[i]
        raise IndexError(i)


class Text(str):
    pass


class ListIteratingOthers(list):
    """A list whose iteration yields one valid query whatever it holds."""

    def __iter__(self):
        return iter([VALID])


class TupleIteratingOthers(tuple):
    def __iter__(self):
        return iter([VALID])


@pytest.mark.parametrize("queries,message", [
    ([VALID, 1], "argument 'queries': 'int' object cannot be cast as 'str'"),
    ([None], "argument 'queries': 'NoneType' object cannot be cast as 'str'"),
    ([VALID, b"RETURN 1"], "argument 'queries': 'bytes' object cannot be cast as 'str'"),
    (b"RETURN 1", "argument 'queries': 'int' object cannot be cast as 'str'"),
    (range(3), "argument 'queries': 'int' object cannot be cast as 'str'"),
    ({VALID: 1}, "argument 'queries': 'dict' object cannot be cast as 'Sequence'"),
    ({VALID}, "argument 'queries': 'set' object cannot be cast as 'Sequence'"),
    ((q for q in [VALID]), "argument 'queries': 'generator' object cannot be cast as 'Sequence'"),
    (VALID, "argument 'queries': Can't extract `str` to `Vec`"),
])
def test_batch_elements_that_are_not_str(queries, message):
    with pytest.raises(TypeError) as info:
        VALIDATOR.validate_batch(queries)
    assert str(info.value) == message


@pytest.mark.parametrize("queries,count", [
    (Seq(2, [VALID, "RETURN"]), 2),
    (Seq(10**15, [VALID]), 1),      # a length far too large to reserve room for
    (Seq(1, [VALID, VALID, VALID]), 3),  # a length smaller than the items
    ([Text(VALID), Text("RETURN")], 2),
    ((VALID,) * 3, 3),
    (ListIteratingOthers(["RETURN", "RETURN"]), 1),  # a subclass's own iteration counts
    (TupleIteratingOthers(("RETURN",) * 3), 1),
])
def test_batch_sequences_are_read_by_iteration(queries, count):
    results = VALIDATOR.validate_batch(queries)
    assert len(results) == count and results[0].is_valid


def test_a_failing_sequence_raises_its_own_error():
    class Failing(Seq):
        def __getitem__(self, i):
            raise ZeroDivisionError("no item")

    with pytest.raises(ZeroDivisionError, match="no item"):
        VALIDATOR.validate_batch(Failing(3, []))
    with pytest.raises(TypeError, match="^Expected list\\[str\\] for node properties of label 'A'$"):
        t.Schema({"A": Failing(1, [])}, {})


@pytest.mark.parametrize("props,expected", [
    (Seq(10**15, ["x"]), ["x"]),
    (("b", "a", "b"), ["a", "b"]),
    ([Text("x")], ["x"]),
])
def test_property_sequences(props, expected):
    assert t.Schema({"A": props}, {}).node_properties("A") == expected


@pytest.mark.parametrize("props", [b"ab", {"x"}, 3, ["x", 1], "name"])
def test_property_values_that_are_not_str_sequences(props):
    with pytest.raises(TypeError, match="^Expected list\\[str\\] for node properties of label 'A'$"):
        t.Schema({"A": props}, {})


# ---------------------------------------------------------------------------------------------
# Dicts changed while they are converted

class Meddling(Seq):
    """A property list that changes something the first time its length is asked for."""

    def __init__(self, action):
        super().__init__(1, ["p"])
        self.action = action

    def __len__(self):
        action, self.action = self.action, None
        if action:
            action()
        return 1


def nodes_with(change):
    d = {"A": None, "B": ["x"], "C": ["y"]}
    d["A"] = Meddling(lambda: change(d))
    return d


def rels_with(change):
    d = {"R": None, "S": ("A", "B", []), "T": ("B", "A", [])}
    d["R"] = ("A", "B", Meddling(lambda: change(d)))
    return d


CHANGES = {
    "add": (lambda d: d.__setitem__("Z", []), "dictionary changed size during iteration"),
    "delete": (lambda d: d.pop("C" if "C" in d else "T"), "dictionary changed size during iteration"),
    "clear": (lambda d: d.clear(), "dictionary changed size during iteration"),
    "replace-walked": (lambda d: (d.pop(next(iter(d))), d.__setitem__("Z", [])),
                       "dictionary keys changed during iteration"),
}


@pytest.mark.parametrize("make", [nodes_with, rels_with], ids=["nodes", "relationships"])
@pytest.mark.parametrize("change", list(CHANGES))
def test_dict_changed_during_conversion_raises_panic_exception(make, change, capfd):
    fn, message = CHANGES[change]
    d = make(fn)
    args = (d, {}) if make is nodes_with else ({}, d)
    with pytest.raises(BaseException) as info:
        t.Schema(*args)
    assert type(info.value).__name__ == "PanicException"
    assert not isinstance(info.value, Exception)
    assert str(info.value) == message
    capfd.readouterr()
    # The module is unharmed.
    assert t.Schema({"A": ["p"]}, {}).node_properties("A") == ["p"]


def test_dict_values_changed_without_changing_keys_are_read_as_found():
    d = {"A": None, "B": ["x"]}
    d["A"] = Meddling(lambda: d.__setitem__("B", ["changed"]))
    assert t.Schema(d, {}).to_dict()["nodes"] == {"A": ["p"], "B": ["changed"]}


def test_outer_dict_cleared_while_its_nodes_are_converted():
    d = {"nodes": {"A": None}, "relationships": {"R": ("A", "A", [])}}
    d["nodes"]["A"] = Meddling(lambda: d.clear())
    s = t.Schema.from_dict(d)  # the two dicts were taken before the walk
    assert s.node_labels() == ["A"] and s.rel_types() == ["R"]


def test_other_dict_changed_while_nodes_are_converted():
    rels = {"R": ("A", "A", [])}
    nodes = {"A": Meddling(lambda: rels.__setitem__("S", ("A", "A", [])))}
    assert t.Schema(nodes, rels).rel_types() == ["R", "S"]


def test_failing_key_comparison_in_from_dict_propagates():
    class Key:
        def __hash__(self):
            return hash("nodes")

        def __eq__(self, other):
            raise ZeroDivisionError("compare")

    with pytest.raises(ZeroDivisionError, match="compare"):
        t.Schema.from_dict({Key(): {}, "relationships": {}})
