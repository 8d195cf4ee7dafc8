"""The query language as the README states it: each form it refuses, next to the way around.

Every row of REFUSED is a query that does not parse and the query a user writes instead, which
does. The reserved words are checked one by one in every role a plain name plays.
"""

import pytest

import _tessary
from _tessary import Schema, parse_query

# (refused, written instead); None where there is no way around.
REFUSED = [
    # Reserved words as plain names, in any letter case: backticks.
    ("MATCH (n:Order) RETURN n", "MATCH (n:`Order`) RETURN n"),
    ("MATCH ()-[:FROM]->() RETURN 1", "MATCH ()-[:`FROM`]->() RETURN 1"),
    ("MATCH (n) RETURN n.count", "MATCH (n) RETURN n.`count`"),
    ("MATCH (n {order: 1}) RETURN n", "MATCH (n {`order`: 1}) RETURN n"),
    ("MATCH (end) RETURN end", "MATCH (`end`) RETURN `end`"),
    ("RETURN 1 AS count", "RETURN 1 AS `count`"),
    ("CALL match.x()", "CALL `match`.x()"),
    ("RETURN match.f(1)", "RETURN `match`.f(1)"),
    # Names that are not ASCII words: backticks.
    ("MATCH (n:Café) RETURN n", "MATCH (n:`Café`) RETURN n"),
    ("MATCH (n:My Label) RETURN n", "MATCH (n:`My Label`) RETURN n"),
    ("MATCH (n) RETURN n.1st", "MATCH (n) RETURN n.`1st`"),
    ("MATCH ()-[:HAS-PART]->() RETURN 1", "MATCH ()-[:`HAS-PART`]->() RETURN 1"),
    ("MATCH (n) RETURN n.`a``b`", None),  # no escape for a backtick
    # A function's own name and a parameter's name are plain ASCII words only.
    ("RETURN `my fn`(1)", "RETURN my_fn(1)"),
    ("RETURN $`my param`", "RETURN $my_param"),
    ("RETURN $prix€", "RETURN $prix"),
    ("RETURN café(1)", "RETURN cafe(1)"),
    # Reserved words are fine as a function's own name and as a parameter.
    ("MATCH (n) RETURN `count`(n), `exists`(n.x)", "MATCH (n) RETURN count(n), exists(n.x), $match"),
    # Inside an expression a bare name beginning with true, false or null is read as the literal.
    ("WITH 1 AS nullable RETURN nullable", "WITH 1 AS `nullable` RETURN `nullable`"),
    ("WITH 1 AS TrueValue RETURN TrueValue + 1", "WITH 1 AS `TrueValue` RETURN `TrueValue` + 1"),
    ("WITH 1 AS falsey RETURN [falsey]", "WITH 1 AS `falsey` RETURN [`falsey`]"),
    # Whitespace is space, tab, carriage return and line feed only.
    ("MATCH\u00a0(n) RETURN n", "MATCH (n) RETURN n"),
    ("MATCH\f(n) RETURN n", "MATCH (n) RETURN n"),
    # Numbers.
    ("RETURN 1e9", "RETURN 1.0e9"),
    ("RETURN 1e9", "RETURN 1.e9"),
    ("RETURN .5", "RETURN 0.5"),
    ("RETURN 0X1F", "RETURN 0x1F"),
    ("RETURN 0O17", "RETURN 0o17"),
    ("RETURN +1", "RETURN 1"),
    ("RETURN - -1", "RETURN -(-1)"),
    ("RETURN 1_000", "RETURN 1000"),
    # Strings have no escapes and cannot hold their own quote.
    ("RETURN 'it\\'s'", "RETURN \"it's\""),
    ("RETURN 'it''s'", "RETURN \"it's\""),
    ("RETURN \"say \\\"hi\\\"\"", "RETURN 'say \"hi\"'"),
    ("RETURN 'both \\' and \"'", "RETURN \"it's \" + '\"hi\"'"),
    # A slice with a number right before "..".
    ("WITH [1, 2, 3] AS l RETURN l[1..3]", "WITH [1, 2, 3] AS l RETURN l[1 ..3]"),
    # Trailing commas.
    ("RETURN [1, 2,]", "RETURN [1, 2]"),
    ("RETURN {a: 1,}", "RETURN {a: 1}"),
    ("RETURN f(1,)", "RETURN f(1)"),
    # Label tests and patterns are not expressions.
    ("MATCH (n) WHERE n:Person RETURN n", "MATCH (n:Person) RETURN n"),
    ("MATCH (n) WHERE n:Person RETURN n", "MATCH (n) WHERE EXISTS { (n:Person) } RETURN n"),
    ("MATCH (a), (b) WHERE (a)-->(b) RETURN a", "MATCH (a), (b) WHERE EXISTS { (a)-->(b) } RETURN a"),
    # A CASE condition that begins with "(" is read as a call of a function named WHEN.
    ("RETURN CASE WHEN (1 > 0) THEN 'x' END", "RETURN CASE WHEN 1 > 0 THEN 'x' END"),
    # EXISTS takes a pattern, COUNT and COLLECT take a query.
    ("MATCH (n) WHERE EXISTS { MATCH (n)-->(m) } RETURN n",
     "MATCH (n) WHERE EXISTS { (n)-->(m) } RETURN n"),
    ("MATCH (n) WHERE EXISTS { (n)-->(m) WHERE m.x > 1 } RETURN n",
     "MATCH (n) WHERE COUNT { MATCH (n)-->(m) WHERE m.x > 1 RETURN m } > 0 RETURN n"),
    ("MATCH (a) RETURN COUNT { (a)-->(b) }", "MATCH (a) RETURN COUNT { MATCH (a)-->(b) RETURN b }"),
    ("MATCH (a) RETURN COLLECT { (a)-->(b) }",
     "MATCH (a) RETURN COLLECT { MATCH (a)-->(b) RETURN b }"),
    # A path variable inside shortestPath; a pattern comprehension without its projection.
    ("MATCH (a), (b) RETURN shortestPath(p = (a)-[*]-(b))",
     "MATCH p = shortestPath((a)-[*]-(b)) RETURN p"),
    ("MATCH (a) RETURN [(a)-->(b)]", "MATCH (a) RETURN [(a)-->(b) | b]"),
    # Patterns.
    ("MATCH (n:A|B) RETURN n", "MATCH (n:A) RETURN n UNION MATCH (n:B) RETURN n"),
    ("MATCH (n:A|B) RETURN n", "MATCH (n) WHERE any(l IN labels(n) WHERE l IN ['A', 'B']) RETURN n"),
    ("MATCH (n:A&B) RETURN n", "MATCH (n:A:B) RETURN n"),
    ("MATCH (n:Person WHERE n.age > 1) RETURN n", "MATCH (n:Person) WHERE n.age > 1 RETURN n"),
    ("MATCH (a)-(b) RETURN a", "MATCH (a)--(b) RETURN a"),
    ("MATCH (a)->(b) RETURN a", "MATCH (a)-->(b) RETURN a"),
    ("MATCH (a)- -(b) RETURN a", "MATCH (a)--(b) RETURN a"),
    ("MATCH (a)-[*..3]->(b) RETURN a", "MATCH (a)-[*1..3]->(b) RETURN a"),
    ("MATCH (a)-[*1..3:KNOWS]->(b) RETURN a", "MATCH (a)-[:KNOWS*1..3]->(b) RETURN a"),
    ("MATCH (a)-[:A:B]->(b) RETURN a", "MATCH (a)-[:A|B]->(b) RETURN a"),
    ("MATCH (a)-[{x: 1} r:KNOWS]->(b) RETURN a", "MATCH (a)-[r:KNOWS*1..3 {x: 1}]->(b) RETURN a"),
    # Clause order and clause forms.
    ("CREATE (n) MATCH (m) RETURN m", "CREATE (n) WITH * MATCH (m) RETURN m"),
    ("MATCH (n) RETURN n WHERE n.x = 1", "MATCH (n) WITH n WHERE n.x = 1 RETURN n"),
    ("MATCH (n) RETURN n LIMIT 2 SKIP 1", "MATCH (n) RETURN n SKIP 1 LIMIT 2"),
    ("MATCH (n) RETURN *, n.x", "MATCH (n) RETURN n, n.x"),
    ("MERGE (a), (b)", "MERGE (a) MERGE (b)"),
    ("MATCH (n) SET n.x += 1", "MATCH (n) SET n.x = n.x + 1"),
    ("CALL db.labels", "CALL db.labels()"),
    ("CALL db . labels()", "CALL db.labels()"),
    ("CALL db.labels() YIELD *", "CALL db.labels() YIELD label"),
    ("CALL db.labels() YIELD label WHERE label <> 'A' RETURN label",
     "CALL db.labels() YIELD label WITH label WHERE label <> 'A' RETURN label"),
    ("FOREACH (y IN [1] | MATCH (n) SET n.x = y)", "MATCH (n) FOREACH (y IN [1] | SET n.x = y)"),
    ("MATCH (n) FOREACH (y IN [1] | SET n.x = y RETURN y)", "MATCH (n) FOREACH (y IN [1] | SET n.x = y) RETURN n"),
    # Outside the grammar altogether.
    ("LOAD CSV FROM 'x' AS row RETURN row", None),
    ("USE db MATCH (n) RETURN n", None),
    ("SHOW INDEXES", None),
    ("CREATE INDEX FOR (n:P) ON (n.x)", None),
    ("CALL { MATCH (n) RETURN n } IN TRANSACTIONS", "CALL { MATCH (n) RETURN n } RETURN 1"),
    ("CALL (x) { RETURN x }", None),
    ("MATCH p = ((a)-->(b)){1,3} RETURN p", None),
    ("MATCH (n) RETURN n.x IS :: INTEGER", None),
    ("MATCH (n) RETURN n ORDER BY n.x DESC NULLS LAST", None),
]


