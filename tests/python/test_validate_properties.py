"""Property-based tests of Tessary.validate: random schemas and generated or mutated queries.

Whatever the query and the schema, validate returns a result (it never raises or crashes), the
result's lists agree with its diagnostics, the automatic fix only appears when every error has a
suggestion and never turns a query that parses into one that does not, and validate_batch gives
what validate gives one query at a time.
"""

import re
import string

from hypothesis import HealthCheck, given, settings, strategies as st

from _tessary import Schema, Tessary, parse_query

# ---------------------------------------------------------------------------------------------
# Names: schema names, near misses of them (so that suggestions and fixes come into play), and
# names that must be written in backticks.

BASE_NAMES = ["Person", "Movie", "name", "age", "title", "ACTED_IN", "KNOWS", "role", "x",
              "Movie Star", "first name", "Order", "été", "n", "_a1"]

PLAIN = set(string.ascii_letters + string.digits + "_")
RESERVED = {"ORDER", "MATCH", "RETURN", "AS", "IN", "OR", "AND", "NOT", "NULL", "TRUE",
            "FALSE", "COUNT", "ALL", "ANY", "NONE", "SINGLE", "EXISTS", "CASE", "END", "WITH",
            "SET", "ON", "BY", "IS", "DO", "FOR"}


def near_miss(name, kind, pos):
    if not name:
        return "z"
    i = pos % len(name)
    if kind == 0:
        return name[:i] + name[i + 1:] or "q"
    if kind == 1:
        return name[:i] + "e" + name[i:]
    if kind == 2:
        return name[:i] + name[i].swapcase() + name[i + 1:]
    return name[:i] + name[i + 1:i + 2] + name[i:i + 1] + name[i + 2:]


NAME = st.one_of(
    st.sampled_from(BASE_NAMES),
    st.builds(near_miss, st.sampled_from(BASE_NAMES), st.integers(0, 3), st.integers(0, 50)),
    st.text(alphabet="abcXYZ_ 1é", min_size=1, max_size=6),
)


def written(name):
    """The name as a query must write it: plain when it can be, else in backticks."""
    name = name.replace("`", "")
    plain = (name and (name[0].isascii() and (name[0].isalpha() or name[0] == "_"))
             and all(c in PLAIN for c in name) and name.upper() not in RESERVED)
    return name if plain else "`%s`" % name


@st.composite
def schemas(draw):
    labels = draw(st.lists(NAME, max_size=5, unique=True))
    nodes = {label: draw(st.lists(NAME, max_size=4)) for label in labels}
    rels = {}
    for rel_type in draw(st.lists(NAME, max_size=3, unique=True)):
        ends = labels or ["Node"]
        rels[rel_type] = (draw(st.sampled_from(ends)), draw(st.sampled_from(ends)),
                          draw(st.lists(NAME, max_size=3)))
    return Schema(nodes, rels)


# ---------------------------------------------------------------------------------------------
# Queries built from clause templates over those names.

VARS = st.sampled_from(["a", "b", "m", "n", "p", "r", "x", "`v w`"])
FUNCS = st.sampled_from(["count", "sum", "avg", "toLower", "size", "coalesce", "substring",
                         "my.fn", "nosuch", "collect", "max"])


@st.composite
def exprs(draw, depth=0):
    kinds = ["var", "prop", "lit"] + (["call", "bin", "list", "comp", "exists", "case"]
                                      if depth < 3 else [])
    kind = draw(st.sampled_from(kinds))
    sub = lambda: draw(exprs(depth + 1))  # noqa: E731
    if kind == "var":
        return draw(VARS)
    if kind == "prop":
        return "%s.%s" % (draw(VARS), written(draw(NAME)))
    if kind == "lit":
        return draw(st.sampled_from(["1", "1.5", "'nme'", "true", "null", "$p", "[1, 2]",
                                     "{k: 1}", "count(*)", "0x1F"]))
    if kind == "call":
        args = ", ".join(sub() for _ in range(draw(st.integers(0, 3))))
        distinct = draw(st.sampled_from(["", "DISTINCT "]))
        return "%s(%s%s)" % (draw(FUNCS), distinct if args else "", args)
    if kind == "bin":
        return "%s %s %s" % (sub(), draw(st.sampled_from(["+", "=", "AND", "<", "IN"])), sub())
    if kind == "list":
        return "[%s IN %s WHERE %s | %s]" % (draw(VARS), sub(), sub(), sub())
    if kind == "comp":
        return "all(%s IN %s WHERE %s)" % (draw(VARS), sub(), sub())
    if kind == "exists":
        return "EXISTS { %s }" % draw(patterns(depth + 1))
    return "CASE WHEN %s THEN %s ELSE %s END" % (sub(), sub(), sub())


