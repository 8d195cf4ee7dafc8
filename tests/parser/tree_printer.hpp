#pragma once
// A compact one-line printout of a query tree, for tests only.
//
// Expressions: literals as Int(1), Float(1.5), Str(abc), true/false, null, [a, b], {k: v};
// variables bare; $name; Prop(e, key), Index(e, i), Slice(e, from, to) with _ for an absent
// bound; operators by variant name with their operands: Or(a, b), Not(a), Neg(a);
// Fn(name, DISTINCT?; args); CountStar; Case(subject?; when -> then, ...; ELSE e);
// ListComp(x IN l WHERE f | p); All(x IN l WHERE p) and the other quantifiers;
// Reduce(acc = init, x IN l | p); ShortestPath(element) / AllShortestPaths(element);
// PatternComp(element WHERE f | p); Exists(pattern); CountSub{query}; CollectSub{query}.
// Patterns: (v:A:B {k: v}) and -[r:T|U *1..5 $p]-> with <- for Left, -> for Right and - - for
// Both; a range prints *min..max with _ for an absent bound; p = (a) for a path variable.
// Queries: Single{clauses} or Multi{part; part; final} with clauses separated by " ",
// UNION / UNION ALL between branches.
#include <string>
#include <vector>

#include "parser/ast.hpp"

namespace tessary::testing {

std::string print(const Expr& expr);
std::string print(const Pattern& pattern);
std::string print(const PatternPart& part);
std::string print(const PatternElement& element);
std::string print(const ReadingClause& clause);
std::string print(const UpdatingClause& clause);
std::string print(const SetItem& item);
std::string print(const ReturnClause& clause);
std::string print(const WithClause& clause);
std::string print(const SingleQuery& query);
std::string print(const RegularQuery& query);
std::string print(const CypherQuery& query);

// Every label, relationship type and property key of the tree as "name@offset", with the offset
// the tree keeps for it (every writing of a map key), sorted; "name@?" where the tree keeps no
// offset for a name of a list.
std::vector<std::string> name_offsets(const CypherQuery& query);

}  // namespace tessary::testing
