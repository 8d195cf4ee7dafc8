#include "tree_printer.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace tessary::testing {
namespace {

// While name_offsets runs, the names that print writes are noted here.
thread_local std::vector<std::string>* noted = nullptr;

void note(std::string_view name, std::uint32_t offset) {
  if (noted) noted->push_back(std::string(name) + "@" + std::to_string(offset));
}

// The names of a list with their offsets: written as print writes them, each after `sep`
// (the first after `first_sep`).
std::string names_text(const TreeList<Text>& names, const NameOffsets& offsets,
                       const char* first_sep, const char* sep) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    out += (i ? sep : first_sep) + names[i];
    if (i < offsets.size() && offsets.size() == names.size()) {
      note(names[i], offsets[i]);
    } else if (noted) {
      noted->push_back(names[i] + "@?");
    }
  }
  return out;
}

template <class T, class F>
std::string join(const TreeList<T>& items, const char* sep, F&& each) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += sep;
    out += each(items[i]);
  }
  return out;
}

std::string opt(const MaybeBox<Expr>& e) { return e ? print(*e) : "_"; }

std::string map_text(const TreeList<MapEntry>& entries) {
  return "{" +
         join(entries, ", ",
              [](const MapEntry& e) {
                for (std::size_t i = 0; i < e.key_offsets.size(); ++i)
                  note(e.key, e.key_offsets[i]);
                return e.key + ": " + print(e.value);
              }) +
         "}";
}

std::string float_text(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

// The variant names, by which operators and quantifiers are printed.
constexpr const char* kExprNames[] = {
#define TESSARY_EXPR(name, shape) #name,
#include "parser/expr_variants.def"
};

const char* expr_name(ExprKind k) { return kExprNames[static_cast<std::size_t>(k)]; }

std::string properties_text(const MaybeBox<MapOrParam>& props) {
  if (!props) return "";
  return std::visit(Overload{[](const MapOrParam::Map& m) { return " " + map_text(m.entries); },
                             [](const MapOrParam::Param& p) { return " $" + p.name; }},
                    props->node);
}

std::string node_text(const NodePattern& n) {
  std::string out = "(" + (n.variable ? n.variable->str() : "");
  out += names_text(n.labels, n.label_offsets, ":", ":");
  return out + properties_text(n.properties) + ")";
}

std::string bound_text(const std::optional<std::int64_t>& b) {
  return b ? std::to_string(*b) : "_";
}

std::string rel_text(const RelationshipPattern& r) {
  std::string detail = r.variable ? r.variable->str() : "";
  detail += names_text(r.rel_types, r.rel_type_offsets, ":", "|");
  if (r.range) detail += " *" + bound_text(r.range->min) + ".." + bound_text(r.range->max);
  detail += properties_text(r.properties);
  std::string body = "[" + detail + "]";
  switch (r.direction) {
    case RelationshipDirection::Right:
      return "-" + body + "->";
    case RelationshipDirection::Left:
      return "<-" + body + "-";
    case RelationshipDirection::Both:
      return "-" + body + "-";
  }
  return "?";
}

std::string sort_text(const TreeList<SortItem>* order) {
  if (!order) return "";
  return " ORDER BY " + join(*order, ", ", [](const SortItem& s) {
           return print(s.expr) + (s.descending ? " DESC" : " ASC");
         });
}

std::string items_text(const TreeList<ReturnItem>& items) {
  if (items.empty()) return "(none)";
  return join(items, ", ", [](const ReturnItem& i) {
    return print(i.expr) + (i.alias ? " AS " + *i.alias : "");
  });
}

std::string projection_tail(const Projection& p) {
  std::string out = sort_text(p.order_by());
  if (const Expr* skip = p.skip()) out += " SKIP " + print(*skip);
  if (const Expr* limit = p.limit()) out += " LIMIT " + print(*limit);
  return out;
}

std::string set_items(const TreeList<SetItem>& items) {
  return join(items, ", ", [](const SetItem& i) { return print(i); });
}

std::string clause_list(const TreeList<ReadingClause>& reading,
                        const TreeList<UpdatingClause>& updating) {
  std::string out;
  for (const auto& c : reading) out += (out.empty() ? "" : " ") + print(c);
  for (const auto& c : updating) out += (out.empty() ? "" : " ") + print(c);
  return out;
}

std::string with_sep(std::string a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + " " + b;
}

}  // namespace