@st.composite
def props(draw, depth):
    entries = ["%s: %s" % (written(draw(NAME)), draw(exprs(depth + 1)))
               for _ in range(draw(st.integers(0, 2)))]
    return " {%s}" % ", ".join(entries) if entries else ""


@st.composite
def nodes(draw, depth=1):
    var = draw(st.one_of(st.just(""), VARS))
    labels = "".join(":" + written(draw(NAME)) for _ in range(draw(st.integers(0, 2))))
    return "(%s%s%s)" % (var, labels, draw(props(depth)))


@st.composite
def rels(draw, depth=1):
    var = draw(st.one_of(st.just(""), VARS))
    types = "|".join(written(draw(NAME)) for _ in range(draw(st.integers(0, 2))))
    rng = draw(st.sampled_from(["", "*", "*2", "*1..3", "*2..", "*0x1..0o7", "*1 /* c */ ..4"]))
    body = "%s%s%s%s" % (var, ":" + types if types else "", rng, draw(props(depth)))
    return draw(st.sampled_from(["-[%s]->", "<-[%s]-", "-[%s]-"])) % body


@st.composite
def patterns(draw, depth=1):
    parts = []
    for _ in range(draw(st.integers(1, 3))):
        chain = draw(nodes(depth))
        for _ in range(draw(st.integers(0, 2))):
            chain += draw(rels(depth)) + draw(nodes(depth))
        parts.append(chain)
    return ", ".join(parts)


@st.composite
def clauses(draw, depth=0):
    kind = draw(st.sampled_from(["match", "optional", "unwind", "with", "create", "merge",
                                 "set", "remove", "delete", "foreach"]
                                + (["call"] if depth < 2 else [])))
    e = lambda: draw(exprs(1))  # noqa: E731
    v = lambda: draw(VARS)  # noqa: E731
    if kind in ("match", "optional"):
        where = " WHERE " + e() if draw(st.booleans()) else ""
        return "%sMATCH %s%s" % ("OPTIONAL " if kind == "optional" else "", draw(patterns()), where)
    if kind == "unwind":
        return "UNWIND %s AS %s" % (e(), v())
    if kind == "with":
        items = draw(st.sampled_from(["*", "%s" % v(), "%s AS %s, %s" % (e(), v(), v())]))
        tail = draw(st.sampled_from(["", " ORDER BY %s" % e(), " WHERE %s" % e(), " LIMIT 1.5"]))
        return "WITH %s%s" % (items, tail)
    if kind == "create":
        return "CREATE " + draw(patterns())
    if kind == "merge":
        return "MERGE %s ON CREATE SET %s.%s = %s ON MATCH SET %s:%s" % (
            draw(nodes()), v(), written(draw(NAME)), e(), v(), written(draw(NAME)))
    if kind == "set":
        return "SET %s.%s = %s, %s:%s" % (v(), written(draw(NAME)), e(), v(), written(draw(NAME)))
    if kind == "remove":
        return "REMOVE %s.%s, %s:%s" % (v(), written(draw(NAME)), v(), written(draw(NAME)))
    if kind == "delete":
        return "DETACH DELETE %s" % e()
    if kind == "foreach":
        return "FOREACH (%s IN %s | SET %s.%s = %s)" % (v(), e(), v(), written(draw(NAME)), e())
    return "CALL { %s }" % draw(queries(depth + 1))


