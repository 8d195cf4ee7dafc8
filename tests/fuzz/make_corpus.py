#!/usr/bin/env python3
"""Writes the fuzzers' seed corpus (tests/fuzz/corpus/<target>/) from the query and schema
texts in the test suites' tables.

    /usr/bin/python3 tests/fuzz/make_corpus.py

Queries are the string literals of tests/**/*.cpp and tests/python/*.py that begin with a
clause keyword; schemas are the literals that read as JSON objects or arrays. The choice is
deterministic (shortest first, then by text) and capped, so the corpus stays small.
"""
import ast
import hashlib
import json
import pathlib
import re
import shutil

ROOT = pathlib.Path(__file__).resolve().parents[2]
OUT = ROOT / "tests" / "fuzz" / "corpus"
MAX_QUERIES = 300
MAX_SCHEMAS = 60
MAX_LEN = 600

CLAUSE = re.compile(
    r"^\s*(MATCH|OPTIONAL|RETURN|WITH|UNWIND|CREATE|MERGE|DELETE|DETACH|SET|REMOVE|CALL|"
    r"FOREACH|USE|UNION)\b(?![-_])", re.IGNORECASE)
CPP_RAW = re.compile(r'R"([^(\s]*)\((.*?)\)\1"', re.DOTALL)
CPP_PLAIN = re.compile(r'"((?:[^"\\\n]|\\.)*)"')


def cpp_literals(text):
    for m in CPP_RAW.finditer(text):
        yield m.group(2).encode()
    text = CPP_RAW.sub("", text)
    for m in CPP_PLAIN.finditer(text):
        value = c_unescape(m.group(1))
        if value is not None:
            yield value


SIMPLE_ESCAPES = {"n": b"\n", "t": b"\t", "r": b"\r", "0": b"\0", "\\": b"\\",
                  '"': b'"', "'": b"'", "b": b"\b", "f": b"\f", "v": b"\v", "a": b"\a",
                  "?": b"?"}


def c_unescape(body):
    """The bytes of a C++ string literal's body, or None for escapes it does not know."""
    out = bytearray()
    i = 0
    while i < len(body):
        ch = body[i]
        if ch != "\\":
            out += ch.encode("utf-8")
            i += 1
            continue
        nxt = body[i + 1:i + 2]
        if nxt == "x":
            m = re.match(r"[0-9a-fA-F]{1,2}", body[i + 2:])
            if not m:
                return None
            out.append(int(m.group(0), 16))
            i += 2 + len(m.group(0))
        elif nxt in ("u", "U"):
            width = 4 if nxt == "u" else 8
            digits = body[i + 2:i + 2 + width]
            try:
                out += chr(int(digits, 16)).encode("utf-8")
            except (ValueError, UnicodeEncodeError):
                return None
            i += 2 + width
        elif nxt in SIMPLE_ESCAPES:
            out += SIMPLE_ESCAPES[nxt]
            i += 2
        else:
            return None
    return bytes(out)


def python_literals(text):
    try:
        tree = ast.parse(text)
    except SyntaxError:
        return
    for node in ast.walk(tree):
        if isinstance(node, ast.Constant) and isinstance(node.value, str):
            try:
                yield node.value.encode("utf-8")
            except UnicodeEncodeError:
                continue


def all_literals():
    for path in sorted((ROOT / "tests").rglob("*")):
        if "fuzz" in path.parts:
            continue
        if path.suffix in (".cpp", ".hpp"):
            yield from cpp_literals(path.read_text(encoding="utf-8", errors="replace"))
        elif path.suffix == ".py":
            yield from python_literals(path.read_text(encoding="utf-8", errors="replace"))


def is_query(value):
    try:
        return bool(CLAUSE.match(value.decode("utf-8")))
    except UnicodeDecodeError:
        return False


def is_schema(value):
    stripped = value.strip()
    if not stripped[:1] in (b"{", b"["):
        return False
    try:
        json.loads(value)
    except ValueError:
        return b"nodes" in value  # near-misses of the shape are good seeds too
    return True


def write(target, values, cap):
    chosen = sorted({v for v in values if 0 < len(v) <= MAX_LEN}, key=lambda v: (len(v), v))
    # Spread the pick over the whole range of lengths rather than only the shortest.
    if len(chosen) > cap:
        step = len(chosen) / cap
        chosen = [chosen[int(i * step)] for i in range(cap)]
    folder = OUT / target
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for value in chosen:
        (folder / hashlib.sha1(value).hexdigest()[:16]).write_bytes(value)
    return len(chosen)


def main():
    literals = list(all_literals())
    queries = [v for v in literals if is_query(v)]
    schemas = [v for v in literals if is_schema(v)]
    n = write("parse", queries, MAX_QUERIES)
    # The validator's corpus: the same queries; the fuzzer keeps its own copy per target.
    m = write("validate", queries, MAX_QUERIES)
    s = write("schema", schemas, MAX_SCHEMAS)
    print(f"parse: {n}, validate: {m}, schema: {s}")


if __name__ == "__main__":
    main()