std::string print(const Expr& expr) {
  return expr.visit(Overload{
      [](const Expr::Integer& v) { return "Int(" + std::to_string(v.value) + ")"; },
      [](const Expr::Float& v) { return "Float(" + float_text(v.value) + ")"; },
      [](const Expr::String& v) { return "Str(" + v.value + ")"; },
      [](const Expr::Bool& v) { return std::string(v.value ? "true" : "false"); },
      [](const Expr::Null&) { return std::string("null"); },
      [](const Expr::List& v) {
        return "[" + join(v.items, ", ", [](const Expr& e) { return print(e); }) + "]";
      },
      [](const Expr::Map& v) { return map_text(v.entries); },
      [](const Expr::Variable& v) { return v.name.str(); },
      [](const Expr::Property& v) {
        std::string inner = print(*v.expr);
        note(v.key, v.key_offset);
        return "Prop(" + inner + ", " + v.key + ")";
      },
      [](const Expr::Index& v) { return "Index(" + print(*v.expr) + ", " + print(*v.index) + ")"; },
      [](const Expr::Slice& v) {
        return "Slice(" + print(*v.expr) + ", " + opt(v.from) + ", " + opt(v.to) + ")";
      },
      [](const Expr::Parameter& v) { return "$" + v.name; },
      [&](const Expr::FunctionCall& v) {
        return "Fn(" + v.name + (v.distinct ? ", DISTINCT" : "") + "; " +
               join(v.args, ", ", [](const Expr& e) { return print(e); }) + ")";
      },
      [](const Expr::CountStar&) { return std::string("CountStar"); },
      [](const Expr::Case& v) {
        std::string out = "Case(" + (v.subject ? print(*v.subject) : std::string()) + "; ";
        out += join(v.alternatives, ", ", [](const CaseAlternative& a) {
          return print(a.when) + " -> " + print(a.then);
        });
        if (v.else_expr) out += "; ELSE " + print(*v.else_expr);
        return out + ")";
      },
      [](const Expr::ListComprehension& v) {
        std::string out = "ListComp(" + v.variable + " IN " + print(*v.list);
        if (v.filter) out += " WHERE " + print(*v.filter);
        if (v.projection) out += " | " + print(*v.projection);
        return out + ")";
      },
      [](const Expr::Reduce& v) {
        return "Reduce(" + v.accumulator + " = " + print(*v.init) + ", " + v.variable + " IN " +
               print(*v.list) + " | " + print(*v.projection) + ")";
      },
      [](const Expr::ShortestPath& v) {
        return std::string(v.all ? "AllShortestPaths(" : "ShortestPath(") + print(*v.element) + ")";
      },
      [](const Expr::PatternComprehension& v) {
        std::string out = "PatternComp(" + print(*v.element);
        if (v.filter) out += " WHERE " + print(*v.filter);
        return out + " | " + print(*v.projection) + ")";
      },
      [](const Expr::Exists& v) { return "Exists(" + print(*v.pattern) + ")"; },
      [](const Expr::CountSubquery& v) { return "CountSub{" + print(*v.query) + "}"; },
      [](const Expr::CollectSubquery& v) { return "CollectSub{" + print(*v.query) + "}"; },
      []<ExprKind K>(const BinaryExpr<K>& v) {
        return std::string(expr_name(K)) + "(" + print(v.left()) + ", " + print(v.right()) + ")";
      },
      []<ExprKind K>(const UnaryExpr<K>& v) {
        return std::string(expr_name(K)) + "(" + print(*v.operand) + ")";
      },
      []<ExprKind K>(const QuantifierExpr<K>& v) {
        std::string out = std::string(expr_name(K)) + "(" + v.variable + " IN " + print(*v.list);
        if (v.predicate) out += " WHERE " + print(*v.predicate);
        return out + ")";
      },
  });
}

std::string print(const PatternElement& element) {
  std::string out = node_text(element.start);
  for (const auto& step : element.chain) out += rel_text(step.relationship) + node_text(step.node);
  return out;
}

std::string print(const PatternPart& part) {
  return (part.variable ? *part.variable + " = " : "") + print(part.element);
}

std::string print(const Pattern& pattern) {
  return join(pattern.parts, ", ", [](const PatternPart& p) { return print(p); });
}

std::string print(const ReadingClause& clause) {
  return std::visit(
      Overload{
          [](const ReadingClause::Match& m) {
            std::string out =
                std::string(m.optional ? "OPTIONAL MATCH " : "MATCH ") + print(m.pattern);
            if (m.where_clause) out += " WHERE " + print(*m.where_clause);
            return out;
          },
          [](const ReadingClause::Unwind& u) {
            return "UNWIND " + print(u.expr) + " AS " + u.variable;
          },
          [](const ReadingClause::Call& c) {
            std::string out = "CALL " + c.procedure + "(" +
                              join(c.args, ", ", [](const Expr& e) { return print(e); }) + ")";
            if (!c.yield_items.empty()) {
              out += " YIELD " + join(c.yield_items, ", ", [](const YieldItem& y) {
                       return y.result_field ? *y.result_field + " AS " + y.variable
                                             : y.variable.str();
                     });
            }
            return out;
          },
          [](const ReadingClause::CallSubquery& c) { return "CALL {" + print(*c.query) + "}"; },
      },
      clause.node);
}

