"""Peak memory of validating large valid queries: for each query, one `validate` call in a fresh
subprocess, reporting how far the resident set peaked above what it was just before the call
(ru_maxrss after the call minus the RSS before it) and that growth's ratio to the query's size.

Run: PYTHONPATH=build/src/bindings .venv/bin/python bench/bench_memory.py
         [--module-path DIR]... [--scale F]

Each --module-path runs the same queries against the module in DIR (for instance an older
build), one after the other for each query; without one, the module found on PYTHONPATH runs.
--scale multiplies the sizes of the queries (1 gives about 10 MB each).
"""

import json
import os
import subprocess
import sys

# Each query is a piece repeated, between a head and a tail; the counts give about 10 MB.
CASES = {
    "match patterns": ("", "MATCH (a:Person {name: 'x'})-[:KNOWS]->(b:Person) ", 200_000,
                       "RETURN 1"),
    "WITH clauses": ("", "WITH 1 AS a ", 1_000_000, "RETURN a"),
    "long expressions": ("UNWIND [1] AS x RETURN [",
                         "x * 2 + x / 3 - x % 4 ^ 2 > 1 OR NOT x = 1 AND -x < 5, ", 190_000,
                         "x]"),
}

CHILD = """
import json, resource, sys
sys.path[:0] = {path!r}
import _tessary
from bench_validate import SCHEMA

def rss():
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmRSS:"))

head, piece, count, tail = {case!r}
text = head + piece * count + tail
v = _tessary.Tessary(_tessary.Schema(SCHEMA["nodes"], SCHEMA["relationships"]))
v.validate("RETURN 1")
before = rss()
result = v.validate(text)
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
print(json.dumps({{"bytes": len(text.encode()), "growth": peak - before,
                   "valid": result.is_valid, "module": _tessary.__file__}}))
"""


def measure(module_path, case):
    path = [os.path.dirname(os.path.abspath(__file__))]
    if module_path is not None:
        path.insert(0, os.path.abspath(module_path))
    code = CHILD.format(path=path + sys.path, case=case)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                         check=True)
    return json.loads(out.stdout.strip().splitlines()[-1])


def main(argv):
    modules = []
    scale = 1.0
    args = iter(argv[1:])
    for arg in args:
        if arg == "--module-path":
            modules.append(next(args))
        elif arg == "--scale":
            scale = float(next(args))
        else:
            print(__doc__)
            return 2
    modules = modules or [None]

    print("peak resident growth of one validate() call, in a fresh process each")
    for name, (head, piece, count, tail) in CASES.items():
        case = (head, piece, max(1, int(count * scale)), tail)
        for module in modules:
            r = measure(module, case)
            where = module if module is not None else os.path.dirname(r["module"])
            print("  %-17s %6.1f MB text  %7.1f MB peak growth  %5.1fx the text  %s  (%s)"
                  % (name, r["bytes"] / 1e6, r["growth"] / 1e6, r["growth"] / r["bytes"],
                     "valid" if r["valid"] else "INVALID", where))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
