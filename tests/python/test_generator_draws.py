"""Generated queries against an independent model of the draws.

The model below re-derives every draw with Python's arbitrary-precision integers (xoshiro256++,
SplitMix64, the 32-bit and 128-bit range reductions, Floyd's sample) and fills the 13 templates;
the extension must produce exactly its strings for any schema and seed. Generated queries must
also parse and, over a schema that declares their labels, validate without errors.
"""
import pytest
from hypothesis import given, settings, strategies as st

from _tessary import CypherGenerator, Schema, Tessary, parse_query

M = (1 << 64) - 1
def rotl(v, k): return ((v << k) | (v >> (64 - k))) & M
def seed_state(seed):
    out = []
    for i in range(1, 5):
        z = (seed + i * 0x9e3779b97f4a7c15) & M
        z = ((z ^ (z >> 30)) * 0xbf58476d1ce4e5b9) & M
        z = ((z ^ (z >> 27)) * 0x94d049bb133111eb) & M
        out.append(z ^ (z >> 31))
    return out
class R:
    def __init__(self, seed): self.s = seed_state(seed); self.n = 0
    def word(self):
        s = self.s; self.n += 1
        r = (rotl((s[0] + s[3]) & M, 23) + s[0]) & M
        t = (s[1] << 17) & M
        s[2] ^= s[0]; s[3] ^= s[1]; s[1] ^= s[2]; s[0] ^= s[3]; s[2] ^= t; s[3] = rotl(s[3], 45)
        return r
    def half(self): return self.word() >> 32
    def rr(self, n):
        m = self.half() * n; hi = m >> 32; lo = m & 0xffffffff
        if lo > ((1 << 32) - n) % (1 << 32):
            h2 = (self.half() * n) >> 32
            if lo + h2 >= 1 << 32: hi += 1
        return hi
    def rr2(self, lo, hi):
        r = hi - lo + 1
        m = self.word() * r; h = m >> 64; l = m & M
        if l > (1 << 64) - r:
            h2 = (self.word() * r) >> 64
            if l + h2 >= 1 << 64: h += 1
        return lo + h
    def top(self, k): return self.word() >> (64 - k)
    def quarter(self): return self.word() < (1 << 62)
    def sample(self, length, amount):
        L = []
        for j in range(length - amount, length):
            t = self.rr(j + 1)
            if t in L: L[L.index(t)] = j
            L.append(t)
        return L

SS = ['"Alice"', '"Bob"', '"Carol"', '"Neo4j"', '"hello"']
SN = ['"Alice"', '"Bob"', '"Carol"', '"Neo4j"']
SP = ['$name', '$id', '$value', '$limit']
SSP = ['$name', '$id', '$value']
TYPES = ["match_return", "match_where_return", "create", "merge", "aggregation", "match_relationship",
         "create_relationship", "match_set", "match_delete", "with_chain", "distinct_return", "order_by", "unwind"]

