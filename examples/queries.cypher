// A correct query
MATCH (p:Person)-[r:WORKS_FOR]->(c:Company)
WHERE r.since > 2015
RETURN p.name, c.name, r.role

// A misspelt label
MATCH (p:Persn)-[:LIVES_IN]->(c:City) RETURN p.name, c

// A property the schema does not declare
MATCH (p:Person) WHERE p.nme = 'Alice' RETURN p.email

// An unknown relationship type
MATCH (p:Person)-[:WORK_FOR]->(c:Company) RETURN c.name

// A relationship drawn between the wrong labels
MATCH (c:City)-[:WORKS_FOR]->(p:Person) RETURN p.name

// A variable that was never bound
MATCH (p:Person) RETURN p.name, q.name

// A syntax error: the closing parenthesis is missing
MATCH (p:Person RETURN p.name

// An aggregate with companies per city
MATCH (p:Person)-[:LIVES_IN]->(city:City), (p)-[:WORKS_FOR]->(c:Company)
RETURN city, count(DISTINCT c) AS companies
ORDER BY companies DESC LIMIT 5

// A misspelt label and a misspelt property in one query: both get fixed
MATCH (p:Persn)-[:WORKS_FOR]->(c:Company) WHERE c.nme = 'Acme' RETURN p.name

// Only warnings: an unlabelled scan and an unbounded path
MATCH (a)-[:WORKS_FOR*]->(b) RETURN a, b
