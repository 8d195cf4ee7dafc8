"""Property-based tests of the expression checks: the findings of an expression do not depend on
where it stands, nothing an expression binds outlives it, aggregates are found alike in every
clause that forbids them, and function names match in any letter case.

Expressions are generated over the variables that a fixed prefix binds (n:Person, r:ACTED_IN,
m:Movie, u without labels) plus an unbound q, with property keys both known and misspelt,
built-in and unknown functions with any number of arguments, and every scoped form.
"""

import re

from hypothesis import HealthCheck, assume, given, settings, strategies as st

from _tessary import Schema, Tessary

SCHEMA = Schema(
    {"Person": ["name", "age"], "Movie": ["title"]},
    {"ACTED_IN": ("Person", "Movie", ["role"])},
)
VALIDATOR = Tessary(SCHEMA)

PREFIX = "MATCH (n:Person)-[r:ACTED_IN]->(m:Movie) UNWIND [1] AS u "
# The prefix's own findings: none.
assert VALIDATOR.validate(PREFIX + "RETURN n").diagnostics == []

BOUND = ["n", "r", "m", "u"]
VARS = BOUND + ["q", "x", "y"]  # q is never bound; x and y only by comprehensions
KEYS = ["name", "age", "title", "role", "nme", "titel", "rol", "`name`", "`agee`", "address"]
FUNCS = ["count", "collect", "sum", "avg", "min", "max", "stdev", "percentileCont", "toLower",
         "toUpper", "substring", "round", "pi", "coalesce", "rand", "date", "range", "size",
         "exists", "my.fn", "apoc.coll.sum", "foo", "replace", "head"]
AGGREGATES = {"count", "collect", "sum", "avg", "min", "max", "stdev", "percentilecont"}
# A name that the generated expressions never use.
FRESH = "fresh_v"

LEAF = st.one_of(
    st.sampled_from(VARS),
    st.builds(lambda v, k: "%s.%s" % (v, k), st.sampled_from(VARS), st.sampled_from(KEYS)),
    st.sampled_from(["1", "2.5", "'s'", "true", "null", "$p", "count(*)"]),
)


def extend(inner):
    args = st.lists(inner, max_size=3)
    return st.one_of(
        st.builds(lambda f, d, a: "%s(%s%s)" % (f, "DISTINCT " if d and a else "", ", ".join(a)),
                  st.sampled_from(FUNCS), st.booleans(), args),
        st.builds(lambda a, o, b: "(%s %s %s)" % (a, o, b), inner,
                  st.sampled_from(["+", "*", "=", "<>", "AND", "OR", "IN", "STARTS WITH", "<"]),
                  inner),
        st.builds(lambda o, a: "%s(%s)" % (o, a), st.sampled_from(["NOT ", "-"]), inner),
        st.builds(lambda a: "(%s IS NULL)" % a, inner),
        st.builds(lambda a: "[%s]" % ", ".join(a), args),
        st.builds(lambda a, b: "{a: %s, b: %s}" % (a, b), inner, inner),
        st.builds(lambda a, b: "%s[%s]" % (a, b), inner, inner),
        st.builds(lambda a, b, c: "%s[%s .. %s]" % (a, b, c), inner, inner, inner),
        st.builds(lambda s, w, t, e: "CASE %s WHEN %s THEN %s ELSE %s END" % (s, w, t, e),
                  inner, inner, inner, inner),
        st.builds(lambda v, lst, f, p: "[%s IN %s WHERE %s | %s]" % (v, lst, f, p),
                  st.sampled_from(["x", "y", "n", "u"]), inner, inner, inner),
        st.builds(lambda k, v, lst, p: "%s(%s IN %s WHERE %s)" % (k, v, lst, p),
                  st.sampled_from(["all", "any", "none", "single"]),
                  st.sampled_from(["x", "y", "m"]), inner, inner),
        st.builds(lambda a, i, v, lst, p: "reduce(%s = %s, %s IN %s | %s)" % (a, i, v, lst, p),
                  st.sampled_from(["x", "y", "r"]), inner, st.sampled_from(["x", "y"]), inner,
                  inner),
        st.builds(lambda v, w, p: "[(%s)-[:ACTED_IN]->(y:Movie) WHERE %s | %s]" % (v, w, p),
                  st.sampled_from(["n", "x", "q"]), inner, inner),
        st.builds(lambda v: "EXISTS { (%s)-[:ACTED_IN]->(y:Movie) }" % v,
                  st.sampled_from(["n", "x"])),
        st.builds(lambda w, p: "COUNT { MATCH (x:Person) WHERE %s RETURN %s }" % (w, p),
                  inner, inner),
        st.builds(lambda p: "COLLECT { WITH 1 AS y RETURN %s }" % p, inner),
        st.builds(lambda v: "shortestPath((%s)-[:ACTED_IN*]->(y))" % v, st.sampled_from(VARS)),
    )


EXPR = st.recursive(LEAF, extend, max_leaves=12)

SETTINGS = settings(max_examples=75, deadline=None,
                    suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much])


def findings(query):
    r = VALIDATOR.validate(query)
    return [(d.code, d.message, d.suggestion_original, d.suggestion_replacement)
            for d in r.diagnostics]


