"""Writes every output of the module on a large fixed set of queries, one line each, so that two
builds can be compared byte for byte (a refactor or a speed-up must not change a single line).

The queries: the bench and example corpora, the fuzz seed corpora, queries generated from three
schemas (all 13 types, several seeds) and mechanical mutations of all of them (a byte dropped, a
byte doubled, a letter's case flipped, a prefix), validated against three schemas, one at a time
and in batches, and summarised by parse_query.

Run: PYTHONPATH=build/src/bindings .venv/bin/python scripts/dump_outputs.py OUT [--quick]
Then: cmp OUT_of_one_build OUT_of_the_other
"""

import ast
import json
import pathlib
import sys

import _tessary as t

ROOT = pathlib.Path(__file__).resolve().parent.parent


def bench_corpus():
    """CORPUS and SCHEMA of bench/bench_validate.py, read without running it."""
    tree = ast.parse((ROOT / "bench" / "bench_validate.py").read_text())
    found = {}
    for node in tree.body:
        if isinstance(node, ast.Assign) and isinstance(node.targets[0], ast.Name):
            name = node.targets[0].id
            if name in ("CORPUS", "SCHEMA"):
                found[name] = ast.literal_eval(node.value)
    return found["CORPUS"], found["SCHEMA"]


def schemas(bench_schema):
    example = t.Schema.from_json((ROOT / "examples" / "schema.json").read_text())
    bench = t.Schema.from_dict(bench_schema)
    odd = t.Schema(
        {"Person": ["name", "age", "first name"], "Order": ["id", "total"], "Ünïcode": ["ß", "x"],
         "Perso": ["nam"], "2Start": ["é"], "Node": []},
        {"KNOWS": ("Person", "Person", ["since"]), "PLACED": ("Person", "Order", ["at"]),
         "KNOWN": ("Perso", "Person", []), "HAS-DASH": ("Order", "Ünïcode", ["q w"])},
    )
    return [("example", example), ("bench", bench), ("odd", odd)]


def base_queries(corpus):
    queries = list(corpus)
    for path in ("bench/recognizer_corpus.cypher", "examples/queries.cypher"):
        text = (ROOT / path).read_text()
        queries += [line for line in text.splitlines() if line.strip() and not line.startswith("//")]
    for folder in ("parse", "validate"):
        for path in sorted((ROOT / "tests" / "fuzz" / "corpus" / folder).iterdir()):
            queries.append(path.read_bytes().decode("utf-8", "replace"))
    return queries


def generated(named_schemas, seeds):
    out = []
    for _, schema in named_schemas:
        for kind in t.CypherGenerator.supported_types():
            for seed in seeds:
                out += t.CypherGenerator(schema, seed).generate_batch(kind, 3)
    return out


def mutations(query):
    out = []
    n = len(query)
    if n == 0:
        return out
    for i in sorted({0, n // 3, n // 2, (2 * n) // 3, n - 1}):
        out.append(query[:i] + query[i + 1:])
        out.append(query[:i] + query[i] + query[i:])
        c = query[i]
        if c.isalpha():
            out.append(query[:i] + c.swapcase() + query[i + 1:])
    out.append(query[: n // 2])
    return out


def main():
    out_path = sys.argv[1]
    quick = "--quick" in sys.argv
    corpus, bench_schema = bench_corpus()
    named = schemas(bench_schema)
    queries = base_queries(corpus)
    queries += generated(named, range(3 if quick else 12))
    queries += [m for q in list(queries) for m in mutations(q)]
    if quick:
        queries = queries[::7]
    with open(out_path, "w", encoding="utf-8", errors="surrogateescape") as out:
        out.write(f"queries {len(queries)}\n")
        for name, schema in named:
            v = t.Tessary(schema)
            single = [v.validate(q).to_json() for q in queries]
            for q, r in zip(queries, single):
                out.write(f"{name}\t{json.dumps(q)}\t{r}\n")
            batch = [r.to_json() for r in v.validate_batch(queries)]
            out.write(f"{name} batch equals single: {batch == single}\n")
        for q in queries:
            info = t.parse_query(q)
            out.write(json.dumps([q, info.is_valid, info.errors, info.labels_used,
                                  info.rel_types_used, info.properties_used]) + "\n")
        for name, schema in named:
            for kind in t.CypherGenerator.supported_types():
                out.write(json.dumps([name, kind, t.CypherGenerator(schema, 99).generate_batch(kind, 20)]) + "\n")
    print(f"{len(queries)} queries x {len(named)} schemas written to {out_path}")


if __name__ == "__main__":
    main()