std::string print(const SetItem& item) {
  auto path = [](const PropertyExpr& p) {
    std::string out = p.variable.str();
    return out + names_text(p.keys, p.key_offsets, ".", ".");
  };
  return std::visit(Overload{
                        [&](const SetItem::Property& p) {
                          std::string target = path(p.target);
                          return "Property(" + target + " = " + print(p.value) + ")";
                        },
                        [](const SetItem::Assign& a) {
                          return "Assign(" + a.variable + " = " + print(a.value) + ")";
                        },
                        [](const SetItem::Append& a) {
                          return "Append(" + a.variable + " += " + print(a.value) + ")";
                        },
                        [](const SetItem::Labels& l) {
                          return "Labels(" + l.variable +
                                 names_text(l.labels, l.label_offsets, ":", ":") + ")";
                        },
                    },
                    item.node);
}

std::string print(const UpdatingClause& clause) {
  return std::visit(
      Overload{
          [](const UpdatingClause::Create& c) { return "CREATE " + print(c.pattern); },
          [](const UpdatingClause::Merge& m) {
            std::string out = "MERGE " + print(*m.part);
            for (const auto& a : m.on_match) out += " ON MATCH [" + set_items(a) + "]";
            for (const auto& a : m.on_create) out += " ON CREATE [" + set_items(a) + "]";
            return out;
          },
          [](const UpdatingClause::Set& s) { return "SET " + set_items(s.items); },
          [](const UpdatingClause::Remove& r) {
            return "REMOVE " + join(r.items, ", ", [](const RemoveItem& i) {
                     return std::visit(
                         Overload{[](const RemoveItem::Labels& l) {
                                    return "Labels(" + l.variable +
                                           names_text(l.labels, l.label_offsets, ":", ":") + ")";
                                  },
                                  [](const RemoveItem::Property& p) {
                                    return "Property(" + p.target.variable +
                                           names_text(p.target.keys, p.target.key_offsets, ".",
                                                      ".") +
                                           ")";
                                  }},
                         i.node);
                   });
          },
          [](const UpdatingClause::Delete& d) {
            return std::string(d.detach ? "DETACH DELETE " : "DELETE ") +
                   join(d.exprs, ", ", [](const Expr& e) { return print(e); });
          },
          [](const UpdatingClause::Foreach& f) {
            return "FOREACH (" + f.variable + " IN " + print(f.list) + " | " +
                   join(f.body, " ", [](const UpdatingClause& c) { return print(c); }) + ")";
          },
      },
      clause.node);
}

std::string print(const ReturnClause& r) {
  return std::string("RETURN ") + (r.distinct ? "DISTINCT " : "") + items_text(r.items) +
         projection_tail(r);
}

std::string print(const WithClause& w) {
  std::string out = std::string("WITH ") + (w.distinct ? "DISTINCT " : "") + items_text(w.items) +
                    projection_tail(w);
  if (const Expr* where = w.where_clause()) out += " WHERE " + print(*where);
  return out;
}

std::string print(const SingleQuery& query) {
  return std::visit(Overload{
                        [](const SinglePartQuery& q) {
                          return "Single{" +
                                 with_sep(clause_list(q.reading_clauses, q.updating_clauses),
                                          q.return_clause ? print(*q.return_clause) : "") +
                                 "}";
                        },
                        [](const MultiPartQuery& q) {
                          std::string out = "Multi{";
                          for (const auto& part : q.parts) {
                            out +=
                                with_sep(clause_list(part.reading_clauses, part.updating_clauses),
                                         print(part.with_clause)) +
                                "; ";
                          }
                          return out +
                                 with_sep(clause_list(q.reading_clauses, q.updating_clauses),
                                          q.return_clause ? print(*q.return_clause) : "") +
                                 "}";
                        },
                    },
                    query.node);
}

std::string print(const RegularQuery& query) {
  std::string out = print(query.first);
  for (const auto& u : query.unions) out += (u.all ? " UNION ALL " : " UNION ") + print(u.query);
  return out;
}

std::string print(const CypherQuery& query) { return print(query.query); }

std::vector<std::string> name_offsets(const CypherQuery& query) {
  std::vector<std::string> names;
  noted = &names;
  print(query);
  noted = nullptr;
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace tessary::testing