def expression_findings(expr):
    got = findings(PREFIX + "RETURN (%s)" % expr)
    assume(not got or got[0][0] != "E101")
    return got


@SETTINGS
@given(EXPR)
def test_findings_do_not_depend_on_the_surrounding_expression_or_clause(expr):
    base = expression_findings(expr)
    for wrapped in ["RETURN [(%s)]", "RETURN {k: (%s)}", "RETURN coalesce((%s))",
                    "RETURN CASE WHEN true THEN (%s) END", "WITH (%s) AS fresh_v RETURN fresh_v",
                    "RETURN 1 ORDER BY (%s)", "UNWIND [(%s)] AS fresh_v RETURN fresh_v"]:
        assert findings(PREFIX + wrapped % expr) == base, wrapped


@SETTINGS
@given(EXPR)
def test_an_expression_leaves_the_scope_as_it_found_it(expr):
    base = expression_findings(expr)
    # The prefix's variables are still bound with their labels afterwards, and nothing the
    # expression bound is visible. The alias keeps a bare x or y from projecting the same name
    # as the trailing items (an E502 that has nothing to do with scopes).
    after = findings(PREFIX + "RETURN (%s) AS fresh_v, n.nme, r.rol, m.titel, u.k, x, y" % expr)
    tail = [
        ("E303", "Unknown property 'nme' on variable 'n' with label :Person, did you mean .name?",
         "nme", "name"),
        ("E304", "Unknown property 'rol' on variable 'r' with relationship type :ACTED_IN, "
                 "did you mean .role?", "rol", "role"),
        ("E303", "Unknown property 'titel' on variable 'm' with label :Movie, did you mean "
                 ".title?", "titel", "title"),
        ("E501", "Variable 'x' is not bound in this scope", None, None),
        ("E501", "Variable 'y' is not bound in this scope", None, None),
    ]
    assert after == base + tail


@SETTINGS
@given(EXPR, st.sampled_from([
    "[fresh_v IN [1] | (%s)]",
    "[fresh_v IN [1] WHERE (%s)]",
    "any(fresh_v IN [1] WHERE (%s))",
    "reduce(fresh_v = 0, fresh_w IN [1] | (%s))",
    "[(fresh_v)-->() | (%s)]",
    "COUNT { MATCH (fresh_v:Person) RETURN (%s) }",
]))
def test_a_scoped_form_binds_its_variable_only_inside(expr, form):
    base = expression_findings(expr)
    inner = findings(PREFIX + "RETURN " + form % expr)
    after = findings(PREFIX + "RETURN " + form % expr + ", fresh_v")
    assert after == inner + [("E501", "Variable 'fresh_v' is not bound in this scope", None, None)]
    # The body sees what the expression alone sees (the fresh variable is not used in it).
    assert inner == base


@SETTINGS
@given(EXPR)
def test_aggregates_are_found_alike_in_every_forbidden_clause(expr):
    base = expression_findings(expr)

    def aggregate_found(query, context):
        """Whether the clause raised E602; its findings are E602 (when raised) and then exactly
        those of the expression (which may hold E602 of a nested MATCH WHERE of its own)."""
        got = findings(query)
        mark = ("E602", "Aggregate function not allowed in %s context; aggregates are only "
                        "valid in RETURN, WITH, or ORDER BY" % context, None, None)
        assert got in (base, [mark] + base), query
        return got != base

    in_where = aggregate_found(PREFIX + "MATCH (z) WHERE (%s) RETURN z" % expr, "MATCH WHERE")
    in_set = aggregate_found(PREFIX + "SET n.age = (%s)" % expr, "SET")
    in_delete = aggregate_found(PREFIX + "DELETE (%s)" % expr, "DELETE")
    assert in_where == in_set == in_delete
    # An aggregate around the expression is always found; one inside a list comprehension never.
    assert aggregate_found(PREFIX + "SET n.age = count((%s))" % expr, "SET")
    assert findings(PREFIX + "DELETE [fresh_v IN [1] | (%s)]" % expr) == findings(
        PREFIX + "RETURN [fresh_v IN [1] | (%s)]" % expr)


def recase(expr, flips):
    """Changes the letter case of built-in function names (namespaced ones stay as they are)."""
    def swap(match):
        name = match.group(1)
        if name.lower() not in {f.lower() for f in FUNCS if "." not in f}:
            return match.group(0)
        mixed = "".join(c.upper() if (flips >> (i % 16)) & 1 else c.lower()
                        for i, c in enumerate(name))
        return mixed + "("
    return re.sub(r"(?<![.\w])([A-Za-z_]\w*)\(", swap, expr)


@SETTINGS
@given(EXPR, st.integers(0, 2 ** 16 - 1))
def test_function_names_match_in_any_letter_case(expr, flips):
    base = expression_findings(expr)
    other = expression_findings(recase(expr, flips))
    assert [f[0] for f in other] == [f[0] for f in base]


@SETTINGS
@given(st.lists(EXPR, min_size=1, max_size=30))
def test_batch_validation_of_expressions_equals_one_by_one(exprs):
    queries = [PREFIX + "RETURN (%s)" % e for e in exprs]
    assert ([r.to_dict() for r in VALIDATOR.validate_batch(queries)]
            == [VALIDATOR.validate(q).to_dict() for q in queries])
