"""Times validation from Python: single `validate` calls on a fixed corpus of realistic queries,
and `validate_batch` of 10,000 queries with 1, 2, 4 and 8 worker threads (one subprocess per
setting, since the pool is sized once per process).

Run: PYTHONPATH=build/src/bindings .venv/bin/python bench/bench_validate.py [--quick]
"""

import json
import os
import statistics
import subprocess
import sys
import time

import _tessary

SCHEMA = {
    "nodes": {
        "Person": ["name", "age", "email", "born"],
        "Movie": ["title", "released", "tagline", "rating"],
        "Company": ["name", "founded", "industry"],
        "City": ["name", "population", "country"],
        "Genre": ["name"],
    },
    "relationships": {
        "ACTED_IN": ("Person", "Movie", ["role", "billing"]),
        "DIRECTED": ("Person", "Movie", []),
        "WORKS_FOR": ("Person", "Company", ["since", "role"]),
        "LIVES_IN": ("Person", "City", ["since"]),
        "IN_GENRE": ("Movie", "Genre", []),
        "KNOWS": ("Person", "Person", ["since"]),
    },
}

# Typical queries of 100-400 bytes, valid ones and ones with the mistakes a model makes.
CORPUS = [
    "MATCH (p:Person)-[r:ACTED_IN]->(m:Movie) WHERE m.released > 2000 AND p.born < 1970 "
    "RETURN p.name, m.title, r.role ORDER BY m.released DESC LIMIT 25",
    "MATCH (d:Person)-[:DIRECTED]->(m:Movie)<-[:ACTED_IN]-(a:Person) WHERE d.name = $director "
    "RETURN a.name AS actor, count(m) AS movies ORDER BY movies DESC LIMIT 10",
    "MATCH (p:Person)-[:WORKS_FOR]->(c:Company), (p)-[:LIVES_IN]->(city:City) "
    "WHERE c.industry = 'software' AND city.population > 1000000 "
    "RETURN city.name, count(DISTINCT c) AS companies, collect(p.name)[..5] AS people",
    "MATCH (p:Persn)-[:ACTED_IN]->(m:Movie) WHERE m.rating >= 8 RETURN p.name, m.title",
    "MATCH (m:Movie)-[:IN_GENRE]->(g:Genre) WITH g, count(m) AS n, avg(m.rating) AS r "
    "WHERE n > 10 RETURN g.name, n, round(r * 100) / 100 AS rating ORDER BY rating DESC",
    "MATCH (a:Person {name: 'Alice'})-[:KNOWS*1..3]-(b:Person) WHERE a <> b "
    "AND NOT (a)-[:KNOWS]-(b) RETURN DISTINCT b.name, b.email LIMIT 50",
    "MATCH (p:Person) WHERE p.nme STARTS WITH 'A' OR p.emial CONTAINS '@example.org' "
    "RETURN p.name, p.age",
    "MATCH (p:Person)-[:WORK_FOR]->(c:Company) WHERE c.founded < 1990 "
    "RETURN c.name, collect(p.name) AS staff",
    "MERGE (c:City {name: $city}) ON CREATE SET c.population = 0 "
    "WITH c MATCH (p:Person {email: $email}) MERGE (p)-[r:LIVES_IN]->(c) SET r.since = date() "
    "RETURN p.name, c.name",
    "MATCH (m:Movie) WHERE m.released IN [1999, 2003, 2008] WITH m ORDER BY m.rating DESC "
    "LIMIT 5 MATCH (m)<-[r:ACTED_IN]-(p:Person) RETURN m.title, collect({name: p.name, "
    "role: r.role}) AS cast",
    "MATCH (p:Person) OPTIONAL MATCH (p)-[w:WORKS_FOR]->(c:Company) "
    "RETURN p.name, CASE WHEN c IS NULL THEN 'none' ELSE c.name END AS employer, "
    "coalesce(w.since, 0) AS since",
    "MATCH path = shortestPath((a:Person {name: $from})-[:KNOWS*1..6]-(b:Person {name: $to})) "
    "RETURN [n IN nodes(path) | n.name] AS chain, length(path) AS hops",
]


def bench_single(validator, rounds):
    sizes = [len(q.encode()) for q in CORPUS]
    per_query = []
    for query in CORPUS:
        for _ in range(200):  # warm-up
            validator.validate(query)
        best = float("inf")
        for _ in range(5):
            start = time.perf_counter()
            for _ in range(rounds):
                validator.validate(query)
            best = min(best, (time.perf_counter() - start) / rounds)
        per_query.append(best)
    return sizes, per_query


CHILD = """
import json, sys, time, resource
sys.path[:0] = {path!r}
import _tessary
from bench_validate import CORPUS, SCHEMA
v = _tessary.Tessary(_tessary.Schema(SCHEMA["nodes"], SCHEMA["relationships"]))
queries = [CORPUS[i % len(CORPUS)] for i in range({count})]
v.validate_batch(queries)  # starts the pool
def cpu():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime
best, best_cpu = float("inf"), float("inf")
for _ in range({repeats}):
    start, start_cpu = time.perf_counter(), cpu()
    v.validate_batch(queries)
    best = min(best, time.perf_counter() - start)
    best_cpu = min(best_cpu, cpu() - start_cpu)
print(json.dumps({{"seconds": best, "cpu_seconds": best_cpu}}))
"""


def bench_batch(threads, count, repeats):
    env = dict(os.environ)
    env.pop("RAYON_RS_NUM_CPUS", None)
    env["RAYON_NUM_THREADS"] = str(threads)
    code = CHILD.format(path=[os.path.dirname(os.path.abspath(__file__))] + sys.path,
                        count=count, repeats=repeats)
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True,
                         check=True)
    report = json.loads(out.stdout.strip().splitlines()[-1])
    return report["seconds"], report["cpu_seconds"]


def main(argv):
    quick = "--quick" in argv
    schema = _tessary.Schema(SCHEMA["nodes"], SCHEMA["relationships"])
    validator = _tessary.Tessary(schema)

    print("single validate() calls (best of 5, including the Python call and result object)")
    sizes, per_query = bench_single(validator, 200 if quick else 2000)
    for size, seconds, query in zip(sizes, per_query, CORPUS):
        print("  %4d bytes  %7.2f us   %s..." % (size, seconds * 1e6, query[:50]))
    mean = statistics.mean(per_query)
    print("  mean %.2f us/query, median %.2f us/query, %.0f queries/s"
          % (mean * 1e6, statistics.median(per_query) * 1e6, 1 / mean))

    count = 10_000
    print("\nvalidate_batch() of %d queries (best of %d; CPUs usable: %d; load average %.1f)"
          % (count, 3 if quick else 7, len(os.sched_getaffinity(0)), os.getloadavg()[0]))
    print("  (CPU time is the process's user + system time for the batch: when it stays flat as"
          " threads are added, the pool adds no overhead and the speed-up is bounded only by"
          " idle CPUs)")
    baseline = None
    for threads in (1, 2, 4, 8):
        seconds, cpu_seconds = bench_batch(threads, count, 3 if quick else 7)
        baseline = baseline or seconds
        print("  %d thread(s): %7.2f ms  %8.0f queries/s  %5.2f us/query  speed-up %.2fx"
              "  CPU time %7.2f ms"
              % (threads, seconds * 1e3, count / seconds, seconds / count * 1e6,
                 baseline / seconds, cpu_seconds * 1e3))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
