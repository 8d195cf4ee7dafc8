"""Validates the bundled example queries against the bundled example schema.

For each query it prints whether it is valid, its diagnostics and, where every error has a
suggestion, the automatically fixed query. Queries in the query file are separated by blank
lines; a leading "//" line is the query's title.

Run: PYTHONPATH=build/src/bindings python examples/validate_examples.py [schema.json] [queries.cypher]
"""

import pathlib
import sys

import _tessary

HERE = pathlib.Path(__file__).resolve().parent


def read_queries(path):
    """(title, query) pairs from a file of blank-line separated queries."""
    blocks = path.read_text(encoding="utf-8").split("\n\n")
    for block in blocks:
        lines = [line for line in block.strip("\n").splitlines()]
        title = ""
        while lines and lines[0].lstrip().startswith("//"):
            title = lines.pop(0).lstrip()[2:].strip()
        query = "\n".join(lines).strip()
        if query:
            yield title, query


def describe(result):
    out = ["  valid: %s" % ("yes" if result.is_valid else "no")]
    for d in result.diagnostics:
        where = ""
        if d.position_line is not None:
            where = " (line %d, column %d)" % (d.position_line, d.position_col)
        message = d.message.replace("\n", "\n      ")
        out.append("  %s %s %s%s: %s" % (d.severity, d.code, d.code_name, where, message))
        if d.suggestion_replacement is not None:
            out.append("      suggestion: %s -> %s (%s)" % (
                d.suggestion_original, d.suggestion_replacement, d.suggestion_description))
    if result.fixed_query is not None:
        out.append("  fixed query: " + result.fixed_query.replace("\n", "\n               "))
    return "\n".join(out)


def main(argv):
    schema_path = pathlib.Path(argv[1]) if len(argv) > 1 else HERE / "schema.json"
    queries_path = pathlib.Path(argv[2]) if len(argv) > 2 else HERE / "queries.cypher"
    schema = _tessary.Schema.from_json(schema_path.read_text(encoding="utf-8"))
    validator = _tessary.Tessary(schema)

    print(schema.to_prompt())
    examples = list(read_queries(queries_path))
    # The batch gives the same results as one call per query, computed in parallel.
    results = validator.validate_batch([query for _, query in examples])
    for number, ((title, query), result) in enumerate(zip(examples, results), start=1):
        print("#%d %s" % (number, title))
        print("  " + query.replace("\n", "\n  "))
        print(describe(result))
        print()
    invalid = sum(1 for r in results if not r.is_valid)
    print("%d queries, %d valid, %d invalid" % (len(results), len(results) - invalid, invalid))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
