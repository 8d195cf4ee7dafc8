"""parse_query and QueryInfo: what the summary walks and skips, and the class itself."""

import pytest

import _tessary
from _tessary import QueryInfo, parse_query
from repr_reference import repr_list

# (query, labels_used, rel_types_used, properties_used)
SUMMARIES = [
    # The docstring's example.
    ("MATCH (p:Person)-[:ACTED_IN]->(m:Movie) RETURN p.name",
     ["Movie", "Person"], ["ACTED_IN"], ["name"]),
    # Duplicates collapse; byte order puts upper case before lower case.
    ("MATCH (a:Person), (b:Person)-[:KNOWS]->(c:actor) RETURN a",
     ["Person", "actor"], ["KNOWS"], []),
    ("MATCH (a:Person) RETURN a UNION MATCH (b:Person:Movie) RETURN b",
     ["Movie", "Person"], [], []),
    ("MATCH (a:B:A:C)-[:Z|Y]-(b) RETURN 1", ["A", "B", "C"], ["Y", "Z"], []),
    # WITH is never visited; the same lookups in RETURN or MATCH WHERE are.
    ("MATCH (n:Person) WITH n.age AS a RETURN a", ["Person"], [], []),
    ("MATCH (n:Person) WITH n ORDER BY n.y SKIP n.s LIMIT n.l WHERE n.x > 1 RETURN n",
     ["Person"], [], []),
    ("MATCH (n:Person) RETURN n.age", ["Person"], [], ["age"]),
    ("MATCH (n:Person) WHERE n.age > 3 RETURN n", ["Person"], [], ["age"]),
    ("MATCH (n:Person) WITH n MATCH (n)-[:R]->(m:M) WHERE m.k = 1 RETURN m.j",
     ["M", "Person"], ["R"], ["j", "k"]),
    # SET, REMOVE, DELETE, FOREACH, ORDER BY, SKIP, LIMIT, UNWIND and call arguments add nothing.
    ("MATCH (n:Person) SET n.age = n.b, n:Extra REMOVE n.c, n:Gone RETURN n",
     ["Person"], [], []),
    ("MATCH (n:Person) DETACH DELETE n.x", ["Person"], [], []),
    ("MATCH (n:P) FOREACH (x IN n.list | CREATE (:Q {k: x.v})) RETURN 1", ["P"], [], []),
    ("MATCH (n:P) RETURN n ORDER BY n.age SKIP n.s LIMIT n.l", ["P"], [], []),
    ("UNWIND $rows AS r MATCH (n:P) RETURN n", ["P"], [], []),
    ("UNWIND [x IN range(1, 3) | x.a] AS r RETURN r", [], [], []),
    ("CALL db.index(n.key, {a: m.b}) YIELD x RETURN x", [], [], []),
    # CREATE and MERGE patterns count; MERGE actions do not.
    ("CREATE (a:Person {name: 'x'})-[:KNOWS {since: 1}]->(b:Person)", ["Person"], ["KNOWS"],
     ["name"]),
    ("MERGE (a:Person {id: 1})-[:R]->(b:B) ON CREATE SET a.c = b.d ON MATCH SET a:L",
     ["B", "Person"], ["R"], ["id"]),
    # Subqueries of CALL { } are walked.
    ("CALL { MATCH (m:Movie)-[:HAS]->(g:Genre) RETURN m.title AS t } RETURN t",
     ["Genre", "Movie"], ["HAS"], ["title"]),
    ("CALL { MATCH (a:A) RETURN a UNION MATCH (b:B) RETURN b AS a } RETURN a", ["A", "B"], [], []),
    # Relationship maps add nothing; node maps add their keys and the lookups in their values.
    ("MATCH (a)-[r:R {w: b.z}]->(b) RETURN 1", [], ["R"], []),
    ("MATCH (a:A {k: b.z, j: [c.y], l: {m: d.x}}) RETURN 1", ["A"], [], ["j", "k", "l", "x", "y",
                                                                           "z"]),
    ("MATCH (a:A {k: $p}), (b:B $props) RETURN 1", ["A", "B"], [], ["k"]),
    # ... but labels and types inside a node map's values do not count.
    ("MATCH (a:A {k: size([(a)-[:HIDDEN]->(x:Hidden) | x.v])}) RETURN 1", ["A"], [], ["k", "v"]),
    # A map literal adds its values' lookups, not its keys.
    ("MATCH (n:P) RETURN {alias: n.name, other: 1}", ["P"], [], ["name"]),
    # Patterns inside walked expressions.
    ("MATCH (a:Person) WHERE EXISTS { (a)-[:KNOWS]->(b:Person) } RETURN a",
     ["Person"], ["KNOWS"], []),
    ("MATCH (a:A) RETURN [(a)-[:R]->(b:B {p: 1}) WHERE b.q > 0 | b.r]", ["A", "B"], ["R"],
     ["p", "q", "r"]),
    ("MATCH (a:A), (b:B) RETURN shortestPath((a)-[:S*]-(b:C))", ["A", "B", "C"], ["S"], []),
    ("MATCH (a:A) RETURN COUNT { MATCH (a)-[:R]->(c:C) RETURN c.v }", ["A", "C"], ["R"], ["v"]),
    ("MATCH (a:A) RETURN COLLECT { MATCH (a)-[:R]->(c:C) RETURN c.v }", ["A", "C"], ["R"], ["v"]),
    # Every expression form reaches the lookups inside it.
    ("RETURN CASE a.s WHEN b.w THEN c.t ELSE d.e END", [], [], ["e", "s", "t", "w"]),
    ("RETURN [x IN a.l WHERE x.f | x.p], all(y IN b.l WHERE y.q), "
     "reduce(s = c.i, z IN d.l | s + z.r)", [], [], ["f", "i", "l", "p", "q", "r"]),
    ("RETURN a.x[b.i], c.y[d.f..e.t], NOT f.n, -g.m, h.z IS NULL, i.u IN j.v, "
     "k.s STARTS WITH 'a', toLower(l.w), m.o.p", [],
     [], ["f", "i", "m", "n", "o", "p", "s", "t", "u", "v", "w", "x", "y", "z"]),
    ("RETURN 1 + 2, 'a', true, null, $p, count(*), x", [], [], []),
    # Names keep their letter case and backticks.
    ("MATCH (n:`My Label`)-[:`rel type`]->(m:person) RETURN n.`odd key`",
     ["`My Label`", "person"], ["`rel type`"], ["`odd key`"]),
    # A procedure call standing alone parses and names nothing.
    ("CALL my.labels() YIELD label", [], [], []),
    ("RETURN *", [], [], []),
]