def key(s): return s.encode()
class Gen:
    def __init__(self, nodes, rels, seed):
        self.labels = sorted(nodes, key=key); self.types = sorted(rels, key=key)
        self.props = {l: sorted(nodes[l], key=key) for l in self.labels}
        self.rels = rels; self.r = R(seed)
    def L(self):
        return self.labels[self.r.rr(len(self.labels))] if self.labels else "Node"
    def p(self, l):
        ps = self.props.get(l)
        return ps[self.r.rr(len(ps))] if ps else None
    def limit(self):
        return " LIMIT %d" % self.r.rr2(1, 50) if self.r.rr(3) == 0 else ""
    def scalar(self):
        d = self.r.top(2)
        if d == 0: return SS[self.r.rr(5)]
        if d == 1: return str(self.r.rr2(1, 100))
        if d == 2: return "true" if self.r.top(1) == 0 else "false"
        return SP[self.r.top(2)]
    def string(self):
        c = self.r.rr(3)
        return SN[self.r.top(2)] if c else SSP[self.r.rr(3)]
    def pmap(self, l):
        ps = self.props.get(l)
        if not ps: return ""
        k = len(ps); amount = self.r.rr(min(k, 3)) + 1
        idx = self.r.sample(k, amount)
        return " {" + ", ".join("%s: %s" % (ps[i], self.scalar()) for i in idx) + "}"
    def gen(self, t):
        if t not in TYPES: raise ValueError("Unknown query type: " + t)
        if t == "match_return":
            l = self.L(); return "MATCH (n:%s) RETURN n%s" % (l, self.limit())
        if t == "match_where_return":
            l = self.L(); p = self.p(l)
            if p:
                v = self.string(); lim = self.limit()
                return "MATCH (n:%s) WHERE n.%s = %s RETURN n.%s%s" % (l, p, v, p, lim)
            return "MATCH (n:%s) RETURN n%s" % (l, self.limit())
        if t in ("create", "merge"):
            l = self.L(); m = self.pmap(l)
            return "%s (n:%s%s) RETURN n" % (t.upper(), l, m)
        if t == "aggregation":
            l = self.L(); p = self.p(l)
            return "MATCH (n:%s) RETURN count(n.%s) AS result" % (l, p) if p else "MATCH (n:%s) RETURN count(n) AS result" % l
        if t == "match_relationship":
            if not self.types: return "MATCH (n:%s) RETURN n" % self.L()
            T = self.types[self.r.rr(len(self.types))]; S, G = self.rels[T][0], self.rels[T][1]
            o = "OPTIONAL " if self.r.quarter() else ""
            return "%sMATCH (a:%s)-[r:%s]->(b:%s) RETURN a, r, b" % (o, S, T, G)
        if t == "create_relationship":
            if not self.types: return "CREATE (n:%s) RETURN n" % self.L()
            T = self.types[self.r.rr(len(self.types))]; S, G = self.rels[T][0], self.rels[T][1]
            return "MATCH (a:%s),(b:%s) CREATE (a)-[r:%s]->(b) RETURN r" % (S, G, T)
        if t == "match_set":
            l = self.L(); p = self.p(l)
            if p: return "MATCH (n:%s) SET n.%s = %s RETURN n" % (l, p, self.string())
            return "MATCH (n:%s) RETURN n" % l
        if t == "match_delete": return "MATCH (n:%s) DETACH DELETE n" % self.L()
        if t == "with_chain":
            l = self.L(); p = self.p(l)
            return "MATCH (n:%s) WITH n.%s AS val RETURN count(*)" % (l, p) if p else "MATCH (n:%s) WITH n AS val RETURN count(*)" % l
        if t == "distinct_return":
            l = self.L(); p = self.p(l); lim = self.limit()
            return "MATCH (n:%s) RETURN DISTINCT n.%s%s" % (l, p, lim) if p else "MATCH (n:%s) RETURN DISTINCT n%s" % (l, lim)
        if t == "order_by":
            l = self.L(); p = self.p(l); d = " DESC" if self.r.top(1) == 1 else ""; lim = self.limit()
            return "MATCH (n:%s) RETURN n ORDER BY n.%s%s%s" % (l, p, d, lim) if p else "MATCH (n:%s) RETURN n ORDER BY n%s" % (l, lim)
        if t == "unwind":
            l = self.L(); p = self.p(l); n = 2 + self.r.rr(3)
            vals = [self.scalar() for _ in range(n)]
            return "MATCH (n:%s) UNWIND n.%s AS item RETURN item" % (l, p) if p else "UNWIND [%s] AS item RETURN item" % ", ".join(vals)


# ---------------------------------------------------------------------------------------------