@st.composite
def queries(draw, depth=0):
    body = " ".join(draw(clauses(depth)) for _ in range(draw(st.integers(1, 4))))
    ret = draw(st.sampled_from(["", " RETURN *", " RETURN %s" % draw(exprs(1)),
                                " RETURN %s AS c, %s ORDER BY c DESC SKIP 1" % (
                                    draw(exprs(1)), draw(VARS))]))
    union = " UNION " + draw(queries(depth + 1)) if depth == 0 and draw(st.booleans()) else ""
    return body + ret + union


def mutate(query, edits):
    text = list(query)
    for kind, pos, ch in edits:
        if not text:
            text.append(ch)
            continue
        i = pos % len(text)
        if kind == 0:
            del text[i]
        elif kind == 1:
            text.insert(i, ch)
        else:
            text[i] = ch
    return "".join(text)


EDIT = st.tuples(st.integers(0, 2), st.integers(0, 10_000),
                 st.sampled_from(list("()[]{}:-<>.,'\"`/* nPx1|$\n\\é\0")))
QUERY = st.one_of(queries(), st.builds(mutate, queries(), st.lists(EDIT, min_size=1, max_size=3)),
                  st.text(max_size=30))

# ---------------------------------------------------------------------------------------------
# Properties


# Strings, comments, quoted names, plain words, whitespace runs and single characters.
TOKEN = re.compile(r"'[^']*'|\"[^\"]*\"|`[^`]*`|//[^\n]*|/\*.*?\*/|[A-Za-z_][A-Za-z0-9_]*|\s+|.",
                   re.S)


def changed_tokens(before, after):
    """The (before, after) pairs of the tokens that differ between two texts with as many
    tokens. Each changed token must stand where a label, type or property key can: after ".",
    ":" or "|", or as a map key (after "{" or "," and before ":"); so never as a variable, an
    alias, a function name or a parameter."""
    old, new = TOKEN.findall(before), TOKEN.findall(after)
    assert len(old) == len(new), (before, after)
    significant = [i for i, t in enumerate(old)
                   if not (t.isspace() or t.startswith("//") or t.startswith("/*"))]
    changed = []
    for k, i in enumerate(significant):
        if old[i] == new[i]:
            continue
        before_it = old[significant[k - 1]] if k > 0 else ""
        after_it = old[significant[k + 1]] if k + 1 < len(significant) else ""
        assert before_it in (".", ":", "|") or (before_it in ("{", ",") and after_it == ":"), \
            (before, after, old[i])
        changed.append((old[i], new[i]))
    assert len(changed) == sum(x != y for x, y in zip(old, new)), (before, after)
    return changed


def check_result(query, r):
    d = r.to_dict()
    assert d["is_valid"] is (not d["errors"])
    diags = d["diagnostics"]
    error_texts = [x["message"] for x in diags if x["severity"] == "error"]
    warning_texts = [x["message"] for x in diags if x["severity"] == "warning"]
    assert d["errors"] == error_texts
    assert d["warnings"] == warning_texts
    for x in diags:
        assert (x["severity"] == "error") == x["code"].startswith("E")
        if x["severity"] == "warning":
            assert x["suggestion_original"] is None
    if d["syntax_errors"]:
        # A text that does not parse: exactly one E101 and nothing else.
        assert [x["code"] for x in diags] == ["E101"]
        assert d["errors"] == d["syntax_errors"] and len(d["errors"]) == 1
        assert d["semantic_errors"] == [] and d["warnings"] == []
        assert d["fixed_query"] is None
        return
    assert d["semantic_errors"] == d["errors"]
    assert all(x["code"] != "E101" and x["position_line"] is None for x in diags)
    all_suggested = all(x["suggestion_original"] is not None
                        for x in diags if x["severity"] == "error")
    assert (d["fixed_query"] is not None) == (bool(d["errors"]) and all_suggested)
    if d["fixed_query"] is not None:
        # Replacing names keeps a query that parses parseable.
        assert parse_query(d["fixed_query"]).is_valid, (query, d["fixed_query"])
        # Only names change, each to what a suggestion for that name says.
        suggested = {(x["suggestion_original"].removeprefix(":"),
                      x["suggestion_replacement"].removeprefix(":"))
                     for x in diags if x["suggestion_original"] is not None}
        changed = changed_tokens(query, d["fixed_query"])
        assert changed and set(changed) <= suggested, (query, d["fixed_query"])