@pytest.mark.parametrize("query, labels, rel_types, properties", SUMMARIES)
def test_summary_lists(query, labels, rel_types, properties):
    info = parse_query(query)
    assert info.errors == []
    assert info.is_valid is True and bool(info) is True
    assert (info.labels_used, info.rel_types_used, info.properties_used) == \
        (labels, rel_types, properties)


@pytest.mark.parametrize("query", ["", "MATCH (n RETURN n", "RETURN 1 +", "MATCH (n)\nRETURN n,"])
def test_syntax_errors(query):
    info = parse_query(query)
    assert info.is_valid is False and not info
    (error,) = info.errors
    assert error.startswith("Parse error: ") and "\n" in error
    assert info.labels_used == info.rel_types_used == info.properties_used == []
    assert repr(info) == ("QueryInfo(is_valid=false, labels=[], rel_types=[], properties=[], "
                          "errors=%s)" % repr_list(info.errors))
    assert "\\n" in repr(info) and "\n" not in repr(info)


def test_builder_error():
    info = parse_query("RETURN " + "1 + " * 3100 + "1")
    assert info.is_valid is False
    (error,) = info.errors
    assert error.startswith("Parse error: ")


def test_error_text_matches_validator_message():
    # The summary uses the same parser; its text carries the display prefix.
    validator = _tessary.Tessary(_tessary.Schema({}, {}))
    for query in ["", "MATCH (n RETURN n"]:
        assert parse_query(query).errors == ["Parse error: " + validator.validate(query).errors[0]]


def test_repr_of_valid_queries():
    assert repr(parse_query("RETURN 1")) == \
        "QueryInfo(is_valid=true, labels=[], rel_types=[], properties=[], errors=[])"
    info = parse_query('MATCH (n:`a"b\\c`)-[:`t\u0301`]->(m:B) RETURN n.`k\tk`')
    assert repr(info) == ("QueryInfo(is_valid=true, labels=%s, rel_types=%s, properties=%s, "
                          "errors=[])" % (repr_list(info.labels_used),
                                          repr_list(info.rel_types_used),
                                          repr_list(info.properties_used)))
    assert '\\"' in repr(info) and "\\\\" in repr(info) and "\\u{301}" in repr(info)


def test_attributes_are_fresh_lists():
    info = parse_query("MATCH (n:A) RETURN n.x")
    assert info.labels_used is not info.labels_used
    info.labels_used.append("B")
    assert info.labels_used == ["A"]
    with pytest.raises(AttributeError):
        info.is_valid = False


@pytest.mark.parametrize("call, message", [
    (lambda: parse_query(), "parse_query() missing 1 required positional argument: 'query'"),
    (lambda: parse_query(1), "argument 'query': 'int' object cannot be cast as 'str'"),
    (lambda: parse_query(None), "argument 'query': 'NoneType' object cannot be cast as 'str'"),
    (lambda: parse_query("a", "b"), "parse_query() takes 1 positional arguments but 2 were given"),
    (lambda: parse_query(q="a"), "parse_query() got an unexpected keyword argument 'q'"),
])
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_keyword_argument():
    assert parse_query(query="MATCH (n:A) RETURN n").labels_used == ["A"]


def test_class_and_function():
    with pytest.raises(TypeError):
        QueryInfo()
    with pytest.raises(TypeError):
        type("Derived", (QueryInfo,), {})
    assert QueryInfo.__module__ == "builtins"
    assert parse_query.__module__ == "_tessary"
    assert _tessary.__all__[-2:] == ["QueryInfo", "parse_query"]


@pytest.mark.parametrize("attr, doc", [
    ("is_valid", "True if the query is syntactically valid."),
    ("errors", "Syntax error messages (empty if valid)."),
    ("labels_used", "Node labels referenced in the query."),
    ("rel_types_used", "Relationship types referenced in the query."),
    ("properties_used", 'Property keys accessed in the query (e.g. ``["name", "age"]``).'),
])
def test_attribute_docs(attr, doc):
    assert getattr(QueryInfo, attr).__doc__ == doc


def test_docs():
    assert QueryInfo.__doc__ == "Information extracted from a parsed query without a schema."
    assert parse_query.__text_signature__ == "(query)"
    assert parse_query.__doc__.startswith(
        "Parse a Cypher query and return structural information without requiring a schema.")
    # The example in the docstring gives what it says.
    info = parse_query("MATCH (p:Person)-[:ACTED_IN]->(m:Movie) RETURN p.name")
    for value in (info.labels_used, info.rel_types_used, info.properties_used):
        assert repr(value).replace("'", '"') in parse_query.__doc__