# The reserved words, refused as plain names in any letter case.
RESERVED = {
    "ALL", "AND", "ANY", "ASCENDING", "ASC", "AS", "BY", "CALL", "CASE", "CONTAINS", "COUNT",
    "CREATE", "DELETE", "DESCENDING", "DESC", "DETACH", "DISTINCT", "DO", "DROP", "ELSE", "ENDS",
    "END", "EXISTS", "FALSE", "FOREACH", "FOR", "FROM", "IN", "IS", "LIMIT", "MATCH", "MERGE",
    "NEW", "NONE", "NOT", "NULL", "ON", "OPTIONAL", "ORDER", "OR", "REDUCE", "REMOVE", "RETURN",
    "SET", "SINGLE", "SKIP", "STARTS", "THEN", "TRUE", "UNION", "UNWIND", "WHEN", "WHERE", "WITH",
    "XOR", "YIELD",
}
NAME = st.from_regex(r"[A-Za-z_][A-Za-z0-9_]{0,6}", fullmatch=True).filter(
    lambda s: s.upper() not in RESERVED)


@st.composite
def schemas(draw, min_labels=0):
    labels = draw(st.lists(NAME, min_size=min_labels, max_size=4, unique=True))
    nodes = {l: draw(st.lists(NAME, max_size=6, unique=True)) for l in labels}
    rels = {}
    if labels:
        for t in draw(st.lists(NAME, max_size=3, unique=True)):
            rels[t] = (draw(st.sampled_from(labels)), draw(st.sampled_from(labels)),
                       draw(st.lists(NAME, max_size=3, unique=True)))
    return nodes, rels


SEEDS = st.integers(min_value=0, max_value=2**64 - 1)
CALLS = st.lists(st.sampled_from(TYPES), min_size=1, max_size=30)


def make(nodes, rels):
    return Schema(nodes, {t: (s, g, p) for t, (s, g, p) in rels.items()})


@settings(max_examples=150, deadline=None)
@given(schemas(), SEEDS, CALLS)
def test_strings_match_the_model(schema, seed, calls):
    nodes, rels = schema
    model = Gen(nodes, rels, seed)
    gen = CypherGenerator(make(nodes, rels), seed=seed)
    assert [gen.generate(t) for t in calls] == [model.gen(t) for t in calls]


@settings(max_examples=60, deadline=None)
@given(schemas(), SEEDS, st.sampled_from(TYPES), st.integers(min_value=0, max_value=20))
def test_batch_equals_repeated_generate(schema, seed, query_type, n):
    s = make(*schema)
    one, many = CypherGenerator(s, seed=seed), CypherGenerator(s, seed=seed)
    assert many.generate_batch(query_type, n) == [one.generate(query_type) for _ in range(n)]
    # Both continue from the same state.
    assert many.generate("create") == one.generate("create")


@settings(max_examples=100, deadline=None)
@given(schemas(min_labels=1), SEEDS)
def test_generated_queries_parse_and_validate(schema, seed):
    s = make(*schema)
    gen = CypherGenerator(s, seed=seed)
    validator = Tessary(s)
    for t in TYPES:
        q = gen.generate(t)
        assert parse_query(q).is_valid, q
        result = validator.validate(q)
        assert result.is_valid and not result.errors, (q, result.errors)


@pytest.mark.parametrize("bad", ["Match_Return", "", "MATCH_RETURN", "create ", "nope"])
def test_unknown_type_leaves_state_untouched(bad):
    s = make({"Person": ["name", "age"]}, {})
    probed, plain = CypherGenerator(s, seed=5), CypherGenerator(s, seed=5)
    with pytest.raises(ValueError) as info:
        probed.generate(bad)
    assert str(info.value) == "Generator error: Unknown query type: " + bad
    assert [probed.generate(t) for t in TYPES] == [plain.generate(t) for t in TYPES]


def test_unseeded_generators_differ():
    s = make({"Person": ["name", "age", "email"]}, {})
    a, b = CypherGenerator(s), CypherGenerator(s)
    assert a.generate_batch("create", 30) != b.generate_batch("create", 30)
