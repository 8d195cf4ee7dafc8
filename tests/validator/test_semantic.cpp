// The semantic pass end to end: query text in, findings (code, whole message, suggestion) and
// the automatic fix out, against one small schema:
//   Person {name, age}, Movie {title}, `Movie Star` {rank}; ACTED_IN: Person -> Movie {role}.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "parser/recognizer.hpp"
#include "validation_cases.hpp"
#include "validator/validator.hpp"

namespace tessary {
namespace {

Schema fixture_schema() {
  Schema schema;
  schema.insert_node("Person", PropertySet{"name", "age"});
  schema.insert_node("Movie", PropertySet{"title"});
  schema.insert_node("Movie Star", PropertySet{"rank"});
  schema.insert_relationship("ACTED_IN", "Person", "Movie", PropertySet{"role"});
  return schema;
}

const Tessary& validator() {
  static const Tessary instance(fixture_schema());
  return instance;
}

using Case = ValidationCase;

const Case kPatterns[] = {
    {"MATCH (n:Persn) RETURN n",
     {"E201 Unknown node label: :Persn, did you mean :Person? [:Persn -> :Person]"},
     "MATCH (n:Person) RETURN n"},
    {"MATCH (n:Person {nme: 'x'}) RETURN n",
     {"E301 Unknown property 'nme' for node label :Person, did you mean .name? [nme -> name]"},
     "MATCH (n:Person {name: 'x'}) RETURN n"},
    {"MATCH (n:Person:Movie {title: 'x'}) RETURN n",
     {"E301 Unknown property 'title' for node label :Person"},
     std::nullopt},
    {"MATCH (n:Person {name: $p}) RETURN n", {}, std::nullopt},
    {"MATCH (n:Person $props) RETURN n", {}, std::nullopt},
    {"MATCH (a:Person)-[:ACTED_IN]->(b:Person) RETURN a",
     {"E401 Relationship :ACTED_IN expects target label :Movie, but node has label(s): Person"},
     std::nullopt},
    {"MATCH (a:Movie)<-[:ACTED_IN]-(b:Movie) RETURN a",
     {"E401 Relationship :ACTED_IN expects source label :Person, but node has label(s): Movie"},
     std::nullopt},
    {"MATCH (a:Movie)-[:ACTED_IN]-(b:Movie) RETURN a", {}, std::nullopt},
    {"MATCH (a:Person) MATCH (a)-[:ACTED_IN]->(b:Person) RETURN a",
     {"E401 Relationship :ACTED_IN expects target label :Movie, but node has label(s): Person",
      "W201 MATCH contains an unlabeled node with no WHERE clause; this will scan all nodes in the "
      "graph"},
     std::nullopt},
    {"MATCH (a:Person)-[:ACTED_IN]->(b:Film) RETURN a",
     {"E201 Unknown node label: :Film"},
     std::nullopt},
    {"MATCH (a:Person)-[:ACTED_IN]->(b:Film:Person) RETURN a",
     {"E401 Relationship :ACTED_IN expects target label :Movie, but node has label(s): Film, "
      "Person",
      "E201 Unknown node label: :Film"},
     std::nullopt},
    {"MATCH (a:Person)-[:ACTS_IN|ACTED_IN]->(b:Movie) RETURN a",
     {"E211 Unknown relationship type: :ACTS_IN, did you mean :ACTED_IN? [:ACTS_IN -> :ACTED_IN]"},
     "MATCH (a:Person)-[:ACTED_IN|ACTED_IN]->(b:Movie) RETURN a"},
    {"MATCH (a:Person)-[r:ACTED_IN {rol: 'x'}]->(m:Movie) RETURN r",
     {"E302 Unknown property 'rol' for relationship type :ACTED_IN, did you mean .role? [rol -> "
      "role]"},
     "MATCH (a:Person)-[r:ACTED_IN {role: 'x'}]->(m:Movie) RETURN r"},
    {"MATCH (n) RETURN n",
     {"W201 MATCH contains an unlabeled node with no WHERE clause; this will scan all nodes in the "
      "graph"},
     std::nullopt},
    {"MATCH (n) WHERE n.name = 'x' RETURN n", {}, std::nullopt},
    {"MATCH (a:Person)-[*]->(b:Person) RETURN a",
     {"W202 Variable-length relationship without an upper bound ([*] or [*n..]) may cause "
      "unbounded traversal"},
     std::nullopt},
    {"MATCH (a:Person)-[*2..]->(b:Person) RETURN a",
     {"W202 Variable-length relationship without an upper bound ([*] or [*n..]) may cause "
      "unbounded traversal"},
     std::nullopt},
    {"MATCH (a:Person)-[*1..3]->(b:Person) RETURN a", {}, std::nullopt},
    {"MATCH (a:Person), (b:Movie) RETURN a, b",
     {"W101 MATCH pattern contains disconnected parts that will produce a Cartesian product; add a "
      "relationship or shared variable to connect them"},
     std::nullopt},
    {"MATCH (a), (b), (c) RETURN a",
     {"W101 MATCH pattern contains disconnected parts that will produce a Cartesian product; add a "
      "relationship or shared variable to connect them",
      "W201 MATCH contains an unlabeled node with no WHERE clause; this will scan all nodes in the "
      "graph"},
     std::nullopt},
    {"MATCH (a:Person)-[:ACTED_IN]->(m), (m)<-[:ACTED_IN]-(b) RETURN a",
     {"W201 MATCH contains an unlabeled node with no WHERE clause; this will scan all nodes in the "
      "graph"},
     std::nullopt},
    {"MATCH (n:Person) WHERE count(n) > 1 RETURN n",
     {"E602 Aggregate function not allowed in MATCH WHERE context; aggregates are only valid in "
      "RETURN, WITH, or ORDER BY"},
     std::nullopt},
    {"MATCH (n:Person) SET n.age = max(n.age)",
     {"E602 Aggregate function not allowed in SET context; aggregates are only valid in RETURN, "
      "WITH, or ORDER BY"},
     std::nullopt},
    {"MATCH (n:Person) DELETE collect(n)",
     {"E602 Aggregate function not allowed in DELETE context; aggregates are only valid in RETURN, "
      "WITH, or ORDER BY"},
     std::nullopt},
    {"MATCH (n:Person) SET n:Persn",
     {"E202 Unknown node label in SET: :Persn, did you mean :Person? [:Persn -> :Person]"},
     "MATCH (n:Person) SET n:Person"},
    {"MATCH (n:Person) REMOVE n:Persn",
     {"E203 Unknown node label in REMOVE: :Persn, did you mean :Person? [:Persn -> :Person]"},
     "MATCH (n:Person) REMOVE n:Person"},
    {"MATCH (n:Person) FOREACH (x IN [1, 2] | SET n.age = x) RETURN x",
     {"E501 Variable 'x' is not bound in this scope"},
     std::nullopt},
    {"MATCH (n:Person) SET n.nme = 1",
     {"E303 Unknown property 'nme' on variable 'n' with label :Person, did you mean .name? [nme -> "
      "name]"},
     "MATCH (n:Person) SET n.name = 1"},
    {"MATCH (n:Person) SET m.name = 1", {}, std::nullopt},
    {"MATCH (x:Persn {nme: 1})-[:ACTD_IN {rol: 2}]->(y:Movie) WHERE count(*) > 0 AND q.name = 1 "
     "RETURN x",
     {"E201 Unknown node label: :Persn, did you mean :Person? [:Persn -> :Person]",
      "E211 Unknown relationship type: :ACTD_IN, did you mean :ACTED_IN? [:ACTD_IN -> :ACTED_IN]",
      "E602 Aggregate function not allowed in MATCH WHERE context; aggregates are only valid in "
      "RETURN, WITH, or ORDER BY",
      "E501 Variable 'q' is not bound in this scope"},
     std::nullopt},
    {"MATCH (a:Person)-[:ACTED_IN]->(b:Person), (c) RETURN a",
     {"E401 Relationship :ACTED_IN expects target label :Movie, but node has label(s): Person",
      "W101 MATCH pattern contains disconnected parts that will produce a Cartesian product; add a "
      "relationship or shared variable to connect them",
      "W201 MATCH contains an unlabeled node with no WHERE clause; this will scan all nodes in the "
      "graph"},
     std::nullopt},
};

const Case kScopes[] = {
    {"MATCH (a:Person) MATCH (a:Employee) RETURN a.nme",
     {"E201 Unknown node label: :Employee",
      "E303 Unknown property 'nme' on variable 'a' with label :Person, did you mean .name? [nme -> "
      "name]"},
     std::nullopt},
    {"MATCH (n:Person) UNWIND [1] AS n RETURN n.nme", {}, std::nullopt},
    {"MATCH (a) WHERE b.name = 'x' MATCH (b:Person) RETURN a", {}, std::nullopt},
    {"MATCH (n:Person) WITH n.name AS name RETURN n",
     {"E501 Variable 'n' is not bound in this scope"},
     std::nullopt},
    {"MATCH (n:Person) WITH n AS m RETURN m.nme",
     {"E303 Unknown property 'nme' on variable 'm' with label :Person, did you mean .name? [nme -> "
      "name]"},
     "MATCH (n:Person) WITH n AS m RETURN m.name"},
    {"MATCH (n:Person) WITH * RETURN n.nme",
     {"E303 Unknown property 'nme' on variable 'n' with label :Person, did you mean .name? [nme -> "
      "name]"},
     "MATCH (n:Person) WITH * RETURN n.name"},
    {"MATCH (a:Person), (b:Movie) WITH a AS x, b AS x RETURN x.title, x.name",
     {"W101 MATCH pattern contains disconnected parts that will produce a Cartesian product; add a "
      "relationship or shared variable to connect them",
      "E502 Duplicate projection name 'x' in RETURN/WITH",
      "E303 Unknown property 'name' on variable 'x' with label :Movie"},
     std::nullopt},
    {"MATCH (n) WITH n.name AS name ORDER BY name RETURN name",
     {"W201 MATCH contains an unlabeled node with no WHERE clause; this will scan all nodes in the "
      "graph"},
     std::nullopt},
    {"MATCH (a) RETURN a UNION MATCH (b) RETURN a",
     {"W201 MATCH contains an unlabeled node with no WHERE clause; this will scan all nodes in the "
      "graph",
      "W201 MATCH contains an unlabeled node with no WHERE clause; this will scan all nodes in the "
      "graph",
      "E501 Variable 'a' is not bound in this scope"},
     std::nullopt},
    {"MATCH (u:Person) RETURN u.name AS nm, u.age AS nm",
     {"E502 Duplicate projection name 'nm' in RETURN/WITH"},
     std::nullopt},
    {"MATCH (u:Person) RETURN u, u, u",
     {"E502 Duplicate projection name 'u' in RETURN/WITH",
      "E502 Duplicate projection name 'u' in RETURN/WITH"},
     std::nullopt},
};

const Case kOrderByAliases[] = {
    {"MATCH (a:Person), (b:Movie) RETURN a AS b, b ORDER BY b.titl, b.nme",
     {"W101 MATCH pattern contains disconnected parts that will produce a Cartesian product; add a "
      "relationship or shared variable to connect them",
      "E502 Duplicate projection name 'b' in RETURN/WITH",
      "E303 Unknown property 'titl' on variable 'b' with label :Movie, did you mean .title? [titl "
      "-> title]",
      "E303 Unknown property 'nme' on variable 'b' with label :Movie"},
     std::nullopt},
    {"MATCH (a:Person)-[:ACTED_IN]->(b:Movie) RETURN b AS a, a AS b ORDER BY a.titl, b.nme",
     {"E303 Unknown property 'titl' on variable 'a' with label :Movie, did you mean .title? [titl "
      "-> title]",
      "E303 Unknown property 'nme' on variable 'b' with label :Person, did you mean .name? [nme -> "
      "name]"},
     "MATCH (a:Person)-[:ACTED_IN]->(b:Movie) RETURN b AS a, a AS b ORDER BY a.title, b.name"},
    {"MATCH (u:Person)-[r:ACTED_IN]->(m:Movie) RETURN u, count(r) AS n ORDER BY n DESC",
     {},
     std::nullopt},
    {"MATCH (u:Person) RETURN u.name AS nm ORDER BY nm, u.nme",
     {"E303 Unknown property 'nme' on variable 'u' with label :Person, did you mean .name? [nme -> "
      "name]"},
     "MATCH (u:Person) RETURN u.name AS nm ORDER BY nm, u.name"},
    {"MATCH (u:Person) RETURN u AS p ORDER BY p.nme",
     {"E303 Unknown property 'nme' on variable 'p' with label :Person, did you mean .name? [nme -> "
      "name]"},
     "MATCH (u:Person) RETURN u AS p ORDER BY p.name"},
    {"MATCH (u:Person) RETURN u.name AS u ORDER BY u.nme", {}, std::nullopt},
    {"MATCH (u:Person) RETURN u.name AS nm ORDER BY nm SKIP 1 LIMIT 2", {}, std::nullopt},
};

const Case kCallSubquery[] = {
    {"MATCH (n:Person) CALL { MATCH (m:Movie) RETURN count(m) AS c } RETURN n, c",
     {},
     std::nullopt},
    {"MATCH (n:Person) CALL { MATCH (m:Movie) RETURN m.title AS t } RETURN n, t, m",
     {"E501 Variable 'm' is not bound in this scope"},
     std::nullopt},
    {"MATCH (n) CALL { MATCH (m) RETURN m } RETURN m, n",
     {"W201 MATCH contains an unlabeled node with no WHERE clause; this will scan all nodes in the "
      "graph",
      "W201 MATCH contains an unlabeled node with no WHERE clause; this will scan all nodes in the "
      "graph"},
     std::nullopt},
    {"MATCH (n:Person) CALL { WITH 1 AS x MATCH (m:Movie) RETURN count(m) AS c } RETURN n, c",
     {},
     std::nullopt},
    {"MATCH (n:Person) CALL { MATCH (m:Movie) RETURN m } RETURN m.nme, n.nme",
     {"E303 Unknown property 'nme' on variable 'm' with label :Movie",
      "E303 Unknown property 'nme' on variable 'n' with label :Person, did you mean .name? [nme -> "
      "name]"},
     std::nullopt},
    {"MATCH (n:Person) CALL { MATCH (m:Movie) RETURN * } RETURN m.titl, n.nme",
     {"E303 Unknown property 'titl' on variable 'm' with label :Movie, did you mean .title? [titl "
      "-> title]",
      "E303 Unknown property 'nme' on variable 'n' with label :Person, did you mean .name? [nme -> "
      "name]"},
     "MATCH (n:Person) CALL { MATCH (m:Movie) RETURN * } RETURN m.title, n.name"},
    {"MATCH (n:Person) CALL { MATCH (m:Movie) CREATE (m)-[:ACTED_IN]->(q) } RETURN n, m",
     {"E501 Variable 'm' is not bound in this scope"},
     std::nullopt},
    {"MATCH (n:Person) CALL { WITH n MATCH (n)-[:ACTED_IN]->(m:Movie) RETURN m AS n } RETURN "
     "n.title, n.name",
     {"W201 MATCH contains an unlabeled node with no WHERE clause; this will scan all nodes in the "
      "graph",
      "E303 Unknown property 'name' on variable 'n' with label :Movie"},
     std::nullopt},
};

// Bodies nested in bodies: each leaves the scope around it as it found it, also when it sits
// inside another body, and a CALL { ... RETURN * } keeps what its body bound.
const Case kNestedBodies[] = {
    {"MATCH (a:Person) CALL { MATCH (a:Movie) RETURN * } RETURN a.titl",
     {"E303 Unknown property 'titl' on variable 'a' with label :Person",
      "E303 Unknown property 'titl' on variable 'a' with label :Movie, did you mean .title? [titl "
      "-> title]"},
     std::nullopt},
    {"MATCH (b:Person) RETURN COUNT { MATCH (a:Person) CALL { MATCH (a:Movie) RETURN * } RETURN "
     "a.titl } AS c, a",
     {"E303 Unknown property 'titl' on variable 'a' with label :Person",
      "E303 Unknown property 'titl' on variable 'a' with label :Movie, did you mean .title? [titl "
      "-> title]",
      "E501 Variable 'a' is not bound in this scope"},
     std::nullopt},
    {"MATCH (n:Person) RETURN COUNT { CALL { WITH 1 AS x RETURN * } RETURN n.nme, x } AS c, x",
     {"E303 Unknown property 'nme' on variable 'n' with label :Person, did you mean .name? [nme -> "
      "name]",
      "E501 Variable 'x' is not bound in this scope"},
     std::nullopt},
    {"MATCH (n:Person) RETURN COUNT { MATCH (m:Movie) RETURN m.titl AS t UNION MATCH (k:Person) "
     "RETURN n.nme AS t } AS c, m",
     {"E303 Unknown property 'titl' on variable 'm' with label :Movie, did you mean .title? [titl "
      "-> title]",
      "E501 Variable 'n' is not bound in this scope",
      "E501 Variable 'm' is not bound in this scope"},
     std::nullopt},
    {"MATCH (n:Person) RETURN n AS m ORDER BY m.nme, [(m)-->(x:Movie) | x.titl]",
     {"E303 Unknown property 'nme' on variable 'm' with label :Person, did you mean .name? [nme -> "
      "name]",
      "E303 Unknown property 'titl' on variable 'x' with label :Movie, did you mean .title? [titl "
      "-> title]"},
     "MATCH (n:Person) RETURN n AS m ORDER BY m.name, [(m)-->(x:Movie) | x.title]"},
    {"MATCH (n:Person) RETURN [x IN [1] | COUNT { MATCH (x:Movie) RETURN x.titl }] AS c, x",
     {"E303 Unknown property 'titl' on variable 'x' with label :Movie, did you mean .title? [titl "
      "-> title]",
      "E501 Variable 'x' is not bound in this scope"},
     std::nullopt},
    {"MATCH (n:Person) WITH n, [(n:Movie)-->() | n.titl] AS l RETURN n.titl",
     {"E303 Unknown property 'titl' on variable 'n' with label :Person",
      "E303 Unknown property 'titl' on variable 'n' with label :Movie, did you mean .title? [titl "
      "-> title]",
      "E303 Unknown property 'titl' on variable 'n' with label :Person"},
     std::nullopt},
    {"MATCH (n:Person) WHERE EXISTS { (n:Movie)-->(m) } RETURN n.titl, m",
     {"E303 Unknown property 'titl' on variable 'n' with label :Person",
      "E501 Variable 'm' is not bound in this scope"},
     std::nullopt},
};

const Case kBacktickNames[] = {
    {"MATCH (n:`Movie Star`) RETURN n", {}, std::nullopt},
    {"MATCH (n:`Movie Sta`) RETURN n",
     {"E201 Unknown node label: :`Movie Sta`, did you mean :Movie Star? [:`Movie Sta` -> :`Movie "
      "Star`]"},
     "MATCH (n:`Movie Star`) RETURN n"},
    {"MATCH (n:`Movie Star` {`rank`: 1, rnk: 2}) RETURN n",
     {"E301 Unknown property 'rnk' for node label :`Movie Star`, did you mean .rank? [rnk -> "
      "rank]"},
     "MATCH (n:`Movie Star` {`rank`: 1, rank: 2}) RETURN n"},
    {"MATCH (a:Person)-[:`ACTED_IN`]->(b:`Movie`) RETURN a", {}, std::nullopt},
    {"MATCH (a:Person)-[:`ACTED_IN`]->(b:`Person`) RETURN a",
     {"E401 Relationship :`ACTED_IN` expects target label :Movie, but node has label(s): `Person`"},
     std::nullopt},
    {"MATCH (n:Person) SET n:`Persn`",
     {"E202 Unknown node label in SET: :`Persn`, did you mean :Person? [:`Persn` -> :Person]"},
     "MATCH (n:Person) SET n:Person"},
};

const Case kMergeActions[] = {
    {"MATCH (n:Person) MERGE (m:Movie {title: 'x'}) ON MATCH SET m.titl = 1 ON CREATE SET m:Movi, "
     "m.title = count(n) RETURN n",
     {"E303 Unknown property 'titl' on variable 'm' with label :Movie, did you mean .title? [titl "
      "-> title]",
      "E202 Unknown node label in SET: :Movi, did you mean :Movie? [:Movi -> :Movie]",
      "E602 Aggregate function not allowed in SET context; aggregates are only valid in RETURN, "
      "WITH, or ORDER BY"},
     std::nullopt},
    {"MERGE (m:Movie {titl: 'x'}) ON CREATE SET m.ttle = 1 ON MATCH SET m.tile = 2",
     {"E301 Unknown property 'titl' for node label :Movie, did you mean .title? [titl -> title]",
      "E303 Unknown property 'tile' on variable 'm' with label :Movie, did you mean .title? [tile "
      "-> title]",
      "E303 Unknown property 'ttle' on variable 'm' with label :Movie, did you mean .title? [ttle "
      "-> title]"},
     "MERGE (m:Movie {title: 'x'}) ON CREATE SET m.title = 1 ON MATCH SET m.title = 2"},
};

const Case kPipeline[] = {
    {"MATCH (n:Person) WHERE n.age > 1 RETURN n.nme, m",
     {"E303 Unknown property 'nme' on variable 'n' with label :Person, did you mean .name? [nme -> "
      "name]",
      "E501 Variable 'm' is not bound in this scope"},
     std::nullopt},
    {"MATCH (n:Persn) RETURN n.nme",
     {"E201 Unknown node label: :Persn, did you mean :Person? [:Persn -> :Person]"},
     "MATCH (n:Person) RETURN n.nme"},
    {"MATCH (n:Persn)-[:ACTED_IN]->(m:Persn) RETURN n",
     {"E201 Unknown node label: :Persn, did you mean :Person? [:Persn -> :Person]",
      "E201 Unknown node label: :Persn, did you mean :Person? [:Persn -> :Person]"},
     "MATCH (n:Person)-[:ACTED_IN]->(m:Person) RETURN n"},
    {"MATCH (box:Person {x: 1}) RETURN box",
     {"E301 Unknown property 'x' for node label :Person, did you mean .age? [x -> age]"},
     "MATCH (box:Person {age: 1}) RETURN box"},
    {"MATCH (n:Person {nme: 'nme'}) RETURN n",
     {"E301 Unknown property 'nme' for node label :Person, did you mean .name? [nme -> name]"},
     "MATCH (n:Person {name: 'nme'}) RETURN n"},
    {"CALL my.labels() YIELD label", {}, std::nullopt},
    {"MATCH (a:Persnx), (b:Persn) RETURN a",
     {"E201 Unknown node label: :Persnx, did you mean :Person? [:Persnx -> :Person]",
      "E201 Unknown node label: :Persn, did you mean :Person? [:Persn -> :Person]",
      "W101 MATCH pattern contains disconnected parts that will produce a Cartesian product; add a "
      "relationship or shared variable to connect them"},
     "MATCH (a:Person), (b:Person) RETURN a"},
};

const Case kClauses[] = {
    {"MATCH (n:Person) FOREACH (n IN [1] | SET n.nme = 1)",
     {"E303 Unknown property 'nme' on variable 'n' with label :Person, did you mean .name? [nme -> "
      "name]"},
     "MATCH (n:Person) FOREACH (n IN [1] | SET n.name = 1)"},
    {"MATCH (n:Person) FOREACH (x IN [1] | FOREACH (y IN [x] | SET n.age = y + x)) RETURN y",
     {"E501 Variable 'y' is not bound in this scope"},
     std::nullopt},
    {"MATCH (n:Person) FOREACH (x IN [count(n)] | CREATE (m:Movi {x: x})) RETURN m",
     {"E201 Unknown node label: :Movi, did you mean :Movie? [:Movi -> :Movie]",
      "E501 Variable 'm' is not bound in this scope"},
     std::nullopt},
    {"MATCH (n:Person) WITH n.name AS nm ORDER BY n.name RETURN nm",
     {"E501 Variable 'n' is not bound in this scope"},
     std::nullopt},
    {"MATCH (n:Person) WITH n WHERE count(n) > 1 RETURN n", {}, std::nullopt},
    {"MATCH (n:Person) WITH n SKIP 'a' LIMIT 1.5 RETURN n",
     {"E611 SKIP expression must be an integer, got a string literal",
      "E614 LIMIT expression must be an integer, got a float literal"},
     std::nullopt},
    {"MATCH (a:Person) WITH a MATCH (b:Movie) WITH a, b RETURN a.nme, b.titl, c",
     {"E303 Unknown property 'nme' on variable 'a' with label :Person, did you mean .name? [nme -> "
      "name]",
      "E303 Unknown property 'titl' on variable 'b' with label :Movie, did you mean .title? [titl "
      "-> title]",
      "E501 Variable 'c' is not bound in this scope"},
     std::nullopt},
    {"MATCH (n:Person) RETURN * ORDER BY n.nme",
     {"E303 Unknown property 'nme' on variable 'n' with label :Person, did you mean .name? [nme -> "
      "name]"},
     "MATCH (n:Person) RETURN * ORDER BY n.name"},
    {"MATCH (n:Person) RETURN n.name AS n ORDER BY n.x SKIP n.nme",
     {"E303 Unknown property 'nme' on variable 'n' with label :Person, did you mean .name? [nme -> "
      "name]"},
     "MATCH (n:Person) RETURN n.name AS n ORDER BY n.x SKIP n.name"},
    {"MATCH (n:Person) RETURN n AS m, n.name AS m ORDER BY m.nme",
     {"E502 Duplicate projection name 'm' in RETURN/WITH"},
     std::nullopt},
    {"MATCH (a:Person)-[:ACTED_IN|KNOWS]->(b:Person) RETURN a",
     {"E401 Relationship :ACTED_IN expects target label :Movie, but node has label(s): Person",
      "E211 Unknown relationship type: :KNOWS"},
     std::nullopt},
    {"MATCH (a:Person)<-[:ACTED_IN]->(b:Person) RETURN a",
     {"E401 Relationship :ACTED_IN expects target label :Movie, but node has label(s): Person"},
     std::nullopt},
    {"MATCH p = (a:Person)-[r]->(b) RETURN p.name, r.x",
     {"W201 MATCH contains an unlabeled node with no WHERE clause; this will scan all nodes in the "
      "graph"},
     std::nullopt},
    {"MATCH (a:Person)-[r:ACTED_IN]->(b:Movie) MATCH (a)-[r]->(b:Person) RETURN r.role, r.nme",
     {"W201 MATCH contains an unlabeled node with no WHERE clause; this will scan all nodes in the "
      "graph",
      "E304 Unknown property 'nme' on variable 'r' with relationship type :ACTED_IN, did you mean "
      ".role? [nme -> role]"},
     "MATCH (a:Person)-[r:ACTED_IN]->(b:Movie) MATCH (a)-[r]->(b:Person) RETURN r.role, r.role"},
    {"CREATE (a:Persn {nme: 1})-[:ACTED_IN {rol: 1}]->(b:Movie) RETURN a.age",
     {"E201 Unknown node label: :Persn, did you mean :Person? [:Persn -> :Person]",
      "E302 Unknown property 'rol' for relationship type :ACTED_IN, did you mean .role? [rol -> "
      "role]"},
     "CREATE (a:Person {nme: 1})-[:ACTED_IN {role: 1}]->(b:Movie) RETURN a.age"},
    {"MATCH (n:Person) UNWIND n.nme AS x RETURN x",
     {"E303 Unknown property 'nme' on variable 'n' with label :Person, did you mean .name? [nme -> "
      "name]"},
     "MATCH (n:Person) UNWIND n.name AS x RETURN x"},
    {"UNWIND [1, 2] AS x MATCH (n:Person {age: x}) WHERE n.nme = x RETURN n",
     {"E303 Unknown property 'nme' on variable 'n' with label :Person, did you mean .name? [nme -> "
      "name]"},
     "UNWIND [1, 2] AS x MATCH (n:Person {age: x}) WHERE n.name = x RETURN n"},
    {"MATCH (n:Person) REMOVE n.nme, n.age, n:Persn:Person",
     {"E303 Unknown property 'nme' on variable 'n' with label :Person, did you mean .name? [nme -> "
      "name]",
      "E203 Unknown node label in REMOVE: :Persn, did you mean :Person? [:Persn -> :Person]"},
     "MATCH (n:Person) REMOVE n.name, n.age, n:Person:Person"},
    {"MATCH (n:Person) SET n.name.first.x = 1, n += {age: 1}, n = {nme: 1}",
     {"E303 Unknown property 'first' on variable 'n' with label :Person",
      "E303 Unknown property 'x' on variable 'n' with label :Person, did you mean .age? [x -> "
      "age]"},
     std::nullopt},
    {"MATCH (n:Person) DETACH DELETE n, count(n)",
     {"E602 Aggregate function not allowed in DELETE context; aggregates are only valid in RETURN, "
      "WITH, or ORDER BY"},
     std::nullopt},
    {"MATCH (a:Person) RETURN a UNION MATCH (b:Movie) RETURN b.nme AS a",
     {"E303 Unknown property 'nme' on variable 'b' with label :Movie"},
     std::nullopt},
    {"MATCH (a), (b) WHERE a.name = b.name RETURN a",
     {"W101 MATCH pattern contains disconnected parts that will produce a Cartesian product; add a "
      "relationship or shared variable to connect them"},
     std::nullopt},
    {"MATCH (a)-[*]->(b), (c)-[*3..]->(d)-[*2]->(e) RETURN a",
     {"W101 MATCH pattern contains disconnected parts that will produce a Cartesian product; add a "
      "relationship or shared variable to connect them",
      "W201 MATCH contains an unlabeled node with no WHERE clause; this will scan all nodes in the "
      "graph",
      "W202 Variable-length relationship without an upper bound ([*] or [*n..]) may cause "
      "unbounded traversal",
      "W202 Variable-length relationship without an upper bound ([*] or [*n..]) may cause "
      "unbounded traversal"},
     std::nullopt},
    {"MATCH (a:Person), (), (b:Movie) RETURN a",
     {"W101 MATCH pattern contains disconnected parts that will produce a Cartesian product; add a "
      "relationship or shared variable to connect them",
      "W201 MATCH contains an unlabeled node with no WHERE clause; this will scan all nodes in the "
      "graph"},
     std::nullopt},
    {"MATCH (a:Person) OPTIONAL MATCH (a)-[:ACTED_IN]->(m) RETURN m",
     {"W201 MATCH contains an unlabeled node with no WHERE clause; this will scan all nodes in the "
      "graph"},
     std::nullopt},
};

// Range bounds are read as integer literals are (0x, 0o), with comments inside the range
// ignored: W202 only when no upper bound is written.
const Case kRangeBounds[] = {
    {"MATCH (a:Person)-[*0x1..0x3]->(b:Person) RETURN a", {}, std::nullopt},
    {"MATCH (a:Person)-[*0o2..0o17]->(b:Person) RETURN a", {}, std::nullopt},
    {"MATCH (a:Person)-[*0x10]->(b:Person) RETURN a", {}, std::nullopt},
    {"MATCH (a:Person)-[* /* hops */ 1 .. /* at most */ 5 /* end */]->(b:Person) RETURN a",
     {},
     std::nullopt},
    {"MATCH (a:Person)-[*2 // two\n..]->(b:Person) RETURN a",
     {"W202 Variable-length relationship without an upper bound ([*] or [*n..]) may cause "
      "unbounded traversal"},
     std::nullopt},
    {"MATCH (a:Person)-[*0x2..]->(b:Person) RETURN a",
     {"W202 Variable-length relationship without an upper bound ([*] or [*n..]) may cause "
      "unbounded traversal"},
     std::nullopt},
};

// A text that does not parse: one E101 finding with the recognizer's rendered error text and
// its position, and nothing else.
TEST(ParseErrors, GrammarErrorsCarryTheRenderedTextAndPosition) {
  struct Row {
    const char* query;
    std::uint32_t line;
    std::uint32_t column;
  };
  const Row rows[] = {{"", 1, 1},
                      {"MATCH (n RETURN n", 1, 10},
                      {"MATCH (n)\nRETURN n,", 2, 10},
                      {"MATCH (n) RETURN n; RETURN 1", 1, 21},
                      {"MATCH (n:Persn) RETURN n +", 1, 27}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.query);
    auto run = CypherParser::parse(Rule::cypher, row.query);
    ASSERT_TRUE(std::holds_alternative<Error>(run));
    const std::string text = std::get<Error>(run).rendered();

    ValidationResult r = validator().validate(row.query);
    EXPECT_FALSE(r.is_valid);
    EXPECT_EQ(r.errors(), std::vector<std::string>{text});
    EXPECT_EQ(r.syntax_errors(), std::vector<std::string>{text});
    EXPECT_TRUE(r.semantic_errors().empty());
    EXPECT_TRUE(r.warnings().empty());
    EXPECT_EQ(r.fixed_query, std::nullopt);
    ASSERT_EQ(r.diagnostics.size(), 1u);
    const ValidationDiagnostic& d = r.diagnostics[0];
    EXPECT_EQ(d.code, DiagnosticCode::ParseError);
    EXPECT_EQ(d.severity, Severity::Error);
    EXPECT_EQ(d.message, text);
    EXPECT_FALSE(d.suggestion.has_value());
    ASSERT_TRUE(d.position.has_value());
    EXPECT_EQ(d.position->line, row.line);
    EXPECT_EQ(d.position->column, row.column);
  }
}

TEST(ParseErrors, BuilderErrorsHaveNoPosition) {
  // An operator chain too long for the tree's nesting bound fails in the builder.
  std::string query = "RETURN 1";
  for (int i = 0; i < 5000; ++i) query += " + 1";
  ValidationResult r = validator().validate(query);
  ASSERT_EQ(r.diagnostics.size(), 1u);
  EXPECT_EQ(r.diagnostics[0].code, DiagnosticCode::ParseError);
  EXPECT_EQ(r.diagnostics[0].message.rfind("Parse error: ", 0), 0u) << r.diagnostics[0].message;
  EXPECT_FALSE(r.diagnostics[0].position.has_value());
  EXPECT_EQ(r.errors(), std::vector<std::string>{r.diagnostics[0].message});
  EXPECT_EQ(r.syntax_errors(), r.errors());
  EXPECT_TRUE(r.semantic_errors().empty());
}

// A suggested name that cannot be written plainly is put in backticks, so the fixed query
// still parses; the hint in the message names it as the schema does.
TEST(SuggestionFragments, NamesThatNeedBackticksAreQuotedInTheReplacement) {
  Schema schema;
  schema.insert_node("Movie Star", PropertySet{"first name", "Order", "rank"});
  schema.insert_node("Order", PropertySet{});
  const Tessary tessary(schema);

  ValidationResult r = tessary.validate("MATCH (n:MovieStar {`first nme`: 1}) RETURN n");
  ASSERT_EQ(r.diagnostics.size(), 1u);
  EXPECT_EQ(r.diagnostics[0].message, "Unknown node label: :MovieStar, did you mean :Movie Star?");
  EXPECT_EQ(r.diagnostics[0].suggestion->replacement, ":`Movie Star`");
  EXPECT_EQ(r.diagnostics[0].suggestion->description, "Replace :MovieStar with :`Movie Star`");
  EXPECT_EQ(r.fixed_query, "MATCH (n:`Movie Star` {`first nme`: 1}) RETURN n");

  // Two entries of one map: their findings may come in either order.
  r = tessary.validate("MATCH (n:`Movie Star` {`first nme`: 1, Ordr: 2}) RETURN n");
  ASSERT_EQ(r.diagnostics.size(), 2u);
  std::vector<std::string> found{describe(r.diagnostics[0]), describe(r.diagnostics[1])};
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{
                       "E301 Unknown property 'Ordr' for node label :`Movie Star`, did you mean "
                       ".Order? [Ordr -> `Order`]",
                       "E301 Unknown property '`first nme`' for node label :`Movie Star`, did "
                       "you mean .first name? [`first nme` -> `first name`]"}));
  EXPECT_EQ(r.fixed_query, "MATCH (n:`Movie Star` {`first name`: 1, `Order`: 2}) RETURN n");

  r = tessary.validate("MATCH (n:Ordr) RETURN n");
  ASSERT_EQ(r.diagnostics.size(), 1u);
  EXPECT_EQ(r.fixed_query, "MATCH (n:`Order`) RETURN n");
}

