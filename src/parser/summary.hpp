#pragma once
// The schema-free summary of a query: whether it parses, and which node labels, relationship
// types and property keys its walked parts name. Nothing here knows about Python.
#include <string>
#include <string_view>
#include <vector>

#include "parser/ast.hpp"

namespace tessary {

struct QuerySummary {
  bool is_valid = false;
  std::vector<std::string> errors;           // empty, or the one parse error's display text
  std::vector<std::string> labels_used;      // distinct, ascending byte order
  std::vector<std::string> rel_types_used;   // distinct, ascending byte order
  std::vector<std::string> properties_used;  // distinct, ascending byte order
};

// The names of a parsed query. Walked: MATCH patterns and their WHERE, CREATE and MERGE
// patterns, RETURN items, CALL { } bodies and the subqueries and patterns inside walked
// expressions. Not walked: WITH (items, WHERE, ORDER BY, SKIP, LIMIT), UNWIND, procedure calls,
// SET, REMOVE, DELETE, FOREACH, MERGE actions, ORDER BY / SKIP / LIMIT of RETURN, and the
// property maps of relationship patterns. A node's property map adds its keys and the property
// lookups inside its values, but no labels or types found there.
QuerySummary summarize(const CypherQuery& query);

// Parses `query` and summarises it; a query that does not parse gives is_valid false, the
// error's display text and empty name lists.
QuerySummary summarize_query(std::string_view query);

}  // namespace tessary