@settings(max_examples=200, deadline=None, suppress_health_check=list(HealthCheck))
@given(schemas(), QUERY)
def test_validate_never_fails_and_its_result_is_consistent(schema, query):
    check_result(query, Tessary(schema).validate(query))


@settings(max_examples=40, deadline=None, suppress_health_check=list(HealthCheck))
@given(schemas(), st.lists(QUERY, max_size=25))
def test_batch_equals_one_by_one_on_random_schemas(schema, queries):
    tessary = Tessary(schema)
    batch = [r.to_dict() for r in tessary.validate_batch(queries)]
    assert batch == [tessary.validate(q).to_dict() for q in queries]


@st.composite
def fixable(draw):
    """A schema and a query whose every name is one of the schema's names or a near miss of
    one, with every variable bound: most errors carry suggestions, so the fix is exercised."""
    labels = draw(st.lists(st.sampled_from(BASE_NAMES), min_size=1, max_size=4, unique=True))
    keys = draw(st.lists(st.sampled_from(BASE_NAMES), min_size=1, max_size=4, unique=True))
    types = draw(st.lists(st.sampled_from(BASE_NAMES), min_size=1, max_size=2, unique=True))
    schema = Schema({label: keys for label in labels},
                    {t: (labels[0], labels[-1], keys) for t in types})

    def pick(names):
        name = draw(st.sampled_from(names))
        if draw(st.booleans()):
            name = near_miss(name, draw(st.integers(0, 3)), draw(st.integers(0, 50)))
        return written(name)

    template = draw(st.sampled_from([
        "MATCH (a:{L} {{{K}: 1}})-[r:{T} {{{K}: 'x'}}]->(b:{L}) RETURN a.{K}, r.{K}, b",
        "MATCH (a:{L}) WHERE a.{K} = '{K}' SET a.{K} = 1, a:{L} RETURN a.{K} // a.{K}",
        "MATCH (a:{L}) REMOVE a.{K}, a:{L} WITH a AS c ORDER BY c.{K} RETURN c.{K} AS {K}",
        "MERGE (a:{L} {{{K}: $p}}) ON CREATE SET a.{K} = 2 RETURN a /* :{L} */",
        "CREATE (a:{L})-[:{T}]->(:{L} {{{K}: 1}}) RETURN [x IN [a] | x.{K}]",
        # One name as variable, key, alias, map-literal key, string and comment.
        "MATCH ({S}:{L} {{{S}: '{S}'}})-[:{T}]->(o_t_h:{L}) WITH {S}, o_t_h "
        "RETURN {S}.{S}, o_t_h.{S} AS {S}, {{{S}: 1}} AS m // {S}",
    ]))
    query = template.replace("{S}", pick(keys))
    while "{L}" in query or "{K}" in query or "{T}" in query:
        query = (query.replace("{L}", pick(labels), 1).replace("{K}", pick(keys), 1)
                 .replace("{T}", pick(types), 1))
    return schema, query.replace("{{", "{").replace("}}", "}")


@settings(max_examples=300, deadline=None, suppress_health_check=list(HealthCheck))
@given(fixable())
def test_fixed_query_of_misspelt_names(case):
    schema, query = case
    assert parse_query(query).is_valid, query
    result = Tessary(schema).validate(query)
    check_result(query, result)
    if result.fixed_query is not None and not any(
            d.suggestion_original.startswith(":") for d in result.diagnostics
            if d.suggestion_original is not None):
        # Every name a finding was about was replaced: validating the fixed text reports none of
        # them again. (A fixed label or type brings the keys of its variable under the checks,
        # which can then find names that were not looked at before.)
        def originals(r):
            return {d["suggestion_original"] for d in r.to_dict()["diagnostics"]
                    if d["suggestion_original"] is not None}
        again = Tessary(schema).validate(result.fixed_query)
        assert not originals(again) & originals(result), (query, result.fixed_query)