class Semantic : public ::testing::TestWithParam<Case> {};
TEST_P(Semantic, FindingsAndFix) { expect_validation(validator(), GetParam()); }

INSTANTIATE_TEST_SUITE_P(Patterns, Semantic, ::testing::ValuesIn(kPatterns));
INSTANTIATE_TEST_SUITE_P(Clauses, Semantic, ::testing::ValuesIn(kClauses));
INSTANTIATE_TEST_SUITE_P(Scopes, Semantic, ::testing::ValuesIn(kScopes));
INSTANTIATE_TEST_SUITE_P(OrderByAliases, Semantic, ::testing::ValuesIn(kOrderByAliases));
INSTANTIATE_TEST_SUITE_P(CallSubquery, Semantic, ::testing::ValuesIn(kCallSubquery));
INSTANTIATE_TEST_SUITE_P(NestedBodies, Semantic, ::testing::ValuesIn(kNestedBodies));
INSTANTIATE_TEST_SUITE_P(BacktickNames, Semantic, ::testing::ValuesIn(kBacktickNames));
INSTANTIATE_TEST_SUITE_P(MergeActions, Semantic, ::testing::ValuesIn(kMergeActions));
INSTANTIATE_TEST_SUITE_P(Pipeline, Semantic, ::testing::ValuesIn(kPipeline));
INSTANTIATE_TEST_SUITE_P(RangeBounds, Semantic, ::testing::ValuesIn(kRangeBounds));

}  // namespace
}  // namespace tessary