@pytest.mark.parametrize("refused, instead", REFUSED)
def test_refused_form_and_its_way_around(refused, instead):
    info = parse_query(refused)
    assert not info.is_valid, refused
    assert info.errors, refused
    if instead is not None:
        info = parse_query(instead)
        assert info.is_valid, (instead, info.errors)


RESERVED = (
    "ALL AND ANY ASCENDING ASC AS BY CALL CASE CONTAINS COUNT CREATE DELETE DESCENDING DESC "
    "DETACH DISTINCT DO DROP ELSE ENDS END EXISTS FALSE FOREACH FOR FROM IN IS LIMIT MATCH MERGE "
    "NEW NONE NOT NULL ON OPTIONAL ORDER OR REDUCE REMOVE RETURN SET SINGLE SKIP STARTS THEN TRUE "
    "UNION UNWIND WHEN WHERE WITH XOR YIELD"
).split()

# Each place a plain name stands, as a query with {} for the name.
ROLES = [
    "MATCH (n:{}) RETURN n",                  # label
    "MATCH ()-[r:{}]->() RETURN r",           # relationship type
    "MATCH (n) RETURN n.{}",                  # property key
    "MATCH (n {{{}: 1}}) RETURN n",           # property key of a map
    "MATCH ({}) RETURN 1",                    # variable
    "MATCH (n) RETURN n AS {}",               # alias
    "CALL {}()",                              # procedure
]


def test_there_are_56_reserved_words():
    assert len(set(RESERVED)) == 56


@pytest.mark.parametrize("word", RESERVED)
def test_reserved_word_is_refused_plain_in_every_case_and_role_and_taken_in_backticks(word):
    for role in ROLES:
        for spelt in (word, word.lower(), word.capitalize()):
            assert not parse_query(role.format(spelt)).is_valid, role.format(spelt)
        quoted = role.format("`%s`" % word.lower())
        assert parse_query(quoted).is_valid, quoted


@pytest.mark.parametrize("word", ["orders", "end_date", "_match", "match_1", "descendings",
                                  "COLLECT", "LOAD", "USE", "SHOW", "Person"])
def test_words_that_are_not_reserved_are_plain_names(word):
    for role in ROLES:
        assert parse_query(role.format(word)).is_valid, role.format(word)


# A name in backticks is another name than the same word written plainly ("`x`" is not "x"), so
# a variable that needs backticks has them wherever it stands; labels, types and property keys
# are looked up in the schema without their backticks. (query, its errors)
VALIDATED = [
    ("MATCH (n:`Person`)-[:`KNOWS`]->(m) RETURN n.`name`", []),
    ("WITH 1 AS `nullable` RETURN `nullable`", []),
    ("WITH 1 AS nullable RETURN `nullable`", ["Variable '`nullable`' is not bound in this scope"]),
    ("MATCH (`end`) RETURN `end`", []),
    # Right after RETURN or WITH, and as a function's first argument, a name that begins with
    # DISTINCT is read as DISTINCT and the rest of the name.
    ("WITH 1 AS distinct_count RETURN distinct_count",
     ["Variable '_count' is not bound in this scope"]),
    ("WITH 1 AS `distinct_count` RETURN `distinct_count`", []),
    ("WITH [1] AS distinctValues RETURN size(distinctValues)",
     ["Variable 'Values' is not bound in this scope"]),
    ("WITH [1] AS `distinctValues` RETURN size(`distinctValues`)", []),
]


@pytest.mark.skipif(not hasattr(_tessary, "Tessary"), reason="validator classes not built")
@pytest.mark.parametrize("query, errors", VALIDATED)
def test_variables_in_backticks_and_names_that_begin_with_distinct(query, errors):
    schema = Schema({"Person": ["name"]}, {"KNOWS": ("Person", "Person", [])})
    assert _tessary.Tessary(schema).validate(query).errors == errors
